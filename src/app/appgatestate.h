#pragma once
// The application's root state: it owns the long-lived models and settles,
// keeps and changes the library's Home. Lives on the main thread for the
// whole process; no view code here, views observe it.

#include <QObject>
#include <QString>
#include <functional>
#include <memory>
#include <optional>

class QSettings;

namespace model {
class PostsModel;
}

namespace app {

class AppGateState : public QObject {
    Q_OBJECT
    // The Home folder (a local path). Every assignment stores it in the
    // settings; observers hear only of a real change.
    Q_PROPERTY(QString pennoraHome READ pennoraHome WRITE persistHome NOTIFY pennoraHomeChanged)

public:
    using DefaultHomeExists = std::function<bool()>;
    using CloudDriveRoot = std::function<std::optional<QString>()>;

    // Creates the library model and makes it the process's current one. The
    // Home is empty until settleHome.
    explicit AppGateState(QObject *parent = nullptr);
    ~AppGateState() override;

    model::PostsModel &posts() const { return *m_posts; }
    const QString &pennoraHome() const { return m_pennoraHome; }

    // The Home at start: the one kept in settings (taken as it is, existing
    // or not, and not written back); else in a test run on the standard
    // settings the default Home, not stored; else the first-launch choice,
    // stored into settings at once.
    void settleHome(QSettings &settings, const DefaultHomeExists &defaultHomeExists = &AppGateState::defaultHomeExists,
                    const CloudDriveRoot &cloudDriveRoot = &AppGateState::cloudDriveRoot);
    // Whether <Documents>/Pennora is a folder now.
    static bool defaultHomeExists();
    // The cloud drive's root folder: none on Linux.
    static std::optional<QString> cloudDriveRoot();

    // Stores home as the Home and writes it to the standard settings, also
    // when it is the Home already (then without notifying).
    void persistHome(const QString &home);
    // Switches the library model to home, then stores it. False when the
    // model refused (an open text could not be saved; its reason is in the
    // model's lastError): then nothing changes.
    bool changeHome(const QString &home);

signals:
    void pennoraHomeChanged();

private:
    void setHome(const QString &home);

    std::unique_ptr<model::PostsModel> m_posts;
    QString m_pennoraHome;
};

} // namespace app
