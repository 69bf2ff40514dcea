#pragma once
// Where the application keeps its own files and settings, and the test-run
// marker.

#include <QString>
#include <memory>

class QSettings;

namespace foundation::paths {

// ~/.local/share/Pennora (honours XDG_DATA_HOME), created 0700 when missing.
QString appDataDir();

// The application's QSettings (organisation and application "Pennora"): the
// small preferences kept between runs.
std::unique_ptr<QSettings> settingsStore();

// The environment variable whose presence marks a test run.
inline constexpr const char *kTestRunMarker = "XCTestConfigurationFilePath";
bool isTestRun();

// The user's home folder with a leading "~" expanded.
QString expandTilde(const QString &path);

} // namespace foundation::paths
