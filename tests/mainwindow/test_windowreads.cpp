// The main window when a read of its commands and lists is refused (MariaDB behind the test
// proxy): nothing is done on the strength of an empty answer, nothing shown is taken away,
// and the seller learns why.

#include "core/statics.h"
#include "tests/mainwindow/articlecommands.h"
#include "tests/support/dialoganswers.h"
#include "tests/support/mysqlproxy.h"
#include "tests/support/testmain.h"
#include "tests/support/urlcapture.h"
#include "views/newslistitemmodel.h"
#include "workers/enditem.h"
#include "workers/planning.h"

#include <QComboBox>
#include <QDialogButtonBox>
#include <QListView>
#include <QPushButton>
#include <QScopeGuard>

using TestSupport::FakeReply;

namespace {
const QString kRefused = QStringLiteral("Refused by the test proxy");
} // namespace

class TestWindowReads : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<TestSupport::FakeHttpServer> m_server;
    std::unique_ptr<TestSupport::MySqlProxy> m_proxy;
    std::unique_ptr<TestSupport::TestDatabase> m_data;
    std::unique_ptr<TestSupport::MainWindowFixture> m_fixture;
    int m_account = 0;
    int m_nextEntry = 500000;

    MainWindow *window() const { return m_fixture->window(); }
    Database *db() const { return m_data->db(); }
    QTreeWidgetItem *row(int id) const { return window()->IsItemWithIdHere(id); }
    int article(int folder, const QMap<QString, QVariant> &more = {})
    {
        QMap<QString, QVariant> columns = more;
        columns.insert(QStringLiteral("Folder"), folder);
        columns.insert(QStringLiteral("Account"), m_account);
        return TestSupport::insertArticle(db(), columns);
    }
    bool select(int folder, int id)
    {
        if (!m_fixture->showFolder(folder) || !row(id))
            return false;
        m_fixture->itemList()->clearSelection();
        row(id)->setSelected(true);
        return true;
    }
    void trigger(const char *action)
    {
        window()->findChild<QAction *>(QLatin1String(action))->trigger();
    }
    int requests(const QString &pathOrCall) const
    {
        int count = 0;
        for (const auto &request : m_server->requests())
            count += request.path.startsWith(pathOrCall) || request.callName() == pathOrCall;
        return count;
    }
    QModelIndex newsEntry(int articleId, const QString &infotype)
    {
        NewsItem item;
        item.id = m_nextEntry++;
        item.indate = QDateTime::currentDateTime();
        item.infotype = infotype;
        item.title = QStringLiteral("Uhr");
        item.databaseid = articleId;
        window()->addNewsItem(item);
        auto *view = window()->findChild<QListView *>(QStringLiteral("newslist"));
        return view->model()->index(0, 0);
    }

private slots:
    void initTestCase()
    {
        APP_REQUIRE_BACKEND(TestSupport::Backend::MySQL);
        Statics::setHttpTimeout(3000);
        m_server = std::make_unique<TestSupport::FakeHttpServer>();
        m_server->pointConfigHere();
        m_server->setReply("/zaruvovezira/listing_delete.php", FakeReply::ok("success"));
        m_server->setCallReply(
            "EndItem",
            FakeReply::ok("<?xml version=\"1.0\"?><EndItemResponse xmlns=\"urn:ebay:apis:"
                          "eBLBaseComponents\"><Ack>Success</Ack></EndItemResponse>",
                          "text/xml"));
        m_proxy = std::make_unique<TestSupport::MySqlProxy>(
            TestSupport::MySqlServer::fromEnvironment());
        QVERIFY(m_proxy->isListening());
        m_data = std::make_unique<TestSupport::TestDatabase>(m_proxy->server());
        QVERIFY2(m_data->error().isEmpty(), qPrintable(m_data->error()));
        m_account = db()->insertSqlClean(
            { { "accountname", "laden" }, { "token", "T-PROD" }, { "sandbox", 0 } }, "accounts");
        QVERIFY(db()->insertSqlClean({ { "accountname", "zweiter" } }, "accounts") > 0);
        // Another workstation synchronises: the workers leave the database alone.
        TestSupport::writeMySqlSetup(m_data->dataDir(), m_proxy->server(),
                                     m_data->mysqlDatabaseName(), true, false);
        m_fixture = std::make_unique<TestSupport::MainWindowFixture>(*m_data);
        QVERIFY(m_fixture->window());
        QObject::disconnect(window(), &MainWindow::startCheckNow, nullptr, nullptr);
    }
    void cleanupTestCase()
    {
        if (m_fixture)
            m_fixture->close();
        m_fixture.reset();
        m_data.reset();
        m_proxy.reset();
        m_server.reset();
    }

    // A command whose read is refused does nothing it would have done on an empty answer (no
    // schedule dialog on a guess, no listing ended, no start withdrawn, no page opened) and
    // tells the seller why, once.
    void commandRead_data()
    {
        QTest::addColumn<QString>("command");
        QTest::addColumn<QString>("told"); // the beginning of the one message
        QTest::newRow("Planen") << "Planen"
                                << "Die Änderung konnte nicht gespeichert werden: die Planung "
                                   "hat nichts geändert.";
        QTest::newRow("Artikel online aufrufen")
            << "Artikel online aufrufen"
            << "Die Angebote konnten nicht aufgerufen werden: ";
        QTest::newRow("Angebot beenden")
            << "Angebot beenden"
            << "Die Änderung konnte nicht gespeichert werden: das Beenden hat nichts geändert.";
        QTest::newRow("Planung aufheben")
            << "Planung aufheben"
            << "Einige Startzeitplanungen konnten nicht gelöscht werden: die Datenbank konnte "
               "nicht gelesen werden.";
    }
    void commandRead()
    {
        QFETCH(QString, command);
        QFETCH(QString, told);
        const int folder = command == "Planen" ? -10 : command == "Planung aufheben" ? -3 : -9;
        const int id = article(folder,
                               { { "IsVerified", "1" },
                                 { "ItemID", "110012345678" },
                                 { "Planned", "2026-03-11 09:00:00" },
                                 { "Planned_Interval", "J-7" } });
        QVERIFY(select(folder, id));
        const QString before = TestSupport::values(db(), id, "Folder,Planned_Interval");
        m_server->clearRequests();
        DialogAnswers answers;
        // The dialogs' watches end with the row.
        QObject watches;
        bool offered = false;
        whenShown<Planning>(&watches, [&offered](Planning *dialog) {
            offered = true;
            dialog->reject();
        });
        UrlCapture urls;
        const int refusals = m_proxy->refusals();
        if (command == "Planen") {
            m_proxy->refuse("SELECT id, IsVerified");
            trigger("actionPlanen");
        } else if (command == "Artikel online aufrufen") {
            m_proxy->refuse("SELECT i.ItemID, a.sandbox");
            trigger("actionArtikel_online_aufrufen");
        } else if (command == "Angebot beenden") {
            m_proxy->refuse("SELECT i.id, i.ItemID");
            whenShown<EndItem>(&watches, [](EndItem *dialog) {
                dialog->findChild<QDialogButtonBox *>("buttonBox")
                    ->button(QDialogButtonBox::Ok)
                    ->click();
            });
            trigger("actionAuwahl_beenden");
            // Read beside the window.
            QTRY_VERIFY(windowJobsEnded(window()));
        } else {
            m_proxy->refuse("SELECT Planned_Interval");
            answers.pushQuestion(true);
            trigger("actionL_schen");
        }

        QCOMPARE(m_proxy->refusals(), refusals + 1);
        QTRY_COMPARE(answers.messages().size(), 1);
        QCoreApplication::processEvents();
        const QString text = answers.lastMessageText();
        QVERIFY2(text.startsWith(told) && text.contains(kRefused), qPrintable(text));
        QCOMPARE(answers.messages().size(), 1);
        QVERIFY(!offered);
        QVERIFY(urls.urls().isEmpty());
        QCOMPARE(requests("EndItem") + requests("/zaruvovezira/listing_delete.php"), 0);
        QCOMPARE(TestSupport::values(db(), id, "Folder,Planned_Interval"), before);
        // The article is still shown where it is stored.
        QTRY_VERIFY(row(id));
    }

    // An activity entry whose article can't be read takes no row away and leaves the list to
    // be read again; a click on an entry whose article can't be read says why.
    void entryRead_data()
    {
        QTest::addColumn<QString>("action");
        QTest::addColumn<QByteArray>("statement"); // %1: the article's id
        QTest::addColumn<QString>("told");
        QTest::newRow("article found again")
            << "newarticle" << QByteArray(" FROM articles WHERE id=%1") << "";
        QTest::newRow("article listed")
            << "articleadd_success" << QByteArray(" FROM articles WHERE id=%1") << "";
        QTest::newRow("entry clicked")
            << "clicked" << QByteArray("SELECT Folder FROM articles WHERE id=%1")
            << "Der Artikel konnte nicht gelesen werden: ";
        QTest::newRow("entry double-clicked")
            << "doubleClicked" << QByteArray("SELECT ItemID FROM articles WHERE id=%1")
            << "Das Angebot konnte nicht aufgerufen werden: ";
    }
    void entryRead()
    {
        QFETCH(QString, action);
        QFETCH(QByteArray, statement);
        QFETCH(QString, told);
        // The re-read an earlier row left to the event loop is done first.
        QCoreApplication::processEvents();
        const bool entry = action == "newarticle" || action == "articleadd_success";
        const int folder = action == "newarticle" ? -10 : -9;
        const int id
            = article(action == "articleadd_success" ? -2 : -10, { { "ItemID", "110012345679" } });
        const int shown = article(-9);
        QVERIFY(m_fixture->showFolder(folder));
        QVERIFY(row(action == "newarticle" ? id : shown));
        const QModelIndex clicked = newsEntry(id, QStringLiteral("bid"));
        // Listed by the worker meanwhile (from the outbox into the active folder shown).
        if (action == "articleadd_success")
            QVERIFY(
                db()->executeSQL("UPDATE articles SET Folder=-9 WHERE id=" + QString::number(id)));
        DialogAnswers answers;
        UrlCapture urls;
        const int refusals = m_proxy->refusals();
        m_proxy->refuse(QString::fromLatin1(statement).arg(id).toLatin1());
        if (entry)
            newsEntry(id, action);
        else
            QVERIFY(QMetaObject::invokeMethod(
                window(), action == "clicked" ? "on_newslist_clicked" : "on_newslist_doubleClicked",
                Q_ARG(QModelIndex, clicked)));

        QCOMPARE(m_proxy->refusals(), refusals + 1);
        QCOMPARE(answers.messages().size(), told.isEmpty() ? 0 : 1);
        if (!told.isEmpty())
            QVERIFY2(answers.lastMessageText().startsWith(told)
                         && answers.lastMessageText().contains(kRefused),
                     qPrintable(answers.lastMessageText()));
        QVERIFY(urls.urls().isEmpty());
        // Nothing shown goes, and the folder shown stays.
        QVERIFY(row(action == "articleadd_success" ? shown : action == "newarticle" ? id : shown));
        QCOMPARE(m_fixture->treeView()->currentIndex().data(Qt::UserRole).toInt(), folder);
        // Read again from the event loop: the rows are there as stored.
        if (entry)
            QTRY_VERIFY(row(id));
        QVERIFY(row(action == "newarticle" ? id : shown));
    }

    // The account filter's read refused: the accounts shown stay and so does the one chosen,
    // with the reason in the box's tooltip; read again, it is filled as stored.
    void accountFilterRead()
    {
        auto *box = window()->findChild<QComboBox *>(QStringLiteral("AccountFilterBox"));
        QVERIFY(box);
        window()->reloadAccountBox();
        QCOMPARE(box->count(), 3);
        box->setCurrentIndex(box->findText("laden"));
        QVERIFY(box->currentIndex() > 0);
        QVERIFY(db()->insertSqlClean({ { "accountname", "dritter" } }, "accounts") > 0);
        const int refusals = m_proxy->refusals();
        m_proxy->refuse("SELECT id,accountname FROM accounts");
        window()->reloadAccountBox();
        QCOMPARE(m_proxy->refusals(), refusals + 1);
        QCOMPARE(box->count(), 3);
        QCOMPARE(box->currentText(), QString("laden"));
        QVERIFY2(box->toolTip().startsWith("Die Konten konnten nicht gelesen werden: ")
                     && box->toolTip().contains(kRefused),
                 qPrintable(box->toolTip()));

        window()->reloadAccountBox();
        QCOMPARE(box->count(), 4);
        QCOMPARE(box->currentText(), QString("laden"));
        QVERIFY(box->toolTip().isEmpty());
    }

    // "Löschen" of many drafts on a shared database tells the other workstations of them by
    // sets inside the command (one statement per group of 200), not two round trips per
    // article while the window waits.
    void deleteTellsOthersBySets()
    {
        constexpr int kMany = 2500;
        QVERIFY(article(-10, { { "Title", "Vase" } }) > 0);
        for (int have = 1; have < kMany; have *= 2) {
            QVERIFY(db()->executeSQL(QStringLiteral("INSERT INTO articles (Title, Folder, Account) "
                                                    "SELECT Title, Folder, Account FROM articles "
                                                    "WHERE Folder=-10 AND Title='Vase' LIMIT %1")
                                         .arg(qMin(have, kMany - have))));
        }
        QVERIFY(m_fixture->showFolder(-10));
        m_fixture->itemList()->selectAll();
        // With the drafts earlier rows left.
        const int chosen = m_fixture->itemList()->topLevelItemCount();
        QVERIFY(chosen >= kMany);
        const int before = m_proxy->statementsSeen("INTO itemshistory");
        const int entries
            = db()->selectCount("SELECT id FROM itemshistory WHERE infotype='removeitem'").value();
        DialogAnswers answers;
        answers.pushQuestion(true);
        trigger("actionL_schen");
        QCOMPARE(answers.messages().size(), 0);
        QCOMPARE(db()->selectCount("SELECT id FROM articles WHERE Folder=-5 AND Title='Vase'")
                     .value(),
                 kMany);
        QCOMPARE(db()->selectCount("SELECT id FROM itemshistory WHERE infotype='removeitem'")
                         .value()
                     - entries,
                 chosen);
        const int statements = m_proxy->statementsSeen("INTO itemshistory") - before;
        QVERIFY2(statements <= 2 * (kMany / 200 + 1), qPrintable(QString::number(statements)));
    }
};

APP_TEST_MAIN(TestWindowReads)
#include "test_windowreads.moc"
