#pragma once
// One session's transcript as the writer and the mentor see it, with the
// composer under it. Everything shown is read from the mentor model; the view
// keeps only the draft, the pointer's hover and the note waiting for its keep
// sheet. Rows are widgets keyed by the row's id: appended rows never rebuild
// the ones above, so a thinking block the writer opened stays open.

#include "engine/mentorsessionmodel.h"
#include "engine/views/researchkeepsheet.h"

#include <QHash>
#include <QPointer>
#include <QUrl>
#include <QUuid>
#include <QWidget>

#include <functional>
#include <optional>

class QLabel;
class QPlainTextEdit;
class QPushButton;
class QScrollArea;
class QTimer;
class QVBoxLayout;

namespace engine {

class ThinkingBlock;
class TranscriptRowWidget;

class SessionTranscriptView : public QWidget {
    Q_OBJECT
public:
    // A two-way binding to the stored "debug rows" choice; the host redraws
    // through setShowsDebugRows when it changes.
    struct DebugBinding {
        std::function<bool()> value;
        std::function<void(bool)> setValue;
    };

    SessionTranscriptView(MentorSessionModel &model, bool showsDebugRows, std::optional<DebugBinding> debugBinding,
                          std::optional<QString> home, QWidget *parent = nullptr);
    ~SessionTranscriptView() override;

    void setShowsDebugRows(bool shows);
    bool showsDebugRows() const { return m_showsDebugRows; }

    // The composer's draft; setting it is what typing does.
    QString draft() const;
    void setDraft(const QString &draft);
    // Sends the trimmed draft unless it is blank or a turn streams.
    void send();
    // Opens a link of a row; only web links go anywhere.
    static void openLink(const QUrl &url);
    // Opens the keep sheet for a research-note row.
    void keep(const QUuid &rowID, const review::ResearchCandidate &candidate);
    // The keep sheet while it is open.
    ResearchKeepSheet *keepSheet() const { return m_keepSheet; }

    // For tests: the row widget of a row, the composer's parts.
    TranscriptRowWidget *rowWidget(const QUuid &id) const { return m_rowWidgets.value(id); }
    QWidget *streamingRow() const;
    QString streamingText() const;
    QPlainTextEdit *composerField() const { return m_field; }
    QPushButton *sendButton() const { return m_send; }
    QWidget *workingPill() const { return m_pill; }
    QScrollArea *scrollArea() const { return m_scroll; }
    // Whether new rows keep the end of the transcript in sight.
    bool followsEnd() const { return m_followsEnd; }

    // Replaces how links open (tests record them instead).
    static void setLinkOpener(std::function<void(const QUrl &)> opener);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;

private:
    QString activeKey() const;
    const MentorSessionModel::SessionTranscript *transcript() const;
    void rebuildRows();
    void appendRows(qsizetype first, qsizetype count);
    void buildRowsBefore(qsizetype end);
    TranscriptRowWidget *makeRow(const SessionRow &row);
    void updateRow(qsizetype index);
    void updateStreaming();
    void updateEmphasis();
    void updateComposer();
    void updateDebugVisibility();
    void placePill();
    void keepEndInSight();
    void finishSend(bool appendedUserRow, const QString &sent);

    MentorSessionModel &m_model;
    bool m_showsDebugRows;
    std::optional<DebugBinding> m_debugBinding;
    std::optional<QString> m_home;

    QScrollArea *m_scroll = nullptr;
    QWidget *m_column = nullptr;
    QVBoxLayout *m_rows = nullptr;
    ThinkingBlock *m_liveThought = nullptr;
    QLabel *m_liveThoughtText = nullptr;
    QWidget *m_streamingText = nullptr;
    QList<QLabel *> m_streamingSegments;
    QTimer *m_streamFrame = nullptr;
    QWidget *m_composer = nullptr;
    QPlainTextEdit *m_field = nullptr;
    QPushButton *m_send = nullptr;
    QPushButton *m_debug = nullptr;
    QWidget *m_pill = nullptr;
    QPointer<ResearchKeepSheet> m_keepSheet;

    QHash<QUuid, TranscriptRowWidget *> m_rowWidgets;
    // Rows of the transcript not yet given a widget (built in the background
    // after a replay, oldest last).
    qsizetype m_unbuilt = 0;
    int m_generation = 0; // a rebuild stops the batches of the one before
    bool m_replayPending = false;
    std::optional<QUuid> m_emphasized;
    bool m_followsEnd = true;
    // While a send runs: whether it appended the writer's row.
    bool m_sending = false;
    bool m_sendAppendedUserRow = false;
};

} // namespace engine
