#pragma once
// Drives the stand-in engine (tests/support/fakehermes.cpp, where the
// scenario format is described): writes a scenario, points the stand-in at it
// and at a log through the environment, and reads the log back.

#include <QJsonObject>
#include <QList>
#include <QString>
#include <QTemporaryDir>

namespace testsupport {

// The stand-in executable, named "hermes".
QString fakeHermesBinary();

// Puts a link to the stand-in at path (creating its folder) that plays
// scenario from path + ".json", whatever the environment names; answers path.
// Throws std::runtime_error when that fails.
QString placeFakeHermes(const QString &path, const QJsonObject &scenario);

// While it lives, every stand-in started by this process (children inherit
// the environment) plays this scenario and logs here.
class FakeHermesScenario {
public:
    explicit FakeHermesScenario(const QJsonObject &scenario);
    ~FakeHermesScenario();
    FakeHermesScenario(const FakeHermesScenario &) = delete;
    FakeHermesScenario &operator=(const FakeHermesScenario &) = delete;

    QString logPath() const;
    // Every logged event, in order (only those of one kind when given).
    QList<QJsonObject> events(const QString &kind = QString()) const;
    // The lines the stand-in read in acp mode (of one profile when given).
    QStringList receivedLines(const QString &profile = QString()) const;
    // Those lines that were JSON objects.
    QList<QJsonObject> receivedMessages(const QString &profile = QString()) const;

private:
    QTemporaryDir m_dir;
};

} // namespace testsupport
