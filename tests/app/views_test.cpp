// The shell's views offscreen: palette and typefaces, the pane chrome, the
// menu commands on the real menu bar, the About window and the screenshots.

#include "app/aboutwindow.h"
#include "app/mainwindow.h"
#include "app/pennoraapp.h"
#include "app/state/appgatestate.h"
#include "app/workspaceview.h"
#include "chrome/elidedlabel.h"
#include "chrome/palette.h"
#include "chrome/workspacechrome.h"
#include "editor/prose/views/posteditorview.h"
#include "editor/prose/views/proselisttextview.h"
#include "editor/prose/views/prosetextview.h"
#include "focus/writinglockappdelegate.h"
#include "focus/writinglockstate.h"
#include "foundation/paths.h"
#include "library/homelocation.h"
#include "model/postsmodel.h"
#include "panes/library/views/postslibrarycolumn.h"
#include "panes/library/views/postspaneview.h"
#include "profiles/views/settingspaneview.h"
#include "review/views/fixcardspalette.h"

#include "screenshot.h"
#include "testutil.h"

#include <QAbstractButton>
#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QDir>
#include <QEnterEvent>
#include <QFile>
#include <QFontDatabase>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QMenuBar>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>
#include <QScopeGuard>
#include <QSettings>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QUrl>
#include <QVBoxLayout>
#include <gtest/gtest.h>

namespace {

using app::Palette;
using app::Typeface;

QString rgb(const QColor &c)
{
    return QString("%1 %2 %3 %4").arg(c.red()).arg(c.green()).arg(c.blue()).arg(c.alpha());
}

TEST(PaletteAndFonts, ColoursByValueAndTheInstalledTypefaces)
{
    const std::pair<QColor, const char *> colours[] = {
        {Palette::canvas(), "250 249 243 255"}, {Palette::page(), "255 254 251 255"},
        {Palette::ink(), "26 25 22 255"},       {Palette::inkMuted(), "107 105 100 255"},
        {Palette::rule(), "232 229 223 255"},   {Palette::accent(), "201 100 66 255"},
        {Palette::success(), "54 102 79 255"},
    };
    for (const auto &[colour, expected] : colours) {
        EXPECT_EQ(rgb(colour), expected);
        // Stored as plain RGB, so no conversion shifts it on screen.
        EXPECT_EQ(colour, colour.toRgb());
        EXPECT_TRUE(colour == colour.convertTo(QColor::Rgb));
    }
    // Every state of every widget on the paper; disabled text muted.
    const QPalette paper = app::PennoraApp::paperPalette();
    for (const QPalette::ColorGroup group : {QPalette::Active, QPalette::Inactive, QPalette::Disabled}) {
        EXPECT_EQ(paper.color(group, QPalette::Window), Palette::canvas()) << group;
        EXPECT_EQ(paper.color(group, QPalette::Base), Palette::page()) << group;
        EXPECT_EQ(paper.color(group, QPalette::Button), Palette::page()) << group;
        const QColor text = group == QPalette::Disabled ? Palette::inkMuted() : Palette::ink();
        EXPECT_EQ(paper.color(group, QPalette::Text), text) << group;
        EXPECT_EQ(paper.color(group, QPalette::ButtonText), text) << group;
    }
    // scripts/deps.sh installs both; without them the generic faces serve.
    const QStringList families = QFontDatabase::families();
    EXPECT_EQ(Typeface::serif(), families.contains("Charis SIL") ? QString("Charis SIL") : Typeface::serif());
    EXPECT_EQ(Typeface::mono(), families.contains("JetBrains Mono") ? QString("JetBrains Mono") : Typeface::mono());
    EXPECT_FALSE(Typeface::serif().isEmpty());
    // Without the bundled faces: the system's serif, never its default sans,
    // and a fixed-pitch face.
    const QString serif = Typeface::resolve("No Such Face", QFont::Serif);
    EXPECT_EQ(serif, QFontInfo(QFont("serif")).family());
    if (QFontInfo(QFont("serif")).family() != QFontInfo(QFont("sans-serif")).family()) {
        EXPECT_NE(serif, QFontInfo(QFont("sans-serif")).family());
    }
    EXPECT_TRUE(QFontInfo(QFont(Typeface::resolve("No Such Face", QFont::Monospace))).fixedPitch());
    EXPECT_TRUE(QFontInfo(Typeface::font(Typeface::mono(), 11)).fixedPitch());
    EXPECT_EQ(Typeface::font(Typeface::serif(), 15).pixelSize(), 15);
}

TEST(PaneChrome, HeaderIsAtLeast52TallWithItsHairlineCappedAndCentred)
{
    struct Case {
        const char *name;
        std::optional<int> maxWidth;
        int trailingHeight; // 0: no trailing view
        QRect hairline;
        int height;
        int inset = 14;
    };
    const std::vector<Case> cases{
        {"no cap", std::nullopt, 0, QRect(0, 52, 300, 1), 53},
        {"cap wider than the header", 720, 20, QRect(0, 52, 300, 1), 53},
        {"cap of 100", 100, 20, QRect(100, 52, 100, 1), 53},
        {"tall trailing view", std::nullopt, 80, QRect(0, 80, 300, 1), 81},
        {"flush", std::nullopt, 20, QRect(0, 52, 300, 1), 53, 0},
    };
    for (const Case &c : cases) {
        QWidget *trailing = nullptr;
        if (c.trailingHeight) {
            trailing = new QWidget;
            trailing->setFixedSize(30, c.trailingHeight);
        }
        app::PaneHeader header("Library", c.inset, c.maxWidth, trailing);
        header.resize(300, header.sizeHint().height());
        header.setAttribute(Qt::WA_DontShowOnScreen);
        header.show();
        QApplication::processEvents();
        EXPECT_EQ(header.height(), c.height) << c.name;
        EXPECT_EQ(header.hairlineRect(), c.hairline) << c.name;
        const QImage image = header.grab().toImage();
        EXPECT_EQ(rgb(image.pixelColor(c.hairline.center())), rgb(Palette::rule())) << c.name;
        EXPECT_EQ(header.titleLabel()->text(), "Library");
        EXPECT_EQ(header.titleLabel()->font().pixelSize(), 15);
        EXPECT_EQ(header.titleLabel()->font().weight(), QFont::DemiBold);
        EXPECT_EQ(header.titleLabel()->font().family(), Typeface::serif());
        // The title keeps its inset from the leading edge.
        EXPECT_EQ(header.titleLabel()->geometry().left(), c.inset) << c.name;
        if (trailing) {
            EXPECT_EQ(trailing->geometry().right(), 300 - c.inset - 1) << c.name;
        }
    }
}

TEST(PaneChrome, TheStripIsAnAccentBarSixInFromBothEnds)
{
    app::SelectedRowStrip strip;
    strip.resize(2, 40);
    const QImage image = strip.grab().toImage();
    EXPECT_EQ(strip.width(), 2);
    EXPECT_EQ(rgb(image.pixelColor(1, 20)), rgb(Palette::accent()));
    EXPECT_NE(rgb(image.pixelColor(1, 2)), rgb(Palette::accent()));
    EXPECT_NE(rgb(image.pixelColor(1, 37)), rgb(Palette::accent()));
}

TEST(PaneChrome, TheSecondaryButtonIsDrawnAtSevenTenthsWhilePressed)
{
    QWidget backdrop;
    backdrop.setAutoFillBackground(true);
    QPalette palette = backdrop.palette();
    palette.setColor(QPalette::Window, QColor(0, 0, 0));
    backdrop.setPalette(palette);
    auto *button = new QPushButton("Archive", &backdrop);
    app::BorderedSecondaryButtonStyle::apply(button, 28);
    EXPECT_EQ(button->height(), 28);
    EXPECT_EQ(button->font().family(), Typeface::mono());
    EXPECT_EQ(button->font().pixelSize(), 11);
    EXPECT_EQ(button->width(), QFontMetrics(button->font()).horizontalAdvance("Archive") + 24);
    backdrop.resize(button->size());

    const auto fill = [&] { return backdrop.grab().toImage().pixelColor(4, button->height() / 2); };
    const QColor released = fill();
    button->setDown(true);
    const QColor pressed = fill();
    button->setDown(false);
    EXPECT_EQ(rgb(released), rgb(Palette::page()));
    // Over black, 0.7 of the page's colour.
    EXPECT_NEAR(pressed.red(), 0.7 * 255, 1.5);
    EXPECT_NEAR(pressed.green(), 0.7 * 254, 1.5);
    EXPECT_NEAR(pressed.blue(), 0.7 * 251, 1.5);
    EXPECT_EQ(rgb(fill()), rgb(released));

    // The border: 1 wide in the rule colour on the inside of the shape, its
    // outer edge the shape's edge; pressed, it fades with the fill.
    const auto edge = [&] { return backdrop.grab().toImage().pixelColor(button->width() / 2, 0); };
    const auto inside = [&] { return backdrop.grab().toImage().pixelColor(button->width() / 2, 1); };
    EXPECT_EQ(rgb(edge()), rgb(Palette::rule()));
    EXPECT_EQ(rgb(inside()), rgb(Palette::page()));
    button->setDown(true);
    const QColor pressedEdge = edge();
    button->setDown(false);
    EXPECT_NEAR(pressedEdge.red(), 0.7 * 232, 1.5);
    EXPECT_NEAR(pressedEdge.green(), 0.7 * 229, 1.5);
    EXPECT_NEAR(pressedEdge.blue(), 0.7 * 223, 1.5);
    // The label in ink: its darkest pixel lies between the page and the ink
    // (glyph edges are blended), not between the page and another colour.
    const QImage face = backdrop.grab().toImage();
    QColor darkest = Palette::page();
    for (int x = 12; x < button->width() - 12; ++x) {
        for (int y = 2; y < button->height() - 2; ++y) {
            if (face.pixelColor(x, y).lightness() < darkest.lightness())
                darkest = face.pixelColor(x, y);
        }
    }
    const QColor page = Palette::page(), ink = Palette::ink();
    const double coverage = double(page.red() - darkest.red()) / (page.red() - ink.red());
    EXPECT_GT(coverage, 0.8);
    EXPECT_NEAR(darkest.green(), page.green() - coverage * (page.green() - ink.green()), 1.5);
    EXPECT_NEAR(darkest.blue(), page.blue() - coverage * (page.blue() - ink.blue()), 1.5);

    // A label taller than the least height makes the button taller.
    QPushButton tall("Tall");
    tall.setFont(Typeface::font(Typeface::mono(), 30));
    app::BorderedSecondaryButtonStyle::apply(&tall, 10);
    EXPECT_EQ(tall.font().pixelSize(), 30); // its own font kept
    EXPECT_EQ(tall.height(), QFontMetrics(tall.font()).height());
}

class Shell : public ::testing::Test {
protected:
    void SetUp() override
    {
        foundation::paths::settingsStore()->remove("pennoraHome");
        window.openWindow = [this](const QString &id) { opened << id; };
        window.chooseMarkdownFiles = [this](const QString &message, bool multiple) {
            panels << QString("%1 (%2)").arg(message, multiple ? "several" : "one");
            return chosen;
        };
        window.openUrl = [this](const QUrl &url) { openedURLs << url; };
    }
    bool enabled(const QString &title) const { return window.action(title)->isEnabled(); }

    QTemporaryDir dir;
    QSettings settings{dir.filePath("settings.ini"), QSettings::IniFormat};
    app::AppGateState gate{settings, [] { return false; }, [] { return std::nullopt; }};
    app::MainWindow window{gate};
    QStringList opened;
    QStringList panels;
    QList<QUrl> chosen;
    QList<QUrl> openedURLs;
};

TEST_F(Shell, EveryCommandSitsInItsMenuWithItsShortcut)
{
    const std::vector<std::tuple<QString, QString, QString>> commands{
        {"File", "New Post", "Ctrl+N"},
        {"File", "New Outline", "Ctrl+Shift+N"},
        {"File", "New Project…", "Ctrl+Alt+N"},
        {"File", "Open…", "Ctrl+O"},
        {"File", "Import…", "Ctrl+Shift+O"},
        {"File", "Quit", "Ctrl+Q"},
        {"Edit", "Undo", "Ctrl+Z"},
        {"Edit", "Paste", "Ctrl+V"},
        {"Edit", "Check Spelling While Typing", ""},
        {"View", "Toggle Reading Mode", "Ctrl+R"},
        {"View", "Toggle Focus Mode", "Ctrl+Alt+F"},
        {"View", "Start Dedu Duvodo…", ""},
        {"Help", "About Pennora", ""},
        {"Help", "Open Backup Folder", ""},
    };
    QHash<QString, QStringList> menus;
    for (QAction *top : window.menuBar()->actions()) {
        for (QAction *item : top->menu()->actions()) {
            if (!item->isSeparator())
                menus[top->text().remove('&')] << item->text();
        }
    }
    EXPECT_EQ(menus["File"], (QStringList{"New Post", "New Outline", "New Project…", "Open…", "Import…", "Quit"}));
    EXPECT_EQ(menus["View"], (QStringList{"Toggle Reading Mode", "Toggle Focus Mode", "Start Dedu Duvodo…"}));
    EXPECT_EQ(menus["Help"], (QStringList{"About Pennora", "Open Backup Folder"}));
    EXPECT_EQ(menus["Edit"].last(), "Check Spelling While Typing");
    for (const auto &[menu, title, shortcut] : commands) {
        EXPECT_TRUE(menus[menu].contains(title)) << title.toStdString();
        ASSERT_NE(window.action(title), nullptr) << title.toStdString();
        EXPECT_EQ(window.action(title)->shortcut().toString(), shortcut) << title.toStdString();
    }
}

TEST_F(Shell, CommandsFollowTheLockFocusAndWhatIsOpen)
{
    const QStringList lockable{"New Post", "New Outline",         "New Project…",      "Open…",
                               "Import…",  "Toggle Reading Mode", "Toggle Focus Mode", "Start Dedu Duvodo…"};
    const QStringList always{"About Pennora", "Check Spelling While Typing", "Open Backup Folder", "Quit"};
    // Nothing open, focus off: no focus mode, no Dedu Duvodo.
    EXPECT_FALSE(enabled("Toggle Focus Mode"));
    EXPECT_FALSE(enabled("Start Dedu Duvodo…"));
    EXPECT_TRUE(enabled("New Post"));

    gate.setIsFocused(true);
    EXPECT_TRUE(enabled("Toggle Focus Mode"));   // focus mode can always be left
    EXPECT_FALSE(enabled("Start Dedu Duvodo…")); // nothing shows in the prose editor

    const QString file = testsupport::writeFile(dir.filePath("a.md"), "# A\n");
    gate.posts().openExternalFile(QUrl::fromLocalFile(file));
    EXPECT_TRUE(enabled("Start Dedu Duvodo…"));
    gate.setIsFocused(false);
    EXPECT_TRUE(enabled("Toggle Focus Mode"));
    EXPECT_FALSE(enabled("Start Dedu Duvodo…"));

    gate.armWritingLock({focus::WritingGoal::Kind::words, 100});
    for (const QString &title : lockable)
        EXPECT_FALSE(enabled(title)) << title.toStdString();
    for (const QString &title : always)
        EXPECT_TRUE(enabled(title)) << title.toStdString();
}

TEST_F(Shell, AKioskBlockHoldsTheScreenSwallowsItsShortcutsAndGivesTheWindowBackAsItWas)
{
    // Outside a test run the lock itself asks for the kiosk and gives the
    // window back.
    const QByteArray marker = qgetenv(foundation::paths::kTestRunMarker);
    qunsetenv(foundation::paths::kTestRunMarker);
    const auto restoreMarker = qScopeGuard([&] { qputenv(foundation::paths::kTestRunMarker, marker); });
    focus::WritingLockState &lock = gate.writingLock();
    int closes = 0;
    QAction closeWindow("Close Window");
    closeWindow.setShortcut(QKeySequence(Qt::CTRL | Qt::Key_W));
    QObject::connect(&closeWindow, &QAction::triggered, [&] { ++closes; });
    window.addAction(&closeWindow);
    QSignalSpy quits(&window, &app::MainWindow::quitRequested);
    window.showMaximized();
    window.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&window));

    for (const Qt::WindowStates before : {Qt::WindowStates(Qt::WindowMaximized), Qt::WindowStates(Qt::WindowNoState)}) {
        window.setWindowState(before);
        gate.armWritingLock({focus::WritingGoal::Kind::words, 100});
        EXPECT_TRUE(window.isFullScreen());
        EXPECT_TRUE(window.isInKiosk());
        EXPECT_TRUE(window.menuBar()->isHidden());
        EXPECT_FALSE(enabled("New Post"));

        QTest::keyClick(&window, Qt::Key_W, Qt::ControlModifier);
        QTest::keyClick(&window, Qt::Key_N, Qt::ControlModifier);
        EXPECT_EQ(closes, 0);
        EXPECT_EQ(gate.posts().draft(), std::nullopt);
        QTest::keyClick(&window, Qt::Key_Q, Qt::ControlModifier); // the menu bar is hidden; Quit still works
        EXPECT_EQ(quits.count(), 1);
        quits.clear();

        // The window manager takes the window out of full screen: it goes back.
        window.setWindowState(Qt::WindowNoState);
        EXPECT_TRUE(QTest::qWaitFor([&] { return window.isFullScreen(); }));

        // The goal is met: the window comes back as it was.
        lock.complete();
        EXPECT_FALSE(window.isInKiosk());
        EXPECT_FALSE(window.isFullScreen());
        EXPECT_EQ(window.windowState(), before);
        EXPECT_FALSE(window.menuBar()->isHidden());
        QTest::keyClick(&window, Qt::Key_W, Qt::ControlModifier);
        EXPECT_EQ(closes, 1);
        closes = 0;
    }

    // Keep Writing changes nothing; walking away leaves the window full
    // screen (the process ends).
    gate.armWritingLock({focus::WritingGoal::Kind::words, 100});
    focus::WritingLockAppDelegate guard;
    bool walkAway = false;
    guard.confirmEndingBlock = [&] { return walkAway; };
    EXPECT_FALSE(guard.applicationShouldTerminate()); // Keep Writing: lock and kiosk stay
    EXPECT_TRUE(lock.isLocked());
    EXPECT_TRUE(window.isInKiosk());
    walkAway = true;
    EXPECT_TRUE(guard.applicationShouldTerminate());
    EXPECT_TRUE(window.isFullScreen());
    EXPECT_FALSE(window.isInKiosk());
    EXPECT_TRUE(lock.isLocked());
    lock.complete();
    EXPECT_TRUE(window.isFullScreen());
}

TEST_F(Shell, CommandsReachTheModelsAndThePanels)
{
    QSignalSpy reading(&gate, &app::AppGateState::toggleReadingMode);
    QSignalSpy focus(&gate, &app::AppGateState::isFocusedChanged);
    QSignalSpy spelling(&gate, &app::AppGateState::spellCheckingChanged);
    const QUrl a = QUrl::fromLocalFile(testsupport::writeFile(dir.filePath("a.md"), "# A\n"));
    const QUrl b = QUrl::fromLocalFile(testsupport::writeFile(dir.filePath("b.md"), "# B\n"));
    const QUrl c = QUrl::fromLocalFile(testsupport::writeFile(dir.filePath("c.markdown"), "# C\n"));

    const QUrl notes = QUrl::fromLocalFile(testsupport::writeFile(dir.filePath("notes.txt"), "plain\n"));

    window.action("New Post")->trigger();
    ASSERT_TRUE(gate.posts().draft());
    EXPECT_EQ(gate.posts().draft()->type, library::Post::ContentType::post);
    window.action("New Outline")->trigger();
    ASSERT_TRUE(gate.posts().draft());
    EXPECT_EQ(gate.posts().draft()->type, library::Post::ContentType::outline);

    window.action("Import…")->trigger(); // cancelled: nothing
    window.action("Open…")->trigger();
    EXPECT_EQ(gate.posts().pendingImportURLs(), std::nullopt);
    EXPECT_EQ(gate.posts().externalSession(), nullptr);
    // A name typed into the panel passes its filter: only Markdown is taken.
    chosen = {notes};
    window.action("Open…")->trigger();
    window.action("Import…")->trigger();
    EXPECT_EQ(gate.posts().externalSession(), nullptr);
    EXPECT_EQ(gate.posts().pendingImportURLs(), std::nullopt);
    chosen = {a, notes, b, c};
    window.action("Import…")->trigger();
    EXPECT_EQ(gate.posts().pendingImportURLs(), (QList<QUrl>{a, b, c}));
    window.action("Open…")->trigger();
    ASSERT_NE(gate.posts().externalSession(), nullptr);
    EXPECT_EQ(gate.posts().currentText(), "# A\n");
    const QString importing = "Imports copies as Posts — the original files are untouched. (several)";
    const QString opening = "Opens the file as-is — Pennora never converts or moves it. (one)";
    EXPECT_EQ(panels, (QStringList{importing, opening, opening, importing, importing, opening}));

    window.action("Toggle Reading Mode")->trigger();
    EXPECT_EQ(reading.count(), 1);
    window.action("Toggle Focus Mode")->trigger();
    EXPECT_TRUE(gate.isFocused());
    window.action("Start Dedu Duvodo…")->trigger();
    EXPECT_TRUE(gate.writingLock().showsArmBar());
    window.action("Check Spelling While Typing")->trigger();
    EXPECT_TRUE(gate.spellChecking());
    EXPECT_TRUE(window.action("Check Spelling While Typing")->isChecked());
    EXPECT_EQ(spelling.count(), 1);
    EXPECT_EQ(focus.count(), 1);
    window.action("New Project…")->trigger();
    EXPECT_TRUE(gate.posts().askNewProject());
    window.action("About Pennora")->trigger();
    EXPECT_EQ(opened, QStringList{"about"});

    QSignalSpy quit(&window, &app::MainWindow::quitRequested);
    window.action("Quit")->trigger();
    window.close();
    EXPECT_EQ(quit.count(), 2);
    EXPECT_TRUE(window.isVisible() || !window.isVisible()); // closing only asks
}

TEST_F(Shell, TheBackupFolderOpensOnlyOnceItExists)
{
    window.action("Open Backup Folder")->trigger();
    EXPECT_TRUE(openedURLs.isEmpty());
    QDir().mkpath(app::MainWindow::backupFolder());
    window.action("Open Backup Folder")->trigger();
    EXPECT_EQ(openedURLs, QList<QUrl>{QUrl::fromLocalFile(foundation::paths::appDataDir() + "/Backups")});
    QDir(app::MainWindow::backupFolder()).removeRecursively();
}

TEST(ElidedLabel, ShowsWhatFitsAndCopiesTheWholeValue)
{
    app::ElidedLabel label(Qt::ElideMiddle);
    label.setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
    label.setAttribute(Qt::WA_DontShowOnScreen);
    const QString path = "/home/writer/.local/share/pennora/engines/current/bin/hermes";
    label.setFullText(path);
    label.resize(90, 20);
    label.show();
    ASSERT_NE(label.text(), path);
    EXPECT_TRUE(label.text().contains(QChar(0x2026)));
    EXPECT_EQ(label.toolTip(), path);

    const auto copy = [&] {
        QGuiApplication::clipboard()->clear();
        label.setSelection(0, int(label.text().size()));
        QKeyEvent press(QEvent::KeyPress, Qt::Key_C, Qt::ControlModifier, "c");
        QApplication::sendEvent(&label, &press);
        return QGuiApplication::clipboard()->text();
    };
    EXPECT_EQ(copy(), path); // never the ellipsis
    label.resize(label.sizeHint().width() + 10, 20);
    EXPECT_EQ(label.text(), path);
    EXPECT_EQ(copy(), path);
}

TEST(About, ShowsTheRecordedCheckOrThatThereIsNone)
{
    const QString state = foundation::paths::appDataDir() + "/state.json";
    struct Case {
        const char *name;
        std::optional<QByteArray> json;
        QStringList values; // Engine, version, last checked, binary; empty: no record
    };
    const std::vector<Case> cases{
        {"pass",
         R"({"schemaVersion":1,"status":"pass","checkedAt":"2026-12-11T01:00:00Z","engineVersion":"hermes 1.2",)"
         R"("binaryPath":"/home/w/.local/bin/hermes","firstProbePath":"/x","stderrExcerpt":"e"})",
         {"Ready", "hermes 1.2", "2026-12-11T01:00:00Z", "/home/w/.local/bin/hermes"}},
        {"fail without version or path",
         R"({"schemaVersion":1,"status":"fail","checkedAt":"2026-12-11T01:00:00Z","firstProbePath":"/x"})",
         {"Unavailable", "—", "2026-12-11T01:00:00Z", "—"}},
        {"missing checkedAt", R"({"schemaVersion":1,"status":"pass"})", {}},
        {"not JSON", "{", {}},
        {"no file", std::nullopt, {}},
    };
    for (const Case &c : cases) {
        QFile::remove(state);
        if (c.json)
            testsupport::writeFile(state, *c.json);
        app::AboutWindow window;
        window.setAttribute(Qt::WA_DontShowOnScreen);
        window.show();
        QApplication::processEvents();
        EXPECT_EQ(window.windowTitle(), "About Pennora");
        EXPECT_EQ(window.view()->showsNoRecord(), c.values.isEmpty()) << c.name;
        QStringList shown;
        for (const char *label : {"Engine", "Engine version", "Last checked", "Binary path"})
            shown << window.view()->rowValue(label);
        if (!c.values.isEmpty()) {
            EXPECT_EQ(shown, c.values) << c.name;
        }
        EXPECT_EQ(window.width(), app::AboutEngineView::width) << c.name;
        window.close();
    }
    QFile::remove(state);
}

TEST(About, ReopenedAfterACheckShowsTheNewRecordAndFitsWhatItSays)
{
    const QString state = foundation::paths::appDataDir() + "/state.json";
    QFile::remove(state);
    app::AboutWindow window;
    window.setAttribute(Qt::WA_DontShowOnScreen);
    window.show();
    QApplication::processEvents();
    ASSERT_TRUE(window.view()->showsNoRecord());
    const int withoutRecord = window.height();
    window.close();

    testsupport::writeFile(state, R"({"schemaVersion":1,"status":"pass","checkedAt":"2026-12-11T02:00:00Z"})");
    window.show();
    QApplication::processEvents();
    EXPECT_FALSE(window.view()->showsNoRecord());
    EXPECT_EQ(window.view()->rowValue("Last checked"), "2026-12-11T02:00:00Z");
    // Four rows take more room than the one line that says there is no record.
    EXPECT_GT(window.height(), withoutRecord);
    window.close();
    QFile::remove(state);
    window.show();
    QApplication::processEvents();
    EXPECT_TRUE(window.view()->showsNoRecord());
    EXPECT_EQ(window.height(), withoutRecord);
    QFile::remove(state);
}

// The main window over the Home folder home, its settings in folder, shown
// offscreen at 1100 by 720.
struct WindowOverHome {
    WindowOverHome(const QString &folder, const QString &home)
        : settings(folder + "/settings.ini", QSettings::IniFormat), gate(storing(settings, home)), window(gate)
    {
        window.resize(1100, 720);
        window.setAttribute(Qt::WA_DontShowOnScreen);
        window.show();
    }
    static QSettings &storing(QSettings &settings, const QString &home)
    {
        settings.setValue("pennoraHome", QUrl::fromLocalFile(home + "/").toString());
        return settings;
    }
    app::WorkspaceView *workspace() const
    {
        return static_cast<app::ContentView *>(window.centralWidget())->workspace();
    }

    QSettings settings;
    app::AppGateState gate;
    app::MainWindow window;
};

// The prose editor the main window's posts pane shows, once it shows one;
// null when none comes.
editor::PostEditorView *shownEditor(app::MainWindow &window)
{
    auto *content = static_cast<app::ContentView *>(window.centralWidget());
    editor::PostEditorView *editorView = nullptr;
    testsupport::spinUntil(
        [&] {
            auto *pane = qobject_cast<panes::PostsPaneView *>(content->workspace()->paneContent());
            return pane && (editorView = qobject_cast<editor::PostEditorView *>(pane->editor())) != nullptr;
        },
        5000);
    return editorView;
}

TEST(Windows, AboutAndFixCardsOpenOnceByTheirIDs)
{
    QTemporaryDir data;
    app::PennoraApp pennora(data.path());
    ASSERT_TRUE(pennora.start());
    QWidget *about = pennora.openWindow("about");
    ASSERT_NE(about, nullptr);
    EXPECT_EQ(about->windowTitle(), "About Pennora");
    EXPECT_EQ(pennora.openWindow("about"), about);
    QWidget *cards = pennora.openWindow("fix-cards");
    ASSERT_NE(cards, nullptr);
    EXPECT_EQ(cards->windowTitle(), "Fix Cards");
    EXPECT_EQ(cards->size(), QSize(340, 540));
    // Its content is the palette over the one library model.
    EXPECT_NE(qobject_cast<review::FixCardsPalette *>(cards), nullptr);
    EXPECT_EQ(pennora.openWindow("nothing"), nullptr);

    // The quit guard asks while a block runs (in a test run too); kept
    // writing, nothing is shut down.
    pennora.gate()->armWritingLock({focus::WritingGoal::Kind::minutes, 5});
    QTimer::singleShot(0, [] {
        if (QWidget *alert = QApplication::activeModalWidget())
            QMetaObject::invokeMethod(alert, "reject");
    });
    EXPECT_FALSE(pennora.requestQuit());
    EXPECT_TRUE(pennora.gate()->writingLock().isLocked());
}

// Answers every alert with the button of that title, keeping what each said.
class AlertAnswers {
public:
    explicit AlertAnswers(QString button) : m_button(std::move(button))
    {
        m_timer.setInterval(5);
        QObject::connect(&m_timer, &QTimer::timeout, [this] {
            auto *alert = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
            if (!alert || !alert->isVisible())
                return;
            QStringList buttons;
            for (QAbstractButton *button : alert->buttons())
                buttons << button->text();
            seen << alert->text() + " | " + alert->informativeText() + " | " + buttons.join(" / ");
            for (QAbstractButton *button : alert->buttons()) {
                if (button->text() == m_button)
                    button->click();
            }
        });
        m_timer.start();
    }
    QStringList seen;

private:
    QString m_button;
    QTimer m_timer;
};

// Takes a way out inside the event loop; 0 when the application quit, 7
// when it is still running afterwards.
int quitBy(const std::function<void()> &path)
{
    QTimer stillRunning;
    stillRunning.setSingleShot(true);
    QObject::connect(&stillRunning, &QTimer::timeout, [] { QCoreApplication::exit(7); });
    QTimer::singleShot(0, &stillRunning, [&] {
        path();
        stillRunning.start(0);
    });
    return QCoreApplication::exec();
}

TEST(QuitGuard, EveryWayOutSavesAsksBeforeEndingABlockAndRefusesWhileATextCannotBeSaved)
{
    const QString walkAway = "Walk away from the block? | A Dedu Duvodo block is still running. Quitting ends it — "
                             "nothing is kept, no record. | Walk Away / Keep Writing";
    const std::vector<std::pair<const char *, std::function<void(app::PennoraApp &)>>> paths{
        {"the Quit command", [](app::PennoraApp &p) { p.mainWindow()->action("Quit")->trigger(); }},
        {"closing the window", [](app::PennoraApp &p) { p.mainWindow()->close(); }},
        {"the Quit event", [](app::PennoraApp &) { QCoreApplication::quit(); }},
        {"the session ending", [](app::PennoraApp &p) { p.endSession(true); }},
    };
    for (const auto &[name, path] : paths) {
        SCOPED_TRACE(name);
        QTemporaryDir data;
        const QString file = testsupport::writeFile(data.filePath("outside.md"), "# Outside\n");
        app::PennoraApp pennora(data.path());
        ASSERT_TRUE(pennora.start());
        model::PostsModel &posts = pennora.gate()->posts();
        posts.openExternalFile(QUrl::fromLocalFile(file));
        ASSERT_NE(posts.externalSession(), nullptr);
        posts.externalSession()->textDidChange("# Outside\n\nTyped.\n");
        focus::WritingLockState &lock = pennora.gate()->writingLock();
        pennora.gate()->armWritingLock({focus::WritingGoal::Kind::minutes, 5});

        // A text that cannot be saved: refused, without the alert in a test
        // run, and the block is not asked about.
        ASSERT_TRUE(QFile::remove(file));
        ASSERT_TRUE(QDir().mkpath(file));
        {
            AlertAnswers answers("Walk Away");
            EXPECT_EQ(quitBy([&] { path(pennora); }), 7);
            EXPECT_EQ(answers.seen, QStringList());
            EXPECT_TRUE(lock.isLocked());
        }
        ASSERT_TRUE(QDir(file).removeRecursively());

        // A running block asks; Keep Writing leaves the lock as it is.
        {
            AlertAnswers answers("Keep Writing");
            EXPECT_EQ(quitBy([&] { path(pennora); }), 7);
            EXPECT_EQ(answers.seen, QStringList{walkAway});
            EXPECT_TRUE(lock.isLocked());
            EXPECT_TRUE(pennora.mainWindow()->isVisible());
        }
        // Walk Away quits; what was typed is on disk.
        {
            AlertAnswers answers("Walk Away");
            EXPECT_EQ(quitBy([&] { path(pennora); }), 0);
            EXPECT_EQ(answers.seen, QStringList{walkAway});
        }
        EXPECT_EQ(testsupport::readText(file), "# Outside\n\nTyped.\n");
    }
}

TEST(QuitGuard, TheRefusalAndTheQuestionSayTheirOwnWords)
{
    const std::unique_ptr<QMessageBox> refusal =
        app::MainWindow::quitStoppedAlert(nullptr, focus::WritingLockAppDelegate::quitStoppedFallback());
    EXPECT_EQ(refusal->text(), "Quit stopped — a piece needs you first");
    EXPECT_EQ(refusal->informativeText(), "An open piece could not be saved. Tend to it, then quit again.");
    ASSERT_EQ(refusal->buttons().size(), 1);
    EXPECT_EQ(refusal->buttons()[0]->text(), "Back to Pennora");
    const std::unique_ptr<QMessageBox> question = app::MainWindow::walkAwayAlert(nullptr);
    EXPECT_EQ(question->escapeButton(), question->buttons().value(1));
    EXPECT_EQ(question->escapeButton()->text(), "Keep Writing");
}

TEST(Windows, TheMainWindowShowsThePostsPaneWithTheEditorAndTheSettingsPane)
{
    QTemporaryDir dir;
    WindowOverHome shown(dir.path(), dir.filePath("home"));
    app::AppGateState &gate = shown.gate;
    auto *content = static_cast<app::ContentView *>(shown.window.centralWidget());
    auto *pane = qobject_cast<panes::PostsPaneView *>(content->workspace()->paneContent());
    ASSERT_NE(pane, nullptr);
    EXPECT_EQ(pane->availableWidth(), content->workspace()->availableWidth());
    gate.setIsFocused(true);
    EXPECT_TRUE(pane->focusMode());
    gate.setIsFocused(false);

    // A new draft opens in the prose editor.
    gate.posts().newPostDraft();
    EXPECT_TRUE(testsupport::spinUntil([&] { return qobject_cast<editor::PostEditorView *>(pane->editor()); }, 5000));

    // Settings shows the settings pane over the workspace's fresh model.
    content->workspace()->select(app::WorkspaceView::Pane::settings);
    EXPECT_NE(qobject_cast<profiles::SettingsPaneView *>(content->workspace()->paneContent()), nullptr);
    EXPECT_NE(content->workspace()->settingsModel(), nullptr);
    content->workspace()->select(app::WorkspaceView::Pane::posts);

    // A new Home builds a new pane over it.
    QPointer<QWidget> before = content->workspace()->paneContent();
    ASSERT_NE(qobject_cast<panes::PostsPaneView *>(before.data()), nullptr);
    gate.persistHome(dir.filePath("elsewhere"));
    EXPECT_TRUE(testsupport::spinUntil([&] { return before.isNull(); }, 5000));
    EXPECT_NE(qobject_cast<panes::PostsPaneView *>(content->workspace()->paneContent()), nullptr);
    gate.posts().settleBackgroundWork();
}

TEST(Windows, AWordsGoalCountsWhatIsTypedInTheEditor)
{
    QTemporaryDir dir;
    WindowOverHome shown(dir.path(), dir.filePath("home"));
    app::AppGateState &gate = shown.gate;
    gate.posts().newPostDraft();
    editor::PostEditorView *editorView = shownEditor(shown.window);
    ASSERT_NE(editorView, nullptr);
    ASSERT_NE(editorView->proseTextView(), nullptr);
    QWidget *text = editorView->proseTextView()->textView();

    gate.armWritingLock({focus::WritingGoal::Kind::words, 3});
    QTest::keyClicks(text, "one two");
    EXPECT_EQ(gate.writingLock().run()->wordsWritten(), 2);
    gate.writingLock().tick();
    EXPECT_TRUE(gate.writingLock().isLocked());
    QTest::keyClicks(text, " three");
    EXPECT_EQ(gate.writingLock().run()->wordsWritten(), 3);
    gate.writingLock().tick();
    EXPECT_FALSE(gate.writingLock().isLocked());
    ASSERT_TRUE(gate.writingLock().completionNote().has_value());
    EXPECT_TRUE(gate.writingLock().completionNote()->startsWith("3 words · "));
    EXPECT_TRUE(gate.posts().draft()->text.startsWith("one two three")); // nothing typed is lost
    gate.posts().settleBackgroundWork();
}

TEST(Windows, TheWideFocusPanelHoldsTheLibraryColumnOfTheHome)
{
    QTemporaryDir dir;
    const QString home = dir.filePath("home");
    testsupport::writeFile(home + "/projects/Drafts/morning/post.md",
                           "---\ntype: post\npass_state: First Draft\norigin: writer\n---\n# Morning Pages\n");
    WindowOverHome shown(dir.path(), home);
    app::AppGateState &gate = shown.gate;
    ASSERT_TRUE(testsupport::spinUntil([&] { return gate.posts().posts().size() == 1; }, 10000));
    app::WorkspaceView *workspace = shown.workspace();
    ASSERT_GE(workspace->width(), 1100);

    gate.setIsFocused(true);
    ASSERT_NE(workspace->focusPanel(), nullptr);
    QPointer<panes::PostsLibraryColumn> column = workspace->focusPanel()->findChild<panes::PostsLibraryColumn *>();
    ASSERT_NE(column.data(), nullptr);
    EXPECT_EQ(workspace->focusPanel()->findChild<QWidget *>("placeholder:PostsLibraryColumn"), nullptr);
    EXPECT_EQ(column->width(), 232);
    QEnterEvent enter(QPointF(2, 300), QPointF(2, 300), QPointF(2, 300));
    QApplication::sendEvent(workspace->focusPanel(), &enter);
    EXPECT_FALSE(testsupport::saveScreenshot(shown.window, "main-window-focus-panel", QSize(1100, 720)).isEmpty());

    // A new Home gives the panel a new column over it.
    gate.persistHome(dir.filePath("elsewhere"));
    ASSERT_TRUE(testsupport::spinUntil([&] { return column.isNull(); }, 5000));
    ASSERT_NE(workspace->focusPanel(), nullptr);
    EXPECT_NE(workspace->focusPanel()->findChild<panes::PostsLibraryColumn *>(), nullptr);
    gate.setIsFocused(false);
    gate.posts().settleBackgroundWork();
}

TEST(Screenshots, MainWindowWithAPieceOpen)
{
    QTemporaryDir dir;
    const QString home = dir.filePath("home");
    const auto piece = [&](const QString &project, const QString &id, const QString &text) {
        testsupport::writeFile(home + "/projects/" + project + "/" + id + "/post.md",
                               ("---\ntype: post\npass_state: First Draft\norigin: writer\n---\n" + text).toUtf8());
    };
    piece("Drafts", "morning", "# Morning Pages\n\nThree pages, longhand, before anything else.\n");
    piece("Essays", "harbour",
          "# Harbour Lights\n\nThe ferry comes in at six, and the whole quay leans toward it.\n\n"
          "## What the lights say\n\n- red for the breakwater\n- green for the channel\n\n"
          "> Every harbour is a promise kept twice a day.\n");
    WindowOverHome shown(dir.path(), home);
    app::AppGateState &gate = shown.gate;
    ASSERT_TRUE(testsupport::spinUntil([&] { return gate.posts().posts().size() == 2; }, 10000));
    gate.posts().selectPiece("harbour");
    ASSERT_NE(shownEditor(shown.window), nullptr);
    EXPECT_FALSE(testsupport::saveScreenshot(shown.window, "main-window-editing", QSize(1100, 720)).isEmpty());
    gate.posts().settleBackgroundWork();
}

TEST(Screenshots, AWritingBlockInTheKioskAndTheQuitGuardsAlerts)
{
    QTemporaryDir dir;
    const QString home = dir.filePath("home");
    testsupport::writeFile(home + "/projects/Essays/harbour/post.md",
                           "---\ntype: post\npass_state: First Draft\norigin: writer\n---\n# Harbour Lights\n\n"
                           "The ferry comes in at six, and the whole quay leans toward it.\n");
    WindowOverHome shown(dir.path(), home);
    app::AppGateState &gate = shown.gate;
    ASSERT_TRUE(testsupport::spinUntil([&] { return gate.posts().posts().size() == 1; }, 10000));
    gate.posts().selectPiece("harbour");
    ASSERT_NE(shownEditor(shown.window), nullptr);
    gate.armWritingLock({focus::WritingGoal::Kind::minutes, 25});
    emit gate.writingLock().kioskRequested(); // what the lock asks outside a test run
    ASSERT_TRUE(shown.window.isFullScreen());
    EXPECT_FALSE(testsupport::saveScreenshot(shown.window, "kiosk-writing-block").isEmpty());

    const std::unique_ptr<QMessageBox> question = app::MainWindow::walkAwayAlert(&shown.window);
    EXPECT_FALSE(testsupport::saveScreenshot(*question, "quit-walk-away-question").isEmpty());
    const std::unique_ptr<QMessageBox> refusal =
        app::MainWindow::quitStoppedAlert(&shown.window, "Could not save post.md: the folder is read-only.");
    EXPECT_FALSE(testsupport::saveScreenshot(*refusal, "quit-stopped-alert").isEmpty());
    gate.writingLock().complete();
    emit gate.writingLock().kioskLeaveRequested(true);
    gate.posts().settleBackgroundWork();
}

TEST(Screenshots, MainWindowAboutAndPaneChrome)
{
    QTemporaryDir dir;
    // The window as a first launch shows it: an empty library, scanned.
    const QString home = dir.filePath("Pennora");
    ASSERT_TRUE(QDir().mkpath(home));
    WindowOverHome shown(dir.path(), home);
    app::AppGateState &gate = shown.gate;
    gate.posts().settleBackgroundWork();
    EXPECT_FALSE(testsupport::saveScreenshot(shown.window, "main-window", QSize(1100, 720)).isEmpty());

    testsupport::writeFile(foundation::paths::appDataDir() + "/state.json",
                           R"({"schemaVersion":1,"status":"pass","checkedAt":"2026-12-11T01:00:00Z",)"
                           R"("engineVersion":"hermes 0.4.1","binaryPath":"/home/writer/.local/bin/hermes"})");
    app::AboutWindow about;
    EXPECT_FALSE(testsupport::saveScreenshot(about, "about").isEmpty());
    about.close();
    QFile::remove(foundation::paths::appDataDir() + "/state.json");
    EXPECT_FALSE(testsupport::saveScreenshot(about, "about-no-record").isEmpty());

    // A pane: header with a trailing button, two rows, the second selected.
    QWidget pane;
    pane.setAutoFillBackground(true);
    QPalette palette = pane.palette();
    palette.setColor(QPalette::Window, Palette::canvas());
    palette.setColor(QPalette::WindowText, Palette::ink());
    pane.setPalette(palette);
    auto *column = new QVBoxLayout(&pane);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(0);
    auto *newButton = new QPushButton("New");
    app::BorderedSecondaryButtonStyle::apply(newButton, 28);
    column->addWidget(new app::PaneHeader("Library", 14, std::nullopt, newButton));
    for (const char *title : {"On walking", "Letters to a young writer"}) {
        auto *row = new QWidget;
        row->setFixedHeight(36);
        auto *layout = new QHBoxLayout(row);
        layout->setContentsMargins(4, 0, 14, 0);
        auto *strip = new app::SelectedRowStrip;
        QSizePolicy keepPlace = strip->sizePolicy();
        keepPlace.setRetainSizeWhenHidden(true);
        strip->setSizePolicy(keepPlace);
        strip->setVisible(QString(title).startsWith("Letters"));
        layout->addWidget(strip);
        layout->addSpacing(8);
        layout->addWidget(new QLabel(title), 1);
        column->addWidget(row);
    }
    auto *pressed = new QPushButton("Archive");
    app::BorderedSecondaryButtonStyle::apply(pressed, 28);
    pressed->setDown(true);
    auto *buttons = new QHBoxLayout;
    buttons->setContentsMargins(14, 12, 14, 12);
    auto *quiet = new QPushButton("Restore");
    app::BorderedSecondaryButtonStyle::apply(quiet, 28);
    buttons->addWidget(quiet);
    buttons->addWidget(pressed);
    buttons->addStretch(1);
    column->addLayout(buttons);
    column->addWidget(new app::PaneHeader("Archive", 14, 180, nullptr));
    column->addStretch(1);
    EXPECT_FALSE(testsupport::saveScreenshot(pane, "pane-chrome", QSize(320, 300)).isEmpty());
}

} // namespace
