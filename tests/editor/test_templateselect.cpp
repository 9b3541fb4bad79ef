// Saving, loading, renaming and deleting templates, on SQLite and MariaDB.
#include "editor/companions/templateselect.h"
#include "tests/support/dialoganswers.h"
#include "tests/support/mysqlproxy.h"
#include "tests/support/testdatabase.h"
#include "tests/support/testmain.h"

#include <QAction>
#include <QDialogButtonBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QSqlError>
#include <QSqlQuery>

namespace {

QPushButton *okButton(QDialog *dialog)
{
    return dialog->findChild<QDialogButtonBox *>("buttonBox")->button(QDialogButtonBox::Ok);
}

QListWidget *list(QDialog *dialog)
{
    return dialog->findChild<QListWidget *>("listWidget");
}

// Selects the template entry `name`.
void select(TemplateSelect *dialog, const QString &name)
{
    list(dialog)->findItems(name, Qt::MatchExactly).value(0)->setSelected(true);
}

} // namespace

class TestTemplateSelect : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase_data() { TestSupport::addBackendRows(); }

    void saveMode_data();
    void saveMode();
    void loadMode();
    void rename_data();
    void rename();
    void deleteTakesPicturesAndVariations();
    void failedStatementsReported();
    void deleteAllOrNone_data();
    void deleteAllOrNone();
    void renameAnswerLost();
    void unreadableList_data();
    void unreadableList();

private:
    // Two templates and an ordinary article; returns the id of "Vorlage A".
    int addTemplates(Database *db);
};

int TestTemplateSelect::addTemplates(Database *db)
{
    const int a = db->insertSqlClean({ { "Folder", -100 }, { "TemplateName", "Vorlage A" } },
                                     "articles");
    if (a < 1
        || db->insertSqlClean({ { "Folder", -100 }, { "TemplateName", "Versand DHL" } }, "articles")
            < 1
        || db->insertSqlClean({ { "Folder", -10 }, { "TemplateName", "kein Vorlagenordner" } },
                              "articles")
            < 1)
        QTest::qFail("the test's templates could not be stored", __FILE__, __LINE__);
    return a;
}

void TestTemplateSelect::saveMode_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<int>("answer"); // -1 no question expected, else the answer
    QTest::addColumn<bool>("accepted");
    QTest::addColumn<bool>("overwritesA");
    QTest::newRow("new name") << "Neu" << -1 << true << false;
    QTest::newRow("existing, overwrite") << "Vorlage A" << 1 << true << true;
    QTest::newRow("existing, declined") << "Vorlage A" << 0 << false << true;
    QTest::newRow("other letter case") << "vorlage a" << -1 << true << false;
}

void TestTemplateSelect::saveMode()
{
    QFETCH(QString, name);
    QFETCH(int, answer);
    QFETCH(bool, accepted);
    QFETCH(bool, overwritesA);
    APP_TEST_DATABASE(t);
    const int a = addTemplates(t.db());
    DialogAnswers answers;
    if (answer >= 0)
        answers.pushQuestion(answer == 1);

    TemplateSelect dialog(nullptr, true, name);
    QCOMPARE(list(&dialog)->count(), 2);
    QVERIFY(!list(&dialog)->isEnabled());
    dialog.accept();
    QCOMPARE(answers.questions().size(), answer >= 0 ? 1 : 0);
    QCOMPARE(dialog.result() == 1, accepted);
    QCOMPARE(dialog.overwriteId, overwritesA ? a : 0);
    QCOMPARE(dialog.GetTemplateName(), name);
}

void TestTemplateSelect::loadMode()
{
    APP_TEST_DATABASE(t);
    const int a = addTemplates(t.db());
    DialogAnswers answers;
    TemplateSelect dialog(nullptr, false, QString());
    QVERIFY(!okButton(&dialog)->isEnabled());
    dialog.accept();
    QCOMPARE(answers.lastMessageText(), QString("Es muss eine Vorlage ausgewählt werden"));
    QCOMPARE(dialog.result(), 0);

    select(&dialog, "Vorlage A");
    QVERIFY(okButton(&dialog)->isEnabled());
    emit list(&dialog)->itemDoubleClicked(list(&dialog)->selectedItems().first());
    QCOMPARE(dialog.result(), 1);
    QCOMPARE(dialog.GetLoadId(), a);
    QCOMPARE(dialog.GetTemplateName(), QString("Vorlage A"));
}

void TestTemplateSelect::rename_data()
{
    QTest::addColumn<QString>("typed");
    QTest::addColumn<bool>("confirmed");
    QTest::addColumn<QString>("stored");
    QTest::newRow("apostrophe") << "Händler's Vorlage" << true << "Händler's Vorlage";
    QTest::newRow("cancelled") << "Anders" << false << "Vorlage A";
    QTest::newRow("empty") << "" << true << "Vorlage A";
}

void TestTemplateSelect::rename()
{
    QFETCH(QString, typed);
    QFETCH(bool, confirmed);
    QFETCH(QString, stored);
    APP_TEST_DATABASE(t);
    const int a = addTemplates(t.db());
    DialogAnswers answers;
    answers.pushText(typed, confirmed);
    TemplateSelect dialog(nullptr, false, QString());
    select(&dialog, "Vorlage A");
    dialog.findChild<QAction *>("actionUmbenennen")->trigger();
    QCOMPARE(TestSupport::values(t.db(), a, "TemplateName"), stored);
    QCOMPARE(list(&dialog)->selectedItems().first()->text(), stored);
}

void TestTemplateSelect::deleteTakesPicturesAndVariations()
{
    APP_TEST_DATABASE(t);
    Database *db = t.db();
    const int a = addTemplates(db);
    const int other = a + 1;
    for (int id : { a, other }) {
        const QString article = QString::number(id);
        QVERIFY(db->insertSqlClean({ { "article_id", article }, { "image", "a.jpg" } },
                                   "articles_images"));
        QVERIFY(db->insertSqlClean({ { "article_id", article }, { "SKU", "V-1" } },
                                   "articles_variations"));
    }
    const auto count = [db](const QString &table, int id) {
        return db
            ->selectCount("SELECT id FROM " + table + " WHERE "
                          + (table == "articles" ? "id=" : "article_id=") + QString::number(id))
            .value();
    };
    DialogAnswers answers;
    answers.pushQuestion(false);
    answers.pushQuestion(true);
    TemplateSelect dialog(nullptr, false, QString());
    select(&dialog, "Vorlage A");
    QAction *remove = dialog.findChild<QAction *>("actionL_schen");
    remove->trigger(); // declined
    QCOMPARE(count("articles", a), 1);
    remove->trigger();
    QCOMPARE(answers.questions().last().text,
             QString("Soll die Vorlage - Vorlage A - wirklich gelöscht werden?"));
    for (const QString table : { "articles", "articles_images", "articles_variations" }) {
        QCOMPARE(count(table, a), 0);
        QCOMPARE(count(table, other), 1);
    }
    QCOMPARE(list(&dialog)->count(), 1);
}

void TestTemplateSelect::failedStatementsReported()
{
    APP_TEST_DATABASE(t);
    addTemplates(t.db());
    DialogAnswers answers;
    answers.pushText("Neuer Name");
    answers.pushQuestion(true);
    TemplateSelect dialog(nullptr, false, QString());
    select(&dialog, "Vorlage A");
    {
        QSqlDatabase raw = t.rawConnection(
            t.backend() == TestSupport::Backend::MySQL ? "breaker_mysql" : "breaker_sqlite");
        QSqlQuery query(raw);
        QVERIFY2(query.exec("ALTER TABLE articles RENAME TO articles_gone"),
                 qPrintable(query.lastError().text()));
    }
    dialog.findChild<QAction *>("actionUmbenennen")->trigger();
    QCOMPARE(answers.messages().size(), 1);
    QCOMPARE(answers.messages().last().type, 2);
    QCOMPARE(list(&dialog)->selectedItems().first()->text(), QString("Vorlage A"));

    dialog.findChild<QAction *>("actionL_schen")->trigger();
    QCOMPARE(answers.messages().size(), 2);
    QVERIFY(answers.lastMessageText().startsWith("Die Vorlage konnte nicht gelöscht werden"));
    QCOMPARE(list(&dialog)->count(), 2);
}

void TestTemplateSelect::deleteAllOrNone_data()
{
    QTest::addColumn<QByteArray>("cutAfter"); // the statement whose answer is lost
    QTest::addColumn<bool>("deleted");
    QTest::addColumn<QString>("told"); // the start of the one message, empty for none
    const QString failed = "Die Vorlage konnte nicht gelöscht werden: ";
    QTest::newRow("pictures' DELETE refused") << QByteArray() << false << failed;
    QTest::newRow("the row's answer lost")
        << QByteArray("DELETE FROM articles WHERE") << false << failed;
    QTest::newRow("the commit's answer lost") << QByteArray("COMMIT") << true << QString();
}

// A template goes with its pictures and variations, or nothing of it goes; the seller reads
// what became of it, and the list shows what is stored.
void TestTemplateSelect::deleteAllOrNone()
{
    QFETCH(QByteArray, cutAfter);
    QFETCH(bool, deleted);
    QFETCH(QString, told);
    const auto backend = *static_cast<TestSupport::Backend *>(
        QTest::qGlobalData("backend", ::qMetaTypeId<TestSupport::Backend>()));
    if (!cutAfter.isEmpty() && backend == TestSupport::Backend::SQLite)
        QSKIP("a local file has no connection that could be cut");
    APP_REQUIRE_BACKEND(backend);
    std::unique_ptr<TestSupport::MySqlProxy> proxy;
    if (backend == TestSupport::Backend::MySQL)
        proxy = std::make_unique<TestSupport::MySqlProxy>(
            TestSupport::MySqlServer::fromEnvironment());
    auto t = proxy ? std::make_unique<TestSupport::TestDatabase>(proxy->server())
                   : std::make_unique<TestSupport::TestDatabase>(backend);
    QVERIFY2(t->error().isEmpty(), qPrintable(t->error()));
    Database *db = t->db();
    const int a = addTemplates(db);
    const QString article = QString::number(a);
    QVERIFY(
        db->insertSqlClean({ { "article_id", article }, { "image", "a.jpg" } }, "articles_images"));
    QVERIFY(
        db->insertSqlClean({ { "article_id", article }, { "SKU", "V-1" } }, "articles_variations"));
    QVERIFY(db->insertSqlClean({ { "article_id", article }, { "optionname", "Farbe" } },
                               "articles_variations_op_val"));
    if (cutAfter.isEmpty())
        QVERIFY(TestSupport::refuseRows(db, "articles_images", "DELETE", "Bilder gesperrt"));
    const auto rows = [&] {
        QStringList counts;
        for (const QString table :
             { "articles", "articles_images", "articles_variations", "articles_variations_op_val" })
            counts << QString::number(
                db->selectCount("SELECT id FROM " + table + " WHERE "
                                + (table == "articles" ? "id=" : "article_id=") + article)
                    .value());
        return counts.join(',');
    };
    QCOMPARE(rows(), QString("1,1,1,1"));

    DialogAnswers answers;
    answers.pushQuestion(true);
    TemplateSelect dialog(nullptr, false, QString());
    select(&dialog, "Vorlage A");
    if (proxy)
        proxy->cutAfter(cutAfter);
    dialog.findChild<QAction *>("actionL_schen")->trigger();
    if (proxy && !cutAfter.isEmpty())
        QCOMPARE(proxy->cuts(), 1);

    QCOMPARE(rows(), deleted ? QString("0,0,0,0") : QString("1,1,1,1"));
    QCOMPARE(answers.messages().size(), told.isEmpty() ? 0 : 1);
    if (!told.isEmpty()) {
        QVERIFY2(answers.lastMessageText().startsWith(told)
                     && answers.lastMessageText().size() > told.size(),
                 qPrintable(answers.lastMessageText()));
        QCOMPARE(answers.messages().first().type, 2);
    }
    QCOMPARE(list(&dialog)->findItems("Vorlage A", Qt::MatchExactly).size(), deleted ? 0 : 1);
    QCOMPARE(list(&dialog)->count(), deleted ? 1 : 2);
}

// A rename sets a value: its answer lost, it is sent again, and what is told is true.
void TestTemplateSelect::renameAnswerLost()
{
    APP_TEST_DATABASE_BEHIND_PROXY(proxy, t, "a local file has no connection that could be cut");
    const int a = addTemplates(t.db());
    DialogAnswers answers;
    answers.pushText("Neuer Name");
    TemplateSelect dialog(nullptr, false, QString());
    select(&dialog, "Vorlage A");
    proxy.cutAfter("UPDATE articles SET TemplateName");
    dialog.findChild<QAction *>("actionUmbenennen")->trigger();
    QCOMPARE(proxy.cuts(), 1);
    QCOMPARE(TestSupport::values(t.db(), a, "TemplateName"), QString("Neuer Name"));
    QVERIFY2(answers.messages().isEmpty(), qPrintable(answers.lastMessageText()));
    QCOMPARE(list(&dialog)->selectedItems().first()->text(), QString("Neuer Name"));
}

void TestTemplateSelect::unreadableList_data()
{
    QTest::addColumn<bool>("saveMode");
    QTest::newRow("save mode") << true;
    QTest::newRow("load mode") << false;
}

// Templates that can't be read are no empty list: the dialog says why, and OK, which would
// save under a name that may be taken or load nothing, is not offered.
void TestTemplateSelect::unreadableList()
{
    QFETCH(bool, saveMode);
    APP_TEST_DATABASE(t);
    addTemplates(t.db());
    {
        QSqlDatabase raw = t.rawConnection(
            t.backend() == TestSupport::Backend::MySQL ? "breaker_mysql" : "breaker_sqlite");
        QSqlQuery query(raw);
        QVERIFY2(query.exec("ALTER TABLE articles RENAME TO articles_gone"),
                 qPrintable(query.lastError().text()));
    }
    DialogAnswers answers;
    TemplateSelect dialog(nullptr, saveMode, "Vorlage A");
    auto *notice = dialog.findChild<QLabel *>("TemplatesNotice");
    QVERIFY(notice);
    QVERIFY2(notice->text().startsWith("Die Vorlagen konnten nicht aus der Datenbank gelesen "
                                       "werden: "),
             qPrintable(notice->text()));
    QVERIFY(!okButton(&dialog)->isEnabled());
    dialog.findChild<QLineEdit *>("lineEdit")->setText("Neu");
    QVERIFY(!okButton(&dialog)->isEnabled());
    dialog.accept();
    QCOMPARE(dialog.result(), 0);
    QVERIFY(answers.shownTexts().isEmpty());
}

APP_TEST_MAIN(TestTemplateSelect)
#include "test_templateselect.moc"
