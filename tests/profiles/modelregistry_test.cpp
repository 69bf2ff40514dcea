// The engine's model cache, read strictly: one malformed entry empties the
// whole registry, unknown providers are passed over.
#include "profiles/modelregistry.h"

#include "testutil.h"

#include <QTemporaryDir>
#include <gtest/gtest.h>

using profiles::ModelProvider;
using profiles::ModelRegistry;

namespace {

QString providerNames(const ModelRegistry::Models &models)
{
    QStringList lines;
    for (const ModelProvider provider : ModelProvider::allCases()) {
        if (models.contains(provider))
            lines << provider.rawValue() + u'=' + models.value(provider).join(u',');
    }
    return lines.join(u' ');
}

TEST(ModelRegistry, TheCacheIsReadStrictly)
{
    const struct {
        const char *name;
        QByteArray json;
        QString expected;
    } cases[] = {
        {"names in file order, duplicates kept",
         R"({"zai":{"models":["a","b","a"]},"nous":{"models":["n/1"],"other":7}})", "zai=a,b,a nous=n/1"},
        {"an unknown provider is skipped", R"({"openai":{"models":["x"]},"openai-api":{"models":[" g "]}})",
         "openai-api= g "},
        {"keys compare case and all", R"({"Anthropic":{"models":["x"]},"anthropic":{"models":["c"]}})", "anthropic=c"},
        {"an empty entry and a null list are empty lists", R"({"anthropic":{},"zai":{"models":null}})",
         "zai= anthropic="},
        {"an empty object", "{}", ""},
        {"a number as an entry", R"({"zai":{"models":["a"]},"anthropic":3})", ""},
        {"a string as an entry", R"({"zai":"glm"})", ""},
        {"an array as an entry", R"({"zai":["glm"]})", ""},
        {"numbers in a list", R"({"zai":{"models":["a"]},"nous":{"models":[1,2]}})", ""},
        {"a list of another shape", R"({"zai":{"models":"glm"}})", ""},
        {"a bad entry of a skipped provider", R"({"zai":{"models":["a"]},"openai":{"models":[null]}})", ""},
        {"an array at the top", R"([{"zai":{"models":["a"]}}])", ""},
        {"not JSON", "zai: glm", ""},
        {"empty", "", ""},
    };
    QTemporaryDir dir;
    for (const auto &c : cases) {
        const QString path = testsupport::writeFile(dir.filePath("cache.json"), c.json);
        EXPECT_EQ(providerNames(ModelRegistry::load(path)), c.expected) << c.name;
    }
    EXPECT_TRUE(ModelRegistry::load(dir.filePath("missing.json")).isEmpty());
    EXPECT_TRUE(ModelRegistry::load(dir.path()).isEmpty());
}

TEST(ModelRegistry, LookupsAreExact)
{
    const ModelRegistry registry({{ModelProvider::zai, {"glm-5.3", "glm-5.3"}}});
    EXPECT_EQ(registry.modelsFor(ModelProvider::zai), (QStringList{"glm-5.3", "glm-5.3"}));
    EXPECT_TRUE(registry.modelsFor(ModelProvider::nous).isEmpty());
    EXPECT_TRUE(registry.contains(ModelProvider::zai, "glm-5.3"));
    EXPECT_FALSE(registry.contains(ModelProvider::zai, " glm-5.3"));
    EXPECT_FALSE(registry.contains(ModelProvider::zai, "GLM-5.3"));
    EXPECT_FALSE(registry.contains(ModelProvider::anthropic, "glm-5.3"));
}

TEST(ModelRegistry, TheSharedSnapshotIsTheHomeCacheReadOnce)
{
    testsupport::writeFile(ModelRegistry::cachePath(), R"({"nous":{"models":["first"]}})");
    const ModelRegistry &first = ModelRegistry::shared();
    testsupport::writeFile(ModelRegistry::cachePath(), R"({"nous":{"models":["second"]}})");
    EXPECT_EQ(&ModelRegistry::shared(), &first);
    EXPECT_EQ(first.modelsFor(ModelProvider::nous), QStringList{"first"});
}

} // namespace
