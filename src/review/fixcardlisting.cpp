// Listing a piece's cards, applying a fix, promoting a card to a learning and
// gathering the learnings of a piece.

#include "review/fixcardstore.h"

#include "foundation/fs.h"
#include "foundation/text.h"
#include "library/frontmatter.h"
#include "library/poststore.h"
#include "review/learnings.h"
#include "review/sidefiles.h"

#include <QFile>

#include <algorithm>
#include <unistd.h>

namespace review::FixCardStore {

using namespace Qt::StringLiterals;
using foundation::text::onOneLine;

namespace {

QString folderOf(const QString &path)
{
    return path.left(path.lastIndexOf(u'/'));
}

bool isCardName(const QString &name)
{
    return name.endsWith(u".json"_s, Qt::CaseSensitive);
}

std::optional<StoredFixCard> readCard(const QString &path)
{
    const auto bytes = detail::readSideFile(path, kSideFileCap);
    if (!bytes)
        return std::nullopt;
    return decodeCard(*bytes);
}

// A file name that stays inside its folder.
bool isPlainName(const QString &name)
{
    return !name.isEmpty() && name != u"." && name != u".." && !name.contains(u'/') && !name.contains(QChar(0));
}

} // namespace

QList<CardFile> loadCards(const QString &cardsFolder)
{
    QList<CardFile> cards;
    for (const QString &name : foundation::fs::tryListFolder(cardsFolder).value_or(QStringList())) {
        if (!isCardName(name))
            continue;
        if (auto card = readCard(cardsFolder + u'/' + name))
            cards.append({name, *std::move(card)});
    }
    return cards;
}

std::optional<CardFile> findCard(const QString &cardsFolder, const QUuid &id)
{
    // Only a file whose bytes hold the id can be the card, so the others are
    // read but not decoded. An id spelt with JSON escapes would slip past that
    // test: those files get the full decode when nothing else matched.
    const QByteArray needle = detail::uuidText(id).toLatin1();
    QStringList rest;
    for (const QString &name : foundation::fs::tryListFolder(cardsFolder).value_or(QStringList())) {
        if (!isCardName(name))
            continue;
        const auto bytes = detail::readSideFile(cardsFolder + u'/' + name, kSideFileCap);
        if (!bytes)
            continue;
        if (!bytes->toUpper().contains(needle)) {
            if (bytes->contains('\\'))
                rest.append(name);
            continue;
        }
        if (const auto card = decodeCard(*bytes); card && card->id == id)
            return CardFile{name, *card};
    }
    for (const QString &name : rest) {
        if (const auto card = readCard(cardsFolder + u'/' + name); card && card->id == id)
            return CardFile{name, *card};
    }
    return std::nullopt;
}

void rewriteCard(const QString &cardsFolder, const QString &fileName, const StoredFixCard &card)
{
    if (!isPlainName(fileName))
        throw CardError(u"invalid card file name: "_s + fileName);
    if (foundation::fs::isSymLink(cardsFolder))
        throw CardError(u"cards path is a symlink: "_s + cardsFolder);
    const QByteArray bytes = encodeCard(card);
    checkSideFileSize(bytes, u"card"_s, fileName);
    foundation::fs::atomicWrite(cardsFolder + u'/' + fileName, bytes);
}

bool cardOrder(const CardFile &a, const CardFile &b)
{
    if (a.card.submittedAt != b.card.submittedAt)
        return a.card.submittedAt > b.card.submittedAt;
    if (a.card.rank.has_value() != b.card.rank.has_value())
        return a.card.rank.has_value();
    if (a.card.rank && *a.card.rank != *b.card.rank)
        return *a.card.rank < *b.card.rank;
    return a.fileName > b.fileName;
}

QList<CardFile> cardFilesForPiece(const QString &location)
{
    const QString suffix = location.mid(location.lastIndexOf(u'.') + 1).toLower();
    const bool isFile =
        location.lastIndexOf(u'.') > location.lastIndexOf(u'/') && (suffix == u"md" || suffix == u"markdown");
    const QString pieceFolder = isFile ? folderOf(location) : location;
    QList<CardFile> cards = loadCards(pieceFolder + u"/cards"_s);
    std::stable_sort(cards.begin(), cards.end(), cardOrder);
    return cards;
}

QList<StoredFixCard> cardsForPiece(const QString &location)
{
    QList<StoredFixCard> cards;
    for (CardFile &file : cardFilesForPiece(location))
        cards.append(std::move(file.card));
    return cards;
}

std::optional<QString> applyFix(const StoredFixCard &card, const QString &text)
{
    if (card.lane != StoredFixCard::Lane::mechanical)
        return std::nullopt;
    if (card.anchor.occurrence < 1 || card.anchor.quote.isEmpty())
        return std::nullopt;
    const QList<foundation::text::Range> matches = foundation::text::findAllQuotes(text, card.anchor.quote);
    if (matches.size() < card.anchor.occurrence)
        return std::nullopt;
    const foundation::text::Range hit = matches[card.anchor.occurrence - 1];
    return text.left(hit.start) + card.fix + text.mid(hit.end());
}

// --- Learnings -------------------------------------------------------------------------

namespace {

// Learnings are neither read nor written through a link: it could lead out
// of the Home.
void refuseLinkedLearnings(const QString &home, const QString &folder)
{
    for (const QString &path : {home + u"/learnings"_s, folder}) {
        if (foundation::fs::isSymLink(path))
            throw CardError(u"learnings path is a symlink: "_s + path);
    }
}

} // namespace

QString learningMarkdown(const StoredFixCard &card, const QDateTime &moment)
{
    using Lane = StoredFixCard::Lane;
    const QString date = dateString(moment, u"yyyy-MM-dd"_s);
    const bool example = card.lane == Lane::demonstration && !card.fix.isEmpty();

    QStringList front;
    front << u"pattern: "_s + onOneLine(card.pattern) << u"problem: "_s + onOneLine(card.problem);
    if (!card.diagnosticQuestion.isEmpty())
        front << u"diagnostic_question: "_s + onOneLine(card.diagnosticQuestion);
    if (example)
        front << u"fix: "_s + onOneLine(card.fix);
    front << u"lane: "_s + card.lane.rawValue() << u"emitter: "_s + card.emitter.rawValue();
    if (card.provenance) {
        front << u"piece: "_s + onOneLine(card.provenance->piece);
        if (card.provenance->pass)
            front << u"pass: "_s + QString::number(*card.provenance->pass);
        if (card.provenance->engine)
            front << u"engine: "_s + onOneLine(*card.provenance->engine);
    }
    front << u"promoted: "_s + date << u"from_card: "_s + detail::uuidText(card.id);

    QStringList body;
    body << u"# "_s + onOneLine(card.pattern) << u"**Problem.** "_s + onOneLine(card.problem);
    if (!card.diagnosticQuestion.isEmpty())
        body << u"**Diagnostic.** "_s + onOneLine(card.diagnosticQuestion);
    if (example)
        body << u"**Example.** "_s + onOneLine(card.fix);
    QStringList footer;
    if (card.provenance) {
        footer << onOneLine(card.provenance->piece);
        if (card.provenance->pass)
            footer << u"Pass "_s + QString::number(*card.provenance->pass);
    } else {
        footer << u"a fix card"_s;
    }
    footer << date;
    body << u"*Promoted from "_s + footer.join(u" · "_s) + u".*"_s;

    return u"---\n"_s + front.join(u'\n') + u"\n---\n\n"_s + body.join(u"\n\n"_s) + u'\n';
}

QString learningsFolder(const QString &home, library::Post::ContentType type)
{
    return home + u"/learnings/"_s + LearningPassClock::typeName(type);
}

library::Post::ContentType contentTypeOf(const QString &postText)
{
    using library::Post;
    const library::Frontmatter fm = library::PostFrontmatter::parseFrontmatter(postText);
    return Post::ContentType::fromRawValue(fm.value(library::PostFrontmatter::kTypeKey)) == Post::ContentType::outline
               ? Post::ContentType::outline
               : Post::ContentType::post;
}

StoredFixCard promote(const QString &location, const QUuid &id, const QDateTime &moment)
{
    const QString post = resolvePiece(location);
    const QString text = foundation::fs::readUtf8File(post);
    const QString home = homeOfPost(post);
    const QString folder = learningsFolder(home, contentTypeOf(text));
    refuseLinkedLearnings(home, folder);

    const QString cardsFolder = folderOf(post) + u"/cards"_s;
    std::optional<CardFile> found = findCard(cardsFolder, id);
    if (!found)
        throw CardError(u"card not found: "_s + detail::uuidText(id));
    StoredFixCard card = found->card;
    if (card.promotedAt)
        throw CardError(u"card already promoted"_s);

    const QString base = fileBase(dateString(moment, u"yyyyMMdd"_s), card.pattern, u"md"_s);
    const QByteArray markdown = learningMarkdown(card, moment).toUtf8();
    checkSideFileSize(markdown, u"learning"_s, base + u".md"_s);
    card.promotedAt = moment;
    // Refused before the learning exists, not only by the rewrite below.
    checkSideFileSize(encodeCard(card), u"card"_s, found->fileName);

    foundation::fs::makePath(folder);
    const QString learning = foundation::fs::writeUnique(folder, base, u"md"_s, markdown);
    try {
        rewriteCard(cardsFolder, found->fileName, card);
    } catch (...) {
        // The card stays unpromoted, so its learning must not stay either:
        // a later promotion would leave a duplicate.
        ::unlink(QFile::encodeName(folder + u'/' + learning).constData());
        throw;
    }
    return card;
}

QList<LearningFile> learningsForPiece(const QString &piecePath)
{
    using library::Post;
    const QString post = resolvePiece(piecePath);
    const QString text = foundation::fs::readUtf8File(post);
    const QString home = homeOfPost(post);
    const Post::ContentType type = contentTypeOf(text);
    const QString folder = learningsFolder(home, type);
    refuseLinkedLearnings(home, folder);
    const qint64 count = LearningPassClock::readPassCounts(home).value(LearningPassClock::typeName(type), 0);

    QStringList names;
    for (const QString &name : foundation::fs::tryListFolder(folder).value_or(QStringList())) {
        if (name.endsWith(u".md"_s, Qt::CaseSensitive))
            names.append(name);
    }
    std::sort(names.begin(), names.end());

    QList<LearningFile> kept;
    for (const QString &name : names) {
        const auto learning = detail::readSideText(folder + u'/' + name, kSideFileCap);
        if (!learning)
            continue;
        if (!LearningPassClock::resurfacesIn(library::PostFrontmatter::parseFrontmatter(*learning), count))
            kept.append({name, *learning});
    }
    return kept;
}

} // namespace review::FixCardStore
