#include "fakehermesscenario.h"

#include "testenv.h"
#include "testutil.h"

#include <QFile>
#include <QJsonDocument>

#include <stdexcept>

namespace testsupport {

QString fakeHermesBinary()
{
    return binaryDir() + QStringLiteral("/tests/support/fake-hermes/hermes");
}

QString placeFakeHermes(const QString &path, const QJsonObject &scenario)
{
    writeFile(path + QStringLiteral(".json"), QJsonDocument(scenario).toJson());
    QFile::remove(path);
    if (!QFile::link(fakeHermesBinary(), path))
        throw std::runtime_error("cannot link the stand-in at " + path.toStdString());
    return path;
}

FakeHermesScenario::FakeHermesScenario(const QJsonObject &scenario)
{
    const QString path = m_dir.filePath(QStringLiteral("scenario.json"));
    writeFile(path, QJsonDocument(scenario).toJson());
    qputenv("FAKE_HERMES_SCENARIO", path.toLocal8Bit());
    qputenv("FAKE_HERMES_LOG", logPath().toLocal8Bit());
}

FakeHermesScenario::~FakeHermesScenario()
{
    qunsetenv("FAKE_HERMES_SCENARIO");
    qunsetenv("FAKE_HERMES_LOG");
}

QString FakeHermesScenario::logPath() const
{
    return m_dir.filePath(QStringLiteral("log.jsonl"));
}

QList<QJsonObject> FakeHermesScenario::events(const QString &kind) const
{
    QList<QJsonObject> out;
    QFile file(logPath());
    if (!file.open(QIODevice::ReadOnly))
        return out;
    for (const QByteArray &line : file.readAll().split('\n')) {
        if (line.isEmpty())
            continue;
        const QJsonObject event = QJsonDocument::fromJson(line).object();
        if (kind.isEmpty() || event.value("event").toString() == kind)
            out << event;
    }
    return out;
}

QStringList FakeHermesScenario::receivedLines(const QString &profile) const
{
    QStringList out;
    for (const QJsonObject &event : events(QStringLiteral("received")))
        if (profile.isEmpty() || event.value("profile").toString() == profile)
            out << event.value("line").toString();
    return out;
}

QList<QJsonObject> FakeHermesScenario::receivedMessages(const QString &profile) const
{
    QList<QJsonObject> out;
    for (const QString &line : receivedLines(profile)) {
        const QJsonDocument doc = QJsonDocument::fromJson(line.toUtf8());
        if (doc.isObject())
            out << doc.object();
    }
    return out;
}

} // namespace testsupport
