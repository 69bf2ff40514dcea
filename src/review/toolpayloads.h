#pragma once
// The tools' arguments, decoded two ways: strictly for the tool server (the
// first offending key is named in a CardError) and leniently for the
// mentor's transcript (never fails; an unreadable shape gives nothing).

#include "fixcardstore.h"

#include "foundation/jsonvalue.h"

#include <QJsonObject>
#include <QList>
#include <QString>
#include <optional>

namespace review {

// The arguments of query_learnings. Keys are matched after snake-case to
// camel-case conversion, so "piece_path" and "piecePath" both match; case is
// not folded ("PIECE_PATH" does not).
struct LearningsArgs {
    QString piecePath;

    // A missing or mistyped key; the message names it.
    class DecodingError : public foundation::Error {
    public:
        using Error::Error;
    };

    // Throws DecodingError.
    static LearningsArgs decode(const QJsonObject &arguments);
    bool operator==(const LearningsArgs &) const = default;
};

// The transcript's copy of a submitted fix card: shown only.
struct FixCard {
    QString pattern;
    QString problem;
    QString diagnosticQuestion;
    QString fix;
    QString anchor;
    QString provenance;
    QString status;
    bool operator==(const FixCard &) const = default;
};

// A research note the engine offered for a piece, and the writer's decision.
struct ResearchCandidate {
    struct Disposition {
        enum class Kind { kept, pending, rejected };
        Kind kind = Kind::pending;
        QString fileName; // the research file written, for kept only

        static Disposition kept(const QString &fileName) { return {Kind::kept, fileName}; }
        static Disposition pending() { return {}; }
        static Disposition rejected() { return {Kind::rejected, {}}; }
        bool operator==(const Disposition &) const = default;
    };

    QString piecePath;
    QString title;
    QString url;
    QString quote;
    QString note;
    Disposition disposition;
    bool operator==(const ResearchCandidate &) const = default;
};

namespace ToolPayloads {

struct FixCardSubmission {
    QString piecePath;
    QList<FixCardStore::Input> inputs; // in submitted order, no ceiling applied
};

// Strict decoders: every failure is a FixCardStore::CardError.
FixCardSubmission decodeFixCardSubmission(const foundation::JSONValue &arguments);
qint64 decodeResearchNoteSubmission(const foundation::JSONValue &arguments);
FixCardStore::Input decodeCard(const foundation::JSONValue &card);
// value: the member's value, none when the key is missing.
FixCardStore::StoredFixCard::Anchor decodeAnchor(const std::optional<foundation::JSONValue> &value);
std::optional<FixCardStore::StoredFixCard::Provenance> decodeProvenance(
    const std::optional<foundation::JSONValue> &value);
// None for a missing key or null; label + " must be a string" / " must be an
// integer" for anything else of the wrong kind.
std::optional<QString> optionalText(const std::optional<foundation::JSONValue> &value, const QString &label);
std::optional<qint64> optionalInteger(const std::optional<foundation::JSONValue> &value, const QString &label);

// Lenient parsers for the transcript.
QList<ResearchCandidate> transcriptResearchCandidates(const foundation::JSONValue &input);
std::optional<FixCard> transcriptFixCard(const foundation::JSONValue &input);

} // namespace ToolPayloads
} // namespace review
