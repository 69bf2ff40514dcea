#pragma once
// The editor screen of the open text: a header (the text's location, Publish
// for a piece, the save state or the draft's save hint), the prose text view
// in a centred column, and the "File on Disk changed" alert. Ctrl+S saves at
// once; closing any window of the application saves the open text.
//
// Read (or the application's "Toggle Reading Mode", Ctrl+R) puts the rendered
// page in the text's place, scrolled to the caret's block; a click on a
// block, Edit or Ctrl+R again comes back with the caret at that block, or at
// the block last seen at the top. The text view stays as it was meanwhile,
// so its undo history and everything typed stay with it.
//
// A conflict is never resolved silently: closing the alert with Escape leaves
// it standing (nothing is written while it stands, the save-state dot says
// so, and clicking the dot opens the alert again); only "Reload" and "Keep
// Local" resolve it.

#include "editor/prose/prosedropbridge.h"
#include "editor/prose/readingcoordinator.h"
#include "editor/prose/views/readingview.h"
#include "model/editorsession.h"

#include <QDialog>
#include <QLabel>
#include <QList>
#include <QPointer>
#include <QWidget>

#include <functional>
#include <optional>

class QPushButton;
class QVBoxLayout;

namespace editor {

class ProseTextView;

// The save state with its dot; a standing conflict shows as a state of its
// own, and a click on it asks again.
class SaveStateDot : public QWidget {
    Q_OBJECT
public:
    struct Look {
        QString label;
        QColor colour;
        bool operator==(const Look &) const = default;
    };
    static Look lookOf(model::SaveState state, bool conflict);

    explicit SaveStateDot(QWidget *parent = nullptr);
    void setState(model::SaveState state, bool conflict);
    const Look &look() const { return m_look; }
    QSize sizeHint() const override;

signals:
    void clicked();

protected:
    void paintEvent(QPaintEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;

private:
    Look m_look;
    bool m_conflict = false;
};

// "File on Disk changed": Reload (the default) or Keep Local; Escape closes
// it without an answer.
class ConflictAlert : public QDialog {
    Q_OBJECT
public:
    ConflictAlert(const QString &message, QWidget *parent);
    QPushButton *reloadButton() const { return m_reload; }
    QPushButton *keepLocalButton() const { return m_keepLocal; }

signals:
    void reloadChosen();
    void keepLocalChosen();

private:
    QPushButton *m_reload;
    QPushButton *m_keepLocal;
};

class PostEditorView : public QWidget {
    Q_OBJECT
public:
    struct Inputs {
        // The open piece or outside file; none for a draft.
        model::EditorSession *session = nullptr;
        // The draft's text, for a draft only.
        std::optional<QString> draftText = {};
        // Stores a draft's new text (the posts pane's draft).
        std::function<void(const QString &text)> draftEdited = {};
        // Saves the draft as a new piece (Ctrl+S on a draft).
        std::function<void()> draftSave = {};
        // Opens the publish sheet; the Publish button shows only when given.
        std::function<void()> publish = {};
        // Dropped files: the app's drop routing; answers whether it took them.
        std::function<bool(const QList<QUrl> &urls)> routeDrop = {};
        // The bridge the app routes drops to the live text view through.
        ProseDropBridge *dropBridge = nullptr;
        // After every change of the text (the writing goal's word count).
        std::function<void(const QString &text)> onTextChange = {};
        // For an outline: builds the outline editor in the prose view's
        // place, over the session, or over the draft's text with the action
        // that takes its edits.
        std::function<QWidget *(model::EditorSession *session, const std::optional<QString> &draftText,
                                std::function<void(const QString &text)> draftEdited)>
            outlineEditor = {};
    };

    explicit PostEditorView(Inputs inputs, QWidget *parent = nullptr);
    ~PostEditorView() override;

    // The application's "Check Spelling While Typing".
    void setSpellChecking(bool on);
    // Focus mode: no header, the paper background, and the notice over the
    // text when a save failed or a draft has unsaved edits.
    void setFocused(bool focused);
    bool focused() const { return m_focused; }

    // The last four components of a piece's folder joined " / "; an outside
    // file's name; the draft's own words without a session.
    static QString locationLabel(const model::EditorSession *session);
    // The alert's message: the text's name (post.md for a piece) first.
    static QString conflictMessage(const model::EditorSession &session);

    // A new publish action for the same text (an editor kept while its pane
    // was rebuilt); the button shows only when the editor was made with one.
    void setPublish(std::function<void()> publish) { m_inputs.publish = std::move(publish); }

    // Ctrl+S: saves the session at once (a standing or new outside change
    // shows the alert instead), or saves the draft as a piece.
    void saveNow();
    // A draft's edit: mirrored, then handed to draftEdited.
    void draftDidEdit(const QString &text);
    // Opens the alert while a conflict stands.
    void showConflictAlert();

    // Between the text and its rendered page.
    void toggleReading();
    // Back to the text with the caret at location, or at the block last
    // seen at the top of the page, or at the start.
    void returnToEditing(std::optional<qint64> location = std::nullopt);
    bool isReading() const { return m_reading; }
    const ReadingStateBox &readingState() const { return m_readingState; }
    // The renderer run of the page (tests and benchmarks).
    void setReadingRunner(ReadingPresenter::Runner runner);
    // Makes the page's view; the web surface module by default (tests and
    // benchmarks link the surface in and make it themselves).
    static void setReadingViewFactory(ReadingViewFactory factory);
    // The page, once reading has begun.
    ReadingView *readingView() const { return m_surface; }
    QPushButton *readButton() const { return m_readButton; }

    model::EditorSession *session() const { return m_session; }
    // Null when the screen shows an outline.
    ProseTextView *proseTextView() const { return m_prose; }
    // The outline editor, or null for prose.
    QWidget *outlineEditor() const { return m_outline; }
    QWidget *header() const { return m_header; }
    QLabel *locationLabelWidget() const { return m_location; }
    SaveStateDot *saveStateDot() const { return m_dot; }
    QLabel *draftHint() const { return m_draftHint; }
    QPushButton *publishButton() const { return m_publish; }
    // The open alert, or null.
    ConflictAlert *conflictAlert() const { return m_alert; }
    QWidget *focusNotice() const { return m_notice; }
    const QString &draftMirror() const { return m_draftMirror; }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;
    void paintEvent(QPaintEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;
    void showEvent(QShowEvent *event) override;

private:
    void buildProse(QVBoxLayout *column);
    void updateSaveState();
    void conflictChanged();
    void updateNotice();
    // A window closed: save unless that would overwrite an outside change.
    void flushForClose();
    void updateReadButton();
    // The page's inputs from the open text.
    void feedReadingSurface();

    Inputs m_inputs;
    QPointer<model::EditorSession> m_session;
    QString m_draftMirror;
    bool m_focused = false;
    // The writer closed the alert without answering; it stays closed until
    // asked for again or a new conflict arises.
    bool m_alertDismissed = false;
    // A conflict arose while the screen was off (kept for a pane shown
    // again): asked about once it is back.
    bool m_askWhenShown = false;

    QWidget *m_header = nullptr;
    QLabel *m_location = nullptr;
    QPushButton *m_publish = nullptr;
    SaveStateDot *m_dot = nullptr;
    QLabel *m_draftHint = nullptr;
    ProseTextView *m_prose = nullptr;
    QWidget *m_outline = nullptr;
    QWidget *m_notice = nullptr;
    SaveStateDot *m_noticeDot = nullptr;
    QLabel *m_noticeHint = nullptr;
    QPointer<ConflictAlert> m_alert;

    QPushButton *m_readButton = nullptr;
    bool m_reading = false;
    qint64 m_flipToken = 0;
    ReadingStateBox m_readingState;
    ReadingView *m_surface = nullptr;
    // What the page stands in for while reading.
    QList<QPointer<QWidget>> m_hiddenForReading;
    ReadingPresenter::Runner m_readingRunner;
};

} // namespace editor
