#pragma once
// Makes the engine's three writing profiles fit for the program: a master copy
// of the writing skills in the application's data folder, each profile created
// through the engine, given the model defaults once, linked to the skills it
// uses and registered with this executable's tool server. Stateless; every step
// blocks its thread, so it runs in the background. A repeated run leaves what
// is in place alone and makes only what is missing.

#include "foundation/enumtext.h"
#include "profiles/settingstypes.h"

#include <QLoggingCategory>
#include <QString>
#include <QStringList>
#include <chrono>
#include <optional>

Q_DECLARE_LOGGING_CATEGORY(provisioningLog)

namespace profiles {

// The engine's profiles folder, ~/.hermes/profiles, computed once.
const QString &hermesProfilesRoot();

namespace ProfileProvisioner {

// The step that failed; the raw value is the headline the user sees.
struct PhaseCases {
    enum Value { create, copy, register_, configure };
    static constexpr auto texts = foundation::enumTexts<Value>({{create, u"couldn't set up the writing profile"},
                                                                {copy, u"couldn't copy the writing skills"},
                                                                {register_, u"couldn't register the writing tools"},
                                                                {configure, u"couldn't set the model defaults"}});
};

class Phase : public foundation::TextEnum<Phase, PhaseCases> {
public:
    using TextEnum::TextEnum;
};

// seeded(copied, present) or failed(profile, phase, excerpt).
class Outcome {
public:
    static Outcome seeded(qint64 copied, qint64 present) { return Outcome(copied, present); }
    static Outcome failed(std::optional<QString> profile, Phase phase, QString excerpt)
    {
        return Outcome(std::move(profile), phase, std::move(excerpt));
    }

    bool isFailed() const { return m_failed; }
    // Skills copied into the master folder or linked into a profile.
    qint64 copied() const { return m_copied; }
    qint64 present() const { return m_present; }
    // None when the failure concerns the payload or the master copy.
    const std::optional<QString> &profile() const { return m_profile; }
    Phase phase() const { return m_phase; }
    const QString &excerpt() const { return m_excerpt; }

    bool operator==(const Outcome &other) const;

private:
    Outcome(qint64 copied, qint64 present) : m_copied(copied), m_present(present) {}
    Outcome(std::optional<QString> profile, Phase phase, QString excerpt)
        : m_failed(true), m_profile(std::move(profile)), m_phase(phase), m_excerpt(std::move(excerpt))
    {}

    bool m_failed = false;
    qint64 m_copied = 0;
    qint64 m_present = 0;
    std::optional<QString> m_profile;
    Phase m_phase = Phase::copy;
    QString m_excerpt;
};

// One run's settings for the per-profile steps.
struct SurfaceEnv {
    std::optional<QString> hermesBinary;
    QString profileRoot;
    QString masterRoot;
    QStringList manifest;
    std::optional<QString> serverBinaryPath;
    std::chrono::milliseconds timeout = std::chrono::seconds(60);
};

inline constexpr std::chrono::milliseconds kCommandTimeout = std::chrono::seconds(60);
inline constexpr const char *kToolServerName = "pennora-tools";
inline constexpr const char *kMarkerName = ".pennora-provisioned";
inline constexpr const char *kManifestName = "seed-manifest.txt";

// The skills a surface takes where its profile has nothing yet; the manifest
// decides the order.
const QStringList &surfaceSkills(ProfileSurface surface);

// The whole run. Folders left out take their defaults: hermesProfilesRoot(),
// defaultPayloadRoot(), and the application data folder's "skills".
Outcome run(const std::optional<QString> &hermesBinary, const std::optional<QString> &profileRoot = std::nullopt,
            const std::optional<QString> &payloadRoot = std::nullopt,
            const std::optional<QString> &masterRoot = std::nullopt);

// "<prefix>/share/pennora/writing skills" beside the running executable's
// "bin" folder; in the build tree that place links to the source folder.
QString defaultPayloadRoot();
QString defaultMasterRoot();
// The running process's executable, none when the system does not tell.
std::optional<QString> serverBinaryPath();

// The steps.

// The skill names of "seed-manifest.txt", in order; none when unreadable.
std::optional<QStringList> readManifest(const QString &payloadRoot);
bool isValidSkillName(const QString &name);
// The "version:" of a SKILL.md's front matter, none without one.
std::optional<QString> skillVersion(const QString &skillFolder);
Outcome installMasterSkills(const QStringList &manifest, const QString &payloadRoot, const QString &masterRoot);
Outcome provisionSurface(ProfileSurface surface, const SurfaceEnv &env);
// None on success.
std::optional<Outcome> setModelDefaults(const QString &profile, const QString &hermesBinary,
                                        std::chrono::milliseconds timeout);
Outcome linkSkills(ProfileSurface surface, const QString &profileFolder, const QString &masterRoot,
                   const QStringList &manifest);
std::optional<Outcome> registerTools(const QString &profile, const QString &hermesBinary, const QString &serverBinary,
                                     std::chrono::milliseconds timeout);

// Removes the leftovers of our own interrupted copies in folder: names "." +
// skill + "-" + UUID, or with "-old-" before the UUID when movedAside. Any
// other hidden entry (a user's .git, an engine's own files) stays.
enum class Leftovers { masterCopies, movedAside };
void removeLeftovers(const QString &folder, Leftovers kind);
// Removes every ".DS_Store" file below folder without following links.
void removeDSStoreFiles(const QString &folder);
// Deep comparison, ".DS_Store" ignored, any link makes them differ.
bool sameContents(const QString &a, const QString &b);
bool isProvisioned(const QString &profileFolder);
// The engine made this profile: its folder exists and holds more than the
// key file and our own leftovers, which the key writer may create first.
bool isEngineProfile(const QString &profileFolder);
// Whether an "mcp list" output shows our server with this executable.
bool listsToolServer(const QString &listing, const QString &serverBinary);
void logFailure(const Outcome &outcome);

} // namespace ProfileProvisioner

} // namespace profiles
