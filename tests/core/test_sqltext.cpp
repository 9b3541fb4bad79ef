// Searching and sorting German text in statements on both databases, and on every SQLite
// connection, not only the first.
#include "core/database.h"
#include "core/sqltext.h"
#include "tests/support/testdatabase.h"
#include "tests/support/testmain.h"

using TestSupport::Backend;

namespace {

const QStringList kTitles { "Über-Ohr Kopfhörer", "über-ohr Bügel",  "ÜBERGRÖSSE Jacke",
                            "Äpfel vom Baum",     "ÄPFEL aus Tirol", "Straße der Sieger",
                            "STRASSE Schild",     "Ölbild",          "Uhr",
                            "İstanbul Teppich",   "Gießkanne" };

// The titles `condition` selects, in insertion order; read through `db`.
QStringList titlesWhere(Database &db, const QString &condition)
{
    QStringList titles;
    for (const auto &row : db.select(QStringLiteral("SELECT Title FROM articles WHERE ") + condition
                                     + QStringLiteral(" ORDER BY id"))
                               .value())
        titles << row.value(QStringLiteral("Title")).toString();
    return titles;
}

} // namespace

class TestSqlText : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase_data() { TestSupport::addBackendRows(); }
    void cleanup() { TestSupport::clearDatabaseProperties(); }

    void searchIgnoresCaseOfEveryLetter_data();
    void searchIgnoresCaseOfEveryLetter();
    void sortsInGermanOrder();
    void germanOrderOutsideTheDatabase();
};

void TestSqlText::searchIgnoresCaseOfEveryLetter_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QStringList>("found");
    const QStringList ueber { kTitles[0], kTitles[1], kTitles[2] };
    QTest::newRow("über") << "über" << ueber;
    QTest::newRow("ÜBER") << "ÜBER" << ueber;
    QTest::newRow("Über") << "Über" << ueber;
    QTest::newRow("über-ohr") << "über-ohr" << QStringList { kTitles[0], kTitles[1] };
    QTest::newRow("äpfel") << "äpfel" << QStringList { kTitles[3], kTitles[4] };
    QTest::newRow("ÄPFEL") << "ÄPFEL" << QStringList { kTitles[3], kTitles[4] };
    QTest::newRow("öl, wildcard") << "öl_i" << QStringList { kTitles[7] };
    // The same rows on both databases: "ß" and "ss" are one, İ is an i.
    const QStringList streets { kTitles[5], kTitles[6] };
    QTest::newRow("straße") << "straße" << streets;
    QTest::newRow("strasse") << "strasse" << streets;
    QTest::newRow("STRASSE") << "STRASSE" << streets;
    QTest::newRow("ẞ") << "STRAẞE" << streets;
    QTest::newRow("giessk") << "giessk" << QStringList { kTitles[10] };
    QTest::newRow("s_e, wildcard") << "a_se s" << QStringList { kTitles[6] };
    QTest::newRow("istanbul") << "istanbul" << QStringList { kTitles[9] };
    QTest::newRow("İSTANBUL") << "İSTANBUL" << QStringList { kTitles[9] };
}

void TestSqlText::searchIgnoresCaseOfEveryLetter()
{
    QFETCH(QString, text);
    QFETCH(QStringList, found);
    APP_TEST_DATABASE(t);
    Database &db = *t.db();
    for (const QString &title : kTitles)
        QVERIFY(db.insertSqlClean({ { "Title", title } }, "articles") > 0);
    const QString condition = SqlText::likeCondition(
        QStringLiteral("Title"), QLatin1Char('%') + Database::escapeString(text) + QLatin1Char('%'),
        db.isMySQL);
    QCOMPARE(titlesWhere(db, condition), found);
    // A further connection (a worker's, a dialog's) searches the same way.
    Database further(true, QStringLiteral("search"));
    QCOMPARE(titlesWhere(further, condition), found);
}

void TestSqlText::sortsInGermanOrder()
{
    APP_TEST_DATABASE(t);
    Database &db = *t.db();
    const QStringList german { "Adventskranz", "Äpfel",     "Nussknacker", "Ölbild",
                               "Orangen",      "Stralsund", "Straße",      "Strauß",
                               "Überraschung", "Uhr",       "Zimtsterne" };
    QStringList shuffled = german;
    std::reverse(shuffled.begin(), shuffled.end());
    shuffled.move(3, 0);
    for (const QString &title : qAsConst(shuffled))
        QVERIFY(db.insertSqlClean({ { "Title", title }, { "ApplicationData", title } }, "articles")
                > 0);
    for (const char *column : { "Title", "ApplicationData" }) {
        QStringList sorted;
        Database further(true, QStringLiteral("sort"));
        for (const auto &row : further
                                   .select(QStringLiteral("SELECT Title FROM articles ORDER BY ")
                                           + SqlText::orderTerm(QLatin1String(column), db.isMySQL)
                                           + QStringLiteral(" ASC"))
                                   .value())
            sorted << row.value(QStringLiteral("Title")).toString();
        QCOMPARE(sorted, german);
    }
}

void TestSqlText::germanOrderOutsideTheDatabase()
{
    QFETCH_GLOBAL(Backend, backend);
    if (backend != Backend::SQLite)
        QSKIP("No database involved");
    QVERIFY(SqlText::compare(QStringLiteral("Äpfel"), QStringLiteral("Birnen")) < 0);
    QVERIFY(SqlText::compare(QStringLiteral("ölig"), QStringLiteral("Orange")) < 0);
    QVERIFY(SqlText::compare(QStringLiteral("Straße"), QStringLiteral("Strauß")) < 0);
    // Equal in German order, still a total order.
    QVERIFY(SqlText::compare(QStringLiteral("Strasse"), QStringLiteral("Straße")) != 0);
    QCOMPARE(SqlText::compare(QStringLiteral("Straße"), QStringLiteral("Straße")), 0);
}

APP_TEST_MAIN(TestSqlText)
#include "test_sqltext.moc"
