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
#include <QDir>
#include <QLineEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QSpinBox>
#include <QTimer>
#include <QToolButton>
#include <QTreeWidget>

using TestSupport::Backend;
using TestSupport::MySqlServer;
using TestSupport::TestDatabase;

namespace {

template<typename T> T *child(QObject *parent, const char *name)
{
    T *widget = parent->findChild<T *>(QLatin1String(name));
    if (!widget)
        qFatal("no widget %s", name);
    return widget;
}

void press(QDialog &dialog, QDialogButtonBox::StandardButton which)
{
    dialog.findChild<QDialogButtonBox *>("buttonBox")->button(which)->click();
}

void selectAccount(Setup &dialog, const QString &name)
{
    QMetaObject::invokeMethod(&dialog, "loadAccounts");
    auto *list = child<QTreeWidget>(&dialog, "AccountList");
    const auto items = list->findItems(name, Qt::MatchExactly);
    QCOMPARE(items.size(), 1);
    items.first()->setSelected(true);
}

// Each article of the account's folders: "folder:account", with its picture and variation
// counts.
QStringList articles(Database *db)
{
    QStringList list;
    for (const auto &row :
         db->select("SELECT a.Folder, a.Account, (SELECT COUNT(*) FROM articles_images i WHERE "
                    "i.article_id = a.id) AS pictures, (SELECT COUNT(*) FROM articles_variations v "
                    "WHERE v.article_id = a.id) AS variations FROM articles a ORDER BY a.id"))
        list << QStringLiteral("%1:%2 %3/%4")
                    .arg(row.value("Folder").toString(), row.value("Account").toString(),
                         row.value("pictures").toString(), row.value("variations").toString());
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
    void connectionTest_data();
    void connectionTest();
    void syncWorkstation_data();
    void syncWorkstation();
    void removeAccount_data();
    void removeAccount();
    void uploadReportsLeftOutRows();
    void settingsCommand();
};

void TestSetup::options_data()
{
    QTest::addColumn<QString>("stored"); // NotiNewSale; null: absent
    QTest::addColumn<QString>("interval"); // SyncIntervall; null: absent
    QTest::addColumn<bool>("checked");
    QTest::addColumn<int>("shownInterval");
    QTest::newRow("absent") << QString() << QString() << true << 60;
    QTest::newRow("exact 1") << "1"
                             << "15" << true << 15;
    QTest::newRow("0") << "0"
                       << "0" << false << 0;
    QTest::newRow("empty") << ""
                           << "abc" << false << 0;
    QTest::newRow("word") << "true"
                          << "123456" << false << 99999;
    QTest::newRow("blanks") << " 1 "
                            << "-5" << false << 0;
}

void TestSetup::options()
{
    QFETCH(QString, stored);
    QFETCH(QString, interval);
    QFETCH(bool, checked);
    QFETCH(int, shownInterval);
    TestDatabase data(Backend::SQLite);
    QVERIFY(data.error().isEmpty());
    if (!stored.isNull())
        data.db()->setOption("NotiNewSale", stored);
    if (!interval.isNull())
        data.db()->setOption("SyncIntervall", interval);

    DialogAnswers answers;
    Setup dialog(nullptr);
    QCOMPARE(child<QCheckBox>(&dialog, "NotiNewSale")->isChecked(), checked);
    QCOMPARE(child<QCheckBox>(&dialog, "NotiNewWatcher")->isChecked(), true);
    QCOMPARE(child<QSpinBox>(&dialog, "RefreshIntervall")->value(), shownInterval);
    child<QCheckBox>(&dialog, "NotiNewBids")->setChecked(false);
    press(dialog, QDialogButtonBox::Ok);

    QCOMPARE(dialog.result(), int(QDialog::Accepted));
    QCOMPARE(data.db()->getOption("NotiNewSale", "-"), QString(checked ? "1" : "0"));
    QCOMPARE(data.db()->getOption("NotiNewBids", "-"), QString("0"));
    QCOMPARE(data.db()->getOption("SyncIntervall", "-"), QString::number(shownInterval));
    QCOMPARE(data.db()->getOption("backuppath", "-"), QString("-"));
    QCOMPARE(MySqlSetup::load(data.dataDir()).port, 3306);
    QVERIFY(QFile::exists(data.dataDir() + "mysql.setup"));
}

void TestSetup::cancelWritesNothing()
{
    TestDatabase data(Backend::SQLite);
    QVERIFY(data.error().isEmpty());
    QTemporaryDir other;
    QFile(other.path() + '/' + Database::getDatabaseName()).open(QIODevice::WriteOnly);

    const auto options = data.db()->select("SELECT * FROM options");
    DialogAnswers answers;
    answers.pushDirectory(other.path());
    answers.pushDirectory(other.path());
    Setup dialog(nullptr);
    child<QToolButton>(&dialog, "DataPathButton")->click();
    child<QToolButton>(&dialog, "BackupDataPathButton")->click();
    QCOMPARE(child<QLineEdit>(&dialog, "DataPath")->text(), other.path() + '/');
    child<QCheckBox>(&dialog, "NotiNewSale")->setChecked(false);
    child<QSpinBox>(&dialog, "RefreshIntervall")->setValue(5);
    child<QCheckBox>(&dialog, "MySQLActive")->setChecked(true);
    press(dialog, QDialogButtonBox::Cancel);

    QCOMPARE(data.db()->select("SELECT * FROM options"), options);
    QVERIFY(!QFile::exists(data.dataDir() + "mysql.setup"));
}

// The program runs on a chosen folder B; choosing folder C must reach the database that
// start-up reads "datapath" from, the one of the default folder.
void TestSetup::dataPathWhereStartupReadsIt()
{
    QDir(Database::defaultDataDir()).removeRecursively();
    {
        Database defaults(Database::defaultDataDir());
        TestDatabase running(Backend::SQLite);
        QVERIFY(running.error().isEmpty());
        defaults.setOption("datapath", running.dataDir());
        QTemporaryDir chosen;
        QFile(chosen.path() + '/' + Database::getDatabaseName()).open(QIODevice::WriteOnly);

        DialogAnswers answers;
        answers.pushDirectory(chosen.path());
        Setup dialog(nullptr);
        child<QToolButton>(&dialog, "DataPathButton")->click();
        press(dialog, QDialogButtonBox::Ok);

        QCOMPARE(defaults.getOption("datapath", "-"), chosen.path() + '/');
        QCOMPARE(running.db()->getOption("datapath", "-"), QString("-"));
        QCOMPARE(qApp->property("datadir").toString(), running.dataDir());
        QVERIFY(answers.lastMessageText().startsWith("Starte das Programm neu"));
    }
    TestSupport::clearDatabaseProperties();
}

void TestSetup::connectionTest_data()
{
    QTest::addColumn<QString>("password"); // null: the server's
    QTest::addColumn<int>("port"); // 0: the server's
    QTest::addColumn<int>("type");
    QTest::addColumn<QString>("text");
    QTest::newRow("success") << QString() << 0 << 0 << "Die Verbindung wurde erfolgreich";
    QTest::newRow("wrong password") << "falsch" << 0 << 1 << "Es konnte keine Verbindung";
    QTest::newRow("unreachable port") << QString() << 1 << 1 << "Es konnte keine Verbindung";
}

void TestSetup::connectionTest()
{
    QFETCH(QString, password);
    QFETCH(int, port);
    QFETCH(int, type);
    QFETCH(QString, text);
    APP_REQUIRE_BACKEND(Backend::MySQL);
    const MySqlServer server = MySqlServer::fromEnvironment();
    TestDatabase data(Backend::SQLite);
    QVERIFY(data.error().isEmpty());

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
    QVERIFY2(answers.messages().first().text.startsWith(text),
             qPrintable(answers.messages().first().text));
}

void TestSetup::syncWorkstation_data()
{
    QTest::addColumn<Backend>("backend");
    QTest::addColumn<bool>("box");
    QTest::addColumn<QVariant>("property");
    QTest::newRow("shared, synchronising") << Backend::MySQL << true << QVariant(true);
    // Removing it would let this workstation synchronise beside the other one.
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

void TestSetup::removeAccount_data()
{
    QTest::addColumn<Backend>("backend");
    QTest::addColumn<bool>("yes");
    QTest::newRow("sqlite") << Backend::SQLite << true;
    QTest::newRow("mysql") << Backend::MySQL << true;
    QTest::newRow("answered no") << Backend::SQLite << false;
}

void TestSetup::removeAccount()
{
    QFETCH(Backend, backend);
    QFETCH(bool, yes);
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
    const int other = TestSupport::insertArticle(db, { { "Folder", -9 }, { "Account", kept } });
    db->insertSqlClean({ { "article_id", other }, { "image", "b.jpg" } }, "articles_images");
    const QStringList before = articles(db);

    DialogAnswers answers;
    answers.pushQuestion(yes);
    Setup dialog(nullptr);
    selectAccount(dialog, "weg_1");
    child<QPushButton>(&dialog, "removeAccount")->click();

    if (!yes) {
        QCOMPARE(articles(db), before);
        return;
    }
    const QString k = QString::number(kept);
    QCOMPARE(articles(db),
             QStringList({ "-5:0 1/1", "-10:0 1/1", "-100:0 1/1", "-3:0 1/1", "-2:0 1/1", "4:0 1/1",
                           "-9:" + k + " 1/0" }));
    QCOMPARE(db->selectCount("SELECT id FROM articles_images"), 7);
    QCOMPARE(db->selectCount("SELECT id FROM articles_variations"), 6);
    QCOMPARE(child<QTreeWidget>(&dialog, "AccountList")->topLevelItemCount(), 1);
}

void TestSetup::uploadReportsLeftOutRows()
{
    APP_REQUIRE_BACKEND(Backend::MySQL);
    TestDatabase local(Backend::SQLite);
    QVERIFY(local.error().isEmpty());
    for (int i = 0; i < 100; ++i)
        local.db()->insertSqlClean(
            { { "title", QString("Eintrag %1").arg(i) }, { "infotype", "bid" } }, "itemshistory");
    TestSupport::insertArticle(local.db(), { { "SubTitle", "Tasse ☕" } });
    const QString localFile = local.dataDir() + Database::getDatabaseName();
    local.closeMain();
    TestDatabase shared(Backend::MySQL);
    QVERIFY2(shared.error().isEmpty(), qPrintable(shared.error()));
    QVERIFY(QFile::copy(localFile, shared.dataDir() + Database::getDatabaseName()));
    QVERIFY(
        shared.db()->executeSQL("ALTER TABLE articles MODIFY SubTitle TEXT CHARACTER SET latin1"));

    DialogAnswers answers;
    answers.pushQuestion(true);
    Setup dialog(nullptr);
    dialog.show();
    auto *button = child<QPushButton>(&dialog, "MySQLUploadLocalData");
    QVERIFY(button->isEnabled());
    const QString label = button->text();
    QStringList shown;
    QTimer watch;
    connect(&watch, &QTimer::timeout, &dialog, [&] { shown << button->text(); });
    watch.start(0);
    button->click();
    watch.stop();

    QVERIFY(!shown
                 .filter(QRegularExpression("^Übertrage Tabelle - itemshistory - \\(\\d+/\\d+\\) - "
                                            "Daten \\(62/100\\)$"))
                 .isEmpty());
    QCOMPARE(button->text(), label);
    QCOMPARE(shared.db()->selectCount("SELECT id FROM itemshistory"), 100);
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
    QVERIFY(data.error().isEmpty());
    TestSupport::MainWindowFixture fixture(data);
    QString opened;
    QTimer::singleShot(0, [&opened] {
        QWidget *modal = QApplication::activeModalWidget();
        opened = modal ? modal->objectName() : QString();
        if (auto *dialog = qobject_cast<QDialog *>(modal))
            dialog->reject();
    });
    fixture.window()->findChild<QAction *>("actionEinstellungen")->trigger();
    QCOMPARE(opened, QString("Setup"));
}

APP_TEST_MAIN(TestSetup)
#include "test_setup.moc"
