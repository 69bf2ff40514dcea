// The profile settings writer: key files merged, kept private and read back,
// and model settings written and read through the stand-in engine.
#include "profiles/hermessettingswriter.h"

#include "foundation/fs.h"

#include "capturedlog.h"
#include "standinprofiles.h"

#include <gtest/gtest.h>

#include <QCoro/QCoroTask>
#include <QDirIterator>
#include <QFile>
#include <QJsonArray>
#include <QMutex>
#include <QTimer>

#include <exception>
#include <optional>
#include <sys/stat.h>
#include <thread>

using profiles::HermesSettingsWriter;
using profiles::ModelProvider;
using profiles::ProfileSurface;
using profiles::ProviderKeyConfig;
using profiles::ReasoningEffort;
using profiles::SurfaceModelConfig;
using testsupport::FakeHermesScenario;
using testsupport::readFile;
using testsupport::standInConfig;
using testsupport::standInProfilesRoot;
using testsupport::standInRuns;
using testsupport::writeFile;
using WriteError = HermesSettingsWriter::WriteError;
using StoredModel = HermesSettingsWriter::StoredModel;
namespace HermesConfigRail = profiles::HermesConfigRail;

namespace profiles {
void PrintTo(const SettingsWriting::StoredModel &stored, std::ostream *os)
{
    *os << "{" << stored.config.provider.rawValue().toStdString() << ", \"" << stored.config.model.toStdString()
        << "\", " << (stored.config.effort ? stored.config.effort->rawValue().toStdString() : "no effort") << ", "
        << (stored.baseURL ? "\"" + stored.baseURL->toStdString() + "\"" : "no base URL") << "}";
}
} // namespace profiles

namespace {

const QStringList kProfiles{"pennora", "pennora-pass1", "pennora-pass2"};
const QString kNoEngine = QStringLiteral("hermes binary not found — pass the engine gate first");

// What a task threw (a task cannot answer an exception_ptr itself).
struct Thrown {
    std::exception_ptr error;
};

QCoro::Task<Thrown> caught(QCoro::Task<void> task)
{
    Thrown thrown;
    try {
        co_await task;
    } catch (...) {
        thrown.error = std::current_exception();
    }
    co_return thrown;
}

// What the operation threw, described; none when it ended well.
std::optional<QString> failureOf(QCoro::Task<void> task)
{
    const std::exception_ptr error = QCoro::waitFor(caught(std::move(task))).error;
    if (!error)
        return std::nullopt;
    try {
        std::rethrow_exception(error);
    } catch (const std::exception &thrown) {
        return foundation::describe(thrown);
    }
}

QString keyFile(const QString &profile)
{
    return standInProfilesRoot() + u'/' + profile + QStringLiteral("/.env");
}

QStringList configLine(const QString &profile, const QStringList &rest)
{
    return QStringList{"-p", profile, "config"} + rest;
}

class SettingsWriter : public ::testing::Test {
protected:
    void SetUp() override { testsupport::resetStandInProfiles(kProfiles); }

    HermesSettingsWriter writer() const { return {testsupport::fakeHermesBinary(), standInProfilesRoot()}; }
    HermesSettingsWriter withoutEngine() const { return {std::nullopt, standInProfilesRoot()}; }

    FakeHermesScenario fake{{}};
};

TEST(EnvMerge, KeyLinesGoAndTheNewOneEndsTheFile)
{
    const struct {
        const char *name;
        QString before;
        QString value;
        QString after;
    } cases[] = {
        {"duplicates, an empty line, no final line feed", "# keys\nOTHER=1\nGLM_API_KEY=old1\n\nGLM_API_KEY=old2",
         "new", "# keys\nOTHER=1\n\nGLM_API_KEY=new\n"},
        {"no final line feed", "OTHER=1", "new", "OTHER=1\nGLM_API_KEY=new\n"},
        {"two final line feeds keep one empty line", "OTHER=1\n\n", "new", "OTHER=1\n\nGLM_API_KEY=new\n"},
        {"nothing yet", "", "new", "GLM_API_KEY=new\n"},
        {"look-alike lines stay",
         "export GLM_API_KEY=a\n GLM_API_KEY=b\n#GLM_API_KEY=c\nGLM_API_KEYS=d\nglm_api_key=e\n", "new",
         "export GLM_API_KEY=a\n GLM_API_KEY=b\n#GLM_API_KEY=c\nGLM_API_KEYS=d\nglm_api_key=e\nGLM_API_KEY=new\n"},
        {"quotes and spaces as given", "GLM_API_KEY=old\n", "\"k 1\"", "GLM_API_KEY=\"k 1\"\n"},
        {"carriage returns stay on the other lines", "OTHER=1\r\nGLM_API_KEY=old\r\n", "new",
         "OTHER=1\r\nGLM_API_KEY=new\n"},
        {"only line feeds", "\n", "new", "\nGLM_API_KEY=new\n"},
    };
    for (const auto &c : cases)
        EXPECT_EQ(HermesSettingsWriter::mergeEnvLine(c.before, "GLM_API_KEY", c.value), c.after) << c.name;
}

mode_t g_tempMode = 0;
void recordTempMode(const QString &tempPath)
{
    g_tempMode = testsupport::modeOf(tempPath);
}

TEST_F(SettingsWriter, KeyFilesAndTheirFoldersArePrivateFromTheStart)
{
    const mode_t oldMask = ::umask(0);
    foundation::fs::detail::setTempCreatedHook(recordTempMode);
    const QString root = testsupport::tempHome() + "/elsewhere/profiles";
    HermesSettingsWriter::writeEnvValue("GLM_API_KEY", "k1", root + "/pennora", "pennora");
    EXPECT_EQ(g_tempMode, 0600u);
    EXPECT_EQ(readFile(root + "/pennora/.env"), "GLM_API_KEY=k1\n");
    EXPECT_EQ(testsupport::modeOf(root + "/pennora/.env"), 0600u);
    EXPECT_EQ(testsupport::modeOf(root + "/pennora"), 0700u);
    EXPECT_EQ(testsupport::modeOf(root), 0700u);

    // An open key file becomes private with the rewrite, and not a moment later.
    const QString open = keyFile("pennora-pass1");
    writeFile(open, "OTHER=1\n");
    ::chmod(QFile::encodeName(open).constData(), 0644);
    g_tempMode = 0;
    HermesSettingsWriter::writeEnvValue("GLM_API_KEY", "k2", standInProfilesRoot() + "/pennora-pass1", "pennora-pass1");
    EXPECT_EQ(g_tempMode, 0600u);
    EXPECT_EQ(testsupport::modeOf(open), 0600u);
    EXPECT_EQ(readFile(open), "OTHER=1\nGLM_API_KEY=k2\n");
    foundation::fs::detail::setTempCreatedHook(nullptr);
    ::umask(oldMask);
}

TEST_F(SettingsWriter, ALineBreakInTheKeyTouchesNoFile)
{
    const QByteArray before = "# mine\nGLM_API_KEY=old";
    writeFile(keyFile("pennora"), before);
    const QStringList entriesBefore = testsupport::entries(standInProfilesRoot() + "/pennora");
    for (const QString &bad :
         {QStringLiteral("a\nb"), QStringLiteral("a\rb"), QStringLiteral("ab\n"), QString("a") + QChar(u'\0') + "b"}) {
        try {
            HermesSettingsWriter::writeEnvValue("GLM_API_KEY", bad, standInProfilesRoot() + "/pennora", "pennora");
            ADD_FAILURE() << "written: " << bad.toStdString();
        } catch (const WriteError &error) {
            EXPECT_EQ(error, WriteError("GLM_API_KEY value contains a line break — not written"));
        }
        const auto failure = failureOf(writer().writeProviderKey(ModelProvider::anthropic, {"", bad}, {}));
        EXPECT_EQ(failure, "ANTHROPIC_API_KEY value contains a line break — not written");
    }
    EXPECT_EQ(readFile(keyFile("pennora")), before);
    EXPECT_EQ(testsupport::entries(standInProfilesRoot() + "/pennora"), entriesBefore);
    EXPECT_FALSE(QFile::exists(keyFile("pennora-pass1")));
}

TEST_F(SettingsWriter, AKeyFileThatIsALinkIsRefused)
{
    const QString elsewhere = writeFile(testsupport::tempHome() + "/shared.env", "GLM_API_KEY=old\n");
    ASSERT_TRUE(QFile::link(elsewhere, keyFile("pennora-pass1")));
    const auto failure = failureOf(writer().writeProviderKey(ModelProvider::zai, {"", "new"}, {}));
    EXPECT_EQ(failure, "couldn't write pennora-pass1/.env: key file is a symbolic link");
    EXPECT_TRUE(foundation::fs::isSymLink(keyFile("pennora-pass1")));
    EXPECT_EQ(readFile(elsewhere), "GLM_API_KEY=old\n");
    // The profile before it has the new key, the one after it none.
    EXPECT_EQ(readFile(keyFile("pennora")), "GLM_API_KEY=new\n");
    EXPECT_FALSE(QFile::exists(keyFile("pennora-pass2")));
}

TEST_F(SettingsWriter, AKeyFileThatIsNotUtf8KeepsTheKeysItHolds)
{
    // Another key and a comment with a Latin-1 byte: none of it may go.
    const QByteArray theirs = "# caf\xe9 keys\nTELEGRAM_BOT_TOKEN=t0k\nGLM_API_KEY=old\n";
    writeFile(keyFile("pennora-pass1"), theirs);
    const auto failure = failureOf(writer().writeProviderKey(ModelProvider::zai, {"", "new"}, {}));
    EXPECT_EQ(failure, "couldn't write pennora-pass1/.env: key file is not UTF-8 text");
    EXPECT_EQ(readFile(keyFile("pennora-pass1")), theirs);
    EXPECT_EQ(readFile(keyFile("pennora")), "GLM_API_KEY=new\n");
}

TEST_F(SettingsWriter, AProfileFolderThatCannotBeMadeStopsTheFanOut)
{
    writeFile(keyFile("pennora-pass2"), "NOUS_API_KEY=old\n");
    QDir(standInProfilesRoot() + "/pennora-pass1").removeRecursively();
    writeFile(standInProfilesRoot() + "/pennora-pass1", "not a folder");
    const auto failure = failureOf(writer().writeProviderKey(ModelProvider::nous, {"", "new"}, {}));
    EXPECT_EQ(failure, "couldn't write pennora-pass1/.env: Not a directory");
    EXPECT_EQ(readFile(keyFile("pennora")), "NOUS_API_KEY=new\n");
    EXPECT_EQ(readFile(keyFile("pennora-pass2")), "NOUS_API_KEY=old\n");
}

TEST_F(SettingsWriter, ConcurrentRewritesKeepEveryVariable)
{
    const QString folder = standInProfilesRoot() + "/pennora";
    const auto writeMany = [&folder](const QString &variable) {
        for (int i = 0; i < 200; ++i)
            HermesSettingsWriter::writeEnvValue(variable, QString::number(i), folder, "pennora");
    };
    std::thread first(writeMany, QStringLiteral("GLM_API_KEY"));
    std::thread second(writeMany, QStringLiteral("OPENAI_API_KEY"));
    first.join();
    second.join();
    const QByteArray text = readFile(keyFile("pennora"));
    EXPECT_EQ(text.count("GLM_API_KEY="), 1) << text.toStdString();
    EXPECT_EQ(text.count("OPENAI_API_KEY="), 1) << text.toStdString();
    EXPECT_TRUE(text.contains("GLM_API_KEY=199\n"));
    EXPECT_TRUE(text.contains("OPENAI_API_KEY=199\n"));
    EXPECT_EQ(testsupport::entries(folder), QStringList{".env"});
}

TEST_F(SettingsWriter, KeysAreFoundInProfileOrderAndLineOrder)
{
    const struct {
        const char *name;
        QByteArray chat, pass1, pass2;
        std::optional<QString> expected;
    } cases[] = {
        {"blank in chat, set in pass1", "ANTHROPIC_API_KEY=   \n", "ANTHROPIC_API_KEY=k1\n", "ANTHROPIC_API_KEY=k2\n",
         QStringLiteral("k1")},
        {"chat first", "ANTHROPIC_API_KEY=k0", "ANTHROPIC_API_KEY=k1\n", "", QStringLiteral("k0")},
        {"the earlier line", "ANTHROPIC_API_KEY=\nANTHROPIC_API_KEY=a\nANTHROPIC_API_KEY=b\n", "", "",
         QStringLiteral("a")},
        {"look-alikes passed over",
         "export ANTHROPIC_API_KEY=x\n ANTHROPIC_API_KEY=y\n#ANTHROPIC_API_KEY=z\nANTHROPIC_API_KEYS=w\n", "",
         "\tANTHROPIC_API_KEY=v\n", std::nullopt},
        {"quotes kept, spaces trimmed", "ANTHROPIC_API_KEY= \"q k\"\t\n", "", "", QStringLiteral("\"q k\"")},
        {"CR LF line ends", "OTHER=1\r\nANTHROPIC_API_KEY=crlf\r\n", "", "", QStringLiteral("crlf")},
        {"only in the last profile", "", "", "\n\nANTHROPIC_API_KEY=last", QStringLiteral("last")},
        {"nowhere", "OTHER=1\n", "", "", std::nullopt},
    };
    for (const auto &c : cases) {
        SetUp();
        const QByteArray texts[] = {c.chat, c.pass1, c.pass2};
        for (int i = 0; i < 3; ++i)
            if (!texts[i].isEmpty())
                writeFile(keyFile(kProfiles.at(i)), texts[i]);
        EXPECT_EQ(QCoro::waitFor(withoutEngine().readProviderKey(ModelProvider::anthropic)), c.expected) << c.name;
    }
}

TEST_F(SettingsWriter, AProviderKeyGoesIntoAllThreeProfilesAndNoKeyChangesNothing)
{
    writeFile(keyFile("pennora-pass1"), "# mine\nANTHROPIC_API_KEY=old\n");
    // No engine is needed for a key alone.
    EXPECT_FALSE(
        failureOf(withoutEngine().writeProviderKey(ModelProvider::anthropic, {"", "k"}, {ProfileSurface::chat})));
    EXPECT_EQ(readFile(keyFile("pennora")), "ANTHROPIC_API_KEY=k\n");
    EXPECT_EQ(readFile(keyFile("pennora-pass1")), "# mine\nANTHROPIC_API_KEY=k\n");
    EXPECT_EQ(readFile(keyFile("pennora-pass2")), "ANTHROPIC_API_KEY=k\n");

    // Clearing the field keeps the stored key.
    EXPECT_FALSE(failureOf(writer().writeProviderKey(ModelProvider::anthropic, {"", ""}, {})));
    EXPECT_EQ(QCoro::waitFor(writer().readProviderKey(ModelProvider::anthropic)), QStringLiteral("k"));

    // Spaces are a key to write, and a blank one to read past.
    EXPECT_FALSE(failureOf(writer().writeProviderKey(ModelProvider::anthropic, {"", "  "}, {})));
    EXPECT_EQ(readFile(keyFile("pennora")), "ANTHROPIC_API_KEY=  \n");
    EXPECT_EQ(QCoro::waitFor(writer().readProviderKey(ModelProvider::anthropic)), std::nullopt);
    EXPECT_TRUE(standInRuns(fake).isEmpty());
}

TEST_F(SettingsWriter, TheZaiEndpointGoesOnlyToTheGivenSurfaces)
{
    const QString coding = profiles::ZaiKeyType(profiles::ZaiKeyType::coding).endpoint();
    EXPECT_FALSE(failureOf(
        writer().writeProviderKey(ModelProvider::zai, {coding, "zk"}, {ProfileSurface::pass2, ProfileSurface::chat})));
    EXPECT_EQ(standInRuns(fake), (QList<QStringList>{configLine("pennora-pass2", {"set", "model.base_url", coding}),
                                                     configLine("pennora", {"set", "model.base_url", coding})}));
    EXPECT_TRUE(standInConfig("pennora-pass1").isEmpty());
    for (const QString &profile : kProfiles)
        EXPECT_EQ(readFile(keyFile(profile)), "GLM_API_KEY=zk\n") << profile.toStdString();

    // A blank endpoint writes the keys alone, even without an engine.
    SetUp();
    EXPECT_FALSE(
        failureOf(withoutEngine().writeProviderKey(ModelProvider::zai, {" \t", "zk"}, {ProfileSurface::chat})));
    EXPECT_EQ(readFile(keyFile("pennora-pass2")), "GLM_API_KEY=zk\n");

    // An endpoint without an engine writes nothing at all.
    SetUp();
    EXPECT_EQ(failureOf(withoutEngine().writeProviderKey(ModelProvider::zai, {coding, "zk"}, {ProfileSurface::chat})),
              kNoEngine);
    EXPECT_FALSE(QFile::exists(keyFile("pennora")));
}

// A pasted address often brings its line break (or spaces) along; the engine
// would keep them in the address it calls.
TEST_F(SettingsWriter, AZaiEndpointIsWrittenTrimmedAndABlankOneNotAtAll)
{
    const QString coding = profiles::ZaiKeyType(profiles::ZaiKeyType::coding).endpoint();
    const SurfaceModelConfig onZai{ModelProvider::zai, "glm-5.3", {}};
    for (const QString &pasted : {coding + "\n", "  " + coding + "\r\n", "\t" + coding + " \n\n"}) {
        SCOPED_TRACE(pasted.toStdString());
        SetUp();
        const FakeHermesScenario runs{{}};
        EXPECT_FALSE(failureOf(writer().writeProviderKey(ModelProvider::zai, {pasted, ""}, {ProfileSurface::pass1})));
        EXPECT_FALSE(failureOf(writer().writeModel(ProfileSurface::pass2, onZai, pasted)));
        EXPECT_EQ(standInRuns(runs),
                  (QList<QStringList>{configLine("pennora-pass1", {"set", "model.base_url", coding}),
                                      configLine("pennora-pass2", {"set", "model.provider", "zai"}),
                                      configLine("pennora-pass2", {"set", "model.default", "glm-5.3"}),
                                      configLine("pennora-pass2", {"unset", "model.reasoning_effort"}),
                                      configLine("pennora-pass2", {"set", "model.base_url", coding})}));
        EXPECT_EQ(standInConfig("pennora-pass1").value("model.base_url").toString(), coding);
    }
    for (const QString &blank : {QString("\n"), QString(" \r\n\t")}) {
        SCOPED_TRACE(blank.toStdString());
        SetUp();
        const FakeHermesScenario runs{{}};
        EXPECT_FALSE(
            failureOf(withoutEngine().writeProviderKey(ModelProvider::zai, {blank, "zk"}, {ProfileSurface::chat})));
        EXPECT_EQ(readFile(keyFile("pennora")), "GLM_API_KEY=zk\n");
        EXPECT_FALSE(failureOf(writer().writeModel(ProfileSurface::chat, onZai, blank)));
        EXPECT_EQ(standInRuns(runs).size(), 3) << "no base URL written";
    }
}

TEST_F(SettingsWriter, ModelSettingsRoundTripThroughTheEngine)
{
    HermesSettingsWriter w = writer();
    const QString endpoint = ModelProvider(ModelProvider::zai).defaultEndpoint();
    EXPECT_FALSE(failureOf(
        w.writeModel(ProfileSurface::pass1, {ModelProvider::zai, "glm-5.3", ReasoningEffort::high}, endpoint)));
    EXPECT_EQ(QCoro::waitFor(w.readModel(ProfileSurface::pass1)),
              (StoredModel{{ModelProvider::zai, "glm-5.3", ReasoningEffort::high}, endpoint}));

    // A blank base URL leaves the profile's own.
    EXPECT_FALSE(failureOf(w.writeModel(ProfileSurface::pass1, {ModelProvider::zai, "glm-5.3-air", {}}, " ")));
    EXPECT_EQ(QCoro::waitFor(w.readModel(ProfileSurface::pass1)),
              (StoredModel{{ModelProvider::zai, "glm-5.3-air", {}}, endpoint}));

    // Switching away from z.ai takes its endpoint away.
    const FakeHermesScenario switching{{}};
    EXPECT_FALSE(failureOf(
        w.writeModel(ProfileSurface::pass1, {ModelProvider::openaiAPI, "gpt-6.1-sol", ReasoningEffort::xhigh}, {})));
    EXPECT_EQ(standInRuns(switching),
              (QList<QStringList>{configLine("pennora-pass1", {"set", "model.provider", "openai-api"}),
                                  configLine("pennora-pass1", {"set", "model.default", "gpt-6.1-sol"}),
                                  configLine("pennora-pass1", {"set", "model.reasoning_effort", "xhigh"}),
                                  configLine("pennora-pass1", {"unset", "model.base_url"})}));
    EXPECT_EQ(QCoro::waitFor(w.readModel(ProfileSurface::pass1)),
              (StoredModel{{ModelProvider::openaiAPI, "gpt-6.1-sol", ReasoningEffort::xhigh}, std::nullopt}));
    // Once more: the endpoint is gone already, which counts as removed.
    EXPECT_FALSE(failureOf(w.writeModel(ProfileSurface::pass1, SurfaceModelConfig(), {})));
    EXPECT_EQ(QCoro::waitFor(w.readModel(ProfileSurface::pass1)), (StoredModel{SurfaceModelConfig(), std::nullopt}));
    // The other profiles were not touched.
    EXPECT_TRUE(standInConfig("pennora").isEmpty());
}

TEST_F(SettingsWriter, ReadingAnswersWhatTheProfileHoldsOrNothing)
{
    const struct {
        const char *name;
        QJsonObject config;
        std::optional<StoredModel> expected;
    } cases[] = {
        {"nothing set", {}, std::nullopt},
        {"a provider outside the four", {{"model.provider", "openai"}, {"model.default", "gpt"}}, std::nullopt},
        {"no model", {{"model.provider", "nous"}}, StoredModel{{ModelProvider::nous, "claude-sonnet-5-5", {}}, {}}},
        {"an effort outside the five",
         {{"model.provider", "anthropic"}, {"model.default", "m"}, {"model.reasoning_effort", "High"}},
         StoredModel{{ModelProvider::anthropic, "m", {}}, {}}},
        {"a blank model",
         {{"model.provider", "anthropic"}, {"model.default", " "}},
         StoredModel{{ModelProvider::anthropic, "claude-sonnet-5-5", {}}, {}}},
    };
    for (const auto &c : cases) {
        SetUp();
        testsupport::setStandInConfig("pennora-pass2", c.config);
        EXPECT_EQ(QCoro::waitFor(writer().readModel(ProfileSurface::pass2)), c.expected) << c.name;
    }
    // Without an engine nothing is asked.
    testsupport::setStandInConfig("pennora-pass2", {{"model.provider", "nous"}});
    const FakeHermesScenario quiet{{}};
    EXPECT_EQ(QCoro::waitFor(withoutEngine().readModel(ProfileSurface::pass2)), std::nullopt);
    EXPECT_TRUE(standInRuns(quiet).isEmpty());
}

TEST_F(SettingsWriter, ModelWritesNeedTheEngineAndStopAtTheFirstRefusal)
{
    EXPECT_EQ(failureOf(withoutEngine().writeModel(ProfileSurface::chat, SurfaceModelConfig(), {})), kNoEngine);

    const FakeHermesScenario refusing{
        {{"faults", QJsonArray{QJsonObject{
                        {"args", QJsonArray::fromStringList(configLine("pennora", {"set", "model.default", "glm"}))},
                        {"stdout", ""},
                        {"stderr", "model glm unknown\n"},
                        {"exit", 1},
                        {"noEffect", true}}}}}};
    const std::exception_ptr error =
        QCoro::waitFor(
            caught(writer().writeModel(ProfileSurface::chat, {ModelProvider::zai, "glm", ReasoningEffort::low}, {})))
            .error;
    ASSERT_TRUE(error);
    try {
        std::rethrow_exception(error);
    } catch (const HermesConfigRail::Failure &failure) {
        EXPECT_EQ(failure.message(), "couldn't set model.default on pennora: model glm unknown");
    }
    EXPECT_EQ(testsupport::compactJson(standInConfig("pennora")),
              testsupport::compactJson({{"model.provider", "zai"}}));
}

TEST_F(SettingsWriter, TheMainThreadRunsOnWhileTheEngineWorks)
{
    const FakeHermesScenario slow{
        {{"faults", QJsonArray{QJsonObject{{"args", QJsonArray::fromStringList(
                                                        configLine("pennora", {"set", "model.provider", "anthropic"}))},
                                           {"sleepMs", 1000}}}}}};
    bool done = false;
    bool tickedWhileWriting = false;
    QTimer::singleShot(50, [&] { tickedWhileWriting = !done; });
    EXPECT_FALSE(failureOf(writer().writeModel(ProfileSurface::chat, SurfaceModelConfig(), {})));
    done = true;
    EXPECT_TRUE(tickedWhileWriting);
}

// A key goes into the three key files and nowhere else: not into a command
// line, a log, an error text or another file.
TEST_F(SettingsWriter, AKeyIsFoundOnlyInTheKeyFiles)
{
    const QString sentinel = QStringLiteral("sk-SENTINEL-7c1e9a");
    testsupport::CapturedLog log;
    const FakeHermesScenario failing{
        {{"faults", QJsonArray{QJsonObject{{"args", QJsonArray::fromStringList(configLine(
                                                        "pennora-pass1", {"set", "model.base_url", "https://z.test"}))},
                                           {"exit", 1}}}}}};
    const auto failure = failureOf(writer().writeProviderKey(ModelProvider::zai, {"https://z.test", sentinel},
                                                             {ProfileSurface::chat, ProfileSurface::pass1}));
    ASSERT_TRUE(failure);
    EXPECT_FALSE(failure->contains(sentinel));
    // Compared, never printed: the key stays out of the test's output too.
    EXPECT_TRUE(QCoro::waitFor(writer().readProviderKey(ModelProvider::zai)) == sentinel);

    for (const auto &line : log.lines)
        EXPECT_FALSE(line.text.contains(sentinel)) << "a line of " << line.category.toStdString();
    QStringList holders;
    for (const QString &root :
         {testsupport::tempHome(), QFileInfo(failing.logPath()).path(), QFileInfo(fake.logPath()).path()}) {
        QDirIterator files(root, QDir::Files | QDir::Hidden | QDir::System, QDirIterator::Subdirectories);
        while (files.hasNext()) {
            const QString path = files.next();
            if (readFile(path).contains(sentinel.toUtf8()))
                holders << path;
        }
    }
    QStringList expected{keyFile("pennora"), keyFile("pennora-pass1"), keyFile("pennora-pass2")};
    holders.sort();
    expected.sort();
    EXPECT_EQ(holders, expected);
    EXPECT_FALSE(standInRuns(failing).isEmpty());
}

} // namespace
