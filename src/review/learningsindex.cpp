#include "review/learnings.h"

#include "foundation/fs.h"
#include "foundation/text.h"
#include "library/frontmatter.h"
#include "review/fixcardstore.h"
#include "review/sidefiles.h"

#include <unicode/uchar.h>

#include <algorithm>
#include <vector>

namespace review::LearningsIndex {

using namespace Qt::StringLiterals;

namespace {

QString withoutExtension(const QString &name)
{
    const qsizetype dot = name.lastIndexOf(u'.');
    return dot < 0 ? name : name.left(dot);
}

// A character whose first scalar has a Unicode numeric type: the digits of
// every script, and numerals such as "一" that are letters by category.
bool isNumeral(const QString &cluster)
{
    const QList<uint> points = cluster.toUcs4();
    return !points.isEmpty() && u_getIntPropertyValue(UChar32(points.front()), UCHAR_NUMERIC_TYPE) != U_NT_NONE;
}

std::optional<QString> nonEmpty(const library::Frontmatter &frontmatter, const QString &key)
{
    const QString value = frontmatter.value(key);
    if (value.isEmpty())
        return std::nullopt;
    return value;
}

bool startsWithDate(const QStringList &clusters)
{
    if (clusters.size() < 9 || clusters[8] != u"-")
        return false;
    return std::all_of(clusters.begin(), clusters.begin() + 8, isNumeral);
}

} // namespace

bool hasDatePrefix(const QString &fileName)
{
    return startsWithDate(foundation::text::graphemes(withoutExtension(fileName)));
}

Entry makeEntry(const QString &fileName, const QString &text, std::optional<qint64> passCount)
{
    const library::Frontmatter frontmatter = library::PostFrontmatter::parseFrontmatter(text);
    Entry entry;
    entry.id = fileName;
    const auto pattern = frontmatter.constFind(u"pattern"_s);
    if (pattern != frontmatter.constEnd()) {
        entry.pattern = *pattern;
    } else {
        QStringList clusters = foundation::text::graphemes(withoutExtension(fileName));
        if (startsWithDate(clusters))
            clusters.remove(0, 9);
        entry.pattern = clusters.join(QString());
    }
    entry.problem = nonEmpty(frontmatter, u"problem"_s);
    entry.promoted = nonEmpty(frontmatter, u"promoted"_s);
    if (passCount)
        entry.resurfacesIn = LearningPassClock::resurfacesIn(frontmatter, *passCount);
    return entry;
}

void sortEntries(QList<Entry> &entries)
{
    // Sorted through an order of indices: each name is segmented once, and
    // each entry is moved once.
    std::vector<std::pair<bool, qsizetype>> order; // (undated, index)
    order.reserve(size_t(entries.size()));
    for (qsizetype i = 0; i < entries.size(); ++i)
        order.emplace_back(!hasDatePrefix(entries[i].id), i);
    std::stable_sort(order.begin(), order.end(), [&entries](const auto &a, const auto &b) {
        if (a.first != b.first)
            return b.first;
        return entries[a.second].id > entries[b.second].id;
    });
    QList<Entry> sorted;
    sorted.reserve(entries.size());
    for (const auto &[undated, index] : order)
        sorted.append(std::move(entries[index]));
    entries = std::move(sorted);
}

QList<Group> scan(const QString &home)
{
    const QMap<QString, qint64> counts = LearningPassClock::readPassCounts(home);
    const QString learnings = home + u"/learnings"_s;
    if (foundation::fs::isSymLink(learnings))
        return {};
    QStringList types = foundation::fs::tryListFolder(learnings).value_or(QStringList());
    std::sort(types.begin(), types.end());

    QList<Group> groups;
    for (const QString &type : types) {
        const QString folder = learnings + u'/' + type;
        if (type.startsWith(u'.') || !foundation::fs::isDirectoryNoFollow(folder))
            continue;
        std::optional<qint64> count;
        if (LearningPassClock::isPassClocked(type))
            count = counts.value(type, 0);
        Group group{type, {}};
        for (const QString &name : foundation::fs::tryListFolder(folder).value_or(QStringList())) {
            if (name.startsWith(u'.') || !name.endsWith(u".md"_s, Qt::CaseInsensitive))
                continue;
            if (const auto text = detail::readSideText(folder + u'/' + name, FixCardStore::kSideFileCap))
                group.entries.append(makeEntry(name, *text, count));
        }
        if (group.entries.isEmpty())
            continue;
        sortEntries(group.entries);
        groups.append(std::move(group));
    }
    return groups;
}

} // namespace review::LearningsIndex
