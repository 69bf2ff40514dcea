#include "app/workspaceview.h"

#include "app/state/appgatestate.h"
#include "app/symbols.h"
#include "app/workspacesheets.h"
#include "chrome/palette.h"
#include "chrome/workspacechrome.h"
#include "engine/enginegatemodel.h"
#include "engine/mentorsessionmodel.h"
#include "library/homelocation.h"
#include "model/postsmodel.h"
#include "profiles/hermessettingswriter.h"
#include "profiles/modelregistry.h"
#include "profiles/profileprovisioner.h"
#include "profiles/providerprobe.h"
#include "profiles/provisioningmodel.h"
#include "profiles/settingsmodel.h"

#include <QClipboard>
#include <QDesktopServices>
#include <QDragEnterEvent>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QMessageBox>
#include <QMimeData>
#include <QPainter>
#include <QPainterPath>
#include <QPushButton>
#include <QTimer>
#include <QVBoxLayout>

#include <utility>

namespace app {

using Visibility = EngineStatusSurface::Visibility;
using Pane = WorkspaceView::Pane;

// --- Rules -------------------------------------------------------------------------

namespace WorkspaceLayout {

int availableWidth(int windowWidth)
{
    return windowWidth - railWidth;
}

std::optional<int> focusPanelWidth(int windowWidth, bool focused, bool locked)
{
    if (!focused || locked)
        return std::nullopt;
    return railWidth + 1 + (focusPanelShowsLibrary(windowWidth) ? libraryColumnWidth : 0);
}

bool focusPanelShowsLibrary(int windowWidth)
{
    return windowWidth >= wideWindow;
}

bool cardShown(Visibility visibility, bool expanded, bool focused)
{
    return visibility == Visibility::failed && expanded && !focused;
}

QString installCommand()
{
    return QStringLiteral("curl -fsSL https://hermes-agent.nousresearch.com/install.sh | bash");
}

QString homeNotChangedInformative(const std::optional<QString> &lastError)
{
    if (lastError && !lastError->isEmpty())
        return *lastError;
    return QStringLiteral("An open piece could not be saved. Tend to it, then choose the folder again.");
}

} // namespace WorkspaceLayout

const QList<WorkspaceView::RailEntry> &WorkspaceView::railEntries()
{
    static const QList<RailEntry> entries{
        {Pane::posts, QStringLiteral("Posts"), QStringLiteral("doc.text"), QFont::Normal},
        {Pane::sessions, QStringLiteral("Sessions"), QStringLiteral("bubble.left"), QFont::Normal},
        {Pane::learnings, QStringLiteral("Learnings"), QStringLiteral("cube"), QFont::Light},
        {Pane::trends, QStringLiteral("Trends"), QStringLiteral("chart.xyaxis.line"), QFont::Normal},
        {Pane::archive, QStringLiteral("Archive"), QStringLiteral("archivebox"), QFont::Normal},
        {Pane::settings, QStringLiteral("Settings"), QStringLiteral("gearshape"), QFont::Light},
    };
    return entries;
}

const WorkspaceView::RailEntry &WorkspaceView::railEntry(Pane pane)
{
    return railEntries().at(int(pane));
}

QFont::Weight WorkspaceView::symbolWeight(QFont::Weight weight, bool selected)
{
    if (!selected)
        return weight;
    return weight == QFont::Light ? QFont::Normal : QFont::Medium;
}

// --- RailButton --------------------------------------------------------------------

RailButton::RailButton(const WorkspaceView::RailEntry &entry, QWidget *parent) : QAbstractButton(parent), m_entry(entry)
{
    setObjectName(entry.label);
    setFixedSize(44, 44);
    setToolTip(entry.label);
    setAccessibleName(entry.label);
    setAttribute(Qt::WA_Hover);
    setFocusPolicy(Qt::NoFocus);
}

void RailButton::setSelected(bool selected)
{
    if (m_selected == selected)
        return;
    m_selected = selected;
    update();
}

void RailButton::enterEvent(QEnterEvent *event)
{
    QAbstractButton::enterEvent(event);
    m_hover = true;
    update();
}

void RailButton::leaveEvent(QEvent *event)
{
    QAbstractButton::leaveEvent(event);
    m_hover = false;
    update();
}

void RailButton::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QRectF frame(rect());
    QPainterPath shape;
    shape.addRoundedRect(frame, 10, 10);
    QColor fill = Palette::ink();
    if (m_selected) {
        fill.setAlphaF(0.08);
        painter.fillPath(shape, fill);
        QColor border = Palette::inkMuted();
        border.setAlphaF(0.4);
        QPainterPath inner;
        inner.addRoundedRect(frame.adjusted(1, 1, -1, -1), 9, 9);
        painter.fillPath(shape.subtracted(inner), border);
    } else if (m_hover) {
        fill.setAlphaF(0.06);
        painter.fillPath(shape, fill);
    }
    const QRectF symbol(frame.center() - QPointF(8, 8), QSizeF(16, 16));
    Symbols::paint(painter, m_entry.systemImage, symbol, m_selected ? Palette::ink() : Palette::inkMuted(),
                   WorkspaceView::symbolWeight(m_entry.weight, m_selected));
}

// --- Placeholders ------------------------------------------------------------------

QWidget *WorkspaceView::placeholder(Pane pane)
{
    auto *view = new QWidget;
    view->setObjectName(QStringLiteral("placeholder:") + railEntry(pane).label);
    auto *column = new QVBoxLayout(view);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(0);
    column->addWidget(new PaneHeader(railEntry(pane).label, 20, std::nullopt, nullptr));
    column->addStretch(1);
    return view;
}

namespace {

// The hover panel of focus mode until its own view lands: a thin zone on the
// leading edge that reveals the panel, which hides again a moment after the
// pointer leaves.
class FocusPanelPlaceholder : public QWidget {
public:
    static constexpr int zoneWidth = 6;
    static constexpr int transitGraceMs = 140;

    FocusPanelPlaceholder(QWidget *content, int panelWidth, QWidget *parent)
        : QWidget(parent), m_content(content), m_panelWidth(panelWidth)
    {
        setObjectName(QStringLiteral("FocusOverlayPanel"));
        auto *layout = new QHBoxLayout(this);
        layout->setContentsMargins(0, 0, 0, 0);
        layout->addWidget(content);
        m_hide.setSingleShot(true);
        m_hide.setInterval(transitGraceMs);
        QObject::connect(&m_hide, &QTimer::timeout, this, [this] { reveal(false); });
        fillBackground(this, Palette::canvas());
        reveal(false);
    }
    void reveal(bool shown)
    {
        m_content->setVisible(shown);
        setFixedWidth(shown ? m_panelWidth : zoneWidth);
        setAutoFillBackground(shown);
    }

protected:
    void enterEvent(QEnterEvent *) override
    {
        m_hide.stop();
        reveal(true);
    }
    void leaveEvent(QEvent *) override { m_hide.start(); }

private:
    QWidget *m_content;
    int m_panelWidth;
    QTimer m_hide;
};

} // namespace

// --- Sheets ------------------------------------------------------------------------

// One sheet hung on the workspace: up while its condition on the library
// holds; closing it without an answer writes false to its binding.
struct WorkspaceView::SheetPresenter {
    std::function<bool()> presented;
    std::function<WorkspaceSheet *()> build;
    std::function<void()> writeFalse;
    QPointer<WorkspaceSheet> sheet;

    void update(QWidget *host)
    {
        const bool up = presented();
        if (up && !sheet) {
            sheet = build();
            sheet->setParent(host, sheet->windowFlags() | Qt::Sheet | Qt::Dialog);
            sheet->setAttribute(Qt::WA_DeleteOnClose);
            QObject::connect(sheet, &QDialog::finished, sheet, [this, closing = sheet.data()] {
                // Closed by itself: the question is put away. When the model
                // took it down, the binding is already false.
                if (sheet == closing) {
                    sheet = nullptr;
                    if (presented())
                        writeFalse();
                }
            });
            sheet->open();
        } else if (!up && sheet) {
            WorkspaceSheet *closing = sheet;
            sheet = nullptr;
            closing->close();
        }
    }
};

// --- WorkspaceView -----------------------------------------------------------------

WorkspaceView::WorkspaceView(AppGateState &gate, const Mount &mount, QWidget *parent)
    : QWidget(parent), m_gate(&gate), m_visibility(EngineStatusSurface::visibility(gate))
{
    setObjectName(QStringLiteral("WorkspaceView"));
    setMinimumSize(480, 320);
    setAcceptDrops(true);
    fillBackground(this, Palette::canvas());

    openUrl = [](const QUrl &url) { QDesktopServices::openUrl(url); };
    copyText = [](const QString &text) {
        QClipboard *clipboard = QGuiApplication::clipboard();
        clipboard->clear();
        clipboard->setText(text);
    };
    runAlert = [this](const QString &message, const QString &informative, const QString &button) {
        QMessageBox alert(this);
        alert.setText(message);
        alert.setInformativeText(informative);
        alert.addButton(button, QMessageBox::AcceptRole);
        alert.exec();
    };

    m_body = new QHBoxLayout(this);
    m_body->setContentsMargins(0, 0, 0, 0);
    m_body->setSpacing(0);
    buildRail();
    m_body->addWidget(m_chrome);
    m_paneHost = new QWidget;
    m_paneLayout = new QVBoxLayout(m_paneHost);
    m_paneLayout->setContentsMargins(0, 0, 0, 0);
    m_body->addWidget(m_paneHost, 1);
    if (mount)
        mount(*this);
    mountPane();

    model::PostsModel &posts = gate.posts();
    m_hadExternal = posts.externalSession() != nullptr;
    m_hadDraft = posts.draft().has_value();
    m_selectedPostID = posts.selectedPostID();

    connect(&gate.gateModel(), &engine::EngineGateModel::phaseChanged, this, &WorkspaceView::engineChanged);
    connect(&gate.provisioning(), &profiles::ProvisioningModel::lastFailureChanged, this,
            &WorkspaceView::engineChanged);
    connect(&gate, &AppGateState::isFocusedChanged, this, &WorkspaceView::updateFocusChrome);
    connect(&gate.writingLock(), &focus::WritingLockState::isLockedChanged, this, &WorkspaceView::updateFocusChrome);
    connect(&gate, &AppGateState::pennoraHomeChanged, this, [this] {
        if (m_shownOnce)
            runLibraryTask();
    });
    for (auto signal : {&model::PostsModel::externalSessionChanged, &model::PostsModel::draftChanged,
                        &model::PostsModel::selectedPostIDChanged})
        connect(&posts, signal, this, &WorkspaceView::followLibrary);

    m_sheets.push_back(std::make_unique<SheetPresenter>(
        SheetPresenter{[&posts] { return posts.pendingImportURLs().has_value(); },
                       [&posts] {
                           const int count = posts.pendingImportURLs() ? int(posts.pendingImportURLs()->size()) : 0;
                           return new OriginAskSheet(
                               count, [&posts](library::Post::Origin origin) { posts.importPendingFiles(origin); });
                       },
                       [&posts] { posts.clearPendingImports(); },
                       {}}));
    m_sheets.push_back(std::make_unique<SheetPresenter>(SheetPresenter{
        [&posts] { return posts.askNewProject(); },
        [&posts] {
            return new NewProjectSheet([&posts](const QString &name) { return posts.createProjectForNewDraft(name); });
        },
        [&posts] { posts.setAskNewProject(false); },
        {}}));
    m_sheets.push_back(std::make_unique<SheetPresenter>(
        SheetPresenter{[&posts] { return posts.outlineGuardPieceID().has_value(); },
                       [&posts] {
                           return new OutlineGuardSheet([&posts] { posts.answerOutlineGuard(true); },
                                                        [&posts] { posts.answerOutlineGuard(false); });
                       },
                       [&posts] { posts.dismissOutlineGuard(); },
                       {}}));
    m_sheets.push_back(std::make_unique<SheetPresenter>(
        SheetPresenter{[&posts] { return posts.pendingConversion().has_value(); },
                       [&posts] {
                           const bool lossy = posts.pendingConversion() ? posts.pendingConversion()->lossy : false;
                           return new ConvertSheet(lossy, [&posts](bool headings) { posts.convertToPost(headings); });
                       },
                       [&posts] { posts.setPendingConversion(std::nullopt); },
                       {}}));
    for (auto signal : {&model::PostsModel::pendingImportURLsChanged, &model::PostsModel::askNewProjectChanged,
                        &model::PostsModel::outlineGuardPieceIDChanged, &model::PostsModel::pendingConversionChanged})
        connect(&posts, signal, this, &WorkspaceView::updateSheets);

    updatePill();
    updateFocusChrome();
}

WorkspaceView::~WorkspaceView()
{
    for (const auto &presenter : m_sheets) {
        if (presenter->sheet) {
            WorkspaceSheet *sheet = presenter->sheet;
            presenter->sheet = nullptr;
            delete sheet;
        }
    }
}

void WorkspaceView::buildRail()
{
    m_chrome = new QWidget;
    m_chrome->setObjectName(QStringLiteral("railChrome"));
    auto *row = new QHBoxLayout(m_chrome);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(0);
    m_rail = new QWidget;
    m_rail->setObjectName(QStringLiteral("rail"));
    m_rail->setFixedWidth(WorkspaceLayout::railWidth);
    auto *column = new QVBoxLayout(m_rail);
    column->setContentsMargins(4, 8, 4, 8);
    column->setSpacing(8);
    const auto addButton = [this, column](Pane pane) {
        auto *button = new RailButton(railEntry(pane));
        button->setSelected(pane == m_selection);
        connect(button, &QAbstractButton::clicked, this, [this, pane] { select(pane); });
        column->addWidget(button, 0, Qt::AlignHCenter);
    };
    for (Pane pane : {Pane::posts, Pane::sessions, Pane::learnings, Pane::trends})
        addButton(pane);
    column->addStretch(1);
    m_pill = new EngineStatusPill(m_visibility, [this] {
        if (engineVisibility() == Visibility::failed)
            setStatusCardExpanded(true);
    });
    column->addWidget(m_pill, 0, Qt::AlignHCenter);
    for (Pane pane : {Pane::archive, Pane::settings})
        addButton(pane);
    row->addWidget(m_rail);
    QWidget *rule = hairline(Qt::Vertical);
    rule->setObjectName(QStringLiteral("railRule"));
    row->addWidget(rule);
}

RailButton *WorkspaceView::railButton(Pane pane) const
{
    for (RailButton *button : m_chrome->findChildren<RailButton *>()) {
        if (button->pane() == pane)
            return button;
    }
    return nullptr;
}

void WorkspaceView::setPaneFactory(Pane pane, PaneFactory factory)
{
    m_factories[pane] = std::move(factory);
    // Before the first pane is built there is nothing to build again.
    if (pane == m_selection && m_pane)
        mountPane();
}

void WorkspaceView::setLibraryColumnFactory(PaneFactory factory)
{
    m_libraryColumnFactory = std::move(factory);
    // A wide panel on show takes the new column at once.
    if (m_focusPanel && m_focusPanelWide) {
        dropFocusPanel();
        updateFocusChrome();
    }
}

void WorkspaceView::dropFocusPanel()
{
    // The rail outlives the panel it was lent to.
    m_chrome->setParent(this);
    m_chrome->hide();
    delete m_focusPanel.data();
}

void WorkspaceView::setFocusPanelFactory(FocusPanelFactory factory)
{
    m_focusPanelFactory = std::move(factory);
}

void WorkspaceView::select(Pane pane)
{
    if (pane == m_selection)
        return;
    m_selection = pane;
    for (RailButton *button : m_chrome->findChildren<RailButton *>())
        button->setSelected(button->pane() == pane);
    mountPane();
    // Any change of pane puts the Dedu Duvodo arm bar away.
    m_gate->writingLock().setShowsArmBar(false);
    emit selectionChanged();
}

void WorkspaceView::mountPane()
{
    if (m_pane) {
        m_paneLayout->removeWidget(m_pane);
        delete m_pane;
        m_pane = nullptr;
    }
    // The settings pane reads the profiles afresh each time it is entered.
    m_settingsModel = m_selection == Pane::settings ? buildSettingsModel(*m_gate) : nullptr;
    const auto factory = m_factories.find(m_selection);
    m_pane = factory != m_factories.end() && factory->second ? factory->second(*this) : placeholder(m_selection);
    m_paneLayout->addWidget(m_pane);
}

std::shared_ptr<profiles::SettingsModel> WorkspaceView::buildSettingsModel(AppGateState &gate)
{
    auto writer = std::make_shared<profiles::HermesSettingsWriter>(gate.gateModel().currentBinaryPath(),
                                                                   profiles::hermesProfilesRoot());
    auto model = std::make_shared<profiles::SettingsModel>(
        profiles::ModelRegistry::shared(), writer, std::nullopt, profiles::ProviderProbe::urlSessionTransport(),
        profiles::SettingsModel::kWriteDebounce, profiles::SettingsModel::defaultPortalAuthPath());
    model->onChatSurfaceWrite = [mentor = QPointer<engine::MentorSessionModel>(&gate.mentor())] {
        if (mentor)
            mentor->restartWhenIdle();
    };
    return model;
}

void WorkspaceView::setStatusCardExpanded(bool expanded)
{
    if (m_statusCardExpanded == expanded)
        return;
    m_statusCardExpanded = expanded;
    updateCard();
}

Visibility WorkspaceView::engineVisibility() const
{
    return EngineStatusSurface::visibility(*m_gate);
}

void WorkspaceView::engineChanged()
{
    const Visibility now = engineVisibility();
    if (now == m_visibility)
        return;
    m_visibility = now;
    // A failure opens the card by itself.
    if (now == Visibility::failed)
        m_statusCardExpanded = true;
    updatePill();
    updateCard();
}

void WorkspaceView::updatePill()
{
    m_pill->setVisibility(m_visibility);
    m_pill->setVisible(m_visibility != Visibility::hidden);
}

void WorkspaceView::updateCard()
{
    const bool shown = WorkspaceLayout::cardShown(m_visibility, m_statusCardExpanded, m_gate->isFocused());
    if (shown && !m_card) {
        m_card = new EngineStatusCard(
            *m_gate, [this] { setStatusCardExpanded(false); }, WorkspaceLayout::installCommand(), this);
        m_card->openUrl = [this](const QUrl &url) {
            if (openUrl)
                openUrl(url);
        };
        m_card->copyText = [this](const QString &text) {
            if (copyText)
                copyText(text);
        };
        connect(m_card, &EngineStatusCard::contentChanged, this, &WorkspaceView::placeCard);
        m_card->show();
        placeCard();
    } else if (!shown && m_card) {
        delete m_card.data();
    }
}

void WorkspaceView::placeCard()
{
    if (!m_card)
        return;
    m_card->resize(EngineStatusCard::cardWidth, m_card->heightForWidth(EngineStatusCard::cardWidth));
    m_card->move(WorkspaceLayout::cardLeading, height() - WorkspaceLayout::cardBottom - m_card->height());
    m_card->raise();
}

void WorkspaceView::updateFocusChrome()
{
    const bool focused = m_gate->isFocused();
    const std::optional<int> panelWidth =
        WorkspaceLayout::focusPanelWidth(width(), focused, m_gate->writingLock().isLocked());
    const bool wide = WorkspaceLayout::focusPanelShowsLibrary(width());
    if (m_focusPanel && (!panelWidth || wide != m_focusPanelWide))
        dropFocusPanel();
    if (!focused) {
        if (m_body->indexOf(m_chrome) < 0)
            m_body->insertWidget(0, m_chrome);
        m_chrome->show();
    } else {
        m_body->removeWidget(m_chrome);
        if (panelWidth && !m_focusPanel) {
            auto *content = new QWidget;
            auto *row = new QHBoxLayout(content);
            row->setContentsMargins(0, 0, 0, 0);
            row->setSpacing(0);
            row->addWidget(m_chrome);
            m_chrome->show();
            m_focusPanelWide = wide;
            if (wide) {
                QWidget *column = m_libraryColumnFactory ? m_libraryColumnFactory(*this) : nullptr;
                if (!column) {
                    column = new QWidget;
                    column->setObjectName(QStringLiteral("placeholder:PostsLibraryColumn"));
                    fillBackground(column, Palette::page());
                }
                column->setFixedWidth(WorkspaceLayout::libraryColumnWidth);
                row->addWidget(column);
            }
            m_focusPanel = m_focusPanelFactory ? m_focusPanelFactory(*this, content, *panelWidth)
                                               : new FocusPanelPlaceholder(content, *panelWidth, nullptr);
            m_focusPanel->setParent(this);
            m_focusPanel->show();
        } else if (!panelWidth) {
            m_chrome->setParent(this);
            m_chrome->hide();
        }
    }
    placeFocusPanel();
    updateCard();
}

void WorkspaceView::placeFocusPanel()
{
    if (!m_focusPanel)
        return;
    m_focusPanel->move(0, 0);
    m_focusPanel->setFixedHeight(height());
    m_focusPanel->raise();
    if (m_card)
        m_card->raise();
}

QDialog *WorkspaceView::presentedSheet() const
{
    for (const auto &presenter : m_sheets) {
        if (presenter->sheet)
            return presenter->sheet;
    }
    return nullptr;
}

void WorkspaceView::updateSheets()
{
    for (const auto &presenter : m_sheets)
        presenter->update(this);
}

void WorkspaceView::followLibrary()
{
    const model::PostsModel &posts = m_gate->posts();
    const bool hasExternal = posts.externalSession() != nullptr;
    const bool hasDraft = posts.draft().has_value();
    const bool selectionMoved = posts.selectedPostID() != m_selectedPostID;
    const bool bringForward =
        (hasExternal && !m_hadExternal) || (hasDraft && !m_hadDraft) || (selectionMoved && posts.session());
    m_hadExternal = hasExternal;
    m_hadDraft = hasDraft;
    m_selectedPostID = posts.selectedPostID();
    if (bringForward && !m_keepPane)
        select(Pane::posts);
}

void WorkspaceView::keepPaneInFront(const std::function<void()> &call)
{
    const bool outer = std::exchange(m_keepPane, true);
    call();
    m_keepPane = outer;
}

QString WorkspaceView::home() const
{
    return m_gate->pennoraHome();
}

bool WorkspaceView::setHome(const QString &home)
{
    if (m_gate->changeHome(home))
        return true;
    presentHomeNotChangedAlert();
    return false;
}

void WorkspaceView::presentHomeNotChangedAlert()
{
    if (library::HomeLocation::isRunningTests() || !runAlert)
        return;
    runAlert(QString::fromUtf8(WorkspaceLayout::homeNotChangedMessage),
             WorkspaceLayout::homeNotChangedInformative(m_gate->posts().lastError()),
             QString::fromUtf8(WorkspaceLayout::homeNotChangedButton));
}

bool WorkspaceView::handleDrop(const QList<QUrl> &urls)
{
    const bool taken = m_gate->acceptDroppedFiles(urls);
    if (taken)
        select(Pane::posts);
    return taken;
}

void WorkspaceView::runLibraryTask()
{
    ++m_libraryTaskRuns;
    model::PostsModel &posts = m_gate->posts();
    posts.startWatching(m_gate->pennoraHome());
    posts.rescanLater();
}

void WorkspaceView::showEvent(QShowEvent *event)
{
    QWidget::showEvent(event);
    if (m_shownOnce)
        return;
    m_shownOnce = true;
    runLibraryTask();
    updateSheets();
}

void WorkspaceView::resizeEvent(QResizeEvent *event)
{
    QWidget::resizeEvent(event);
    if (m_gate->isFocused())
        updateFocusChrome();
    placeFocusPanel();
    placeCard();
    emit availableWidthChanged(availableWidth());
}

void WorkspaceView::dragEnterEvent(QDragEnterEvent *event)
{
    if (event->mimeData()->hasUrls())
        event->acceptProposedAction();
}

void WorkspaceView::dragMoveEvent(QDragMoveEvent *event)
{
    if (event->mimeData()->hasUrls())
        event->acceptProposedAction();
}

void WorkspaceView::dropEvent(QDropEvent *event)
{
    if (!event->mimeData()->hasUrls())
        return;
    if (handleDrop(event->mimeData()->urls()))
        event->acceptProposedAction();
    else
        event->ignore();
}

} // namespace app
