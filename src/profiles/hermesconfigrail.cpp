#include "profiles/hermesconfigrail.h"

#include "foundation/processrunner.h"
#include "foundation/text.h"

#include <algorithm>

namespace profiles::HermesConfigRail {

namespace {

const QString kProviderKey = QStringLiteral("model.provider");

bool isProviderSet(const Write &write)
{
    return write.kind == Write::Kind::set && write.key == kProviderKey;
}

void applyOne(const Write &write, const QString &profile, const QString &hermesBinary,
              std::chrono::milliseconds timeout)
{
    QStringList arguments{hermesBinary, QStringLiteral("-p"), profile, QStringLiteral("config")};
    if (write.kind == Write::Kind::set) {
        const QString verb = QStringLiteral("set");
        // The engine would take such a value for an option of its own.
        if (write.value.startsWith(u'-'))
            throw Failure(verb, write.key, profile, QString::fromUtf8(kLeadingHyphenReason));
        arguments << verb << write.key << write.value;
        if (write.force)
            arguments << QStringLiteral("--force");
        const auto result = foundation::process::run(arguments, std::nullopt, timeout);
        // A confirmation with a failing status does not count: the engine may
        // have stopped after printing it.
        if (result.status != 0 || !result.standardOutput.contains(QStringLiteral("✓ Set ") + write.key))
            throw Failure(verb, write.key, profile, excerpt(result.standardOutput, result.standardError));
        return;
    }
    const QString verb = QStringLiteral("unset");
    arguments << verb << write.key;
    const auto result = foundation::process::run(arguments, std::nullopt, timeout);
    // A key that was not set is as good as removed, whatever the status.
    if (result.standardOutput.contains(QStringLiteral("✓ Unset ") + write.key)
        || (result.standardOutput + result.standardError).contains(QStringLiteral("Config key not set: ") + write.key))
        return;
    throw Failure(verb, write.key, profile, excerpt(result.standardOutput, result.standardError));
}

} // namespace

Failure::Failure(const QString &verb, const QString &key, const QString &profile, const QString &excerpt)
    : Error(QStringLiteral("couldn't %1 %2 on %3: %4").arg(verb, key, profile, excerpt)), m_verb(verb), m_key(key),
      m_profile(profile), m_excerpt(excerpt)
{}

void apply(const QList<Write> &writes, const QString &profile, const QString &hermesBinary,
           std::chrono::milliseconds timeout)
{
    // A model name means something only for its provider: the provider
    // goes first, so the engine never holds the new model under the old one.
    QList<Write> ordered = writes;
    std::stable_partition(ordered.begin(), ordered.end(), isProviderSet);
    for (const Write &write : std::as_const(ordered))
        applyOne(write, profile, hermesBinary, timeout);
}

QString excerpt(const QString &standardOutput, const QString &standardError)
{
    const QString &chosen = standardOutput.isEmpty() ? standardError : standardOutput;
    return foundation::text::graphemePrefix(foundation::text::trimSpacesAndNewlines(chosen), kExcerptLength);
}

} // namespace profiles::HermesConfigRail
