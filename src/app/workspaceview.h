#pragma once
// The main window's content: the rail of panes with the engine status pill,
// the selected pane beside it, the status card, the focus-mode hover panel,
// the four sheets raised by the library model, window-wide file drops and the
// guarded Home change. It keeps two bits of state, the selected pane and
// whether the card is open; everything else it reads from the root state.
//
// Each pane's place is filled by a factory; until the real panes are mounted
// a placeholder with the pane's header stands in.

#include "app/enginestatusviews.h"
#include "app/state/appgatestate.h"

#include <QFont>
#include <QList>
#include <QPointer>
#include <QUrl>
#include <QWidget>
#include <functional>
#include <map>
#include <memory>
#include <optional>

class QDialog;
class QHBoxLayout;
class QVBoxLayout;

namespace profiles {
class SettingsModel;
}

namespace app {

class RailButton;

// The rules of the workspace that need no window.
namespace WorkspaceLayout {

inline constexpr int railWidth = 56;
inline constexpr int libraryColumnWidth = 232;
inline constexpr int wideWindow = 1100;
inline constexpr int cardLeading = 68;
inline constexpr int cardBottom = 14;

// What the posts pane may assume for its thresholds: the window less the
// rail, in focus mode too.
int availableWidth(int windowWidth);
// The focus-mode hover panel's width: rail and rule, plus the library column
// in a wide window; none outside focus mode or while the writing lock holds.
std::optional<int> focusPanelWidth(int windowWidth, bool focused, bool locked);
bool focusPanelShowsLibrary(int windowWidth);
bool cardShown(EngineStatusSurface::Visibility visibility, bool expanded, bool focused);
// The shell line that installs the engine; shown and copied, never run.
QString installCommand();

inline constexpr const char *homeNotChangedMessage = "Home not changed — a piece needs you first";
inline constexpr const char *homeNotChangedButton = "Back to Pennora";
// The alert's informative text: the library's own message when it has one.
QString homeNotChangedInformative(const std::optional<QString> &lastError);

} // namespace WorkspaceLayout

class WorkspaceView : public QWidget {
    Q_OBJECT
public:
    enum class Pane { posts, sessions, learnings, trends, archive, settings };
    struct RailEntry {
        Pane pane;
        QString label;
        QString systemImage;
        QFont::Weight weight;
    };
    // The rail's pane buttons, top to bottom (the spacer and the pill sit
    // between trends and archive).
    static const QList<RailEntry> &railEntries();
    static const RailEntry &railEntry(Pane pane);
    // A selected button's symbol is one step heavier: light becomes regular,
    // anything else medium.
    static QFont::Weight symbolWeight(QFont::Weight weight, bool selected);

    // Builds the view of a pane, a library column or the focus panel. Called
    // each time the place is shown; the workspace owns what it returns.
    using PaneFactory = std::function<QWidget *(WorkspaceView &workspace)>;
    using FocusPanelFactory = std::function<QWidget *(WorkspaceView &workspace, QWidget *content, int panelWidth)>;

    // mount sets the pane factories before the first pane is built, so the
    // shown pane is built once.
    using Mount = std::function<void(WorkspaceView &workspace)>;
    explicit WorkspaceView(AppGateState &gate, const Mount &mount = {}, QWidget *parent = nullptr);
    ~WorkspaceView() override;

    AppGateState &gate() const { return *m_gate; }

    // Mounting: the real panes replace the placeholders here. Setting the
    // factory of the shown pane builds it again.
    void setPaneFactory(Pane pane, PaneFactory factory);
    // The library column of the wide focus panel; a wide panel on show is
    // built again with it.
    void setLibraryColumnFactory(PaneFactory factory);
    void setFocusPanelFactory(FocusPanelFactory factory);
    // The placeholder of a pane: its header alone.
    static QWidget *placeholder(Pane pane);

    Pane selection() const { return m_selection; }
    void select(Pane pane);
    // Runs call with the shown pane held in front: a piece it opens does not
    // bring the posts pane forward (the archive pane's actions open pieces
    // behind it).
    void keepPaneInFront(const std::function<void()> &call);
    bool statusCardExpanded() const { return m_statusCardExpanded; }
    void setStatusCardExpanded(bool expanded);
    EngineStatusSurface::Visibility engineVisibility() const;
    int availableWidth() const { return WorkspaceLayout::availableWidth(width()); }

    // The shown pane's view, the rail column, the pill, the card (null while
    // not on screen), the focus panel (null unless shown) and the sheet up.
    QWidget *paneContent() const { return m_pane; }
    QWidget *rail() const { return m_rail; }
    RailButton *railButton(Pane pane) const;
    EngineStatusPill *pill() const { return m_pill; }
    EngineStatusCard *card() const { return m_card; }
    QWidget *focusPanel() const { return m_focusPanel; }
    QDialog *presentedSheet() const;

    // The settings pane's model, alive while that pane is shown.
    const std::shared_ptr<profiles::SettingsModel> &settingsModel() const { return m_settingsModel; }
    // A fresh settings model over the engine found last, whose chat writes
    // restart the mentor's chat engine.
    static std::shared_ptr<profiles::SettingsModel> buildSettingsModel(AppGateState &gate);

    // The settings pane's Home binding: reads the Home; a write repoints it
    // through the open-piece guard, with the alert when refused.
    QString home() const;
    bool setHome(const QString &home);
    void presentHomeNotChangedAlert();

    // Files dropped on the window; true when taken (the posts pane comes
    // forward).
    bool handleDrop(const QList<QUrl> &urls);
    // Runs of the library task (watch, then a scan), one per Home shown.
    int libraryTaskRuns() const { return m_libraryTaskRuns; }

    // Injected by tests: the browser, the clipboard and the modal alert.
    std::function<void(const QUrl &)> openUrl;
    std::function<void(const QString &)> copyText;
    std::function<void(const QString &message, const QString &informative, const QString &button)> runAlert;

signals:
    void selectionChanged();
    void availableWidthChanged(int width);

protected:
    void resizeEvent(QResizeEvent *event) override;
    void showEvent(QShowEvent *event) override;
    void dragEnterEvent(QDragEnterEvent *event) override;
    void dragMoveEvent(QDragMoveEvent *event) override;
    void dropEvent(QDropEvent *event) override;

private:
    struct SheetPresenter;

    void buildRail();
    void mountPane();
    void runLibraryTask();
    void engineChanged();
    void updatePill();
    void updateCard();
    void placeCard();
    void updateFocusChrome();
    void dropFocusPanel();
    void placeFocusPanel();
    void updateSheets();
    void followLibrary();

    QPointer<AppGateState> m_gate;
    Pane m_selection = Pane::posts;
    bool m_statusCardExpanded = false;
    EngineStatusSurface::Visibility m_visibility;
    std::map<Pane, PaneFactory> m_factories;
    PaneFactory m_libraryColumnFactory;
    FocusPanelFactory m_focusPanelFactory;

    QHBoxLayout *m_body;
    QWidget *m_chrome; // the rail column and its rule
    QWidget *m_rail;
    QWidget *m_paneHost;
    QVBoxLayout *m_paneLayout;
    QWidget *m_pane = nullptr;
    EngineStatusPill *m_pill = nullptr;
    QPointer<EngineStatusCard> m_card;
    QPointer<QWidget> m_focusPanel;
    bool m_focusPanelWide = false;
    std::shared_ptr<profiles::SettingsModel> m_settingsModel;
    std::vector<std::unique_ptr<SheetPresenter>> m_sheets;

    bool m_shownOnce = false;
    int m_libraryTaskRuns = 0;
    bool m_hadExternal = false;
    bool m_hadDraft = false;
    bool m_keepPane = false;
    std::optional<QString> m_selectedPostID;
};

// A pane button of the rail: only its symbol, its label as tooltip.
class RailButton : public QAbstractButton {
    Q_OBJECT
public:
    RailButton(const WorkspaceView::RailEntry &entry, QWidget *parent = nullptr);
    WorkspaceView::Pane pane() const { return m_entry.pane; }
    bool isHovered() const { return m_hover; }
    void setSelected(bool selected);
    bool isSelected() const { return m_selected; }
    QSize sizeHint() const override { return QSize(44, 44); }

protected:
    void paintEvent(QPaintEvent *event) override;
    void enterEvent(QEnterEvent *event) override;
    void leaveEvent(QEvent *event) override;

private:
    WorkspaceView::RailEntry m_entry;
    bool m_selected = false;
    bool m_hover = false;
};

} // namespace app
