#include "profiles/hermessettingswriter.h"

#include "foundation/fs.h"
#include "foundation/processrunner.h"
#include "foundation/text.h"
#include "foundation/threadpools.h"

#include <QCoro/QCoroFuture>
#include <QMutex>
#include <QMutexLocker>
#include <QtConcurrent/QtConcurrentRun>

#include <cerrno>
#include <exception>
#include <functional>
#include <memory>
#include <utility>

namespace profiles {

namespace {

const QString kProviderKey = QStringLiteral("model.provider");
const QString kModelKey = QStringLiteral("model.default");
const QString kEffortKey = QStringLiteral("model.reasoning_effort");
const QString kBaseURLKey = QStringLiteral("model.base_url");
const QString kKeyFileName = QStringLiteral(".env");

QString profileFolder(const QString &profileRoot, const QString &profile)
{
    return profileRoot + u'/' + profile;
}

// Runs work on the command pool and hands back what it threw, so the error
// reaches the awaiting caller on the main thread.
QCoro::Task<void> inBackground(std::function<void()> work)
{
    QFuture<std::exception_ptr> running =
        QtConcurrent::run(foundation::commandPool(), [work = std::move(work)]() -> std::exception_ptr {
            try {
                work();
            } catch (...) {
                return std::current_exception();
            }
            return nullptr;
        });
    const std::exception_ptr error = co_await running;
    if (error)
        std::rethrow_exception(error);
}

// The base URL to write for an endpoint as typed or pasted: trimmed of white
// space and line ends (a pasted address often brings its line break along,
// and the engine would keep it in the address); none when nothing is left.
std::optional<QString> baseURLToWrite(const std::optional<QString> &endpoint)
{
    if (!endpoint)
        return std::nullopt;
    const QString trimmed = foundation::text::trimSpacesAndNewlines(*endpoint);
    if (trimmed.isEmpty())
        return std::nullopt;
    return trimmed;
}

[[noreturn]] void failWrite(const QString &profileName, const QString &reason)
{
    throw HermesSettingsWriter::WriteError(QStringLiteral("couldn't write %1/.env: %2").arg(profileName, reason));
}

} // namespace

HermesSettingsWriter::HermesSettingsWriter(std::optional<QString> hermesBinary, QString profileRoot)
    : hermesBinary(std::move(hermesBinary)), profileRoot(std::move(profileRoot))
{}

QString HermesSettingsWriter::envVariable(ModelProvider provider)
{
    switch (provider) {
    case ModelProvider::zai: return QStringLiteral("GLM_API_KEY");
    case ModelProvider::anthropic: return QStringLiteral("ANTHROPIC_API_KEY");
    case ModelProvider::openaiAPI: return QStringLiteral("OPENAI_API_KEY");
    case ModelProvider::nous: return QStringLiteral("NOUS_API_KEY");
    }
    Q_UNREACHABLE();
}

QCoro::Task<void> HermesSettingsWriter::writeModel(ProfileSurface surface, SurfaceModelConfig config,
                                                   std::optional<QString> baseURL)
{
    if (!hermesBinary)
        throw WriteError(QString::fromUtf8(kNoEngineMessage));
    // Only copies cross into the task: the writer may be gone before it ends.
    const QString binary = *hermesBinary;
    const QString profile = surface.profileName();
    const QList<HermesConfigRail::Write> writes = modelWrites(config, baseURL);
    QCoro::Task<void> writing = inBackground([writes, profile, binary] { applyModelWrites(writes, profile, binary); });
    co_await writing;
}

QCoro::Task<void> HermesSettingsWriter::writeProviderKey(ModelProvider provider, ProviderKeyConfig keyConfig,
                                                         QList<ProfileSurface> surfaces)
{
    const QString variable = envVariable(provider);
    const std::optional<QString> baseURL =
        provider == ModelProvider::zai ? baseURLToWrite(keyConfig.endpoint) : std::optional<QString>();
    if (baseURL && !hermesBinary)
        throw WriteError(QString::fromUtf8(kNoEngineMessage));
    const std::optional<QString> binary = hermesBinary;
    const QString root = profileRoot;
    const QString apiKey = keyConfig.apiKey;
    QCoro::Task<void> writing = inBackground([variable, apiKey, baseURL, surfaces, binary, root] {
        applyProviderKey(variable, apiKey, baseURL, surfaces, binary, root);
    });
    co_await writing;
}

QCoro::Task<std::optional<SettingsWriting::StoredModel>> HermesSettingsWriter::readModel(ProfileSurface surface)
{
    if (!hermesBinary)
        co_return std::nullopt;
    const QString binary = *hermesBinary;
    const QString profile = surface.profileName();
    const auto stored = std::make_shared<std::optional<StoredModel>>();
    QCoro::Task<void> reading = inBackground([stored, profile, binary] { *stored = readStoredModel(profile, binary); });
    co_await reading;
    co_return *stored;
}

QCoro::Task<std::optional<QString>> HermesSettingsWriter::readProviderKey(ModelProvider provider)
{
    const QString variable = envVariable(provider);
    const QString root = profileRoot;
    const auto key = std::make_shared<std::optional<QString>>();
    QCoro::Task<void> reading = inBackground([key, variable, root] { *key = scanEnvFiles(variable, root); });
    co_await reading;
    co_return *key;
}

QList<HermesConfigRail::Write> HermesSettingsWriter::modelWrites(const SurfaceModelConfig &config,
                                                                 const std::optional<QString> &baseURL)
{
    using Write = HermesConfigRail::Write;
    QList<Write> writes{Write::set(kProviderKey, config.provider.rawValue()), Write::set(kModelKey, config.model)};
    writes << (config.effort ? Write::set(kEffortKey, config.effort->rawValue()) : Write::unset(kEffortKey));
    if (config.provider != ModelProvider::zai) {
        // A z.ai endpoint left behind would receive this provider's key.
        writes << Write::unset(kBaseURLKey);
    } else if (const std::optional<QString> url = baseURLToWrite(baseURL)) {
        // Blank means leave the profile's own.
        writes << Write::set(kBaseURLKey, *url);
    }
    return writes;
}

void HermesSettingsWriter::applyModelWrites(const QList<HermesConfigRail::Write> &writes, const QString &profile,
                                            const QString &hermesBinary)
{
    HermesConfigRail::apply(writes, profile, hermesBinary, kCommandTimeout);
}

void HermesSettingsWriter::applyProviderKey(const QString &variable, const QString &apiKey,
                                            const std::optional<QString> &baseURL,
                                            const QList<ProfileSurface> &surfaces,
                                            const std::optional<QString> &hermesBinary, const QString &profileRoot)
{
    // An empty key removes nothing: clearing the field keeps the stored key.
    if (!apiKey.isEmpty()) {
        for (const ProfileSurface surface : ProfileSurface::allCases()) {
            const QString profile = surface.profileName();
            writeEnvValue(variable, apiKey, profileFolder(profileRoot, profile), profile);
        }
    }
    if (!baseURL || !hermesBinary)
        return;
    for (const ProfileSurface surface : surfaces)
        applyModelWrites({HermesConfigRail::Write::set(kBaseURLKey, *baseURL)}, surface.profileName(), *hermesBinary);
}

std::optional<QString> HermesSettingsWriter::configGet(const QString &key, const QString &hermesBinary,
                                                       const QString &profile)
{
    const foundation::process::RunResult result = runConfigGet(key, hermesBinary, profile);
    if (result.status != 0)
        return std::nullopt;
    const QString value = foundation::text::trimSpacesAndNewlines(result.standardOutput);
    if (value.isEmpty())
        return std::nullopt;
    return value;
}

foundation::process::RunResult HermesSettingsWriter::runConfigGet(const QString &key, const QString &hermesBinary,
                                                                  const QString &profile)
{
    return foundation::process::run(
        {hermesBinary, QStringLiteral("-p"), profile, QStringLiteral("config"), QStringLiteral("get"), key},
        std::nullopt, kCommandTimeout);
}

std::optional<SettingsWriting::StoredModel> HermesSettingsWriter::readStoredModel(const QString &profile,
                                                                                  const QString &hermesBinary)
{
    const std::optional<QString> providerText = configGet(kProviderKey, hermesBinary, profile);
    const std::optional<ModelProvider> provider =
        providerText ? ModelProvider::fromRawValue(*providerText) : std::nullopt;
    if (!provider)
        return std::nullopt;
    const std::optional<QString> model = configGet(kModelKey, hermesBinary, profile);
    const std::optional<QString> effortText = configGet(kEffortKey, hermesBinary, profile);
    const std::optional<ReasoningEffort> effort =
        effortText ? ReasoningEffort::fromRawValue(*effortText) : std::nullopt;
    const std::optional<QString> baseURL = configGet(kBaseURLKey, hermesBinary, profile);
    return StoredModel{SurfaceModelConfig{*provider, model.value_or(QString::fromUtf8(kUnsetModel)), effort}, baseURL};
}

std::optional<QString> HermesSettingsWriter::scanEnvFiles(const QString &variable, const QString &profileRoot)
{
    const QString prefix = variable + u'=';
    for (const ProfileSurface surface : ProfileSurface::allCases()) {
        QString text;
        try {
            text = foundation::fs::readUtf8File(profileFolder(profileRoot, surface.profileName()) + u'/' + kKeyFileName,
                                                foundation::fs::kDefaultReadCap);
        } catch (const foundation::fs::FileError &) {
            continue;
        }
        // A line ending in CR LF is read as ending in LF.
        text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
        for (const QString &line : text.split(u'\n', Qt::SkipEmptyParts)) {
            if (!line.startsWith(prefix))
                continue;
            // Quotes stay: the engine reads the value as written.
            const QString value = foundation::text::trimSpaces(line.mid(prefix.size()));
            if (!value.isEmpty())
                return value;
        }
    }
    return std::nullopt;
}

void HermesSettingsWriter::writeEnvValue(const QString &variable, const QString &value, const QString &profileFolder,
                                         const QString &profileName)
{
    if (value.contains(u'\r') || value.contains(u'\n') || value.contains(QChar(u'\0')))
        throw WriteError(variable + QStringLiteral(" value contains a line break — not written"));

    const QMutexLocker locker(&envLock());
    const QString path = profileFolder + u'/' + kKeyFileName;
    // Writes never go through links, and replacing one would drop the user's
    // arrangement without a word.
    if (foundation::fs::isSymLink(path))
        failWrite(profileName, QStringLiteral("key file is a symbolic link"));
    QString text;
    try {
        text = foundation::fs::readUtf8File(path);
    } catch (const foundation::fs::FileError &error) {
        // Only a missing file counts as empty: one that cannot be read or is
        // not UTF-8 holds the user's other keys, and writing our one line
        // would replace them all.
        if (error.code() != ENOENT)
            failWrite(profileName, error.code() == EILSEQ ? QStringLiteral("key file is not UTF-8 text")
                                                          : foundation::fs::errorText(error.code()));
    }
    const QString merged = mergeEnvLine(text, variable, value);
    try {
        foundation::fs::makePath(profileFolder, foundation::fs::Privacy::Private);
        // Private from the temp file's creation: the key is never readable by
        // others, not even before the rename.
        foundation::fs::atomicWrite(path, merged.toUtf8(), foundation::fs::Privacy::Private);
    } catch (const foundation::fs::FileError &error) {
        failWrite(profileName, foundation::fs::errorText(error.code()));
    }
}

QString HermesSettingsWriter::mergeEnvLine(const QString &text, const QString &variable, const QString &value)
{
    const QString prefix = variable + u'=';
    QStringList lines;
    if (!text.isEmpty()) {
        lines = text.split(u'\n');
        // A final line feed ends the last line; it does not start another.
        if (lines.last().isEmpty())
            lines.removeLast();
    }
    lines.removeIf([&prefix](const QString &line) { return line.startsWith(prefix); });
    lines << prefix + value;
    return lines.join(u'\n') + u'\n';
}

QMutex &HermesSettingsWriter::envLock()
{
    static QMutex lock;
    return lock;
}

} // namespace profiles
