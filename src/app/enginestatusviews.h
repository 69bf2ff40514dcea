#pragma once
// Where the engine stands, for the writer: the pill in the rail (pulsing
// while the engine is checked, a warning when something is wrong), the card
// that explains a missing engine or a failed profile set-up with the way
// out, and the one-line status of the mentor panes. The rules live in
// app/state/enginestatus.h; the views only draw them and call the models.

#include "app/state/enginestatus.h"

#include <QAbstractButton>
#include <QFrame>
#include <QMargins>
#include <QPixmap>
#include <QPointer>
#include <QUrl>
#include <functional>
#include <optional>

class QAbstractAnimation;
class QLabel;
class QPushButton;
class QVBoxLayout;
class QVariantAnimation;

namespace app {

class AppGateState;

class EngineStatusPill : public QAbstractButton {
    Q_OBJECT
public:
    static constexpr qreal dimOpacity = 0.35;
    static constexpr int pulseHalfMs = 550;

    EngineStatusPill(EngineStatusSurface::Visibility visibility, std::function<void()> onOpen,
                     QWidget *parent = nullptr);

    EngineStatusSurface::Visibility visibility() const { return m_visibility; }
    void setVisibility(EngineStatusSurface::Visibility visibility);
    std::function<void()> onOpen;

    // The dot's opacity now, and whether its fade runs.
    qreal dotOpacity() const { return m_dotOpacity; }
    bool isPulsing() const;
    QSize sizeHint() const override { return QSize(44, 44); }

protected:
    void paintEvent(QPaintEvent *event) override;
    void showEvent(QShowEvent *event) override;
    void hideEvent(QHideEvent *event) override;

private:
    void updatePulse();

    EngineStatusSurface::Visibility m_visibility;
    qreal m_dotOpacity = 1.0;
    QAbstractAnimation *m_pulse;
};

// The card's drop shadow, drawn from a pixmap made once per card size by a
// widget of its own just beneath the card. A graphics effect on the card
// would render the card and blur it again on every repaint of what lies
// under it (each keystroke in the editor), and fails to repaint its area
// when the card goes.
class CardShadow : public QWidget {
    Q_OBJECT
public:
    static constexpr int blurRadius = 16;
    static constexpr int offset = 4; // downwards
    // Around the card: where the shadow reaches.
    static constexpr QMargins margins{blurRadius, blurRadius - offset, blurRadius, blurRadius + offset};

    explicit CardShadow(QWidget *parent);
    // The shadow of a card of that size, for a device of that pixel ratio.
    static QPixmap shadowPixmap(QSize cardSize, qreal ratio);

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    QPixmap m_pixmap;
    QSize m_cardSize;
};

class EngineStatusCard : public QFrame {
    Q_OBJECT
public:
    static constexpr int cardWidth = 340;

    // The card's rules, under the names the card's users know.
    using Body = EngineStatusCardRules::Body;
    static Body body(const engine::EngineGateModel::Phase &phase,
                     const std::optional<profiles::ProfileProvisioner::Outcome> &lastFailure)
    {
        return EngineStatusCardRules::body(phase, lastFailure);
    }
    static QString title(const engine::EngineGateModel::Phase &phase) { return EngineStatusCardRules::title(phase); }
    static QString setupHeadline(profiles::ProfileProvisioner::Phase phase)
    {
        return EngineStatusCardRules::setupHeadline(phase);
    }
    static inline const QString &missingText = EngineStatusCardRules::missingText;
    static inline const QString &reassuranceText = EngineStatusCardRules::reassuranceText;
    static inline const QUrl &installationGuide = EngineStatusCardRules::installationGuide;

    // openUrl and copyText take the link and the install command; the
    // workspace passes its own, tests their recorders.
    EngineStatusCard(AppGateState &gate, std::function<void()> onCollapse, QString installCommand,
                     QWidget *parent = nullptr);
    ~EngineStatusCard() override;

    const QString &installCommand() const { return m_installCommand; }
    std::function<void()> onCollapse;
    std::function<void(const QUrl &)> openUrl;
    std::function<void(const QString &)> copyText;

    // "Re-check": the start-up check again. Returns at once.
    void recheck();
    // "Retry": provisioning with the engine path of the last passing check.
    // Returns at once.
    void retrySetup();
    // "Copy": the install command onto the clipboard as plain text.
    void copyInstallCommand();

    bool hasHeightForWidth() const override { return true; }
    int heightForWidth(int width) const override;
    // The shadow beneath the card, a sibling that follows it; null while the
    // card has no parent.
    CardShadow *shadow() const { return m_shadow; }

signals:
    // The body was built again, or a part of it opened or closed; its height
    // may differ.
    void contentChanged();

protected:
    bool event(QEvent *event) override;
    void paintEvent(QPaintEvent *event) override;
    void showEvent(QShowEvent *event) override;

private:
    void modelsChanged();
    // Builds the body again from the models; details start collapsed.
    void rebuild();
    void updateRecheck();
    // The shadow placed under the card again, made in its parent if needed.
    void followWithShadow();
    QWidget *engineMissingSection(const engine::EngineGateModel::Phase &phase);
    QWidget *setupFailedSection(const profiles::ProfileProvisioner::Outcome &failure);

    QPointer<AppGateState> m_gate;
    QString m_installCommand;
    QLabel *m_title;
    QVBoxLayout *m_bodyLayout;
    QWidget *m_body = nullptr;
    QPointer<QPushButton> m_recheck;
    QPointer<CardShadow> m_shadow;
};

// The mentor panes' one-line engine status.
class MentorEngineStatus : public QWidget {
    Q_OBJECT
public:
    // The line's rules, under the names the line's users know.
    using State = MentorEngineStatusRules::State;
    using GateView = MentorEngineStatusRules::GateView;
    static std::optional<GateView> viewOf(const AppGateState *gate) { return MentorEngineStatusRules::viewOf(gate); }
    static State state(const std::optional<GateView> &gate, const engine::MentorSessionModel::Phase &mentorPhase)
    {
        return MentorEngineStatusRules::state(gate, mentorPhase);
    }
    static QString displayVersion(const std::optional<QString> &mentorVersion, const std::optional<GateView> &gate)
    {
        return MentorEngineStatusRules::displayVersion(mentorVersion, gate);
    }
    static QString text(State state) { return MentorEngineStatusRules::text(state); }
    static QString tooltip(State state, const QString &displayVersion)
    {
        return MentorEngineStatusRules::tooltip(state, displayVersion);
    }

    // gate may be null.
    MentorEngineStatus(AppGateState *gate, engine::MentorSessionModel &model, QWidget *parent = nullptr);
    State state() const;

private:
    void rebuild();

    QPointer<AppGateState> m_gate;
    QPointer<engine::MentorSessionModel> m_model;
};

} // namespace app
