#pragma once
// The prose lint: em-dash density and tiers of stock phrases from
// deslop-lint.json, turned into lint cards before a Pass starts.

#include "library/passkind.h"
#include "review/fixcardstore.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <limits>
#include <optional>

namespace review::DeslopLint {

struct Config {
    struct Tier {
        struct Phrase {
            QString phrase;
            // The plain word to put in the phrase's place; none: demonstrate only.
            std::optional<QString> replacement;
            bool operator==(const Phrase &) const = default;
        };

        QString name;
        QString note;
        qint64 maxAllowed = 0; // matches of one phrase that pass
        QList<Phrase> phrases;
        bool operator==(const Tier &) const = default;
    };

    QList<Tier> tiers;
    qint64 emDashBudget = std::numeric_limits<qint64>::max();
    bool operator==(const Config &) const = default;

    // The file's exact keys; none when a required key is missing or a value
    // has the wrong type.
    static std::optional<Config> fromJson(const QByteArray &bytes);
    QByteArray toJson() const;
};

struct Finding {
    QString pattern;
    QString problem;
    QString diagnosticQuestion;
    QString fix;
    FixCardStore::StoredFixCard::Lane lane = FixCardStore::StoredFixCard::Lane::demonstration;
    FixCardStore::StoredFixCard::Anchor anchor;
    bool operator==(const Finding &) const = default;
};

inline const QString kConfigFileName = QStringLiteral("deslop-lint.json");
// The bundled configuration among the application's resources.
inline const QString kBundledConfigPath = QStringLiteral(":/deslop-lint.json");

// deslop-lint.json from folder when usable, else the bundled one, else no
// tiers and no em-dash limit. Never fails.
Config loadConfig(const std::optional<QString> &folder);

// The findings of a text: the em-dash finding first, then tier by tier.
// Phrase patterns are compiled once per set of tiers and reused.
QList<Finding> lint(const QString &text, const QList<Config::Tier> &tiers, qint64 emDashBudget);

// Lints text and files the findings that are not already open as lint cards
// of the piece (at most ten per call) for the Pass being started. Reports nothing.
void fileLintCards(const QString &text, const QString &pieceID, const QString &postPath, library::PassKind pass,
                   const std::optional<QString> &configFolder);

} // namespace review::DeslopLint
