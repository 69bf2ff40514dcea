#pragma once
// The fixed colours and the two typefaces every view takes its look from:
// warm paper and ink, the same in a dark desktop theme.

#include <QColor>
#include <QFont>
#include <QString>

namespace app {

struct Palette {
    static QColor canvas() { return QColor(250, 249, 243); } // windows, panes, cards
    static QColor page() { return QColor(255, 254, 251); }   // the writing surface, raised fills
    static QColor ink() { return QColor(26, 25, 22); }       // primary text
    static QColor inkMuted() { return QColor(107, 105, 100); }
    static QColor rule() { return QColor(232, 229, 223); } // hairlines and borders
    static QColor accent() { return QColor(201, 100, 66); }
    static QColor success() { return QColor(54, 102, 79); }
    // The desktop's standard orange, for warnings and failed results.
    static QColor systemOrange() { return QColor(255, 149, 0); }
};

struct Typeface {
    // Font families, resolved once (Charis SIL and JetBrains Mono when
    // installed, else the system's serif and fixed faces). Needs a
    // QGuiApplication.
    static const QString &serif();
    static const QString &mono();
    // wanted when installed, else the system's face for the hint (Serif or
    // Monospace).
    static QString resolve(const QString &wanted, QFont::StyleHint hint);
    // A font of that family at a pixel size and weight.
    static QFont font(const QString &family, int pixelSize, QFont::Weight weight = QFont::Normal);
};

} // namespace app
