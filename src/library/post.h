#pragma once
// The summary of one piece as the library scan reads it, with its pass state,
// origin and content type and their stored texts.

#include "library/draftstats.h"

#include <QDateTime>
#include <QHash>
#include <QHashFunctions>
#include <QList>
#include <QString>
#include <optional>
#include <utility>

namespace library {

struct Post {
    // The raw values are what the front matter holds; the first case is the
    // default.
    class ContentType {
    public:
        enum Value { post, outline };
        constexpr ContentType(Value value) : m_value(value) {}
        constexpr operator Value() const { return m_value; }

        static const QList<ContentType> &allCases();
        // Exact, case-sensitive match of a raw value.
        static std::optional<ContentType> fromRawValue(const QString &raw);
        QString rawValue() const;

        friend size_t qHash(ContentType value, size_t seed = 0) noexcept { return ::qHash(int(value.m_value), seed); }

    private:
        Value m_value;
    };

    class PassState {
    public:
        enum Value { firstDraft, pass1Done, pass2Done };
        constexpr PassState(Value value) : m_value(value) {}
        constexpr operator Value() const { return m_value; }

        static const QList<PassState> &allCases();
        // Exact, case-sensitive match of a raw value.
        static std::optional<PassState> fromRawValue(const QString &raw);
        QString rawValue() const;

        friend size_t qHash(PassState value, size_t seed = 0) noexcept { return ::qHash(int(value.m_value), seed); }

    private:
        Value m_value;
    };

    class Origin {
    public:
        enum Value { writer, ai };
        constexpr Origin(Value value) : m_value(value) {}
        constexpr operator Value() const { return m_value; }

        static const QList<Origin> &allCases();
        // Exact, case-sensitive match of a raw value.
        static std::optional<Origin> fromRawValue(const QString &raw);
        QString rawValue() const;

        friend size_t qHash(Origin value, size_t seed = 0) noexcept { return ::qHash(int(value.m_value), seed); }

    private:
        Value m_value;
    };

    struct FirstDraftStats {
        QDateTime captured;
        DraftStats stats;
        bool operator==(const FirstDraftStats &other) const;
    };

    QString id; // the piece's folder name
    QString title;
    PassState passState = PassState::firstDraft;
    Origin origin = Origin::writer;
    ContentType type = ContentType::post;
    QString project; // the project folder's name
    bool isArchived = false;
    std::optional<QString> micropubURL;
    std::optional<FirstDraftStats> firstDraftStats;

    bool operator==(const Post &other) const;
};

} // namespace library
