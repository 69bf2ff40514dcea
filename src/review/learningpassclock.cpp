#include "review/learnings.h"

#include "foundation/fs.h"
#include "foundation/json.h"
#include "foundation/text.h"
#include "library/frontmatter.h"
#include "review/fixcardstore.h"
#include "review/sidefiles.h"

#include <QJsonDocument>
#include <QJsonObject>

namespace review::LearningPassClock {

using namespace Qt::StringLiterals;
using FixCardStore::CardError;

namespace {

const QString kCountsFile = u"pass-counts.json"_s;
const QString kDismissed = u"dismissed"_s;
const QString kDismissCount = u"dismiss_count"_s;
const QString kDismissedAtPass = u"dismissed_at_pass"_s;
const QString kResurfaceAfter = u"resurface_after"_s;

qint64 clampCount(qint64 value)
{
    return std::clamp<qint64>(value, 0, kCountCeiling);
}

// Strict: optional sign, then decimal digits only.
std::optional<qint64> integerValue(const library::Frontmatter &frontmatter, const QString &key)
{
    const auto it = frontmatter.constFind(key);
    if (it == frontmatter.constEnd())
        return std::nullopt;
    return foundation::text::parseInteger(*it);
}

} // namespace

QString typeName(library::Post::ContentType type)
{
    return type == library::Post::ContentType::outline ? u"outlines"_s : u"posts"_s;
}

QMap<QString, qint64> readPassCounts(const QString &home)
{
    QMap<QString, qint64> counts;
    // Counts behind a linked learnings folder are not the Home's.
    if (foundation::fs::isSymLink(home + u"/learnings"_s))
        return counts;
    const auto bytes = detail::readSideFile(home + u"/learnings/"_s + kCountsFile, FixCardStore::kSideFileCap);
    if (!bytes)
        return counts;
    const std::optional<QJsonObject> parsed = foundation::json::parseObject(*bytes);
    if (!parsed)
        return counts;
    const QJsonObject &object = *parsed;
    for (auto it = object.constBegin(); it != object.constEnd(); ++it) {
        if (const auto value = foundation::json::wholeInteger(it.value()))
            counts.insert(it.key(), clampCount(*value));
    }
    return counts;
}

void bumpPassCount(const QString &home, library::Post::ContentType type)
{
    const QString folder = home + u"/learnings"_s;
    if (foundation::fs::isSymLink(folder))
        throw CardError(u"learnings path is a symlink: "_s + folder);
    foundation::fs::makePath(folder);

    QMap<QString, qint64> counts = readPassCounts(home);
    counts[typeName(type)] += 1;
    QJsonObject object;
    for (auto it = counts.constBegin(); it != counts.constEnd(); ++it)
        object.insert(it.key(), it.value());
    foundation::fs::atomicWrite(folder + u'/' + kCountsFile, foundation::json::compact(object));
}

bool isPassClocked(const QString &type)
{
    return type == u"posts" || type == u"outlines";
}

qint64 dismissCount(const library::Frontmatter &frontmatter)
{
    if (frontmatter.isEmpty())
        return 0;
    if (const auto count = integerValue(frontmatter, kDismissCount))
        return std::max<qint64>(*count, 0);
    return frontmatter.contains(kDismissedAtPass) ? 1 : 0;
}

std::optional<qint64> resurfacesIn(const library::Frontmatter &frontmatter, qint64 passCount)
{
    const auto dismissedAt = integerValue(frontmatter, kDismissedAtPass);
    if (!dismissedAt)
        return std::nullopt;
    const qint64 dismissals = dismissCount(frontmatter);
    if (dismissals <= 0)
        return std::nullopt;
    const auto base = integerValue(frontmatter, kResurfaceAfter);
    // At most 10^9 * 2^30, well inside 64 bits.
    const qint64 wait = (base ? clampCount(*base) : kDefaultWait) << (std::min<qint64>(dismissals, 31) - 1);
    const qint64 elapsed = passCount - clampCount(*dismissedAt);
    if (elapsed < wait)
        return wait - elapsed;
    return std::nullopt;
}

namespace {

bool isSafeName(const QString &name)
{
    return !name.isEmpty() && !name.contains(u'/') && !name.contains(u".."_s) && !name.startsWith(u'.')
           && !name.contains(QChar(0));
}

} // namespace

void dismissLearning(const QString &home, const QString &type, const QString &fileName, const QDateTime &date)
{
    if (!isSafeName(type) || !isSafeName(fileName))
        throw CardError(u"invalid learning path: "_s + type + u'/' + fileName);
    if (!isPassClocked(type))
        throw CardError(u"not a pass-clocked content type: "_s + type);
    const QString learnings = home + u"/learnings"_s;
    const QString path = learnings + u'/' + type + u'/' + fileName;
    for (const QString &item : {learnings, learnings + u'/' + type, path}) {
        if (foundation::fs::isSymLink(item))
            throw CardError(u"learnings path is a symlink: "_s + item);
    }

    const auto text = detail::readSideText(path, FixCardStore::kSideFileCap);
    if (!text)
        throw CardError(u"learning not found: "_s + fileName);
    const library::Frontmatter frontmatter = library::PostFrontmatter::parseFrontmatter(*text);
    const qint64 count = readPassCounts(home).value(type, 0);
    if (const auto waiting = resurfacesIn(frontmatter, count)) {
        throw CardError(u"already dismissed — resurfaces in "_s + QString::number(*waiting)
                        + (*waiting == 1 ? u" pass"_s : u" passes"_s));
    }

    const qint64 dismissals = std::min(dismissCount(frontmatter), kCountCeiling) + 1;
    const library::FrontmatterPairs pairs = {
        {kDismissed, FixCardStore::dateString(date, u"yyyy-MM-dd"_s)},
        {kDismissCount, QString::number(dismissals)},
        {kDismissedAtPass, QString::number(count)},
    };
    const QByteArray bytes = library::PostFrontmatter::rewriteFrontmatter(*text, pairs).toUtf8();
    FixCardStore::checkSideFileSize(bytes, u"learning"_s, fileName);
    foundation::fs::atomicWrite(path, bytes);
}

} // namespace review::LearningPassClock
