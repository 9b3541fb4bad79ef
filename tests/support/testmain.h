#pragma once

#include "tests/support/temphome.h"

#include <QApplication>
#include <QtTest>

namespace TestSupport {
// Runs the test object with a message handler that fails the running test on warnings
// that reveal a broken form or connection ("QMetaObject::connectSlotsByName: No matching
// signal", "QObject::connect: No such ..."), on top of Qt Test's own handler.
int runTests(QObject *testObject, int argc, char **argv);
} // namespace TestSupport

// Use instead of QTEST_MAIN: a temporary HOME is set before the application exists.
#define APP_TEST_MAIN(TestObject)                                                                  \
    int main(int argc, char *argv[])                                                               \
    {                                                                                              \
        TestSupport::TempHome tempHome;                                                            \
        QApplication app(argc, argv);                                                              \
        TestObject tc;                                                                             \
        QTEST_SET_MAIN_SOURCE_PATH                                                                 \
        return TestSupport::runTests(&tc, argc, argv);                                             \
    }

// The same without widgets (QCoreApplication).
#define APP_TEST_GUILESS_MAIN(TestObject)                                                          \
    int main(int argc, char *argv[])                                                               \
    {                                                                                              \
        TestSupport::TempHome tempHome;                                                            \
        QCoreApplication app(argc, argv);                                                          \
        TestObject tc;                                                                             \
        QTEST_SET_MAIN_SOURCE_PATH                                                                 \
        return TestSupport::runTests(&tc, argc, argv);                                             \
    }
