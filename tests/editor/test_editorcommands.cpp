// The main window's commands that open the article editor (new, open, duplicate) and the
// copy of variations that goes with a duplicate, on SQLite and MariaDB.
#include "editor/addarticle.h"
#include "editor/variationcopy.h"
#include "mainwindow/mainwindow.h"
#include "tests/editor/editorfixture.h"
#include "tests/support/dialoganswers.h"
#include "tests/support/mainwindowfixture.h"
#include "tests/support/testdatabase.h"
#include "tests/support/testmain.h"
#include "views/foldermodel.h"
#include "views/foldernode.h"
#include "views/itemlistroles.h"

#include <QAction>
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>
#include <QTreeView>
#include <QTreeWidget>
#include <functional>
#include <memory>

using TestSupport::Backend;
using TestSupport::insertArticle;

namespace {
// answerEditor: fill in what saving needs and press OK.
constexpr int kSave = 2;
} // namespace
using TestSupport::MainWindowFixture;
using TestSupport::TestDatabase;

namespace {

constexpr int kDrafts = -10;

QList<int> listedIds(const QTreeWidget *list)
{
    QList<int> ids;
    for (int i = 0; i < list->topLevelItemCount(); ++i)
        ids << list->topLevelItem(i)->data(0, ItemListRole::ArticleIdRole).toInt();
    return ids;
}

} // namespace

class TestEditorCommands : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase_data() { TestSupport::addBackendRows(); }
    void init();
    void cleanup();

    void newArticle_data();
    void newArticle();
    void newArticleNeedsAccount_data();
    void newArticleNeedsAccount();
    void open_data();
    void open();
    void openDeletedArticle();
    void duplicateOne_data();
    void duplicateOne();
    void duplicateSeveral_data();
    void duplicateSeveral();
    void variationsOfDuplicate();

private:
    void openWindow();
    // Answers the editor the next command opens with `result`, after `meanwhile` ran; the
    // editor's title is recorded. Fails when no editor opens.
    void answerEditor(int result, const std::function<void()> &meanwhile = {});
    // Why a real save in answerEditor did not close the editor.
    QString m_saveRefused;
    int count(int folder) const;
    QTreeWidget *list() const { return m_window->itemList(); }
    void trigger(const char *action) const
    {
        m_window->window()->findChild<QAction *>(QLatin1String(action))->trigger();
    }

    std::unique_ptr<TestDatabase> m_t;
    std::unique_ptr<TestSupport::FakeHttpServer> m_server;
    std::unique_ptr<MainWindowFixture> m_window;
    std::unique_ptr<DialogAnswers> m_answers;
    int m_userFolder = 0;
    QString m_editorTitle;
    bool m_windowWasDisabled = false;
};

void TestEditorCommands::init()
{
    const auto backend
        = *static_cast<Backend *>(QTest::qGlobalData("backend", ::qMetaTypeId<Backend>()));
    APP_REQUIRE_BACKEND(backend);
    m_t = std::make_unique<TestDatabase>(backend);
    QVERIFY2(m_t->error().isEmpty(), qPrintable(m_t->error()));
    m_server = std::make_unique<TestSupport::FakeHttpServer>();
    m_server->pointConfigHere();
    EditorFixture::serveReferenceData(*m_server);
    EditorFixture::cacheGermanSite(m_t->db());
    m_userFolder = m_t->db()->insertSqlClean(
        { { "foldername", "Modellbahn" }, { "folderparentid", kDrafts } }, "folders");
    m_answers = std::make_unique<DialogAnswers>();
    m_editorTitle.clear();
    m_saveRefused.clear();
}

void TestEditorCommands::cleanup()
{
    m_window.reset();
    m_answers.reset();
    m_server.reset();
    m_t.reset();
    TestSupport::resetApplicationState();
}

void TestEditorCommands::openWindow()
{
    m_window = std::make_unique<MainWindowFixture>(*m_t);
}

void TestEditorCommands::answerEditor(int result, const std::function<void()> &meanwhile)
{
    // The editor calls the marketplace while it is built, so events run before it is shown:
    // it is answered once it runs modally.
    auto *poll = new QTimer(this);
    connect(poll, &QTimer::timeout, this, [this, poll, result, meanwhile] {
        auto *editor = qobject_cast<AddArticle *>(QApplication::activeModalWidget());
        if (!editor)
            return;
        poll->deleteLater();
        poll->stop();
        m_editorTitle = editor->windowTitle();
        m_windowWasDisabled = !m_window->window()->isEnabled();
        if (meanwhile)
            meanwhile();
        if (result == kSave) {
            // A real save: what the checks ask for is filled in, then OK.
            if (editor->findChild<QLineEdit *>("Title")->text().isEmpty())
                EditorFixture::apply(editor, { "Title=Neue Lok" });
            EditorFixture::apply(editor, { "PlainHtmlCode=<p>Lok</p>", "Country=DE",
                                           "PostalCode=04109", "StartPrice=5" });
            editor->findChild<QPushButton *>("PrimaryCategory")->setProperty("CategoryID", "9394");
            editor->accept();
            if (editor->isVisible()) {
                m_saveRefused = m_answers->lastMessageText();
                editor->done(0);
            }
            return;
        }
        // Otherwise the test stands in for the editor's answer.
        editor->done(result);
    });
    poll->start(10);
}

int TestEditorCommands::count(int folder) const
{
    const auto *model = qobject_cast<FolderModel *>(m_window->treeView()->model());
    return model->findFolderWithId(folder)->count;
}

void TestEditorCommands::newArticle_data()
{
    QTest::addColumn<int>("shown");
    QTest::addColumn<int>("result");
    QTest::addColumn<int>("draftsAdded");
    QTest::addColumn<int>("shownAdded");
    QTest::newRow("saved while Active is shown") << -9 << kSave << 1 << 0;
    QTest::newRow("saved while Sold is shown") << -7 << kSave << 1 << 0;
    QTest::newRow("saved in a user folder") << -3000 << kSave << 0 << 1;
    QTest::newRow("cancelled") << -9 << 0 << 0 << 0;
}

void TestEditorCommands::newArticle()
{
    QFETCH(int, shown);
    QFETCH(int, result);
    QFETCH(int, draftsAdded);
    QFETCH(int, shownAdded);
    EditorFixture::addAccounts(m_t->db());
    insertArticle(m_t->db(), { { "Folder", -9 } });
    openWindow();
    if (shown == -3000)
        shown = m_userFolder;
    QVERIFY(m_window->showFolder(shown));
    const int drafts = count(kDrafts), before = count(shown);
    const QList<int> listed = listedIds(list());
    answerEditor(result);
    trigger("actionNeuer_Artikel");
    QVERIFY2(m_saveRefused.isEmpty(), qPrintable(m_saveRefused));
    QVERIFY(m_windowWasDisabled);
    QVERIFY(m_window->window()->isEnabled());
    QCOMPARE(m_editorTitle, QString("Artikel bearbeiten"));
    QCOMPARE(count(kDrafts) - drafts, shown == m_userFolder ? 0 : draftsAdded);
    QCOMPARE(count(shown) - before, shownAdded);
    if (shown != m_userFolder) {
        QCOMPARE(listedIds(list()), listed);
    } else {
        // The saved article's row is listed in the folder it was filed in.
        const int saved = m_t->db()->selectOne("SELECT MAX(id) FROM articles").value().toInt();
        QCOMPARE(listedIds(list()), listed + QList<int>({ saved }));
        QCOMPARE(m_t->db()
                     ->selectOne(QString("SELECT Folder FROM articles WHERE id=%1").arg(saved))
                     .value(),
                 QString::number(m_userFolder));
    }
}

// Without an account the command says what is needed: an account, which needs the developer
// keys, or the predecessor's data with its accounts.
void TestEditorCommands::newArticleNeedsAccount_data()
{
    QTest::addColumn<QStringList>("environment"); // NAME=value, or NAME alone to unset it
    QTest::addColumn<QString>("message");
    QTest::newRow("keys set")
        << QStringList { "ZERIRE_RUNAME=Haendler-Zerire-abc" }
        << "Für einen neuen Artikel wird ein eBay-Konto gebraucht: Bitte legen Sie zuerst unter "
           "„Extras › Einstellungen“ ein Konto an, oder importieren Sie die Daten von Rovive 2 "
           "(„Datei › Rovive 2 Daten importieren…“) mit ihren Konten.";
    QTest::newRow("no keys")
        << QStringList { "ZERIRE_DEV_ID", "ZERIRE_APP_ID", "ZERIRE_CERT_ID", "ZERIRE_RUNAME" }
        << "Für einen neuen Artikel wird ein eBay-Konto gebraucht. Ein Konto lässt sich erst "
           "anlegen, wenn die Entwicklerschlüssel von eBay eingetragen sind (es fehlt: "
           "ZERIRE_DEV_ID, ZERIRE_APP_ID, ZERIRE_CERT_ID, ZERIRE_RUNAME; siehe README, "
           "„Marketplace keys and addresses“). Ohne sie bringt der Import der Daten von Rovive 2 "
           "(„Datei › Rovive 2 Daten importieren…“) Konten und Artikel mit.";
}

void TestEditorCommands::newArticleNeedsAccount()
{
    QFETCH(QStringList, environment);
    QFETCH(QString, message);
    for (const QString &entry : environment) {
        if (entry.contains('='))
            qputenv(qPrintable(entry.section('=', 0, 0)), entry.section('=', 1).toUtf8());
        else
            qunsetenv(qPrintable(entry));
    }
    openWindow();
    trigger("actionNeuer_Artikel");
    qunsetenv("ZERIRE_RUNAME");
    QCOMPARE(m_answers->lastMessageText(), message);
    QVERIFY(m_window->window()->isEnabled());
}

void TestEditorCommands::open_data()
{
    QTest::addColumn<int>("result");
    QTest::addColumn<QString>("title");
    QTest::newRow("saved") << 1 << "Dampflok BR 01";
    QTest::newRow("cancelled") << 0 << "Artikel";
}

// The row follows what the editor saved; the counts stay.
void TestEditorCommands::open()
{
    QFETCH(int, result);
    QFETCH(QString, title);
    EditorFixture::addAccounts(m_t->db());
    const int id = insertArticle(m_t->db(), { { "Folder", -9 } });
    openWindow();
    const int active = count(-9);
    answerEditor(result, [this, id] {
        QVERIFY(m_t->db()->executeSQL(
            QString("UPDATE articles SET Title='Dampflok BR 01' WHERE id=%1").arg(id)));
    });
    emit list()->itemDoubleClicked(m_window->window()->IsItemWithIdHere(id), 0);
    QCOMPARE(m_editorTitle, QString("Artikel bearbeiten"));
    QCOMPARE(m_window->window()->IsItemWithIdHere(id)->data(0, ItemListRole::TitleRole).toString(),
             title);
    QCOMPARE(count(-9), active);
    QCOMPARE(list()->topLevelItemCount(), 1);
}

// An article deleted while it was listed: the user is told and no empty editor opens.
void TestEditorCommands::openDeletedArticle()
{
    EditorFixture::addAccounts(m_t->db());
    const int id = insertArticle(m_t->db(), { { "Folder", -9 } });
    openWindow();
    QVERIFY(m_t->db()->executeSQL(QString("DELETE FROM articles WHERE id=%1").arg(id)));
    bool editorShown = false;
    QTimer guard;
    connect(&guard, &QTimer::timeout, this, [&editorShown] {
        if (auto *editor = qobject_cast<QDialog *>(QApplication::activeModalWidget())) {
            editorShown = true;
            editor->done(0);
        }
    });
    guard.start(50);
    emit list()->itemDoubleClicked(m_window->window()->IsItemWithIdHere(id), 0);
    QTest::qWait(100);
    QVERIFY(!editorShown);
    QCOMPARE(m_answers->lastMessageText(),
             QString("Der Artikel wurde in der Datenbank nicht gefunden"));
    QVERIFY(m_window->window()->isEnabled());
}

void TestEditorCommands::duplicateOne_data()
{
    QTest::addColumn<int>("shown");
    QTest::addColumn<int>("result");
    QTest::addColumn<int>("draftsAdded");
    QTest::addColumn<bool>("variationsRefused"); // the copy of the variations is refused
    QTest::newRow("from Sold, saved") << -7 << kSave << 1 << false;
    QTest::newRow("from Sold, cancelled") << -7 << 0 << 0 << false;
    // The copy is stored with its variations or not at all.
    QTest::newRow("from Sold, variations refused") << -7 << kSave << 0 << true;
}

void TestEditorCommands::duplicateOne()
{
    QFETCH(int, shown);
    QFETCH(int, result);
    QFETCH(int, draftsAdded);
    QFETCH(bool, variationsRefused);
    EditorFixture::addAccounts(m_t->db());
    const int id = insertArticle(m_t->db(), { { "Folder", shown }, { "SKU", "D-'1'" } });
    QVERIFY(m_t->db()->insertSqlClean({ { "article_id", id },
                                        { "SKU", "D-'1'-rot" },
                                        { "StartPrice", "4" },
                                        { "VariantXml",
                                          "<NameValueList><Name>Farbe</Name><Value>rot"
                                          "</Value></NameValueList>" } },
                                      "articles_variations")
            > 0);
    openWindow();
    QVERIFY(m_window->showFolder(shown));
    const int drafts = count(kDrafts);
    list()->setCurrentItem(m_window->window()->IsItemWithIdHere(id));
    if (variationsRefused)
        QVERIFY(TestSupport::refuseRows(m_t->db(), "articles_variations", "INSERT", "gesperrt"));
    const int articles = m_t->db()->selectCount("SELECT id FROM articles").value();
    answerEditor(result);
    trigger("actionDuplizieren");
    if (variationsRefused) {
        QVERIFY2(m_saveRefused.startsWith("Artikel konnte nicht gespeichert werden"),
                 qPrintable(m_saveRefused));
        QCOMPARE(m_t->db()->selectCount("SELECT id FROM articles").value(), articles);
    } else {
        QVERIFY2(m_saveRefused.isEmpty(), qPrintable(m_saveRefused));
    }
    QCOMPARE(m_editorTitle, QString("Aus ausgewähltem Artikel erstellen"));
    QVERIFY(m_window->window()->isEnabled());
    QCOMPARE(count(kDrafts) - drafts, draftsAdded);
    QCOMPARE(listedIds(list()), QList<int>({ id }));
    // The saved duplicate has the source's variation, the source keeps its own.
    QCOMPARE(m_t->db()
                 ->selectCount("SELECT id FROM articles_variations WHERE SKU='D-''1''-rot'")
                 .value(),
             1 + draftsAdded);
}

void TestEditorCommands::duplicateSeveral_data()
{
    QTest::addColumn<int>("shown");
    QTest::addColumn<bool>("secondRefused"); // the copy of the second article is refused
    QTest::newRow("from Active into Drafts") << -9 << false;
    QTest::newRow("inside a user folder") << -3000 << false;
    // All copies or none: the others are not kept, and the seller reads why.
    QTest::newRow("from Active, second copy refused") << -9 << true;
}

// Several rows are copied without the editor, listing state cleared, variations kept.
void TestEditorCommands::duplicateSeveral()
{
    QFETCH(int, shown);
    QFETCH(bool, secondRefused);
    if (shown == -3000)
        shown = m_userFolder;
    QList<int> sources;
    for (const char *title : { "Eins", "Zwei", "Drei" }) {
        sources << insertArticle(m_t->db(),
                                 { { "Folder", shown },
                                   { "Title", title },
                                   { "ItemID", "1100" },
                                   { "WatchCount", 4 },
                                   { "EndDate", "2024-03-01 10:00:00" } });
    }
    QVERIFY(m_t->db()->insertSqlClean({ { "article_id", sources.at(1) }, { "SKU", "Z-1" } },
                                      "articles_variations")
            > 0);
    openWindow();
    QVERIFY(m_window->showFolder(shown));
    const int target = shown == m_userFolder ? m_userFolder : kDrafts;
    // The seller's copy list: one article, copied before duplicating.
    list()->topLevelItem(0)->setSelected(true);
    trigger("actionKopieren");
    const int before = count(target);
    list()->selectAll();
    if (secondRefused) {
        QVERIFY(TestSupport::refuseRows(m_t->db(), "articles", "INSERT", "Kopie gesperrt",
                                        "NEW.Title = 'Zwei'"));
        m_answers->clear();
        trigger("actionDuplizieren");
        QTRY_COMPARE(m_answers->messages().size(), 1);
        QVERIFY2(m_answers->lastMessageText().contains("Kopie gesperrt"),
                 qPrintable(m_answers->lastMessageText()));
        QCOMPARE(m_t->db()->selectCount("SELECT id FROM articles").value(), 3);
        QCoreApplication::processEvents();
        QCOMPARE(m_answers->messages().size(), 1);
        QCOMPARE(count(target), before);
        return;
    }
    trigger("actionDuplizieren");
    QCOMPARE(count(target) - before, 3);
    const auto copies
        = m_t->db()
              ->select(
                  QString(
                      "SELECT id, Title, ItemID, WatchCount, EndDate FROM articles WHERE Folder=%1 "
                      "AND id > %2 ORDER BY id")
                      .arg(target)
                      .arg(sources.last()))
              .value();
    QStringList shownCopies;
    for (const auto &copy : copies)
        shownCopies << QStringList { copy.value("Title").toString(),
                                     copy.value("ItemID").toString(),
                                     copy.value("WatchCount").toString(),
                                     copy.value("EndDate").toString() }
                           .join('|');
    QCOMPARE(shownCopies, QStringList({ "Eins||0|", "Zwei||0|", "Drei||0|" }));
    QCOMPARE(m_t->db()
                 ->selectOne(QString("SELECT COUNT(*) FROM articles_variations WHERE "
                                     "article_id=%1")
                                 .arg(copies.value(1).value("id").toInt()))
                 .value(),
             QString("1"));
    // The copies are listed where they were made, and only there.
    QCOMPARE(listedIds(list()).size(), shown == m_userFolder ? 6 : 3);
    if (shown == m_userFolder) {
        // Duplicating left the copy list as it was: pasting copies the one article again.
        trigger("actionEinf_gen");
        QCOMPARE(count(target) - before, 4);
    }
}

// A duplicate saved through the editor gets the variations and their pictures, not the
// main pictures (the editor writes those itself).
void TestEditorCommands::variationsOfDuplicate()
{
    Database *db = m_t->db();
    const int source = insertArticle(db, {});
    const int copy = insertArticle(db, {});
    QVERIFY(db->insertSqlClean({ { "article_id", source },
                                 { "SKU", "'Rot' \\ ü" },
                                 { "StartPrice", 2.5 },
                                 { "VariantXml", "<Name>Farbe</Name><Value>Rot</Value>" } },
                               "articles_variations")
            > 0);
    const int blue = db->insertSqlClean(
        { { "article_id", source }, { "SKU", "Blau" }, { "StartPrice", 3 } }, "articles_variations");
    QVERIFY(blue > 0);
    // A picture of the blue variation alone.
    QVERIFY(db->insertSqlClean(
                { { "article_id", source }, { "image", "blau.jpg" }, { "variant_id", blue } },
                "articles_images")
            > 0);
    QVERIFY(db->insertSqlClean({ { "article_id", source }, { "image", "main.jpg" }, { "sort", 0 } },
                               "articles_images")
            > 0);
    QVERIFY(db->insertSqlClean(
                { { "article_id", source }, { "image", "rot.jpg" }, { "variant_name", "Rot" } },
                "articles_images")
            > 0);
    QVERIFY(VariationCopy::copy(db, source, copy));
    QCOMPARE(TestSupport::values(db, copy, "Title"), QString("Artikel"));
    QStringList copied;
    for (const auto &row : db->select(QString("SELECT SKU, StartPrice, VariantXml FROM "
                                              "articles_variations WHERE article_id=%1 ORDER BY id")
                                          .arg(copy))
                               .value())
        copied << row.value("SKU").toString() + "|" + row.value("StartPrice").toString() + "|"
                + row.value("VariantXml").toString();
    QCOMPARE(copied,
             QStringList({ "'Rot' \\ ü|2.5|<Name>Farbe</Name><Value>Rot</Value>", "Blau|3|" }));
    QCOMPARE(db->selectOne(QString("SELECT image FROM articles_images WHERE article_id=%1 AND "
                                   "variant_name='Rot'")
                               .arg(copy))
                 .value(),
             QString("rot.jpg"));
    QCOMPARE(
        db->selectCount(QString("SELECT id FROM articles_images WHERE article_id=%1").arg(copy))
            .value(),
        2);
    // The blue picture belongs to the copy's blue variation; the source's stays its own.
    QCOMPARE(db->selectOne(QString("SELECT v.SKU FROM articles_images i JOIN articles_variations "
                                   "v ON v.id = i.variant_id WHERE i.article_id=%1 AND "
                                   "v.article_id=%1")
                               .arg(copy))
                 .value(),
             QString("Blau"));
    QCOMPARE(db->selectOne(QString("SELECT variant_id FROM articles_images WHERE article_id=%1 "
                                   "AND image='blau.jpg'")
                               .arg(source))
                 .value(),
             QString::number(blue));
}

APP_TEST_MAIN(TestEditorCommands)
#include "test_editorcommands.moc"
