// Test entry point for the core suites: a QCoreApplication gives the network
// classes and the worker thread's hand-over an event loop to run on.
#include <gtest/gtest.h>

#include <QCoreApplication>

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
