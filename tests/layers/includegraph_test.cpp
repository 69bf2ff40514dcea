// Every #include "…" under src/ must follow src/layers.txt: a folder includes
// its own headers and those of the folders the table lets it reach, nothing
// else. A wrong include fails here with the file and the include named.

#include "testenv.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QHash>
#include <QLibraryInfo>
#include <QRegularExpression>
#include <QSet>
#include <QStringList>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {

struct Graph {
    QHash<QString, QStringList> direct; // folder -> folders it names
    QSet<QString> widgets;              // folders that may include Widgets and WebEngine
    QStringList problems;               // unreadable lines, unknown names, cycles
};

Graph readGraph(const QString &path)
{
    Graph graph;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        graph.problems << QStringLiteral("cannot read %1").arg(path);
        return graph;
    }
    static const QRegularExpression entry(
        QStringLiteral("^([a-z]+(?:/[a-z]+)*)( \\[widgets\\])?:((?: +[a-z]+(?:/[a-z]+)*)*) *$"));
    int number = 0;
    for (const QByteArray &raw : file.readAll().split('\n')) {
        ++number;
        const QString line = QString::fromUtf8(raw).trimmed();
        if (line.isEmpty() || line.startsWith(u'#'))
            continue;
        const auto m = entry.match(line);
        if (!m.hasMatch()) {
            graph.problems << QStringLiteral("layers.txt:%1: cannot read \"%2\"").arg(number).arg(line);
            continue;
        }
        graph.direct.insert(m.captured(1), m.captured(3).split(u' ', Qt::SkipEmptyParts));
        if (m.hasCaptured(2))
            graph.widgets.insert(m.captured(1));
    }
    for (auto it = graph.direct.cbegin(); it != graph.direct.cend(); ++it) {
        for (const QString &dep : it.value()) {
            if (!graph.direct.contains(dep))
                graph.problems << QStringLiteral("%1 names unknown folder %2").arg(it.key(), dep);
        }
    }
    return graph;
}

// The folders a folder may include, itself excluded; a cycle is a problem.
QSet<QString> reach(const Graph &graph, const QString &folder, QStringList *problems)
{
    QSet<QString> seen;
    QStringList stack = graph.direct.value(folder);
    while (!stack.isEmpty()) {
        const QString next = stack.takeLast();
        if (next == folder) {
            problems->append(QStringLiteral("%1 depends on itself").arg(folder));
            continue;
        }
        if (seen.contains(next))
            continue;
        seen.insert(next);
        stack << graph.direct.value(next);
    }
    return seen;
}

// The graph's folder that holds a path relative to src/: the longest folder
// name that is a prefix of it; files at the top belong to "main".
QString folderOf(const Graph &graph, const QString &relative)
{
    const qsizetype slash = relative.lastIndexOf(u'/');
    if (slash < 0)
        return QStringLiteral("main");
    QString dir = relative.left(slash);
    for (;;) {
        if (graph.direct.contains(dir))
            return dir;
        const qsizetype up = dir.lastIndexOf(u'/');
        if (up < 0)
            return QString();
        dir.truncate(up);
    }
}

// The names of the Qt headers a folder without [widgets] may not include, as
// "<Name>" and "<Module/Name>".
QSet<QString> widgetHeaders(const QString &qtHeaders)
{
    QSet<QString> names;
    const QStringList modules = QDir(qtHeaders).entryList(
        {QStringLiteral("QtWidgets"), QStringLiteral("QtWebEngine*"), QStringLiteral("QtOpenGLWidgets")}, QDir::Dirs);
    for (const QString &module : modules) {
        names.insert(module);
        for (const QString &header : QDir(qtHeaders + u'/' + module).entryList(QDir::Files)) {
            names.insert(header);
            names.insert(module + u'/' + header);
        }
    }
    return names;
}

// One line per include the graph does not allow: "file: #include \"x\" (reason)".
// qtHeaders is the folder holding Qt's module header folders.
QStringList check(const QString &srcRoot, const QString &qtHeaders)
{
    const QSet<QString> forbiddenQt = widgetHeaders(qtHeaders);
    const Graph graph = readGraph(srcRoot + QStringLiteral("/layers.txt"));
    QStringList problems = graph.problems;
    QHash<QString, QSet<QString>> allowed;
    for (auto it = graph.direct.cbegin(); it != graph.direct.cend(); ++it)
        allowed.insert(it.key(), reach(graph, it.key(), &problems));

    static const QRegularExpression include(QStringLiteral("^\\s*#\\s*include\\s*\"([^\"]+)\""));
    static const QRegularExpression system(QStringLiteral("^\\s*#\\s*include\\s*<([^>]+)>"));
    const QDir root(srcRoot);
    QDirIterator files(srcRoot, {QStringLiteral("*.h"), QStringLiteral("*.cpp")}, QDir::Files,
                       QDirIterator::Subdirectories);
    QStringList paths;
    while (files.hasNext())
        paths << root.relativeFilePath(files.next());
    paths.sort();
    for (const QString &path : paths) {
        const QString folder = folderOf(graph, path);
        if (folder.isEmpty()) {
            problems << QStringLiteral("%1: its folder is not in layers.txt").arg(path);
            continue;
        }
        QFile file(root.filePath(path));
        if (!file.open(QIODevice::ReadOnly)) {
            problems << QStringLiteral("%1: cannot read").arg(path);
            continue;
        }
        const QString here = path.contains(u'/') ? path.left(path.lastIndexOf(u'/') + 1) : QString();
        for (const QByteArray &raw : file.readAll().split('\n')) {
            const QString text = QString::fromUtf8(raw);
            if (const auto qt = system.match(text); qt.hasMatch()) {
                if (!graph.widgets.contains(folder) && forbiddenQt.contains(qt.captured(1)))
                    problems << QStringLiteral("%1: #include <%2> (%3 is not a widgets folder)")
                                    .arg(path, qt.captured(1), folder);
                continue;
            }
            const auto m = include.match(text);
            if (!m.hasMatch())
                continue;
            const QString name = m.captured(1);
            // A bare name is a header beside the file; anything else is rooted at src/.
            const QString target = QDir::cleanPath(name.contains(u'/') ? name : here + name);
            if (target.startsWith(QStringLiteral("../")) || !QFileInfo::exists(root.filePath(target))) {
                problems << QStringLiteral("%1: #include \"%2\" (not a header under src/)").arg(path, name);
                continue;
            }
            const QString to = folderOf(graph, target);
            if (to != folder && !allowed.value(folder).contains(to))
                problems << QStringLiteral("%1: #include \"%2\" (%3 may not include %4)").arg(path, name, folder, to);
        }
    }
    return problems;
}

void write(const QString &path, const QByteArray &text)
{
    QDir().mkpath(QFileInfo(path).path());
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(text);
}

} // namespace

TEST(IncludeGraph, SourceTreeFollowsTheDeclaredLayers)
{
    const QString qtHeaders = QLibraryInfo::path(QLibraryInfo::HeadersPath);
    ASSERT_TRUE(QFileInfo::exists(qtHeaders + QStringLiteral("/QtWidgets/QWidget"))) << qtHeaders.toStdString();
    const QStringList problems = check(testsupport::sourceDir() + QStringLiteral("/src"), qtHeaders);
    EXPECT_TRUE(problems.isEmpty()) << problems.join(u'\n').toStdString();
}

TEST(IncludeGraph, RefusesIncludesAgainstTheGraph)
{
    QTemporaryDir dir;
    const QString src = dir.path() + "/src";
    const QString qt = dir.path() + "/qt";
    write(qt + "/QtWidgets/QWidget", "");
    write(qt + "/QtWebEngineWidgets/QWebEngineView", "");
    write(qt + "/QtCore/QString", "");
    QDir().mkpath(src);
    write(src + "/layers.txt", "# test\nbase:\nmid: base\ntop: mid\ntop/views [widgets]: top\nmain: mid\n");
    write(src + "/base/a.h", "#pragma once\n#include <QString>\n");
    write(src + "/mid/b.h", "#include \"base/a.h\"\n");
    write(src + "/mid/b.cpp", "#include \"b.h\"\n");
    write(src + "/top/c.cpp", "#include \"base/a.h\"\n#include \"mid/b.h\"\n");
    write(
        src + "/top/views/v.cpp",
        "#include \"top/../top/views/v.h\"\n#include \"base/a.h\"\n#include <QWidget>\n#include <QtWebEngineWidgets/QWebEngineView>\n");
    write(src + "/top/views/v.h", "\n");
    write(src + "/main.cpp", "#include \"mid/b.h\"\n");
    EXPECT_EQ(check(src, qt), QStringList());

    // Upward, sideways into views, and a name that is not under src/.
    write(src + "/base/bad.cpp", "  #  include \"mid/b.h\"\n");
    write(src + "/top/d.cpp", "#include \"top/views/v.h\"\n");
    write(src + "/mid/e.cpp", "#include \"../outside.h\"\n#include \"nothere.h\"\n#include <QString>\n");
    write(src + "/top/f.h", "#include <QWidget>\n#include <QtWidgets/QWidget>\n#include <QtCore/QString>\n");
    EXPECT_EQ(check(src, qt), QStringList({
                                  "base/bad.cpp: #include \"mid/b.h\" (base may not include mid)",
                                  "mid/e.cpp: #include \"../outside.h\" (not a header under src/)",
                                  "mid/e.cpp: #include \"nothere.h\" (not a header under src/)",
                                  "top/d.cpp: #include \"top/views/v.h\" (top may not include top/views)",
                                  "top/f.h: #include <QWidget> (top is not a widgets folder)",
                                  "top/f.h: #include <QtWidgets/QWidget> (top is not a widgets folder)",
                              }));
}

TEST(IncludeGraph, RefusesCyclesAndUnknownFolders)
{
    QTemporaryDir dir;
    write(dir.path() + "/layers.txt", "a: b\nb: a\nc: nowhere\n");
    const QStringList problems = check(dir.path(), dir.path());
    EXPECT_TRUE(problems.contains("a depends on itself")) << problems.join(u'\n').toStdString();
    EXPECT_TRUE(problems.contains("b depends on itself"));
    EXPECT_TRUE(problems.contains("c names unknown folder nowhere"));
    write(dir.path() + "/other/x.cpp", "\n");
    EXPECT_TRUE(check(dir.path(), dir.path()).contains("other/x.cpp: its folder is not in layers.txt"));
}
