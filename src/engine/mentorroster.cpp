#include "engine/mentorroster.h"

#include "engine/enginehost.h"
#include "engine/mentorsessionmodel.h"
#include "foundation/dates.h"
#include "foundation/fs.h"
#include "foundation/json.h"
#include "foundation/paths.h"

#include <QDir>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QUuid>

#include <cerrno>

namespace engine {

using namespace Qt::StringLiterals;

namespace {

const QString kRosterFileName = u"sessions.json"_s;

} // namespace

MentorRoster::MentorRoster(MentorSessionModel &model, std::optional<QString> directory)
    : m_model(model), m_directory(std::move(directory))
{
    if (!m_directory && foundation::paths::isTestRun())
        m_directory =
            QDir(QDir::tempPath())
                .filePath(u"pennora-roster-"_s + QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper());
    m_entries = load(m_directory);
}

std::optional<QString> MentorRoster::sessionID(const std::optional<QString> &pieceTitle) const
{
    if (!pieceTitle)
        return std::nullopt;
    for (const SessionEntry &entry : m_entries) {
        if (entry.pieceTitle == pieceTitle)
            return entry.sessionID;
    }
    return std::nullopt;
}

void MentorRoster::setEntries(const QList<SessionEntry> &entries)
{
    if (m_entries == entries)
        return;
    m_entries = entries;
    emit m_model.rosterChanged();
}

void MentorRoster::prepend(const SessionEntry &entry)
{
    QList<SessionEntry> entries = m_entries;
    entries.prepend(entry);
    setEntries(entries);
    save(m_entries, m_directory);
}

QString MentorRoster::defaultFolder()
{
    return foundation::paths::appDataDir();
}

QByteArray MentorRoster::encode(const QList<SessionEntry> &roster)
{
    QJsonArray array;
    for (const SessionEntry &entry : roster) {
        QJsonObject object{
            {u"sessionId"_s, entry.sessionID},
            {u"name"_s, entry.name},
            {u"createdAt"_s, foundation::dates::secondsSinceReferenceDate(entry.createdAt)},
        };
        if (entry.pieceTitle)
            object.insert(u"pieceTitle"_s, *entry.pieceTitle);
        array.append(object);
    }
    // "/" escaped, as the encoder of the files we share writes it.
    return foundation::json::withEscapedSlashes(foundation::json::compact(array));
}

std::optional<QList<SessionEntry>> MentorRoster::decode(const QByteArray &json)
{
    QJsonParseError error{};
    const QJsonDocument document = QJsonDocument::fromJson(json, &error);
    if (error.error != QJsonParseError::NoError || !document.isArray())
        return std::nullopt;
    QList<SessionEntry> roster;
    for (const QJsonValue &item : document.array()) {
        if (!item.isObject())
            return std::nullopt;
        const QJsonObject object = item.toObject();
        const QJsonValue id = object.value(u"sessionId"_s);
        const QJsonValue name = object.value(u"name"_s);
        const QJsonValue created = object.value(u"createdAt"_s);
        const QJsonValue title = object.value(u"pieceTitle"_s);
        if (!id.isString() || !name.isString() || !created.isDouble())
            return std::nullopt;
        if (!title.isUndefined() && !title.isNull() && !title.isString())
            return std::nullopt;
        roster.append({id.toString(), name.toString(),
                       title.isString() ? std::optional<QString>(title.toString()) : std::nullopt,
                       foundation::dates::fromSecondsSinceReferenceDate(created.toDouble())});
    }
    return roster;
}

QList<SessionEntry> MentorRoster::load(const std::optional<QString> &folder)
{
    const QString base = folder.value_or(defaultFolder());
    const QString path = QDir(base).filePath(kRosterFileName);
    QByteArray bytes;
    try {
        bytes = foundation::fs::readRegularFile(path);
    } catch (const foundation::fs::FileError &error) {
        if (error.code() == ENOENT)
            return {};
        qCWarning(acpLog).noquote() << "sessions.json cannot be read:" << error.message();
    }
    if (!bytes.isNull()) {
        if (std::optional<QList<SessionEntry>> roster = decode(bytes))
            return *roster;
        qCWarning(acpLog).noquote() << "sessions.json does not hold a roster";
    }
    // Keep the damaged file: the next save would otherwise overwrite it.
    const QString stamp = foundation::dates::localStamp(QDateTime::currentDateTime(), u"yyyyMMdd-HHmmss"_s);
    try {
        const QString aside = foundation::fs::firstFreeName(base, u"sessions-unreadable-"_s + stamp, u"json"_s);
        foundation::fs::moveNoReplace(path, QDir(base).filePath(aside));
        qCWarning(acpLog).noquote() << "sessions.json kept aside as" << aside;
    } catch (const foundation::Error &error) {
        qCWarning(acpLog).noquote() << "sessions.json could not be kept aside:" << error.message();
    }
    return {};
}

void MentorRoster::save(const QList<SessionEntry> &roster, const std::optional<QString> &folder)
{
    const QString base = folder.value_or(defaultFolder());
    try {
        foundation::fs::makePath(base);
        foundation::fs::atomicWrite(QDir(base).filePath(kRosterFileName), encode(roster),
                                    foundation::fs::Privacy::Private);
    } catch (const foundation::Error &error) {
        qCWarning(acpLog).noquote() << "sessions.json not saved:" << error.message();
    }
}

} // namespace engine
