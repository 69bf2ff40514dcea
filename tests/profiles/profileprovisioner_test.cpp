// Profile provisioning against the stand-in engine: the master copy of the
// writing skills, profile creation, model defaults, skill links and the tool
// server's registration, with every failure row and the leftovers it must keep.
#include "profiles/profileprovisioner.h"
#include "profiles/provisioningmodel.h"

#include "foundation/fs.h"
#include "foundation/processrunner.h"

#include "capturedlog.h"
#include "standinprofiles.h"

#include <gtest/gtest.h>

#include <QCoro/QCoroTask>
#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QUuid>

#include <functional>
#include <optional>
#include <unistd.h>

using profiles::ProfileSurface;
using profiles::ProvisioningModel;
using testsupport::FakeHermesScenario;
using testsupport::readFile;
using testsupport::standInConfig;
using testsupport::standInProfilesRoot;
using testsupport::standInRuns;
using testsupport::writeFile;
namespace Provisioner = profiles::ProfileProvisioner;
using Outcome = Provisioner::Outcome;
using Phase = Provisioner::Phase;

namespace profiles::ProfileProvisioner {
void PrintTo(const Outcome &outcome, std::ostream *os)
{
    if (!outcome.isFailed())
        *os << "seeded(" << outcome.copied() << ", " << outcome.present() << ")";
    else
        *os << "failed(" << outcome.profile().value_or("<none>").toStdString() << ", "
            << outcome.phase().rawValue().toStdString() << ", \"" << outcome.excerpt().toStdString() << "\")";
}
} // namespace profiles::ProfileProvisioner

namespace {

const QStringList kProfiles{"pennora", "pennora-pass1", "pennora-pass2"};
// One skill only chat takes, one only the Passes, one only Pass 2 lacks, one
// every surface takes; listed out of the table's order on purpose.
const QStringList kSkills{"session-persona", "serif-writing", "fiction-craft", "pass-persona"};

QString uuid()
{
    return QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper();
}

QString link(const QString &target, const QString &path)
{
    QDir().mkpath(QFileInfo(path).path());
    EXPECT_EQ(::symlink(QFile::encodeName(target).constData(), QFile::encodeName(path).constData()), 0)
        << path.toStdString();
    return path;
}

class Provisioning : public ::testing::Test {
protected:
    void SetUp() override
    {
        testsupport::resetStandInProfiles({});
        writePayload(kSkills);
    }

    void writePayload(const QStringList &skills, const QByteArray &manifest = {})
    {
        QDir(payload).removeRecursively();
        for (const QString &skill : skills)
            writeFile(payload + u'/' + skill + "/SKILL.md", "---\nname: " + skill.toUtf8() + "\nversion: 1.0\n---\n");
        writeFile(payload + "/seed-manifest.txt", manifest.isEmpty() ? skills.join(u'\n').toUtf8() : manifest);
    }

    Outcome provision(const std::optional<QString> &engine = testsupport::fakeHermesBinary())
    {
        return Provisioner::run(engine, standInProfilesRoot(), payload, master);
    }

    QString profile(const QString &name) const { return standInProfilesRoot() + u'/' + name; }
    QString place(const QString &name, const QString &skill) const { return profile(name) + "/skills/" + skill; }
    QStringList skillsOf(const QString &name) const { return testsupport::entries(profile(name) + "/skills"); }

    QTemporaryDir dir;
    QString payload = dir.path() + "/writing skills";
    QString master = dir.path() + "/skills";
    FakeHermesScenario fake{{}};
};

TEST(ProvisioningSteps, ManifestSkillNamesAndVersions)
{
    QTemporaryDir dir;
    const QString payload = dir.path();
    EXPECT_EQ(Provisioner::readManifest(payload), std::nullopt);
    writeFile(payload + "/seed-manifest.txt", "# comment\n\n  deslop \t\nrhetoric\nrhetoric");
    EXPECT_EQ(Provisioner::readManifest(payload), (QStringList{"deslop", "rhetoric", "rhetoric"}));
    writeFile(payload + "/seed-manifest.txt", "deslop\r\n");
    EXPECT_EQ(Provisioner::readManifest(payload), (QStringList{"deslop\r"}));
    writeFile(payload + "/seed-manifest.txt", "\xff\n");
    EXPECT_EQ(Provisioner::readManifest(payload), std::nullopt);

    for (const QString name : {"deslop", "micro-drill", "r2d2", "écrire", "٣"})
        EXPECT_TRUE(Provisioner::isValidSkillName(name)) << name.toStdString();
    for (const QString name : {"", "Deslop", "prose_craft", "a.b", "a/b", "a b", "deslop\r"})
        EXPECT_FALSE(Provisioner::isValidSkillName(name)) << name.toStdString();

    const struct {
        QByteArray skillFile;
        std::optional<QString> version;
    } versions[] = {
        {"---\nname: a\nversion: \"1.2\"\n---\n", "1.2"},        {"  ---\n\n\tversion:2.0  \n---\n", "2.0"},
        {"# No front matter\nversion: 1.0\n", std::nullopt},     {"---\nname: a\n---\nversion: 1.0\n", std::nullopt},
        {"---\nVersion: 1.0\nversion : 2\n---\n", std::nullopt},
    };
    for (const auto &row : versions) {
        writeFile(payload + "/s/SKILL.md", row.skillFile);
        EXPECT_EQ(Provisioner::skillVersion(payload + "/s"), row.version) << row.skillFile.toStdString();
    }
    EXPECT_EQ(Provisioner::skillVersion(payload + "/missing"), std::nullopt);
}

TEST_F(Provisioning, AFreshRunMakesEverythingAndASecondRunOnlyListsTheServers)
{
    const testsupport::CapturedLog log;
    // 4 master copies; links: chat 3, pass1 3, pass2 2.
    EXPECT_EQ(provision(), Outcome::seeded(12, 0));

    const QString server = *Provisioner::serverBinaryPath();
    const QJsonObject defaults{{"model.provider", "anthropic"},
                               {"model.default", "claude-sonnet-5-5"},
                               {"model.extra_body.max_tokens", "24000"}};
    const QMap<QString, QStringList> links{{"pennora", {"session-persona", "serif-writing", "fiction-craft"}},
                                           {"pennora-pass1", {"serif-writing", "fiction-craft", "pass-persona"}},
                                           {"pennora-pass2", {"serif-writing", "pass-persona"}}};
    for (const QString &name : kProfiles) {
        EXPECT_EQ(testsupport::compactJson(standInConfig(name)), testsupport::compactJson(defaults))
            << name.toStdString();
        EXPECT_EQ(readFile(profile(name) + "/.pennora-provisioned"), "");
        QStringList linked;
        for (const QString &skill : kSkills)
            if (QFileInfo(place(name, skill)).isSymLink()) {
                EXPECT_EQ(QFile::symLinkTarget(place(name, skill)), master + u'/' + skill);
                linked << skill;
            }
        EXPECT_EQ(linked, links.value(name)) << name.toStdString();
        EXPECT_EQ(skillsOf(name).size(), linked.size());
        const QJsonObject servers = QJsonDocument::fromJson(readFile(profile(name) + "/mcp.json")).object();
        EXPECT_EQ(testsupport::compactJson(servers),
                  testsupport::compactJson(QJsonObject{
                      {"pennora-tools", QJsonObject{{"command", server}, {"args", QJsonArray{"--serve-mcp"}}}}}));
    }
    EXPECT_EQ(readFile(master + "/pass-persona/SKILL.md"), readFile(payload + "/pass-persona/SKILL.md"));

    // The runs of one profile, in order.
    const QList<QStringList> runs = standInRuns(fake);
    const QList<QStringList> firstProfile{
        {"profile", "create", "pennora", "--no-alias", "--no-skills"},
        {"-p", "pennora", "config", "set", "model.provider", "anthropic"},
        {"-p", "pennora", "config", "set", "model.default", "claude-sonnet-5-5"},
        {"-p", "pennora", "config", "set", "model.extra_body.max_tokens", "24000", "--force"},
        {"-p", "pennora", "mcp", "list"},
        {"-p", "pennora", "mcp", "add", "pennora-tools", "--command", server, "--args", "--serve-mcp"},
    };
    ASSERT_EQ(runs.size(), 18);
    EXPECT_EQ(runs.mid(0, 6), firstProfile);
    EXPECT_EQ(fake.events("stdin").first().value("data").toString(), "y\ny\ny\ny\n");

    QStringList lines;
    for (const auto &line : log.linesOf("com.quendalstudio.Pennora.provisioning"))
        lines << line.text;
    EXPECT_EQ(lines.first(), "master writing skills: session-persona 1.0, serif-writing 1.0, fiction-craft 1.0, "
                             "pass-persona 1.0 (4 copied, 0 present)");
    EXPECT_EQ(lines.last(), "provisioned 3 profiles (12 skills linked/copied, 0 present)");

    EXPECT_EQ(provision(), Outcome::seeded(0, 12));
    const QList<QStringList> again = standInRuns(fake).mid(18);
    EXPECT_EQ(again, (QList<QStringList>{{"-p", "pennora", "mcp", "list"},
                                         {"-p", "pennora-pass1", "mcp", "list"},
                                         {"-p", "pennora-pass2", "mcp", "list"}}));
}

TEST_F(Provisioning, EachFailureNamesItsPhaseProfileAndExcerpt)
{
    const QJsonArray noFaults;
    const auto fault = [](QStringList args, QJsonObject change) {
        change.insert("args", QJsonArray::fromStringList(args));
        return QJsonArray{change};
    };
    const struct {
        const char *what;
        QByteArray manifest; // empty: the full one
        bool noManifest;
        bool withEngine;
        QJsonArray faults;
        Outcome outcome;
    } rows[] = {
        {"no manifest",
         {},
         true,
         true,
         noFaults,
         Outcome::failed(std::nullopt, Phase::copy, "seed-manifest.txt missing from payload")},
        {"capital", "serif-writing\nDeslop\n", false, true, noFaults,
         Outcome::failed(std::nullopt, Phase::copy, "invalid manifest entry: Deslop")},
        {"CR LF", "serif-writing\r\n", false, true, noFaults,
         Outcome::failed(std::nullopt, Phase::copy, "invalid manifest entry: serif-writing\r")},
        {"not in payload", "serif-writing\nrhetoric\n", false, true, noFaults,
         Outcome::failed(std::nullopt, Phase::copy, "manifest entry missing from payload: rhetoric")},
        {"no engine", {}, false, false, noFaults, Outcome::failed("pennora", Phase::create, "hermes binary not found")},
        {"create refused",
         {},
         false,
         true,
         fault({"profile", "create", "pennora", "--no-alias", "--no-skills"},
               {{"stdout", "  disk full\n"}, {"exit", 1}, {"noEffect", true}}),
         Outcome::failed("pennora", Phase::create, "disk full")},
        {"already exists but no folder",
         {},
         false,
         true,
         fault({"profile", "create", "pennora-pass2", "--no-alias", "--no-skills"},
               {{"stdout", "Profile 'pennora-pass2' already exists.\n"}, {"exit", 1}, {"noEffect", true}}),
         Outcome::failed("pennora-pass2", Phase::create, "Profile 'pennora-pass2' already exists.")},
        {"default refused",
         {},
         false,
         true,
         fault({"-p", "pennora-pass1", "config", "set", "model.default", "claude-sonnet-5-5"},
               {{"stderr", "read-only config\n"}, {"exit", 1}, {"noEffect", true}}),
         Outcome::failed("pennora-pass1", Phase::configure, "✓ Set model.default = claude-sonnet-5-5")},
        {"add unconfirmed",
         {},
         false,
         true,
         fault({"-p", "pennora-pass1", "mcp", "add"}, {{"prefix", true}, {"stdout", "Nothing saved\n"}}),
         Outcome::failed("pennora-pass1", Phase::register_, "Nothing saved")},
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(row.what);
        testsupport::resetStandInProfiles({});
        QDir(master).removeRecursively();
        writePayload(kSkills, row.manifest);
        if (row.noManifest)
            QFile::remove(payload + "/seed-manifest.txt");
        const FakeHermesScenario scenario{{{"faults", row.faults}}};
        const testsupport::CapturedLog log;
        const Outcome outcome = row.withEngine ? provision() : provision(std::nullopt);
        EXPECT_EQ(outcome, row.outcome);
        const auto errors = log.linesOf("com.quendalstudio.Pennora.provisioning");
        ASSERT_FALSE(errors.empty());
        EXPECT_EQ(errors.back().type, QtCriticalMsg);
        EXPECT_EQ(errors.back().text, QStringLiteral("%1 [%2]: %3")
                                          .arg(row.outcome.phase().rawValue(),
                                               row.outcome.profile().value_or("payload"), row.outcome.excerpt()));
    }
    // A failure on Pass 1 leaves Pass 2 alone; the chat profile keeps its part.
    EXPECT_TRUE(QFileInfo(profile("pennora") + "/.pennora-provisioned").exists());
    EXPECT_FALSE(QFileInfo::exists(profile("pennora-pass2")));
}

TEST_F(Provisioning, FailuresOnDiskAndAMissingEngineNameTheirPhaseAndProfile)
{
    const auto engineMade = [this](const QStringList &names) {
        for (const QString &name : names)
            writeFile(profile(name) + "/SOUL.md", "engine file");
    };
    const struct {
        const char *what;
        std::function<void()> setup;
        bool withEngine;
        std::optional<QString> profile;
        Phase phase;
        QString excerptStart;
    } rows[] = {
        {"master folder is a file", [&] { writeFile(master, "in the way"); }, true, std::nullopt, Phase::copy,
         "copy session-persona: "},
        {"skills folder is a file",
         [&] {
             engineMade(kProfiles);
             writeFile(profile("pennora") + "/skills", "in the way");
         },
         true, "pennora", Phase::copy, "copy session-persona: "},
        {"defaults due without an engine", [&] { engineMade(kProfiles); }, false, "pennora-pass1", Phase::configure,
         "hermes binary not found"},
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(row.what);
        testsupport::resetStandInProfiles({});
        QFile::remove(master);
        QDir(master).removeRecursively();
        row.setup();
        const Outcome outcome = row.withEngine ? provision() : provision(std::nullopt);
        ASSERT_TRUE(outcome.isFailed());
        EXPECT_EQ(outcome.profile(), row.profile);
        EXPECT_EQ(outcome.phase(), row.phase);
        EXPECT_TRUE(outcome.excerpt().startsWith(row.excerptStart)) << outcome.excerpt().toStdString();
    }
}

TEST_F(Provisioning, ExistingProfilesKeepAChosenModelAndPassProfilesGetTheirDefaultsOnce)
{
    // Chat with a chosen provider, no marker: left alone. Pass 1 without a
    // marker: given the defaults. Pass 2 with its marker: nothing written.
    testsupport::resetStandInProfiles(kProfiles);
    testsupport::setStandInConfig("pennora", {{"model.provider", "zai"}, {"model.default", "glm-5.3"}});
    writeFile(profile("pennora") + "/SOUL.md", "engine file");
    writeFile(profile("pennora-pass1") + "/SOUL.md", "engine file");
    writeFile(profile("pennora-pass2") + "/.pennora-provisioned", "");
    writeFile(profile("pennora-pass2") + "/SOUL.md", "engine file");
    ASSERT_FALSE(provision().isFailed());
    EXPECT_EQ(standInConfig("pennora").value("model.provider"), "zai");
    EXPECT_FALSE(QFileInfo::exists(profile("pennora") + "/.pennora-provisioned"));
    EXPECT_EQ(standInConfig("pennora-pass1").value("model.extra_body.max_tokens"), "24000");
    EXPECT_TRUE(QFileInfo::exists(profile("pennora-pass1") + "/.pennora-provisioned"));
    EXPECT_TRUE(standInConfig("pennora-pass2").isEmpty());
    for (const QStringList &run : standInRuns(fake))
        EXPECT_FALSE(run.contains("profile")) << run.join(u' ').toStdString();

    // A chat profile without a provider takes the defaults; one holding only
    // the key file was not made by the engine, so it is created first.
    testsupport::resetStandInProfiles({});
    writeFile(profile("pennora") + "/.env", "ANTHROPIC_API_KEY=k\n");
    const qsizetype before = standInRuns(fake).size();
    ASSERT_FALSE(provision().isFailed());
    const QList<QStringList> runs = standInRuns(fake).mid(before);
    EXPECT_EQ(runs.first(), (QStringList{"profile", "create", "pennora", "--no-alias", "--no-skills"}));
    EXPECT_EQ(runs.at(1), (QStringList{"-p", "pennora", "config", "get", "model.provider"}));
    EXPECT_EQ(standInConfig("pennora").value("model.default"), "claude-sonnet-5-5");
    EXPECT_EQ(readFile(profile("pennora") + "/.env"), "ANTHROPIC_API_KEY=k\n");
}

TEST_F(Provisioning, AChatProfileWhoseProviderCannotBeReadKeepsItsModel)
{
    // The engine fails to answer the get (busy, broken): that is no sign the
    // chat profile names no provider, so nothing of the user's is replaced.
    testsupport::resetStandInProfiles(kProfiles);
    testsupport::setStandInConfig("pennora", {{"model.provider", "zai"}, {"model.default", "glm-5.3"}});
    for (const QString &name : kProfiles)
        writeFile(profile(name) + "/.pennora-provisioned", "");
    QFile::remove(profile("pennora") + "/.pennora-provisioned");
    writeFile(profile("pennora") + "/SOUL.md", "engine file");
    const QJsonObject busy{{"args", QJsonArray{"-p", "pennora", "config", "get", "model.provider"}},
                           {"stderr", "database is locked\n"},
                           {"exit", 1}};
    const FakeHermesScenario failing{{{"faults", QJsonArray{busy}}}};
    ASSERT_FALSE(provision().isFailed());
    EXPECT_EQ(standInConfig("pennora").value("model.provider"), "zai");
    EXPECT_EQ(standInConfig("pennora").value("model.default"), "glm-5.3");
    EXPECT_FALSE(standInConfig("pennora").contains("model.extra_body.max_tokens"));
    EXPECT_FALSE(QFileInfo::exists(profile("pennora") + "/.pennora-provisioned"));
}

TEST_F(Provisioning, SkillPlacesKeepWhatIsNotOurs)
{
    testsupport::resetStandInProfiles(kProfiles);
    for (const QString &name : kProfiles)
        writeFile(profile(name) + "/SOUL.md", "engine file");
    ASSERT_FALSE(Provisioner::installMasterSkills(kSkills, payload, master).isFailed());
    const QString other = dir.path() + "/elsewhere";
    QDir().mkpath(other);

    // Chat: an unchanged copy (apart from .DS_Store) becomes a link, even of
    // a skill chat does not take; a changed copy, a copy holding a link and a
    // link elsewhere stay; a dangling link into the master folder is
    // re-pointed, a dangling link elsewhere is not.
    const QString chat = "pennora";
    writeFile(place(chat, "pass-persona") + "/SKILL.md", readFile(master + "/pass-persona/SKILL.md"));
    writeFile(place(chat, "pass-persona") + "/.DS_Store", "x");
    writeFile(place(chat, "serif-writing") + "/SKILL.md", readFile(master + "/serif-writing/SKILL.md") + "!");
    link(other, place(chat, "session-persona"));
    link(master + "/gone", place(chat, "fiction-craft"));
    writeFile(place("pennora-pass1", "serif-writing") + "/SKILL.md", readFile(master + "/serif-writing/SKILL.md"));
    link(other + "/gone", place("pennora-pass1", "serif-writing") + "/extra");
    link(other + "/gone", place("pennora-pass1", "fiction-craft"));

    // Our leftovers go; anyone else's hidden entries stay.
    const QString aside = place(chat, ".pass-persona-old-" + uuid());
    writeFile(aside + "/SKILL.md", "half");
    writeFile(place(chat, ".git") + "/HEAD", "ref");
    writeFile(place(chat, ".pass-persona-old-" + uuid().toLower()) + "/x", "not ours");
    const QString masterLeftover = master + "/.deslop-" + uuid();
    writeFile(masterLeftover + "/SKILL.md", "half");
    writeFile(master + "/.git/HEAD", "ref");

    ASSERT_FALSE(provision().isFailed());
    EXPECT_EQ(QFile::symLinkTarget(place(chat, "pass-persona")), master + "/pass-persona");
    EXPECT_FALSE(QFileInfo(place(chat, "serif-writing")).isSymLink());
    EXPECT_TRUE(readFile(place(chat, "serif-writing") + "/SKILL.md").endsWith("!"));
    EXPECT_EQ(QFile::symLinkTarget(place(chat, "session-persona")), other);
    EXPECT_EQ(QFile::symLinkTarget(place(chat, "fiction-craft")), master + "/fiction-craft");
    EXPECT_FALSE(QFileInfo(place("pennora-pass1", "serif-writing")).isSymLink());
    EXPECT_EQ(QFile::symLinkTarget(place("pennora-pass1", "fiction-craft")), other + "/gone");
    EXPECT_FALSE(QFileInfo::exists(aside));
    EXPECT_FALSE(QFileInfo::exists(masterLeftover));
    EXPECT_EQ(readFile(place(chat, ".git") + "/HEAD"), "ref");
    EXPECT_EQ(readFile(master + "/.git/HEAD"), "ref");
    EXPECT_EQ(testsupport::entries(profile(chat) + "/skills").size(), 6);
}

TEST_F(Provisioning, TheMasterCopyIsNeverReplaced)
{
    writeFile(master + "/serif-writing/SKILL.md", "---\nversion: 0.9\n---\nmine");
    writeFile(payload + "/serif-writing/.DS_Store", "x");
    writeFile(payload + "/serif-writing/deep/.DS_Store", "x");
    EXPECT_EQ(Provisioner::installMasterSkills(kSkills, payload, master), Outcome::seeded(3, 1));
    EXPECT_EQ(readFile(master + "/serif-writing/SKILL.md"), "---\nversion: 0.9\n---\nmine");
    writeFile(payload + "/pass-persona/.DS_Store", "x");
    QDir(master + "/pass-persona").removeRecursively();
    EXPECT_EQ(Provisioner::installMasterSkills(kSkills, payload, master), Outcome::seeded(1, 3));
    EXPECT_FALSE(QFileInfo::exists(master + "/pass-persona/.DS_Store"));
    EXPECT_TRUE(QFileInfo::exists(payload + "/pass-persona/.DS_Store"));
}

TEST_F(Provisioning, AStaleRegistrationIsRepaired)
{
    ASSERT_FALSE(provision().isFailed());
    const QStringList add{"-p",     "pennora",    "mcp", "add", "pennora-tools", "--command", "/old/place/pennora",
                          "--args", "--serve-mcp"};
    ASSERT_EQ(
        foundation::process::run(QStringList{testsupport::fakeHermesBinary()} + add, "y\ny\n", std::chrono::seconds(30))
            .status,
        0);
    const qsizetype before = standInRuns(fake).size();
    ASSERT_FALSE(provision().isFailed());
    const QList<QStringList> runs = standInRuns(fake).mid(before);
    ASSERT_EQ(runs.size(), 4);
    EXPECT_EQ(runs.at(1).mid(0, 4), (QStringList{"-p", "pennora", "mcp", "add"}));
    EXPECT_TRUE(readFile(profile("pennora") + "/mcp.json").contains(Provisioner::serverBinaryPath()->toUtf8()));
}

TEST_F(Provisioning, TheModelRunsOneAtATimeAndClearsAFailureOnSuccess)
{
    ProvisioningModel model;
    const FakeHermesScenario failing{
        {{"faults", QJsonArray{QJsonObject{
                        {"args", QJsonArray{"-p", "pennora", "mcp", "add"}}, {"prefix", true}, {"exit", 1}}}}}};
    QCoro::Task<void> first = model.run(testsupport::fakeHermesBinary(), standInProfilesRoot(), payload, master);
    EXPECT_TRUE(model.running());
    QCoro::Task<void> second = model.run(testsupport::fakeHermesBinary(), standInProfilesRoot(), payload, master);
    ASSERT_TRUE(testsupport::spinUntil([&] { return !model.running(); }));
    ASSERT_TRUE(model.lastFailure());
    EXPECT_EQ(model.lastFailure()->phase(), Phase::register_);
    qsizetype creates = 0;
    for (const QStringList &run : standInRuns(failing))
        creates += run.contains("create");
    EXPECT_EQ(creates, 1);
}

TEST_F(Provisioning, ARetryClearsTheLastFailure)
{
    ProvisioningModel model;
    QCoro::Task<void> failing = model.run(std::nullopt, standInProfilesRoot(), payload, master);
    ASSERT_TRUE(testsupport::spinUntil([&] { return !model.running(); }));
    ASSERT_TRUE(model.lastFailure());
    QCoro::Task<void> retry = model.run(testsupport::fakeHermesBinary(), standInProfilesRoot(), payload, master);
    EXPECT_TRUE(model.lastFailure()); // kept while the retry works
    ASSERT_TRUE(testsupport::spinUntil([&] { return !model.running(); }));
    EXPECT_FALSE(model.lastFailure());
}

TEST(WritingSkillsPayload, ListsTheTwelveSkillsWithTheirFrontMatter)
{
    const QString payload = testsupport::sourceDir() + "/src/resources/writing skills";
    const std::optional<QStringList> manifest = Provisioner::readManifest(payload);
    ASSERT_TRUE(manifest);
    QStringList tabled;
    for (const ProfileSurface surface : ProfileSurface::allCases())
        for (const QString &skill : Provisioner::surfaceSkills(surface))
            if (!tabled.contains(skill))
                tabled << skill;
    EXPECT_EQ(QStringList(*manifest).size(), 12);
    for (const QString &skill : *manifest) {
        SCOPED_TRACE(skill.toStdString());
        EXPECT_TRUE(tabled.contains(skill));
        const QString text = testsupport::readText(payload + u'/' + skill + "/SKILL.md");
        EXPECT_TRUE(text.startsWith("---\nname: " + skill + "\ndescription: "));
        EXPECT_EQ(Provisioner::skillVersion(payload + u'/' + skill), "1.0");
    }
    // The built executable finds it in the same place an installed one does.
    EXPECT_TRUE(QFileInfo::exists(testsupport::binaryDir() + "/share/pennora/writing skills/seed-manifest.txt"));
}

} // namespace
