#include "engine/enginegatemodel.h"

#include "fakehermesscenario.h"
#include "testutil.h"

#include <gtest/gtest.h>

#include <QSignalSpy>
#include <QTemporaryDir>

using engine::EngineGateModel;
using Phase = EngineGateModel::Phase;
using testsupport::FakeHermesScenario;

namespace {

const QString kFakeVersion = QStringLiteral("hermes 0.0.0-fake");

QJsonObject checkAnswer(const QJsonObject &check)
{
    return {{"check", check}};
}

// A model, one stand-in engine whose scenario the test may change between
// checks, and a record of what the model told its observers.
class EngineGateModelTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        QObject::connect(&model, &EngineGateModel::phaseChanged, [this] { phases << model.phase(); });
        model.setOnPass([this] {
            ++passes;
            // By now the model shows the pass and the record is on disk.
            phaseAtPass = model.phase();
            pathAtPass = model.currentBinaryPath();
            runningAtPass = model.running();
            recordAtPass = engine::EngineProbe::readStateRecord(stateFolder());
        });
    }

    void playing(const QJsonObject &scenario) { testsupport::placeFakeHermes(engine, scenario); }
    QString stateFolder() const { return dir.filePath("state"); }

    QCoro::Task<void> startCheck() { return model.check({engine}, false, stateFolder(), std::chrono::seconds(5)); }
    void checkToTheEnd()
    {
        QCoro::Task<void> task = startCheck();
        ASSERT_TRUE(testsupport::spinUntil([&] { return task.isReady(); }));
    }

    QTemporaryDir dir;
    FakeHermesScenario log{{}};
    QString engine = dir.filePath("bin/hermes");
    EngineGateModel model;
    QSignalSpy runningSpy{&model, &EngineGateModel::runningChanged};
    QSignalSpy pathSpy{&model, &EngineGateModel::currentBinaryPathChanged};
    QList<Phase> phases;
    int passes = 0;
    Phase phaseAtPass;
    std::optional<QString> pathAtPass;
    bool runningAtPass = false;
    std::optional<engine::EngineProbe::StateRecord> recordAtPass;
};

TEST_F(EngineGateModelTest, AFirstPassingCheckGoesFromIdleThroughCheckingToPass)
{
    playing(checkAnswer({{"sleepMs", 200}}));
    EXPECT_EQ(model.phase(), Phase::idle());
    EXPECT_EQ(model.currentBinaryPath(), std::nullopt);

    QCoro::Task<void> task = startCheck();
    // The probe runs elsewhere: the main thread is back while it does.
    EXPECT_FALSE(task.isReady());
    EXPECT_TRUE(model.running());
    EXPECT_EQ(model.phase(), Phase::checking());
    ASSERT_TRUE(testsupport::spinUntil([&] { return task.isReady(); }));

    const Phase passed = Phase::pass(kFakeVersion, engine);
    EXPECT_EQ(phases, (QList<Phase>{Phase::checking(), passed}));
    EXPECT_EQ(model.property("phase").value<Phase>(), passed);
    EXPECT_EQ(model.currentBinaryPath(), engine);
    EXPECT_EQ(pathSpy.count(), 1);
    EXPECT_EQ(passes, 1);
    EXPECT_EQ(phaseAtPass, passed);
    EXPECT_EQ(pathAtPass, engine);
    EXPECT_TRUE(runningAtPass) << "running is cleared last";
    ASSERT_TRUE(recordAtPass.has_value());
    EXPECT_EQ(recordAtPass->binaryPath, engine);
    EXPECT_FALSE(model.running());
    EXPECT_EQ(runningSpy.count(), 2);
}

TEST_F(EngineGateModelTest, ACheckWhileOneRunsReturnsAtOnceAndLeavesItAlone)
{
    playing(checkAnswer({{"sleepMs", 400}}));
    QCoro::Task<void> first = startCheck();
    QCoro::Task<void> second = startCheck();

    EXPECT_TRUE(second.isReady());
    EXPECT_FALSE(first.isReady());
    EXPECT_EQ(passes, 0);
    ASSERT_TRUE(testsupport::spinUntil([&] { return first.isReady(); }));

    EXPECT_EQ(passes, 1);
    EXPECT_EQ(phases, (QList<Phase>{Phase::checking(), Phase::pass(kFakeVersion, engine)}));
    EXPECT_EQ(runningSpy.count(), 2);
    EXPECT_EQ(log.events("run").size(), 2) << "one check and one version query";
}

TEST_F(EngineGateModelTest, AFailingRecheckKeepsTheEnginePathOfTheLastPass)
{
    playing({});
    checkToTheEnd();
    const QString longError = QStringLiteral("x").repeated(700) + "\n";
    playing(checkAnswer({{"exit", 1}, {"stderr", longError}}));

    checkToTheEnd();

    const Phase failed = Phase::fail(engine, longError);
    EXPECT_EQ(model.phase(), failed) << "the whole standard error, not the record's 500 characters";
    EXPECT_EQ(phases, (QList<Phase>{Phase::checking(), Phase::pass(kFakeVersion, engine), Phase::checking(), failed}));
    EXPECT_EQ(model.currentBinaryPath(), engine);
    EXPECT_EQ(pathSpy.count(), 1);
    EXPECT_EQ(passes, 1);
    EXPECT_FALSE(model.running());
    const auto record = engine::EngineProbe::readStateRecord(stateFolder());
    ASSERT_TRUE(record.has_value());
    EXPECT_EQ(record->stderrExcerpt, longError.left(500));
}

TEST_F(EngineGateModelTest, APassingRecheckOnTheSamePathDoesNotNotifyThePath)
{
    playing({});
    checkToTheEnd();
    playing({{"version", QJsonObject{{"stdout", "hermes 2\n"}}}});

    checkToTheEnd();

    EXPECT_EQ(phases, (QList<Phase>{Phase::checking(), Phase::pass(kFakeVersion, engine), Phase::checking(),
                                    Phase::pass("hermes 2", engine)}));
    EXPECT_EQ(pathSpy.count(), 1);
    EXPECT_EQ(passes, 2);
    EXPECT_EQ(runningSpy.count(), 4);
}

TEST(EngineGateModel, SettersNotifyOnlyOnARealChangeButOnPassAlways)
{
    EngineGateModel model;
    QSignalSpy started(&model, &EngineGateModel::hasStartedChanged);
    QSignalSpy onPass(&model, &EngineGateModel::onPassChanged);

    model.setHasStarted(false);
    model.setHasStarted(true);
    model.setHasStarted(true);
    model.setOnPass({});
    model.setOnPass({});

    EXPECT_TRUE(model.hasStarted());
    EXPECT_EQ(started.count(), 1);
    EXPECT_EQ(onPass.count(), 2);
}

TEST(EngineGatePhase, IsEqualForTheSameCaseWithEqualTexts)
{
    const Phase phases[] = {
        Phase::idle(),          Phase::checking(),           Phase::pass("1", "/a"), Phase::pass("1", "/b"),
        Phase::pass("2", "/a"), Phase::fail("/a", "broken"), Phase::fail("/a", ""),  Phase::fail("1", "/a"),
    };
    for (size_t i = 0; i < std::size(phases); ++i) {
        for (size_t j = 0; j < std::size(phases); ++j) {
            SCOPED_TRACE(std::to_string(i) + " against " + std::to_string(j));
            EXPECT_EQ(phases[i] == phases[j], i == j);
        }
    }
    EXPECT_EQ(Phase::pass("1", "/a"), Phase::pass("1", "/a"));
    EXPECT_EQ(Phase(), Phase::idle());
}

} // namespace
