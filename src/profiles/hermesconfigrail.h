#pragma once
// The one road by which the program changes an engine profile's
// configuration: the engine's own "config set" and "config unset", one
// command per write, each counted as done only when the engine prints its
// confirmation. Stateless; blocks its thread, so callers run it off the main
// thread.

#include "foundation/error.h"

#include <QList>
#include <QString>
#include <chrono>

namespace profiles::HermesConfigRail {

// One configuration change: set(key, value, force) or unset(key).
struct Write {
    enum class Kind { set, unset };
    Kind kind = Kind::set;
    QString key;
    QString value; // empty for an unset
    bool force = false;

    // force adds the engine's "--force" flag (keys it does not know).
    static Write set(const QString &key, const QString &value, bool force = false)
    {
        return {Kind::set, key, value, force};
    }
    static Write unset(const QString &key) { return {Kind::unset, key, QString(), false}; }
    bool operator==(const Write &) const = default;
};

// A write that did not take. Its message is
// "couldn't <verb> <key> on <profile>: <excerpt>".
class Failure : public foundation::Error {
public:
    Failure(const QString &verb, const QString &key, const QString &profile, const QString &excerpt);
    const QString &verb() const { return m_verb; } // "set" or "unset"
    const QString &key() const { return m_key; }
    const QString &profile() const { return m_profile; }
    // The rail's own reason, or at most 500 characters of the engine's output.
    const QString &excerpt() const { return m_excerpt; }
    bool operator==(const Failure &other) const
    {
        return m_verb == other.m_verb && m_key == other.m_key && m_profile == other.m_profile
               && m_excerpt == other.m_excerpt;
    }

private:
    QString m_verb;
    QString m_key;
    QString m_profile;
    QString m_excerpt;
};

// The refusal of a value the engine would read as an option.
inline constexpr const char *kLeadingHyphenReason = "value starts with '-' — not written";

// The longest excerpt, in characters (grapheme clusters).
inline constexpr qsizetype kExcerptLength = 500;

// Runs writes on profile with the engine at hermesBinary, each command limited
// to timeout: every set of "model.provider" first (in their order),
// then the rest in their order. Throws Failure at the first write that did not
// take; the writes before it stay, the ones after it are not run.
void apply(const QList<Write> &writes, const QString &profile, const QString &hermesBinary,
           std::chrono::milliseconds timeout);

// What a failure quotes of a command's output: the standard output when it is
// not empty (blanks count), else the standard error; trimmed of white space
// and line ends, then cut to its first 500 characters.
QString excerpt(const QString &standardOutput, const QString &standardError);

} // namespace profiles::HermesConfigRail
