#pragma once
// The two review Passes: Pass 1 at paragraph level and up, Pass 2 at sentence
// level and below. The raw values are stored and shown; the instructions that
// open a Pass live with the engine link.

#include <QHashFunctions>
#include <QList>
#include <QString>
#include <optional>

namespace library {

class PassKind {
public:
    enum Value { pass1, pass2 };
    constexpr PassKind(Value value) : m_value(value) {}
    constexpr operator Value() const { return m_value; }

    static const QList<PassKind> &allCases();
    // Only "Pass 1" or "Pass 2" exactly.
    static std::optional<PassKind> fromRawValue(const QString &raw);
    // "Pass 1" / "Pass 2": also the label shown and sent for the Pass.
    QString rawValue() const;

    friend size_t qHash(PassKind kind, size_t seed = 0) noexcept { return ::qHash(int(kind.m_value), seed); }

private:
    Value m_value;
};

} // namespace library
