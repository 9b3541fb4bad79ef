#include "core/backgroundworker.h"
#include "core/database.h"
#include "mainwindow/mainwindow.h"
#include "mainwindow/mysqlsetup.h"
#include "mainwindow/setup.h"
#include "tests/support/databaseoutage.h"
#include "tests/support/dialoganswers.h"
#include "tests/support/heldjobs.h"
#include "tests/support/mainwindowfixture.h"
#include "tests/support/testdatabase.h"
#include "tests/support/testmain.h"
#include "views/itemlistwidget.h"

#include <QAction>
#include <QCheckBox>
#include <QDialogButtonBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QSemaphore>
#include <QSpinBox>
#include <QToolButton>
#include <QTreeWidget>

#include <sys/stat.h>
#include <unistd.h>

using TestSupport::Backend;
using TestSupport::DatabaseOutage;
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

const char *const kSwitches[]
    = { "NotiNewWatcher", "NotiNewSale", "NotiNewMessage", "NotiNewBids" };

// The seller's settings, none of them a default: every 15 minutes, no notifications.
void storeSettings(Database *db)
{
    QVERIFY(db->setOption("SyncIntervall", "15"));
    for (const char *name : kSwitches)
        QVERIFY(db->setOption(name, "0"));
}

// The options as stored, "name=value" each.
QStringList storedOptions(Database *db)
{
    QStringList options;
    for (const auto &row :
         db->select("SELECT optionname, optionvalue FROM options ORDER BY optionname").value())
        options << row["optionname"].toString() + '=' + row["optionvalue"].toString();
    return options;
}

// The messages of a type (2: errors).
QStringList messagesOf(const DialogAnswers &answers, int type)
{
    QStringList texts;
    for (const auto &message : answers.messages()) {
        if (message.type == type)
            texts << message.text;
    }
    return texts;
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
    void optionsNotRead_data();
    void optionsNotRead();
    void okDuringOutage_data();
    void okDuringOutage();
    void firstValuesRefused_data() { TestSupport::addBackendRows(); }
    void firstValuesRefused();
    void dataFolderTheStartRefuses_data();
    void dataFolderTheStartRefuses();
    void windowOnARefusedDataFolder();
    void jobWhileDataPathIsStored_data();
    void jobWhileDataPathIsStored();
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
        QVERIFY(data.db()->setOption("NotiNewSale", stored));
        QVERIFY(data.db()->setOption("SyncIntervall", interval));
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
        QVERIFY(defaults.setOption("datapath", running.dataDir()));
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
                QVERIFY(filled.insertSqlClean({ { "Title", QString::number(i) },
                                                { "Description", QString(1500, 'x') } },
                                              "articles")
                        > 0);
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
        QVERIFY(
            db->insertSqlClean({ { "article_id", id }, { "image", "a.jpg" } }, "articles_images")
            > 0);
        QVERIFY(db->insertSqlClean({ { "article_id", id }, { "SKU", "x" } }, "articles_variations")
                > 0);
    }
    const int other = TestSupport::insertArticle(db, { { "Account", kept } });
    QVERIFY(db->insertSqlClean({ { "article_id", other }, { "image", "b.jpg" } }, "articles_images")
            > 0);

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
        QVERIFY(data.db()->insertSqlClean(
                    { { "accountname", QString("konto %1").arg(expiry) }, { "tokenexp", expiry } },
                    "accounts")
                > 0);
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
        QVERIFY(db->insertSqlClean({ { "article_id", id }, { "SKU", "x" } }, "articles_variations")
                > 0);
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
        QVERIFY(local.db()->insertSqlClean({ { "title", QString::number(i) } }, "itemshistory")
                > 0);
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

void TestSetup::optionsNotRead_data()
{
    TestSupport::addOutageRows();
}

// The options can't be read when the dialog opens: it says why, shows no default as if it
// were stored, and its OK stores none of them; the seller's settings stay.
void TestSetup::optionsNotRead()
{
    QFETCH(DatabaseOutage::Fault, fault);
    APP_REQUIRE_OUTAGE(fault);
    DatabaseOutage outage(fault);
    QVERIFY2(outage.error().isEmpty(), qPrintable(outage.error()));
    storeSettings(outage.db());
    const QStringList before = storedOptions(outage.db());
    QVERIFY(outage.strike("FROM options"));
    DialogAnswers answers;
    {
        Setup dialog(nullptr);
        QTRY_COMPARE(messagesOf(answers, 2).size(), 1);
        // The accounts, read too, are no second message.
        QMetaObject::invokeMethod(&dialog, "loadAccounts");
        QCOMPARE(messagesOf(answers, 2).size(), 1);
        const QString prefix = "Die Einstellungen konnten nicht gelesen werden: ";
        const QString text = messagesOf(answers, 2).first();
        QVERIFY2(text.startsWith(prefix) && text.indexOf("\n\n") > prefix.size() + 5,
                 qPrintable(text));
        if (fault == DatabaseOutage::Fault::Refused)
            QVERIFY2(text.contains("Refused by the test proxy"), qPrintable(text));
        for (const char *name : { "RefreshIntervall", "NotiNewSale", "BackupDataPathButton" }) {
            auto *field = child<QWidget>(&dialog, name);
            QVERIFY(!field->isEnabled());
            QVERIFY(field->toolTip().startsWith("Nicht gelesen: "));
        }
        // What is stored elsewhere can still be set.
        QVERIFY(child<QCheckBox>(&dialog, "MySQLActive")->isEnabled());
        press(dialog, QDialogButtonBox::Ok);
        QCOMPARE(dialog.result(), int(QDialog::Accepted));
    }
    QVERIFY(outage.mend());
    QCOMPARE(storedOptions(outage.db()), before);
}

void TestSetup::okDuringOutage_data()
{
    TestSupport::addOutageRows();
}

// The options were read; the database fails while OK stores them: the dialog stays open with
// what was entered and says why, and nothing of that OK is stored, not a part. OK given again
// once the database answers stores it.
void TestSetup::okDuringOutage()
{
    QFETCH(DatabaseOutage::Fault, fault);
    APP_REQUIRE_OUTAGE(fault);
    DatabaseOutage outage(fault);
    QVERIFY2(outage.error().isEmpty(), qPrintable(outage.error()));
    storeSettings(outage.db());
    const QStringList before = storedOptions(outage.db());
    const QString setupFile = outage.data().dataDir() + "mysql.setup";
    const auto setupWritten = [&setupFile] {
        QFile file(setupFile);
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("none");
    };
    const QByteArray setupBefore = setupWritten();
    DialogAnswers answers;
    Setup dialog(nullptr);
    child<QCheckBox>(&dialog, "MySQLSyncWorkstation")->toggle();
    auto *interval = child<QSpinBox>(&dialog, "RefreshIntervall");
    QCOMPARE(interval->value(), 15);
    interval->setValue(30);
    for (const char *name : kSwitches) {
        QVERIFY(!child<QCheckBox>(&dialog, name)->isChecked());
        child<QCheckBox>(&dialog, name)->setChecked(true);
    }
    // Refused: the third switch, after the interval and two switches are written.
    QVERIFY(outage.strike("NotiNewMessage"));
    press(dialog, QDialogButtonBox::Ok);

    QCOMPARE(dialog.result(), 0);
    QCOMPARE(messagesOf(answers, 2).size(), 1);
    const QString prefix = "Die Einstellungen wurden nicht gespeichert: ";
    const QString text = messagesOf(answers, 2).first();
    QVERIFY2(text.startsWith(prefix) && text.size() > prefix.size() + 5, qPrintable(text));
    QCOMPARE(setupWritten(), setupBefore);
    QCOMPARE(interval->value(), 30);
    QVERIFY(outage.mend());
    QCOMPARE(storedOptions(outage.db()), before);

    if (fault != DatabaseOutage::Fault::Refused)
        return;
    press(dialog, QDialogButtonBox::Ok);
    QCOMPARE(dialog.result(), int(QDialog::Accepted));
    QStringList after = before;
    after.replaceInStrings(QRegularExpression("^(NotiNew\\w+)=0$"), "\\1=1");
    after.replaceInStrings("SyncIntervall=15", "SyncIntervall=30");
    QCOMPARE(storedOptions(outage.db()), after);
}

// Settings stored for the first time whose rows the database refuses: the dialog stays open
// and says why, and nothing of that OK is stored.
void TestSetup::firstValuesRefused()
{
    QFETCH(Backend, backend);
    APP_REQUIRE_BACKEND(backend);
    TestDatabase data(backend);
    QVERIFY2(data.error().isEmpty(), qPrintable(data.error()));
    const QStringList before = storedOptions(data.db());
    QVERIFY(before.filter("NotiNew").isEmpty());
    QVERIFY(TestSupport::refuseRows(data.db(), "options", "INSERT", "Platte voll"));
    const QString setupFile = data.dataDir() + "mysql.setup";
    const auto setupWritten = [&setupFile] {
        QFile file(setupFile);
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("none");
    };
    const QByteArray setupBefore = setupWritten();
    DialogAnswers answers;
    Setup dialog(nullptr);
    child<QSpinBox>(&dialog, "RefreshIntervall")->setValue(30);
    press(dialog, QDialogButtonBox::Ok);

    QCOMPARE(dialog.result(), 0);
    const QStringList errors = messagesOf(answers, 2);
    QCOMPARE(errors.size(), 1);
    QVERIFY2(errors.first().startsWith("Die Einstellungen wurden nicht gespeichert: ")
                 && errors.first().contains("Platte voll"),
             qPrintable(errors.first()));
    QCOMPARE(storedOptions(data.db()), before);
    QCOMPARE(setupWritten(), setupBefore);
}

void TestSetup::dataFolderTheStartRefuses_data()
{
    QTest::addColumn<QString>("fault");
    QTest::addColumn<bool>("afterChoosing"); // the folder changes between choosing and OK
    QTest::addColumn<QString>("told"); // part of the start's words
    const QString others = "kann auch von anderen Benutzern geändert werden";
    QTest::newRow("folder writable by the group") << "group" << false << others;
    QTest::newRow("database writable by others") << "database" << false << others;
    QTest::newRow("folder of another user") << "owner" << false << "gehört einem anderen Benutzer";
    QTest::newRow("made writable by the group after it was chosen") << "group" << true << others;
}

// A data folder the next start would not open is refused, in the words of that start, when it
// is chosen and, should it change meanwhile, on OK; "datapath" stays.
void TestSetup::dataFolderTheStartRefuses()
{
    QFETCH(QString, fault);
    QFETCH(bool, afterChoosing);
    QFETCH(QString, told);
    if (fault == "owner" && ::geteuid() != 0)
        QSKIP("Needs root to give the folder to another user");
    QTemporaryDir base;
    const QString folder = base.path() + "/daten/";
    const QByteArray path = QFile::encodeName(folder);
    const QByteArray file = QFile::encodeName(folder + Database::getDatabaseName());
    QVERIFY(QDir().mkpath(folder) && ::chmod(path.constData(), 0700) == 0);
    QVERIFY(QFile(folder + Database::getDatabaseName()).open(QIODevice::WriteOnly));
    QVERIFY(::chmod(file.constData(), 0600) == 0);
    const auto spoil = [&] {
        return fault == "group"   ? ::chmod(path.constData(), 0770) == 0
            : fault == "database" ? ::chmod(file.constData(), 0666) == 0
                                  : ::chown(path.constData(), 65534, 65534) == 0;
    };
    {
        Database defaults(Database::defaultDataDir());
        TestDatabase data(Backend::SQLite);
        const QString stored = defaults.getOption("datapath", "-").value();
        DialogAnswers answers;
        answers.pushDirectory(folder);
        Setup dialog(nullptr);
        auto *field = child<QLineEdit>(&dialog, "DataPath");
        const QString shown = field->text();
        QVERIFY(afterChoosing || spoil());
        child<QToolButton>(&dialog, "DataPathButton")->click();
        QVERIFY(!afterChoosing || (field->text() == QDir::toNativeSeparators(folder) && spoil()));
        press(dialog, QDialogButtonBox::Ok);

        // The start's own text, naming the folder or file at fault.
        QCOMPARE(answers.messages().last().type, 1);
        QCOMPARE(answers.messages().last().text, Database::dataFolderProblem(folder));
        QVERIFY2(answers.lastMessageText().contains(told), qPrintable(answers.lastMessageText()));
        QCOMPARE(dialog.result(), afterChoosing ? 0 : int(QDialog::Accepted));
        QCOMPARE(field->text(), afterChoosing ? QDir::toNativeSeparators(folder) : shown);
        QCOMPARE(defaults.getOption("datapath", "-").value(), stored);
    }
    TestSupport::clearDatabaseProperties();
}

// Started on a data folder the start refuses, the window tells why once, and no text of the
// database driver reaches the seller where the lists and the status panel say why they are
// empty.
void TestSetup::windowOnARefusedDataFolder()
{
    QTemporaryDir base;
    const QString folder = base.path() + "/daten/";
    QVERIFY(Database(folder, nullptr).setOption("Probe", "1"));
    TestSupport::clearDatabaseProperties();
    QVERIFY(::chmod(QFile::encodeName(folder).constData(), 0770) == 0);
    DialogAnswers answers;
    std::unique_ptr<MainWindow> window = TestSupport::startMainWindow(folder);
    QVERIFY(window);
    auto *list = child<ItemListWidget>(window.get(), "itemlist");
    QTRY_VERIFY(!list->emptyText().isEmpty());
    QCOMPARE(answers.shownTexts(), QStringList({ Database::dataFolderProblem(folder) }));
    for (const QString &text :
         { list->emptyText(), child<QLabel>(window.get(), "SyncLabel")->text(),
           child<QWidget>(window.get(), "newslist")->toolTip() })
        QVERIFY2(!text.contains("Driver") && !text.contains("not loaded"), qPrintable(text));
    window->close();
    window.reset();
    TestSupport::clearDatabaseProperties();
}

// A background job that starts while OK stores the next start's data folder in the default
// folder's database works on the running folder's database, as every later one does.
void TestSetup::jobWhileDataPathIsStored_data()
{
    QTest::addColumn<Backend>("backend");
    QTest::newRow("local file") << Backend::SQLite;
    QTest::newRow("shared database") << Backend::MySQL;
}

void TestSetup::jobWhileDataPathIsStored()
{
    QFETCH(Backend, backend);
    APP_REQUIRE_BACKEND(backend);
    QTemporaryDir chosen;
    {
        TestDatabase running(backend);
        QVERIFY2(running.error().isEmpty(), qPrintable(running.error()));
        QVERIFY(running.db()->executeSQL("INSERT INTO folders (foldername) VALUES ('Laufend')"));
        running.closeMain();
        TestSupport::MainWindowFixture fixture(running);
        DialogAnswers answers;
        answers.pushDirectory(dataFolder(chosen));
        Setup dialog(nullptr);
        child<QToolButton>(&dialog, "DataPathButton")->click();

        // The job: the folder it works on and whether it finds the running folder's row.
        const auto folderOf = [](Database &db) {
            return db.getCurrentDataDir() + '|'
                + db.selectOne("SELECT foldername FROM folders WHERE foldername='Laufend'")
                      .orIfFailed("nicht gelesen");
        };
        const auto read
            = [folderOf](std::shared_ptr<QString> seen, std::shared_ptr<QSemaphore> done) {
                  return [seen, done, folderOf](Database &db, BackgroundJob::Control &) {
                      *seen = folderOf(db);
                      done->release();
                  };
              };
        auto seen = std::make_shared<QString>();
        auto done = std::make_shared<QSemaphore>();
        TestSupport::HeldJobs held;
        BackgroundWorker::instance()->post("Export", read(seen, done));
        QVERIFY(held.entered());
        // It starts, and ends, while OK opens the default folder's database; so does a
        // connection another thread opens meanwhile (a worker connecting again).
        bool started = false;
        QString meanwhile;
        Database::setBeforeSqliteOpenForTesting([&] {
            if (started || QThread::currentThread() != qApp->thread())
                return;
            started = true;
            held.letGo();
            QVERIFY(done->tryAcquire(1, 20000));
            std::unique_ptr<QThread> other(QThread::create([&meanwhile, folderOf] {
                Database db(true, QStringLiteral("Nebenbei"));
                meanwhile = folderOf(db);
                db.close();
            }));
            other->start();
            QVERIFY(other->wait(20000));
        });
        press(dialog, QDialogButtonBox::Ok);
        Database::setBeforeSqliteOpenForTesting({});
        QVERIFY(started);
        QVERIFY(answers.lastMessageText().startsWith("Starte das Programm neu"));
        QCOMPARE(*seen, running.dataDir() + "|Laufend");
        QCOMPARE(meanwhile, running.dataDir() + "|Laufend");

        // And so does the next one.
        auto later = std::make_shared<QString>();
        auto laterDone = std::make_shared<QSemaphore>();
        BackgroundWorker::instance()->post("Export", read(later, laterDone));
        QVERIFY(laterDone->tryAcquire(1, 20000));
        QCOMPARE(*later, running.dataDir() + "|Laufend");
        QCOMPARE(qApp->property("datadir").toString(), running.dataDir());
    }
    {
        Database defaults(Database::defaultDataDir());
        QCOMPARE(defaults.getOption("datapath", "-").value(), chosen.path() + '/');
    }
    TestSupport::clearDatabaseProperties();
}

APP_TEST_MAIN(TestSetup)
#include "test_setup.moc"
