#pragma once
// The two review Passes, the instruction that opens a Pass and the prompt of a
// Blind Read. The texts are sent to the engine as they are built here; session
// replay recognises a Pass by the instruction's first words ("Pass Pass ").

#include "profiles/settingstypes.h"

#include <QHashFunctions>
#include <QList>
#include <QString>
#include <QUrl>
#include <optional>

namespace engine {

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
    // "paragraph level and up" / "sentence level and below".
    QString scopeWords() const;
    // The engine profile surface the Pass runs on.
    profiles::ProfileSurface surface() const;

    // The instruction for a Pass on the piece whose post.md is postFile (a
    // file URL). includeResearch adds the piece's research folder; callers
    // set it when that folder exists.
    QString instructionText(const QUrl &postFile, bool includeResearch) const;

    friend size_t qHash(PassKind kind, size_t seed = 0) noexcept { return ::qHash(int(kind.m_value), seed); }

private:
    Value m_value;
};

// The Blind Read prompt: version A is first when firstIsA, else second. Both
// texts are inserted exactly as given.
QString blindReadPrompt(const QString &first, const QString &second, bool firstIsA);

} // namespace engine
