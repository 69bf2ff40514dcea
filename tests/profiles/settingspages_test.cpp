// The settings pane's rules without a window: the sidebar's pages, the texts
// and rows of a surface page, the test result lines, the model field's commit
// rule and the shortened forms of the Home path.
#include "profiles/settingspages.h"

#include "probetesting.h"
#include "testutil.h"

#include <gtest/gtest.h>

using namespace profiles;
using Outcome = ProviderProbe::Outcome;

namespace {

TEST(SettingsPages, SidebarPagesInOrderWithLabelsTagsAndSurfaces)
{
    QStringList raws, labels, tags;
    for (const SettingsPage page : SettingsPage::allCases()) {
        raws << page.rawValue();
        labels << page.label();
        tags << page.tag().value_or("-");
        EXPECT_EQ(SettingsPage::fromRawValue(page.rawValue()), page);
    }
    EXPECT_EQ(raws, QStringList({"content", "pass1", "pass2", "chat", "keys"}));
    EXPECT_EQ(labels, QStringList({"Content", "Pass 1", "Pass 2", "Chat", "Provider Keys"}));
    EXPECT_EQ(tags, QStringList({"-", "P1", "P2", "SESSIONS", "-"}));
    EXPECT_EQ(SettingsPage(SettingsPage::chat).surface(), ProfileSurface::chat);
    EXPECT_EQ(SettingsPage(SettingsPage::keys).surface(), std::nullopt);
    for (const QString raw : {"Content", "content ", "", "provider-keys"})
        EXPECT_EQ(SettingsPage::fromRawValue(raw), std::nullopt) << raw.toStdString();
}

TEST(SettingsPages, ProfileLinesCarryEachSurfacesNote)
{
    EXPECT_EQ(profileLine(ProfileSurface::chat), "profile · pennora — Sessions rides this engine · a model change "
                                                 "restarts it (after any streaming turn)");
    EXPECT_EQ(profileLine(ProfileSurface::pass1), "profile · pennora-pass1 — applies on the next pass");
    EXPECT_EQ(profileLine(ProfileSurface::pass2), "profile · pennora-pass2 — applies on the next pass");
}

TEST(SettingsPages, ModelIsCustomUnlessListedExactlyForItsOwnProvider)
{
    const ModelRegistry registry(
        {{ModelProvider::zai, {"glm-5.3"}}, {ModelProvider::anthropic, {"claude-sonnet-5-5", "claude-opus-5"}}});
    struct Case {
        SurfaceModelConfig config;
        const ModelRegistry &registry;
        const char *line;
    };
    const ModelRegistry empty;
    const Case cases[] = {
        {{ModelProvider::anthropic, "claude-opus-5", std::nullopt}, registry, "claude-opus-5"},
        {{ModelProvider::anthropic, "glm-5.3", std::nullopt}, registry, "glm-5.3 · custom (not in registry)"},
        {{ModelProvider::anthropic, "Claude-Opus-5", std::nullopt},
         registry,
         "Claude-Opus-5 · custom (not in registry)"},
        {{ModelProvider::zai, "glm-5.3", std::nullopt}, empty, "glm-5.3 · custom (not in registry)"},
    };
    for (const Case &c : cases)
        EXPECT_EQ(modelLine(c.config, c.registry), c.line);
}

TEST(SettingsPages, RestoreDefaultsOnlyAwayFromTheDefaults)
{
    EXPECT_FALSE(canRestoreDefaults({ModelProvider::anthropic, "claude-sonnet-5-5", std::nullopt}));
    EXPECT_TRUE(canRestoreDefaults({ModelProvider::anthropic, "claude-sonnet-5-5", ReasoningEffort::high}));
    EXPECT_TRUE(canRestoreDefaults({ModelProvider::anthropic, "claude-sonnet-5", std::nullopt}));
    EXPECT_TRUE(canRestoreDefaults({ModelProvider::openaiAPI, "claude-sonnet-5-5", std::nullopt}));
}

TEST(SettingsPages, EffortRowsFollowTheProviderAndFallBackToUnset)
{
    const auto labels = [](ModelProvider provider) {
        QStringList out;
        for (const EffortRow &row : effortRows(provider))
            out << row.label;
        return out;
    };
    EXPECT_EQ(labels(ModelProvider::zai), QStringList({"unset · provider default", "low", "high", "max"}));
    EXPECT_EQ(labels(ModelProvider::openaiAPI),
              QStringList({"unset · provider default", "low", "medium", "high", "xhigh", "max"}));
    EXPECT_EQ(effortRows(ModelProvider::zai).first().effort, std::nullopt);
    EXPECT_EQ(effortRowIndex(ModelProvider::zai, std::nullopt), 0);
    EXPECT_EQ(effortRowIndex(ModelProvider::zai, ReasoningEffort::high), 2);
    EXPECT_EQ(effortRowIndex(ModelProvider::openaiAPI, ReasoningEffort::high), 3);
    // An effort the provider does not offer shows as unset.
    EXPECT_EQ(effortRowIndex(ModelProvider::zai, ReasoningEffort::medium), 0);
}

TEST(SettingsPages, TestResultLinePerOutcome)
{
    const std::pair<Outcome, const char *> cases[] = {
        {Outcome::works(412, 37), "✓ works · 412 ms · 37 models"},
        {Outcome::authFailed("bad key"), "key rejected — bad key"},
        {Outcome::wrongKeyType("coding key"), "wrong key type — coding key"},
        {Outcome::unreachable("no route"), "unreachable — no route"},
        {Outcome::starved("empty reply"), "token cap starved — empty reply"},
        {Outcome::requestFailed(503, "overloaded"), "HTTP 503 — overloaded"},
        {Outcome::works(1234567, 0), "✓ works · 1234567 ms · 0 models"},
    };
    for (const auto &[outcome, text] : cases)
        EXPECT_EQ(testResultText(outcome), QString::fromUtf8(text));
}

TEST(ModelFieldRule, CommitsTrimmedDistinctNamesAndNeverOverwritesTyping)
{
    ModelFieldRule rule;
    rule.shown("claude-sonnet-5-5");
    EXPECT_EQ(rule.commit("  glm-5.3 \n"), "glm-5.3");
    EXPECT_EQ(rule.lastLocalValue(), "glm-5.3");
    // The same name again, padded or not, and blank text report nothing.
    EXPECT_EQ(rule.commit("glm-5.3"), std::nullopt);
    EXPECT_EQ(rule.commit("\tglm-5.3 "), std::nullopt);
    EXPECT_EQ(rule.commit("   "), std::nullopt);
    EXPECT_EQ(rule.lastLocalValue(), "glm-5.3");

    // The owner's echo of the commit is not pushed back.
    EXPECT_EQ(rule.push("glm-5.3", false), std::nullopt);
    // While editing a new value waits; it is shown once editing has ended.
    EXPECT_EQ(rule.push("glm-6", true), std::nullopt);
    EXPECT_EQ(rule.lastLocalValue(), "glm-5.3");
    EXPECT_EQ(rule.push("glm-6", false), "glm-6");
    EXPECT_EQ(rule.lastLocalValue(), "glm-6");

    EXPECT_FALSE(ModelFieldRule::itemsDiffer({"a", "b"}, {"a", "b"}));
    EXPECT_TRUE(ModelFieldRule::itemsDiffer({"a", "b"}, {"b", "a"}));
    EXPECT_TRUE(ModelFieldRule::itemsDiffer({"a", "b"}, {"a", "b", "a"}));
    EXPECT_TRUE(ModelFieldRule::itemsDiffer({}, {"a"}));
}

TEST(ElidedPath, CandidatesDropMiddleComponents)
{
    const std::pair<const char *, QStringList> cases[] = {
        {"/a/b/c/d/e", {"/a/b/c/d/e", "/a/b/c/…/e", "/a/b/…/e", "/a/…/e"}},
        {"/a/b/c", {"/a/b/c", "/a/…/c"}},
        {"/a/b/c/", {"/a/b/c/", "/a/…/c"}},
        {"//a//b/c", {"//a//b/c", "/a/…/c"}},
        {"a/b/c", {"a/b/c", "/a/…/c"}},
        {"/a/b", {"/a/b"}},
        {"/", {"/"}},
        {"", {""}},
    };
    for (const auto &[path, forms] : cases)
        EXPECT_EQ(elidedpath::candidates(QString::fromUtf8(path)), forms) << path;
}

TEST(ElidedPath, FitTakesTheFirstFormThatFitsElseTheLast)
{
    const auto length = [](const QString &text) { return qreal(text.size()); };
    const QString path = "/home/writer/Documents/Pennora";
    EXPECT_EQ(elidedpath::fit(path, 100, length), path);
    EXPECT_EQ(elidedpath::fit(path, path.size(), length), path);
    EXPECT_EQ(elidedpath::fit(path, 25, length), "/home/writer/…/Pennora");
    EXPECT_EQ(elidedpath::fit(path, 3, length), "/home/…/Pennora");
    // Two components are never shortened.
    EXPECT_EQ(elidedpath::fit("/home/writer", 3, length), "/home/writer");
}

} // namespace
