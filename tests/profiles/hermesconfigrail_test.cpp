// The configuration rail against the stand-in engine: the order of writes,
// the refusal of a leading hyphen, what counts as a confirmation, excerpts and
// time-outs.
#include "profiles/hermesconfigrail.h"

#include "standinprofiles.h"

#include <gtest/gtest.h>

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <optional>

namespace HermesConfigRail = profiles::HermesConfigRail;
using HermesConfigRail::Failure;
using HermesConfigRail::Write;
using testsupport::FakeHermesScenario;
using testsupport::standInConfig;
using testsupport::standInRuns;

namespace {

const QString kProfile = QStringLiteral("pennora-pass1");

QStringList configLine(const QStringList &rest)
{
    return QStringList{"-p", kProfile, "config"} + rest;
}

class ConfigRail : public ::testing::Test {
protected:
    void SetUp() override { testsupport::resetStandInProfiles({kProfile}); }

    // Applies writes with a stand-in that plays faults; answers the failure
    // thrown, none when all took.
    std::optional<Failure> apply(const QList<Write> &writes, const QJsonArray &faults = {},
                                 std::chrono::milliseconds timeout = std::chrono::seconds(30))
    {
        fake.emplace(QJsonObject{{"faults", faults}});
        try {
            HermesConfigRail::apply(writes, kProfile, testsupport::fakeHermesBinary(), timeout);
        } catch (const Failure &failure) {
            return failure;
        }
        return std::nullopt;
    }

    QList<QStringList> runs() const { return standInRuns(*fake); }

    std::optional<FakeHermesScenario> fake;
};

TEST_F(ConfigRail, SetsOfTheProviderRunFirstAndEverythingElseKeepsItsPlace)
{
    const struct {
        const char *name;
        QList<Write> writes;
        QList<QStringList> expected;
        QJsonObject config;
    } cases[] = {
        {"model before provider",
         {Write::set("model.default", "glm-5.3"), Write::set("model.provider", "zai")},
         {configLine({"set", "model.provider", "zai"}), configLine({"set", "model.default", "glm-5.3"})},
         {{"model.provider", "zai"}, {"model.default", "glm-5.3"}}},
        {"an unset of the provider keeps its place",
         {Write::unset("model.provider"), Write::set("model.default", "m")},
         {configLine({"unset", "model.provider"}), configLine({"set", "model.default", "m"})},
         {{"model.default", "m"}}},
        {"two provider sets, in their order",
         {Write::set("model.default", "m"), Write::set("model.provider", "anthropic"),
          Write::unset("model.reasoning_effort"), Write::set("model.provider", "nous")},
         {configLine({"set", "model.provider", "anthropic"}), configLine({"set", "model.provider", "nous"}),
          configLine({"set", "model.default", "m"}), configLine({"unset", "model.reasoning_effort"})},
         {{"model.provider", "nous"}, {"model.default", "m"}}},
        {"nothing to write", {}, {}, {}},
    };
    for (const auto &c : cases) {
        SetUp();
        EXPECT_FALSE(apply(c.writes)) << c.name;
        EXPECT_EQ(runs(), c.expected) << c.name;
        EXPECT_EQ(testsupport::compactJson(standInConfig(kProfile)), testsupport::compactJson(c.config)) << c.name;
    }
}

TEST_F(ConfigRail, ALeadingHyphenStopsTheBatchAfterTheEarlierWrites)
{
    const std::optional<Failure> failure =
        apply({Write::set("model.provider", "zai"), Write::set("model.default", "-glm"),
               Write::set("model.reasoning_effort", "high")});
    ASSERT_TRUE(failure);
    EXPECT_EQ(*failure, Failure("set", "model.default", kProfile, "value starts with '-' — not written"));
    EXPECT_EQ(failure->message(), "couldn't set model.default on pennora-pass1: value starts with '-' — not written");
    // The provider stays written; neither the refused value nor the effort ran.
    EXPECT_EQ(runs(), QList<QStringList>{configLine({"set", "model.provider", "zai"})});
    EXPECT_EQ(testsupport::compactJson(standInConfig(kProfile)), testsupport::compactJson({{"model.provider", "zai"}}));

    EXPECT_FALSE(apply({Write::set("model.default", "glm-5.3-air")}));
    EXPECT_EQ(standInConfig(kProfile).value("model.default"), "glm-5.3-air");
}

TEST_F(ConfigRail, AWriteTakesOnlyWithItsConfirmation)
{
    const QString unsetKey = QStringLiteral("model.reasoning_effort");
    const struct {
        const char *name;
        Write write;
        QJsonObject fault;              // the command line is added
        std::optional<QString> excerpt; // the failure's, none when the write took
    } cases[] = {
        {"a warning line before the confirmation",
         Write::set("model.default", "m"),
         {{"warning", "warning: model m is not in the cache\n"}},
         std::nullopt},
        {"a confirmation with a failing status",
         Write::set("model.default", "m"),
         {{"exit", 1}},
         QStringLiteral("✓ Set model.default = m")},
        {"status 0 without a confirmation",
         Write::set("model.default", "m"),
         {{"stdout", "  done\n"}},
         QStringLiteral("done")},
        {"the confirmation only on standard error",
         Write::set("model.default", "m"),
         {{"stdout", ""}, {"stderr", "✓ Set model.default = m\n"}},
         QStringLiteral("✓ Set model.default = m")},
        {"the confirmation of another key",
         Write::set("model.default", "m"),
         {{"stdout", "✓ Set model.provider = m\n"}},
         QStringLiteral("✓ Set model.provider = m")},
        {"a key the engine does not know",
         Write::set("model.extra_body.max_tokens", "24000"),
         {},
         QStringLiteral("Unknown config key: model.extra_body.max_tokens (use --force to set it anyway)")},
        {"the same key forced", Write::set("model.extra_body.max_tokens", "24000", true), {}, std::nullopt},
        {"an unset of a key that is not set", Write::unset(unsetKey), {}, std::nullopt},
        {"not set, said on standard output with status 0",
         Write::unset(unsetKey),
         {{"stdout", "Config key not set: model.reasoning_effort\n"}, {"stderr", ""}, {"exit", 0}},
         std::nullopt},
        {"an unset confirmed with a failing status", Write::unset("model.provider"), {{"exit", 3}}, std::nullopt},
        {"an unset with neither text",
         Write::unset(unsetKey),
         {{"stderr", "config is locked\n"}},
         QStringLiteral("config is locked")},
        {"not set, but for another key",
         Write::unset(unsetKey),
         {{"stderr", "Config key not set: model.reasoning\n"}},
         QStringLiteral("Config key not set: model.reasoning")},
    };
    for (const auto &c : cases) {
        SetUp();
        testsupport::setStandInConfig(kProfile, {{"model.provider", "zai"}});
        const QStringList line = c.write.kind == Write::Kind::set
                                     ? configLine({"set", c.write.key, c.write.value})
                                           + (c.write.force ? QStringList{"--force"} : QStringList())
                                     : configLine({"unset", c.write.key});
        QJsonObject fault = c.fault;
        fault.insert("args", QJsonArray::fromStringList(line));
        const std::optional<Failure> failure = apply({c.write}, QJsonArray{fault});
        EXPECT_EQ(runs(), QList<QStringList>{line}) << c.name;
        if (!c.excerpt) {
            EXPECT_FALSE(failure) << c.name << ": " << failure->message().toStdString();
            continue;
        }
        ASSERT_TRUE(failure) << c.name;
        const QString verb = c.write.kind == Write::Kind::set ? "set" : "unset";
        EXPECT_EQ(*failure, Failure(verb, c.write.key, kProfile, *c.excerpt)) << c.name;
    }
}

TEST_F(ConfigRail, AFailureQuotesAtMost500CharactersOfTheOutput)
{
    // 600 clusters of two code units each: the cut is by characters.
    const QString cluster = QStringLiteral("e\u0301");
    const QString longOutput = cluster.repeated(600);
    const std::optional<Failure> failure =
        apply({Write::set("model.default", "m")},
              QJsonArray{QJsonObject{{"args", QJsonArray::fromStringList(configLine({"set", "model.default", "m"}))},
                                     {"stdout", "\n " + longOutput + "\n"},
                                     {"exit", 1}}});
    ASSERT_TRUE(failure);
    EXPECT_EQ(failure->excerpt(), cluster.repeated(500));
}

TEST(ConfigRailExcerpt, StandardOutputUnlessEmptyThenTrimmedAndCut)
{
    const QString x600 = QString(600, u'x');
    const struct {
        QString out, err, expected;
    } cases[] = {
        {x600, "err", QString(500, u'x')},
        {"  \n", "the error", ""},
        {"", "\n  the error \n", "the error"},
        {"", "", ""},
        {"\tout\n", "err", "out"},
        {"👩‍👩‍👧" + QString(499, u'y') + "z", "", "👩‍👩‍👧" + QString(499, u'y')},
    };
    for (const auto &c : cases)
        EXPECT_EQ(HermesConfigRail::excerpt(c.out, c.err), c.expected) << c.out.left(20).toStdString();
}

TEST_F(ConfigRail, AnEngineThatCannotRunFailsWithAnEmptyExcerpt)
{
    try {
        HermesConfigRail::apply({Write::set("model.default", "m"), Write::unset("model.base_url")}, kProfile,
                                testsupport::tempHome() + "/no-such-hermes", std::chrono::seconds(30));
        FAIL() << "no failure";
    } catch (const Failure &failure) {
        EXPECT_EQ(failure, Failure("set", "model.default", kProfile, ""));
        EXPECT_EQ(failure.message(), "couldn't set model.default on pennora-pass1: ");
    }
}

TEST_F(ConfigRail, AHungEngineFailsWithTheTimeOutInWholeSeconds)
{
    const std::optional<Failure> failure =
        apply({Write::unset("model.base_url"), Write::set("model.default", "m")},
              QJsonArray{QJsonObject{{"args", QJsonArray::fromStringList(configLine({"unset", "model.base_url"}))},
                                     {"sleepMs", 20000}}},
              std::chrono::milliseconds(1500));
    ASSERT_TRUE(failure);
    EXPECT_EQ(*failure, Failure("unset", "model.base_url", kProfile, "timed out after 1 s"));
    EXPECT_EQ(runs().size(), 1);
}

} // namespace
