// PLACEHOLDER: to be written
#include "tests/support/testmain.h"

#include <QtTest>

class TestStatus : public QObject
{
    Q_OBJECT
};

APP_TEST_MAIN(TestStatus)
#include "test_status.moc"
