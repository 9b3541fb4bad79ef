// Text from files, the marketplace and the database is shown as it stands, never as markup:
// the labels, tooltips and message dialogs that hold it show "<img src=/dev/zero><b>x</b>"
// literally and load no picture, so the process's memory stays flat. A notification's
// parts can't come from such text either.

#include "core/database.h"
#include "core/dialogs.h"
#include "core/specialfolderid.h"
#include "core/statics.h"
#include "editor/addarticle.h"
#include "import/csvimport.h"
#include "mainwindow/mainwindow.h"
#include "tests/editor/editorfixture.h"
#include "tests/support/dialoganswers.h"
#include "tests/support/fakehttpserver.h"
#include "tests/support/mainwindowfixture.h"
#include "tests/support/memorylimit.h"
#include "tests/support/messagecapture.h"
#include "tests/support/testdatabase.h"
#include "tests/support/testmain.h"

#include <QAction>
#include <QFormLayout>
#include <QHelpEvent>
#include <QLabel>
#include <QSystemTrayIcon>
#include <QTemporaryDir>
#include <QTextDocument>
#include <QToolTip>
#include <QTreeWidget>

#include <memory>

using TestSupport::AddressSpaceLimit;
using TestSupport::MemoryUse;

namespace {

// As rich text this loads a "picture" from /dev/zero without end and shows a bold "x".
const QString kHostile = QStringLiteral("<img src=/dev/zero><b>x</b>");
// Address space a test may take while it shows such text: far less than the picture takes.
constexpr qint64 kHeadroom = qint64(1) << 30;
// Resident memory showing the texts may add.
constexpr qint64 kFlat = qint64(64) << 20;

// The characters Qt shows for `text` in a label of `format`, or in a tooltip (AutoText).
// Markup is read as HTML without laying it out, so no picture it names is loaded here.
QString shownText(const QString &text, Qt::TextFormat format)
{
    if (format == Qt::PlainText || (format == Qt::AutoText && !Qt::mightBeRichText(text)))
        return text;
    QTextDocument document;
    document.setHtml(text);
    return document.toPlainText();
}

// What the labels below `root` show that hold the hostile texts (as typed or escaped),
// sorted.
QStringList hostileLabels(const QWidget *root)
{
    QStringList texts;
    for (const QLabel *label : root->findChildren<QLabel *>())
        if (label->text().contains(QLatin1String("/dev/zero")))
            texts << shownText(label->text(), label->textFormat());
    texts.sort();
    return texts;
}

// The tooltip that shows when the mouse rests on `widget`, rendered, as it reads; empty
// when none shows.
QString shownToolTip(QWidget *widget)
{
    const QPoint at(2, 2);
    QHelpEvent event(QEvent::ToolTip, at, widget->mapToGlobal(at));
    QApplication::sendEvent(widget, &event);
    QString text;
    for (QWidget *top : QApplication::topLevelWidgets()) {
        auto *tip = qobject_cast<QLabel *>(top);
        if (tip && tip->objectName() == QLatin1String("qtooltip_label") && tip->isVisible()) {
            tip->grab();
            text = shownText(tip->text(), tip->textFormat());
        }
    }
    QToolTip::hideText();
    return text;
}

QString residentGrowth(const MemoryUse &before)
{
    return QStringLiteral("resident memory grew by %1 MB")
        .arg((MemoryUse::now().resident - before.resident) >> 20);
}

void writeFile(const QString &path, const QByteArray &content)
{
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    QCOMPARE(file.write(content), qint64(content.size()));
}

} // namespace

class TestPlainText : public QObject
{
    Q_OBJECT

private slots:
    // The marketplace's refusal in the program's message, question and text dialogs, shown
    // for real (no test hook).
    void dialogs_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<QStringList>("shown"); // the labels holding the text, sorted
        const QString failure = QStringLiteral("eBay meldet: ") + kHostile;
        QTest::newRow("message") << "message" << QStringList { failure };
        QTest::newRow("question") << "question" << QStringList { kHostile, failure };
        QTest::newRow("text") << "text" << QStringList { failure };
    }
    void dialogs()
    {
        QFETCH(QString, kind);
        QFETCH(QStringList, shown);
        const QString failure = QStringLiteral("eBay meldet: ") + kHostile;
        QStringList seen;
        bool answered = false;
        QTimer timer;
        timer.start(20);
        connect(&timer, &QTimer::timeout, this, [&] {
            auto *dialog = qobject_cast<QDialog *>(QApplication::activeModalWidget());
            if (!dialog || answered)
                return;
            answered = true;
            dialog->grab();
            seen = hostileLabels(dialog);
            dialog->reject();
        });

        const MemoryUse before = MemoryUse::now();
        {
            AddressSpaceLimit limit(kHeadroom);
            QVERIFY(limit.active());
            if (kind == QLatin1String("message")) {
                Statics::showMessage(nullptr, failure, 1);
            } else if (kind == QLatin1String("question")) {
                QVERIFY(!Statics::showQuestionDialog(nullptr, kHostile, failure));
            } else {
                bool ok = true;
                QCOMPARE(Dialogs::text(nullptr, kHostile, failure, kHostile, &ok), QString());
                QVERIFY(!ok);
            }
        }
        QVERIFY(answered);
        QCOMPARE(seen, shown);
        QVERIFY2(MemoryUse::now().resident - before.resident < kFlat,
                 qPrintable(residentGrowth(before)));
    }

    // A synchronisation round's failure names the account and repeats the marketplace's
    // words: the status panel and its tooltip show both as they are. The account box and
    // the article's row show the stored names alike.
    void statusPanel()
    {
        TestSupport::TestDatabase data(TestSupport::Backend::SQLite);
        QVERIFY2(data.error().isEmpty(), qPrintable(data.error()));
        const int account = data.db()->insertSqlClean({ { "accountname", kHostile },
                                                        { "token", "TOKEN" },
                                                        { "sandbox", 0 },
                                                        { "active", 1 },
                                                        { "smallbiz", 0 } },
                                                      QStringLiteral("accounts"));
        TestSupport::insertArticle(
            data.db(),
            { { "Title", kHostile }, { "DoCheckResult", kHostile }, { "Account", account } });
        data.closeMain();
        TestSupport::MainWindowFixture fixture(data);
        MainWindow *window = fixture.window();
        QVERIFY(window);
        QVERIFY(fixture.showFolder(SpecialFolderId::Active));
        QTRY_COMPARE(fixture.itemList()->topLevelItemCount(), 1);
        auto *label = window->findChild<QLabel *>(QStringLiteral("SyncLabel"));

        // As the synchronisation worker words it: "<account>: <the marketplace's message>".
        const QString failure
            = QStringLiteral("Einlesefehler: ") + kHostile + QStringLiteral(": ") + kHostile;
        const MemoryUse before = MemoryUse::now();
        QString tip;
        {
            AddressSpaceLimit limit(kHeadroom);
            QVERIFY(limit.active());
            window->updateStatusBar(failure, 1, 0);
            tip = shownToolTip(label);
            window->grab();
        }
        const QString panel = shownText(label->text(), label->textFormat());
        QVERIFY2(panel.endsWith(QStringLiteral(" Uhr - ") + failure), qPrintable(panel));
        QCOMPARE(tip, panel);
        QVERIFY2(MemoryUse::now().resident - before.resident < kFlat,
                 qPrintable(residentGrowth(before)));
    }

    // Titles of a predecessor export are named in the import's notice: one that looks like
    // markup is shown as it is, one holding the notification's separator neither plays the
    // file it names nor cuts the notice short.
    void predecessorImportNotice()
    {
        if (QSystemTrayIcon::isSystemTrayAvailable())
            QSKIP("This desktop has a system tray: the notice goes there");
        TestSupport::TestDatabase data(TestSupport::Backend::SQLite);
        QVERIFY2(data.error().isEmpty(), qPrintable(data.error()));
        data.closeMain();
        TestSupport::MainWindowFixture fixture(data);
        MainWindow *window = fixture.window();
        QVERIFY(window);
        DialogAnswers answers;
        auto *label = window->findChild<QLabel *>(QStringLiteral("SyncLabel"));

        const QString chosen = QStringLiteral("Stuhl§§§/some/path/chosen.wav§§§");
        // Each with a value that is no number, so the notice names its title.
        const QString xml = QStringLiteral("<export><ItemsTotal>2</ItemsTotal><Items>"
                                           "<Item><Title><![CDATA[%1]]></Title>"
                                           "<StartPrice>abc</StartPrice></Item>"
                                           "<Item><Title><![CDATA[%2]]></Title>"
                                           "<Quantity>zwei</Quantity></Item>"
                                           "</Items></export>")
                                .arg(kHostile, chosen);
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("export.xml"));
        writeFile(path, xml.toUtf8());
        answers.pushFileName(path);

        TestSupport::MessageCapture log({ QStringLiteral("app") });
        const MemoryUse before = MemoryUse::now();
        QString tip;
        {
            AddressSpaceLimit limit(kHeadroom);
            QVERIFY(limit.active());
            window->findChild<QAction *>(QStringLiteral("actionRovive_2_Daten_importieren"))
                ->trigger();
            // The import's own status lines name the titles too: wait for its notice.
            QTRY_VERIFY_WITH_TIMEOUT(label->text().contains(QLatin1String("Import abgeschlossen")),
                                     30000);
            tip = shownToolTip(label);
            window->grab();
        }
        QCOMPARE(log.count(QStringLiteral("Try to play")), 0);
        const QString notice = shownText(label->text(), label->textFormat());
        QVERIFY2(notice.contains(QStringLiteral(" Uhr - Import abgeschlossen: ")),
                 qPrintable(notice));
        QVERIFY2(notice.contains(kHostile), qPrintable(notice));
        QVERIFY2(notice.contains(QStringLiteral("Stuhl/some/path/chosen.wav")), qPrintable(notice));
        QCOMPARE(tip, notice);
        QVERIFY2(MemoryUse::now().resident - before.resident < kFlat,
                 qPrintable(residentGrowth(before)));
    }

    // The header cells of a CSV file name the mapping rows as they stand, styles and all.
    void csvHeader()
    {
        TestSupport::TestDatabase data(TestSupport::Backend::SQLite);
        QVERIFY2(data.error().isEmpty(), qPrintable(data.error()));
        DialogAnswers answers;
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("import.csv"));
        const QStringList header { kHostile, QStringLiteral("<b style=font-size:40pt>Titel</b>"),
                                   QStringLiteral("<img src=/dev/zero>"), QStringLiteral("Title") };
        writeFile(path,
                  (header.join(QLatin1Char(';')) + QStringLiteral("\n1;Stuhl;2;Tisch\n")).toUtf8());

        CsvImport dialog(SpecialFolderId::Drafts);
        answers.pushQuestion(true); // columns assigned by their names
        const MemoryUse before = MemoryUse::now();
        {
            AddressSpaceLimit limit(kHeadroom);
            QVERIFY(limit.active());
            dialog.onOpenFile(path);
            dialog.show();
            QVERIFY(QTest::qWaitForWindowExposed(&dialog));
            dialog.grab();
        }
        auto *form = dialog.findChild<QFormLayout *>(QStringLiteral("itemshere"));
        QVERIFY(form);
        QStringList rows;
        for (int row = 0; row < form->rowCount(); ++row) {
            auto *label
                = qobject_cast<QLabel *>(form->itemAt(row, QFormLayout::LabelRole)->widget());
            rows << (label ? shownText(label->text(), label->textFormat()) : QString());
        }
        QCOMPARE(rows, header);
        QVERIFY2(MemoryUse::now().resident - before.resident < kFlat,
                 qPrintable(residentGrowth(before)));
    }

    // The item specifics page: names and help texts of the marketplace, the seller's own
    // specific, and the marketplace's refusal in the page's note and the editor's notice.
    void editorSpecifics_data()
    {
        QTest::addColumn<QByteArray>("reply"); // of GetCategorySpecifics
        const QByteArray escaped = kHostile.toHtmlEscaped().toUtf8();
        QTest::newRow("recommended")
            << "<?xml version=\"1.0\" encoding=\"UTF-8\"?><GetCategorySpecificsResponse "
               "xmlns=\"urn:ebay:apis:eBLBaseComponents\"><Ack>Success</Ack><Recommendations>"
               "<CategoryID>9355</CategoryID><NameRecommendation><Name>"
                + escaped
                + "</Name><ValidationRules><MaxValues>1</MaxValues><SelectionMode>FreeText"
                  "</SelectionMode></ValidationRules><HelpText>"
                + escaped
                + "</HelpText></NameRecommendation></Recommendations>"
                  "</GetCategorySpecificsResponse>";
        QTest::newRow("refused")
            << "<?xml version=\"1.0\" encoding=\"UTF-8\"?><GetCategorySpecificsResponse "
               "xmlns=\"urn:ebay:apis:eBLBaseComponents\"><Ack>Failure</Ack><Errors>"
               "<ShortMessage>Fehler</ShortMessage><LongMessage>"
                + escaped
                + "</LongMessage><ErrorCode>21916</ErrorCode><SeverityCode>Error</SeverityCode>"
                  "</Errors></GetCategorySpecificsResponse>";
    }
    void editorSpecifics()
    {
        QFETCH(QByteArray, reply);
        TestSupport::TestDatabase data(TestSupport::Backend::SQLite);
        QVERIFY2(data.error().isEmpty(), qPrintable(data.error()));
        TestSupport::FakeHttpServer server;
        server.pointConfigHere();
        EditorFixture::serveReferenceData(server);
        server.setCallReply(QStringLiteral("GetCategorySpecifics"),
                            TestSupport::FakeReply::ok(reply));
        EditorFixture::cacheGermanSite(data.db());
        const int account = EditorFixture::addAccounts(data.db()).first;
        DialogAnswers answers;
        const QString own = QStringLiteral("<img src=/dev/zero><i>eigen</i>");
        const int id = data.db()->insertSqlClean(
            { { "Title", "Lokomotive" },
              { "Folder", SpecialFolderId::Drafts },
              { "Account", account },
              { "Site", 77 },
              { "StartPrice", 12.5 },
              { "Quantity", 1 },
              { "ListingType", "FixedPriceItem" },
              { "PrimaryCategory", "9355" },
              { "PrimaryCategoryText", "Modellbau:Bahn" },
              { "ItemSpecifics",
                QStringLiteral("<NameValueList><Name><![CDATA[%1]]></Name>"
                               "<Value><![CDATA[rot]]></Value></NameValueList>")
                    .arg(own) } },
            QStringLiteral("articles"));

        AddArticle editor(nullptr, id, SpecialFolderId::Drafts, false);
        const MemoryUse before = MemoryUse::now();
        {
            AddressSpaceLimit limit(kHeadroom);
            QVERIFY(limit.active());
            EditorFixture::apply(&editor, { QStringLiteral("show=TabMerkmale") });
            editor.show();
            QVERIFY(QTest::qWaitForWindowExposed(&editor));
            editor.grab();
        }
        // Three labels each: name, help text and own specific; or the page's note, the saved
        // specific and the editor's notice. Each shows the text as it came.
        const QStringList shown = hostileLabels(&editor);
        QCOMPARE(shown.size(), 3);
        for (const QString &text : shown)
            QVERIFY2(text.contains(kHostile) || text.contains(own), qPrintable(text));
        QVERIFY2(MemoryUse::now().resident - before.resident < kFlat,
                 qPrintable(residentGrowth(before)));
        editor.reject();
    }
};

APP_TEST_MAIN(TestPlainText)
#include "test_plaintext.moc"
