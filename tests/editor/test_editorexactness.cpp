// The editor's save as one command: whole or not at all, a new row never written twice, an
// unknown outcome left to the opener, and two workstations on one article.
#include "core/database.h"
#include "editor/addarticle.h"
#include "editor/companions/editvar.h"
#include "editor/companions/picturewidget.h"
#include "editor/companions/variantgenerator.h"
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
#include <QDir>
#include <QDoubleSpinBox>
#include <QImage>
#include <QLineEdit>
#include <QPushButton>
#include <QScopeGuard>
#include <QSemaphore>
#include <QTimer>
#include <QTreeWidget>
#include <functional>
#include <memory>
#include <utility>

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

// The seller adds the file "neu.png" to the article's pictures.
bool addPicture(AddArticle *editor)
{
    return QMetaObject::invokeMethod(
        editor, "handleFileSaveAsBeforeCloseSelected",
        Q_ARG(QStringList, { pictureFile(QDir::tempPath() + "/zerire-exact/neu.png") }));
}

// The seller saves: a template under the name "Loks".
void save(AddArticle &editor, const QString &kind)
{
    if (kind != "template") {
        editor.accept();
        // The save waits for the pictures, the window going on, then runs.
        QTRY_VERIFY(EditorFixture::saveSettled(&editor));
        return;
    }
    QTimer chooser;
    QObject::connect(&chooser, &QTimer::timeout, &chooser, [&chooser] {
        auto *dialog = qobject_cast<QDialog *>(QApplication::activeModalWidget());
        if (!dialog || dialog->inherits("AddArticle"))
            return;
        chooser.stop();
        dialog->findChild<QLineEdit *>("lineEdit")->setText("Loks");
        dialog->accept();
    });
    chooser.start(10);
    editor.findChild<QPushButton *>("SaveToTemplateButton")->click();
    QTRY_VERIFY(EditorFixture::saveSettled(&editor));
}

// The reference data, two accounts and, for `lok`, the article "Lok" with pictures p1, p2 and,
// for `variations`, "rot" and "blau" with a picture of "rot": its id.
int prepare(Database *db, bool lok, bool variations = false)
{
    EditorFixture::cacheGermanSite(db);
    const int alpha = EditorFixture::addAccounts(db).first;
    if (!lok)
        return 0;
    bool seeded = db->executeSQL(
        QString("INSERT INTO articles (Title, Folder, Account, Site, StartPrice, Quantity, "
                "ListingType, Description, PrimaryCategory, PrimaryCategoryText, "
                "Country, PostalCode, Location, ConditionID, SKU, VariantImageOption) "
                "VALUES ('Lok', %1, %2, 77, 12.5, 3, 'FixedPriceItem', '<p>Lok</p>', "
                "'9355', 'Modellbau:Bahn', 'DE', '10115', 'Berlin', 1000, 'V', '%3')")
            .arg(kDrafts)
            .arg(alpha)
            .arg(variations ? "Farbe" : ""));
    const QString id = db->selectOne("SELECT MAX(id) FROM articles").value();
    pictureFile(db->getCurrentAdImageDir() + "p1.png");
    pictureFile(db->getCurrentAdImageDir() + "p2.png");
    seeded = db->executeSQL("INSERT INTO articles_images (article_id, image, sort) VALUES (" + id
                            + ", 'p1.png', 0), (" + id + ", 'p2.png', 1)")
        && seeded;
    if (variations) {
        const QString xml = "'<NameValueList><Name>Farbe</Name><Value>%1</Value></NameValueList>'";
        seeded = db->executeSQL(
                     "INSERT INTO articles_variations (article_id, SKU, StartPrice, Quantity, "
                     "VariantXml) VALUES ("
                     + id + ", 'V-rot', 5, 1, " + xml.arg("rot") + "), (" + id
                     + ", 'V-blau', 5, 1, " + xml.arg("blau") + ")")
            && seeded;
        seeded = db->executeSQL("INSERT INTO articles_images (article_id, image, variant_name) "
                                "VALUES ("
                                + id + ", 'rot.jpg', 'rot')")
            && seeded;
    }
    if (!seeded)
        QTest::qFail("the test's article could not be stored", __FILE__, __LINE__);
    return id.toInt();
}

// Articles and their pictures, by title: "A:title|folder|template|price|quantity" and
// "I:title|image|sort|value". A copied picture's name loses the prefix the copy gives it.
QStringList snapshot(Database *db)
{
    QStringList lines;
    for (const auto &row : db->select("SELECT Title, Folder, TemplateName, StartPrice, Quantity "
                                      "FROM articles")
                               .value())
        lines << QString("A:%1|%2|%3|%4|%5")
                     .arg(row.value("Title").toString(), row.value("Folder").toString(),
                          row.value("TemplateName").toString())
                     .arg(row.value("StartPrice").toDouble())
                     .arg(row.value("Quantity").toInt());
    for (const auto &row : db->select("SELECT a.Title AS title, i.image AS image, i.sort AS sort, "
                                      "i.variant_name AS value FROM articles_images i JOIN "
                                      "articles a ON a.id = i.article_id")
                               .value())
        lines << QString("I:%1|%2|%3|%4")
                     .arg(row.value("title").toString(),
                          row.value("image").toString().section('_', -1))
                     .arg(row.value("sort").toInt())
                     .arg(row.value("value").toString());
    lines.sort();
    return lines;
}

// Answers as DialogAnswers does; the first time a question (or a warning) is shown, its
// action runs first: another workstation's write while the seller reads, a held answer let go.
class AnswersThatAct : public DialogAnswers
{
public:
    std::function<void()> onQuestion;
    std::function<void()> onMessage;
    bool question(QWidget *parent, const QString &header, const QString &text) override
    {
        if (const auto act = std::exchange(onQuestion, {}))
            act();
        return DialogAnswers::question(parent, header, text);
    }
    void message(QWidget *parent, const QString &header, const QString &text, int type) override
    {
        if (type == 2)
            if (const auto act = std::exchange(onMessage, {}))
                act();
        DialogAnswers::message(parent, header, text, type);
    }
};

// The variations of the article `id` as stored, "SKU|price|quantity" in id order, and its
// summary columns "=HasVariation|HasVariationMinPrice".
QStringList storedVariations(Database *db, int id)
{
    QStringList lines;
    for (const auto &row : db->select("SELECT SKU, StartPrice, Quantity FROM articles_variations "
                                      "WHERE article_id="
                                      + QString::number(id) + " ORDER BY id")
                               .value())
        lines << QString("%1|%2|%3")
                     .arg(row.value("SKU").toString(),
                          QString::number(row.value("StartPrice").toDouble(), 'f', 2),
                          row.value("Quantity").toString());
    const auto summary = db->select("SELECT HasVariation, HasVariationMinPrice FROM articles "
                                    "WHERE id="
                                    + QString::number(id))
                             .value();
    if (!summary.isEmpty())
        lines << QString("=%1|%2").arg(
            summary.first().value("HasVariation").toString(),
            QString::number(summary.first().value("HasVariationMinPrice").toDouble(), 'f', 2));
    return lines;
}

// The same as the editor's variation list shows it, without the summary.
QStringList listedVariations(AddArticle *editor)
{
    QStringList lines;
    auto *list = editor->findChild<QTreeWidget *>("VariantList");
    for (int i = 0; i < list->topLevelItemCount(); ++i)
        lines << QString("%1|%2|%3")
                     .arg(list->topLevelItem(i)->text(0), list->topLevelItem(i)->text(1),
                          list->topLevelItem(i)->text(2));
    return lines;
}

// Runs `answer` on the next dialog the editor opens modally.
void onNextModal(const std::function<void(QDialog *)> &answer)
{
    auto *timer = new QTimer;
    timer->setInterval(10);
    QObject::connect(timer, &QTimer::timeout, timer, [timer, answer] {
        auto *dialog = qobject_cast<QDialog *>(QApplication::activeModalWidget());
        if (!dialog || dialog->inherits("AddArticle"))
            return;
        timer->stop();
        timer->deleteLater();
        answer(dialog);
    });
    timer->start();
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
    void variationCommands_data();
    void variationCommands();

private:
    std::unique_ptr<TestSupport::FakeHttpServer> m_server;
    std::unique_ptr<DialogAnswers> m_answers;
};

void TestEditorExactness::init()
{
    m_server = std::make_unique<TestSupport::FakeHttpServer>();
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

// One statement's answer cut, held past the time-out or refused: the database holds the state
// before or after; not stored is told and saved again once, a cut commit counts as saved, and a
// held one is left to the opener to tell.
void TestEditorExactness::oneStatementLost_data()
{
    QTest::addColumn<QString>("kind");
    QTest::addColumn<QByteArray>("statement");
    QTest::addColumn<int>("occurrence");
    QTest::addColumn<QString>("fault");

    // Each statement cut; held once per kind of statement (unknownToldOnce holds the others).
    const QList<std::tuple<const char *, const char *, QByteArray, int, bool>> statements = {
        { "new", "insert", "INSERT INTO articles", 1, true },
        { "new", "thumbnail", "UPDATE articles SET", 1, false },
        { "new", "commit", "COMMIT", 1, false },
        { "existing", "re-read", "FOR UPDATE", 1, true },
        { "existing", "update", "UPDATE articles SET", 1, true },
        { "existing", "commit", "COMMIT", 1, false },
        { "template", "insert", "INSERT INTO articles", 1, false },
        { "template", "commit", "COMMIT", 1, true },
        { "pictures", "pictures' delete", "DELETE FROM articles_images", 1, true },
        { "pictures", "second picture", "INSERT INTO articles_images", 2, false },
        { "pictures", "variation picture", "INSERT INTO articles_images", 3, false },
        { "pictures", "commit", "COMMIT", 1, true },
    };
    for (const auto &[kind, name, statement, occurrence, held] : statements) {
        QTest::addRow("%s, %s cut", kind, name) << kind << statement << occurrence << "cut";
        if (held)
            QTest::addRow("%s, %s held", kind, name) << kind << statement << occurrence << "hold";
    }
    // For a refusal, `statement` names the table, the statement and the rows refused.
    const QByteArray main = "articles_images INSERT COALESCE(NEW.variant_name, '') = ''";
    QTest::newRow("pictures, main pictures refused by a trigger")
        << "pictures" << main << 0 << "refuse";
    QTest::newRow("pictures, variation pictures refused by a trigger")
        << "pictures" << QByteArray(main).replace("= ''", "<> ''") << 0 << "refuse";
    QTest::newRow("new, refused by a trigger")
        << "new" << QByteArray("articles INSERT") << 0 << "refuse";
    QTest::newRow("new, thumbnail refused by a trigger")
        << "new" << QByteArray("articles UPDATE") << 0 << "refuse";
}

void TestEditorExactness::oneStatementLost()
{
    QFETCH(QString, kind);
    QFETCH(QByteArray, statement);
    QFETCH(int, occurrence);
    QFETCH(QString, fault);
    const QString expect = fault == "refuse" || statement != "COMMIT" ? "failed"
        : fault == "cut"                                              ? "saved"
                                                                      : "unknown";

    const auto backend = *static_cast<TestSupport::Backend *>(
        QTest::qGlobalData("backend", ::qMetaTypeId<TestSupport::Backend>()));
    if (fault != "refuse" && backend == TestSupport::Backend::SQLite)
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
    const int id = prepare(db, kind == "existing" || kind == "pictures", kind == "pictures");
    if (fault != "refuse")
        Database::setDefaultResponseTimeout(kTimeoutSeconds);

    // The state each save leaves when it is stored.
    QStringList after = { kind == "new"            ? "A:Neue Lok|-10||8|1"
                              : kind == "template" ? "A:Vorlage Lok|-100|Loks|0|1"
                                                   : "A:Lok neu|-10||12.5|3" };
    if (id)
        after << "I:Lok neu|p1.png|0|"
              << (kind == "pictures" ? "I:Lok neu|neu.png|1|" : "I:Lok neu|p2.png|1|");
    if (kind == "pictures")
        after << "I:Lok neu|blau.png|0|blau"
              << "I:Lok neu|rot.jpg|0|rot";
    after.sort();
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
        QVERIFY(addPicture(&editor));
        EditorFixture::apply(&editor, { "show=TabVars", "ImageOptionSelectBox=Farbe" });
        auto *values = editor.findChild<QTreeWidget *>("VariantImageList");
        values->findItems("blau", Qt::MatchExactly).value(0)->setSelected(true);
        QVERIFY(QMetaObject::invokeMethod(
            &editor, "handleFileSaveAsBeforeCloseSelected",
            Q_ARG(QString, pictureFile(QDir::tempPath() + "/zerire-exact/blau.png"))));
    }

    QSemaphore held;
    auto letGo = qScopeGuard([&held] { held.release(); });
    const QString table = QString(statement).section(' ', 0, 0);
    const QString event = QString(statement).section(' ', 1, 1);
    if (fault == "refuse") {
        QVERIFY(TestSupport::refuseRows(db, table, event, "gesperrt",
                                        QString(statement).section(' ', 2)));
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
    if (fault == "commit refused")
        QTRY_COMPARE(proxy->refusals(), 1);
    else if (fault != "refuse")
        QTRY_COMPARE(proxy->cuts(), 1);

    const QStringList shown = m_answers->shownTexts();
    const QStringList now = snapshot(db);
    QVERIFY2(now == before || now == after, qPrintable(now.join(" / ")));
    QCOMPARE(editor.outcomeUnknown(), expect == "unknown");
    if (expect == "unknown") {
        QCOMPARE(editor.unknownCommand(), kind == "template" ? "die Vorlage" : "der Artikel");
        QVERIFY2(shown.isEmpty(), qPrintable(shown.join(" / ")));
        QVERIFY(!editor.isVisible());
        return;
    }
    if (expect == "saved") {
        QCOMPARE(now, after);
        QCOMPARE(shown,
                 kind == "template" ? QStringList { "Die Vorlage wurde gespeichert" }
                                    : QStringList());
        if (kind != "template") {
            QCOMPARE(editor.result(), 1);
            QCOMPARE(editor.getLoadId(),
                     db->selectOne("SELECT id FROM articles WHERE Title <> 'Lok'").value().toInt());
        }
        return;
    }
    // Not stored, told once; the editor stays open.
    QCOMPARE(now, before);
    QCOMPARE(shown.size(), 1);
    QVERIFY2(shown.first().startsWith(kind == "template" ? "Die Vorlage konnte nicht"
                                                         : "Artikel konnte nicht gespeichert"),
             qPrintable(shown.first()));
    QVERIFY(editor.isVisible());
    if (fault == "refuse")
        QVERIFY(db->executeSQL("DROP TRIGGER refuse_" + table + "_" + event.toLower()));
    m_answers->clear();
    save(editor, kind);
    QCOMPARE(snapshot(db), after);
}

// Another workstation changed the article since the editor opened it: only the seller's
// changes are written, and where both changed the same thing the seller is asked.
void TestEditorExactness::twoWorkstations_data()
{
    QTest::addColumn<QString>("other");
    QTest::addColumn<QStringList>("actions"); // "+neu.png": the seller adds that picture
    QTest::addColumn<QList<bool>>("answers");
    QTest::addColumn<QString>("question");
    QTest::addColumn<QString>("stored"); // title|price|quantity|verified pictures

    const QString changed = " inzwischen an einem anderen Arbeitsplatz geändert.";
    const QString price = "Der Preis wurde" + changed;
    const QString pictures = "Die Bilder wurden" + changed;
    const QString both = "UPDATE articles SET StartPrice=20, Quantity=7";
    const QString dropP2 = "DELETE FROM articles_images WHERE image='p2.png'";
    const QStringList title = { "Title=Lok A" };
    const QStringList titlePrice = { "Title=Lok A", "StartPrice=15" };
    const QString all = " p1.png p2.png rot.jpg";
    QTest::newRow("other columns kept")
        << both << title << QList<bool>() << QString() << "Lok A|20|7|0" + all;
    QTest::newRow("same column, keep mine")
        << both << titlePrice << QList<bool> { true } << price << "Lok A|15|7|0" + all;
    QTest::newRow("same column, take theirs")
        << both << titlePrice << QList<bool> { false, true } << price << "Lok A|20|7|0" + all;
    QTest::newRow("same column, cancelled")
        << both << titlePrice << QList<bool> { false, false } << price << "Lok|20|7|0" + all;
    QTest::newRow("same column, same value")
        << "UPDATE articles SET StartPrice=15" << QStringList { "StartPrice=15" } << QList<bool>()
        << QString() << "Lok|15|3|0" + all;
    QTest::newRow("several columns named")
        << "UPDATE articles SET StartPrice=20, Title='Lok B'" << titlePrice << QList<bool> { true }
        << price + "\nDie Artikelbezeichnung wurde" + changed << "Lok A|15|3|0" + all;
    QTest::newRow("verified meanwhile, reset without a question")
        << "UPDATE articles SET IsVerified=1, CurrentPrice=14" << title << QList<bool>()
        << QString() << "Lok A|12.5|3|0" + all;
    QTest::newRow("pictures of the other kept")
        << dropP2 << title << QList<bool>() << QString() << "Lok A|12.5|3|0 p1.png rot.jpg";
    QTest::newRow("variation pictures of the other kept")
        << "UPDATE articles_images SET image='gruen.jpg' WHERE variant_name='rot'"
        << title + QStringList { "show=TabVars", "ImageOptionSelectBox=Farbe" } << QList<bool>()
        << QString() << "Lok A|12.5|3|0 p1.png p2.png gruen.jpg";
    QTest::newRow("pictures both changed, keep mine")
        << dropP2 << QStringList { "+neu.png" } << QList<bool> { true } << pictures
        << "Lok|12.5|3|0 p1.png p2.png neu.png rot.jpg";
    QTest::newRow("pictures both changed, take theirs")
        << dropP2 << QStringList { "Quantity=4", "+neu.png" } << QList<bool> { false, true }
        << pictures << "Lok|12.5|4|0 p1.png rot.jpg";
    // After ";;": what the other workstation writes while the first question is on screen.
    const QString again = "UPDATE articles SET StartPrice=20;;UPDATE articles SET StartPrice=25";
    QTest::newRow("same column changed again while asked, keep mine")
        << again << titlePrice << QList<bool> { true, true } << price << "Lok A|15|3|0" + all;
    QTest::newRow("same column changed again while asked, take theirs")
        << again << titlePrice << QList<bool> { true, false, true } << price
        << "Lok A|25|3|0" + all;
    // Listed meanwhile: the seller decides whether the edits go into the running listing.
    const QString listed = "Der Artikel wurde inzwischen an einem anderen Arbeitsplatz "
                           "eingestellt und läuft jetzt bei eBay (Artikelnummer 120000000001).";
    const QString list = "UPDATE articles SET Folder=-9, FolderOld=-10, ItemID='120000000001'";
    QTest::newRow("listed meanwhile, saved into the listing")
        << list << title << QList<bool> { true } << listed << "Lok A|12.5|3|0" + all;
    QTest::newRow("listed meanwhile, cancelled")
        << list << title << QList<bool> { false } << listed << "Lok|12.5|3|0" + all;
    QTest::newRow("listed and priced meanwhile, both asked")
        << list + ", StartPrice=20" << titlePrice << QList<bool> { true, true } << listed
        << "Lok A|15|3|0" + all;
    QTest::newRow("listed while the price question is on screen")
        << "UPDATE articles SET StartPrice=20;;" + list << titlePrice << QList<bool> { true, false }
        << price << "Lok|20|3|0" + all;
    QTest::newRow("in the outbox without an item number, not asked")
        << "UPDATE articles SET Folder=-2, FolderOld=-10, DoCheck=2" << title << QList<bool>()
        << QString() << "Lok A|12.5|3|0" + all;
}

void TestEditorExactness::twoWorkstations()
{
    QFETCH(QString, other);
    QFETCH(QStringList, actions);
    QFETCH(QList<bool>, answers);
    QFETCH(QString, question);
    QFETCH(QString, stored);

    APP_TEST_DATABASE(t);
    // The test's connection is the other workstation; the editor works on its own.
    Database *workstationB = t.db();
    const int id = prepare(workstationB, true, true);

    AddArticle editor(nullptr, id, kDrafts, false);
    editor.show();
    const bool newPicture = actions.removeAll("+neu.png");
    EditorFixture::apply(&editor, actions);
    if (newPicture)
        QVERIFY(addPicture(&editor));
    QVERIFY(workstationB->executeSQL(other.section(";;", 0, 0)));
    AnswersThatAct seller;
    if (other.contains(";;"))
        seller.onQuestion = [&] {
            QVERIFY(workstationB->executeSQL(other.section(";;", 1)));
        };
    for (bool answer : answers)
        seller.pushQuestion(answer);
    editor.accept();
    QTRY_VERIFY(EditorFixture::saveSettled(&editor));

    const auto asked = seller.questions();
    QCOMPARE(asked.size(), answers.size());
    if (!asked.isEmpty())
        QVERIFY2(asked.first().text.startsWith(question + "\n\n"), qPrintable(asked.first().text));
    QVERIFY2(seller.messages().isEmpty(), qPrintable(seller.lastMessageText()));
    // Cancelled (the last answer is "Nein"), the editor stays open with the seller's edits.
    const bool cancelled = !answers.isEmpty() && !answers.last();
    QCOMPARE(editor.result(), cancelled ? 0 : 1);
    QStringList now
        = { TestSupport::values(workstationB, id, "Title,StartPrice,Quantity,IsVerified") };
    for (const auto &row : workstationB
                               ->select("SELECT image FROM articles_images ORDER BY "
                                        "variant_name, sort, id")
                               .value())
        now << row.value("image").toString().section('_', -1);
    QCOMPARE(now.join(' '), stored);
}

// From the main window, a held commit answer is told once as unknown and the list shows what
// is stored.
void TestEditorExactness::unknownToldOnce_data()
{
    QTest::addColumn<bool>("opened");
    QTest::addColumn<bool>("duplicate"); // "Duplizieren" of the opened article, with variations
    QTest::newRow("new article") << false << false;
    QTest::newRow("opened article") << true << false;
    QTest::newRow("duplicated article with variations") << true << true;
}

void TestEditorExactness::unknownToldOnce()
{
    QFETCH(bool, opened);
    QFETCH(bool, duplicate);
    Database::setDefaultResponseTimeout(kTimeoutSeconds);
    APP_TEST_DATABASE_BEHIND_PROXY(proxy, data, "a local file has no connection that could be cut");
    const int id = prepare(data.db(), opened, duplicate);
    TestSupport::writeMySqlSetup(data.dataDir(), proxy.server(), data.mysqlDatabaseName(), true,
                                 false);
    TestSupport::MainWindowFixture window(data);
    QVERIFY(window.window());
    QVERIFY(window.showFolder(kDrafts));

    QSemaphore held;
    auto letGo = qScopeGuard([&held] { held.release(); });
    QTimer poll;
    connect(&poll, &QTimer::timeout, this, [&] {
        auto *editor = qobject_cast<AddArticle *>(QApplication::activeModalWidget());
        if (!editor || !poll.isActive())
            return;
        poll.stop();
        edit(editor, opened ? "existing" : "new");
        m_answers->clear();
        proxy.cutAfter("COMMIT", 1, [&held](quint32) { held.tryAcquire(1, 60000); });
        editor->accept();
        QTRY_VERIFY(EditorFixture::saveSettled(editor));
        held.release();
    });
    poll.start(10);
    if (duplicate) {
        window.window()->IsItemWithIdHere(id)->setSelected(true);
        window.window()->findChild<QAction *>("actionDuplizieren")->trigger();
    } else if (opened) {
        emit window.itemList()->itemDoubleClicked(window.window()->IsItemWithIdHere(id), 0);
    } else {
        window.window()->findChild<QAction *>("actionNeuer_Artikel")->trigger();
    }
    QVERIFY(!poll.isActive());
    QCOMPARE(proxy.cuts(), 1);

    const QStringList shown = m_answers->shownTexts();
    QCOMPARE(shown.size(), 1);
    QVERIFY2(shown.first().startsWith("Ob der Artikel gespeichert wurde, ist nicht bekannt"),
             qPrintable(shown.first()));
    if (duplicate) {
        // The commit took the copy with its variations and their picture; both are listed.
        QCOMPARE(TestSupport::values(data.db(), id, "Title"), QString("Lok"));
        const QString copy
            = data.db()->selectOne("SELECT id FROM articles WHERE Title='Lok neu'").value();
        QCOMPARE(data.db()->selectCount("SELECT id FROM articles").value(), 2);
        QCOMPARE(data.db()
                     ->selectCount("SELECT id FROM articles_variations WHERE article_id=" + copy)
                     .value(),
                 2);
        QCOMPARE(data.db()
                     ->selectOne("SELECT image FROM articles_images WHERE variant_name='rot' "
                                 "AND article_id="
                                 + copy)
                     .value(),
                 QString("rot.jpg"));
        QTRY_COMPARE(window.itemList()->topLevelItemCount(), 2);
        QVERIFY(window.window()->IsItemWithIdHere(copy.toInt()));
        return;
    }
    // The server ran the commit: the list shows the saved row, once, as soon as the server
    // answers the window again.
    const auto stored = data.db()->select("SELECT id, Title FROM articles").value();
    QCOMPARE(stored.size(), 1);
    QCOMPARE(stored.first().value("Title").toString(), opened ? "Lok neu" : "Neue Lok");
    QTRY_COMPARE(window.itemList()->topLevelItemCount(), 1);
    QCOMPARE(window.itemList()->topLevelItem(0)->data(0, ItemListRole::ArticleIdRole).toInt(),
             stored.first().value("id").toInt());
}

// The variation page's commands, each one transaction with the article's lowest price: one
// statement's answer cut, held past the time-out or refused leaves the variations before or
// after the command, never a part; not stored is told as such and the command given again
// writes it once; a commit whose answer was lost is written again (it sets values), and told
// as not known when that fails. The editor's list shows what is stored.
void TestEditorExactness::variationCommands_data()
{
    QTest::addColumn<QString>("command"); // several, generator, removal, zero
    QTest::addColumn<QByteArray>("statement");
    QTest::addColumn<int>("occurrence");
    QTest::addColumn<QString>("fault"); // cut, hold, refuse (a trigger), commit refused

    const QByteArray summary = "UPDATE articles SET HasVariation";
    const QByteArray update = "UPDATE articles_variations SET";
    const QList<std::tuple<const char *, const char *, QByteArray, int, const char *>> rows = {
        { "several", "variations' update held", update, 1, "hold" },
        { "several", "summary update held", summary, 1, "hold" },
        { "several", "summary update cut", summary, 1, "cut" },
        { "several", "commit cut", "COMMIT", 1, "cut" },
        { "several", "commit held", "COMMIT", 1, "hold" },
        { "several", "commit refused", "COMMIT", 1, "commit refused" },
        { "several", "summary refused by a trigger", "articles UPDATE", 0, "refuse" },
        { "generator", "second insert held", "INSERT INTO articles_variations", 2, "hold" },
        { "generator", "third insert cut", "INSERT INTO articles_variations", 3, "cut" },
        { "generator", "commit cut", "COMMIT", 1, "cut" },
        { "generator", "commit held", "COMMIT", 1, "hold" },
        { "generator", "commit refused", "COMMIT", 1, "commit refused" },
        { "generator", "third insert refused by a trigger", "articles_variations INSERT", 3,
          "refuse" },
        { "removal", "delete held", "DELETE FROM articles_variations", 1, "hold" },
        { "removal", "summary update cut", summary, 1, "cut" },
        { "removal", "commit cut", "COMMIT", 1, "cut" },
        { "removal", "commit held", "COMMIT", 1, "hold" },
        { "removal", "commit refused", "COMMIT", 1, "commit refused" },
        { "removal", "summary refused by a trigger", "articles UPDATE", 0, "refuse" },
        { "zero", "update held", update, 1, "hold" },
        { "zero", "commit cut", "COMMIT", 1, "cut" },
        { "zero", "commit held", "COMMIT", 1, "hold" },
        { "zero", "commit refused", "COMMIT", 1, "commit refused" },
    };
    for (const auto &[command, name, statement, occurrence, fault] : rows)
        QTest::addRow("%s, %s", command, name) << command << statement << occurrence << fault;
}

void TestEditorExactness::variationCommands()
{
    QFETCH(QString, command);
    QFETCH(QByteArray, statement);
    QFETCH(int, occurrence);
    QFETCH(QString, fault);
    const QString expect = fault == "refuse" || fault == "commit refused" || statement != "COMMIT"
        ? "not stored"
        : fault == "cut" ? "stored"
                         : "unknown";

    const auto backend = *static_cast<TestSupport::Backend *>(
        QTest::qGlobalData("backend", ::qMetaTypeId<TestSupport::Backend>()));
    if (fault != "refuse" && backend == TestSupport::Backend::SQLite)
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
    const int id = prepare(db, true);
    // Three colours; a running listing for the quantity 0.
    const QString xml = "'<NameValueList><Name>Farbe</Name><Value>%1</Value></NameValueList>'";
    QVERIFY(db->executeSQL("INSERT INTO articles_variations (article_id, SKU, StartPrice, "
                           "Quantity, VariantXml) VALUES ("
                           + QString::number(id) + ", 'V-rot', 12345.67, 2, " + xml.arg("rot")
                           + "), (" + QString::number(id) + ", 'V-blau', 23456.78, 2, "
                           + xml.arg("blau") + "), (" + QString::number(id)
                           + ", 'V-gruen', 34567.89, 2, " + xml.arg("gruen") + ")"));
    QVERIFY(
        db->executeSQL("UPDATE articles SET HasVariation=1, HasVariationMinPrice='12345.67'"
                       + QString(command == "zero" ? ", Folder=-9, ItemID='120000000001'" : "")));
    if (fault != "refuse")
        Database::setDefaultResponseTimeout(kTimeoutSeconds);

    const QStringList before = storedVariations(db, id);
    QStringList after = before;
    if (command == "several") {
        for (int i = 0; i < 3; ++i)
            after[i] = after[i].section('|', 0, 0) + "|45678.90|2";
        after[3] = "=1|45678.90";
    } else if (command == "generator") {
        after.insert(3, "V-1|999.99|1");
        after.insert(4, "V-2|999.99|1");
        after.insert(5, "V-3|999.99|1");
        after[6] = "=1|999.99";
    } else if (command == "removal") {
        after = QStringList { before.at(2), "=1|34567.89" };
    } else {
        after[0] = "V-rot|12345.67|0";
        after[1] = "V-blau|23456.78|0";
    }

    AddArticle editor(nullptr, id, command == "zero" ? -9 : kDrafts, false);
    EditorFixture::apply(&editor, { "show=TabVars" });
    auto *list = editor.findChild<QTreeWidget *>("VariantList");
    QCOMPARE(listedVariations(&editor), before.mid(0, 3));

    // The seller's command; `dialogResult` gets the result of its dialog, if it has one.
    AnswersThatAct answers;
    int dialogResult = -1;
    bool dialogUnknown = false;
    const auto give = [&] {
        list->clearSelection();
        if (command == "several") {
            list->selectAll();
            onNextModal([&](QDialog *dialog) {
                auto *price = dialog->findChild<QLineEdit *>("StartPrice");
                price->setText("45678,90");
                price->setModified(true);
                dialog->accept();
                dialogUnknown = qobject_cast<EditVar *>(dialog)->outcomeUnknown();
                dialogResult = dialog->isVisible() ? 0 : dialog->result();
                if (dialog->isVisible())
                    dialog->reject();
            });
            editor.findChild<QPushButton *>("EditVars")->click();
        } else if (command == "generator") {
            onNextModal([&](QDialog *dialog) {
                auto *tree = dialog->findChild<QTreeWidget *>("treeWidget");
                tree->setCurrentItem(tree->topLevelItem(0));
                tree->topLevelItem(0)->setSelected(true);
                answers.pushText("lila, weiß, schwarz");
                dialog->findChild<QPushButton *>("NewValue")->click();
                dialog->findChild<QDoubleSpinBox *>("PriceStart")->setValue(999.99);
                answers.clear();
                dialog->accept();
                dialogUnknown = qobject_cast<VariantGenerator *>(dialog)->outcomeUnknown();
                dialogResult = dialog->isVisible() ? 0 : dialog->result();
                if (dialog->isVisible())
                    dialog->reject();
            });
            editor.findChild<QPushButton *>("pushButton_3")->click();
        } else {
            list->topLevelItem(0)->setSelected(true);
            list->topLevelItem(1)->setSelected(true);
            if (command == "zero")
                answers.pushQuestion(true);
            editor.findChild<QPushButton *>("DelVars")->click();
        }
    };

    QSemaphore held;
    auto letGo = qScopeGuard([&held] { held.release(); });
    // A held answer is let go once the seller is told; the list read after it finds the server.
    answers.onMessage = [&held] {
        held.release();
    };
    if (fault == "refuse") {
        const QString table = QString(statement).section(' ', 0, 0);
        QVERIFY(TestSupport::refuseRows(
            db, table, QString(statement).section(' ', 1, 1), "gesperrt",
            occurrence ? "NEW.SKU = 'V-" + QString::number(occurrence) + "'" : QString()));
    } else if (fault == "commit refused") {
        proxy->refuse(statement, occurrence);
    } else if (fault == "cut") {
        proxy->cutAfter(statement, occurrence);
    } else {
        proxy->cutAfter(statement, occurrence, [&held](quint32) { held.tryAcquire(1, 60000); });
    }
    give();
    letGo.dismiss();
    held.release();
    if (fault == "commit refused")
        QTRY_COMPARE(proxy->refusals(), 1);
    else if (fault != "refuse")
        QTRY_COMPARE(proxy->cuts(), 1);

    QStringList told;
    for (const auto &message : answers.messages())
        told << message.text;
    const QStringList now = storedVariations(db, id);
    QVERIFY2(now == before || now == after, qPrintable(now.join(" / ")));
    if (command == "several" || command == "generator") {
        QCOMPARE(dialogResult, expect == "stored" ? 1 : 0);
        QCOMPARE(dialogUnknown, expect == "unknown");
    }
    if (expect == "stored") {
        QCOMPARE(now, after);
        QVERIFY2(told.isEmpty(), qPrintable(told.join(" / ")));
        QCOMPARE(listedVariations(&editor), after.mid(0, after.size() - 1));
        return;
    }
    QCOMPARE(told.size(), 1);
    if (expect == "unknown") {
        QVERIFY2(told.first().startsWith("Ob "), qPrintable(told.first()));
        // The server ran the commit: the list shows it stored.
        QCOMPARE(now, after);
        QCOMPARE(listedVariations(&editor), after.mid(0, after.size() - 1));
        return;
    }
    // Not stored, and said so; the list still shows what is stored.
    const QString notStored = command == "several" ? "Die Varianten konnten nicht gespeichert "
                                                     "werden, keine wurde geändert"
        : command == "generator" ? "Die Varianten konnten nicht angelegt werden, es wurde keine "
                                   "gespeichert"
        : command == "removal"   ? "Die Varianten konnten nicht gelöscht werden, keine wurde "
                                   "gelöscht"
                                 : "Die Menge der Varianten konnte nicht auf 0 gesetzt werden, "
                                   "keine wurde geändert";
    QVERIFY2(told.first().startsWith(notStored), qPrintable(told.first()));
    QCOMPARE(now, before);
    QCOMPARE(listedVariations(&editor), before.mid(0, 3));
    // Given again, it is written once.
    if (fault == "refuse")
        QVERIFY(db->executeSQL("DROP TRIGGER refuse_" + QString(statement).section(' ', 0, 0) + "_"
                               + QString(statement).section(' ', 1, 1).toLower()));
    answers.clear();
    give();
    QCOMPARE(storedVariations(db, id), after);
    QCOMPARE(listedVariations(&editor), after.mid(0, after.size() - 1));
    QCOMPARE(answers.messages().size(), 0);
}

APP_TEST_MAIN(TestEditorExactness)
#include "test_editorexactness.moc"
