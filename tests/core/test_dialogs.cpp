#include "core/confirmdialog.h"
#include "core/dialogs.h"
#include "core/statics.h"
#include "tests/support/testmain.h"

#include <QDialogButtonBox>
#include <QLabel>
#include <QPointer>
#include <QPushButton>

class TestDialogs : public QObject
{
    Q_OBJECT
private slots:
    void realDialog_data();
    void realDialog();
    void longTextIsShownWhole_data();
    void longTextIsShownWhole();
};

void TestDialogs::realDialog_data()
{
    QTest::addColumn<int>("type"); // -1: a question
    QTest::addColumn<QString>("how");
    QTest::addColumn<QString>("header");
    QTest::addColumn<bool>("result");
    const auto row
        = [](const char *name, int type, const char *how, const char *header, bool result) {
              QTest::newRow(name) << type << QString(how) << QString::fromUtf8(header) << result;
          };
    row("error", 2, "OK", "Fehlerhinweis", false);
    row("Ja", -1, "Ja", "Artikel löschen", true);
    row("Escape", -1, "escape", "Artikel löschen", false);
    // "Nein" is the default button.
    row("Enter", -1, "enter", "Artikel löschen", false);
}

// The real modal dialog: recorded once it is up, then answered.
void TestDialogs::realDialog()
{
    QFETCH(int, type);
    QFETCH(QString, how);
    QFETCH(QString, header);
    QFETCH(bool, result);
    QPointer<ConfirmDialog> seen;
    QStringList shown; // header, text
    QTimer timer;
    timer.start(20);
    connect(&timer, &QTimer::timeout, this, [&] {
        auto *dialog = qobject_cast<ConfirmDialog *>(QApplication::activeModalWidget());
        if (!dialog || seen)
            return;
        seen = dialog;
        for (const char *name : { "headerLabel", "textLabel" })
            shown << dialog->findChild<QLabel *>(QLatin1String(name))->text();
        if (how == "escape" || how == "enter")
            QTest::keyClick(dialog, how == "enter" ? Qt::Key_Return : Qt::Key_Escape);
        for (QAbstractButton *b : dialog->findChild<QDialogButtonBox *>()->buttons()) {
            if (b->text() == how)
                QTest::mouseClick(b, Qt::LeftButton);
        }
    });
    const QString text = QStringLiteral("Wirklich löschen?");

    if (type < 0)
        QCOMPARE(Statics::showQuestionDialog(nullptr, header, text), result);
    else
        Statics::showMessage(nullptr, text, type);

    QCOMPARE(shown, QStringList({ header, text }));
    // Closed and gone once the call returned.
    QVERIFY(seen.isNull());
}

void TestDialogs::longTextIsShownWhole_data()
{
    QTest::addColumn<QString>("text");
    QTest::newRow("database not reachable")
        << QStringLiteral("Die MySQL-Datenbank \"zerire_lager\" auf \"db.lager.example\" ist nicht "
                          "erreichbar:\nCan't connect to MySQL server on 'db.lager.example' (111 "
                          "\"Connection refused\") QMYSQL: Unable to connect\n\nDas Programm "
                          "arbeitet bis zum nächsten Start mit der lokalen Datenbank.");
    QTest::newRow("one long paragraph") << QString("Sehr langer Hinweis ohne Umbruch. ").repeated(40);
}

// Every line of a long message fits into the dialog: its text is never cut off.
void TestDialogs::longTextIsShownWhole()
{
    QFETCH(QString, text);
    ConfirmDialog dialog;
    dialog.setMessage(ConfirmDialog::headerForType(2), text, 2);
    dialog.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dialog));
    const auto *label = dialog.findChild<QLabel *>(QStringLiteral("textLabel"));
    QVERIFY2(label->height() >= label->heightForWidth(label->width()),
             qPrintable(QStringLiteral("%1 < %2").arg(label->height()).arg(
                 label->heightForWidth(label->width()))));
    QVERIFY(dialog.rect().contains(QRect(label->mapTo(&dialog, QPoint()), label->size())));
}

APP_TEST_MAIN(TestDialogs)
#include "test_dialogs.moc"
