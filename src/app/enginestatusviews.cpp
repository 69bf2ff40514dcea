#include "app/enginestatusviews.h"

#include "app/state/appgatestate.h"
#include "app/symbols.h"
#include "chrome/busyindicator.h"
#include "chrome/elidedlabel.h"
#include "chrome/palette.h"
#include "chrome/workspacechrome.h"
#include "profiles/provisioningmodel.h"

#include <QApplication>
#include <QClipboard>
#include <QDesktopServices>
#include <QGraphicsDropShadowEffect>
#include <QGraphicsPathItem>
#include <QGraphicsScene>
#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QPainterPath>
#include <QPushButton>
#include <QSequentialAnimationGroup>
#include <QToolButton>
#include <QVBoxLayout>
#include <QVariantAnimation>

namespace app {

using GatePhase = engine::EngineGateModel::Phase;
using Outcome = profiles::ProfileProvisioner::Outcome;

namespace {

QLabel *textLabel(const QString &text, int pixelSize, const QColor &colour, bool mono = false, bool wraps = true)
{
    QFont font = QApplication::font();
    font.setPixelSize(pixelSize);
    QLabel *label = plainLabel(text, mono ? Typeface::font(Typeface::mono(), pixelSize) : font, colour);
    label->setWordWrap(wraps);
    return label;
}

QColor withAlpha(QColor colour, qreal alpha)
{
    colour.setAlphaF(alpha);
    return colour;
}

void makeSelectable(QLabel *label)
{
    label->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
}

// A section of the card: a column, 12 between its members.
std::pair<QWidget *, QVBoxLayout *> sectionColumn(const QString &name)
{
    auto *section = new QWidget;
    section->setObjectName(name);
    auto *column = new QVBoxLayout(section);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(12);
    return {section, column};
}

// A button drawn as a link in the accent colour.
QPushButton *linkButton(const QString &title)
{
    auto *button = new QPushButton(title);
    button->setObjectName(title);
    button->setFlat(true);
    button->setAutoDefault(false);
    button->setCursor(Qt::PointingHandCursor);
    button->setStyleSheet(QStringLiteral("QPushButton { color: %1; border: none; padding: 0; font-size: 11px; }")
                              .arg(Palette::accent().name()));
    return button;
}

// A disclosure group: a titled toggle, collapsed at first, over its content.
QWidget *disclosureGroup(const QString &title, QWidget *content)
{
    auto *group = new QWidget;
    group->setObjectName(QStringLiteral("disclosure"));
    auto *layout = new QVBoxLayout(group);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(6);
    auto *toggle = new QToolButton;
    toggle->setObjectName(title);
    toggle->setText(title);
    // Not a checkable button: an open group shows its arrow turned down, not
    // a pressed button.
    toggle->setArrowType(Qt::RightArrow);
    toggle->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
    toggle->setAutoRaise(true);
    QFont font = QApplication::font();
    font.setPixelSize(11);
    toggle->setFont(font);
    layout->addWidget(toggle, 0, Qt::AlignLeft);
    layout->addWidget(content);
    content->setVisible(false);
    QObject::connect(toggle, &QToolButton::clicked, content, [toggle, content] {
        const bool open = content->isHidden();
        toggle->setArrowType(open ? Qt::DownArrow : Qt::RightArrow);
        content->setVisible(open);
    });
    return group;
}

// The card's outline: a rectangle with corners rounded by 12.
QPainterPath cardShape(const QRectF &rect)
{
    QPainterPath path;
    path.addRoundedRect(rect, 12, 12);
    return path;
}

} // namespace

// --- EngineStatusPill ----------------------------------------------------------

EngineStatusPill::EngineStatusPill(EngineStatusSurface::Visibility visibility, std::function<void()> onOpen,
                                   QWidget *parent)
    : QAbstractButton(parent), onOpen(std::move(onOpen)), m_visibility(visibility)
{
    setFixedSize(44, 44);
    setCursor(Qt::PointingHandCursor);
    setFocusPolicy(Qt::NoFocus);
    // Full to dim and back, 0.55 s each way, for as long as the dot shows.
    auto *pulse = new QSequentialAnimationGroup(this);
    for (const auto &[from, to] : {std::pair{1.0, dimOpacity}, std::pair{dimOpacity, 1.0}}) {
        auto *half = new QVariantAnimation(pulse);
        half->setStartValue(from);
        half->setEndValue(to);
        half->setDuration(pulseHalfMs);
        half->setEasingCurve(QEasingCurve::InOutQuad);
        connect(half, &QVariantAnimation::valueChanged, this, [this](const QVariant &value) {
            m_dotOpacity = value.toDouble();
            update();
        });
        pulse->addAnimation(half);
    }
    pulse->setLoopCount(-1);
    m_pulse = pulse;
    connect(this, &QAbstractButton::clicked, this, [this] {
        if (this->onOpen)
            this->onOpen();
    });
    setVisibility(visibility);
}

void EngineStatusPill::setVisibility(EngineStatusSurface::Visibility visibility)
{
    const bool wasPulsing = m_visibility == EngineStatusSurface::Visibility::pulsing;
    m_visibility = visibility;
    const QString tip = EngineStatusSurface::pillTooltip(visibility);
    setToolTip(tip);
    setAccessibleName(tip);
    // A dot that comes back starts again from full opacity.
    if (!wasPulsing && visibility == EngineStatusSurface::Visibility::pulsing)
        m_pulse->stop();
    updatePulse();
    update();
}

bool EngineStatusPill::isPulsing() const
{
    return m_pulse->state() == QAbstractAnimation::Running;
}

void EngineStatusPill::updatePulse()
{
    const bool dotShows = isVisible() && m_visibility == EngineStatusSurface::Visibility::pulsing;
    if (dotShows && !isPulsing()) {
        m_dotOpacity = 1.0;
        m_pulse->start();
    } else if (!dotShows && isPulsing()) {
        m_pulse->stop();
        m_dotOpacity = 1.0;
    }
}

void EngineStatusPill::showEvent(QShowEvent *event)
{
    QAbstractButton::showEvent(event);
    updatePulse();
}

void EngineStatusPill::hideEvent(QHideEvent *event)
{
    QAbstractButton::hideEvent(event);
    updatePulse();
}

void EngineStatusPill::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QRectF square = QRectF(rect()).adjusted(0, 0, 0, 0);
    switch (m_visibility) {
    case EngineStatusSurface::Visibility::hidden: break;
    case EngineStatusSurface::Visibility::pulsing:
        painter.setOpacity(m_dotOpacity);
        painter.setPen(Qt::NoPen);
        painter.setBrush(Palette::accent());
        painter.drawEllipse(square.center(), 4, 4);
        break;
    case EngineStatusSurface::Visibility::failed: {
        QPainterPath shape;
        shape.addRoundedRect(square, 10, 10);
        painter.fillPath(shape, withAlpha(Palette::accent(), 0.12));
        Symbols::paint(painter, QStringLiteral("exclamationmark.triangle.fill"),
                       QRectF(square.center() - QPointF(7.5, 7.5), QSizeF(15, 15)), Palette::accent());
        break;
    }
    }
}

// --- EngineStatusCard ----------------------------------------------------------

EngineStatusCard::EngineStatusCard(AppGateState &gate, std::function<void()> onCollapse, QString installCommand,
                                   QWidget *parent)
    : QFrame(parent), onCollapse(std::move(onCollapse)),
      openUrl([](const QUrl &url) { QDesktopServices::openUrl(url); }), copyText([](const QString &text) {
          QClipboard *clipboard = QGuiApplication::clipboard();
          clipboard->clear();
          clipboard->setText(text);
      }),
      m_gate(&gate), m_installCommand(std::move(installCommand))
{
    setObjectName(QStringLiteral("EngineStatusCard"));
    setFixedWidth(cardWidth);
    setAttribute(Qt::WA_TranslucentBackground, false);
    followWithShadow();

    auto *column = new QVBoxLayout(this);
    column->setContentsMargins(16, 16, 16, 16);
    column->setSpacing(12);

    auto *header = new QHBoxLayout;
    header->setSpacing(8);
    auto *symbol = new QLabel;
    symbol->setPixmap(Symbols::icon(QStringLiteral("exclamationmark.triangle.fill"), 16, Palette::accent()).pixmap(16));
    header->addWidget(symbol);
    m_title = new QLabel;
    m_title->setObjectName(QStringLiteral("title"));
    m_title->setTextFormat(Qt::PlainText);
    m_title->setFont(Typeface::font(Typeface::serif(), 15, QFont::DemiBold));
    header->addWidget(m_title);
    header->addStretch(1);
    auto *collapse = new QToolButton;
    collapse->setObjectName(QStringLiteral("collapse"));
    collapse->setAutoRaise(true);
    collapse->setIcon(Symbols::icon(QStringLiteral("chevron.down"), 10, Palette::inkMuted(), QFont::DemiBold));
    collapse->setToolTip(QStringLiteral("Collapse to the pill"));
    collapse->setAccessibleName(QStringLiteral("Collapse to the pill"));
    connect(collapse, &QToolButton::clicked, this, [this] {
        if (this->onCollapse)
            this->onCollapse();
    });
    header->addWidget(collapse);
    column->addLayout(header);

    m_bodyLayout = new QVBoxLayout;
    m_bodyLayout->setContentsMargins(0, 0, 0, 0);
    column->addLayout(m_bodyLayout);

    connect(&gate.gateModel(), &engine::EngineGateModel::phaseChanged, this, &EngineStatusCard::modelsChanged);
    connect(&gate.provisioning(), &profiles::ProvisioningModel::lastFailureChanged, this,
            &EngineStatusCard::modelsChanged);
    rebuild();
}

void EngineStatusCard::showEvent(QShowEvent *event)
{
    QFrame::showEvent(event);
    // Details start collapsed each time the card comes on screen.
    rebuild();
}

void EngineStatusCard::modelsChanged()
{
    // While a check runs the card keeps what it explained, its Re-check
    // turned into "Checking…".
    if (m_gate && m_body && m_gate->gateModel().phase().which() == GatePhase::Case::checking) {
        updateRecheck();
        return;
    }
    rebuild();
}

int EngineStatusCard::heightForWidth(int width) const
{
    return layout()->totalHeightForWidth(width);
}

EngineStatusCard::~EngineStatusCard()
{
    delete m_shadow.data();
}

bool EngineStatusCard::event(QEvent *event)
{
    const bool handled = QWidget::event(event);
    switch (event->type()) {
    case QEvent::LayoutRequest:
        // The card is placed by hand, so no parent layout hears that its
        // content grew (technical details opened): whoever places it is told
        // instead.
        emit contentChanged();
        break;
    case QEvent::Move:
    case QEvent::Resize:
    case QEvent::Show:
    case QEvent::Hide:
    case QEvent::ZOrderChange:
    case QEvent::ParentChange: followWithShadow(); break;
    default: break;
    }
    return handled;
}

void EngineStatusCard::followWithShadow()
{
    QWidget *parent = parentWidget();
    if (m_shadow && m_shadow->parentWidget() != parent)
        delete m_shadow.data();
    if (!parent)
        return;
    if (!m_shadow)
        m_shadow = new CardShadow(parent);
    m_shadow->setGeometry(geometry().marginsAdded(CardShadow::margins));
    m_shadow->stackUnder(this);
    m_shadow->setVisible(!isHidden());
}

void EngineStatusCard::rebuild()
{
    if (!m_gate)
        return;
    const GatePhase &phase = m_gate->gateModel().phase();
    const std::optional<Outcome> &failure = m_gate->provisioning().lastFailure();
    m_title->setText(title(phase));
    if (m_body) {
        // The old body may hold the button whose click got us here.
        m_bodyLayout->removeWidget(m_body);
        m_body->hide();
        m_body->setParent(nullptr);
        m_body->deleteLater();
        m_body = nullptr;
        m_recheck = nullptr;
    }
    switch (body(phase, failure)) {
    case Body::engineMissing: m_body = engineMissingSection(phase); break;
    case Body::setupFailed: m_body = setupFailedSection(*failure); break;
    case Body::none: break;
    }
    if (m_body) {
        m_bodyLayout->addWidget(m_body);
        m_body->show();
    }
    updateRecheck();
    emit contentChanged();
}

QWidget *EngineStatusCard::engineMissingSection(const GatePhase &phase)
{
    auto [section, column] = sectionColumn(QStringLiteral("engineMissing"));
    column->addWidget(textLabel(missingText, 13, Palette::inkMuted()));

    auto *guide = new QFrame;
    guide->setObjectName(QStringLiteral("guide"));
    guide->setStyleSheet(QStringLiteral("QFrame#guide { background: %1; border: 1px solid %2; border-radius: 8px; }")
                             .arg(Palette::canvas().name(), Palette::rule().name()));
    auto *steps = new QVBoxLayout(guide);
    steps->setContentsMargins(12, 12, 12, 12);
    steps->setSpacing(10);
    const auto stepRow = [](const QString &number, QWidget *content) {
        auto *row = new QHBoxLayout;
        row->setSpacing(8);
        QLabel *digit = textLabel(number, 13, Palette::inkMuted(), false, false);
        QFont font = digit->font();
        font.setStyleHint(QFont::Monospace);
        digit->setFont(font);
        row->addWidget(digit, 0, Qt::AlignTop);
        row->addWidget(content, 1, Qt::AlignTop);
        return row;
    };
    auto *first = new QWidget;
    auto *firstColumn = new QVBoxLayout(first);
    firstColumn->setContentsMargins(0, 0, 0, 0);
    firstColumn->setSpacing(4);
    QLabel *command = textLabel(m_installCommand, 11, Palette::ink(), true);
    command->setObjectName(QStringLiteral("installCommand"));
    makeSelectable(command);
    firstColumn->addWidget(command);
    QPushButton *copy = linkButton(QStringLiteral("Copy"));
    copy->setIcon(Symbols::icon(QStringLiteral("doc.on.doc"), 11, Palette::accent()));
    copy->setIconSize(QSize(11, 11));
    connect(copy, &QPushButton::clicked, this, &EngineStatusCard::copyInstallCommand);
    firstColumn->addWidget(copy, 0, Qt::AlignLeft);
    steps->addLayout(stepRow(QStringLiteral("1."), first));
    steps->addLayout(stepRow(QStringLiteral("2."),
                             textLabel(QStringLiteral("Come back here and click Re-check."), 12, Palette::ink())));
    QPushButton *link = linkButton(QStringLiteral("Installation guide"));
    connect(link, &QPushButton::clicked, this, [this] {
        if (openUrl)
            openUrl(installationGuide);
    });
    steps->addWidget(link, 0, Qt::AlignLeft);
    column->addWidget(guide);

    auto *recheckRow = new QHBoxLayout;
    m_recheck = new QPushButton;
    m_recheck->setObjectName(QStringLiteral("Re-check"));
    m_recheck->setMinimumWidth(120);
    tintProminent(m_recheck);
    auto *inner = new QHBoxLayout(m_recheck);
    inner->setContentsMargins(10, 0, 10, 0);
    inner->setSpacing(6);
    inner->addStretch(1);
    auto *spinner = new BusyIndicator(12);
    spinner->setObjectName(QStringLiteral("spinner"));
    inner->addWidget(spinner);
    auto *label = textLabel(QString(), 13, Palette::page(), false, false);
    label->setObjectName(QStringLiteral("label"));
    label->setAttribute(Qt::WA_TransparentForMouseEvents);
    inner->addWidget(label);
    inner->addStretch(1);
    m_recheck->setMinimumHeight(28);
    connect(m_recheck, &QPushButton::clicked, this, &EngineStatusCard::recheck);
    recheckRow->addWidget(m_recheck);
    recheckRow->addStretch(1);
    column->addLayout(recheckRow);

    // The excerpt, when there is one, hides with the probed path under
    // "Technical details"; otherwise the probed path stands alone.
    auto *details = new QWidget;
    auto *detailsColumn = new QVBoxLayout(details);
    detailsColumn->setContentsMargins(0, 0, 0, 0);
    detailsColumn->setSpacing(6);
    if (!phase.stderrExcerpt().isEmpty()) {
        QLabel *excerpt = textLabel(phase.stderrExcerpt(), 10, Palette::inkMuted(), true);
        excerpt->setObjectName(QStringLiteral("excerpt"));
        makeSelectable(excerpt);
        detailsColumn->addWidget(excerpt);
    }
    QLabel *probed =
        textLabel(QStringLiteral("Probed: ") + phase.firstProbePath(), 10, withAlpha(Palette::inkMuted(), 0.7), true);
    probed->setObjectName(QStringLiteral("probed"));
    detailsColumn->addWidget(probed);
    column->addWidget(phase.stderrExcerpt().isEmpty() ? details
                                                      : disclosureGroup(QStringLiteral("Technical details"), details));
    return section;
}

QWidget *EngineStatusCard::setupFailedSection(const Outcome &failure)
{
    auto [section, column] = sectionColumn(QStringLiteral("setupFailed"));
    QLabel *headline = textLabel(setupHeadline(failure.phase()), 11, Palette::inkMuted(), true);
    headline->setObjectName(QStringLiteral("headline"));
    column->addWidget(headline);
    if (failure.profile()) {
        QLabel *profile = textLabel(*failure.profile(), 10, withAlpha(Palette::inkMuted(), 0.7), true);
        profile->setObjectName(QStringLiteral("profile"));
        column->addWidget(profile);
    }
    column->addWidget(textLabel(reassuranceText, 13, Palette::inkMuted()));
    auto *retryRow = new QHBoxLayout;
    auto *retry = new QPushButton(QStringLiteral("Retry"));
    retry->setObjectName(QStringLiteral("Retry"));
    tintProminent(retry);
    retry->setMinimumHeight(28);
    connect(retry, &QPushButton::clicked, this, &EngineStatusCard::retrySetup);
    retryRow->addWidget(retry);
    retryRow->addStretch(1);
    column->addLayout(retryRow);
    if (!failure.excerpt().isEmpty()) {
        QLabel *excerpt = textLabel(failure.excerpt(), 10, Palette::inkMuted(), true);
        excerpt->setObjectName(QStringLiteral("excerpt"));
        makeSelectable(excerpt);
        column->addWidget(disclosureGroup(QStringLiteral("Technical details"), excerpt));
    }
    return section;
}

void EngineStatusCard::updateRecheck()
{
    if (!m_recheck || !m_gate)
        return;
    const bool checking = m_gate->gateModel().phase().which() == GatePhase::Case::checking;
    m_recheck->setEnabled(!checking);
    m_recheck->findChild<QLabel *>(QStringLiteral("label"))
        ->setText(checking ? QStringLiteral("Checking…") : QStringLiteral("Re-check"));
    m_recheck->findChild<BusyIndicator *>(QStringLiteral("spinner"))->setVisible(checking);
}

void EngineStatusCard::recheck()
{
    QCoro::Task<void> detached = [](QPointer<AppGateState> gate) -> QCoro::Task<void> {
        if (!gate)
            co_return;
        QCoro::Task<void> checking = gate->checkEngine();
        co_await std::move(checking);
    }(m_gate);
}

void EngineStatusCard::retrySetup()
{
    QCoro::Task<void> detached = [](QPointer<AppGateState> gate) -> QCoro::Task<void> {
        if (!gate)
            co_return;
        QCoro::Task<void> running = gate->provisioning().run(gate->gateModel().currentBinaryPath());
        co_await std::move(running);
    }(m_gate);
}

void EngineStatusCard::copyInstallCommand()
{
    if (copyText)
        copyText(m_installCommand);
}

void EngineStatusCard::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QRectF shape = QRectF(rect());
    const QPainterPath outer = cardShape(shape);
    QPainterPath inner;
    inner.addRoundedRect(shape.adjusted(1, 1, -1, -1), 11, 11);
    painter.fillPath(outer, Palette::page());
    painter.fillPath(outer.subtracted(inner), withAlpha(Palette::accent(), 0.5));
}

// --- CardShadow ---------------------------------------------------------------

CardShadow::CardShadow(QWidget *parent) : QWidget(parent)
{
    setObjectName(QStringLiteral("EngineStatusCardShadow"));
    setAttribute(Qt::WA_TransparentForMouseEvents);
    setFocusPolicy(Qt::NoFocus);
}

QPixmap CardShadow::shadowPixmap(QSize cardSize, qreal ratio)
{
    // The shadow a drop-shadow effect gives the card's shape, made once in a
    // scene of its own.
    const QRect bounds = QRect(QPoint(), cardSize).marginsAdded(margins);
    QGraphicsScene scene;
    auto *shape = new QGraphicsPathItem(cardShape(QRectF(QPointF(), cardSize)));
    shape->setPen(Qt::NoPen);
    shape->setBrush(Palette::page());
    auto *effect = new QGraphicsDropShadowEffect;
    effect->setColor(QColor(0, 0, 0, 84));
    effect->setBlurRadius(blurRadius);
    effect->setOffset(0, offset);
    shape->setGraphicsEffect(effect);
    scene.addItem(shape);
    QPixmap pixmap(bounds.size() * ratio);
    pixmap.setDevicePixelRatio(ratio);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    scene.render(&painter, QRectF(QPointF(), bounds.size()), QRectF(bounds));
    return pixmap;
}

void CardShadow::paintEvent(QPaintEvent *)
{
    const QSize cardSize = rect().marginsRemoved(margins).size();
    const qreal ratio = devicePixelRatioF();
    if (cardSize.isEmpty())
        return;
    if (m_pixmap.isNull() || m_cardSize != cardSize || m_pixmap.devicePixelRatio() != ratio) {
        m_pixmap = shadowPixmap(cardSize, ratio);
        m_cardSize = cardSize;
    }
    QPainter painter(this);
    painter.drawPixmap(0, 0, m_pixmap);
}

// --- MentorEngineStatus ---------------------------------------------------------

MentorEngineStatus::MentorEngineStatus(AppGateState *gate, engine::MentorSessionModel &model, QWidget *parent)
    : QWidget(parent), m_gate(gate), m_model(&model)
{
    auto *row = new QHBoxLayout(this);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(5);
    for (auto signal : {&engine::MentorSessionModel::phaseChanged, &engine::MentorSessionModel::engineVersionChanged,
                        &engine::MentorSessionModel::versionNoteChanged})
        connect(&model, signal, this, &MentorEngineStatus::rebuild);
    if (gate) {
        connect(&gate->gateModel(), &engine::EngineGateModel::phaseChanged, this, &MentorEngineStatus::rebuild);
        connect(&gate->provisioning(), &profiles::ProvisioningModel::lastFailureChanged, this,
                &MentorEngineStatus::rebuild);
    }
    rebuild();
}

MentorEngineStatus::State MentorEngineStatus::state() const
{
    return state(viewOf(m_gate), m_model->phase());
}

void MentorEngineStatus::rebuild()
{
    if (!m_model)
        return;
    auto *row = static_cast<QHBoxLayout *>(layout());
    while (QLayoutItem *item = row->takeAt(0)) {
        delete item->widget();
        delete item;
    }
    const std::optional<GateView> gate = viewOf(m_gate);
    const State now = state(gate, m_model->phase());
    const bool accent = now == State::engineMissing || now == State::setupFailed;
    if (now == State::checking)
        row->addWidget(new BusyIndicator(10));
    if (now == State::ready) {
        auto *dot = new QWidget;
        dot->setObjectName(QStringLiteral("dot"));
        dot->setFixedSize(6, 6);
        dot->setStyleSheet(QStringLiteral("background: %1; border-radius: 3px;").arg(Palette::success().name()));
        row->addWidget(dot);
    }
    QLabel *label = textLabel(text(now), 10, accent ? Palette::accent() : Palette::inkMuted(), true, false);
    label->setObjectName(QStringLiteral("text"));
    row->addWidget(label);
    if (now == State::ready && m_model->versionNote()) {
        // One line, shortened with an ellipsis where the row runs out; the
        // whole note is its tool tip.
        auto *note = new ElidedLabel(Qt::ElideRight);
        note->setObjectName(QStringLiteral("note"));
        note->setFont(Typeface::font(Typeface::mono(), 10));
        QPalette palette = note->palette();
        palette.setColor(QPalette::WindowText, Palette::systemOrange());
        note->setPalette(palette);
        note->setFullText(*m_model->versionNote());
        row->addWidget(note, 1);
    }
    setToolTip(tooltip(now, displayVersion(m_model->engineVersion(), gate)));
    // The spinner and ready rows are offered space before their neighbours.
    setSizePolicy(now == State::checking || now == State::ready ? QSizePolicy::Preferred : QSizePolicy::Maximum,
                  QSizePolicy::Fixed);
}

} // namespace app
