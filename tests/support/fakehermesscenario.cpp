#include "fakehermesscenario.h"

#include "testenv.h"
#include "testutil.h"

#include <QFile>
#include <QJsonDocument>

namespace testsupport {

QString fakeHermesBinary()
{
    return binaryDir() + QStringLiteral("/tests/support/fake-hermes/hermes");
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

QList<QJsonObject> FakeHermesScenario::events() const
{
    QList<QJsonObject> out;
    QFile file(logPath());
    if (!file.open(QIODevice::ReadOnly))
        return out;
    for (const QByteArray &line : file.readAll().split('\n'))
        if (!line.isEmpty())
            out << QJsonDocument::fromJson(line).object();
    return out;
}

QStringList FakeHermesScenario::receivedLines(const QString &profile) const
{
    QStringList out;
    for (const QJsonObject &event : events())
        if (event.value("event").toString() == QLatin1String("received")
            && (profile.isEmpty() || event.value("profile").toString() == profile))
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
