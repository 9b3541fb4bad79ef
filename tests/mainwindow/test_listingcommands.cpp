// The article commands that hand work to the marketplace: outbox, planning, synchronise,
// view online, ending listings and the fee check.

#include "core/clock.h"
#include "core/statics.h"
#include "tests/mainwindow/articlecommands.h"
#include "tests/support/dialoganswers.h"
#include "tests/support/fakehttpserver.h"
#include "tests/support/testmain.h"
#include "tests/support/urlcapture.h"
#include "workers/enditem.h"
#include "workers/planning.h"

#include <QDialogButtonBox>
#include <QPushButton>
#include <QRadioButton>
#include <QSignalSpy>
#include <QTimeEdit>
#include <memory>

using namespace ArticleCommands;
using TestSupport::FakeHttpServer;
using TestSupport::FakeReply;
using TestSupport::MainWindowFixture;
using TestSupport::TestDatabase;

namespace {

const QString kQueued = QStringLiteral("Artikel wird eingestellt / aktualisiert");

QByteArray endReply(const QString &ack, const QString &message = QString())
{
    const QString errors = message.isEmpty()
        ? QString()
        : "<Errors><ShortMessage>Fehler.</ShortMessage><LongMessage>" + message
            + "</LongMessage><ErrorCode>1047</ErrorCode><SeverityCode>Error</SeverityCode>"
              "</Errors>";
    return QString("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<EndItemResponse xmlns=\""
                   "urn:ebay:apis:eBLBaseComponents\"><Ack>%1</Ack>%2</EndItemResponse>")
        .arg(ack, errors)
        .toUtf8();
}

} // namespace

class TestListingCommands : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<FakeHttpServer> m_server;
    std::unique_ptr<TestDatabase> m_data;
    std::unique_ptr<MainWindowFixture> m_window;
    int m_account = 0;
    int m_sandboxAccount = 0;

    Database *db() const { return m_data->db(); }
    int article(int folder, const QMap<QString, QVariant> &more = {})
    {
        QMap<QString, QVariant> columns = more;
        columns.insert(QStringLiteral("Folder"), folder);
        if (!columns.contains(QStringLiteral("Account")))
            columns.insert(QStringLiteral("Account"), m_account);
        const int id = TestSupport::insertArticle(db(), columns);
        countNewArticle(*m_window, folder);
        return id;
    }
    QString values(int id, const QString &columns) const
    {
        return TestSupport::values(m_data->db(), id, columns);
    }

private slots:
    void initTestCase()
    {
        Statics::setHttpTimeout(3000);
        m_server = std::make_unique<FakeHttpServer>();
        m_server->pointConfigHere();
        m_server->setReply(QStringLiteral("/zaruvovezira/planning.php"), FakeReply::ok("25,00 €"));
        m_server->setReply(QStringLiteral("/zaruvovezira/listing_delete.php"),
                           FakeReply::ok("success"));
        m_data = std::make_unique<TestDatabase>(TestSupport::Backend::SQLite);
        QVERIFY2(m_data->error().isEmpty(), qPrintable(m_data->error()));
        m_account = db()->insertSqlClean({ { "accountname", "laden" }, { "token", "T-PROD" },
                                           { "sandbox", 0 } },
                                         "accounts");
        m_sandboxAccount = db()->insertSqlClean(
            { { "accountname", "test" }, { "token", "T-SBX" }, { "sandbox", 1 } }, "accounts");
        QVERIFY(m_account > 0 && m_sandboxAccount > 0);
        m_window = std::make_unique<MainWindowFixture>(*m_data);
        QVERIFY(m_window->window());
    }
    void cleanupTestCase()
    {
        m_window.reset();
        m_data.reset();
        m_server.reset();
    }
    void cleanup() { Clock::setCurrentDateTimeForTesting(QDateTime()); }

    void outbox_data()
    {
        QTest::addColumn<int>("folder");
        QTest::addColumn<int>("folderOld"); // of the articles before
        QTest::addColumn<QString>("stored"); // Folder|FolderOld|DoCheck|DoCheckResult after
        QTest::addColumn<bool>("staysListed");
        QTest::newRow("update from the active folder")
            << -9 << 0 << "-2|-9|2|" + kQueued << false;
        QTest::newRow("list from the drafts") << -10 << 0 << "-2|-10|2|" + kQueued << false;
        QTest::newRow("again inside the outbox, origin kept")
            << -2 << -8 << QStringLiteral("-2|-8|2|Keine Verbindung") << true;
    }
    void outbox()
    {
        QFETCH(int, folder);
        QFETCH(int, folderOld);
        QFETCH(QString, stored);
        QFETCH(bool, staysListed);
        const QList<int> ids { article(folder, { { "FolderOld", folderOld },
                                                 { "DoCheckResult", "Keine Verbindung" } }),
                               article(folder, { { "FolderOld", folderOld },
                                                 { "DoCheckResult", "Keine Verbindung" } }) };
        const int unselected = article(folder);
        QVERIFY(showAndSelect(*m_window, folder, ids));
        const int before = folderCount(*m_window, folder);
        const int outboxBefore = folderCount(*m_window, -2);
        QSignalSpy woken(m_window->window(), &MainWindow::startCheckNow);

        trigger(*m_window, "actionIn_Ausgang_legen");

        // Checked at once: the woken listing worker works on these rows afterwards.
        for (int id : ids) {
            QCOMPARE(values(id, "Folder,FolderOld,DoCheck,DoCheckResult"), stored);
            QTreeWidgetItem *row = rowOf(*m_window, id);
            QCOMPARE(row != nullptr, staysListed);
            if (row)
                QCOMPARE(row->data(0, ItemListRole::DoCheckResultRole).toString(), kQueued);
        }
        QVERIFY(rowOf(*m_window, unselected));
        QCOMPARE(values(unselected, "Folder,DoCheck"), QStringLiteral("%1|0").arg(folder));
        const int moved = staysListed ? 0 : 2;
        QCOMPARE(folderCount(*m_window, folder), before - moved);
        QCOMPARE(folderCount(*m_window, -2), outboxBefore + (staysListed ? 0 : moved));
        QCOMPARE(woken.count(), 1);
        QVERIFY(m_window->window()->isEnabled());
    }

    void synchronise()
    {
        QSignalSpy woken(m_window->window(), &MainWindow::startSyncNow);
        QSignalSpy listing(m_window->window(), &MainWindow::startCheckNow);
        trigger(*m_window, "actionSynchronisieren");
        QCOMPARE(woken.count(), 1);
        QCOMPARE(listing.count(), 0);
        QVERIFY(!m_window->window()->findChild<QAction *>("actionSynchronisieren")->isEnabled());
        m_window->window()->setAppToSyncState(false);
    }

    void plan_data()
    {
        QTest::addColumn<int>("folder");
        QTest::addColumn<bool>("allVerified");
        QTest::newRow("one of three not verified: locked") << -10 << false;
        QTest::newRow("verified drafts are scheduled") << -10 << true;
        QTest::newRow("a schedule changed in place") << -3 << true;
    }
    void plan()
    {
        QFETCH(int, folder);
        QFETCH(bool, allVerified);
        Clock::setCurrentDateTimeForTesting(QDateTime(QDate(2026, 3, 10), QTime(14, 20)));
        QList<int> ids;
        for (int i = 0; i < 3; ++i)
            ids << article(folder, { { "IsVerified", allVerified || i != 1 ? "1" : "0" },
                                     { "FolderOld", -10 },
                                     { "Planned", "2026-03-11 09:00:00" },
                                     { "Planned_Interval", folder == -3 ? "J-7" : "" } });
        QVERIFY(showAndSelect(*m_window, folder, ids));
        QSignalSpy woken(m_window->window(), &MainWindow::startCheckNow);
        DialogAnswers answers;
        bool okEnabled = false;
        whenShown<Planning>(this, [&](Planning *dialog) {
            QPushButton *ok
                = dialog->findChild<QDialogButtonBox *>("buttonBox")->button(QDialogButtonBox::Ok);
            okEnabled = ok->isEnabled();
            if (!okEnabled) {
                dialog->reject();
                return;
            }
            dialog->findChild<QTimeEdit *>("PlanningTime")->setTime(QTime(16, 30));
            ok->click();
        });

        trigger(*m_window, "actionPlanen");

        QCOMPARE(okEnabled, allVerified);
        QCOMPARE(woken.count(), allVerified ? 1 : 0);
        for (int id : ids) {
            QTreeWidgetItem *row = rowOf(*m_window, id);
            if (!allVerified) {
                QVERIFY(row);
                QCOMPARE(values(id, "Folder,Planned"),
                         QStringLiteral("%1|2026-03-11 09:00:00").arg(folder));
            } else if (folder == -3) {
                QVERIFY(row);
                QVERIFY(row->data(0, ItemListRole::PlannedRole).toString().contains("16:30"));
                QCOMPARE(row->data(0, ItemListRole::PlannedIntervalRole).toString(), QString());
            } else {
                QVERIFY(!row);
                QCOMPARE(values(id, "Folder"), QStringLiteral("-3"));
            }
        }
    }

    void online_data()
    {
        QTest::addColumn<bool>("sandbox");
        QTest::addColumn<QString>("itemId");
        QTest::addColumn<QString>("opened");
        QTest::newRow("production") << false << "110012345678"
                                    << "https://www.ebay.de/itm/110012345678";
        QTest::newRow("sandbox") << true << "110099" << "https://www.sandbox.ebay.com/itm/110099";
        QTest::newRow("no item id") << false << "" << "";
    }
    void online()
    {
        QFETCH(bool, sandbox);
        QFETCH(QString, itemId);
        QFETCH(QString, opened);
        // The item pages' hosts as shipped, not the fake server.
        qunsetenv("ZERIRE_ITEM_HOST");
        qunsetenv("ZERIRE_ITEM_SANDBOX_HOST");
        const int id = article(-9, { { "ItemID", itemId },
                                     { "Account", sandbox ? m_sandboxAccount : m_account } });
        QVERIFY(showAndSelect(*m_window, -9, { id }));
        UrlCapture urls;
        trigger(*m_window, "actionArtikel_online_aufrufen");
        QCOMPARE(urls.urls().size(), opened.isEmpty() ? 0 : 1);
        if (!opened.isEmpty())
            QCOMPARE(urls.urls().first().toString(), opened);
    }

    // Three listings, the second refused; while its reply is awaited activity entries take
    // the first row out of the list and put a new one at the top, shifting every row.
    void endListings()
    {
        const QList<int> ids { article(-9, { { "ItemID", "1001" }, { "Title", "Uhr" } }),
                               article(-9, { { "ItemID", "1002" }, { "Title", "Jacke" } }),
                               article(-9, { { "ItemID", "1003" }, { "Title", "Lampe" } }) };
        const int arriving = article(-8, { { "Title", "Neu eingelesen" } });
        QVERIFY(showAndSelect(*m_window, -9, ids));
        const int active = folderCount(*m_window, -9);
        const int unsold = folderCount(*m_window, -8);
        const QString refusal = QStringLiteral("Das Angebot ist schon beendet, es kann nicht "
                                               "beendet werden (\"don't\").");
        m_server->clearRequests();
        m_server->setCallHandler("EndItem", [&](const TestSupport::RecordedRequest &request) {
            return request.body.contains("<ItemID>1002</ItemID>")
                ? FakeReply::ok(endReply("Failure", refusal), "text/xml").delayed(300)
                : FakeReply::ok(endReply("Success"), "text/xml");
        });
        const auto meanwhile = [&] {
            QVERIFY(db()->executeSQL(QStringLiteral("UPDATE articles SET Folder=-9 WHERE id=")
                                     + QString::number(arriving)));
            // The first listing, already ended, leaves the list; another one arrives.
            for (int id : { ids[0], arriving }) {
                NewsItem news;
                news.id = 900000 + id; // each entry is shown once by its id
                news.infotype = QStringLiteral("newarticle");
                news.databaseid = id;
                news.title = QStringLiteral("Eingelesen");
                m_window->window()->addNewsItem(news);
            }
        };
        QSignalSpy woken(m_window->window(), &MainWindow::startCheckNow);
        whenShown<EndItem>(this, [&](EndItem *dialog) {
            // The first reply comes at once, the second after 300 ms.
            QTimer::singleShot(150, this, meanwhile);
            dialog->findChild<QRadioButton *>("LostOrBroken")->setChecked(true);
            dialog->findChild<QDialogButtonBox *>("buttonBox")->button(QDialogButtonBox::Ok)->click();
        });

        trigger(*m_window, "actionAuwahl_beenden");

        // The listing worker, woken by the other commands, talks to the fake as well.
        int ends = 0;
        for (const auto &request : m_server->requests()) {
            if (request.callName() == QLatin1String("EndItem")) {
                ++ends;
                QVERIFY(request.body.contains("<EndingReason>LostOrBroken</EndingReason>"));
            }
        }
        QCOMPARE(ends, 3);
        QCOMPARE(values(ids[0], "Folder,DoCheckResult"), QStringLiteral("-8|"));
        QCOMPARE(values(ids[1], "Folder,DoCheckResult"), "-9|(f)" + refusal);
        QCOMPARE(values(ids[2], "Folder,DoCheckResult"), QStringLiteral("-8|"));
        QVERIFY(!rowOf(*m_window, ids[0]) && !rowOf(*m_window, ids[2]));
        QVERIFY(rowOf(*m_window, ids[1]) && rowOf(*m_window, arriving));
        QCOMPARE(rowOf(*m_window, ids[1])->data(0, ItemListRole::DoCheckResultRole).toString(),
                 "(f)" + refusal);
        QCOMPARE(rowOf(*m_window, arriving)->data(0, ItemListRole::DoCheckResultRole).toString(),
                 QString());
        QCOMPARE(folderCount(*m_window, -9), active - 2);
        QCOMPARE(folderCount(*m_window, -8), unsold + 2);
        QStringList entries;
        for (int id : ids)
            entries << db()->selectOne("SELECT infotype FROM itemshistory WHERE databaseid="
                                       + QString::number(id));
        QCOMPARE(entries, QStringList({ "end_success", "end_fail", "end_success" }));
        QCOMPARE(woken.count(), 0);
        QVERIFY(m_window->window()->isEnabled());
    }

    void feeCheck()
    {
        const QList<int> ids { article(-2, { { "DoCheck", 2 } }), article(-2, { { "DoCheck", 0 } }),
                               article(-2, { { "DoCheck", 0 } }) };
        QVERIFY(showAndSelect(*m_window, -2, ids));
        QSignalSpy woken(m_window->window(), &MainWindow::startCheckNow);
        DialogAnswers answers;
        trigger(*m_window, "actionAuwahl_beenden");
        QCOMPARE(values(ids[0], "Folder,DoCheck"), QStringLiteral("-2|2"));
        QCOMPARE(values(ids[1], "Folder,DoCheck"), QStringLiteral("-2|1"));
        QCOMPARE(values(ids[2], "Folder,DoCheck"), QStringLiteral("-2|1"));
        QCOMPARE(rowOf(*m_window, ids[1])->data(0, ItemListRole::DoCheckRole).toInt(), 1);
        QCOMPARE(woken.count(), 1);
        QCOMPARE(answers.messages().size(), 1);
        QVERIFY2(answers.lastMessageText().startsWith("1 Artikel"),
                 qPrintable(answers.lastMessageText()));
    }
};

APP_TEST_MAIN(TestListingCommands)
#include "test_listingcommands.moc"
