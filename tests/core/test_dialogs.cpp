#include "core/confirmdialog.h"
#include "core/dialogs.h"
#include "core/statics.h"
#include "tests/support/dialoganswers.h"
#include "tests/support/testmain.h"
#include "tests/support/urlcapture.h"

#include <QDesktopServices>
#include <QDialogButtonBox>
#include <QLabel>
#include <QPointer>
#include <QPushButton>
#include <functional>

namespace {
// What a test saw of the modal dialog before answering it.
struct Seen
{
    QPointer<ConfirmDialog> dialog;
    QString title;
    QString header;
    QString text;
    QImage icon;
    QStringList buttons;
    Qt::WindowModality modality = Qt::NonModal;
    QWidget *parent = nullptr;
};

QPushButton *button(ConfirmDialog *dialog, const QString &text)
{
    const auto box = dialog->findChild<QDialogButtonBox *>(QStringLiteral("buttonBox"));
    for (QAbstractButton *b : box->buttons()) {
        if (b->text() == text)
            return qobject_cast<QPushButton *>(b);
    }
    return nullptr;
}

// Queued before a call that blocks in exec(): records the modal ConfirmDialog once it is
// up, then answers it. Gives up after a second, so a missing dialog cannot hang the test.
void answerModal(Seen *seen, std::function<void(ConfirmDialog *)> answer, int attempts = 50)
{
    QTimer::singleShot(attempts == 50 ? 0 : 20, qApp, [=] {
        auto *dialog = qobject_cast<ConfirmDialog *>(QApplication::activeModalWidget());
        if (!dialog) {
            if (attempts > 0)
                answerModal(seen, answer, attempts - 1);
            return;
        }
        seen->dialog = dialog;
        seen->title = dialog->windowTitle();
        seen->header = dialog->findChild<QLabel *>(QStringLiteral("headerLabel"))->text();
        seen->text = dialog->findChild<QLabel *>(QStringLiteral("textLabel"))->text();
        seen->icon = dialog->findChild<QLabel *>(QStringLiteral("iconLabel"))
                         ->pixmap(Qt::ReturnByValue)
                         .toImage();
        const auto box = dialog->findChild<QDialogButtonBox *>(QStringLiteral("buttonBox"));
        for (QAbstractButton *b : box->buttons())
            seen->buttons << b->text();
        seen->modality = dialog->windowModality();
        seen->parent = dialog->parentWidget();
        answer(dialog);
    });
}

QImage resourceImage(const QString &path)
{
    return QPixmap(path).toImage();
}
} // namespace

class TestDialogs : public QObject
{
    Q_OBJECT
private slots:
    void messageByType_data();
    void messageByType();
    void messageModality_data();
    void messageModality();
    void questionAnswers_data();
    void questionAnswers();
    void answersRecordedWithoutBlocking();
    void queuedAnswersInOrder();
    void emptyQueueFailsAndCancels_data();
    void emptyQueueFailsAndCancels();
    void answersRemovedWithTheHook();
    void urlCaptureRecordsOpenedUrls();
    void iconsCompiledIn_data();
    void iconsCompiledIn();
};

void TestDialogs::messageByType_data()
{
    QTest::addColumn<int>("type");
    QTest::addColumn<QString>("header");
    QTest::addColumn<QString>("icon");
    QTest::newRow("information") << 0 << "Information"
                                 << ":/buttons/images/info.png";
    QTest::newRow("warning") << 1 << "Warnung"
                             << ":/buttons/images/warning.png";
    QTest::newRow("error") << 2 << "Fehlerhinweis"
                           << ":/buttons/images/error.png";
    QTest::newRow("unknown type") << 9 << "Information"
                                  << ":/buttons/images/info.png";
}

void TestDialogs::messageByType()
{
    QFETCH(int, type);
    QFETCH(QString, header);
    QFETCH(QString, icon);
    Seen seen;
    bool answered = false;
    answerModal(&seen, [&answered](ConfirmDialog *dialog) {
        answered = true;
        QTest::mouseClick(button(dialog, QStringLiteral("OK")), Qt::LeftButton);
    });
    const QString text = QStringLiteral("Der Artikel wurde gespeichert.");

    Statics::showMessage(nullptr, text, type);

    QVERIFY(answered);
    QCOMPARE(seen.header, header);
    QCOMPARE(seen.title, header);
    QCOMPARE(seen.text, text);
    QCOMPARE(seen.buttons, QStringList(QStringLiteral("OK")));
    QVERIFY(!seen.icon.isNull());
    QCOMPARE(seen.icon, resourceImage(icon));
    // Closed and gone once showMessage returned.
    QVERIFY(seen.dialog.isNull());
}

void TestDialogs::messageModality_data()
{
    QTest::addColumn<bool>("withParent");
    QTest::addColumn<int>("modality");
    QTest::newRow("over a window") << true << int(Qt::WindowModal);
    QTest::newRow("without parent") << false << int(Qt::ApplicationModal);
}

void TestDialogs::messageModality()
{
    QFETCH(bool, withParent);
    QFETCH(int, modality);
    QWidget window;
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    QWidget *parent = withParent ? &window : nullptr;
    Seen seen;
    // Escape closes a message as well.
    answerModal(&seen, [](ConfirmDialog *dialog) { QTest::keyClick(dialog, Qt::Key_Escape); });

    Statics::showMessage(parent, QStringLiteral("Hinweis"), 0);

    QVERIFY(!seen.title.isEmpty());
    QCOMPARE(int(seen.modality), modality);
    QCOMPARE(seen.parent, parent);
    QVERIFY(seen.dialog.isNull());
}

void TestDialogs::questionAnswers_data()
{
    QTest::addColumn<QString>("how");
    QTest::addColumn<bool>("result");
    QTest::newRow("Ja") << "Ja" << true;
    QTest::newRow("Nein") << "Nein" << false;
    QTest::newRow("Escape") << "escape" << false;
    QTest::newRow("window closed") << "close" << false;
    // "Nein" is the default button.
    QTest::newRow("Enter") << "enter" << false;
}

void TestDialogs::questionAnswers()
{
    QFETCH(QString, how);
    QFETCH(bool, result);
    Seen seen;
    answerModal(&seen, [how](ConfirmDialog *dialog) {
        if (how == QLatin1String("escape"))
            QTest::keyClick(dialog, Qt::Key_Escape);
        else if (how == QLatin1String("enter"))
            QTest::keyClick(dialog, Qt::Key_Return);
        else if (how == QLatin1String("close"))
            dialog->close();
        else
            QTest::mouseClick(button(dialog, how), Qt::LeftButton);
    });

    const bool answer = Statics::showQuestionDialog(nullptr, QStringLiteral("Artikel löschen"),
                                                    QStringLiteral("Wirklich löschen?"));

    QCOMPARE(answer, result);
    QCOMPARE(seen.header, QStringLiteral("Artikel löschen"));
    QCOMPARE(seen.title, QStringLiteral("Artikel löschen"));
    QCOMPARE(seen.text, QStringLiteral("Wirklich löschen?"));
    QStringList buttons = seen.buttons;
    buttons.sort();
    QCOMPARE(buttons, QStringList({ QStringLiteral("Ja"), QStringLiteral("Nein") }));
    QCOMPARE(seen.icon, resourceImage(ConfirmDialog::questionIcon()));
    QVERIFY(seen.dialog.isNull());
}

void TestDialogs::answersRecordedWithoutBlocking()
{
    DialogAnswers answers;
    answers.pushQuestion(true);
    answers.pushQuestion(false);

    Statics::showMessage(nullptr, QStringLiteral("Gespeichert"), 0);
    Statics::showMessage(nullptr, QStringLiteral("Kein Netz"), 1);
    Statics::showMessage(nullptr, QStringLiteral("Fehler beim Senden"), 2);
    QVERIFY(Statics::showQuestionDialog(nullptr, QStringLiteral("F1"), QStringLiteral("Erste?")));
    QVERIFY(!Statics::showQuestionDialog(nullptr, QStringLiteral("F2"), QStringLiteral("Zweite?")));

    // Nothing was shown on screen.
    for (QWidget *widget : QApplication::topLevelWidgets())
        QVERIFY(!qobject_cast<ConfirmDialog *>(widget));
    const QList<DialogAnswers::Message> messages = answers.messages();
    QCOMPARE(messages.size(), 3);
    QCOMPARE(messages.at(0).header, QStringLiteral("Information"));
    QCOMPARE(messages.at(0).text, QStringLiteral("Gespeichert"));
    QCOMPARE(messages.at(0).type, 0);
    QCOMPARE(messages.at(1).header, QStringLiteral("Warnung"));
    QCOMPARE(messages.at(1).type, 1);
    QCOMPARE(messages.at(2).header, QStringLiteral("Fehlerhinweis"));
    QCOMPARE(messages.at(2).type, 2);
    QCOMPARE(answers.lastMessageText(), QStringLiteral("Fehler beim Senden"));
    const QList<DialogAnswers::Question> questions = answers.questions();
    QCOMPARE(questions.size(), 2);
    QCOMPARE(questions.at(0).header, QStringLiteral("F1"));
    QCOMPARE(questions.at(1).text, QStringLiteral("Zweite?"));

    answers.clear();
    QVERIFY(answers.messages().isEmpty());
    QVERIFY(answers.questions().isEmpty());
    QCOMPARE(answers.lastMessageText(), QString());
}

void TestDialogs::queuedAnswersInOrder()
{
    DialogAnswers answers;
    answers.pushFileName(QStringLiteral("/tmp/a.csv"));
    answers.pushFileName(QStringLiteral("/tmp/b.csv"));
    answers.pushFileNames({ QStringLiteral("/tmp/1.jpg"), QStringLiteral("/tmp/2.jpg") });
    answers.pushFileNames({});
    answers.pushDirectory(QStringLiteral("/tmp/bilder"));
    answers.pushText(QStringLiteral("Neuer Ordner"), true);
    answers.pushText(QString(), false);

    QCOMPARE(Dialogs::openFileName(nullptr, QStringLiteral("Öffnen")),
             QStringLiteral("/tmp/a.csv"));
    QCOMPARE(Dialogs::saveFileName(nullptr, QStringLiteral("Speichern")),
             QStringLiteral("/tmp/b.csv"));
    QCOMPARE(Dialogs::openFileNames(nullptr, QStringLiteral("Bilder")),
             QStringList({ QStringLiteral("/tmp/1.jpg"), QStringLiteral("/tmp/2.jpg") }));
    QCOMPARE(Dialogs::openFileNames(nullptr, QStringLiteral("Bilder")), QStringList());
    QCOMPARE(Dialogs::existingDirectory(nullptr, QStringLiteral("Ordner")),
             QStringLiteral("/tmp/bilder"));
    bool ok = false;
    QCOMPARE(
        Dialogs::text(nullptr, QStringLiteral("Ordner"), QStringLiteral("Name:"), QString(), &ok),
        QStringLiteral("Neuer Ordner"));
    QVERIFY(ok);
    QCOMPARE(Dialogs::text(nullptr, QStringLiteral("Ordner"), QStringLiteral("Name:"),
                           QStringLiteral("alt"), &ok),
             QString());
    QVERIFY(!ok);
}

void TestDialogs::emptyQueueFailsAndCancels_data()
{
    QTest::addColumn<QString>("dialog");
    for (const char *dialog : { "question", "openFileName", "openFileNames", "saveFileName",
                                "existingDirectory", "text" })
        QTest::newRow(dialog) << dialog;
}

void TestDialogs::emptyQueueFailsAndCancels()
{
    QFETCH(QString, dialog);
    DialogAnswers answers;
    // The other queues hold answers; none of them may be taken instead.
    if (dialog != QLatin1String("question"))
        answers.pushQuestion(true);
    if (dialog != QLatin1String("openFileName") && dialog != QLatin1String("saveFileName"))
        answers.pushFileName(QStringLiteral("/tmp/x"));
    if (dialog != QLatin1String("openFileNames"))
        answers.pushFileNames({ QStringLiteral("/tmp/x") });
    if (dialog != QLatin1String("existingDirectory"))
        answers.pushDirectory(QStringLiteral("/tmp"));
    if (dialog != QLatin1String("text"))
        answers.pushText(QStringLiteral("x"), true);

    bool ok = true;
    bool cancelled = false;
    // The failure is the point here: it must be reported, and the cancel answer comes back.
    QEXPECT_FAIL("", "asking with an empty queue fails the test", Continue);
    if (dialog == QLatin1String("question"))
        cancelled = !Dialogs::question(nullptr, QStringLiteral("F"), QStringLiteral("?"));
    else if (dialog == QLatin1String("openFileName"))
        cancelled = Dialogs::openFileName(nullptr, QStringLiteral("Öffnen")).isEmpty();
    else if (dialog == QLatin1String("openFileNames"))
        cancelled = Dialogs::openFileNames(nullptr, QStringLiteral("Öffnen")).isEmpty();
    else if (dialog == QLatin1String("saveFileName"))
        cancelled = Dialogs::saveFileName(nullptr, QStringLiteral("Speichern")).isEmpty();
    else if (dialog == QLatin1String("existingDirectory"))
        cancelled = Dialogs::existingDirectory(nullptr, QStringLiteral("Ordner")).isEmpty();
    else
        cancelled = Dialogs::text(nullptr, QStringLiteral("T"), QStringLiteral("L"),
                                  QStringLiteral("vorher"), &ok)
                        .isEmpty()
            && !ok;
    // Had the hook not failed, the expected failure would still be pending here and this
    // check would report an unexpected pass.
    QVERIFY(cancelled);
}

void TestDialogs::answersRemovedWithTheHook()
{
    QCOMPARE(Dialogs::hook(), nullptr);
    {
        DialogAnswers outer;
        QCOMPARE(Dialogs::hook(), &outer);
        {
            DialogAnswers inner;
            QCOMPARE(Dialogs::hook(), &inner);
            Statics::showMessage(nullptr, QStringLiteral("innen"), 0);
        }
        QCOMPARE(Dialogs::hook(), &outer);
        QVERIFY(outer.messages().isEmpty());
    }
    QCOMPARE(Dialogs::hook(), nullptr);
}

void TestDialogs::urlCaptureRecordsOpenedUrls()
{
    UrlCapture capture;
    const QList<QUrl> urls = { QUrl(QStringLiteral("https://example.invalid/itm/123")),
                               QUrl(QStringLiteral("http://example.invalid/?a=b")),
                               QUrl::fromLocalFile(QStringLiteral("/tmp/rechnung.pdf")) };
    for (const QUrl &url : urls)
        QVERIFY(QDesktopServices::openUrl(url));
    QCOMPARE(capture.urls(), urls);
}

void TestDialogs::iconsCompiledIn_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<QSize>("exactSize");
    const QStringList buttons
        = QStringLiteral(
              "folder.png|no_photo.png|price-tag.png|notes.png|ebaybag.png|Calendar-Flat-33.png|"
              "worldwide.png|trash.png|mace.png|chat.png|binoculars.png|TimeTracking-Flat-150.png|"
              "Counterclockwise-arrow.png|plus.png|key.png|info.png|error.png|circular-clock.png|"
              "checked.png|add.png|Unit.png|Stop-Flat-247.png|Important Archive-Flat-62.png|"
              "Edit-Flat-83.png|development.png|copy.png|Upload File-Flat-9.png|"
              "WorldWide-Flat-87.png|warning.png|question.png")
              .split(QLatin1Char('|'));
    for (const QString &name : buttons)
        QTest::newRow(qPrintable(name)) << QStringLiteral(":/buttons/images/") + name << QSize();
    QTest::newRow("q3_64x64px.png") << ":/buttons/images/q3_64x64px.png" << QSize(64, 64);
    QTest::newRow("zerire3_256x256px.png")
        << ":/buttons/images/zerire3_256x256px.png" << QSize(256, 256);
    QTest::newRow("Open-folder-info.png") << ":/smallimages/images/Open-folder-info.png" << QSize();
    // Every icon the dialog itself shows.
    for (int type : { 0, 1, 2 })
        QTest::newRow(qPrintable(QStringLiteral("type %1").arg(type)))
            << ConfirmDialog::iconForType(type) << QSize();
}

void TestDialogs::iconsCompiledIn()
{
    QFETCH(QString, path);
    QFETCH(QSize, exactSize);
    QVERIFY2(QFile::exists(path), qPrintable(path));
    const QPixmap pixmap(path);
    QVERIFY2(!pixmap.isNull(), qPrintable(path));
    if (exactSize.isValid()) {
        QCOMPARE(pixmap.size(), exactSize);
    } else {
        QCOMPARE(pixmap.width(), pixmap.height());
        QVERIFY2(pixmap.width() >= 16 && pixmap.width() <= 48, qPrintable(path));
    }
}

APP_TEST_MAIN(TestDialogs)
#include "test_dialogs.moc"
