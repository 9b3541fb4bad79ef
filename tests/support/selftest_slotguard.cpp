// Must fail: a dialog whose by-name slot matches no signal of its form. CTest expects this
// program to fail, which proves that the test main catches such wiring faults.
#include "tests/support/testmain.h"

#include <QPushButton>

class OrphanedSlotDialog : public QWidget
{
    Q_OBJECT
public:
    OrphanedSlotDialog()
    {
        auto *button = new QPushButton(this);
        button->setObjectName(QStringLiteral("okButton"));
        QMetaObject::connectSlotsByName(this);
    }
private slots:
    // The button was renamed in the form, the slot was not.
    void on_saveButton_clicked() { }
};

class SelfTestSlotGuard : public QObject
{
    Q_OBJECT
private slots:
    void orphanedSlotFailsTheTest()
    {
        OrphanedSlotDialog dialog;
        QVERIFY(true);
    }
};

APP_TEST_MAIN(SelfTestSlotGuard)
#include "selftest_slotguard.moc"
