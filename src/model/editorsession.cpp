#include "model/editorsession.h"

#include "foundation/error.h"
#include "foundation/fs.h"
#include "library/poststore.h"

#include <QFileInfo>
#include <cerrno>

namespace model {

namespace PostStore = library::PostStore;
using namespace Qt::StringLiterals;

SessionTarget SessionTarget::post(const QString &id, const QString &home)
{
    SessionTarget target;
    target.m_kind = Kind::post;
    target.m_id = id;
    target.m_home = home;
    return target;
}

SessionTarget SessionTarget::externalFile(const QString &path)
{
    SessionTarget target;
    target.m_kind = Kind::externalFile;
    target.m_filePath = path;
    return target;
}

bool SessionTarget::isPiece(const QString &id, const QString &home) const
{
    return m_kind == Kind::post && m_id == id && m_home == home;
}

EditorSession::EditorSession(SessionTarget target, std::chrono::milliseconds debounce, QObject *parent)
    : QObject(parent), m_target(std::move(target)), m_debounce(debounce)
{
    m_autosave.setSingleShot(true);
    m_autosave.setInterval(m_debounce);
    connect(&m_autosave, &QTimer::timeout, this, &EditorSession::autosave);

    if (m_target.kind() == SessionTarget::Kind::externalFile) {
        m_folderPath = QFileInfo(m_target.filePath()).absolutePath();
    } else {
        m_folderPath = PostStore::folderPath(m_target.id(), m_target.home())
                           .value_or(PostStore::rootPath(m_target.home(), PostStore::Root::projects) + u"/posts/"_s
                                     + m_target.id());
    }

    if (const std::optional<QString> loaded = readTargetText()) {
        m_text = m_loadText = m_lastFlushedText = *loaded;
    } else {
        m_loadFailed = true;
    }
    // Also for an unreadable text: the caret file stands on its own.
    m_restoreCursor = readTargetCursor();
}

EditorSession::~EditorSession() = default;

std::optional<QString> EditorSession::readTargetText() const
{
    if (m_target.kind() == SessionTarget::Kind::post) {
        // The editor's document keeps no CR LF pairs, so the text it hands
        // back would differ from one read with them: the session holds what
        // the editor can hold. A lone CR stays.
        std::optional<QString> body = PostStore::readText(m_target.id(), m_target.home());
        if (body)
            body->replace(u"\r\n"_s, u"\n"_s);
        return body;
    }
    try {
        // A file that is not UTF-8 (or a symbolic link, which a rewrite would
        // replace) does not load.
        return readOutsideFile(m_target.filePath());
    } catch (const foundation::fs::FileError &) {
        return std::nullopt;
    }
}

QString EditorSession::readOutsideFile(const QString &path)
{
    QString text = foundation::fs::readUtf8File(path);
    text.replace(u"\r\n"_s, u"\n"_s);
    return text;
}

std::optional<EditorSession::CursorState> EditorSession::readTargetCursor() const
{
    if (m_target.kind() != SessionTarget::Kind::post)
        return std::nullopt;
    return PostStore::readCursorState(m_target.id(), m_target.home());
}

void EditorSession::writeToDisk()
{
    if (m_target.kind() == SessionTarget::Kind::externalFile) {
        const QString path = m_target.filePath();
        // Another program may have saved the file in an encoding this text
        // cannot be compared with: that is never replaced unseen. A file that
        // is gone is written anew.
        try {
            readOutsideFile(path);
        } catch (const foundation::fs::FileError &error) {
            if (error.code() == EILSEQ)
                throw foundation::Error(QFileInfo(path).fileName()
                                        + u" was saved elsewhere as something other than UTF-8 text, so nothing "
                                          u"was overwritten. Copy your text out, or move that file away, to save "
                                          u"here."_s);
        }
        // A rewrite keeps the file's mode.
        foundation::fs::atomicWrite(path, m_text.toUtf8());
        return;
    }
    PostStore::writeText(m_target.id(), m_text, m_target.home());
    PostStore::writeCursorState(m_cursor.selectionLocation, m_cursor.selectionLength, m_target.id(), m_target.home(),
                                m_cursor.scrollOffset);
}

void EditorSession::setCursor(const CursorState &cursor)
{
    store(m_cursor, cursor, &EditorSession::cursorChanged);
}

void EditorSession::setRestoreCursor(const std::optional<CursorState> &cursor)
{
    store(m_restoreCursor, cursor, &EditorSession::restoreCursorChanged);
}

void EditorSession::dismissConflictAlert()
{
    setConflictAlert(false);
}

void EditorSession::setOnError(ErrorAction action)
{
    m_onError = std::move(action);
    emit onErrorChanged();
}

void EditorSession::setText(const QString &text)
{
    store(m_text, text, &EditorSession::textChanged);
}

void EditorSession::setSaveState(SaveState state)
{
    store(m_saveState, state, &EditorSession::saveStateChanged);
}

void EditorSession::setConflictAlert(bool alert)
{
    store(m_conflictAlert, alert, &EditorSession::conflictAlertChanged);
}

void EditorSession::setLoadText(const QString &text)
{
    store(m_loadText, text, &EditorSession::loadTextChanged);
}

void EditorSession::setLastFlushedText(const QString &text)
{
    store(m_lastFlushedText, text, &EditorSession::lastFlushedTextChanged);
}

void EditorSession::setAutosavePending(bool pending)
{
    store(m_autosavePending, pending, &EditorSession::autosavePendingChanged);
}

void EditorSession::bumpLoadGeneration()
{
    ++m_loadGeneration;
    emit loadGenerationChanged();
}

void EditorSession::reportError(const std::optional<QString> &message)
{
    if (m_onError)
        m_onError(message);
}

void EditorSession::textDidChange(const QString &text)
{
    setText(text);
    updateSaveState();
    // Every edit restarts the wait, so only a pause in typing writes.
    m_autosave.start();
    setAutosavePending(true);
}

void EditorSession::updateSaveState()
{
    if (m_text == m_lastFlushedText) {
        if (m_saveState == SaveState::changed)
            setSaveState(SaveState::saved);
    } else if (m_saveState == SaveState::saved) {
        setSaveState(SaveState::changed);
    }
}

void EditorSession::cancelAutosave()
{
    m_autosave.stop();
    setAutosavePending(false);
}

void EditorSession::autosave()
{
    setAutosavePending(false);
    if (diskChangedUnderneath())
        return;
    flush();
}

bool EditorSession::diskChangedUnderneath()
{
    if (m_conflictAlert)
        return true;
    if (m_loadFailed || m_text == m_lastFlushedText)
        return false;
    // An unreadable file is no evidence of an outside edit; the write itself
    // reports what is wrong.
    if (const std::optional<QString> disk = readTargetText())
        diskDidChange(*disk);
    return m_conflictAlert;
}

bool EditorSession::flush()
{
    cancelAutosave();
    // A text whose file never loaded must not replace that file.
    if (m_loadFailed || m_text == m_lastFlushedText)
        return true;
    try {
        writeToDisk();
    } catch (const std::exception &error) {
        setSaveState(SaveState::failed);
        reportError(foundation::describe(error));
        return false;
    }
    ++m_diskSyncCount;
    setLastFlushedText(m_text);
    setSaveState(SaveState::saved);
    reportError(std::nullopt);
    return true;
}

void EditorSession::diskDidChange(const QString &diskText)
{
    // A body read by the library scan still has its CR LF pairs.
    if (diskText.contains(u"\r\n"_s)) {
        diskDidChange(QString(diskText).replace(u"\r\n"_s, u"\n"_s));
        return;
    }
    // Our own save's echo, or the editor's text already: nothing to ask.
    if (diskText == m_lastFlushedText || diskText == m_text)
        return;
    setConflictAlert(true);
}

void EditorSession::reloadFromDisk()
{
    if (!m_conflictAlert)
        return;
    // The alert clears last: an observer that saves when it clears must find
    // the disk's text in place, not the text it replaces.
    const std::optional<QString> disk = readTargetText();
    if (!disk) {
        setConflictAlert(false);
        return;
    }
    ++m_diskSyncCount;
    setText(*disk);
    setLoadText(*disk);
    setLastFlushedText(*disk);
    setRestoreCursor(readTargetCursor());
    setSaveState(SaveState::saved);
    bumpLoadGeneration();
    setConflictAlert(false);
    reportError(std::nullopt);
}

void EditorSession::keepLocal()
{
    if (!m_conflictAlert)
        return;
    if (const std::optional<QString> disk = readTargetText()) {
        ++m_diskSyncCount;
        setLastFlushedText(*disk);
    }
    updateSaveState();
    setConflictAlert(false);
}

bool EditorSession::replaceText(const QString &text)
{
    if (m_loadFailed)
        return false;
    cancelAutosave();
    setText(text);
    setLoadText(text);
    bumpLoadGeneration();
    return flush();
}

} // namespace model
