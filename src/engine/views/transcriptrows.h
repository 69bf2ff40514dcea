#pragma once
// The look of each transcript row: the mentor's replies (inline Markdown),
// the writer's bubbles, notices and warnings, thinking blocks, fix-card
// events, research notes with Keep and Reject, and raw engine updates. A row
// widget belongs to one row id and keeps its own disclosure state.

#include "engine/sessionrow.h"

#include <QColor>
#include <QFont>
#include <QUrl>
#include <QWidget>

#include <functional>

class QLabel;
class QPushButton;
class QVBoxLayout;

namespace engine {

namespace TranscriptLook {
QFont valkyrie(int pixelSize);
QFont concourse(int pixelSize);
QFont mono(int pixelSize, QFont::Weight weight = QFont::Normal);
// colour at opacity, for fills over the pane.
QColor faded(const QColor &colour, qreal opacity);
} // namespace TranscriptLook

// A rounded rectangle behind its layout's content, with an optional border.
class RoundedBox : public QWidget {
    Q_OBJECT
public:
    RoundedBox(int radius, QColor fill, QWidget *parent = nullptr);
    void setFill(const QColor &fill);
    void setBorder(const QColor &border); // invalid: none
    // The bubble's corner: every corner round but the bottom right.
    void setSharpBottomRight(int radius);

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    int m_radius;
    int m_bottomRight;
    QColor m_fill;
    QColor m_border;
};

// The body of a research note: title, address, note and quote.
class ResearchNoteContent : public QWidget {
    Q_OBJECT
public:
    explicit ResearchNoteContent(const review::ResearchCandidate &candidate, QWidget *parent = nullptr);
};

// What a row needs from the transcript besides its row.
struct RowContext {
    bool emphasized = false;
    const SessionRow *previous = nullptr;
    double paneWidth = 356;
    bool actions = false; // research notes offer Keep and Reject
    std::function<void()> keep;
    std::function<void()> reject;
    std::function<void(const QUrl &)> openLink;
};

class TranscriptRowWidget : public QWidget {
    Q_OBJECT
public:
    const QUuid &rowID() const { return m_id; }
    // A warning's emphasis follows the transcript's last row.
    virtual void setEmphasized(bool emphasized, const SessionRow *previous);
    // A research note's disposition changed.
    virtual void setRow(const SessionRow &row);
    virtual void setPaneWidth(double paneWidth);
    // Thinking blocks and raw updates open and close.
    virtual bool isExpanded() const { return false; }
    virtual void setExpanded(bool) {}

protected:
    TranscriptRowWidget(const QUuid &id, QWidget *parent);

private:
    QUuid m_id;
};

TranscriptRowWidget *makeRowWidget(const SessionRow &row, const RowContext &context, QWidget *parent = nullptr);

// The live thinking block under the last row: spinner, open at first, its
// text shown as plain text.
class ThinkingBlock : public QWidget {
    Q_OBJECT
public:
    ThinkingBlock(bool live, bool expanded, QWidget *parent = nullptr);
    // Rich text of the thought (a stored thought) or plain (the live one).
    void setRichText(const QString &html);
    void setPlainText(const QString &text);
    bool isExpanded() const { return m_expanded; }
    void setExpanded(bool expanded);
    QPushButton *header() const { return m_header; }

private:
    bool m_live;
    bool m_expanded;
    QPushButton *m_header;
    RoundedBox *m_box;
    QLabel *m_text;
};

} // namespace engine
