#pragma once
// A small spinning arc for work under way.

#include <QWidget>

class QVariantAnimation;

namespace app {

// A small spinning arc, running only while on screen.
class BusyIndicator : public QWidget {
    Q_OBJECT
public:
    explicit BusyIndicator(int size, QWidget *parent = nullptr);
    bool isSpinning() const;

protected:
    void paintEvent(QPaintEvent *event) override;
    void showEvent(QShowEvent *event) override;
    void hideEvent(QHideEvent *event) override;

private:
    QVariantAnimation *m_spin;
};

} // namespace app
