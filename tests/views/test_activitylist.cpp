// PLACEHOLDER: to be written
#include "tests/support/testmain.h"

#include <QtTest>

class TestActivitylist : public QObject
{
    Q_OBJECT
};

APP_TEST_MAIN(TestActivitylist)
#include "test_activitylist.moc"
