#include "paths.h"

#include <QDir>
#include <QSettings>
#include <QStandardPaths>
#include <sys/stat.h>

namespace foundation::paths {

QString appDataDir()
{
    const QString dir =
        QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) + QStringLiteral("/Pennora");
    if (!QFileInfo::exists(dir)) {
        // Private from the moment it exists: the parents as usual, the folder
        // itself 0700 at creation.
        QDir().mkpath(QFileInfo(dir).path());
        ::mkdir(QFile::encodeName(dir).constData(), 0700);
    }
    return dir;
}

std::unique_ptr<QSettings> settingsStore()
{
    return std::make_unique<QSettings>(QStringLiteral("Pennora"), QStringLiteral("Pennora"));
}

bool isTestRun()
{
    return qEnvironmentVariableIsSet(kTestRunMarker);
}

QString expandTilde(const QString &path)
{
    if (path == u"~")
        return QDir::homePath();
    if (path.startsWith(QStringLiteral("~/")))
        return QDir::homePath() + path.mid(1);
    return path;
}

} // namespace foundation::paths
