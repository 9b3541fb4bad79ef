#include "core/database.h"
#include "mainwindow/mainwindow.h"
#include "mainwindow/mysqlsetup.h"
#include "mainwindow/setup.h"
#include "tests/support/dialoganswers.h"
#include "tests/support/mainwindowfixture.h"
#include "tests/support/testdatabase.h"
#include "tests/support/testmain.h"

#include <QAction>
#include <QCheckBox>
#include <QDialogButtonBox>
#include <QLineEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QSpinBox>
#include <QToolButton>
#include <QTreeWidget>

using TestSupport::Backend;
using TestSupport::TestDatabase;

namespace {

template<typename T> T *child(QObject *parent, const char *name)
{
    return parent->findChild<T *>(QLatin1String(name));
}

void press(QDialog &dialog, QDialogButtonBox::StandardButton which)
{
    child<QDialogButtonBox>(&dialog, "buttonBox")->button(which)->click();
}

// A folder that holds a (empty) database file.
QString dataFolder(const QTemporaryDir &dir)
{
    QFile(dir.path() + '/' + Database::getDatabaseName()).open(QIODevice::WriteOnly);
    return dir.path();
}

// Each article as "folder:account pictures/variations".
QStringList articles(Database *db)
{
    QStringList list;
    for (const auto &row :
         db->select("SELECT a.Folder, a.Account, (SELECT COUNT(*) FROM articles_images i WHERE "
                    "i.article_id = a.id) AS p, (SELECT COUNT(*) FROM articles_variations v "
                    "WHERE v.article_id = a.id) AS v FROM articles a ORDER BY a.id")
             .value())
        list << row["Folder"].toString() + ':' + row["Account"].toString() + ' '
                + row["p"].toString() + '/' + row["v"].toString();
    return list;
}

} // namespace

class TestSetup : public QObject
{
    Q_OBJECT
private slots:
    void options_data();
    void options();
    void cancelWritesNothing();
    void dataPathWhereStartupReadsIt();
    void readOnlyStartStaysReadOnly();
    void connectionTest_data();
    void connectionTest();
    void syncWorkstation_data();
    void syncWorkstation();
    void sharedPictureFolder_data();
    void sharedPictureFolder();
    void tokenExpiryWithTheWholeYear();
    void removeAccount_data();
    void removeAccount();
    void removeAccountFailsWhole_data();
    void removeAccountFailsWhole();
    void uploadReportsLeftOutRows();
    void settingsCommand();
};

void TestSetup::options_data()
{
    QTest::addColumn<QString>("stored"); // NotiNewSale and SyncIntervall; null: absent
    QTest::addColumn<QString>("interval");
    QTest::addColumn<bool>("checked");
    QTest::addColumn<int>("shownInterval");
    QTest::newRow("absent") << QString() << QString() << true << 60;
    QTest::newRow("exact 1") << "1"
                             << "15" << true << 15;
    QTest::newRow("0, no number") << "0"
                                  << "abc" << false << 0;
    QTest::newRow("empty, too large") << ""
                                      << "123456" << false << 99999;
    QTest::newRow("word, negative") << "true"
                                    << "-5" << false << 0;
    QTest::newRow("blanks") << " 1 "
                            << "0" << false << 0;
}

void TestSetup::options()
{
    QFETCH(QString, stored);
    QFETCH(QString, interval);
    QFETCH(bool, checked);
    QFETCH(int, shownInterval);
    TestDatabase data(Backend::SQLite);
    QVERIFY(data.error().isEmpty());
    if (!stored.isNull()) {
        data.db()->setOption("NotiNewSale", stored);
        data.db()->setOption("SyncIntervall", interval);
    }
    DialogAnswers answers;
    Setup dialog(nullptr);
    QCOMPARE(child<QCheckBox>(&dialog, "NotiNewSale")->isChecked(), checked);
    QCOMPARE(child<QSpinBox>(&dialog, "RefreshIntervall")->value(), shownInterval);
    child<QCheckBox>(&dialog, "NotiNewBids")->setChecked(false);
    press(dialog, QDialogButtonBox::Ok);

    QCOMPARE(QStringList({ data.db()->getOption("NotiNewSale", "-").value(),
                           data.db()->getOption("NotiNewBids", "-").value(),
                           data.db()->getOption("SyncIntervall", "-").value(),
                           data.db()->getOption("backuppath", "-").value() }),
             QStringList({ checked ? "1" : "0", "0", QString::number(shownInterval), "-" }));
    QVERIFY(QFile::exists(data.dataDir() + "mysql.setup"));
}

void TestSetup::cancelWritesNothing()
{
    TestDatabase data(Backend::SQLite);
    QVERIFY(data.error().isEmpty());
    QTemporaryDir other;
    const auto options = data.db()->select("SELECT * FROM options").value();
    DialogAnswers answers;
    answers.pushDirectory(dataFolder(other));
    answers.pushDirectory(other.path());
    Setup dialog(nullptr);
    child<QToolButton>(&dialog, "DataPathButton")->click();
    child<QToolButton>(&dialog, "BackupDataPathButton")->click();
    QCOMPARE(child<QLineEdit>(&dialog, "DataPath")->text(), other.path() + '/');
    child<QCheckBox>(&dialog, "NotiNewSale")->setChecked(false);
    child<QCheckBox>(&dialog, "MySQLActive")->setChecked(true);
    press(dialog, QDialogButtonBox::Cancel);

    QCOMPARE(data.db()->select("SELECT * FROM options").value(), options);
    QVERIFY(!QFile::exists(data.dataDir() + "mysql.setup"));
}

// Running on a chosen folder, choosing another one: start-up reads "datapath" from the
// default folder's database, so that is where it must go.
void TestSetup::dataPathWhereStartupReadsIt()
{
    {
        Database defaults(Database::defaultDataDir());
        TestDatabase running(Backend::SQLite);
        QVERIFY(running.error().isEmpty());
        defaults.setOption("datapath", running.dataDir());
        QTemporaryDir chosen;
        DialogAnswers answers;
        answers.pushDirectory(dataFolder(chosen));
        Setup dialog(nullptr);
        child<QToolButton>(&dialog, "DataPathButton")->click();
        press(dialog, QDialogButtonBox::Ok);

        QCOMPARE(defaults.getOption("datapath", "-").value(), chosen.path() + '/');
        QCOMPARE(running.db()->getOption("datapath", "-").value(), QString("-"));
        QCOMPARE(qApp->property("datadir").toString(), running.dataDir());
        QVERIFY(answers.lastMessageText().startsWith("Starte das Programm neu"));
    }
    TestSupport::clearDatabaseProperties();
}

// Started on a damaged database: choosing a data folder opens the default folder's database
// for a moment, and the running program's connections still only read.
void TestSetup::readOnlyStartStaysReadOnly()
{
    {
        Database defaults(Database::defaultDataDir());
        QTemporaryDir damaged;
        const QString file = damaged.path() + '/' + Database::getDatabaseName();
        {
            Database filled(damaged.path());
            for (int i = 0; i < 200; ++i)
                filled.insertSqlClean(
                    { { "Title", QString::number(i) }, { "Description", QString(1500, 'x') } },
                    "articles");
        }
        QFile data(file);
        QVERIFY(data.open(QIODevice::ReadWrite) && data.size() > 10 * 4096);
        QVERIFY(data.seek(4 * 4096) && data.write(QByteArray(4096, '\x5a')) == 4096);
        data.close();
        const QByteArray before = [&] {
            QFile f(file);
            return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
        }();

        DialogAnswers answers;
        Database running(damaged.path());
        QVERIFY(running.isReadOnly());
        QVERIFY(answers.lastMessageText().contains("ist beschädigt"));
        QTemporaryDir chosen;
        answers.pushDirectory(dataFolder(chosen));
        {
            Setup dialog(nullptr);
            child<QToolButton>(&dialog, "DataPathButton")->click();
            press(dialog, QDialogButtonBox::Ok);
        }
        QCOMPARE(defaults.getOption("datapath", "-").value(), chosen.path() + '/');

        Database worker(true, QStringLiteral("afterSettings"));
        QVERIFY(worker.isReadOnly());
        QVERIFY(!worker.executeSQL("UPDATE articles SET Title='neu'"));
        worker.close();
        running.close();
        QFile after(file);
        QVERIFY(after.open(QIODevice::ReadOnly));
        QVERIFY(after.readAll() == before);
    }
    TestSupport::clearDatabaseProperties();
}

void TestSetup::connectionTest_data()
{
    QTest::addColumn<QString>("password"); // null: the server's
    QTest::addColumn<int>("port"); // 0: the server's
    QTest::addColumn<int>("type");
    QTest::newRow("success") << QString() << 0 << 0;
    QTest::newRow("wrong password") << "falsch" << 0 << 1;
    QTest::newRow("unreachable port") << QString() << 1 << 1;
}

void TestSetup::connectionTest()
{
    QFETCH(QString, password);
    QFETCH(int, port);
    QFETCH(int, type);
    APP_REQUIRE_BACKEND(Backend::MySQL);
    const auto server = TestSupport::MySqlServer::fromEnvironment();
    TestDatabase data(Backend::SQLite);
    DialogAnswers answers;
    Setup dialog(nullptr);
    child<QCheckBox>(&dialog, "MySQLActive")->setChecked(true);
    child<QLineEdit>(&dialog, "MySQLHostName")->setText(server.host);
    child<QSpinBox>(&dialog, "MySQLPort")->setValue(port ? port : server.port);
    child<QLineEdit>(&dialog, "MySQLUsername")->setText(server.user);
    child<QLineEdit>(&dialog, "MySQLPassword")
        ->setText(password.isNull() ? server.password : password);
    child<QPushButton>(&dialog, "MySQLTest")->click();

    QCOMPARE(answers.messages().size(), 1);
    QCOMPARE(answers.messages().first().type, type);
    QVERIFY(answers.messages().first().text.startsWith(
        type ? "Es konnte keine Verbindung hergestellt werden: " : "Die Verbindung wurde"));
}

void TestSetup::syncWorkstation_data()
{
    QTest::addColumn<Backend>("backend");
    QTest::addColumn<bool>("box");
    QTest::addColumn<QVariant>("property");
    QTest::newRow("shared, synchronising") << Backend::MySQL << true << QVariant(true);
    // Without the property this workstation would synchronise beside the other one.
    QTest::newRow("shared, not synchronising") << Backend::MySQL << false << QVariant(false);
    QTest::newRow("local file") << Backend::SQLite << true << QVariant();
}

void TestSetup::syncWorkstation()
{
    QFETCH(Backend, backend);
    QFETCH(bool, box);
    QFETCH(QVariant, property);
    APP_REQUIRE_BACKEND(backend);
    TestDatabase data(backend);
    QVERIFY2(data.error().isEmpty(), qPrintable(data.error()));
    qApp->setProperty("mysqlsyncworkstation",
                      backend == Backend::MySQL ? QVariant(!box) : QVariant());
    DialogAnswers answers;
    Setup dialog(nullptr);
    child<QCheckBox>(&dialog, "MySQLSyncWorkstation")->setChecked(box);
    press(dialog, QDialogButtonBox::Ok);

    QCOMPARE(qApp->property("mysqlsyncworkstation"), property);
    QCOMPARE(MySqlSetup::load(data.dataDir()).syncWorkstation, box);
}

void TestSetup::sharedPictureFolder_data()
{
    QTest::addColumn<bool>("choose"); // else the folder chooser is cancelled
    QTest::newRow("chosen") << true;
    QTest::newRow("cancelled") << false;
}

// The "..." beside the shared picture folder puts the chosen folder into the field, and OK
// stores it in "mysql.setup".
void TestSetup::sharedPictureFolder()
{
    QFETCH(bool, choose);
    TestDatabase data(Backend::SQLite);
    QVERIFY(data.error().isEmpty());
    MySqlSetup stored;
    stored.active = true;
    stored.imagePath = "/bisher/bilder/";
    QVERIFY(stored.save(data.dataDir()));
    QTemporaryDir pictures;
    DialogAnswers answers;
    answers.pushDirectory(choose ? pictures.path() : QString());
    Setup dialog(nullptr);
    auto *button = child<QToolButton>(&dialog, "MySQLImagePathSelect");
    QVERIFY(button->isEnabled());
    button->click();
    const QString expected = choose ? pictures.path() + '/' : stored.imagePath;
    QCOMPARE(child<QLineEdit>(&dialog, "MySQLImagePath")->text(), expected);
    press(dialog, QDialogButtonBox::Ok);
    QCOMPARE(MySqlSetup::load(data.dataDir()).imagePath, expected);
}

void TestSetup::removeAccount_data()
{
    TestSupport::addBackendRows();
}

void TestSetup::removeAccount()
{
    QFETCH(Backend, backend);
    APP_REQUIRE_BACKEND(backend);
    TestDatabase data(backend);
    QVERIFY2(data.error().isEmpty(), qPrintable(data.error()));
    Database *db = data.db();
    const int gone = db->insertSqlClean({ { "accountname", "weg_1" } }, "accounts");
    const int kept = db->insertSqlClean({ { "accountname", "bleibt_2" } }, "accounts");
    // Active, sold, unsold, trash, drafts, templates, scheduled, outbox, a user folder.
    for (int folder : { -9, -7, -8, -5, -10, -100, -3, -2, 4 }) {
        const int id
            = TestSupport::insertArticle(db, { { "Folder", folder }, { "Account", gone } });
        db->insertSqlClean({ { "article_id", id }, { "image", "a.jpg" } }, "articles_images");
        db->insertSqlClean({ { "article_id", id }, { "SKU", "x" } }, "articles_variations");
    }
    const int other = TestSupport::insertArticle(db, { { "Account", kept } });
    db->insertSqlClean({ { "article_id", other }, { "image", "b.jpg" } }, "articles_images");

    DialogAnswers answers;
    answers.pushQuestion(true);
    Setup dialog(nullptr);
    QMetaObject::invokeMethod(&dialog, "loadAccounts");
    auto *list = child<QTreeWidget>(&dialog, "AccountList");
    list->findItems("weg_1", Qt::MatchExactly).value(0)->setSelected(true);
    child<QPushButton>(&dialog, "removeAccount")->click();

    QCOMPARE(articles(db),
             QStringList({ "-5:0 1/1", "-10:0 1/1", "-100:0 1/1", "-3:0 1/1", "-2:0 1/1", "4:0 1/1",
                           "-9:" + QString::number(kept) + " 1/0" }));
    QCOMPARE(db->selectCount("SELECT id FROM articles_images").value(), 7);
    QCOMPARE(db->selectCount("SELECT id FROM articles_variations").value(), 6);
    QCOMPARE(list->topLevelItemCount(), 1);
}

void TestSetup::tokenExpiryWithTheWholeYear()
{
    TestDatabase data(Backend::SQLite);
    QVERIFY2(data.error().isEmpty(), qPrintable(data.error()));
    for (const char *expiry : { "2099-01-01 00:00:00", "2026-12-31 23:59:00", "", "unbekannt" })
        data.db()->insertSqlClean(
            { { "accountname", QString("konto %1").arg(expiry) }, { "tokenexp", expiry } },
            "accounts");
    Setup dialog(nullptr);
    QMetaObject::invokeMethod(&dialog, "loadAccounts");
    auto *list = child<QTreeWidget>(&dialog, "AccountList");
    QStringList shown;
    for (int row = 0; row < list->topLevelItemCount(); ++row)
        shown << list->topLevelItem(row)->text(1);
    QCOMPARE(shown, QStringList({ "", "31.12.2026 23:59", "01.01.2099 00:00", "" }));
}

void TestSetup::removeAccountFailsWhole_data()
{
    TestSupport::addBackendRows();
}

// One statement of the removal is refused: the error is shown, nothing of it is kept, and
// the database is free for the next writer at once.
void TestSetup::removeAccountFailsWhole()
{
    QFETCH(Backend, backend);
    APP_REQUIRE_BACKEND(backend);
    TestDatabase data(backend);
    QVERIFY2(data.error().isEmpty(), qPrintable(data.error()));
    Database *db = data.db();
    const int gone = db->insertSqlClean({ { "accountname", "weg_1" } }, "accounts");
    for (int folder : { -9, -7, 4 }) {
        const int id
            = TestSupport::insertArticle(db, { { "Folder", folder }, { "Account", gone } });
        db->insertSqlClean({ { "article_id", id }, { "SKU", "x" } }, "articles_variations");
    }
    QVERIFY2(db->executeSQL(backend == Backend::MySQL
                                ? "CREATE TRIGGER keepvariations BEFORE DELETE ON "
                                  "articles_variations FOR EACH ROW SIGNAL SQLSTATE '45000' "
                                  "SET MESSAGE_TEXT = 'Varianten gesperrt'"
                                : "CREATE TRIGGER keepvariations BEFORE DELETE ON "
                                  "articles_variations BEGIN SELECT RAISE(ABORT, 'Varianten "
                                  "gesperrt'); END"),
             qPrintable(db->lastErrorText));
    const QStringList before = articles(db);

    DialogAnswers answers;
    answers.pushQuestion(true);
    Setup dialog(nullptr);
    QMetaObject::invokeMethod(&dialog, "loadAccounts");
    auto *list = child<QTreeWidget>(&dialog, "AccountList");
    list->findItems("weg_1", Qt::MatchExactly).value(0)->setSelected(true);
    child<QPushButton>(&dialog, "removeAccount")->click();

    QCOMPARE(answers.messages().size(), 1);
    QCOMPARE(answers.messages().first().type, 2);
    QVERIFY2(answers.lastMessageText().startsWith("Das Konto konnte nicht entfernt werden: ")
                 && answers.lastMessageText().contains("Varianten gesperrt"),
             qPrintable(answers.lastMessageText()));
    QCOMPARE(db->selectCount("SELECT id FROM accounts").value(), 1);
    QCOMPARE(articles(db), before);
    QCOMPARE(list->topLevelItemCount(), 1);
    // Another connection writes the account's row at once, not after a lock wait.
    Database other(true, QStringLiteral("otherWriter"));
    other.setLockTimeout(500);
    if (backend == Backend::MySQL)
        QVERIFY(other.executeSQL("SET SESSION innodb_lock_wait_timeout = 1"));
    QVERIFY2(other.executeSQL("UPDATE accounts SET active = 0 WHERE id=" + QString::number(gone)),
             qPrintable(other.lastErrorText));
    QCOMPARE(db->selectOne("SELECT active FROM accounts").value(), QString("0"));
}

void TestSetup::uploadReportsLeftOutRows()
{
    APP_REQUIRE_BACKEND(Backend::MySQL);
    TestDatabase local(Backend::SQLite);
    for (int i = 0; i < 100; ++i)
        local.db()->insertSqlClean({ { "title", QString::number(i) } }, "itemshistory");
    TestSupport::insertArticle(local.db(), { { "SubTitle", "Tasse ☕" } });
    local.closeMain();
    TestDatabase shared(Backend::MySQL);
    QVERIFY2(shared.error().isEmpty(), qPrintable(shared.error()));
    QVERIFY(QFile::copy(local.dataDir() + Database::getDatabaseName(),
                        shared.dataDir() + Database::getDatabaseName()));
    QVERIFY(
        shared.db()->executeSQL("ALTER TABLE articles MODIFY SubTitle TEXT CHARACTER SET latin1"));

    DialogAnswers answers;
    answers.pushQuestion(true);
    Setup dialog(nullptr);
    dialog.show();
    auto *button = child<QPushButton>(&dialog, "MySQLUploadLocalData");
    const QString label = button->text();
    QStringList shown;
    QTimer watch;
    connect(&watch, &QTimer::timeout, &dialog, [&] { shown << button->text(); });
    watch.start(0);
    button->click();

    QVERIFY(!shown
                 .filter(QRegularExpression(
                     R"(^Übertrage Tabelle - itemshistory - \(\d+/\d+\) - Daten \(62/100\)$)"))
                 .isEmpty());
    QCOMPARE(button->text(), label);
    QCOMPARE(shared.db()->selectCount("SELECT id FROM itemshistory").value(), 100);
    QCOMPARE(answers.messages().size(), 1);
    QCOMPARE(answers.messages().first().type, 1);
    const QString text = answers.messages().first().text;
    QVERIFY2(text.contains(" 1 Zeile")
                 && text.contains(shared.dataDir() + "logs/mysql_transfer.log"),
             qPrintable(text));
}

void TestSetup::settingsCommand()
{
    TestDatabase data(Backend::SQLite);
    TestSupport::MainWindowFixture fixture(data);
    QString opened;
    QTimer::singleShot(0, [&opened] {
        QWidget *modal = QApplication::activeModalWidget();
        opened = modal ? modal->objectName() : QString();
        if (auto *dialog = qobject_cast<QDialog *>(modal))
            dialog->reject();
    });
    child<QAction>(fixture.window(), "actionEinstellungen")->trigger();
    QCOMPARE(opened, QString("Setup"));
}

APP_TEST_MAIN(TestSetup)
#include "test_setup.moc"
