// PLACEHOLDER: to be written
#include "tests/support/testmain.h"

#include <QtTest>

class TestStartup : public QObject
{
    Q_OBJECT
};

APP_TEST_MAIN(TestStartup)
#include "test_startup.moc"
