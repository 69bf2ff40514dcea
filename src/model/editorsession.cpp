#include "model/editorsession.h"

#include "foundation/dates.h"
#include "foundation/error.h"
#include "foundation/fs.h"
#include "foundation/notify.h"
#include "foundation/threadpools.h"
#include "library/frontmatter.h"
#include "library/poststore.h"
#include "library/storeerror.h"

#include <QFileInfo>
#include <QThreadPool>
#include <QtConcurrent/QtConcurrentRun>
#include <cerrno>

namespace model {

namespace PostStore = library::PostStore;
namespace PostFrontmatter = library::PostFrontmatter;
namespace fs = foundation::fs;
using namespace Qt::StringLiterals;

namespace {

// One writer thread for every session: a write is never overtaken by a later
// one, and the main thread never waits for the disk while the writer types.
QThreadPool *writerPool()
{
    static QThreadPool *const pool = foundation::namedPool("session writes", {.maxThreads = 1});
    return pool;
}

QString withLineFeeds(QString text)
{
    text.replace(u"\r\n"_s, u"\n"_s);
    return text;
}

// How often a save is tried again when only the front matter changed under
// it (a publish URL, the pass state or the draft statistics recorded).
constexpr int kFrontMatterRetries = 3;

} // namespace

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
    connect(&m_write, &QFutureWatcherBase::finished, this, &EditorSession::writeFinished);

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

EditorSession::~EditorSession()
{
    // Its outcome has no one left to tell, but a session opened next on the
    // same file must find it on disk.
    if (m_writing)
        m_write.waitForFinished();
}

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

EditorSession::WriteRequest EditorSession::writeRequest(bool checkDiskFirst) const
{
    return WriteRequest{m_target, m_text, m_lastFlushedText, checkDiskFirst, m_cursor};
}

EditorSession::WriteOutcome EditorSession::writeToDisk(const WriteRequest &request)
{
    using Kind = WriteOutcome::Kind;
    const auto isOutsideText = [&request](const QString &disk) {
        return request.checkDiskFirst && disk != request.lastFlushedText && disk != request.text;
    };
    try {
        if (request.target.kind() == SessionTarget::Kind::externalFile) {
            const QString path = request.target.filePath();
            // A file that is gone is written anew (create-only); anything
            // else that cannot be read as text is replaced as it stands.
            std::optional<fs::FileStamp> expected;
            try {
                fs::FileStamp stamp;
                const QString disk = withLineFeeds(fs::readUtf8File(path, fs::kNoReadCap, &stamp));
                if (isOutsideText(disk))
                    return {Kind::outsideChange, {}};
                expected = stamp;
            } catch (const fs::FileError &error) {
                // Another program may have saved the file in an encoding this
                // text cannot be compared with: that is never replaced unseen.
                if (error.code() == EILSEQ)
                    throw foundation::Error(QFileInfo(path).fileName()
                                            + u" was saved elsewhere as something other than UTF-8 text, so nothing "
                                              u"was overwritten. Copy your text out, or move that file away, to save "
                                              u"here."_s);
                if (error.code() != ENOENT)
                    expected = fs::entryStamp(path);
            }
            // A rewrite keeps the file's mode.
            if (fs::replaceIfUnchanged(path, request.text.toUtf8(), expected) == fs::Replace::changedMeanwhile)
                return {Kind::outsideChange, {}};
            return {Kind::written, {}};
        }

        const QString &id = request.target.id();
        const QString &home = request.target.home();
        for (int attempt = 0;; ++attempt) {
            // As PostStore::writeText: the body replaced under the front
            // matter read, whose type, pass_state and origin are written as
            // the piece reads. Read here so that the swap below can tell
            // whether post.md is still the file read.
            const std::optional<QString> folder = PostStore::folderPath(id, home);
            if (!folder)
                throw library::StoreError(library::StoreError::Code::fileReadNoSuchFile, id);
            const QString path = *folder + u'/' + PostStore::kPostFileName;
            fs::FileStamp stamp;
            QString whole;
            try {
                whole = fs::readUtf8File(path, fs::kNoReadCap, &stamp);
            } catch (const fs::FileError &error) {
                if (error.code() == ENOENT)
                    throw library::StoreError(library::StoreError::Code::fileReadNoSuchFile, path);
                throw;
            }
            const PostFrontmatter::Flags flags =
                PostFrontmatter::frontmatterFlags(PostFrontmatter::parseFrontmatter(whole));
            const PostFrontmatter::Split split = PostFrontmatter::splitFrontmatter(std::move(whole));
            if (isOutsideText(withLineFeeds(split.body)))
                return {Kind::outsideChange, {}};
            const QString block = PostFrontmatter::rewriteFrontmatter(
                split.block, PostFrontmatter::defaultFrontmatter(flags.type, flags.passState, flags.origin));
            QByteArray bytes = request.text.toUtf8();
            bytes.prepend(block.toUtf8());
            if (fs::replaceIfUnchanged(path, bytes, stamp) == fs::Replace::changedMeanwhile) {
                // This program's own front matter writes are no outside
                // save: with the body as it was read, write again under them.
                if (attempt < kFrontMatterRetries && PostStore::readText(id, home) == split.body)
                    continue;
                return {Kind::outsideChange, {}};
            }
            PostStore::writeCursorState(request.cursor.selectionLocation, request.cursor.selectionLength, id, home,
                                        request.cursor.scrollOffset);
            return {Kind::written, {}};
        }
    } catch (const std::exception &error) {
        return {Kind::failed, foundation::describe(error)};
    }
}

void EditorSession::setCursor(const CursorState &cursor)
{
    foundation::storeAndNotify(*this, m_cursor, cursor, &EditorSession::cursorChanged);
}

void EditorSession::setRestoreCursor(const std::optional<CursorState> &cursor)
{
    foundation::storeAndNotify(*this, m_restoreCursor, cursor, &EditorSession::restoreCursorChanged);
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
    foundation::storeAndNotify(*this, m_text, text, &EditorSession::textChanged);
}

void EditorSession::setSaveState(SaveState state)
{
    foundation::storeAndNotify(*this, m_saveState, state, &EditorSession::saveStateChanged);
}

void EditorSession::setConflictAlert(bool alert)
{
    foundation::storeAndNotify(*this, m_conflictAlert, alert, &EditorSession::conflictAlertChanged);
}

void EditorSession::setLoadText(const QString &text)
{
    foundation::storeAndNotify(*this, m_loadText, text, &EditorSession::loadTextChanged);
}

void EditorSession::setLastFlushedText(const QString &text)
{
    foundation::storeAndNotify(*this, m_lastFlushedText, text, &EditorSession::lastFlushedTextChanged);
}

void EditorSession::setAutosavePending(bool pending)
{
    foundation::storeAndNotify(*this, m_autosavePending, pending, &EditorSession::autosavePendingChanged);
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
    updateAutosavePending();
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

void EditorSession::updateAutosavePending()
{
    setAutosavePending(m_autosave.isActive() || m_writing || m_autosaveAgain);
}

void EditorSession::cancelAutosave()
{
    m_autosave.stop();
    m_autosaveAgain = false;
    updateAutosavePending();
}

void EditorSession::autosave()
{
    if (m_writing) {
        // One write in flight at a time: the next starts when it lands.
        m_autosaveAgain = true;
        return;
    }
    if (!m_conflictAlert && !m_loadFailed && m_text != m_lastFlushedText) {
        m_writing = true;
        m_writingText = m_text;
        m_write.setFuture(QtConcurrent::run(writerPool(), &EditorSession::writeToDisk, writeRequest(true)));
    }
    updateAutosavePending();
}

void EditorSession::writeFinished()
{
    if (!m_writing)
        return; // a flush or a check already waited for it
    settleWrite();
    if (std::exchange(m_autosaveAgain, false))
        autosave();
}

void EditorSession::settleWrite()
{
    if (!m_writing)
        return;
    m_write.waitForFinished();
    const WriteOutcome outcome = m_write.result();
    m_writing = false;
    const QString written = std::exchange(m_writingText, QString());
    applyWrite(outcome, written);
    updateAutosavePending();
}

void EditorSession::applyWrite(const WriteOutcome &outcome, const QString &written)
{
    switch (outcome.kind) {
    case WriteOutcome::Kind::written:
        ++m_diskSyncCount;
        setLastFlushedText(written);
        // Typing may have gone on while the write ran.
        setSaveState(m_text == written ? SaveState::saved : SaveState::changed);
        reportError(std::nullopt);
        break;
    case WriteOutcome::Kind::outsideChange: setConflictAlert(true); break;
    case WriteOutcome::Kind::failed:
        setSaveState(SaveState::failed);
        reportError(outcome.error);
        break;
    }
}

void EditorSession::waitForWrites()
{
    writerPool()->waitForDone();
}

bool EditorSession::diskChangedUnderneath()
{
    settleWrite();
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
    settleWrite();
    // A text whose file never loaded must not replace that file.
    if (m_loadFailed || m_text == m_lastFlushedText)
        return true;
    const WriteOutcome outcome = writeToDisk(writeRequest(false));
    applyWrite(outcome, m_text);
    if (outcome.kind == WriteOutcome::Kind::outsideChange)
        reportError(u"This piece changed on disk underneath you — answer the reload question first."_s);
    return outcome.kind == WriteOutcome::Kind::written;
}

bool EditorSession::holdsUnsavedText() const
{
    return m_conflictAlert || m_writing || m_text != m_lastFlushedText;
}

QString EditorSession::writeConflictCopy(const QDateTime &now)
{
    QString folder = m_folderPath;
    QString name = PostStore::kPostFileName;
    if (m_target.kind() == SessionTarget::Kind::externalFile) {
        name = QFileInfo(m_target.filePath()).fileName();
    } else if (const std::optional<QString> found = PostStore::folderPath(m_target.id(), m_target.home())) {
        folder = *found;
    }
    const qsizetype dot = name.lastIndexOf(u'.');
    const QString stem = dot > 0 ? name.left(dot) : name;
    const QString base =
        fs::fitFileBase(stem + u".conflict-"_s + foundation::dates::localStamp(now, u"yyyyMMdd-HHmmss"_s), u"md"_s);
    return folder + u'/' + fs::writeUnique(folder, base, u"md"_s, m_text.toUtf8());
}

void EditorSession::diskDidChange(const QString &diskText)
{
    // A body read by the library scan still has its CR LF pairs.
    if (diskText.contains(u"\r\n"_s)) {
        diskDidChange(QString(diskText).replace(u"\r\n"_s, u"\n"_s));
        return;
    }
    // Our own save's echo (landed, or still on its way back from the
    // writer), or the editor's text already: nothing to ask.
    if (diskText == m_lastFlushedText || diskText == m_text || (m_writing && diskText == m_writingText))
        return;
    setConflictAlert(true);
}

void EditorSession::reloadFromDisk()
{
    settleWrite();
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
    settleWrite();
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
