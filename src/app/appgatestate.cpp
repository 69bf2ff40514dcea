#include "app/appgatestate.h"

#include "foundation/paths.h"
#include "library/homelocation.h"
#include "model/postsmodel.h"

#include <QDir>
#include <QSettings>

namespace app {

namespace HomeLocation = library::HomeLocation;

AppGateState::AppGateState(QObject *parent) : QObject(parent), m_posts(std::make_unique<model::PostsModel>())
{
    // The quit guard reaches the library through this, never keeping it alive.
    model::PostsModel::setCurrent(m_posts.get());
}

AppGateState::~AppGateState() = default;

void AppGateState::setHome(const QString &home)
{
    if (m_pennoraHome == home)
        return;
    m_pennoraHome = home;
    emit pennoraHomeChanged();
}

bool AppGateState::defaultHomeExists()
{
    return HomeLocation::existingDirectory(HomeLocation::defaultHome()).has_value();
}

std::optional<QString> AppGateState::cloudDriveRoot()
{
    return std::nullopt;
}

void AppGateState::settleHome(QSettings &settings, const DefaultHomeExists &defaultHomeExists,
                              const CloudDriveRoot &cloudDriveRoot)
{
    if (const std::optional<QString> stored = HomeLocation::storedHome(settings)) {
        setHome(*stored);
        return;
    }
    // A test run must not write a Home into the user's own settings.
    if (HomeLocation::isRunningTests() && settings.fileName() == foundation::paths::settingsStore()->fileName()) {
        setHome(HomeLocation::defaultHome());
        return;
    }
    const QString home = HomeLocation::resolveDefaultHome(defaultHomeExists, cloudDriveRoot);
    setHome(home);
    settings.setValue(HomeLocation::kSettingsKey, HomeLocation::settingsText(home));
}

void AppGateState::persistHome(const QString &home)
{
    setHome(QDir::cleanPath(home));
    foundation::paths::settingsStore()->setValue(HomeLocation::kSettingsKey, HomeLocation::settingsText(m_pennoraHome));
}

bool AppGateState::changeHome(const QString &home)
{
    const QString folder = QDir::cleanPath(home);
    if (!m_posts->setHome(folder))
        return false;
    persistHome(folder);
    return true;
}

} // namespace app
