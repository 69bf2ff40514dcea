#pragma once
// Carries the settings of the three engine profiles into the engine and reads
// them back: provider, model, reasoning effort and endpoint through the
// engine's command line (the configuration rail), provider API keys through
// the profiles' key files ("<profile folder>/.env"), which it rewrites itself.
// Every operation starts on the main thread and does its blocking work on the
// command pool.

#include "foundation/error.h"
#include "foundation/processrunner.h"
#include "profiles/hermesconfigrail.h"
#include "profiles/settingswriting.h"

#include <QList>
#include <QString>
#include <chrono>
#include <optional>

class QMutex;

namespace profiles {

class HermesSettingsWriter final : public SettingsWriting {
public:
    // A write the writer refused or could not make; the message is its
    // description.
    class WriteError : public foundation::Error {
    public:
        using Error::Error;
        bool operator==(const WriteError &other) const { return message() == other.message(); }
    };

    HermesSettingsWriter(std::optional<QString> hermesBinary, QString profileRoot);

    // The engine executable as the engine check found it; none while no
    // engine has been found.
    std::optional<QString> hermesBinary;
    // The folder holding one folder per engine profile.
    QString profileRoot;

    // The limit of each engine command.
    static constexpr std::chrono::milliseconds kCommandTimeout = std::chrono::seconds(30);
    static constexpr const char *kNoEngineMessage = "hermes binary not found — pass the engine gate first";
    // The model of a profile whose "model.default" is unset.
    static constexpr const char *kUnsetModel = "claude-sonnet-5-5";

    // The key-file variable of a provider ("GLM_API_KEY" for z.ai).
    static QString envVariable(ModelProvider provider);

    // Writes the surface's provider, model and effort, and for z.ai the base
    // URL when given (trimmed of white space and line ends; a blank one
    // leaves the profile's own); a provider other than z.ai has
    // "model.base_url" removed, so no other provider's key goes to z.ai's
    // host. Throws WriteError or HermesConfigRail::Failure; the writes before
    // a failure stay.
    QCoro::Task<void> writeModel(ProfileSurface surface, SurfaceModelConfig config,
                                 std::optional<QString> baseURL) override;
    // Writes a non-empty key into all three profiles' key files and, for z.ai
    // with a non-blank endpoint, the endpoint (trimmed of white space and line
    // ends) as base URL into the profiles of surfaces. An empty key leaves
    // every key file alone.
    QCoro::Task<void> writeProviderKey(ModelProvider provider, ProviderKeyConfig keyConfig,
                                       QList<ProfileSurface> surfaces) override;
    // Never throws: nothing when the engine is unknown, the provider unset or
    // not one of the four.
    QCoro::Task<std::optional<StoredModel>> readModel(ProfileSurface surface) override;
    // The first non-blank value in the key files of "pennora", then the Pass
    // profiles. Never throws.
    QCoro::Task<std::optional<QString>> readProviderKey(ModelProvider provider) override;

    // The inner steps, blocking, for the background tasks (and tests).

    // The engine writes of writeModel, in the order given to the rail.
    static QList<HermesConfigRail::Write> modelWrites(const SurfaceModelConfig &config,
                                                      const std::optional<QString> &baseURL);
    static void applyModelWrites(const QList<HermesConfigRail::Write> &writes, const QString &profile,
                                 const QString &hermesBinary);
    // The key into every profile's key file (unless empty), then the base URL
    // into the surfaces' profiles (when given).
    static void applyProviderKey(const QString &variable, const QString &apiKey, const std::optional<QString> &baseURL,
                                 const QList<ProfileSurface> &surfaces, const std::optional<QString> &hermesBinary,
                                 const QString &profileRoot);
    // The trimmed standard output of "config get key"; none when the command
    // fails or prints nothing.
    static std::optional<QString> configGet(const QString &key, const QString &hermesBinary, const QString &profile);
    // The engine's whole answer to one "config get", for a caller that must
    // tell a key that is not set from a get that failed.
    static foundation::process::RunResult runConfigGet(const QString &key, const QString &hermesBinary,
                                                       const QString &profile);
    static std::optional<StoredModel> readStoredModel(const QString &profile, const QString &hermesBinary);
    static std::optional<QString> scanEnvFiles(const QString &variable, const QString &profileRoot);
    // Rewrites one key file under envLock(): every line of variable removed,
    // "variable=value" appended. The file is 0600 from its creation, missing
    // folders are created 0700, and a key file that is a symbolic link is
    // refused. Throws WriteError.
    static void writeEnvValue(const QString &variable, const QString &value, const QString &profileFolder,
                              const QString &profileName);
    static QString mergeEnvLine(const QString &text, const QString &variable, const QString &value);
    // The one lock of every key-file rewrite in the process.
    static QMutex &envLock();
};

} // namespace profiles
