#include "core/confirmdialog.h"
#include "core/dialogs.h"
#include "core/statics.h"
#include "tests/support/dialoganswers.h"
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
    void hookAnswersEveryKindOfDialog();
};

void TestDialogs::realDialog_data()
{
    QTest::addColumn<int>("type"); // -1: a question
    QTest::addColumn<QString>("how");
    QTest::addColumn<QString>("header");
    QTest::addColumn<QString>("icon");
    QTest::addColumn<bool>("result");
    const auto row = [](const char *name, int type, const char *how, const char *header,
                        const char *icon, bool result) {
        QTest::newRow(name) << type << QString(how) << QString::fromUtf8(header)
                            << QStringLiteral(":/buttons/images/%1.png").arg(icon) << result;
    };
    row("information", 0, "OK", "Information", "info", false);
    row("warning, Escape", 1, "escape", "Warnung", "warning", false);
    row("error", 2, "OK", "Fehlerhinweis", "error", false);
    row("unknown type", 9, "OK", "Information", "info", false);
    row("Ja", -1, "Ja", "Artikel löschen", "question", true);
    row("Nein", -1, "Nein", "Artikel löschen", "question", false);
    row("Escape", -1, "escape", "Artikel löschen", "question", false);
    // "Nein" is the default button.
    row("Enter", -1, "enter", "Artikel löschen", "question", false);
}

// The real modal dialog: recorded once it is up, then answered.
void TestDialogs::realDialog()
{
    QFETCH(int, type);
    QFETCH(QString, how);
    QFETCH(QString, header);
    QFETCH(QString, icon);
    QFETCH(bool, result);
    QPointer<ConfirmDialog> seen;
    QStringList shown; // title, header, text, buttons
    QImage shownIcon;
    QTimer timer;
    timer.start(20);
    connect(&timer, &QTimer::timeout, this, [&] {
        auto *dialog = qobject_cast<ConfirmDialog *>(QApplication::activeModalWidget());
        if (!dialog || seen)
            return;
        seen = dialog;
        const auto label = [dialog](const char *name) {
            return dialog->findChild<QLabel *>(QLatin1String(name));
        };
        QStringList buttons;
        for (QAbstractButton *b : dialog->findChild<QDialogButtonBox *>()->buttons())
            buttons << b->text();
        buttons.sort();
        shown << dialog->windowTitle() << label("headerLabel")->text() << label("textLabel")->text()
              << buttons.join('/');
        shownIcon = label("iconLabel")->pixmap(Qt::ReturnByValue).toImage();
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

    QCOMPARE(shown, QStringList({ header, header, text, type < 0 ? "Ja/Nein" : "OK" }));
    QVERIFY(!shownIcon.isNull());
    QCOMPARE(shownIcon, QPixmap(icon).toImage());
    // Closed and gone once the call returned.
    QVERIFY(seen.isNull());
}

// Every dialog goes to the installed hook, in order; the real ones come back afterwards.
// Asking with an empty queue fails the test and gives the cancel answer.
void TestDialogs::hookAnswersEveryKindOfDialog()
{
    {
        DialogAnswers answers;
        answers.pushQuestion(false);
        answers.pushFileName("/tmp/a.csv");
        answers.pushFileNames({ "/tmp/1.jpg", "/tmp/2.jpg" });
        answers.pushDirectory("/tmp/bilder");
        answers.pushText("Neuer Ordner", true);

        Statics::showMessage(nullptr, "Fehler beim Senden", 2);
        QVERIFY(!Statics::showQuestionDialog(nullptr, "F", "Wirklich?"));
        QStringList given = Dialogs::openFileNames(nullptr, QString());
        given << Dialogs::saveFileName(nullptr, QString())
              << Dialogs::existingDirectory(nullptr, QString());
        bool ok = false;
        given << Dialogs::text(nullptr, QString(), QString(), QString(), &ok);
        QCOMPARE(given,
                 QStringList(
                     { "/tmp/1.jpg", "/tmp/2.jpg", "/tmp/a.csv", "/tmp/bilder", "Neuer Ordner" }));
        QVERIFY(ok);
        QCOMPARE(answers.messages().size(), 1);
        QCOMPARE(answers.messages().first().header + '|' + answers.lastMessageText(),
                 QStringLiteral("Fehlerhinweis|Fehler beim Senden"));
        QCOMPARE(answers.questions().size(), 1);

        QEXPECT_FAIL("", "asking with an empty queue fails the test", Continue);
        const QString again = Dialogs::openFileName(nullptr, QString());
        // Checked twice: without the hook's failure the first check would pass unexpectedly.
        QVERIFY(again.isEmpty());
        QVERIFY(again.isEmpty());
    }
    QCOMPARE(Dialogs::hook(), nullptr);
}

APP_TEST_MAIN(TestDialogs)
#include "test_dialogs.moc"
