// The main of every test binary: the test-run marker, an isolated HOME, then
// a Qt application object (QApplication for widget tests), then GoogleTest.
#include "foundation/paths.h"
#include "testenv.h"

#include <QLocale>
#include <gtest/gtest.h>

#ifdef PENNORA_TEST_GUI
#include <QApplication>
using TestApp = QApplication;
#else
#include <QCoreApplication>
using TestApp = QCoreApplication;
#endif

int main(int argc, char **argv)
{
    // CTest sets the marker too; a binary run by hand must behave the same.
    // Children inherit it, so a test of real start-up removes it for its child.
    if (!qEnvironmentVariableIsSet(foundation::paths::kTestRunMarker))
        qputenv(foundation::paths::kTestRunMarker, "testmain");
    testsupport::isolateHome();
    // Tests are headless, discovery runs included.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    ::testing::InitGoogleTest(&argc, argv);
    TestApp app(argc, argv);
    QLocale::setDefault(QLocale(QStringLiteral("en_US")));
    return RUN_ALL_TESTS();
}
