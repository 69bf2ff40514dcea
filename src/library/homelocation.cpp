#include "library/homelocation.h"

#include "foundation/paths.h"

#include <QDir>
#include <QFileInfo>
#include <QSettings>
#include <QStandardPaths>
#include <QUrl>

namespace library::HomeLocation {

using namespace Qt::StringLiterals;

const QString &defaultHome()
{
    static const QString home =
        QDir::cleanPath(QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation) + u"/Pennora"_s);
    return home;
}

std::optional<QString> storedHome(QSettings &settings)
{
    const QVariant value = settings.value(kSettingsKey);
    if (value.typeId() != QMetaType::QString)
        return std::nullopt;
    const QUrl url(value.toString(), QUrl::StrictMode);
    if (!url.isValid() || !url.isLocalFile())
        return std::nullopt;
    const QString path = url.toLocalFile();
    if (path.isEmpty())
        return std::nullopt;
    return QDir::cleanPath(path);
}

QString settingsText(const QString &home)
{
    QString folder = QDir::cleanPath(home);
    if (!folder.endsWith(u'/'))
        folder += u'/';
    return QUrl::fromLocalFile(folder).toString(QUrl::FullyEncoded);
}

QString resolveDefaultHome(const std::function<bool()> &defaultHomeExists,
                           const std::function<std::optional<QString>()> &cloudDriveRoot)
{
    if (defaultHomeExists())
        return defaultHome();
    const std::optional<QString> cloud = cloudDriveRoot();
    if (!cloud)
        return defaultHome();
    return QDir::cleanPath(*cloud + u"/Pennora"_s);
}

std::optional<QString> existingDirectory(const QString &folder)
{
    if (folder.isEmpty() || !QFileInfo(folder).isDir())
        return std::nullopt;
    return folder;
}

bool isRunningTests()
{
    return foundation::paths::isTestRun();
}

} // namespace library::HomeLocation
