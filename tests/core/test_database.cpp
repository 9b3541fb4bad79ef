#include "core/database.h"
#include "tests/support/tablesnapshot.h"
#include "tests/support/testdatabase.h"
#include "tests/support/testmain.h"

#include <QDir>
#include <QTemporaryDir>
#include <QThread>
#include <functional>

using TestSupport::Backend;
using TestSupport::TableSnapshot;

namespace {

QString articleValue(Database &db, int id, const QString &column)
{
    return db.select(QStringLiteral("SELECT %1 FROM articles WHERE id=%2").arg(column).arg(id))
        .value(0)
        .value(column, QStringLiteral("<no row>"))
        .toString();
}

// Inserts a row given as "column=value;...", bound as texts; the new id.
int insert(Database &db, const QString &table, const QString &fields)
{
    QMap<QString, QVariant> row;
    for (const QString &pair : fields.split(';'))
        row.insert(pair.section('=', 0, 0), pair.section('=', 1));
    return db.insertSqlClean(row, table);
}

QStringList columnOf(const SqlRows &rows, const QString &name)
{
    QStringList values;
    for (const auto &row : rows)
        values << row.value(name).toString();
    return values;
}

// Empty when `write` changed exactly the cell (id, column) of the articles to `text`;
// otherwise what it did.
QString changedOnly(Database &db, int id, const QString &column, const QString &text,
                    const std::function<bool()> &write)
{
    const TableSnapshot before = TableSnapshot::take(db, QStringLiteral("articles"));
    if (!write())
        return QStringLiteral("failed: ") + db.lastErrorText;
    const auto changes = TableSnapshot::diff(before, TableSnapshot::take(db, "articles"));
    if (changes.size() == 1 && changes.first().key == QString::number(id)
        && changes.first().column == column && changes.first().after.toString() == text)
        return QString();
    return QStringLiteral("changes: ") + TableSnapshot::describe(changes);
}

} // namespace

class TestDatabase : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase_data() { TestSupport::addBackendRows(); }
    void cleanup() { TestSupport::clearDatabaseProperties(); }

    void hostileTextsRoundTrip_data();
    void hostileTextsRoundTrip();
    void boundInserts();
    void failuresReportTheDriversError();
    void optionsKeepEmptyValuesAndSurviveARestart();
    void selectReturnsRowsAsMaps();
    void dateOrderWorksInBothDialects();
    void duplicateRowCopiesPicturesAndVariations();
    void selectNewsAndRemoveInfo();
    void foldersOfTheDataFolder();
};

void TestDatabase::hostileTextsRoundTrip_data()
{
    QTest::addColumn<QString>("text");
    QTest::newRow("single quote") << QStringLiteral("Rock'n'Roll");
    QTest::newRow("double quotes") << QStringLiteral("Zoll \"24\"");
    QTest::newRow("lone backslash") << QStringLiteral("C:\\Bilder\\neu");
    QTest::newRow("backslash at the end") << QStringLiteral("Pfad\\");
    QTest::newRow("backslash before quote") << QStringLiteral("a\\'b\\''");
    QTest::newRow("backslash n is no line break") << QStringLiteral("zwei\\nZeilen");
    QTest::newRow("umlauts") << QStringLiteral("Größe: Übergröße, Äpfel, ß");
    QTest::newRow("emoji") << QStringLiteral("Top 👍🏽 Zustand 🚀");
    QTest::newRow("injection") << QStringLiteral("x'); DROP TABLE articles; --");
    QTest::newRow("percent and underscore") << QStringLiteral("100% _neu_");
    QTest::newRow("line breaks") << QStringLiteral("Zeile 1\r\nZeile 2\nZeile 3");
    QTest::newRow("looks like datetime(") << QStringLiteral("datetime(StartDate) bleibt stehen");
    QString longText;
    while (longText.size() < 300000)
        longText += QStringLiteral("<p>Lange Beschreibung mit Ümläuten, 'Zitaten' und \\ – ");
    QTest::newRow("long description") << longText;
}

// Bound values, escapeString in a statement and options, each touching only its own cell.
void TestDatabase::hostileTextsRoundTrip()
{
    QFETCH(QString, text);
    APP_TEST_DATABASE(t);
    Database &db = *t.db();
    const int other = db.insertSqlClean({ { "Title", "Nachbar" } }, "articles");
    const int id = db.insertSqlClean({ { "Title", "Ziel" } }, "articles");
    QVERIFY(other > 0 && id > other);

    const int inserted
        = db.insertSqlClean({ { "Title", text }, { "Description", text } }, "articles");
    QVERIFY2(inserted > 0, qPrintable(db.lastErrorText));
    QCOMPARE(articleValue(db, inserted, "Title"), text);
    QCOMPARE(articleValue(db, inserted, "Description"), text);

    QString changes = changedOnly(db, id, "Notes", text, [&] {
        return db.updateSqlClean({ { "Notes", text } }, "articles",
                                 QStringLiteral("id=%1").arg(id));
    });
    QVERIFY2(changes.isEmpty(), qPrintable(changes));
    const QString literal = QLatin1Char('\'') + Database::escapeString(text) + QLatin1Char('\'');
    changes = changedOnly(db, id, "SubTitle", text, [&] {
        return db.executeSQL(
            QStringLiteral("UPDATE articles SET SubTitle=%1 WHERE id=%2").arg(literal).arg(id));
    });
    QVERIFY2(changes.isEmpty(), qPrintable(changes));
    QCOMPARE(db.selectCount("SELECT id FROM articles WHERE SubTitle=" + literal), 1);
    QCOMPARE(articleValue(db, other, "Title"), QStringLiteral("Nachbar"));

    const QString option = QStringLiteral("Test'Option\\");
    db.setOption(option, text);
    QCOMPARE(db.getOption(option, "default"), text);
    db.setOption(option, text + "2");
    QCOMPARE(db.getOption(option, QString()), text + "2");
    QCOMPARE(db.selectCount("SELECT optionname FROM options WHERE optionname LIKE 'Test%'"), 1);
}

// Null is bound as empty text, a flag as 1 or 0; the prepared statement of a connection
// still writes after the table has changed.
void TestDatabase::boundInserts()
{
    APP_TEST_DATABASE(t);
    Database &db = *t.db();
    const QMap<QString, QVariant> values = { { "Title", QVariant() },
                                             { "BestOfferEnabled", true },
                                             { "eBayPlus", false },
                                             { "StartPrice", 12.5 },
                                             { "Quantity", "7" } };
    const int id = db.insertSqlClean(values, "articles");
    QVERIFY2(id > 0, qPrintable(db.lastErrorText));
    const auto a = db.select(QStringLiteral("SELECT * FROM articles WHERE id=%1").arg(id)).value(0);
    QVERIFY(!a.value("Title").isNull());
    QCOMPARE(a.value("Title").toString() + '|' + a.value("BestOfferEnabled").toString() + '|'
                 + a.value("eBayPlus").toString(),
             QStringLiteral("|1|0"));
    QCOMPARE(a.value("StartPrice").toDouble(), 12.5);
    QCOMPARE(db.selectCount("SELECT id FROM articles WHERE Quantity > 6 AND BestOfferEnabled = 1"),
             1);

    QVERIFY(db.executeSQL("ALTER TABLE articles ADD COLUMN Spaeter INTEGER DEFAULT 5"));
    const int second = db.insertSqlClean(values, "articles");
    QVERIFY2(second > id, qPrintable(db.lastErrorText));
    QCOMPARE(articleValue(db, second, "Quantity") + articleValue(db, second, "Spaeter"),
             QStringLiteral("75"));
}

void TestDatabase::failuresReportTheDriversError()
{
    APP_TEST_DATABASE(t);
    Database &db = *t.db();
    const auto expectWarning = [](const char *pattern) {
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QLatin1String(pattern)));
    };
    // A column name is never a way into the statement.
    for (const char *column : { "NoSuchColumn", "Title`) VALUES ('x'); --" }) {
        expectWarning("^SQL Insert Error: ");
        QCOMPARE(db.insertSqlClean({ { column, 1 } }, "articles"), 0);
        QVERIFY(!db.lastErrorText.isEmpty());
    }
    QVERIFY(db.insertSqlClean({ { "Title", "ok" } }, "articles") > 0);
    QVERIFY(db.lastErrorText.isEmpty());

    expectWarning("^SQL Error: .* from query: UPDATE nosuchtable");
    QVERIFY(!db.executeSQL("UPDATE nosuchtable SET a=1"));
    QVERIFY(!db.lastErrorText.isEmpty());
    expectWarning("^SQL Error: ");
    QVERIFY(db.select("SELECT nonsense FROM articles").isEmpty());
    QVERIFY(!db.lastErrorText.isEmpty());
    QVERIFY(!db.select("SELECT id FROM articles").isEmpty());
    QVERIFY(db.lastErrorText.isEmpty());
    expectWarning("^SQL Error: ");
    QCOMPARE(db.selectOne("SELECT nonsense FROM articles"), QString());
    expectWarning("^SQL Error: ");
    QCOMPARE(db.selectCount("SELECT nonsense FROM articles"), 0);

    // An update that matches no row has still run.
    QVERIFY(db.updateSqlClean({ { "Title", "x" } }, "articles", "id=999999"));
    expectWarning("^SQL Insert Error: ");
    QVERIFY(!db.updateSqlClean({ { "Title", "x" } }, "articles", "nosuchcolumn=1"));
    QVERIFY(!db.lastErrorText.isEmpty());
}

void TestDatabase::optionsKeepEmptyValuesAndSurviveARestart()
{
    APP_TEST_DATABASE(t);
    Database &db = *t.db();
    QCOMPARE(db.getOption("SyncIntervall", "60"), QStringLiteral("60"));
    db.setOption("SyncIntervall", "15");
    db.setOption("backuppath", QString());
    QCOMPARE(db.getOption("backuppath", "/default"), QString());
    QCOMPARE(db.selectCount("SELECT optionname FROM options WHERE optionname='backuppath'"), 1);
    // A table without an automatic key reports no id, which is no failure.
    db.insertSqlClean({ { "optionname", "direct" }, { "optionvalue", "1" } }, "options");
    QVERIFY2(db.lastErrorText.isEmpty(), qPrintable(db.lastErrorText));
    t.reopen();
    QCOMPARE(t.db()->getOption("SyncIntervall", "60"), QStringLiteral("15"));
    QCOMPARE(t.db()->getOption("direct", QString()), QStringLiteral("1"));
}

void TestDatabase::selectReturnsRowsAsMaps()
{
    APP_TEST_DATABASE(t);
    Database &db = *t.db();
    const int account
        = db.insertSqlClean({ { "accountname", "shop_a" }, { "token", "tok" } }, "accounts");
    for (const char *title : { "A0", "A1", "A2" })
        QVERIFY(db.insertSqlClean({ { "Title", title }, { "Account", account } }, "articles") > 0);
    const SqlRows rows = db.select("SELECT a.token, a.accountname, articles.* FROM articles "
                                   "LEFT JOIN accounts a ON articles.Account = a.id "
                                   "ORDER BY articles.id DESC");
    QCOMPARE(columnOf(rows, "Title"), QStringList({ "A2", "A1", "A0" }));
    QCOMPARE(rows.first().value("token").toString() + rows.first().value("accountname").toString(),
             QStringLiteral("tokshop_a"));
    QVERIFY(rows.first().contains("ShippingServiceInt_5_Loc"));
    // Account columns first, then the article's: a name both have holds the article's value.
    const SqlRows joined = db.select("SELECT a.*, articles.* FROM articles JOIN accounts a "
                                     "ON articles.Account = a.id ORDER BY articles.id");
    QCOMPARE(columnOf(joined, "id"),
             columnOf(db.select("SELECT id FROM articles ORDER BY id"), "id"));
    QCOMPARE(joined.last().value("accountname").toString(), QStringLiteral("shop_a"));
    QSqlDatabase connection = db.connection();
    QCOMPARE(db.selectFromDb("SELECT Title FROM articles", connection).size(), 3);
    QCOMPARE(db.selectOne("SELECT Title FROM articles WHERE id < 0"), QString());
}

void TestDatabase::dateOrderWorksInBothDialects()
{
    APP_TEST_DATABASE(t);
    Database &db = *t.db();
    const QStringList dates = { "2026-03-01 10:00:00", "2025-12-31 23:59:59", "2026-11-05 08:30:00",
                                "0000-00-00 00:00:00" };
    for (int i = 0; i < dates.size(); ++i)
        QVERIFY(db.insertSqlClean(
                    { { "Title", QStringLiteral("d%1").arg(i) }, { "StartDate", dates.at(i) } },
                    "articles")
                > 0);
    // The sort orders of the article list as stored in the option "lastOrder".
    const SqlRows rows = db.select("SELECT Title FROM articles WHERE StartDate <> "
                                   "'0000-00-00 00:00:00' ORDER BY datetime(StartDate) DESC");
    QCOMPARE(columnOf(rows, "Title"), QStringList({ "d2", "d0", "d1" }));
    QCOMPARE(db.selectCount("SELECT Title FROM articles ORDER BY DateTime(StartDate) ASC"), 4);
    QCOMPARE(db.selectOne("SELECT Title FROM articles WHERE StartDate <> '' "
                          "ORDER BY datetime(StartDate) DESC LIMIT 1"),
             QStringLiteral("d2"));
    // Text in quotes is never rewritten.
    QCOMPARE(db.selectOne("SELECT 'datetime(x)' AS t"), QStringLiteral("datetime(x)"));
}

void TestDatabase::duplicateRowCopiesPicturesAndVariations()
{
    APP_TEST_DATABASE(t);
    Database &db = *t.db();
    const int source = insert(db, "articles",
                              "Title=Original's \\ Titel;Folder=4;ItemID=1100;"
                              "StartPrice=9.99;ItemSpecifics=<NameValueList/>");
    const int unrelated = insert(db, "articles", "Title=Anderer");
    insert(db, "articles_images", QStringLiteral("article_id=%1;image=bild_0.jpg").arg(source));
    insert(db, "articles_images", QStringLiteral("article_id=%1;image=bild_1.jpg").arg(source));
    insert(db, "articles_images", QStringLiteral("article_id=%1;image=fremd.jpg").arg(unrelated));
    insert(db, "articles_variations",
           QStringLiteral("article_id=%1;SKU=R-1;Quantity=3;VariantXml=<Name>Farbe</Name>")
               .arg(source));
    const TableSnapshot articlesBefore = TableSnapshot::take(db, "articles");

    const int copy = db.DuplicateRow("articles", "id", QString::number(source), "", "");
    QVERIFY2(copy > unrelated, qPrintable(db.lastErrorText));

    // Only rows were added; the source and everything else stays as it was.
    for (const auto &change :
         TableSnapshot::diff(articlesBefore, TableSnapshot::take(db, "articles")))
        QVERIFY2(change.column == "<added>" && change.key == QString::number(copy),
                 qPrintable(change.key + ' ' + change.column));
    const auto original
        = db.select(QStringLiteral("SELECT * FROM articles WHERE id=%1").arg(source)).value(0);
    auto duplicate
        = db.select(QStringLiteral("SELECT * FROM articles WHERE id=%1").arg(copy)).value(0);
    duplicate.insert("id", source);
    for (auto it = original.cbegin(); it != original.cend(); ++it)
        QVERIFY2(duplicate.value(it.key()).toString() == it.value().toString(),
                 qPrintable(it.key()));
    const auto children = [&db](const char *table, const char *column, int article) {
        return columnOf(
            db.select(QStringLiteral("SELECT %1 FROM %2 WHERE article_id=%3 ORDER BY id")
                          .arg(QLatin1String(column), QLatin1String(table))
                          .arg(article)),
            column);
    };
    for (int article : { source, copy }) {
        QCOMPARE(children("articles_images", "image", article),
                 QStringList({ "bild_0.jpg", "bild_1.jpg" }));
        QCOMPARE(children("articles_variations", "SKU", article), QStringList { "R-1" });
    }

    // Missing (or injected) ids copy nothing; a column to change gets the new value.
    for (const char *missing : { "4711", "x' OR '1'='1" })
        QCOMPARE(db.DuplicateRow("articles", "id", missing, "", ""), 0);
    QCOMPARE(db.selectCount("SELECT id FROM articles"), 3);
    const int folder = db.insertSqlClean({ { "foldername", "Alt" } }, "folders");
    const int renamed
        = db.DuplicateRow("folders", "id", QString::number(folder), "foldername", "Neu's");
    QVERIFY(renamed > folder);
    QCOMPARE(
        db.selectOne(QStringLiteral("SELECT foldername FROM folders WHERE id=%1").arg(renamed)),
        QStringLiteral("Neu's"));
}

void TestDatabase::selectNewsAndRemoveInfo()
{
    APP_TEST_DATABASE(t);
    Database &db = *t.db();
    QList<int> ids;
    for (const char *time : { "09:00", "11:30", "10:15" })
        ids << insert(db, "itemshistory",
                      QStringLiteral("indate=2026-12-06 %1:00;itemid=110001;"
                                     "title=Uhr|||1;textinfo=hat einen neuen "
                                     "Verkauf;infotype=sellcount;databaseid=41")
                          .arg(time));
    const QList<NewsItem> one = db.selectNews(QStringLiteral("id=%1").arg(ids.at(1)));
    QCOMPARE(one.size(), 1);
    const NewsItem &item = one.first();
    QCOMPARE(item.id, ids.at(1));
    QCOMPARE(item.indate, QDateTime(QDate(2026, 12, 6), QTime(11, 30)));
    QCOMPARE(QStringList({ item.itemid, item.title, item.textinfo, item.infotype }),
             QStringList({ "110001", "Uhr|||1", "hat einen neuen Verkauf", "sellcount" }));
    QCOMPARE(item.databaseid, 41);
    const QList<NewsItem> newest = db.selectNews("ORDER BY datetime(indate) DESC LIMIT 2");
    QCOMPARE(newest.size(), 2);
    QCOMPARE(newest.at(0).id, ids.at(1));
    QCOMPARE(newest.at(1).id, ids.at(2));
    QVERIFY(db.selectNews("id=-1").isEmpty());

    // On MySQL only: the removal is recorded, and queued for the synchronising workstation
    // when this one does not synchronise.
    QVERIFY(db.executeSQL("DELETE FROM itemshistory"));
    db.mysqlAddRemoveInfo(-9, "17");
    QList<NewsItem> entries = db.selectNews("infotype='removeitem'");
    QCOMPARE(entries.size(), t.backend() == Backend::MySQL ? 1 : 0);
    if (entries.isEmpty())
        return;
    QCOMPARE(
        QStringList({ entries.first().title, entries.first().textinfo, entries.first().itemid }),
        QStringList({ "Gelöscht", "Anzeige wurde zur Neueinlesung gelöscht (-9,17)", "0" }));
    QVERIFY(entries.first().indate.isValid()
            && qAbs(entries.first().indate.secsTo(QDateTime::currentDateTime())) < 60);
    QCOMPARE(db.selectCount("SELECT id FROM clienttoserver"), 0);
    qApp->setProperty("mysqlsyncworkstation", false);
    db.mysqlAddRemoveInfo(-7, "18");
    entries = db.selectNews("ORDER BY id DESC");
    QCOMPARE(db.selectOne("SELECT newsid FROM clienttoserver"),
             QString::number(entries.first().id));
}

void TestDatabase::foldersOfTheDataFolder()
{
    APP_TEST_DATABASE(t);
    Database &db = *t.db();
    const QString data = db.getCurrentDataDir();
    QCOMPARE(data, t.dataDir());
    QVERIFY(QFile::exists(data + Database::getDatabaseName()) || db.isMySQL);
    const QStringList folders = { db.getCacheDir(), db.getCurrentLogDir(), db.getImageTempPath(),
                                  db.getCurrentAdImageDir(), db.getCurrentAdImageDirThumbs() };
    QCOMPARE(folders,
             QStringList({ data + "cache/", data + "logs/", data + "tmpimages/", data + "adimages/",
                           data + "adimages_thumb/" }));
    for (const QString &folder : folders)
        QVERIFY(QDir(folder).exists());
    // Removed while running: made again on the next call.
    QVERIFY(QDir(data + "cache").removeRecursively());
    QVERIFY(QDir(db.getCacheDir()).exists());

    // A further connection on another thread finds the same folder.
    QString fromThread;
    std::unique_ptr<QThread> thread(QThread::create([&fromThread] {
        fromThread = Database(true, QStringLiteral("ImageCleaner")).getCurrentAdImageDirThumbs();
    }));
    thread->start();
    QVERIFY(thread->wait(10000));
    QCOMPARE(fromThread, data + "adimages_thumb/");

    // The pictures (not the thumbnails) go to the shared picture folder when it exists.
    QTemporaryDir shared;
    qApp->setProperty("mysqlimagepath", shared.path());
    QCOMPARE(db.getCurrentAdImageDir(), shared.path() + "/adimages/");
    QVERIFY(QDir(shared.path() + "/adimages").exists());
    QCOMPARE(db.getCurrentAdImageDirThumbs(), data + "adimages_thumb/");
    qApp->setProperty("mysqlimagepath", shared.path() + "/gibt-es-nicht");
    QCOMPARE(db.getCurrentAdImageDir(), data + "adimages/");
}

APP_TEST_MAIN(TestDatabase)
#include "test_database.moc"
