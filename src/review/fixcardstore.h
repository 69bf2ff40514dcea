#pragma once
// Fix cards: the card record and its file format, writing a batch of cards
// beside a piece, listing a piece's cards, applying a mechanical fix, and
// promoting a card to a learning.
//
// Everything lives on disk; nothing is kept between calls. Refusals throw
// CardError, file failures foundation::fs::FileError.

#include "foundation/enumtext.h"
#include "foundation/error.h"
#include "library/post.h"

#include <QByteArray>
#include <QDateTime>
#include <QList>
#include <QString>
#include <QUuid>
#include <optional>

namespace review::FixCardStore {

// The one refusal type of the card store, the pass clock and the tool
// payload decoders. Two errors are equal when their messages are.
class CardError : public foundation::Error {
public:
    using Error::Error;
    bool operator==(const CardError &other) const { return message() == other.message(); }
};

struct StoredFixCard {
    struct Anchor {
        QString quote;
        qint64 occurrence = 1;
        std::optional<QString> context;
        bool operator==(const Anchor &) const = default;
    };

    struct Provenance {
        QString piece;
        std::optional<QString> date; // free text, never parsed
        std::optional<QString> engine;
        std::optional<qint64> pass;
        bool operator==(const Provenance &) const = default;
    };

    // Raw values: the JSON values and the texts shown.
    struct LaneCases {
        enum Value { mechanical, demonstration };
        static constexpr auto texts =
            foundation::enumTexts<Value>({{mechanical, u"mechanical"}, {demonstration, u"demonstration"}});
    };

    class Lane : public foundation::TextEnum<Lane, LaneCases> {
    public:
        using TextEnum::TextEnum;
    };

    struct EmitterCases {
        enum Value { lint, engine };
        static constexpr auto texts = foundation::enumTexts<Value>({{lint, u"lint"}, {engine, u"engine"}});
    };

    class Emitter : public foundation::TextEnum<Emitter, EmitterCases> {
    public:
        using TextEnum::TextEnum;
    };

    struct StatusCases {
        enum Value { open, applied, skipped, done };
        static constexpr auto texts = foundation::enumTexts<Value>(
            {{open, u"open"}, {applied, u"applied"}, {skipped, u"skipped"}, {done, u"done"}});
    };

    class Status : public foundation::TextEnum<Status, StatusCases> {
    public:
        using TextEnum::TextEnum;
    };

    struct AnchorStatusCases {
        enum Value { valid, stale };
        static constexpr auto texts = foundation::enumTexts<Value>({{valid, u"valid"}, {stale, u"stale"}});
    };

    class AnchorStatus : public foundation::TextEnum<AnchorStatus, AnchorStatusCases> {
    public:
        using TextEnum::TextEnum;
    };

    QUuid id;
    QDateTime submittedAt;
    std::optional<qint64> rank;
    QString pattern;
    QString problem;
    QString diagnosticQuestion;
    QString fix;
    Anchor anchor;
    Lane lane = Lane::mechanical;
    Emitter emitter = Emitter::engine;
    std::optional<Provenance> provenance;
    Status status = Status::open;
    AnchorStatus anchorStatus = AnchorStatus::valid;
    std::optional<QDateTime> promotedAt;

    bool operator==(const StoredFixCard &) const = default;
};

// One new card as a writer hands it over.
struct Input {
    QString pattern;
    QString problem;
    std::optional<QString> diagnosticQuestion;
    std::optional<QString> fix;
    StoredFixCard::Anchor anchor;
    StoredFixCard::Lane lane = StoredFixCard::Lane::mechanical;
    StoredFixCard::Emitter emitter = StoredFixCard::Emitter::engine;
    std::optional<StoredFixCard::Provenance> provenance;
    bool operator==(const Input &) const = default;
};

// A card with the name of its file inside the cards folder (".json" included).
struct CardFile {
    QString fileName;
    StoredFixCard card;
    bool operator==(const CardFile &) const = default;
};

// At most this many inputs of one write call are kept.
inline constexpr int kMaxCardsPerCall = 10;
// Card and learning files above this size are skipped as unreadable.
inline constexpr qint64 kSideFileCap = 1024 * 1024;

// Refuses bytes above kSideFileCap, which no reader would see, with
// CardError "<kind> file too large: <name>".
void checkSideFileSize(const QByteArray &bytes, const QString &kind, const QString &name);

// --- Card files ---------------------------------------------------------------

// The post.md of a piece path: an absolute path of the shape
// <home>/<projects|archive>/<project>/<piece>/post.md, or that piece folder,
// without "." or ".." components and with no symbolic link from the root
// folder down to post.md.
QString resolvePiece(const QString &path);

// The Home of a resolved post.md: four levels up.
QString homeOfPost(const QString &postPath);

// Validates the first ten inputs, checks their anchors against post.md, and
// writes one file per card under cards/, never replacing another file.
// Answers the written cards in order.
QList<CardFile> write(const QString &piecePath, const QList<Input> &inputs);

QList<CardFile> write(const QString &piecePath, const QList<Input> &inputs, const QDateTime &now);

StoredFixCard validatedCard(const Input &input, const QString &text, qint64 rank,
                            const QDateTime &now = QDateTime::currentDateTimeUtc());

StoredFixCard::AnchorStatus checkAnchor(const QString &text, const QString &quote, qint64 occurrence);

// A local-time date with an explicit pattern, C (POSIX) locale.
QString dateString(const QDateTime &date, const QString &pattern);

// The first free name among base.ext, base-2.ext ... in folder. Reserves
// nothing: writers publish with foundation::fs::writeUnique.
QString uniqueFileName(const QString &folder, const QString &base, const QString &extension);

// prefix + "-" + the slug of a pattern: the base name of a card or learning
// file. A long slug in a many-byte script is cut by whole characters so that
// every numbered name (base-N.extension) stays within the file-name limit.
QString fileBase(const QString &prefix, const QString &pattern, const QString &extension);

// The stored form of a card (compact JSON, snake_case keys, optional keys
// left out) and its strict reader (none for anything unreadable).
QByteArray encodeCard(const StoredFixCard &card);
std::optional<StoredFixCard> decodeCard(const QByteArray &bytes);

// --- Listing, anchors and promotion ---------------------------------------------

// The cards of a folder in listing order; unreadable files are skipped.
QList<CardFile> loadCards(const QString &cardsFolder);

// The first card of the folder with the given id, decoding only the files
// that can hold it. None when there is no such card.
std::optional<CardFile> findCard(const QString &cardsFolder, const QUuid &id);

// Rewrites one card file in place (atomically) under its own name.
void rewriteCard(const QString &cardsFolder, const QString &fileName, const StoredFixCard &card);

// The cards of a piece (its folder or a Markdown file in it) in cardOrder.
QList<StoredFixCard> cardsForPiece(const QString &location);
// The same with their file names.
QList<CardFile> cardFilesForPiece(const QString &location);

// Newest first, then by rank (ranked first, smaller first), then by the
// greater file name.
bool cardOrder(const CardFile &a, const CardFile &b);

// The text with a mechanical card's fix in place of its anchor; none for a
// demonstration card or an anchor that is gone.
std::optional<QString> applyFix(const StoredFixCard &card, const QString &text);

// Writes the card's learning and marks the card promoted; answers the card.
StoredFixCard promote(const QString &location, const QUuid &id, const QDateTime &moment);

QString learningMarkdown(const StoredFixCard &card, const QDateTime &moment);

QString learningsFolder(const QString &home, library::Post::ContentType type);

// The content type a post.md text declares.
library::Post::ContentType contentTypeOf(const QString &postText);

struct LearningFile {
    QString fileName;
    QString text;
    bool operator==(const LearningFile &) const = default;
};

// The visible learnings of the piece's content type, in file-name order.
// Refuses a learnings folder that is a symbolic link, as promote does.
QList<LearningFile> learningsForPiece(const QString &piecePath);

} // namespace review::FixCardStore
