// PLACEHOLDER: to be written
#include "tests/support/testmain.h"

#include <QtTest>

class TestFoldertree : public QObject
{
    Q_OBJECT
};

APP_TEST_MAIN(TestFoldertree)
#include "test_foldertree.moc"
