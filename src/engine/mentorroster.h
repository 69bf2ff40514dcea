#pragma once
// The mentor's roster of chat sessions and its file, sessions.json: the
// entries in order, newest first, and the folder they are kept in.

#include <QByteArray>
#include <QDateTime>
#include <QList>
#include <QString>
#include <optional>

namespace engine {

class MentorSessionModel;

// One chat session of the roster.
struct SessionEntry {
    QString sessionID;
    QString name;
    std::optional<QString> pieceTitle;
    QDateTime createdAt;
    bool operator==(const SessionEntry &) const = default;
};

class MentorRoster {
public:
    // directory none: the application data folder, or a fresh temporary
    // folder in a test run. Reads the roster kept there.
    MentorRoster(MentorSessionModel &model, std::optional<QString> directory);

    const QList<SessionEntry> &entries() const { return m_entries; }
    const std::optional<QString> &directory() const { return m_directory; }
    // The session id of the newest entry of that piece.
    std::optional<QString> sessionID(const std::optional<QString> &pieceTitle) const;
    // Puts entry first and saves the file.
    void prepend(const SessionEntry &entry);
    // Notifies the model's rosterChanged when the entries differ.
    void setEntries(const QList<SessionEntry> &entries);

    // sessions.json in folder (none: the default folder), 0600 from its first
    // byte. Failures are logged and leave the file as it was.
    static void save(const QList<SessionEntry> &roster, const std::optional<QString> &folder);
    // The roster of folder; empty when missing or unreadable. A file that
    // exists but does not decode is renamed aside first, so it is never
    // overwritten.
    static QList<SessionEntry> load(const std::optional<QString> &folder);
    static QString defaultFolder();
    static QByteArray encode(const QList<SessionEntry> &roster);
    static std::optional<QList<SessionEntry>> decode(const QByteArray &json);

private:
    MentorSessionModel &m_model;
    std::optional<QString> m_directory;
    QList<SessionEntry> m_entries;
};

} // namespace engine
