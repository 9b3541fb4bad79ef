// The editor's save as one command: whole or not at all when one statement's answer is lost,
// held past the time-out or refused; a new row found by its mark instead of written twice; an
// outcome that can't be known left to the opener; and two workstations on one article.
#include "core/database.h"
#include "editor/addarticle.h"
#include "editor/companions/picturewidget.h"
#include "mainwindow/mainwindow.h"
#include "tests/editor/editorfixture.h"
#include "tests/support/dialoganswers.h"
#include "tests/support/mainwindowfixture.h"
#include "tests/support/mysqlproxy.h"
#include "tests/support/testdatabase.h"
#include "tests/support/testmain.h"
#include "views/itemlistroles.h"

#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QImage>
#include <QLineEdit>
#include <QPushButton>
#include <QScopeGuard>
#include <QSemaphore>
#include <QTimer>
#include <QTreeWidget>
#include <memory>

using TestSupport::FakeHttpServer;

namespace {

constexpr int kDrafts = -10;
// Short, so that a held answer ends the statement soon.
constexpr int kTimeoutSeconds = 2;

// The seller's edits of each kind of save: a new article, a template, a new title.
void edit(AddArticle *editor, const QString &kind)
{
    if (kind == "new") {
        EditorFixture::apply(editor,
                             { "Title=Neue Lok", "StartPrice=8", "PlainHtmlCode=<p>n</p>",
                               "Country=DE", "PostalCode=1", "ConditionID=1000" });
        editor->findChild<QPushButton *>("PrimaryCategory")->setProperty("CategoryID", "9355");
    } else {
        EditorFixture::apply(editor,
                             { kind == "template" ? "Title=Vorlage Lok" : "Title=Lok neu",
                               "StartPrice=" + QString(kind == "template" ? "0" : "12.5") });
    }
}

QString pictureFile(const QString &path)
{
    QImage image(40, 30, QImage::Format_RGB32);
    image.fill(Qt::darkBlue);
    QDir().mkpath(QFileInfo(path).absolutePath());
    image.save(path, "PNG");
    return path;
}

// Articles and their pictures, by title: "A:title|folder|template|price|quantity" and
// "I:title|image|sort|value". A copied picture's name loses the prefix the copy gives it.
QStringList snapshot(Database *db)
{
    QStringList lines;
    for (const auto &row : db->select("SELECT Title, Folder, TemplateName, StartPrice, Quantity "
                                      "FROM articles"))
        lines << QString("A:%1|%2|%3|%4|%5")
                     .arg(row.value("Title").toString(), row.value("Folder").toString(),
                          row.value("TemplateName").toString())
                     .arg(row.value("StartPrice").toDouble())
                     .arg(row.value("Quantity").toInt());
    for (const auto &row : db->select("SELECT a.Title AS title, i.image AS image, i.sort AS sort, "
                                      "i.variant_name AS value FROM articles_images i JOIN "
                                      "articles a ON a.id = i.article_id"))
        lines << QString("I:%1|%2|%3|%4")
                     .arg(row.value("title").toString(),
                          row.value("image").toString().section('_', -1))
                     .arg(row.value("sort").toInt())
                     .arg(row.value("value").toString());
    lines.sort();
    return lines;
}

} // namespace

class TestEditorExactness : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase_data() { TestSupport::addBackendRows(); }
    void init();
    void cleanup();

    void oneStatementLost_data();
    void oneStatementLost();
    void twoWorkstations_data();
    void twoWorkstations();
    void unknownToldOnce_data();
    void unknownToldOnce();

private:
    // The marketplace's reference data and two accounts for the database `db`.
    void prepare(Database *db);
    // An article "Lok" with two pictures (p1, p2) and, for `variations`, two variations with
    // a picture of "rot".
    int lok(Database *db, bool variations);
    // The editor's save of `kind`, pressed by the seller.
    void save(AddArticle &editor, const QString &kind);

    std::unique_ptr<FakeHttpServer> m_server;
    std::unique_ptr<DialogAnswers> m_answers;
    int m_alpha = 0;
};

void TestEditorExactness::init()
{
    m_server = std::make_unique<FakeHttpServer>();
    m_server->pointConfigHere();
    EditorFixture::serveReferenceData(*m_server);
    m_answers = std::make_unique<DialogAnswers>();
}

void TestEditorExactness::cleanup()
{
    m_answers.reset();
    m_server.reset();
    Database::setDefaultResponseTimeout(15);
    TestSupport::resetApplicationState();
}

void TestEditorExactness::prepare(Database *db)
{
    EditorFixture::cacheGermanSite(db);
    m_alpha = EditorFixture::addAccounts(db).first;
}

int TestEditorExactness::lok(Database *db, bool variations)
{
    const int id = db->insertSqlClean({ { "Title", "Lok" },
                                        { "Folder", kDrafts },
                                        { "Account", m_alpha },
                                        { "Site", 77 },
                                        { "StartPrice", 12.5 },
                                        { "Quantity", 3 },
                                        { "ListingType", "FixedPriceItem" },
                                        { "Description", "<p>Lok</p>" },
                                        { "PrimaryCategory", "9355" },
                                        { "PrimaryCategoryText", "Modellbau:Bahn" },
                                        { "Country", "DE" },
                                        { "PostalCode", "10115" },
                                        { "Location", "Berlin" },
                                        { "ConditionID", 1000 },
                                        { "SKU", "V" },
                                        { "VariantImageOption", variations ? "Farbe" : "" } },
                                      "articles");
    const QString folder = db->getCurrentAdImageDir();
    for (int sort = 0; sort < 2; ++sort) {
        const QString name = QString("p%1.png").arg(sort + 1);
        pictureFile(folder + name);
        db->insertSqlClean({ { "article_id", id }, { "image", name }, { "sort", sort } },
                           "articles_images");
    }
    if (!variations)
        return id;
    for (const char *colour : { "rot", "blau" })
        db->insertSqlClean({ { "article_id", id },
                             { "SKU", QString("V-") + colour },
                             { "StartPrice", 5 },
                             { "Quantity", 1 },
                             { "VariantXml",
                               QString("<NameValueList><Name>Farbe</Name><Value>") + colour
                                   + "</Value></NameValueList>" } },
                           "articles_variations");
    db->insertSqlClean({ { "article_id", id }, { "image", "rot.jpg" }, { "variant_name", "rot" } },
                       "articles_images");
    return id;
}

void TestEditorExactness::save(AddArticle &editor, const QString &kind)
{
    if (kind != "template")
        return editor.accept();
    // The template chooser, named and confirmed once it runs.
    QTimer chooser;
    connect(&chooser, &QTimer::timeout, this, [&chooser] {
        auto *dialog = qobject_cast<QDialog *>(QApplication::activeModalWidget());
        if (!dialog || dialog->inherits("AddArticle"))
            return;
        chooser.stop();
        dialog->findChild<QLineEdit *>("lineEdit")->setText("Loks");
        dialog->accept();
    });
    chooser.start(10);
    editor.findChild<QPushButton *>("SaveToTemplateButton")->click();
}

// Each kind of save with one statement's answer cut after the server ran it, held past the
// time-out, or refused by the server: the database holds the state before or after, never a
// part and never a double. A save known not to be stored says so and keeps the editor open,
// and saving again stores it once; a save whose commit answer was cut is looked up and counts
// as saved; one that can't be looked up ends the editor for its opener to tell, with no word
// of "nicht gespeichert".
void TestEditorExactness::oneStatementLost_data()
{
    QTest::addColumn<QString>("kind");
    QTest::addColumn<QByteArray>("statement");
    QTest::addColumn<int>("occurrence");
    QTest::addColumn<QString>("fault");
    QTest::addColumn<QString>("expect");

    // The saves' statements: START TRANSACTION, the re-read of an opened article (SELECT ...
    // FOR UPDATE, its pictures), the row's INSERT or UPDATE, the pictures' DELETE and
    // INSERTs, the thumbnail's UPDATE, the variation pictures' DELETE and INSERTs, COMMIT.
    const QList<std::tuple<const char *, const char *, QByteArray, int>> statements = {
        { "new", "insert", "INSERT INTO articles", 1 },
        { "new", "thumbnail", "UPDATE articles SET", 1 },
        { "new", "commit", "COMMIT", 1 },
        { "existing", "re-read", "FOR UPDATE", 1 },
        { "existing", "update", "UPDATE articles SET", 1 },
        { "existing", "commit", "COMMIT", 1 },
        { "template", "insert", "INSERT INTO articles", 1 },
        { "template", "commit", "COMMIT", 1 },
        { "pictures", "pictures' delete", "DELETE FROM articles_images", 1 },
        { "pictures", "second picture", "INSERT INTO articles_images", 2 },
        { "pictures", "variation picture", "INSERT INTO articles_images", 3 },
        { "pictures", "commit", "COMMIT", 1 },
    };
    for (const auto &[kind, name, statement, occurrence] : statements) {
        const bool commit = statement == "COMMIT";
        QTest::addRow("%s, %s cut", kind, name)
            << kind << statement << occurrence << "cut" << (commit ? "saved" : "failed");
        QTest::addRow("%s, %s held", kind, name)
            << kind << statement << occurrence << "hold" << (commit ? "unknown" : "failed");
    }
    // For a refusal, `statement` names the rows refused.
    QTest::newRow("pictures, refused by a trigger")
        << "pictures" << QByteArray("1 = 1") << 0 << "refuse"
        << "failed";
    QTest::newRow("pictures, main pictures refused by a trigger")
        << "pictures" << QByteArray("COALESCE(NEW.variant_name, '') = ''") << 0 << "refuse"
        << "failed";
    QTest::newRow("new, refused by a trigger") << "new" << QByteArray() << 0 << "refuse"
                                               << "failed";
}

void TestEditorExactness::oneStatementLost()
{
    QFETCH(QString, kind);
    QFETCH(QByteArray, statement);
    QFETCH(int, occurrence);
    QFETCH(QString, fault);
    QFETCH(QString, expect);

    const auto backend = *static_cast<TestSupport::Backend *>(
        QTest::qGlobalData("backend", ::qMetaTypeId<TestSupport::Backend>()));
    std::unique_ptr<TestSupport::MySqlProxy> proxy;
    std::unique_ptr<TestSupport::TestDatabase> t;
    if (fault == "refuse") {
        APP_REQUIRE_BACKEND(backend);
        t = std::make_unique<TestSupport::TestDatabase>(backend);
    } else {
        if (backend == TestSupport::Backend::SQLite)
            QSKIP("a local file has no connection that could be cut");
        APP_REQUIRE_BACKEND(backend);
        Database::setDefaultResponseTimeout(kTimeoutSeconds);
        proxy = std::make_unique<TestSupport::MySqlProxy>(
            TestSupport::MySqlServer::fromEnvironment());
        QVERIFY(proxy->isListening());
        t = std::make_unique<TestSupport::TestDatabase>(proxy->server());
    }
    QVERIFY2(t->error().isEmpty(), qPrintable(t->error()));
    Database *db = t->db();
    prepare(db);

    // The state each save leaves when it is stored.
    QStringList after;
    int id = 0;
    if (kind == "existing" || kind == "pictures") {
        id = lok(db, kind == "pictures");
        after = QStringList { "A:Lok neu|-10||12.5|3", "I:Lok neu|p1.png|0|" };
        after << (kind == "pictures" ? "I:Lok neu|neu.png|1|" : "I:Lok neu|p2.png|1|");
        if (kind == "pictures")
            after << "I:Lok neu|blau.png|0|blau"
                  << "I:Lok neu|rot.jpg|0|rot";
        after.sort();
    } else if (kind == "new") {
        after = QStringList { "A:Neue Lok|-10||8|1" };
    } else {
        after = QStringList { "A:Vorlage Lok|-100|Loks|0|1" };
    }
    const QStringList before = snapshot(db);

    AddArticle editor(nullptr, id, kDrafts, false);
    editor.show();
    edit(&editor, kind);
    if (kind == "pictures") {
        // p2 gives way to a new file; "blau" gets a picture.
        EditorFixture::apply(&editor, { "show=TabPics" });
        for (PictureWidget *slot : editor.findChildren<PictureWidget *>())
            if (slot->imagePath.endsWith("/p2.png"))
                slot->clearImage();
        QVERIFY(QMetaObject::invokeMethod(
            &editor, "handleFileSaveAsBeforeCloseSelected",
            Q_ARG(QStringList, { pictureFile(QDir::tempPath() + "/zerire-exact/neu.png") })));
        EditorFixture::apply(&editor, { "show=TabVars" });
        auto *option = editor.findChild<QComboBox *>("ImageOptionSelectBox");
        option->setCurrentIndex(option->findData("Farbe"));
        auto *values = editor.findChild<QTreeWidget *>("VariantImageList");
        QCOMPARE(values->topLevelItemCount(), 2);
        values->findItems("blau", Qt::MatchExactly).value(0)->setSelected(true);
        QVERIFY(QMetaObject::invokeMethod(
            &editor, "handleFileSaveAsBeforeCloseSelected",
            Q_ARG(QString, pictureFile(QDir::tempPath() + "/zerire-exact/blau.png"))));
    }

    QSemaphore held;
    auto letGo = qScopeGuard([&held] { held.release(); });
    if (fault == "refuse") {
        QVERIFY(TestSupport::refuseRows(db, kind == "new" ? "articles" : "articles_images",
                                        "INSERT", "gesperrt", QString::fromLatin1(statement)));
    } else if (fault == "cut") {
        proxy->cutAfter(statement, occurrence);
    } else {
        // The server ran it; its answer waits until the editor gave up on it.
        proxy->cutAfter(statement, occurrence, [&held](quint32) { held.tryAcquire(1, 60000); });
    }
    m_answers->clear();
    save(editor, kind);
    letGo.dismiss();
    held.release();
    if (proxy)
        QTRY_COMPARE(proxy->cuts(), 1);

    const QString failedText
        = kind == "template" ? "Die Vorlage konnte nicht" : "Artikel konnte nicht gespeichert";
    const QStringList shown = m_answers->shownTexts();
    const QStringList now = snapshot(db);
    QVERIFY2(now == before || now == after, qPrintable(now.join(" / ")));
    if (expect == "unknown") {
        QVERIFY(editor.outcomeUnknown());
        QCOMPARE(editor.unknownCommand(), kind == "template" ? "die Vorlage" : "der Artikel");
        QVERIFY2(shown.isEmpty(), qPrintable(shown.join(" / ")));
        QVERIFY(!editor.isVisible());
        return;
    }
    QVERIFY(!editor.outcomeUnknown());
    if (expect == "saved") {
        QCOMPARE(now, after);
        if (kind == "template") {
            QCOMPARE(shown, QStringList { "Die Vorlage wurde gespeichert" });
        } else {
            QVERIFY2(shown.isEmpty(), qPrintable(shown.join(" / ")));
            QCOMPARE(editor.result(), 1);
            QCOMPARE(editor.getLoadId(),
                     db->selectOne("SELECT id FROM articles WHERE Title <> 'Lok'").toInt());
        }
        return;
    }
    // Nothing of it is stored, and the seller is told so; the editor stays open.
    QCOMPARE(now, before);
    QCOMPARE(shown.size(), 1);
    QVERIFY2(shown.first().startsWith(failedText), qPrintable(shown.first()));
    QVERIFY(editor.isVisible());
    // Saved again once the server answers: stored once.
    if (fault == "refuse")
        QVERIFY(db->executeSQL(QString("DROP TRIGGER refuse_%1_insert")
                                   .arg(kind == "new" ? "articles" : "articles_images")));
    m_answers->clear();
    save(editor, kind);
    QCOMPARE(snapshot(db), after);
}

// Two workstations on one article: the editor writes only what its seller changed, and asks
// whose value stays where the other workstation changed the same column (or the pictures)
// since the editor opened: keep mine, take theirs, or don't save.
void TestEditorExactness::twoWorkstations_data()
{
    QTest::addColumn<QString>("other");
    QTest::addColumn<QStringList>("actions");
    QTest::addColumn<bool>("newPicture");
    QTest::addColumn<QList<bool>>("answers");
    QTest::addColumn<QString>("question");
    QTest::addColumn<QString>("stored");
    QTest::addColumn<QString>("pictures");

    const QString price = "Der Preis wurde inzwischen an einem anderen Arbeitsplatz geändert.";
    const QString pictures = "Die Bilder wurden inzwischen an einem anderen Arbeitsplatz geändert.";
    QTest::newRow("other columns kept")
        << "UPDATE articles SET StartPrice=20, Quantity=7" << QStringList { "Title=Lok A" } << false
        << QList<bool>() << ""
        << "Lok A|20|7|0"
        << "p1.png p2.png rot.jpg";
    QTest::newRow("same column, keep mine")
        << "UPDATE articles SET StartPrice=20, Quantity=7"
        << QStringList { "Title=Lok A", "StartPrice=15" } << false << QList<bool> { true } << price
        << "Lok A|15|7|0"
        << "p1.png p2.png rot.jpg";
    QTest::newRow("same column, take theirs")
        << "UPDATE articles SET StartPrice=20, Quantity=7"
        << QStringList { "Title=Lok A", "StartPrice=15" } << false << QList<bool> { false, true }
        << price << "Lok A|20|7|0"
        << "p1.png p2.png rot.jpg";
    QTest::newRow("same column, cancelled")
        << "UPDATE articles SET StartPrice=20, Quantity=7"
        << QStringList { "Title=Lok A", "StartPrice=15" } << false << QList<bool> { false, false }
        << price << "Lok|20|7|0"
        << "p1.png p2.png rot.jpg";
    QTest::newRow("same column, same value")
        << "UPDATE articles SET StartPrice=15" << QStringList { "StartPrice=15" } << false
        << QList<bool>() << ""
        << "Lok|15|3|0"
        << "p1.png p2.png rot.jpg";
    QTest::newRow("several columns named")
        << "UPDATE articles SET StartPrice=20, Title='Lok B'"
        << QStringList { "Title=Lok A", "StartPrice=15" } << false << QList<bool> { true }
        << price
            + "\nDie Artikelbezeichnung wurde inzwischen an einem anderen Arbeitsplatz "
              "geändert."
        << "Lok A|15|3|0"
        << "p1.png p2.png rot.jpg";
    QTest::newRow("verified meanwhile, reset without a question")
        << "UPDATE articles SET IsVerified=1, CurrentPrice=14" << QStringList { "Title=Lok A" }
        << false << QList<bool>() << ""
        << "Lok A|12.5|3|0"
        << "p1.png p2.png rot.jpg";
    QTest::newRow("pictures of the other kept")
        << "DELETE FROM articles_images WHERE image='p2.png'" << QStringList { "Title=Lok A" }
        << false << QList<bool>() << ""
        << "Lok A|12.5|3|0"
        << "p1.png rot.jpg";
    QTest::newRow("variation pictures of the other kept")
        << "UPDATE articles_images SET image='gruen.jpg' WHERE variant_name='rot'"
        << QStringList { "Title=Lok A", "show=TabVars", "ImageOptionSelectBox=Farbe" } << false
        << QList<bool>() << ""
        << "Lok A|12.5|3|0"
        << "p1.png p2.png gruen.jpg";
    QTest::newRow("pictures both changed, keep mine")
        << "DELETE FROM articles_images WHERE image='p2.png'" << QStringList {} << true
        << QList<bool> { true } << pictures << "Lok|12.5|3|0"
        << "p1.png p2.png neu.png rot.jpg";
    QTest::newRow("pictures both changed, take theirs")
        << "DELETE FROM articles_images WHERE image='p2.png'" << QStringList { "Quantity=4" }
        << true << QList<bool> { false, true } << pictures << "Lok|12.5|4|0"
        << "p1.png rot.jpg";
}

void TestEditorExactness::twoWorkstations()
{
    QFETCH(QString, other);
    QFETCH(QStringList, actions);
    QFETCH(bool, newPicture);
    QFETCH(QList<bool>, answers);
    QFETCH(QString, question);
    QFETCH(QString, stored);
    QFETCH(QString, pictures);

    const auto backend = *static_cast<TestSupport::Backend *>(
        QTest::qGlobalData("backend", ::qMetaTypeId<TestSupport::Backend>()));
    APP_REQUIRE_BACKEND(backend);
    TestSupport::TestDatabase t(backend);
    QVERIFY2(t.error().isEmpty(), qPrintable(t.error()));
    // The test's connection is the other workstation; the editor works on its own.
    Database *workstationB = t.db();
    prepare(workstationB);
    const int id = lok(workstationB, true);

    AddArticle editor(nullptr, id, kDrafts, false);
    editor.show();
    EditorFixture::apply(&editor, actions);
    if (newPicture)
        QVERIFY(QMetaObject::invokeMethod(
            &editor, "handleFileSaveAsBeforeCloseSelected",
            Q_ARG(QStringList, { pictureFile(QDir::tempPath() + "/zerire-exact/neu.png") })));
    QVERIFY(workstationB->executeSQL(
        other + (!other.contains("WHERE") ? " WHERE id=" + QString::number(id) : QString())));
    for (bool answer : answers)
        m_answers->pushQuestion(answer);
    editor.accept();

    const auto asked = m_answers->questions();
    QCOMPARE(asked.isEmpty(), question.isEmpty());
    if (!question.isEmpty()) {
        QCOMPARE(asked.size(), answers.size());
        QVERIFY2(asked.first().text.startsWith(question + "\n\n"), qPrintable(asked.first().text));
    }
    QVERIFY2(m_answers->messages().isEmpty(), qPrintable(m_answers->lastMessageText()));
    // Cancelled, the editor stays open with the seller's edits.
    const bool cancelled = answers == QList<bool> { false, false };
    QCOMPARE(editor.result(), cancelled ? 0 : 1);
    QCOMPARE(TestSupport::values(workstationB, id, "Title,StartPrice,Quantity,IsVerified"), stored);
    QStringList images;
    for (const auto &row :
         workstationB->select("SELECT image FROM articles_images WHERE article_id="
                              + QString::number(id) + " ORDER BY variant_name, sort, id"))
        images << row.value("image").toString().section('_', -1);
    QCOMPARE(images.join(' '), pictures);
}

// Run from the main window, a save whose commit answer is held past the time-out is told once,
// through the window's notice for an unknown outcome (never as "nicht gespeichert"), and the
// list shows what the database holds.
void TestEditorExactness::unknownToldOnce_data()
{
    QTest::addColumn<bool>("opened");
    QTest::newRow("new article") << false;
    QTest::newRow("opened article") << true;
}

void TestEditorExactness::unknownToldOnce()
{
    QFETCH(bool, opened);
    Database::setDefaultResponseTimeout(kTimeoutSeconds);
    APP_TEST_DATABASE_BEHIND_PROXY(proxy, data, "a local file has no connection that could be cut");
    prepare(data.db());
    const int id = opened ? lok(data.db(), false) : 0;
    TestSupport::writeMySqlSetup(data.dataDir(), proxy.server(), data.mysqlDatabaseName(), true,
                                 false);
    TestSupport::MainWindowFixture window(data);
    QVERIFY(window.window());
    QVERIFY(window.showFolder(kDrafts));

    QSemaphore held;
    auto letGo = qScopeGuard([&held] { held.release(); });
    bool answered = false;
    QTimer poll;
    connect(&poll, &QTimer::timeout, this, [&] {
        auto *editor = qobject_cast<AddArticle *>(QApplication::activeModalWidget());
        if (!editor || answered)
            return;
        answered = true;
        poll.stop();
        edit(editor, opened ? "existing" : "new");
        m_answers->clear();
        proxy.cutAfter("COMMIT", 1, [&held](quint32) { held.tryAcquire(1, 60000); });
        editor->accept();
        held.release();
    });
    poll.start(10);
    if (opened)
        emit window.itemList()->itemDoubleClicked(window.window()->IsItemWithIdHere(id), 0);
    else
        window.window()->findChild<QAction *>("actionNeuer_Artikel")->trigger();
    QVERIFY(answered);
    QCOMPARE(proxy.cuts(), 1);

    const QStringList shown = m_answers->shownTexts();
    QCOMPARE(shown.filter("ist nicht bekannt").size(), 1);
    QCOMPARE(shown.filter("Ob der Artikel gespeichert wurde").size(), 1);
    QVERIFY2(shown.filter("nicht gespeichert").isEmpty(), qPrintable(shown.join(" / ")));
    // The server ran the commit: the list shows the saved row, once.
    const auto stored = data.db()->select("SELECT id, Title FROM articles");
    QCOMPARE(stored.size(), 1);
    QCOMPARE(stored.first().value("Title").toString(), opened ? "Lok neu" : "Neue Lok");
    QCOMPARE(window.itemList()->topLevelItemCount(), 1);
    QCOMPARE(window.itemList()->topLevelItem(0)->data(0, ItemListRole::ArticleIdRole).toInt(),
             stored.first().value("id").toInt());
}

APP_TEST_MAIN(TestEditorExactness)
#include "test_editorexactness.moc"
