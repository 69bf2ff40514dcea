#pragma once
// The posts pane: the library column, the editor area and the mentor's place
// side by side, the column and then the mentor dropped as the pane narrows;
// in focus mode the editor area alone with the mentor in a panel at the
// trailing edge. The editor area shows the open draft, outside file or piece
// through an editor made by an injectable factory, kept while its identity
// key holds (moved, not rebuilt, between the two layouts, and handed to a
// keeper when the pane goes), or one of two empty states, with the library
// model's last error beneath. The pane also owns the publish sheet.

#include "model/postsmodel.h"
#include "panes/library/postspanecontent.h"
#include "panes/library/views/postslibrarycolumn.h"

#include <QDialog>
#include <QPointer>
#include <QWidget>
#include <functional>

class QLabel;
class QHBoxLayout;
class QVBoxLayout;

namespace panes {

// What the editor factory is asked to build.
struct PostsEditorRequest {
    PostsEditorContent content;
    model::PostsModel *model = nullptr;
    // The outside file's or the open piece's session; none for a draft.
    model::EditorSession *session = nullptr;
    // A draft's text and save actions; empty otherwise.
    std::function<void(const QString &text)> draftEdited;
    std::function<void()> draftSave;
    // Brings up the publish sheet; only an open library piece has it.
    std::function<void()> publish;
};

class PostsPaneView : public QWidget {
    Q_OBJECT
public:
    using EditorFactory = std::function<QWidget *(const PostsEditorRequest &request)>;
    using PlaceFactory = std::function<QWidget *()>;
    using SheetFactory = std::function<QDialog *(QWidget *parent)>;
    // Offered the shown editor when the pane goes away, with what it shows
    // and its session; it takes the editor by giving it another parent, or
    // leaves it to go with the pane.
    using EditorRelease =
        std::function<void(QWidget *editor, const PostsEditorContent &content, model::EditorSession *session)>;

    PostsPaneView(const QString &home, model::PostsModel *model, QWidget *parent = nullptr);
    ~PostsPaneView() override;

    // --- Inputs --------------------------------------------------------------
    // The width the workspace gives the pane; decides which columns show.
    void setAvailableWidth(double width);
    double availableWidth() const { return m_availableWidth; }
    void setFocusMode(bool focused);
    bool focusMode() const { return m_focused; }
    void setWritingLocked(bool locked);
    // The editor for a request; the default shows the open text's title and
    // location. Setting one rebuilds the shown editor.
    void setEditorFactory(EditorFactory factory);
    void setEditorRelease(EditorRelease release) { m_editorRelease = std::move(release); }
    // The mentor pane (356 wide); the default is a quiet placeholder.
    void setMentorFactory(PlaceFactory factory);
    // The publish sheet; the default is a placeholder sheet.
    void setPublishSheetFactory(SheetFactory factory);

    // --- State and parts -------------------------------------------------------
    PostsPaneColumns columns() const;
    const PostsEditorContent &editorContent() const { return m_content; }
    PostsLibraryColumn *libraryColumn() const { return m_column; }
    QWidget *mentorPlace() const { return m_mentor; }
    // The shown editor, none while an empty state shows.
    QWidget *editor() const { return m_editor; }
    QWidget *emptyState() const { return m_emptyState; }
    QLabel *emptyStateMessage() const { return m_emptyMessage; }
    QLabel *errorLine() const { return m_errorLine; }
    bool showingPublish() const { return m_publishSheet; }
    QDialog *publishSheet() const { return m_publishSheet; }
    void showPublish();

    // The default editor.
    static QWidget *editorPlaceholder(const PostsEditorRequest &request);

signals:
    // The focused layout went away: the writing lock's arm bar is hidden.
    void focusedLayoutLeft();

protected:
    void resizeEvent(QResizeEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void rebuild();
    void refreshColumns();
    void refreshContent(bool force);
    void refreshError();
    // An error the library reported while a disk conflict stood is that
    // conflict's (every write waits for its answer): it goes with it.
    void watchConflicts();
    void conflictSettled();
    bool conflictStands() const;
    void placeMentorOverlay();
    PostsEditorRequest request() const;
    // The model's session behind an editor for that case, if any.
    model::EditorSession *sessionFor(PostsEditorContent::Case which) const;
    QWidget *rule() const;

    QString m_home;
    QPointer<model::PostsModel> m_model;
    double m_availableWidth = 0;
    bool m_focused = false;
    bool m_locked = false;
    EditorFactory m_editorFactory;
    EditorRelease m_editorRelease;
    PlaceFactory m_mentorFactory;
    SheetFactory m_publishFactory;
    PostsEditorContent m_content;

    QHBoxLayout *m_row;
    QPointer<PostsLibraryColumn> m_column;
    QPointer<QWidget> m_columnRule;
    QPointer<QWidget> m_mentor;
    QPointer<QWidget> m_mentorRule;
    QPointer<QWidget> m_hoverZone;
    QWidget *m_editorArea = nullptr;
    QVBoxLayout *m_editorLayout = nullptr;
    QPointer<QWidget> m_editor;
    // The session the editor was made with; the model may replace it under
    // the same key (a move reopens the piece's session).
    QPointer<model::EditorSession> m_editorSession;
    QPointer<QWidget> m_emptyState;
    QLabel *m_emptyMessage = nullptr;
    QLabel *m_errorLine = nullptr;
    QPointer<QDialog> m_publishSheet;
    std::optional<QString> m_conflictError;
    QList<QMetaObject::Connection> m_conflictWatches;
};

} // namespace panes
