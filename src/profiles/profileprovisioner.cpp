#include "profiles/profileprovisioner.h"

#include "foundation/error.h"
#include "foundation/fs.h"
#include "foundation/paths.h"
#include "foundation/processrunner.h"
#include "foundation/text.h"
#include "profiles/hermesconfigrail.h"
#include "profiles/hermessettingswriter.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QUuid>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <unistd.h>

Q_LOGGING_CATEGORY(provisioningLog, "com.quendalstudio.Pennora.provisioning")

namespace profiles {

const QString &hermesProfilesRoot()
{
    static const QString root = QDir::homePath() + QStringLiteral("/.hermes/profiles");
    return root;
}

namespace ProfileProvisioner {

namespace {

namespace fs = foundation::fs;
using foundation::process::RunResult;

const QString kNoEngine = QStringLiteral("hermes binary not found");
const QString kDefaultProvider = QStringLiteral("anthropic");
const QString kDefaultModel = QStringLiteral("claude-sonnet-5-5");
constexpr int kDefaultBudget = 24000;

QString upperUuid()
{
    return QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper();
}

QString join(const QString &folder, const QString &name)
{
    return folder + u'/' + name;
}

QString errnoText()
{
    return fs::errorText(errno);
}

RunResult runEngine(const QString &hermesBinary, const QStringList &args, std::chrono::milliseconds timeout,
                    const std::optional<QString> &input = std::nullopt)
{
    return foundation::process::run(QStringList{hermesBinary} + args, input, timeout);
}

// A plain copy of a payload item: folders recreated, files with their modes,
// links as links; anything else (a FIFO, a socket) left out.
void copyItem(const QString &source, const QString &target)
{
    if (fs::isSymLink(source)) {
        char linked[PATH_MAX];
        const ssize_t n = ::readlink(QFile::encodeName(source).constData(), linked, sizeof linked);
        if (n < 0)
            throw fs::FileError(errno, source, QStringLiteral("readlink"));
        if (::symlink(QByteArray(linked, n).constData(), QFile::encodeName(target).constData()) != 0)
            throw fs::FileError(errno, target, QStringLiteral("symlink"));
        return;
    }
    if (fs::isDirectoryNoFollow(source)) {
        fs::makeFolder(target);
        for (const QString &name : fs::listFolder(source))
            copyItem(join(source, name), join(target, name));
        return;
    }
    if (fs::isRegularFileNoFollow(source))
        fs::copyFileKeepingMode(source, target);
}

const QRegularExpression &leftoverPattern(Leftovers kind)
{
    static const QRegularExpression master(
        QStringLiteral("^\\.[\\p{Ll}\\p{N}-]+-[0-9A-F]{8}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{12}$"));
    static const QRegularExpression aside(
        QStringLiteral("^\\.[\\p{Ll}\\p{N}-]+-old-[0-9A-F]{8}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{12}$"));
    return kind == Leftovers::masterCopies ? master : aside;
}

QString trimQuotes(QString text)
{
    while (text.startsWith(u'"'))
        text.remove(0, 1);
    while (text.endsWith(u'"'))
        text.chop(1);
    return text;
}

// The lines of a text cut at LF, empty pieces dropped, each trimmed of blanks.
QStringList trimmedLines(const QString &text)
{
    QStringList lines;
    for (const QString &line : text.split(u'\n', Qt::SkipEmptyParts))
        lines << foundation::text::trimSpaces(line);
    return lines;
}

bool isInside(const QString &path, const QString &folder)
{
    return path.startsWith(QDir::cleanPath(folder) + u'/');
}

// Whether the engine must be asked for the model defaults: decided per
// surface, so a chosen chat model is never overwritten.
bool defaultsDue(ProfileSurface surface, bool createdNow, const QString &folder,
                 const std::optional<QString> &hermesBinary, const QString &profile)
{
    if (createdNow)
        return true;
    if (isProvisioned(folder))
        return false;
    if (surface != ProfileSurface::chat)
        return true;
    // An existing chat profile takes them only when the engine says it names
    // no provider. A get that failed or timed out says nothing: the user's
    // chosen model is never replaced on a guess.
    if (!hermesBinary)
        return false;
    const QString key = QStringLiteral("model.provider");
    const RunResult got = HermesSettingsWriter::runConfigGet(key, *hermesBinary, profile);
    if (got.status == 0)
        return foundation::text::trimSpacesAndNewlines(got.standardOutput).isEmpty();
    return got.status > 0
           && (got.standardOutput + got.standardError).contains(QStringLiteral("Config key not set: ") + key);
}

} // namespace

bool Outcome::operator==(const Outcome &other) const
{
    if (m_failed != other.m_failed)
        return false;
    if (!m_failed)
        return m_copied == other.m_copied && m_present == other.m_present;
    return m_profile == other.m_profile && m_phase == other.m_phase && m_excerpt == other.m_excerpt;
}

const QStringList &surfaceSkills(ProfileSurface surface)
{
    static const QStringList chat{
        "serif-writing", "deslop",          "demonstrator",  "rhetoric",          "prose-craft",     "micro-drill",
        "owned-insight", "session-persona", "fiction-craft", "reader-psychology", "titles-and-hooks"};
    static const QStringList pass1{"serif-writing", "deslop",          "demonstrator",  "rhetoric",
                                   "prose-craft",   "micro-drill",     "owned-insight", "pass-persona",
                                   "fiction-craft", "titles-and-hooks"};
    static const QStringList pass2{"serif-writing", "deslop",        "demonstrator", "rhetoric",         "prose-craft",
                                   "micro-drill",   "owned-insight", "pass-persona", "reader-psychology"};
    switch (surface) {
    case ProfileSurface::chat: return chat;
    case ProfileSurface::pass1: return pass1;
    case ProfileSurface::pass2: return pass2;
    }
    Q_UNREACHABLE();
}

QString defaultPayloadRoot()
{
    const std::optional<QString> executable = serverBinaryPath();
    const QString bin = executable ? QFileInfo(*executable).path() : QStringLiteral(".");
    return QDir::cleanPath(bin + QStringLiteral("/../share/pennora/writing skills"));
}

QString defaultMasterRoot()
{
    return foundation::paths::appDataDir() + QStringLiteral("/skills");
}

std::optional<QString> serverBinaryPath()
{
    char path[PATH_MAX];
    const ssize_t n = ::readlink("/proc/self/exe", path, sizeof path - 1);
    if (n <= 0)
        return std::nullopt;
    return QFile::decodeName(QByteArray(path, n));
}

std::optional<QStringList> readManifest(const QString &payloadRoot)
{
    QString text;
    try {
        text = fs::readUtf8File(join(payloadRoot, QString::fromUtf8(kManifestName)));
    } catch (const fs::FileError &) {
        return std::nullopt;
    }
    QStringList manifest;
    for (const QString &line : trimmedLines(text))
        if (!line.isEmpty() && !line.startsWith(u'#'))
            manifest << line;
    return manifest;
}

bool isValidSkillName(const QString &name)
{
    if (name.isEmpty())
        return false;
    for (const uint c : name.toUcs4())
        if (c != u'-' && !QChar::isNumber(c) && !(QChar::isLetter(c) && QChar::isLower(c)))
            return false;
    return true;
}

std::optional<QString> skillVersion(const QString &skillFolder)
{
    QString text;
    try {
        text = fs::readUtf8File(join(skillFolder, QStringLiteral("SKILL.md")));
    } catch (const fs::FileError &) {
        return std::nullopt;
    }
    const QStringList lines = trimmedLines(text);
    const qsizetype opening = lines.indexOf(QStringLiteral("---"));
    if (opening < 0)
        return std::nullopt;
    for (qsizetype i = opening + 1; i < lines.size(); ++i) {
        if (lines.at(i) == u"---")
            return std::nullopt;
        if (lines.at(i).startsWith(u"version:"))
            return trimQuotes(foundation::text::trimSpaces(lines.at(i).mid(8)));
    }
    return std::nullopt;
}

Outcome installMasterSkills(const QStringList &manifest, const QString &payloadRoot, const QString &masterRoot)
{
    removeLeftovers(masterRoot, Leftovers::masterCopies);
    qint64 copied = 0;
    qint64 present = 0;
    QStringList labels;
    for (const QString &entry : manifest) {
        if (!isValidSkillName(entry))
            return Outcome::failed(std::nullopt, Phase::copy, QStringLiteral("invalid manifest entry: ") + entry);
        const QString source = join(payloadRoot, entry);
        if (!fs::existsNoFollow(source))
            return Outcome::failed(std::nullopt, Phase::copy,
                                   QStringLiteral("manifest entry missing from payload: ") + entry);
        labels << entry + u' ' + skillVersion(source).value_or(QStringLiteral("?"));
        const QString target = join(masterRoot, entry);
        if (fs::existsNoFollow(target)) {
            ++present;
            continue;
        }
        const QString temp = join(masterRoot, u'.' + entry + u'-' + upperUuid());
        try {
            fs::makePath(masterRoot);
            copyItem(source, temp);
            removeDSStoreFiles(temp);
            fs::moveNoReplace(temp, target);
            ++copied;
        } catch (const std::exception &error) {
            fs::removeTree(temp);
            // Another run that won the race leaves its copy in place.
            if (!fs::existsNoFollow(target))
                return Outcome::failed(std::nullopt, Phase::copy,
                                       QStringLiteral("copy ") + entry + QStringLiteral(": ")
                                           + foundation::describe(error));
            ++present;
        }
    }
    qCInfo(provisioningLog).noquote() << QStringLiteral("master writing skills: %1 (%2 copied, %3 present)")
                                             .arg(labels.join(QStringLiteral(", ")))
                                             .arg(copied)
                                             .arg(present);
    return Outcome::seeded(copied, present);
}

Outcome provisionSurface(ProfileSurface surface, const SurfaceEnv &env)
{
    const QString profile = surface.profileName();
    const QString folder = join(env.profileRoot, profile);

    bool createdNow = false;
    if (!isEngineProfile(folder)) {
        if (!env.hermesBinary)
            return Outcome::failed(profile, Phase::create, kNoEngine);
        const RunResult created = runEngine(*env.hermesBinary,
                                            {QStringLiteral("profile"), QStringLiteral("create"), profile,
                                             QStringLiteral("--no-alias"), QStringLiteral("--no-skills")},
                                            env.timeout);
        const bool done =
            created.status == 0 || (created.status == 1 && created.standardOutput.contains(u"already exists"));
        if (!done || !QFileInfo(folder).isDir())
            return Outcome::failed(profile, Phase::create,
                                   HermesConfigRail::excerpt(created.standardOutput, created.standardError));
        createdNow = created.status == 0;
    }

    if (defaultsDue(surface, createdNow, folder, env.hermesBinary, profile)) {
        if (!env.hermesBinary)
            return Outcome::failed(profile, Phase::configure, kNoEngine);
        if (std::optional<Outcome> failure = setModelDefaults(profile, *env.hermesBinary, env.timeout))
            return *failure;
        QFile marker(join(folder, QString::fromUtf8(kMarkerName)));
        if (!marker.open(QIODevice::WriteOnly | QIODevice::Truncate))
            return Outcome::failed(profile, Phase::configure,
                                   QStringLiteral("couldn't record the provisioning marker: ") + marker.errorString());
    }

    const Outcome linked = linkSkills(surface, folder, env.masterRoot, env.manifest);
    if (linked.isFailed())
        return linked;

    if (!env.hermesBinary || !env.serverBinaryPath) {
        qCInfo(provisioningLog) << "pennora-tools registration skipped: engine or server binary missing";
    } else if (std::optional<Outcome> failure =
                   registerTools(profile, *env.hermesBinary, *env.serverBinaryPath, env.timeout)) {
        return *failure;
    }
    return linked;
}

std::optional<Outcome> setModelDefaults(const QString &profile, const QString &hermesBinary,
                                        std::chrono::milliseconds timeout)
{
    using Write = HermesConfigRail::Write;
    try {
        HermesConfigRail::apply(
            {Write::set(QStringLiteral("model.provider"), kDefaultProvider),
             Write::set(QStringLiteral("model.default"), kDefaultModel),
             Write::set(QStringLiteral("model.extra_body.max_tokens"), QString::number(kDefaultBudget), true)},
            profile, hermesBinary, timeout);
    } catch (const HermesConfigRail::Failure &failure) {
        return Outcome::failed(profile, Phase::configure, failure.excerpt());
    } catch (const std::exception &error) {
        return Outcome::failed(profile, Phase::configure, foundation::describe(error));
    }
    qCInfo(provisioningLog).noquote()
        << QStringLiteral("set model defaults on %1: %2, budget %3").arg(profile, kDefaultModel).arg(kDefaultBudget);
    return std::nullopt;
}

Outcome linkSkills(ProfileSurface surface, const QString &profileFolder, const QString &masterRoot,
                   const QStringList &manifest)
{
    const QString skills = join(profileFolder, QStringLiteral("skills"));
    removeLeftovers(skills, Leftovers::movedAside);
    const QStringList &row = surfaceSkills(surface);
    qint64 linked = 0;
    qint64 present = 0;
    for (const QString &entry : manifest) {
        const QString place = join(skills, entry);
        const QString master = join(masterRoot, entry);
        const QByteArray masterBytes = QFile::encodeName(master);
        const QString aside = join(skills, u'.' + entry + QStringLiteral("-old-") + upperUuid());
        const QByteArray asideBytes = QFile::encodeName(aside);
        const QByteArray placeBytes = QFile::encodeName(place);

        if (fs::isSymLink(place)) {
            // A dangling link into the master folder points at its skill
            // again; a link anywhere else is the user's.
            const bool dangling = !QFileInfo::exists(place);
            if (dangling && isInside(QDir::cleanPath(QFile::symLinkTarget(place)), masterRoot)
                && QFileInfo::exists(master) && ::symlink(masterBytes.constData(), asideBytes.constData()) == 0) {
                if (::rename(asideBytes.constData(), placeBytes.constData()) == 0) {
                    ++linked;
                    continue;
                }
                ::unlink(asideBytes.constData());
            }
            ++present;
            continue;
        }

        if (fs::existsNoFollow(place)) {
            // An untouched real copy becomes a link; a changed one is the user's.
            if (!sameContents(master, place)) {
                ++present;
                continue;
            }
            try {
                fs::moveNoReplace(place, aside);
            } catch (const fs::FileError &) {
                ++present;
                continue;
            }
            if (::symlink(masterBytes.constData(), placeBytes.constData()) != 0) {
                try {
                    fs::moveNoReplace(aside, place);
                } catch (const fs::FileError &) {}
                ++present;
                continue;
            }
            fs::removeTree(aside);
            ++linked;
            continue;
        }

        if (!row.contains(entry))
            continue;
        QString reason;
        try {
            fs::makePath(skills);
            if (::symlink(masterBytes.constData(), placeBytes.constData()) == 0) {
                ++linked;
                continue;
            }
            reason = errnoText();
        } catch (const fs::FileError &error) {
            reason = error.message();
        }
        if (!fs::existsNoFollow(place))
            return Outcome::failed(QFileInfo(profileFolder).fileName(), Phase::copy,
                                   QStringLiteral("copy ") + entry + QStringLiteral(": ") + reason);
        ++present;
    }
    return Outcome::seeded(linked, present);
}

std::optional<Outcome> registerTools(const QString &profile, const QString &hermesBinary, const QString &serverBinary,
                                     std::chrono::milliseconds timeout)
{
    const QString name = QString::fromUtf8(kToolServerName);
    const RunResult listed = runEngine(
        hermesBinary, {QStringLiteral("-p"), profile, QStringLiteral("mcp"), QStringLiteral("list")}, timeout);
    if (listsToolServer(listed.standardOutput, serverBinary))
        return std::nullopt;
    // Four answers: the add itself, and the replacement of a stale entry.
    const RunResult added =
        runEngine(hermesBinary,
                  {QStringLiteral("-p"), profile, QStringLiteral("mcp"), QStringLiteral("add"), name,
                   QStringLiteral("--command"), serverBinary, QStringLiteral("--args"), QStringLiteral("--serve-mcp")},
                  timeout, QStringLiteral("y\n").repeated(4));
    if (added.status != 0 || !added.standardOutput.contains(QStringLiteral("Saved '%1'").arg(name)))
        return Outcome::failed(profile, Phase::register_,
                               HermesConfigRail::excerpt(added.standardOutput, added.standardError));
    qCInfo(provisioningLog).noquote()
        << QStringLiteral("registered pennora-tools via hermes CLI on %1 (command: %2)").arg(profile, serverBinary);
    return std::nullopt;
}

void removeLeftovers(const QString &folder, Leftovers kind)
{
    const std::optional<QStringList> names = fs::tryListFolder(folder);
    if (!names)
        return;
    for (const QString &name : *names)
        if (leftoverPattern(kind).match(name).hasMatch())
            fs::removeTree(join(folder, name));
}

void removeDSStoreFiles(const QString &folder)
{
    const std::optional<QList<fs::FolderEntry>> entries = fs::tryListFolderEntries(folder);
    if (!entries)
        return;
    for (const fs::FolderEntry &entry : *entries) {
        const QString path = join(folder, entry.name);
        if (entry.kind == fs::FolderEntry::Kind::directory)
            removeDSStoreFiles(path);
        else if (entry.name == u".DS_Store" && entry.kind != fs::FolderEntry::Kind::symLink)
            QFile::remove(path);
    }
}

bool sameContents(const QString &a, const QString &b)
{
    std::optional<QStringList> left = fs::tryListFolder(a);
    std::optional<QStringList> right = fs::tryListFolder(b);
    if (!left || !right)
        return false;
    for (QStringList *names : {&*left, &*right}) {
        names->removeAll(QStringLiteral(".DS_Store"));
        names->sort();
    }
    if (*left != *right)
        return false;
    for (const QString &name : *left) {
        const QString pathA = join(a, name);
        const QString pathB = join(b, name);
        if (fs::isSymLink(pathA) || fs::isSymLink(pathB))
            return false;
        const bool folderA = fs::isDirectoryNoFollow(pathA);
        if (folderA != fs::isDirectoryNoFollow(pathB))
            return false;
        if (folderA) {
            if (!sameContents(pathA, pathB))
                return false;
            continue;
        }
        try {
            if (fs::readRegularFile(pathA, fs::kNoReadCap) != fs::readRegularFile(pathB, fs::kNoReadCap))
                return false;
        } catch (const fs::FileError &) {
            return false;
        }
    }
    return true;
}

bool isProvisioned(const QString &profileFolder)
{
    return fs::existsNoFollow(join(profileFolder, QString::fromUtf8(kMarkerName)));
}

bool isEngineProfile(const QString &profileFolder)
{
    if (!QFileInfo(profileFolder).isDir())
        return false;
    const std::optional<QStringList> names = fs::tryListFolder(profileFolder);
    if (!names)
        return true; // there, but unreadable: the engine's to judge
    for (const QString &name : *names)
        if (name != u".env" && !name.startsWith(u"..env.tmp-"))
            return true;
    return false;
}

bool listsToolServer(const QString &listing, const QString &serverBinary)
{
    const QString name = QString::fromUtf8(kToolServerName);
    for (const QString &line : listing.split(u'\n'))
        if (line.contains(name) && line.contains(serverBinary))
            return true;
    return false;
}

void logFailure(const Outcome &outcome)
{
    qCCritical(provisioningLog).noquote()
        << QStringLiteral("%1 [%2]: %3")
               .arg(outcome.phase().rawValue(), outcome.profile().value_or(QStringLiteral("payload")),
                    foundation::text::graphemePrefix(outcome.excerpt(), 300));
}

Outcome run(const std::optional<QString> &hermesBinary, const std::optional<QString> &profileRoot,
            const std::optional<QString> &payloadRoot, const std::optional<QString> &masterRoot)
{
    const QString profiles = profileRoot.value_or(hermesProfilesRoot());
    const QString payload = payloadRoot ? *payloadRoot : defaultPayloadRoot();
    const QString master = masterRoot ? *masterRoot : defaultMasterRoot();
    const std::optional<QString> server = serverBinaryPath();

    const auto fail = [](const Outcome &outcome) {
        logFailure(outcome);
        return outcome;
    };
    const std::optional<QStringList> manifest = readManifest(payload);
    if (!manifest)
        return fail(
            Outcome::failed(std::nullopt, Phase::copy, QStringLiteral("seed-manifest.txt missing from payload")));
    const Outcome seeded = installMasterSkills(*manifest, payload, master);
    if (seeded.isFailed())
        return fail(seeded);
    qint64 copied = seeded.copied();
    qint64 present = seeded.present();

    const SurfaceEnv env{hermesBinary, profiles, master, *manifest, server, kCommandTimeout};
    for (const ProfileSurface surface : ProfileSurface::allCases()) {
        const Outcome outcome = provisionSurface(surface, env);
        if (outcome.isFailed())
            return fail(outcome);
        copied += outcome.copied();
        present += outcome.present();
    }
    qCInfo(provisioningLog).noquote() << QStringLiteral("provisioned %1 profiles (%2 skills linked/copied, %3 present)")
                                             .arg(3)
                                             .arg(copied)
                                             .arg(present);
    return Outcome::seeded(copied, present);
}

} // namespace ProfileProvisioner

} // namespace profiles
