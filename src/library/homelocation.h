#pragma once
// Where the library's Home folder is: the default Home in the documents
// folder, the Home kept in the settings, the first-launch choice, and the
// test-run check that several parts of the program consult.
//
// A Home is a local folder path without a trailing slash, as the library
// model takes it. The settings keep it as a file URL with a trailing slash,
// so that choosing the same folder again stores the same text.

#include <QString>
#include <functional>
#include <optional>

class QSettings;

namespace library::HomeLocation {

// The settings key that holds the Home.
inline constexpr char kSettingsKey[] = "pennoraHome";

// <Documents>/Pennora, computed once per process on first use.
const QString &defaultHome();

// The Home kept in settings under "pennoraHome" when its text is a file URL
// (whether that folder exists does not matter); none otherwise.
std::optional<QString> storedHome(QSettings &settings);

// The text the settings keep for home: its file URL with a trailing slash.
QString settingsText(const QString &home);

// The first-launch Home: the default Home when it already exists, else
// "Pennora" in the cloud drive when there is one, else the default Home.
QString resolveDefaultHome(const std::function<bool()> &defaultHomeExists,
                           const std::function<std::optional<QString>()> &cloudDriveRoot);

// folder when a directory (or a link to one) is there; none otherwise.
std::optional<QString> existingDirectory(const QString &folder);

// True in a test run (the test-run marker is in the environment).
bool isRunningTests();

} // namespace library::HomeLocation
