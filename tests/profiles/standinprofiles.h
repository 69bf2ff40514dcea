#pragma once
// The stand-in engine's profiles as the tests of this folder see them: a
// fresh ~/.hermes for each test, the command lines the stand-in ran, and the
// configuration it keeps.

#include "fakehermesscenario.h"
#include "testenv.h"
#include "testutil.h"

#include <QDir>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QList>
#include <QStringList>

namespace testsupport {

inline QString standInProfilesRoot()
{
    return tempHome() + QStringLiteral("/.hermes/profiles");
}

// Removes ~/.hermes and creates the named profile folders.
inline void resetStandInProfiles(const QStringList &profiles)
{
    QDir(tempHome() + QStringLiteral("/.hermes")).removeRecursively();
    for (const QString &profile : profiles)
        QDir().mkpath(standInProfilesRoot() + u'/' + profile);
}

// The arguments of every run of the stand-in (its path left out), in order.
inline QList<QStringList> standInRuns(const FakeHermesScenario &fake)
{
    QList<QStringList> runs;
    for (const QJsonObject &event : fake.events(QStringLiteral("run"))) {
        QStringList args;
        for (const QJsonValue &arg : event.value("args").toArray())
            args << arg.toString();
        runs << args;
    }
    return runs;
}

// The profile's configuration as the stand-in keeps it: dotted keys to texts.
inline QJsonObject standInConfig(const QString &profile)
{
    return QJsonDocument::fromJson(readFile(standInProfilesRoot() + u'/' + profile + QStringLiteral("/config.json")))
        .object();
}

// For comparisons that print readably.
inline QByteArray compactJson(const QJsonObject &object)
{
    return QJsonDocument(object).toJson(QJsonDocument::Compact);
}

inline void setStandInConfig(const QString &profile, const QJsonObject &config)
{
    writeFile(standInProfilesRoot() + u'/' + profile + QStringLiteral("/config.json"), QJsonDocument(config).toJson());
}

} // namespace testsupport
