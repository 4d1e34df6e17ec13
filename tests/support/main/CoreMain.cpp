// Test entry point for the core suites: a QCoreApplication gives the network
// classes and the worker thread's hand-over an event loop to run on.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QFile>
#include <QTemporaryDir>

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    // A run takes its lock below XDG_STATE_HOME: the tests' locks stay out
    // of the user's own state folder.
    QTemporaryDir state;
    qputenv("XDG_STATE_HOME", QFile::encodeName(state.path()));
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
