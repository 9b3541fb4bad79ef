// PLACEHOLDER: to be written
#include "tests/support/testmain.h"

#include <QtTest>

class TestItemlist : public QObject
{
    Q_OBJECT
};

APP_TEST_MAIN(TestItemlist)
#include "test_itemlist.moc"
