#include "editor/prose/readingpresenter.h"

#include "capturedlog.h"
#include "testutil.h"

#include <QCoreApplication>
#include <QCoro/QCoroTask>
#include <QDir>
#include <QFile>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <ostream>

namespace editor::ReadingPresenter {
void PrintTo(const Block &block, std::ostream *os)
{
    *os << "(line " << block.sourceLine << ", " << block.sourceRange.start << "+" << block.sourceRange.length << ")";
}
} // namespace editor::ReadingPresenter

namespace {

namespace R = editor::ReadingPresenter;
using namespace std::chrono_literals;
using namespace Qt::Literals::StringLiterals;

// ---- annotate ---------------------------------------------------------------

struct AnnotateCase {
    const char *name;
    QString text;
    QString annotated;
};

TEST(ReadingAnnotate, MarkersGoBeforeRunsWhereTheRendererReadsTheTextAsBefore)
{
    const AnnotateCase cases[] = {
        {"one line", u"Title"_s, u"<!--S:1-->\nTitle"_s},
        {"blank lines collapse", u"A\n\n\nB"_s, u"<!--S:1-->\nA\n\n<!--S:4-->\nB"_s},
        {"a line of spaces separates runs", u"A\n  \nB"_s, u"<!--S:1-->\nA\n\n<!--S:3-->\nB"_s},
        {"leading blank lines", u"\n\nA"_s, u"<!--S:3-->\nA"_s},
        {"only line feeds", u"\n\n\n"_s, QString()},
        {"empty", QString(), QString()},
        {"one line feed", u"\n"_s, QString()},
        {"trailing spaces and CR kept", u"A  \r\nB\r\n\r\nC"_s, u"<!--S:1-->\nA  \r\nB\r\n\n<!--S:4-->\nC"_s},
        {"fence keeps its blank lines", u"Intro\n\n```\ncode\n\n\nmore\n```\n\nAfter"_s,
         u"<!--S:1-->\nIntro\n\n<!--S:3-->\n```\ncode\n\n\nmore\n```\n\n<!--S:10-->\nAfter"_s},
        {"tilde fence, closing fence after a blank line", u"~~~\na\n\n~~~\nB"_s, u"<!--S:1-->\n~~~\na\n\n~~~\nB"_s},
        {"unclosed fence runs to the end", u"```\na\n\nb\n"_s, u"<!--S:1-->\n```\na\n\nb\n"_s},
        // Only a run of the opening character, at least as long, with
        // nothing after it, closes a fence.
        {"tildes inside a backtick fence", u"```\n~~~\n\nstill code\n```\n\nAfter"_s,
         u"<!--S:1-->\n```\n~~~\n\nstill code\n```\n\n<!--S:7-->\nAfter"_s},
        {"shorter fence inside a longer one", u"````\n```\n\nstill code\n```\n````\n\nAfter"_s,
         u"<!--S:1-->\n````\n```\n\nstill code\n```\n````\n\n<!--S:8-->\nAfter"_s},
        {"backticks followed by text close nothing", u"```\ncode\n``` more\n\nstill\n```\n\nAfter"_s,
         u"<!--S:1-->\n```\ncode\n``` more\n\nstill\n```\n\n<!--S:8-->\nAfter"_s},
        {"a fence line indented into the code", u"```\n    ```\n\nstill code\n```\n\nAfter"_s,
         u"<!--S:1-->\n```\n    ```\n\nstill code\n```\n\n<!--S:7-->\nAfter"_s},
        {"inline code at the start of a line opens no fence", u"```js``` inline\n\n```\na\n\nb\n```"_s,
         u"<!--S:1-->\n```js``` inline\n\n<!--S:3-->\n```\na\n\nb\n```"_s},
        // A comment hides everything up to its "-->", blank lines included.
        {"a comment over blank lines stays whole", u"<!-- note\n\nsecret -->\n\nText"_s,
         u"<!--S:1-->\n<!-- note\n\nsecret -->\n\n<!--S:5-->\nText"_s},
        {"a comment opened inside a run", u"Para\n<!-- a\n\nb -->"_s, u"<!--S:1-->\nPara\n<!-- a\n\nb -->"_s},
        {"a comment closed on its line", u"<!-- a -->\n\nB\n\n<!-->\n\nC"_s,
         u"<!--S:1-->\n<!-- a -->\n\n<!--S:3-->\nB\n\n<!--S:5-->\n<!-->\n\n<!--S:7-->\nC"_s},
        {"list continuation and nesting", u"- a\n\n  more\n\n    - nested\n- b\n\nPara\n\n  indented"_s,
         u"<!--S:1-->\n- a\n\n  more\n\n    - nested\n- b\n\n<!--S:8-->\nPara\n\n<!--S:10-->\n  indented"_s},
        // A marker there would end the list and start another.
        {"a new item of the same list gets no marker", u"1. a\n\n2. b\n\n* c"_s,
         u"<!--S:1-->\n1. a\n\n2. b\n\n<!--S:5-->\n* c"_s},
        {"fence inside a list item", u"- a\n\n  ```\n  x\n\n  y\n  ```\n\nEnd"_s,
         u"<!--S:1-->\n- a\n\n  ```\n  x\n\n  y\n  ```\n\n<!--S:9-->\nEnd"_s},
        {"a list opened inside a run", u"Intro\n- a\n\n  more"_s, u"<!--S:1-->\nIntro\n- a\n\n  more"_s},
        // After a raw HTML line md4c reads an indented line as text: an empty
        // line keeps the code a code block.
        {"indented code after a marker", u"para\n\n    code\n\n\n    more\n\nEnd"_s,
         u"<!--S:1-->\npara\n\n<!--S:3-->\n\n    code\n\n\n    more\n\n<!--S:8-->\nEnd"_s},
        {"a fence closer indented four columns closes nothing", u"```\na\n\n    ```\n\nb\n```\n\nc"_s,
         u"<!--S:1-->\n```\na\n\n    ```\n\nb\n```\n\n<!--S:9-->\nc"_s},
        {"a fence indented four columns is code", u"    ```\n\nText"_s, u"<!--S:1-->\n\n    ```\n\n<!--S:3-->\nText"_s},
        {"a fence in a list item ends with the item", u"- ```\n  x\n\nAfter\n\nMore"_s,
         u"<!--S:1-->\n- ```\n  x\n\n<!--S:4-->\nAfter\n\n<!--S:6-->\nMore"_s},
        {"raw HTML running past blank lines", u"<pre>\na\n\n\nb\n</pre>\n\n<?x\n\n?>\n\nC"_s,
         u"<!--S:1-->\n<pre>\na\n\n\nb\n</pre>\n\n<!--S:8-->\n<?x\n\n?>\n\n<!--S:12-->\nC"_s},
        {"an HTML comment spanning two blank-separated runs", u"Intro\n\n<!-- one\n\ntwo\n\nthree -->\n\nAfter"_s,
         u"<!--S:1-->\nIntro\n\n<!--S:3-->\n<!-- one\n\ntwo\n\nthree -->\n\n<!--S:9-->\nAfter"_s},
        // At the text's end "<!--" opens a comment only with its line break.
        {"a last line that needs its line break", u"Text\n\n<!--\n"_s, u"<!--S:1-->\nText\n\n<!--S:3-->\n<!--\n"_s},
    };
    for (const AnnotateCase &c : cases)
        EXPECT_EQ(R::annotate(c.text), c.annotated) << c.name;
}

// ---- blocks -----------------------------------------------------------------

struct BlocksCase {
    const char *name;
    QString text;
    QList<R::Block> blocks;
};

TEST(ReadingBlocks, SplitAtEmptyLinesWithLinesAndUtf16Ranges)
{
    const BlocksCase cases[] = {
        {"blank lines between", u"A\n\n\nB"_s, {{1, {0, 1}}, {4, {4, 1}}}},
        {"a line of spaces does not split", u"A\n  \nB"_s, {{1, {0, 6}}}},
        {"leading line feeds", u"\n\nA"_s, {{3, {2, 1}}}},
        {"only line feeds", u"\n\n\n"_s, {}},
        {"empty", QString(), {}},
        {"one line feed", u"\n"_s, {{1, {0, 1}}}},
        {"lines inside a block count", u"A\nB\n\nC"_s, {{1, {0, 3}}, {4, {5, 1}}}},
        {"CR LF separators", u"A\r\nB\r\n\r\nC"_s, {{1, {0, 4}}, {4, {8, 1}}}},
        {"UTF-16 units", u"é😀\n\nx"_s, {{1, {0, 3}}, {3, {5, 1}}}},
    };
    for (const BlocksCase &c : cases)
        EXPECT_EQ(R::blocks(c.text), c.blocks) << c.name;
}

// ---- stamping, fallback, page -----------------------------------------------

TEST(ReadingStamp, MarkersBeforeAnElementBecomeItsAttribute)
{
    const std::pair<QString, QString> cases[] = {
        {u"<!--S:7-->\n<p>Text"_s, u"<p data-source-line=\"7\">Text"_s},
        {u"<!--S:2-->  \n\n<h1 id=\"x\">T</h1>"_s, u"<h1 data-source-line=\"2\" id=\"x\">T</h1>"_s},
        {u"<!--S:1-->\n<ul>\n<li>a</li>\n</ul>\n<!--S:4-->\n<pre><code>"_s,
         u"<ul data-source-line=\"1\">\n<li>a</li>\n</ul>\n<pre data-source-line=\"4\"><code>"_s},
        // Not followed by a line break and a tag: left as an invisible comment.
        {u"<!--S:3-->\ntext"_s, u"<!--S:3-->\ntext"_s},
        {u"<!--S:4--><p>x"_s, u"<!--S:4--><p>x"_s},
        {u"<!--S:x-->\n<p>"_s, u"<!--S:x-->\n<p>"_s},
    };
    for (const auto &[html, stamped] : cases)
        EXPECT_EQ(R::stampSourceLines(html), stamped) << html.toStdString();
}

TEST(ReadingPages, FallbackEscapesAmpersandFirstAndPagesCarryTheStylesheet)
{
    const QString css = R::stylesheet();
    EXPECT_TRUE(css.contains(u"Charis SIL"_s)) << "the stylesheet resource is compiled in";
    EXPECT_TRUE(css.contains(u"max-width: 100%"_s)) << "images are scaled to the column";
    const QString head = u"<!DOCTYPE html><html><head><meta http-equiv=\"Content-Security-Policy\" "
                         "content=\"default-src 'none'; style-src 'unsafe-inline'; img-src data:\">"
                         "<meta charset=\"utf-8\"><style>"_s
                         + css;
    EXPECT_EQ(R::fallbackPage(u"a < b && c > d \"q\" 'a' &lt;"_s),
              head
                  + u"</style></head><body><pre data-source-line=\"1\">a &lt; b &amp;&amp; c &gt; d \"q\" 'a' "
                    "&amp;lt;</pre></body></html>"_s);
    EXPECT_EQ(R::page(u"<!--S:1-->\n<p>x</p>\n"_s),
              head + u"</style></head><body><p data-source-line=\"1\">x</p>\n</body></html>"_s);
}

// ---- render with an injected runner -----------------------------------------

TEST(ReadingRender, RunsTheAnnotatedTextAndFallsBackWithANoticeWhenNothingComes)
{
    QString seenText;
    std::optional<QString> seenFolder;
    R::RunResult answer{u"<!--S:1-->\n<h1>T</h1>\n"_s, QString(), QString()};
    const R::Runner runner = [&](QString annotated, std::optional<QString> folder) -> QCoro::Task<R::RunResult> {
        seenText = annotated;
        seenFolder = folder;
        const R::RunResult copy = answer;
        co_return copy;
    };

    const R::Rendered ok = QCoro::waitFor(R::render(u"# T\n\n"_s, u"/home/p/piece"_s, runner));
    EXPECT_EQ(seenText, u"<!--S:1-->\n# T"_s);
    EXPECT_EQ(seenFolder, u"/home/p/piece"_s);
    EXPECT_EQ(ok.page, R::page(answer.html));
    EXPECT_FALSE(ok.rendererFailed);

    answer = R::RunResult{QString(), u"renderer gave no output (exit status 3)"_s, u"bad flag\nat line 2\n"_s};
    testsupport::CapturedLog log;
    const R::Rendered fallback = QCoro::waitFor(R::render(u"a < b"_s, std::nullopt, runner));
    EXPECT_EQ(seenFolder, std::nullopt);
    EXPECT_EQ(fallback.page, R::fallbackPage(u"a < b"_s));
    EXPECT_TRUE(fallback.rendererFailed);
    const auto lines = log.linesOf(u"com.quendalstudio.Pennora.reading"_s);
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_TRUE(lines[0].text.contains(u"exit status 3"_s)) << lines[0].text.toStdString();
    EXPECT_TRUE(lines[0].text.contains(u"bad flag"_s)) << lines[0].text.toStdString();
    EXPECT_TRUE(lines[0].text.contains(u"at line 2"_s)) << lines[0].text.toStdString();
    EXPECT_FALSE(lines[0].text.contains(u'\n')) << "one line in the log";
}

// ---- lookup -----------------------------------------------------------------

TEST(ReadingLookup, BundledFirstThenTheEnvironmentAsGivenThenExecutableFixedPaths)
{
    QTemporaryDir dir;
    const QString bundled = testsupport::writeFile(dir.filePath(u"bin/pennora-render"_s), "#!/bin/sh\n");
    const QString plain = testsupport::writeFile(dir.filePath(u"plain/apex"_s), "not executable");
    const QString fixed = testsupport::writeFile(dir.filePath(u"fixed/apex"_s), "#!/bin/sh\n");
    QFile::setPermissions(fixed, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    const QString missing = dir.filePath(u"missing/apex"_s);

    EXPECT_EQ(R::apexPath({bundled, missing, {fixed}}), bundled);
    // Taken as given, even when nothing is there; the fixed paths are not tried.
    EXPECT_EQ(R::apexPath({dir.filePath(u"bin/none"_s), missing, {fixed}}), missing);
    EXPECT_EQ(R::apexPath({QString(), std::nullopt, {missing, plain, fixed}}), fixed);
    EXPECT_EQ(R::apexPath({QString(), std::nullopt, {missing, plain}}), std::nullopt);

    // This process: the renderer beside its executable, then APEX_PATH.
    qputenv("APEX_PATH", "/opt/apex");
    const R::RendererLookup own = R::systemLookup();
    qunsetenv("APEX_PATH");
    EXPECT_EQ(own.bundledRenderer, QCoreApplication::applicationDirPath() + u"/pennora-render"_s);
    EXPECT_EQ(own.environmentPath, u"/opt/apex"_s);
    EXPECT_EQ(own.fixedPaths, (QStringList{u"/usr/local/bin/apex"_s, u"/usr/bin/apex"_s}));
    EXPECT_EQ(R::systemLookup().environmentPath, std::nullopt);

    EXPECT_EQ(R::rendererArguments(std::nullopt),
              (QStringList{u"-t"_s, u"html"_s, u"--no-mixed-lists"_s, u"--embed-images"_s}));
}

// ---- runs of stand-in renderers ---------------------------------------------

class ReadingRun : public ::testing::Test {
protected:
    QString script(const QString &name, const QByteArray &body)
    {
        const QString path = testsupport::writeFile(m_dir.filePath(name), "#!/bin/sh\n" + body);
        QFile::setPermissions(path, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        return path;
    }
    R::RunResult run(const QString &program, const QString &input, std::chrono::milliseconds timeout = 10s,
                     std::optional<QString> folder = std::nullopt)
    {
        return QCoro::waitFor(R::runRenderer(program, input, folder, timeout));
    }
    QTemporaryDir m_dir;
};

TEST_F(ReadingRun, PassesTheArgumentsAndTheTextAndTakesOutputWhateverTheExitStatus)
{
    const QString args = m_dir.filePath(u"args"_s);
    const QString echo =
        script(u"echo"_s, "for a in \"$@\"; do printf '%s\\n' \"$a\"; done > '" + args.toUtf8() + "'\ncat\nexit 1\n");
    const QString folder = m_dir.filePath(u"my piece"_s);
    const R::RunResult result = run(echo, u"<!--S:1-->\nGrüße"_s, 10s, folder);
    EXPECT_EQ(result.html, u"<!--S:1-->\nGrüße"_s);
    EXPECT_TRUE(result.failure.isEmpty());
    EXPECT_EQ(testsupport::readText(args),
              u"-t\nhtml\n--no-mixed-lists\n--embed-images\n--base-dir\n"_s + folder + u'\n');

    // Invalid bytes in the output are replaced, not refused.
    const QString bytes = script(u"bytes"_s, "cat >/dev/null\nprintf '\\377ok'\n");
    EXPECT_EQ(run(bytes, u"x"_s).html, u"\uFFFDok"_s);
}

TEST_F(ReadingRun, EmptyOutputAMissingProgramAndATimeOutFail)
{
    const QString silent = script(u"silent"_s, "cat >/dev/null\necho 'no such flag' >&2\nexit 3\n");
    const R::RunResult empty = run(silent, u"x"_s);
    EXPECT_TRUE(empty.html.isEmpty());
    EXPECT_EQ(empty.failure, u"renderer gave no output (exit status 3)"_s);
    EXPECT_EQ(empty.standardError, u"no such flag\n"_s);

    const R::RunResult missing = run(m_dir.filePath(u"none"_s), u"x"_s);
    EXPECT_TRUE(missing.html.isEmpty());
    EXPECT_TRUE(missing.failure.startsWith(u"renderer failed to start"_s)) << missing.failure.toStdString();

    // The hung renderer and what it started are stopped at the time-out.
    const QString pidFile = m_dir.filePath(u"child"_s);
    const QString hang = script(u"hang"_s, "sleep 60 &\necho $! > '" + pidFile.toUtf8() + "'\nwait\n");
    QElapsedTimer clock;
    clock.start();
    const R::RunResult hung = run(hang, u"x"_s, 300ms);
    EXPECT_LT(clock.elapsed(), 5000);
    EXPECT_TRUE(hung.html.isEmpty());
    EXPECT_EQ(hung.failure, u"renderer timed out after 300 ms"_s);
    const qint64 child = testsupport::readText(pidFile).trimmed().toLongLong();
    ASSERT_GT(child, 0);
    EXPECT_TRUE(testsupport::spinUntil([&] { return testsupport::processGone(child); }, 5000));
}

TEST_F(ReadingRun, LargeInputAndChattyRenderersNeverDeadlock)
{
    QString big;
    big.reserve(5 * 1024 * 1024);
    while (big.size() < 5 * 1024 * 1024)
        big += u"A line of prose that goes on for a while, over and over.\n"_s;

    const QString cat = script(u"cat"_s, "exec cat\n");
    EXPECT_EQ(run(cat, big).html, big);

    // A megabyte on standard error before any output.
    const QString chatty = script(u"chatty"_s, "head -c 1048576 /dev/zero | tr '\\0' e >&2\nexec cat\n");
    const R::RunResult noisy = run(chatty, big);
    EXPECT_EQ(noisy.html, big);
    EXPECT_EQ(noisy.standardError.size(), R::kStandardErrorExcerpt);

    // Answers without reading its input: the rest of the input is dropped.
    const QString early = script(u"early"_s, "printf '<p>early</p>'\n");
    EXPECT_EQ(run(early, big).html, u"<p>early</p>"_s);

    // Two megabytes of output before it reads anything.
    const QString eager = script(u"eager"_s, "head -c 2097152 /dev/zero | tr '\\0' x\ncat >/dev/null\n");
    EXPECT_EQ(run(eager, big).html.size(), 2097152);
}

TEST_F(ReadingRun, ANewerRequestWinsOverAnOlderOneStillRunning)
{
    // Sleeps when the text says "slow", so the first request ends last.
    const QString renderer = script(u"slowfast"_s, "input=$(cat)\ncase \"$input\" in *slow*) sleep 1 ;; esac\n"
                                                   "printf '<p>%s</p>\\n' \"$input\"\n");
    editor::ReadingRenderer reading;
    reading.setRunner([renderer](QString annotated, std::optional<QString> folder) {
        return R::runRenderer(renderer, annotated, folder, 10s);
    });
    QSignalSpy spy(&reading, &editor::ReadingRenderer::rendered);
    reading.request(u"0:slow"_s, u"slow"_s, std::nullopt);
    reading.request(u"0:fast"_s, u"fast"_s, std::nullopt);
    EXPECT_EQ(reading.latestKey(), u"0:fast"_s);
    ASSERT_TRUE(spy.wait(5000));
    EXPECT_EQ(spy.at(0).at(0).toString(), u"0:fast"_s);
    // The slow one ends later and is dropped.
    EXPECT_FALSE(spy.wait(1500));
    EXPECT_EQ(spy.size(), 1);
}

} // namespace
