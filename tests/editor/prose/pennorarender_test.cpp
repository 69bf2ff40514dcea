// The bundled renderer against the contract the reading view relies on.

#include "editor/prose/readingpresenter.h"
#include "foundation/processrunner.h"

#include "testutil.h"

#include <QCoro/QCoroTask>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace {

namespace R = editor::ReadingPresenter;
using namespace Qt::Literals::StringLiterals;

const QString kRenderer = QStringLiteral(PENNORA_RENDER_BINARY);

foundation::process::RunResult render(const QString &markdown, const QStringList &arguments)
{
    return foundation::process::run(QStringList{kRenderer} + arguments, markdown, std::chrono::seconds(20));
}

QString html(const QString &markdown, const std::optional<QString> &baseDir = std::nullopt)
{
    const foundation::process::RunResult result = render(markdown, R::rendererArguments(baseDir));
    EXPECT_EQ(result.status, 0) << result.standardError.toStdString();
    return result.standardOutput;
}

TEST(PennoraRender, CommentsPassThroughOnTheirOwnLineBeforeTheNextBlock)
{
    EXPECT_EQ(html(u"<!--S:1-->\n# Title\n\n<!--S:3-->\nSome *text*.\n\n<!--S:5-->\n- a\n- b\n\n<!--S:8-->\n> q"_s),
              u"<!--S:1-->\n<h1>Title</h1>\n<!--S:3-->\n<p>Some <em>text</em>.</p>\n<!--S:5-->\n<ul>\n<li>a</li>\n"
              "<li>b</li>\n</ul>\n<!--S:8-->\n<blockquote>\n<p>q</p>\n</blockquote>\n"_s);
}

TEST(PennoraRender, ListsNeverMixAndTextStaysUtf8)
{
    const QString lists = html(u"- a\n* b\n1. c\n"_s);
    EXPECT_EQ(lists.count(u"<ul>"_s), 2) << lists.toStdString();
    EXPECT_EQ(lists.count(u"<ol>"_s), 1) << lists.toStdString();

    EXPECT_EQ(html(u"Grüße — “so” 😀"_s), u"<p>Grüße — “so” 😀</p>\n"_s);
    // Bytes that are not UTF-8 come out as U+FFFD.
    const foundation::process::RunResult raw =
        foundation::process::run({u"/bin/sh"_s, u"-c"_s, u"printf 'caf\\351 ok' | \"$0\" -t html"_s, kRenderer},
                                 std::nullopt, std::chrono::seconds(20));
    EXPECT_EQ(raw.standardOutput, u"<p>caf\uFFFD ok</p>\n"_s);
}

TEST(PennoraRender, RelativeImagesUnderTheBaseFolderBecomeDataUris)
{
    QTemporaryDir dir;
    const QString piece = dir.filePath(u"piece"_s);
    testsupport::writeFile(piece + u"/assets/a.png"_s, "PNG!");
    testsupport::writeFile(piece + u"/assets/my pic.JPG"_s, "JPG!");
    testsupport::writeFile(piece + u"/assets/v.svg"_s, "<svg/>");
    testsupport::writeFile(piece + u"/assets/notes.txt"_s, "text");
    testsupport::writeFile(dir.filePath(u"outside.png"_s), "OUT!");

    const QString markdown = u"![a](assets/a.png) ![b](<assets/my pic.JPG>) ![c](assets/v.svg) "
                             "![d](assets/missing.png) ![e](assets/notes.txt) ![f](../outside.png) "
                             "![g](https://example.com/x.png)"_s;
    const QString out = html(markdown, piece);
    EXPECT_TRUE(out.contains(u"<img src=\"data:image/png;base64,UE5HIQ==\" alt=\"a\">"_s)) << out.toStdString();
    EXPECT_TRUE(out.contains(u"<img src=\"data:image/jpeg;base64,SlBHIQ==\" alt=\"b\">"_s)) << out.toStdString();
    EXPECT_TRUE(out.contains(u"<img src=\"data:image/svg+xml;base64,PHN2Zy8+\" alt=\"c\">"_s)) << out.toStdString();
    // Missing, of no image type, outside the base folder, or not a path:
    // left as they were.
    EXPECT_TRUE(out.contains(u"<img src=\"assets/missing.png\" alt=\"d\">"_s)) << out.toStdString();
    EXPECT_TRUE(out.contains(u"<img src=\"assets/notes.txt\" alt=\"e\">"_s)) << out.toStdString();
    EXPECT_TRUE(out.contains(u"<img src=\"../outside.png\" alt=\"f\">"_s)) << out.toStdString();
    EXPECT_TRUE(out.contains(u"<img src=\"https://example.com/x.png\" alt=\"g\">"_s)) << out.toStdString();

    // Without a base folder nothing is embedded.
    EXPECT_TRUE(html(u"![a](assets/a.png)"_s).contains(u"src=\"assets/a.png\""_s));
}

TEST(PennoraRender, RefusesWhatItCannotDo)
{
    EXPECT_EQ(render(u"x"_s, {}).status, 2);
    EXPECT_EQ(render(u"x"_s, {u"-t"_s, u"latex"_s}).status, 2);
    EXPECT_EQ(render(u"x"_s, {u"-t"_s, u"html"_s, u"--base-dir"_s}).status, 2);
}

TEST(PennoraRender, ThePageKeepsCodeAndListsWholeAndStampsEveryBlock)
{
    const QString text = u"# Title\n\n```\nfirst\n\n\nsecond\n```\n\n- item\n\n  more of it\n\nLast"_s;
    const R::Rendered page =
        QCoro::waitFor(R::render(text, std::nullopt, [](QString annotated, std::optional<QString> folder) {
            return R::runRenderer(kRenderer, annotated, folder);
        }));
    EXPECT_FALSE(page.rendererFailed);
    EXPECT_FALSE(page.page.contains(u"&lt;!--S:"_s)) << page.page.toStdString();
    EXPECT_FALSE(page.page.contains(u"<!--S:"_s)) << page.page.toStdString();
    EXPECT_TRUE(page.page.contains(u"<h1 data-source-line=\"1\">"_s));
    EXPECT_TRUE(page.page.contains(u"<pre data-source-line=\"3\"><code>first\n\n\nsecond\n</code></pre>"_s))
        << page.page.toStdString();
    EXPECT_TRUE(page.page.contains(u"<ul data-source-line=\"10\">\n<li><p>item</p>\n<p>more of it</p>\n</li>"_s))
        << page.page.toStdString();
    EXPECT_TRUE(page.page.contains(u"<p data-source-line=\"14\">Last</p>"_s));
}

} // namespace
