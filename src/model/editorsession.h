#pragma once
// One open text: the body of a piece in the Home or a Markdown file outside
// the library. It holds the editor's text, saves it a pause after the last
// edit, tracks whether the disk holds that text, raises a conflict when the
// file changed underneath, and hands the editor the stored caret position.
//
// Lives on the main thread; every operation runs there. The autosave's disk
// check and write run on one writer thread for every session, a copy of the
// text in hand, so typing never waits for the disk; a session has at most one
// write in flight, and every other operation that reads or writes the disk
// first waits for it, so writes land in the order they were asked for.
// Setters notify only on a real change (onError and each loadGeneration step
// always notify).

#include "library/piececontents.h"

#include <QDateTime>
#include <QFutureWatcher>
#include <QObject>
#include <QString>
#include <QTimer>
#include <chrono>
#include <functional>
#include <optional>

namespace model {

// What a session edits. No equality of its own: compare the parts.
class SessionTarget {
public:
    enum class Kind { post, externalFile };

    // The body of the piece folder id in the Home folder home.
    static SessionTarget post(const QString &id, const QString &home);
    // A Markdown file outside the library.
    static SessionTarget externalFile(const QString &path);

    Kind kind() const { return m_kind; }
    // Empty unless post.
    const QString &id() const { return m_id; }
    const QString &home() const { return m_home; }
    // Empty unless externalFile.
    const QString &filePath() const { return m_filePath; }
    // True for the post case on id in home (texts compared exactly).
    bool isPiece(const QString &id, const QString &home) const;

private:
    Kind m_kind = Kind::post;
    QString m_id;
    QString m_home;
    QString m_filePath;
};

// saved: the text equals what was last written to or read from disk;
// changed: it differs; failed: the last write failed.
enum class SaveState { saved, changed, failed };

class EditorSession : public QObject {
    Q_OBJECT
    Q_PROPERTY(QString folderPath READ folderPath CONSTANT)
    Q_PROPERTY(QString text READ text NOTIFY textChanged)
    Q_PROPERTY(model::SaveState saveState READ saveState NOTIFY saveStateChanged)
    Q_PROPERTY(bool conflictAlert READ conflictAlert NOTIFY conflictAlertChanged)
    Q_PROPERTY(qint64 loadGeneration READ loadGeneration NOTIFY loadGenerationChanged)
    Q_PROPERTY(QString loadText READ loadText NOTIFY loadTextChanged)
    Q_PROPERTY(std::optional<library::PostStore::CursorState> restoreCursor READ restoreCursor WRITE setRestoreCursor
                   NOTIFY restoreCursorChanged)
    Q_PROPERTY(library::PostStore::CursorState cursor READ cursor WRITE setCursor NOTIFY cursorChanged)
    Q_PROPERTY(QString lastFlushedText READ lastFlushedText NOTIFY lastFlushedTextChanged)
    Q_PROPERTY(bool autosavePending READ autosavePending NOTIFY autosavePendingChanged)
    Q_PROPERTY(bool loadFailed READ loadFailed CONSTANT)

public:
    using CursorState = library::PostStore::CursorState;
    // Called after each write attempt and after a reload: the failure's
    // description when a write failed, none otherwise.
    using ErrorAction = std::function<void(const std::optional<QString> &message)>;

    // Reads the text (and, for a piece, the stored cursor) at once; CR LF
    // becomes LF in a piece's body as in an outside file. An unreadable text
    // opens as "" with loadFailed, and is never written.
    EditorSession(SessionTarget target, std::chrono::milliseconds debounce, QObject *parent = nullptr);
    // Drops a pending autosave (owners flush first when the text matters);
    // a write in flight lands first.
    ~EditorSession() override;

    const SessionTarget &target() const { return m_target; }
    std::chrono::milliseconds debounce() const { return m_debounce; }
    // The folder holding the text: the piece folder (<home>/projects/posts/<id>
    // when none is found), or the outside file's folder.
    const QString &folderPath() const { return m_folderPath; }
    const QString &text() const { return m_text; }
    SaveState saveState() const { return m_saveState; }
    bool conflictAlert() const { return m_conflictAlert; }
    // Counts replacements of the whole text from outside the editor; views
    // reload from loadText when it moves past the value they applied.
    qint64 loadGeneration() const { return m_loadGeneration; }
    const QString &loadText() const { return m_loadText; }
    const std::optional<CursorState> &restoreCursor() const { return m_restoreCursor; }
    const CursorState &cursor() const { return m_cursor; }
    const QString &lastFlushedText() const { return m_lastFlushedText; }
    // True from an edit until its autosave has run, its write included.
    bool autosavePending() const { return m_autosavePending; }
    bool loadFailed() const { return m_loadFailed; }
    const ErrorAction &onError() const { return m_onError; }
    // Moves each time lastFlushedText is taken from the disk anew: a write, a
    // reload, Keep Local. A disk text read before the latest move is stale.
    quint64 diskSyncCount() const { return m_diskSyncCount; }

    // Written by the editor views.
    void setCursor(const CursorState &cursor);
    void setRestoreCursor(const std::optional<CursorState> &cursor);
    void dismissConflictAlert();
    // Always notifies.
    void setOnError(ErrorAction action);

    // Stores the editor's text and restarts the autosave wait (also when the
    // text is the same).
    void textDidChange(const QString &text);
    // changed <-> saved as text meets lastFlushedText; failed stays.
    void updateSaveState();
    // Cancels the autosave, lets a write in flight land, and writes the text
    // when it differs from lastFlushedText; the text is on disk when it
    // answers true. False when the write failed, or when another program
    // saved the file while it was being replaced (its save is put back and
    // the alert raised). Does not look at conflictAlert: an explicit save
    // writes regardless.
    bool flush();
    // The pending autosave, if any, is dropped without a write (a write
    // already in flight still lands).
    void cancelAutosave();
    // True while the editor's text may be nowhere on disk: unsaved edits, or
    // an outside change the writer has not answered.
    bool holdsUnsavedText() const;
    // For a quit that cannot wait for the writer's answer: writes the text
    // beside its file as "<name>.conflict-<yyyyMMdd-HHmmss>.md" (-2, -3 ...
    // when taken), never replacing anything and leaving the file itself as
    // it is. Answers the path written. Throws foundation::Error.
    QString writeConflictCopy(const QDateTime &now = QDateTime::currentDateTime());
    // Waits until every session's write in flight is on disk (its outcome
    // reaches its session later, on the main thread): for writes of the same
    // files that do not go through a session.
    static void waitForWrites();
    // The guard before any write the writer did not ask for (a library
    // action's flush, a window closing): lets a write in flight land, then
    // true when the alert stands, or when the disk's text differs from both
    // lastFlushedText and text, which raises the alert. False without reading
    // when there is nothing to write. The autosave makes the same check on
    // the writer thread.
    bool diskChangedUnderneath();
    // The text now on disk (for a piece, its body): raises the alert unless
    // it equals lastFlushedText or text.
    void diskDidChange(const QString &diskText);
    // The alert's "Reload": the disk's text replaces the editor's.
    void reloadFromDisk();
    // The alert's "Keep Local": the editor's text stays, to be written at the
    // next flush.
    void keepLocal();
    // How every text from outside the library is read: strict UTF-8 with a
    // leading byte-order mark dropped and CR LF turned into LF (a lone CR
    // stays). Throws foundation::fs::FileError.
    static QString readOutsideFile(const QString &path);

    // Replaces the whole text and saves it at once. False when the text never
    // loaded (nothing changes) or the write failed.
    bool replaceText(const QString &text);

signals:
    void textChanged();
    void saveStateChanged();
    void conflictAlertChanged();
    void loadGenerationChanged();
    void loadTextChanged();
    void restoreCursorChanged();
    void cursorChanged();
    void lastFlushedTextChanged();
    void autosavePendingChanged();
    void onErrorChanged();

private:
    // One write as the writer thread runs it: plain values only.
    struct WriteRequest {
        SessionTarget target;
        QString text;
        QString lastFlushedText;
        // The autosave's guard: a text on disk that is neither
        // lastFlushedText nor text is an outside change, not overwritten.
        bool checkDiskFirst = false;
        CursorState cursor;
    };
    struct WriteOutcome {
        enum class Kind { written, outsideChange, failed };
        Kind kind = Kind::failed;
        QString error; // failed only
    };

    std::optional<QString> readTargetText() const;
    std::optional<CursorState> readTargetCursor() const;
    WriteRequest writeRequest(bool checkDiskFirst) const;
    // On any thread: writes the piece body under its front matter (and the
    // cursor beside it) or the outside file. Never throws.
    static WriteOutcome writeToDisk(const WriteRequest &request);
    void applyWrite(const WriteOutcome &outcome, const QString &written);
    // Waits for the write in flight, if any, and applies its outcome.
    void settleWrite();
    void writeFinished();
    void updateAutosavePending();
    void autosave();
    void bumpLoadGeneration();
    void reportError(const std::optional<QString> &message);

    void setText(const QString &text);
    void setSaveState(SaveState state);
    void setConflictAlert(bool alert);
    void setLoadText(const QString &text);
    void setLastFlushedText(const QString &text);
    void setAutosavePending(bool pending);
    const SessionTarget m_target;
    const std::chrono::milliseconds m_debounce;
    QString m_folderPath;
    QString m_text;
    SaveState m_saveState = SaveState::saved;
    bool m_conflictAlert = false;
    qint64 m_loadGeneration = 0;
    QString m_loadText;
    std::optional<CursorState> m_restoreCursor;
    CursorState m_cursor;
    QString m_lastFlushedText;
    QTimer m_autosave;
    bool m_autosavePending = false;
    // The write in flight and the text it writes.
    QFutureWatcher<WriteOutcome> m_write;
    bool m_writing = false;
    QString m_writingText;
    // The wait ended while a write was in flight: autosave again after it.
    bool m_autosaveAgain = false;
    bool m_loadFailed = false;
    quint64 m_diskSyncCount = 0;
    ErrorAction m_onError;
};

} // namespace model
