// The one way to write several statements as one: the transaction guard, its savepoints, what
// a failed commit leaves behind, and how a failure is told apart from a refusal.
#include "core/database.h"
#include "core/transaction.h"
#include "core/variationrows.h"
#include "tests/support/messagecapture.h"
#include "tests/support/testdatabase.h"
#include "tests/support/testmain.h"

#include <QSqlError>
#include <QSqlQuery>
#include <optional>

namespace {

enum class Steps { Committed, Dropped, InnerUndone, InnerKeptOuterDropped, InnerDropped, Lost };

// Where a statement fails inside a transaction, and what its caller does about it.
enum class Failing { Read, Write, ReadInUndoneSavepoint, ReadInCommittedSavepoint, Tolerated };

// The folders' names after the schema's own, in id order.
QStringList folderNames(Database *db, int after)
{
    QStringList names;
    for (const auto &row :
         db->select(QStringLiteral("SELECT foldername FROM folders WHERE id > %1 ORDER BY id")
                        .arg(after))
             .value())
        names << row.value(QStringLiteral("foldername")).toString();
    return names;
}

bool addFolder(Database *db, const QString &name)
{
    return db->insertSqlClean({ { QStringLiteral("foldername"), name } }, QStringLiteral("folders"))
        > 0;
}

} // namespace

Q_DECLARE_METATYPE(Steps)
Q_DECLARE_METATYPE(Failing)
Q_DECLARE_METATYPE(Database::Outcome)

class TestTransaction : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase_data() { TestSupport::addBackendRows(); }

    void guard_data();
    void guard();
    void failedCommitIsUndone();
    void failureKinds_data();
    void failureKinds();
    void failedVariationRemovalIsUndone();
    void anyFailedStatementFailsIt_data();
    void anyFailedStatementFailsIt();
};

void TestTransaction::guard_data()
{
    QTest::addColumn<Steps>("steps");
    QTest::addColumn<QStringList>("stored");
    QTest::newRow("committed") << Steps::Committed << QStringList { "A", "B" };
    QTest::newRow("gone without a commit") << Steps::Dropped << QStringList {};
    QTest::newRow("a savepoint undone, the rest committed")
        << Steps::InnerUndone << QStringList { "A", "C" };
    QTest::newRow("a savepoint kept, the transaction gone")
        << Steps::InnerKeptOuterDropped << QStringList {};
    QTest::newRow("a savepoint gone without a commit, the rest committed")
        << Steps::InnerDropped << QStringList { "A", "C" };
    QTest::newRow("connection lost in a savepoint: nothing kept, then written again")
        << Steps::Lost << QStringList { "D" };
}

// What is kept is what was committed by the outermost guard; a savepoint's part goes with its
// own rollback or with the transaction's.
void TestTransaction::guard()
{
    QFETCH(Steps, steps);
    QFETCH(QStringList, stored);
    APP_TEST_DATABASE(data);
    Database *db = data.db();
    const bool lost = steps == Steps::Lost;
    if (lost && !db->isMySQL)
        QSKIP("The local file has no connection to lose");
    std::optional<TestSupport::MessageCapture> log;
    if (lost)
        log.emplace(QStringList { QStringLiteral("app.db") });
    const int after = db->selectOne("SELECT COALESCE(MAX(id), 0) FROM folders").value().toInt();
    {
        Transaction outer(db);
        QVERIFY(outer.isOpen());
        QVERIFY(addFolder(db, "A"));
        if (steps == Steps::Committed || steps == Steps::Dropped) {
            QVERIFY(addFolder(db, "B"));
        } else {
            Transaction inner(db);
            QVERIFY(inner.isOpen());
            QVERIFY(addFolder(db, "B"));
            if (steps == Steps::InnerUndone)
                inner.rollback();
            else if (steps == Steps::InnerKeptOuterDropped)
                QVERIFY(inner.commit());
            if (lost) {
                QVERIFY(QSqlQuery(data.rawConnection(QStringLiteral("guardKiller")))
                            .exec("KILL CONNECTION "
                                  + db->selectOne("SELECT CONNECTION_ID()").value()));
                QVERIFY(!addFolder(db, "B2"));
                QVERIFY(!inner.commit());
            }
        }
        QVERIFY(db->inTransaction());
        if (steps == Steps::InnerUndone || steps == Steps::InnerDropped || lost)
            QCOMPARE(addFolder(db, "C"), !lost);
        if (lost) {
            QCOMPARE(db->lastOutcome(), Database::Outcome::NotWritten);
            QVERIFY(!outer.commit());
            QCOMPARE(db->lastOutcome(), Database::Outcome::NotWritten);
        } else if (steps != Steps::Dropped && steps != Steps::InnerKeptOuterDropped) {
            QVERIFY(outer.commit());
        }
    }
    QVERIFY(!db->inTransaction());
    // The connection writes again once the lost transaction is over.
    QVERIFY(!lost || addFolder(db, "D"));
    QCOMPARE(folderNames(db, after), stored);
    // Seen so by every other connection as well.
    Database other(true, QStringLiteral("guardOther"));
    QCOMPARE(folderNames(&other, after), stored);
}

// A commit the database refuses (here a constraint it checks only at the end) leaves no
// transaction open: nothing of it is kept, the connection writes on its own again, and the
// other connections are not locked out.
void TestTransaction::failedCommitIsUndone()
{
    APP_TEST_DATABASE(data);
    Database *db = data.db();
    if (db->isMySQL)
        QSKIP("MariaDB checks each constraint at its statement, never at the commit");
    TestSupport::MessageCapture log({ QStringLiteral("app.db") });
    QVERIFY(db->executeSQL("CREATE TABLE parent (id INTEGER PRIMARY KEY)"));
    QVERIFY(db->executeSQL("CREATE TABLE child (id INTEGER PRIMARY KEY, parent INTEGER "
                           "REFERENCES parent(id) DEFERRABLE INITIALLY DEFERRED)"));
    QVERIFY(db->executeSQL("PRAGMA foreign_keys=ON"));
    {
        Transaction transaction(db);
        QVERIFY(transaction.isOpen());
        QVERIFY(db->executeSQL("INSERT INTO child (parent) VALUES (99)"));
        QVERIFY(!transaction.commit());
        QCOMPARE(db->lastOutcome(), Database::Outcome::Refused);
        QVERIFY2(db->lastErrorText.contains("FOREIGN KEY"), qPrintable(db->lastErrorText));
    }
    QVERIFY(!db->inTransaction());
    QSqlQuery other(data.rawConnection(QStringLiteral("commitOther")));
    QVERIFY2(other.exec("INSERT INTO parent (id) VALUES (1)"),
             qPrintable(other.lastError().text()));
    QCOMPARE(db->selectCount("SELECT id FROM child").value(), 0);
    QVERIFY(db->executeSQL("INSERT INTO child (parent) VALUES (1)"));
    QVERIFY(other.exec("SELECT COUNT(*) FROM child") && other.next());
    QCOMPARE(other.value(0).toInt(), 1);
}

void TestTransaction::failureKinds_data()
{
    QTest::addColumn<QString>("statement");
    QTest::addColumn<bool>("diskFull");
    QTest::addColumn<Database::Outcome>("outcome");
    const QString big = QStringLiteral("INSERT INTO folders (foldername) VALUES ('%1')")
                            .arg(QString(200000, QLatin1Char('x')));
    QTest::newRow("full disk: nothing written, try later")
        << big << true << Database::Outcome::NotWritten;
    QTest::newRow("no such table: refused")
        << "INSERT INTO nosuchtable (a) VALUES (1)" << false << Database::Outcome::Refused;
    QTest::newRow("a value twice where it must be once: refused")
        << "INSERT INTO options (optionname, optionvalue) VALUES ('SchemaVersion', '1')" << false
        << Database::Outcome::Refused;
}

// A database that can't take anything (a full disk) is told apart from one refusing the
// statement: repeating the first later may work, repeating the second never does.
void TestTransaction::failureKinds()
{
    QFETCH(QString, statement);
    QFETCH(bool, diskFull);
    QFETCH(Database::Outcome, outcome);
    APP_TEST_DATABASE(data);
    Database *db = data.db();
    if (diskFull && db->isMySQL)
        QSKIP("The MariaDB server keeps its files on a file system of its own");
    TestSupport::MessageCapture log({ QStringLiteral("app.db") });
    // The file may not grow by a page: SQLite reports the disk full.
    if (diskFull)
        QVERIFY(db->executeSQL("PRAGMA max_page_count = "
                               + db->selectOne("PRAGMA page_count").value()));
    QVERIFY(!db->executeSQL(statement));
    QCOMPARE(db->lastOutcome(), outcome);
    QCOMPARE(db->lastFailureTransient(), outcome == Database::Outcome::NotWritten);
}

// Removing an article is one transaction: when one of its statements is refused, nothing of
// it stays removed, seen from its own connection too, and the connection is not left inside
// a transaction.
void TestTransaction::failedVariationRemovalIsUndone()
{
    APP_TEST_DATABASE(data);
    Database *db = data.db();
    TestSupport::MessageCapture log({ QStringLiteral("app.db") });
    const int article = db->insertSqlClean({ { "Title", "Lampe" } }, "articles");
    QVERIFY(article > 0);
    QVERIFY(
        db->insertSqlClean({ { "article_id", article }, { "image", "a.jpg" } }, "articles_images")
        > 0);
    QVERIFY(
        db->insertSqlClean({ { "article_id", article }, { "SKU", "L-1" } }, "articles_variations")
        > 0);
    QVERIFY(db->insertSqlClean({ { "article_id", article }, { "optionname", "Farbe" } },
                               "articles_variations_op_val")
            > 0);
    QVERIFY(TestSupport::refuseRows(db, "articles_variations_op_val", "DELETE", "nein"));

    QVERIFY(!VariationRows::removeArticle(db, article));
    QVERIFY2(db->lastErrorText.contains("nein"), qPrintable(db->lastErrorText));
    QVERIFY(!db->inTransaction());
    const QString id = QString::number(article);
    QCOMPARE(db->selectCount("SELECT id FROM articles WHERE id=" + id).value(), 1);
    QCOMPARE(db->selectCount("SELECT id FROM articles_images WHERE article_id=" + id).value(), 1);
    QCOMPARE(db->selectCount("SELECT id FROM articles_variations WHERE article_id=" + id).value(),
             1);
}

APP_TEST_GUILESS_MAIN(TestTransaction)
#include "test_transaction.moc"

void TestTransaction::anyFailedStatementFailsIt_data()
{
    QTest::addColumn<Failing>("failing");
    QTest::addColumn<QStringList>("stored");
    QTest::newRow("a read fails: nothing kept") << Failing::Read << QStringList {};
    QTest::newRow("a write fails: nothing kept") << Failing::Write << QStringList {};
    QTest::newRow("a read fails in a savepoint undone by its caller: the rest kept")
        << Failing::ReadInUndoneSavepoint << QStringList { "A", "C" };
    QTest::newRow("a read fails in a savepoint committed anyway: nothing kept")
        << Failing::ReadInCommittedSavepoint << QStringList {};
    QTest::newRow("a failure said to be harmless: everything kept")
        << Failing::Tolerated << QStringList { "A", "C" };
}

// A transaction in which any statement failed does not commit: the caller that went on after
// a failed read or write gets false from commit(), with the first failure as the reason, and
// nothing of it is stored.
void TestTransaction::anyFailedStatementFailsIt()
{
    QFETCH(Failing, failing);
    QFETCH(QStringList, stored);
    APP_TEST_DATABASE(data);
    Database *db = data.db();
    TestSupport::MessageCapture log({ QStringLiteral("app.db") });
    const int after = db->selectOne("SELECT COALESCE(MAX(id), 0) FROM folders").value().toInt();
    const QString failingRead = QStringLiteral("SELECT nosuchcolumn FROM folders");
    bool committed = false;
    {
        Transaction transaction(db);
        QVERIFY(transaction.isOpen());
        QVERIFY(addFolder(db, "A"));
        switch (failing) {
        case Failing::Read:
            QVERIFY(!db->select(failingRead).ok());
            break;
        case Failing::Write:
            QVERIFY(!db->executeSQL("UPDATE folders SET nosuchcolumn=1"));
            break;
        case Failing::ReadInUndoneSavepoint:
        case Failing::ReadInCommittedSavepoint: {
            Transaction part(db);
            QVERIFY(part.isOpen());
            QVERIFY(addFolder(db, "B"));
            QVERIFY(!db->selectCount(failingRead).ok());
            if (failing == Failing::ReadInUndoneSavepoint)
                part.rollback();
            else
                QVERIFY(!part.commit());
            break;
        }
        case Failing::Tolerated: {
            const Database::FailureTolerated harmless(*db);
            QVERIFY(!db->selectOne(failingRead).ok());
            break;
        }
        }
        QVERIFY(addFolder(db, "C"));
        QCOMPARE(db->transactionFailed(), stored.isEmpty());
        committed = transaction.commit();
        if (!committed) {
            QVERIFY2(db->lastErrorText.contains("nosuchcolumn"), qPrintable(db->lastErrorText));
            QCOMPARE(db->lastOutcome(), Database::Outcome::Refused);
        }
    }
    QCOMPARE(committed, !stored.isEmpty());
    QVERIFY(!db->inTransaction());
    QVERIFY(!db->transactionFailed());
    QCOMPARE(folderNames(db, after), stored);
    Database other(true, QStringLiteral("failedOther"));
    QCOMPARE(folderNames(&other, after), stored);
    // The connection goes on as usual.
    Transaction next(db);
    QVERIFY(addFolder(db, "D"));
    QVERIFY(next.commit());
}
