#pragma once
// The prose editor's text surface: a ProseListTextView on an editing session
// or a draft, styled by the highlighter and laid out by the prose layout.
// Text flows from the session into the view only when the session's load
// generation moves; between loads the view is the authority and hands every
// change the writer makes to the session (or the draft's owner). Text put in
// from code (a load, a reload, a replaced text) is never handed back.
// A view made over a session another view has shown (the same generation)
// takes up the writer's place: the session's text, caret and scroll.
//
// The two selection rules and the centring rule are plain functions, usable
// without a window.

#include "editor/prose/prosedropbridge.h"

#include <QPointer>
#include <QString>
#include <QWidget>

#include <functional>
#include <optional>

class QLineEdit;
class QLabel;
class QPropertyAnimation;

namespace model {
class EditorSession;
}

namespace editor {

class ProseDocumentLayout;
class ProseHighlighter;
class ProseListTextView;

class ProseTextView : public QWidget {
    Q_OBJECT
public:
    // A one-time caret request: applied once per token.
    struct CaretHint {
        qsizetype location = 0;
        qint64 token = 0;
    };
    struct Selection {
        qsizetype location = 0;
        qsizetype length = 0;
        double scrollOffset = 0;
        bool operator==(const Selection &) const = default;
    };
    struct StoredCursor {
        qint64 location = 0;
        qint64 length = 0;
        double scrollOffset = 0;
    };
    using TextAction = std::function<void(const QString &text)>;
    using FileDrop = std::function<bool(const QList<QUrl> &urls)>;

    static constexpr double kTypewriterSlack = 60;
    // The room above the text: the page's top margin. Only the room below
    // grows with the view (half its height, so the last line can come up
    // to the middle); a room above of half the view put the title mid-view.
    static constexpr double kTopRoom = 46;

    explicit ProseTextView(QWidget *parent = nullptr);
    ~ProseTextView() override;

    // The selection after a load: the stored cursor clamped to the text of
    // length length; an empty one moves on to the first content line when
    // that starts after it. No stored cursor: the top of the text.
    static Selection restoredSelection(qsizetype length, const std::optional<StoredCursor> &stored,
                                       std::optional<qsizetype> firstContentLine);
    // Where a caret request lands: at least 0 and the first content line,
    // at most the end.
    static qsizetype hintCaret(qsizetype length, qsizetype location, std::optional<qsizetype> firstContentLine);
    // The scroll value that puts the caret line's middle in the middle of the
    // view, when it is more than kTypewriterSlack away and the move is above
    // half a pixel; within 0 ... maximum.
    static std::optional<int> centringScroll(double caretMiddle, int scroll, int viewportHeight, int maximum);

    // The session whose text is shown; its load generation drives reloads.
    void setSession(model::EditorSession *session);
    model::EditorSession *session() const { return m_session; }
    // Without a session: the draft text, loaded whenever it differs from the
    // view's text.
    void setDraft(const std::optional<QString> &draft);
    // Every change the writer makes without a session.
    void setOnEdit(TextAction action) { m_onEdit = std::move(action); }
    // Every change the writer makes.
    void setOnTextChange(TextAction action) { m_onTextChange = std::move(action); }
    void setSpellChecking(bool on);
    bool spellChecking() const { return m_spellChecking; }
    // Focus mode: the paper background instead of the page.
    void setFocused(bool focused);
    void setCaretHint(const std::optional<CaretHint> &hint);
    void setIngestFolder(const std::optional<QString> &folder);
    // The bridge that routed drops reach this view through, while it lives.
    void setDropBridge(ProseDropBridge *bridge);
    // Dropped files (URLs); answers whether they were taken.
    void setRouteDrop(FileDrop route);

    ProseListTextView *textView() const { return m_text; }
    ProseHighlighter *highlighter() const { return m_highlighter; }
    ProseDocumentLayout *documentLayout() const { return m_layout; }
    qint64 loadedGeneration() const { return m_loadedGeneration; }

    // The find bar (Ctrl+F): shown, its field focused.
    void showFindBar();
    QWidget *findBar() const { return m_findBar; }
    // Finds text from the caret on (backwards when asked), wrapping at the
    // end; selects and reveals it. False when the text holds none.
    bool find(const QString &text, bool backwards = false);

    // Gives the text the keyboard, now when it is on screen, otherwise as
    // soon as it shows (a view moved to a new place has lost it).
    void focusText();

protected:
    void showEvent(QShowEvent *event) override;

private:
    void load();
    // Replaces the view's text from code: never forwarded as an edit.
    void replaceViewText(const QString &text);
    void applyCaretHint();
    void userChanged();
    void recordCursor();
    // True when the room below changed.
    bool applyInsets();
    void centreCaret();
    void revealLater(std::optional<double> scrollOffset);
    void applyBackground();

    ProseListTextView *m_text = nullptr;
    ProseDocumentLayout *m_layout = nullptr;
    ProseHighlighter *m_highlighter = nullptr;
    QWidget *m_findBar = nullptr;
    QLineEdit *m_findField = nullptr;
    QLabel *m_findStatus = nullptr;
    QPropertyAnimation *m_centring = nullptr;

    QPointer<model::EditorSession> m_session;
    std::optional<QString> m_draft;
    TextAction m_onEdit;
    TextAction m_onTextChange;
    bool m_spellChecking = false;
    bool m_focused = false;
    std::optional<CaretHint> m_caretHint;
    ProseDropBridge *m_dropBridge = nullptr;

    qint64 m_loadedGeneration = -1;
    // The deferred scroll of the last load has run: the scroll bar says
    // where the writer is.
    bool m_revealed = false;
    qreal m_roomBelow = -1;
    // A focus asked for while off screen, given on the next show.
    bool m_focusOnShow = false;
    qint64 m_appliedCaretToken = -1;
    bool m_replacing = false;
    // The text as last handed out or put in: a change notice that leaves it
    // equal (a restyle) is no edit.
    QString m_knownText;
};

} // namespace editor
