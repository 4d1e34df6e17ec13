// Test entry point for the widget suites (run with QT_QPA_PLATFORM=offscreen).
#include <gtest/gtest.h>

#include <QApplication>
#include <QFile>
#include <QTemporaryDir>

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    // A run takes its lock below XDG_STATE_HOME: the tests' locks stay out
    // of the user's own state folder.
    QTemporaryDir state;
    qputenv("XDG_STATE_HOME", QFile::encodeName(state.path()));
    // New projects keep their passwords in a desktop keyring when one answers:
    // never the user's own (a case that wants one starts its own).
    qputenv("DBUS_SESSION_BUS_ADDRESS", "unix:path=/nonexistent/vellisync-test-bus");
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
