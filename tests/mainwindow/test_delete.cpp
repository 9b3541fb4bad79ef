// Deleting articles by the folder shown, emptying the trash; on both databases.

#include "core/statics.h"
#include "tests/mainwindow/articlecommands.h"
#include "tests/support/dialoganswers.h"
#include "tests/support/fakehttpserver.h"
#include "tests/support/testmain.h"

#include <memory>

using namespace ArticleCommands;
using TestSupport::FakeHttpServer;
using TestSupport::FakeReply;
using TestSupport::MainWindowFixture;
using TestSupport::TestDatabase;

namespace {
const QString kWithdrawPath = QStringLiteral("/zaruvovezira/listing_delete.php");
const QString kStored = QStringLiteral("Folder,FolderOld,Trash,DoCheck,Planned_Interval");
} // namespace

class TestDelete : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<FakeHttpServer> m_server;
    std::unique_ptr<TestDatabase> m_data;
    std::unique_ptr<MainWindowFixture> m_window;

    Database *db() const { return m_data->db(); }
    int article(int folder, int folderOld, const QString &jobId = QString())
    {
        const int id = TestSupport::insertArticle(
            db(), { { "Folder", folder }, { "FolderOld", folderOld }, { "DoCheck", 2 },
                    { "DoCheckResult", "Fehler" }, { "Planned_Interval", jobId },
                    { "Planned", jobId.isNull() ? "" : "2026-03-11 09:00:00" } });
        countNewArticle(*m_window, folder);
        return id;
    }
    int rows(const QString &table, int id) const
    {
        return db()->selectOne(QStringLiteral("SELECT COUNT(*) FROM %1 WHERE article_id=%2")
                                   .arg(table)
                                   .arg(id))
            .toInt();
    }

private slots:
    void initTestCase_data() { TestSupport::addBackendRows(); }
    void init()
    {
        Statics::setHttpTimeout(2000);
        m_server = std::make_unique<FakeHttpServer>();
        m_server->pointConfigHere();
        const TestSupport::Backend backend = *static_cast<TestSupport::Backend *>(
            QTest::qGlobalData("backend", ::qMetaTypeId<TestSupport::Backend>()));
        APP_REQUIRE_BACKEND(backend);
        m_data = std::make_unique<TestDatabase>(backend);
        QVERIFY2(m_data->error().isEmpty(), qPrintable(m_data->error()));
        if (backend == TestSupport::Backend::MySQL) {
            // Another workstation synchronises: removals are queued for it.
            TestSupport::writeMySqlSetup(m_data->dataDir(),
                                         TestSupport::MySqlServer::fromEnvironment(),
                                         m_data->mysqlDatabaseName(), true, false);
            m_data->reopen();
        }
        m_window = std::make_unique<MainWindowFixture>(*m_data);
        QVERIFY(m_window->window());
    }
    void cleanup()
    {
        m_window.reset();
        m_data.reset();
        m_server.reset();
    }

    void deleteByFolder_data()
    {
        QTest::addColumn<int>("folder");
        QTest::addColumn<QStringList>("articles"); // FolderOld, "/" and the job id when scheduled
        QTest::addColumn<QByteArray>("reply"); // of the withdrawal
        QTest::addColumn<QStringList>("stored"); // Folder|FolderOld|Trash|DoCheck|job, or "gone"
        QTest::addColumn<QStringList>("withdrawn"); // job ids sent to the service
        QTest::addColumn<QString>("counts"); // folder:change, ascending
        QTest::addColumn<bool>("warned");

        QTest::newRow("drafts go to the trash")
            << -10 << QStringList { "0", "0" } << QByteArray()
            << QStringList { "-5|-10|0|2|", "-5|-10|0|2|" } << QStringList() << "-10:-2 -5:2"
            << false;
        QTest::newRow("sold go to the trash")
            << -7 << QStringList { "-9" } << QByteArray() << QStringList { "-5|-7|0|2|" }
            << QStringList() << "-7:-1 -5:1" << false;
        QTest::newRow("outbox: back where they came from, or to the drafts")
            << -2 << QStringList { "-8", "-2" } << QByteArray()
            << QStringList { "-8|-8|0|0|", "-10|-2|0|0|" } << QStringList()
            << "-10:1 -8:1 -2:-2" << false;
        QTest::newRow("active: gone with pictures and variations")
            << -9 << QStringList { "0", "0" } << QByteArray() << QStringList { "gone", "gone" }
            << QStringList() << "-9:-2" << false;
        QTest::newRow("trash: marked deleted")
            << -5 << QStringList { "-10" } << QByteArray() << QStringList { "-5|-10|1|2|" }
            << QStringList() << "-5:-1" << false;
        QTest::newRow("scheduled: withdrawn")
            << -3 << QStringList { "-8/J-1", "-10/J-2" } << QByteArray("success")
            << QStringList { "-8|-8|0|2|", "-10|-10|0|2|" } << QStringList { "J-1", "J-2" }
            << "-10:1 -8:1 -3:-2" << false;
        QTest::newRow("scheduled: refused, kept and warned")
            << -3 << QStringList { "-8/J-1" } << QByteArray("Job already running")
            << QStringList { "-3|-8|0|2|J-1" } << QStringList { "J-1" } << "" << true;
        QTest::newRow("scheduled: never uploaded, nothing to withdraw")
            << -3 << QStringList { "-8/", "-10/J-2" } << QByteArray("success")
            << QStringList { "-8|-8|0|2|", "-10|-10|0|2|" } << QStringList { "J-2" }
            << "-10:1 -8:1 -3:-2" << false;
    }
    void deleteByFolder()
    {
        QFETCH(int, folder);
        QFETCH(QStringList, articles);
        QFETCH(QByteArray, reply);
        QFETCH(QStringList, stored);
        QFETCH(QStringList, withdrawn);
        QFETCH(QString, counts);
        QFETCH(bool, warned);
        m_server->setReply(kWithdrawPath, FakeReply::ok(reply));

        QList<int> ids;
        for (const QString &spec : articles)
            ids << article(folder, spec.section('/', 0, 0).toInt(),
                           spec.contains('/') ? spec.section('/', 1) : QString());
        for (int id : ids) {
            QVERIFY(db()->insertSqlClean({ { "article_id", id }, { "image", "1_1.jpg" } },
                                         "articles_images")
                    > 0);
            QVERIFY(db()->insertSqlClean({ { "article_id", id }, { "SKU", "V" } },
                                         "articles_variations")
                    > 0);
        }
        const int untouched = article(folder, -10);
        QVERIFY(showAndSelect(*m_window, folder, ids));
        QMap<int, int> before;
        for (int f : { -10, -9, -8, -7, -5, -3, -2 })
            before[f] = folderCount(*m_window, f);
        DialogAnswers answers;
        answers.pushQuestion(true);
        m_server->clearRequests();

        trigger(*m_window, "actionL_schen");

        QStringList states;
        int removed = 0;
        for (int id : ids) {
            const bool gone = db()->selectCount("SELECT id FROM articles WHERE id="
                                                + QString::number(id))
                == 0;
            const QString now = gone ? QStringLiteral("gone") : TestSupport::values(db(), id, kStored);
            states << now;
            if (gone)
                QCOMPARE(rows("articles_images", id) + rows("articles_variations", id), 0);
            const bool listed = now.startsWith(QString::number(folder) + '|')
                && now.section('|', 2, 2) == QLatin1String("0");
            QCOMPARE(rowOf(*m_window, id) != nullptr, listed);
            removed += listed ? 0 : 1;
        }
        QCOMPARE(states, stored);
        QVERIFY(rowOf(*m_window, untouched));
        QStringList sent;
        for (const auto &request : m_server->requests()) {
            if (request.path == kWithdrawPath)
                sent << request.queryItem("id");
        }
        QCOMPARE(sent, withdrawn);
        QStringList changes;
        for (auto it = before.cbegin(); it != before.cend(); ++it) {
            const int change = folderCount(*m_window, it.key()) - it.value();
            if (change != 0)
                changes << QStringLiteral("%1:%2").arg(it.key()).arg(change);
        }
        QCOMPARE(changes.join(' '), counts);
        QCOMPARE(answers.messages().size(), warned ? 1 : 0);
        if (warned)
            QCOMPARE(answers.lastMessageText(),
                     QStringLiteral("Einige Startzeitplanungen konnten nicht gelöscht werden"));

        // Other workstations of a shared database drop the rows that left the folder.
        const bool mysql = db()->isMySQL;
        QCOMPARE(db()->selectOne("SELECT COUNT(*) FROM itemshistory WHERE infotype='removeitem' "
                                 "AND textinfo LIKE '%(" + QString::number(folder) + ",%'")
                     .toInt(),
                 mysql ? removed : 0);
        QCOMPARE(db()->selectOne("SELECT COUNT(*) FROM clienttoserver").toInt(),
                 mysql ? removed : 0);
        QVERIFY(m_window->window()->isEnabled());
    }

    // Both commands keep the folder an article came from, which MySQL would overwrite
    // with the new one when the columns were assigned in the other order.
    void originKept_data()
    {
        QTest::addColumn<QByteArray>("action");
        QTest::addColumn<QString>("stored"); // Folder|FolderOld
        QTest::newRow("into the outbox") << QByteArray("actionIn_Ausgang_legen") << "-2|-7";
        QTest::newRow("into the trash") << QByteArray("actionL_schen") << "-5|-7";
    }
    void originKept()
    {
        QFETCH(QByteArray, action);
        QFETCH(QString, stored);
        const int id = article(-7, -9);
        QVERIFY(showAndSelect(*m_window, -7, { id }));
        DialogAnswers answers;
        answers.pushQuestion(true);
        trigger(*m_window, action.constData());
        QCOMPARE(TestSupport::values(db(), id, "Folder,FolderOld"), stored);
    }

    void emptyTrash()
    {
        const QList<int> ids { article(-5, -10), article(-5, -7), article(-5, -9) };
        QVERIFY(db()->executeSQL("UPDATE articles SET Trash=1, TrashMoved='2020-01-01 00:00:00' "
                                 "WHERE id="
                                 + QString::number(ids[2])));
        const int elsewhere = article(-10, 0);
        QVERIFY(m_window->showFolder(-5));
        DialogAnswers answers;
        answers.pushQuestion(true);

        trigger(*m_window, "actionPapierkorb_leeren");

        for (int id : ids) {
            QCOMPARE(TestSupport::values(db(), id, "Folder,Trash"), QStringLiteral("-5|1"));
            QVERIFY(TestSupport::values(db(), id, "TrashMoved") > "2020-01-01 00:00:00");
        }
        QCOMPARE(TestSupport::values(db(), elsewhere, "Folder,Trash"), QStringLiteral("-10|0"));
        QCOMPARE(m_window->itemList()->topLevelItemCount(), 0);
        QCOMPARE(folderCount(*m_window, -5), 0);
    }
};

APP_TEST_MAIN(TestDelete)
#include "test_delete.moc"
