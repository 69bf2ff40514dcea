#include "app/state/appgatestate.h"

#include "engine/enginegatemodel.h"
#include "engine/enginehost.h"
#include "engine/engineprobe.h"
#include "engine/mentorsessionmodel.h"
#include "foundation/notify.h"
#include "foundation/paths.h"
#include "library/homelocation.h"
#include "library/poststore.h"
#include "model/postsmodel.h"
#include "profiles/backupmodel.h"
#include "profiles/provisioningmodel.h"

#include <QCoro/QCoroSignal>
#include <QDateTime>
#include <QDir>
#include <QPointer>
#include <QSettings>
#include <algorithm>

namespace app {

namespace HomeLocation = library::HomeLocation;

AppGateState::AppGateState(QObject *parent)
    : QObject(parent), m_gateModel(std::make_unique<engine::EngineGateModel>()),
      m_provisioning(std::make_unique<profiles::ProvisioningModel>()),
      m_backup(std::make_unique<profiles::BackupModel>()),
      m_mentor(std::make_unique<engine::MentorSessionModel>(std::make_unique<engine::EngineHost>(), std::nullopt,
                                                            std::nullopt)),
      m_posts(std::make_unique<model::PostsModel>()), m_writingLock(std::make_unique<focus::WritingLockState>())
{
    // The quit guard reaches the library through this, never keeping it alive.
    model::PostsModel::setCurrent(m_posts.get());
}

AppGateState::AppGateState(QSettings &settings, const DefaultHomeExists &defaultHomeExists,
                           const CloudDriveRoot &cloudDriveRoot, QObject *parent)
    : AppGateState(parent)
{
    settleHome(settings, defaultHomeExists, cloudDriveRoot);
}

AppGateState::~AppGateState() = default;

QStringList AppGateState::engineCandidatePaths()
{
    return engine::EngineProbe::defaultCandidates();
}

void AppGateState::setSpellChecking(bool on)
{
    foundation::storeAndNotify(*this, m_spellChecking, on, &AppGateState::spellCheckingChanged);
}

void AppGateState::setIsFocused(bool on)
{
    foundation::storeAndNotify(*this, m_isFocused, on, &AppGateState::isFocusedChanged);
}

void AppGateState::toggleFocus()
{
    m_isFocused = !m_isFocused;
    emit isFocusedChanged();
}

void AppGateState::setHome(const QString &home)
{
    foundation::storeAndNotify(*this, m_pennoraHome, home, &AppGateState::pennoraHomeChanged);
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
    // A first launch makes the library it chose, or the writer would meet a
    // "missing" Home; a stored Home is never made (its drive may be away).
    // The default may need its Documents folder too; in a cloud drive only
    // the Pennora folder is made, inside a root that is there.
    if (home == HomeLocation::defaultHome())
        QDir().mkpath(home);
    else
        QDir().mkdir(home);
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

QCoro::Task<void> AppGateState::startGate()
{
    if (HomeLocation::isRunningTests())
        co_return;
    wireOnPass();
    if (m_gateModel->hasStarted())
        co_return;
    m_gateModel->setHasStarted(true);
    if (m_startupWork == StartupWork::notBegun)
        m_startupWork = StartupWork::running;
    const QPointer<AppGateState> self(this);
    QCoro::Task<void> checking = checkEngine();
    co_await std::move(checking);
    // A passing check handed the start-up work to its pass task; otherwise
    // there is nothing left to wait for.
    if (self && m_gateModel->phase().which() != engine::EngineGateModel::Phase::Case::pass && !m_passTaskStarted)
        endStartupWork();
}

QCoro::Task<void> AppGateState::checkEngine()
{
    return m_gateModel->check(engineCandidatePaths(), true, std::nullopt, std::chrono::seconds(5));
}

void AppGateState::wireOnPass()
{
    m_gateModel->setOnPass([self = QPointer<AppGateState>(this)] {
        if (self)
            self->provisionThenBackUp();
    });
}

void AppGateState::provisionThenBackUp()
{
    // The first pass task of the process carries the start-up work to its end.
    const bool first = !m_passTaskStarted && m_startupWork != StartupWork::ended;
    m_passTaskStarted = true;
    if (first)
        m_startupWork = StartupWork::running;
    QCoro::Task<void> detached = [](QPointer<AppGateState> self, bool first) -> QCoro::Task<void> {
        const std::optional<QString> binary = self->m_gateModel->currentBinaryPath();
        QCoro::Task<void> provisioning = self->m_provisioning->run(binary);
        co_await std::move(provisioning);
        if (!self)
            co_return;
        QCoro::Task<void> backingUp = self->m_backup->run();
        co_await std::move(backingUp);
        if (self && first)
            self->endStartupWork();
    }(QPointer<AppGateState>(this), first);
}

void AppGateState::endStartupWork()
{
    if (m_startupWork == StartupWork::ended)
        return;
    m_startupWork = StartupWork::ended;
    emit startupWorkEnded();
}

QCoro::Task<void> AppGateState::startChatEngine()
{
    const QPointer<AppGateState> self(this);
    if (m_startupWork == StartupWork::running && !m_chatStarted) {
        auto ended = qCoro(this, &AppGateState::startupWorkEnded);
        co_await std::move(ended);
        if (!self)
            co_return;
    }
    m_chatStarted = true;
    QCoro::Task<void> starting = m_mentor->start();
    co_await std::move(starting);
}

void AppGateState::armWritingLock(const focus::WritingGoal &goal)
{
    if (m_writingLock->isLocked())
        return;
    setIsFocused(true);
    m_writingLock->arm(goal, m_posts->currentText().value_or(QString()), QDateTime::currentDateTime(), true);
}

bool AppGateState::acceptDroppedFiles(const QList<QUrl> &urls)
{
    if (m_writingLock->isLocked())
        return false;
    const bool allMarkdown = !urls.isEmpty() && std::all_of(urls.cbegin(), urls.cend(), [](const QUrl &url) {
        return library::PostStore::isImportable(url);
    });
    if (allMarkdown) {
        m_posts->openExternalFile(urls.first());
        return true;
    }
    if (editor::ProseDropTarget *view = m_proseDrop.textView())
        return view->ingestDrop(urls);
    return false;
}

} // namespace app
