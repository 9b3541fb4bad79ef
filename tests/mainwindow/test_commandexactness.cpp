// Every write command of the main window on a MariaDB whose answer to one statement is lost:
// cut before it reaches the program, or held past the connection's time-out. Afterwards the
// database holds the state before the command or the state after it (never a part of it,
// never a double), the window shows what the database holds, and the seller was told once:
// that the change was not stored, or that whether it was is not known.
//
// A command is one row of kCommands: how to set the window up and trigger it (answering its
// dialogs), and the stored state it leaves. Another command is one more entry there and its
// rows in run_data().
#include "core/database.h"
#include "mainwindow/mainwindow.h"
#include "tests/editor/editorfixture.h"
#include "tests/support/dialoganswers.h"
#include "tests/support/fakehttpserver.h"
#include "tests/support/mainwindowfixture.h"
#include "tests/support/mysqlproxy.h"
#include "tests/support/testdatabase.h"
#include "tests/support/testmain.h"
#include "views/foldermodel.h"
#include "views/foldernode.h"
#include "views/itemlistroles.h"
#include "views/itemlistwidget.h"

#include <QAction>
#include <QApplication>
#include <QDialog>
#include <QLabel>
#include <QMimeData>
#include <QScopeGuard>
#include <QSemaphore>
#include <QTimer>
#include <QTreeView>
#include <QTreeWidget>
#include <functional>
#include <memory>

using TestSupport::MainWindowFixture;

namespace {

// The stored rows every row starts from (ids as a fresh database gives them):
//   folders  1 "Keller", 2 "Garten" below "Artikelvorlagen"
//   articles 1 "Spaten", 2 "Rechen" in "Keller" (1 with a picture), 3 a running listing with
//            a picture, 4 in the trash, 5 in "Artikelvorlagen", 6 another running listing
void seed(Database *db)
{
    for (const char *name : { "Keller", "Garten" })
        QVERIFY(
            db->insertSqlClean(
                { { "foldername", name }, { "folderparentid", -10 }, { "expand", 0 } }, "folders")
            > 0);
    const QList<QMap<QString, QVariant>> articles {
        { { "Title", "Spaten" }, { "Folder", 1 }, { "FolderOld", 0 } },
        { { "Title", "Rechen" }, { "Folder", 1 }, { "FolderOld", 0 } },
        { { "Title", "Laterne" },
          { "Folder", -9 },
          { "FolderOld", 0 },
          { "ItemID", "120000000001" } },
        { { "Title", "Eimer" }, { "Folder", -5 }, { "FolderOld", -10 } },
        { { "Title", "Harke" }, { "Folder", -10 }, { "FolderOld", 0 } },
        { { "Title", "Lampe" },
          { "Folder", -9 },
          { "FolderOld", 0 },
          { "ItemID", "120000000002" } },
    };
    for (const auto &article : articles)
        TestSupport::insertArticle(db, article);
    for (int article : { 1, 3 })
        QVERIFY(db->insertSqlClean({ { "article_id", article }, { "image", "bild.jpg" } },
                                   "articles_images")
                > 0);
}

// What the commands change, as stored: per article id:Folder:FolderOld:Trash:ItemID:DoCheck,
// per folder id:name<parent, and the pictures.
QString stored(Database *db)
{
    QStringList parts;
    for (const ArticleRow &row :
         db->select("SELECT id, Folder, FolderOld, Trash, ItemID, DoCheck FROM articles "
                    "ORDER BY id")
             .value()) {
        QStringList cells;
        for (const char *column : { "id", "Folder", "FolderOld", "Trash", "ItemID", "DoCheck" })
            cells << row.value(QLatin1String(column)).toString();
        parts << cells.join(':');
    }
    parts << "|";
    for (const ArticleRow &row :
         db->select("SELECT id, foldername, folderparentid FROM folders ORDER BY id").value())
        parts << row.value("id").toString() + ':' + row.value("foldername").toString() + '<'
                + row.value("folderparentid").toString();
    parts << "| pictures " + db->selectOne("SELECT COUNT(*) FROM articles_images").value();
    return parts.join(' ');
}

class Window;
struct Command
{
    QString name;
    // Shows and selects what the command works on; then triggers it and answers its dialogs.
    std::function<void(Window &, DialogAnswers &)> run;
    // stored() once the command is done.
    QString after;
    // Checked against the window afterwards (`answered`: no answer was lost); empty when
    // right.
    std::function<QString(Window &, bool answered)> check;
    // How a command that tells the seller itself begins its one message, by the statement
    // whose answer was lost and whether the command was stored (empty: nothing told); unset,
    // the window's notices are expected.
    std::function<QString(const QByteArray &statement, bool written)> told = {};
};

class Window
{
public:
    MainWindowFixture &fixture;
    MainWindow *window() const { return fixture.window(); }
    FolderModel *folders() const
    {
        return qobject_cast<FolderModel *>(fixture.treeView()->model());
    }
    void trigger(const char *action) const
    {
        window()->findChild<QAction *>(QLatin1String(action))->trigger();
    }
    bool enabled(const char *action) const
    {
        return window()->findChild<QAction *>(QLatin1String(action))->isEnabled();
    }
    void select(int folder, const QList<int> &ids) const
    {
        QVERIFY(fixture.showFolder(folder));
        // After a lost answer the window reads the list again once the server answers.
        for (int id : ids)
            QTRY_VERIFY(window()->IsItemWithIdHere(id));
        QTreeWidget *list = fixture.itemList();
        list->clearSelection();
        for (int i = 0; i < list->topLevelItemCount(); ++i) {
            QTreeWidgetItem *row = list->topLevelItem(i);
            if (ids.contains(row->data(0, ItemListRole::ArticleIdRole).toInt()))
                row->setSelected(true);
        }
        QCOMPARE(list->selectedItems().size(), ids.size());
    }
    void makeCurrent(int folder) const { QVERIFY(fixture.showFolder(folder)); }
    void drop(const QString &format, const QByteArray &payload, int onto) const
    {
        QMimeData data;
        data.setData(format, payload);
        folders()->dropMimeData(&data, Qt::MoveAction, -1, -1,
                                TestSupport::folderIndexOf(folders(), onto));
    }
};

QByteArray folderPayload(qint32 id)
{
    QByteArray bytes;
    QDataStream stream(&bytes, QIODevice::WriteOnly);
    stream.setByteOrder(QDataStream::BigEndian);
    stream << id;
    return bytes;
}

const QString kBefore
    = QStringLiteral("1:1:0:0::0 2:1:0:0::0 3:-9:0:0:120000000001:0 4:-5:-10:0::0 5:-10:0:0::0 "
                     "6:-9:0:0:120000000002:0 | 1:Keller<-10 2:Garten<-10 | pictures 2");

// kBefore with the article rows `added` after the last one, and `pictures` pictures.
QString withArticles(const QString &added, int pictures)
{
    const int end = kBefore.indexOf(QLatin1String(" |"));
    return kBefore.left(end) + ' ' + added
        + kBefore.mid(end).replace("pictures 2", "pictures " + QString::number(pictures));
}

// Duplicating article 1 through the editor, with two variations and a picture of one of them
// (its picture made a variation picture, so the pictures count as before): the seller saves the
// copy, and gives up when the editor says it was not stored. `again`: the command given again.
void duplicateWithVariations(Window &w, bool again = false)
{
    if (!again) {
        Database seed(true, QStringLiteral("duplicateseed"));
        EditorFixture::cacheGermanSite(&seed);
        EditorFixture::addAccounts(&seed);
        const QString xml = "'<NameValueList><Name>Farbe</Name><Value>%1</Value></NameValueList>'";
        QVERIFY(seed.executeSQL(
            "INSERT INTO articles_variations (article_id, SKU, StartPrice, Quantity, VariantXml) "
            "VALUES (1, 'S-rot', 12345.67, 2, "
            + xml.arg("rot") + "), (1, 'S-blau', 23456.78, 1, " + xml.arg("blau") + ")"));
        QVERIFY(
            seed.executeSQL("UPDATE articles_images SET variant_name='rot' WHERE article_id=1"));
        QVERIFY(seed.executeSQL(
            "UPDATE articles SET Description='<p>Spaten</p>', PrimaryCategory='9355', "
            "PrimaryCategoryText='Garten', Country='DE', PostalCode='04109', Location='Leipzig', "
            "StartPrice=12345.67, VariantImageOption='Farbe' WHERE id=1"));
    }
    w.select(1, { 1 });
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, [&poll] {
        auto *editor = qobject_cast<QDialog *>(QApplication::activeModalWidget());
        if (!editor || !editor->inherits("AddArticle"))
            return;
        poll.stop();
        editor->accept();
        if (editor->isVisible())
            editor->done(0);
    });
    poll.start(10);
    w.trigger("actionDuplizieren");
    QVERIFY(!poll.isActive());
}

// The copies of article 1 (by title): for each, its variations and variation pictures.
QString duplicates()
{
    Database probe(true, QStringLiteral("duplicateprobe"));
    QStringList copies;
    for (const ArticleRow &row : probe
                                     .select("SELECT id FROM articles WHERE Title='Spaten' AND "
                                             "id <> 1 ORDER BY id")
                                     .value()) {
        const QString id = row.value("id").toString();
        copies << probe.selectOne("SELECT COUNT(*) FROM articles_variations WHERE article_id=" + id)
                      .value()
                + " variations, "
                + probe
                      .selectOne("SELECT COUNT(*) FROM articles_images WHERE variant_name='rot' "
                                 "AND article_id="
                                 + id)
                      .value()
                + " picture";
    }
    return copies.join(" / ");
}

const QList<Command> kCommands {
    { "Löschen",
      [](Window &w, DialogAnswers &answers) {
          w.select(1, { 1, 2 });
          answers.pushQuestion(true);
          w.trigger("actionL_schen");
      },
      QString(kBefore).replace("1:1:0:0::0 2:1:0:0::0", "1:-5:1:0::0 2:-5:1:0::0"),
      {} },
    { "Papierkorb leeren",
      [](Window &w, DialogAnswers &answers) {
          w.select(-5, {});
          answers.pushQuestion(true);
          w.trigger("actionPapierkorb_leeren");
      },
      QString(kBefore).replace("4:-5:-10:0::0", "4:-5:-10:1::0"),
      {} },
    { "Neuer Ordner",
      [](Window &w, DialogAnswers &) {
          w.makeCurrent(-10);
          TestSupport::answerFolderEdit("Schuppen");
          w.trigger("actionNeuer_Ordner");
      },
      QString(kBefore).replace("2:Garten<-10", "2:Garten<-10 3:Schuppen<-10"),
      {} },
    { "Umbenennen",
      [](Window &w, DialogAnswers &) {
          w.makeCurrent(1);
          TestSupport::answerFolderEdit("Dachboden");
          w.trigger("actionUmbenennen");
      },
      QString(kBefore).replace("Keller", "Dachboden"),
      {} },
    { "Ordner löschen",
      [](Window &w, DialogAnswers &answers) {
          w.select(1, {});
          w.makeCurrent(1);
          answers.pushQuestion(true);
          w.trigger("actionL_schen_2");
      },
      QString(kBefore)
          .replace("1:1:0:0::0 2:1:0:0::0", "1:-10:0:0::0 2:-10:0:0::0")
          .replace("1:Keller<-10 ", ""),
      {} },
    { "Artikel ziehen",
      [](Window &w, DialogAnswers &) {
          w.select(1, {});
          w.drop(ItemListWidget::ArticleMimeType, "1|1,2|1", 2);
      },
      QString(kBefore).replace("1:1:0:0::0 2:1:0:0::0", "1:2:0:0::0 2:2:0:0::0"),
      {} },
    { "Angebot ziehen",
      [](Window &w, DialogAnswers &) {
          w.select(-9, {});
          w.drop(ItemListWidget::ArticleMimeType, "3|-9", 2);
      },
      withArticles("7:2:0:0::0", 3),
      {} },
    { "Angebote ziehen",
      [](Window &w, DialogAnswers &) {
          w.select(-9, {});
          w.drop(ItemListWidget::ArticleMimeType, "3|-9,6|-9", 2);
      },
      withArticles("7:2:0:0::0 8:2:0:0::0", 4),
      {} },
    { "Ordner ziehen",
      [](Window &w, DialogAnswers &) { w.drop(FolderModel::FolderMimeType, folderPayload(2), 1); },
      QString(kBefore).replace("2:Garten<-10", "2:Garten<1"),
      {} },
    { "Als Vorlage",
      [](Window &w, DialogAnswers &) {
          w.select(-9, { 3, 6 });
          w.trigger("actionDuplizieren");
      },
      withArticles("7:-10:0:0::0 8:-10:0:0::0", 3),
      {} },
    { "In Ausgang legen",
      [](Window &w, DialogAnswers &) {
          w.select(1, { 1, 2 });
          w.trigger("actionIn_Ausgang_legen");
      },
      QString(kBefore).replace("1:1:0:0::0 2:1:0:0::0", "1:-2:1:0::2 2:-2:1:0::2"),
      {} },
    { "Gebühren berechnen",
      [](Window &w, DialogAnswers &) {
          w.select(1, { 1, 2 });
          w.trigger("actionAuwahl_beenden");
      },
      QString(kBefore).replace("1:1:0:0::0 2:1:0:0::0", "1:1:0:0::1 2:1:0:0::1"),
      {} },
    { "Ausschneiden und Einfügen",
      [](Window &w, DialogAnswers &) {
          w.select(1, { 1 });
          w.trigger("actionAusschneiden");
          w.select(2, {});
          w.trigger("actionEinf_gen");
      },
      withArticles("7:2:0:0::0", 2).remove("1:1:0:0::0 "),
      // Cut until its move is known to be stored.
      [](Window &w, bool answered) {
          return w.enabled("actionEinf_gen") == answered
              ? QStringLiteral("paste offered: %1").arg(!answered)
              : QString();
      } },
    { "Duplizieren mit Varianten", [](Window &w, DialogAnswers &) { duplicateWithVariations(w); },
      withArticles("7:1:0:0::0", 3),
      // The copy is whole or not there; given again after it was not stored, it is made once.
      [](Window &w, bool) {
          const QString whole = "2 variations, 1 picture";
          const QString made = duplicates();
          if (!made.isEmpty())
              return made == whole ? QString() : "copies: " + made;
          duplicateWithVariations(w, true);
          return duplicates() == whole ? QString() : "given again: " + duplicates();
      },
      // The editor tells what it could not store and stays open. What a commit whose answer
      // was lost stored is not looked up on the window's thread (the look-up would wait for a
      // connection): it is told as not known, and the window shows what is stored once the
      // server answers.
      [](const QByteArray &statement, bool written) {
          return statement == "-" ? QString()
              : written           ? QStringLiteral("Ob der Artikel gespeichert wurde")
                                  : QStringLiteral("Artikel konnte nicht gespeichert");
      } },
};

const Command *command(const QString &name)
{
    for (const Command &c : kCommands) {
        if (c.name == name)
            return &c;
    }
    return nullptr;
}

// What the window shows, in the terms of stored(): the list's article ids, every folder's
// count, the user folders.
QString shown(Window &w)
{
    QStringList parts;
    QTreeWidget *list = w.fixture.itemList();
    QList<int> ids;
    for (int i = 0; i < list->topLevelItemCount(); ++i)
        ids << list->topLevelItem(i)->data(0, ItemListRole::ArticleIdRole).toInt();
    std::sort(ids.begin(), ids.end());
    for (int id : ids)
        parts << QString::number(id);
    parts << "|";
    QList<const FolderNode *> pending { w.folders()->findFolderWithId(0) };
    QStringList folders;
    while (!pending.isEmpty()) {
        const FolderNode *node = pending.takeFirst();
        for (const FolderNode *child : node->children) {
            folders << QString::number(child->id) + '=' + QString::number(child->count)
                    + (child->userFolder ? ':' + child->name + '<' + QString::number(node->id)
                                         : QString());
            pending << child;
        }
    }
    folders.sort();
    return (parts + folders).join(' ');
}

// The same as the database holds it, for the folder the tree shows as current.
QString held(Window &w, Database *db)
{
    const int current = w.fixture.treeView()->currentIndex().data(Qt::UserRole).toInt();
    QStringList parts;
    for (const ArticleRow &row : db->select("SELECT id FROM articles WHERE Trash=0 AND Folder="
                                            + QString::number(current) + " ORDER BY id")
                                     .value())
        parts << row.value("id").toString();
    parts << "|";
    QHash<int, int> counts;
    for (const ArticleRow &row :
         db->select("SELECT Folder, COUNT(id) AS M FROM articles WHERE Trash=0 GROUP BY Folder")
             .value())
        counts.insert(row.value("Folder").toInt(), row.value("M").toInt());
    QStringList folders;
    for (int fixed : { -9, -7, -8, -3, -2, -5, -10 })
        folders << QString::number(fixed) + '=' + QString::number(counts.value(fixed));
    for (const ArticleRow &row :
         db->select("SELECT id, foldername, folderparentid FROM folders").value()) {
        const int id = row.value("id").toInt();
        folders << QString::number(id) + '=' + QString::number(counts.value(id)) + ':'
                + row.value("foldername").toString() + '<' + row.value("folderparentid").toString();
    }
    folders.sort();
    return (parts + folders).join(' ');
}

constexpr int kTimeoutSeconds = 2;

// A folder command given at workstation A after workstation B (the test's own connection)
// changed the folders behind A's tree. With `chain` > 0, "Garten" holds that many folders
// nested one in the other (ids 3 on, each in the one before), stored before A starts.
struct FolderCase
{
    QString name;
    int chain;
    QStringList other; // B's statements, once A shows its tree
    std::function<void(Window &)> before; // A, before B changes anything
    std::function<void(Window &, DialogAnswers &)> act; // A's command
    QString probe; // a query whose answer shows what A stored; empty: A stores nothing
    QString value;
    QString told; // what A is told; empty: nothing
};

const QString kKellerGone = QStringLiteral(
    "Der Ordner „Keller“ wurde inzwischen an einem anderen Arbeitsplatz gelöscht.");
const QStringList kDeleteKeller { "UPDATE articles SET Folder=-10 WHERE Folder=1",
                                  "DELETE FROM folders WHERE id=1" };
const QString kTooDeep = QStringLiteral("können höchstens 64 Ebenen tief ineinander liegen.");

const QList<FolderCase> kFolderCases {
    { "drop on a folder deleted elsewhere",
      0,
      kDeleteKeller,
      [](Window &w) { w.select(-10, {}); },
      [](Window &w, DialogAnswers &) { w.drop(ItemListWidget::ArticleMimeType, "5|-10", 1); },
      {},
      {},
      kKellerGone },
    { "drop on a folder moved elsewhere",
      0,
      { "UPDATE folders SET folderparentid=2 WHERE id=1" },
      [](Window &w) { w.select(-10, {}); },
      [](Window &w, DialogAnswers &) { w.drop(ItemListWidget::ArticleMimeType, "5|-10", 1); },
      "SELECT Folder FROM articles WHERE id=5",
      "1",
      {} },
    { "new folder in a folder deleted elsewhere",
      0,
      kDeleteKeller,
      [](Window &w) { w.makeCurrent(1); },
      [](Window &w, DialogAnswers &) {
          TestSupport::answerFolderEdit("Kiste");
          w.trigger("actionNeuer_Ordner");
      },
      {},
      {},
      kKellerGone },
    { "rename of a folder deleted elsewhere",
      0,
      kDeleteKeller,
      [](Window &w) { w.makeCurrent(1); },
      [](Window &w, DialogAnswers &) {
          TestSupport::answerFolderEdit("Dachboden");
          w.trigger("actionUmbenennen");
      },
      {},
      {},
      kKellerGone },
    { "folder moved crosswise",
      0,
      { "UPDATE folders SET folderparentid=2 WHERE id=1" },
      {},
      [](Window &w, DialogAnswers &) { w.drop(FolderModel::FolderMimeType, folderPayload(2), 1); },
      {},
      {},
      "Der Ordner „Garten“ kann nicht in „Keller“ verschoben werden: „Keller“ wurde "
      "inzwischen an einem anderen Arbeitsplatz in „Garten“ verschoben." },
    { "folder moved into a folder deleted elsewhere",
      0,
      kDeleteKeller,
      {},
      [](Window &w, DialogAnswers &) { w.drop(FolderModel::FolderMimeType, folderPayload(2), 1); },
      {},
      {},
      kKellerGone },
    { "article dragged that was put into the trash elsewhere",
      0,
      { "UPDATE articles SET Folder=-5, FolderOld=1 WHERE id=1" },
      [](Window &w) { w.select(1, {}); },
      [](Window &w, DialogAnswers &) { w.drop(ItemListWidget::ArticleMimeType, "1|1,2|1", 2); },
      {},
      {},
      "Der Artikel „Spaten“ wurde inzwischen an einem anderen Arbeitsplatz in den Papierkorb "
      "gelegt. Es wurde nichts verschoben." },
    { "folder deleted that was deleted elsewhere",
      0,
      kDeleteKeller,
      [](Window &w) { w.makeCurrent(1); },
      [](Window &w, DialogAnswers &answers) {
          answers.pushQuestion(true);
          w.trigger("actionL_schen_2");
      },
      {},
      {},
      kKellerGone },
    { "folder deleted whose subfolder was made elsewhere",
      0,
      { "INSERT INTO folders (id, foldername, folderparentid) VALUES (3, 'Kiste', 1)",
        "UPDATE articles SET Folder=3 WHERE id=2" },
      [](Window &w) { w.makeCurrent(1); },
      [](Window &w, DialogAnswers &answers) {
          answers.pushQuestion(true);
          w.trigger("actionL_schen_2");
      },
      "SELECT COUNT(*) FROM folders WHERE id IN (1, 3)",
      "0",
      {} },
    // Garten is level 1, folder 3+62 = 65 level 64.
    { "new folder below the deepest level",
      63,
      {},
      [](Window &w) { w.makeCurrent(65); },
      [](Window &w, DialogAnswers &) {
          TestSupport::answerFolderEdit("Kiste");
          w.trigger("actionNeuer_Ordner");
      },
      {},
      {},
      "Der Ordner „Kiste“ kann hier nicht angelegt werden: Ordner " + kTooDeep },
    { "new folder at the deepest level",
      63,
      {},
      [](Window &w) { w.makeCurrent(64); },
      [](Window &w, DialogAnswers &) {
          TestSupport::answerFolderEdit("Kiste");
          w.trigger("actionNeuer_Ordner");
      },
      "SELECT folderparentid FROM folders WHERE foldername='Kiste'",
      "64",
      {} },
    { "folder moved below the deepest level",
      63,
      {},
      {},
      [](Window &w, DialogAnswers &) { w.drop(FolderModel::FolderMimeType, folderPayload(1), 65); },
      {},
      {},
      "Der Ordner „Keller“ kann nicht in „Ebene 65“ verschoben werden: Ordner " + kTooDeep },
    { "folder moved to the deepest level",
      63,
      {},
      {},
      [](Window &w, DialogAnswers &) { w.drop(FolderModel::FolderMimeType, folderPayload(1), 64); },
      "SELECT folderparentid FROM folders WHERE id=1",
      "64",
      {} },
    { "branch moved below the deepest level",
      63,
      {},
      {},
      [](Window &w, DialogAnswers &) { w.drop(FolderModel::FolderMimeType, folderPayload(2), 1); },
      {},
      {},
      "Der Ordner „Garten“ kann nicht in „Keller“ verschoben werden: Ordner " + kTooDeep },
    { "branch moved to the deepest level",
      62,
      {},
      {},
      [](Window &w, DialogAnswers &) { w.drop(FolderModel::FolderMimeType, folderPayload(2), 1); },
      "SELECT folderparentid FROM folders WHERE id=2",
      "1",
      {} },
};

const FolderCase *folderCase(const QString &name)
{
    for (const FolderCase &c : kFolderCases) {
        if (c.name == name)
            return &c;
    }
    return nullptr;
}

} // namespace

class TestCommandExactness : public QObject
{
    Q_OBJECT

private slots:
    void run_data();
    void run();
    void otherWorkstation_data();
    void otherWorkstation();
    void refusedHalfway_data();
    void refusedHalfway();
};

void TestCommandExactness::run_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QByteArray>("statement"); // whose answer is lost; "-": none
    QTest::addColumn<bool>("hang"); // held past the time-out rather than cut
    QTest::addColumn<bool>("written"); // the state after the command is stored
    QTest::addColumn<bool>("refused"); // the server's answer is an error instead

    // Per command: the statement whose loss leaves the command undone, and the commit.
    const QList<QPair<QString, QByteArray>> writes {
        { "Löschen", "Folder=-5 WHERE" },
        { "Papierkorb leeren", "TrashMoved" },
        { "Neuer Ordner", "INSERT INTO folders" },
        { "Umbenennen", "UPDATE folders" },
        { "Ordner löschen", "DELETE FROM folders" },
        { "Artikel ziehen", "UPDATE articles SET Folder=2" },
        { "Angebot ziehen", "INSERT INTO `articles`" },
        { "Ordner ziehen", "folderparentid=1" },
        { "Als Vorlage", "INSERT INTO `articles_images`" },
        { "In Ausgang legen", "Folder=-2" },
        { "Gebühren berechnen", "DoCheck=1" },
        { "Ausschneiden und Einfügen", "DELETE FROM articles WHERE" },
    };
    for (const auto &write : writes) {
        const QByteArray name = write.first.toUtf8();
        QTest::newRow(name + ": answered")
            << write.first << QByteArray("-") << false << true << false;
        QTest::newRow(name + ": write cut")
            << write.first << write.second << false << false << false;
        QTest::newRow(name + ": commit cut")
            << write.first << QByteArray("COMMIT") << false << true << false;
        QTest::newRow(name + ": commit held")
            << write.first << QByteArray("COMMIT") << true << true << false;
        // Nothing is stored; a command that took it for stored shows rows the database
        // does not hold.
        QTest::newRow(name + ": commit refused")
            << write.first << QByteArray("COMMIT") << false << false << true;
    }
    // The editor's copy with its variations: the variations' copy lost or held inside the
    // transaction, the commit's answer lost (the copy is found by its mark).
    const QByteArray variations = "INSERT INTO `articles_variations`";
    QTest::newRow("Duplizieren mit Varianten: answered")
        << "Duplizieren mit Varianten" << QByteArray("-") << false << true << false;
    QTest::newRow("Duplizieren mit Varianten: variations' copy cut")
        << "Duplizieren mit Varianten" << variations << false << false << false;
    QTest::newRow("Duplizieren mit Varianten: variations' copy held")
        << "Duplizieren mit Varianten" << variations << true << false << false;
    QTest::newRow("Duplizieren mit Varianten: commit cut")
        << "Duplizieren mit Varianten" << QByteArray("COMMIT") << false << true << false;
    // Held inside the transaction: the server undoes it when the connection goes.
    QTest::newRow("Löschen: write held")
        << "Löschen" << QByteArray("Folder=-5 WHERE") << true << false << false;
    QTest::newRow("Neuer Ordner: write held")
        << "Neuer Ordner" << QByteArray("INSERT INTO folders") << true << false << false;
    QTest::newRow("Angebot ziehen: write held")
        << "Angebot ziehen" << QByteArray("INSERT INTO `articles`") << true << false << false;
    // The command's own read inside its transaction lost: nothing is written, and that is
    // told like a lost write.
    QTest::newRow("Löschen: read cut")
        << "Löschen" << QByteArray("SELECT id, FolderOld") << false << false << false;
    QTest::newRow("Löschen: read held")
        << "Löschen" << QByteArray("SELECT id, FolderOld") << true << false << false;
    QTest::newRow("Papierkorb leeren: read cut")
        << "Papierkorb leeren" << QByteArray("SELECT id FROM articles WHERE Folder = -5") << false
        << false << false;
    QTest::newRow("In Ausgang legen: read cut")
        << "In Ausgang legen" << QByteArray("SELECT id FROM articles WHERE Trash=0") << false
        << false << false;
    QTest::newRow("Gebühren berechnen: read cut")
        << "Gebühren berechnen" << QByteArray("SELECT id, DoCheck") << false << false << false;
    // The command's own read refused: nothing is written, and that is told with the reason.
    QTest::newRow("Ausschneiden und Einfügen: read refused")
        << "Ausschneiden und Einfügen"
        << QByteArray("SELECT id, Folder FROM articles WHERE Trash=0 AND id IN")
        << false << false << true;
    QTest::newRow("Löschen: read refused")
        << "Löschen" << QByteArray("SELECT id, FolderOld") << false << false << true;
    QTest::newRow("Papierkorb leeren: read refused")
        << "Papierkorb leeren" << QByteArray("SELECT id FROM articles WHERE Folder = -5") << false
        << false << true;
}

void TestCommandExactness::run()
{
    QFETCH(QString, name);
    QFETCH(QByteArray, statement);
    QFETCH(bool, hang);
    QFETCH(bool, written);
    QFETCH(bool, refused);
    const Command *c = command(name);
    QVERIFY(c);

    APP_REQUIRE_BACKEND(TestSupport::Backend::MySQL);
    TestSupport::FakeHttpServer marketplace;
    marketplace.pointConfigHere();
    TestSupport::MySqlProxy proxy(TestSupport::MySqlServer::fromEnvironment());
    QVERIFY(proxy.isListening());
    TestSupport::TestDatabase data(proxy.server());
    QVERIFY2(data.error().isEmpty(), qPrintable(data.error()));
    seed(data.db());
    QCOMPARE(stored(data.db()), kBefore);
    TestSupport::writeMySqlSetup(data.dataDir(), proxy.server(), data.mysqlDatabaseName(), true,
                                 false);
    Database::setDefaultResponseTimeout(kTimeoutSeconds);
    auto restore = qScopeGuard([] { Database::setDefaultResponseTimeout(15); });
    DialogAnswers answers;
    MainWindowFixture fixture(data);
    QVERIFY(fixture.window());
    Window w { fixture };
    // The listing worker is not woken: what it does with queued articles is its own test's.
    QObject::disconnect(fixture.window(), &MainWindow::startCheckNow, nullptr, nullptr);

    // A held answer comes past the connection's time-out (the proxy holds every connection
    // meanwhile, so the window's next statements wait a little too).
    QSemaphore never;
    if (refused)
        proxy.refuse(statement);
    else if (statement != "-")
        proxy.cutAfter(statement, 1, [hang, &never](quint32) {
            if (hang)
                never.tryAcquire(1, (kTimeoutSeconds + 1) * 1000);
        });
    c->run(w, answers);
    if (QTest::currentTestFailed())
        return;
    QCOMPARE(proxy.cuts(), statement == "-" || refused ? 0 : 1);
    QCOMPARE(proxy.refusals(), refused ? 1 : 0);

    const QString expected = written ? c->after : kBefore;
    QCOMPARE(stored(data.db()), expected);
    // A command that stored nothing does not report itself done.
    if (!written) {
        const auto *status = fixture.window()->findChild<QLabel *>("SyncLabel");
        QVERIFY(status);
        QVERIFY2(!status->text().contains("Fertig"), qPrintable(status->text()));
    }
    // Read again as soon as the server answers (a held answer holds it a while).
    QTRY_COMPARE_WITH_TIMEOUT(shown(w), held(w, data.db()), 20000);
    if (c->check)
        QCOMPARE(c->check(w, statement == "-"), QString());
    // Told once: nothing when it was answered; else not stored, or not known.
    const QString told = c->told ? c->told(statement, written)
        : statement == "-"       ? QString()
        : written                ? QStringLiteral("Ob ")
                                 : QStringLiteral("Die Änderung konnte nicht");
    QTRY_COMPARE(answers.messages().size(), told.isEmpty() ? 0 : 1);
    QCoreApplication::processEvents();
    QCOMPARE(answers.messages().size(), told.isEmpty() ? 0 : 1);
    if (!told.isEmpty())
        QVERIFY2(answers.lastMessageText().startsWith(told), qPrintable(answers.lastMessageText()));
    fixture.close();
}

void TestCommandExactness::otherWorkstation_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<TestSupport::Backend>("backend");
    for (const FolderCase &c : kFolderCases) {
        QTest::newRow(qPrintable(c.name + ": sqlite")) << c.name << TestSupport::Backend::SQLite;
        QTest::newRow(qPrintable(c.name + ": mysql")) << c.name << TestSupport::Backend::MySQL;
    }
}

// The command is refused when what it works on is no longer stored as A's tree shows it:
// nothing is written, A is told once, and the tree is read again. Where it still makes
// sense, it is carried out as stored. Either way the next start shows every folder and
// every article.
void TestCommandExactness::otherWorkstation()
{
    QFETCH(QString, name);
    QFETCH(TestSupport::Backend, backend);
    const FolderCase *c = folderCase(name);
    QVERIFY(c);
    APP_REQUIRE_BACKEND(backend);
    TestSupport::FakeHttpServer marketplace;
    marketplace.pointConfigHere();
    TestSupport::TestDatabase data(backend);
    QVERIFY2(data.error().isEmpty(), qPrintable(data.error()));
    if (backend == TestSupport::Backend::MySQL) {
        TestSupport::writeMySqlSetup(data.dataDir(), TestSupport::MySqlServer::fromEnvironment(),
                                     data.mysqlDatabaseName(), true, false);
        data.reopen();
    }
    Database *b = data.db();
    seed(b);
    for (int id = 3; id < 3 + c->chain; ++id)
        QVERIFY(b->executeSQL(QStringLiteral("INSERT INTO folders (id, foldername, folderparentid) "
                                             "VALUES (%1, 'Ebene %1', %2)")
                                  .arg(id)
                                  .arg(id == 3 ? 2 : id - 1)));
    DialogAnswers answers;
    auto fixture = std::make_unique<MainWindowFixture>(data);
    QVERIFY(fixture->window());
    Window w { *fixture };
    QObject::disconnect(fixture->window(), &MainWindow::startCheckNow, nullptr, nullptr);
    if (c->before)
        c->before(w);
    for (const QString &statement : c->other)
        QVERIFY(b->executeSQL(statement));
    const QString before = stored(b);
    c->act(w, answers);
    if (QTest::currentTestFailed())
        return;

    if (c->probe.isEmpty())
        QCOMPARE(stored(b), before);
    else
        QCOMPARE(b->selectOne(c->probe).value(), c->value);
    QTRY_COMPARE(answers.messages().size(), c->told.isEmpty() ? 0 : 1);
    if (!c->told.isEmpty())
        QCOMPARE(answers.lastMessageText(), c->told);
    // Read again when refused; a tree B changed otherwise shows B's change at the next start.
    if (!c->told.isEmpty() || c->other.isEmpty())
        QTRY_COMPARE(shown(w), held(w, b));
    QCoreApplication::processEvents();
    QCOMPARE(answers.messages().size(), c->told.isEmpty() ? 0 : 1);
    fixture->close();
    fixture.reset();

    // The next start: every folder and every article that is not deleted for good.
    TestSupport::resetApplicationState();
    MainWindowFixture next(data);
    QVERIFY(next.window());
    int folders = 0;
    int articles = 0;
    QList<const FolderNode *> pending {
        qobject_cast<FolderModel *>(next.treeView()->model())->findFolderWithId(0)
    };
    while (!pending.isEmpty()) {
        for (const FolderNode *child : pending.takeLast()->children) {
            folders += child->userFolder ? 1 : 0;
            articles += child->count;
            pending << child;
        }
    }
    QCOMPARE(folders, b->selectCount("SELECT id FROM folders").value());
    QCOMPARE(articles, b->selectCount("SELECT id FROM articles WHERE Trash=0").value());
    next.close();
}

void TestCommandExactness::refusedHalfway_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<TestSupport::Backend>("backend");
    // "trigger <table> <event> <condition>": the database refuses those rows; else the test
    // proxy refuses the first statement holding the text.
    QTest::addColumn<QString>("refused");
    QTest::addColumn<QString>("reason");
    for (const auto backend : { TestSupport::Backend::SQLite, TestSupport::Backend::MySQL }) {
        const QByteArray suffix = backend == TestSupport::Backend::MySQL ? " (mysql)" : " (sqlite)";
        QTest::newRow("the 2nd article's move" + suffix)
            << "Artikel ziehen" << backend << "trigger articles UPDATE OLD.id = 2"
            << "Abgelehnt";
        QTest::newRow("the 2nd listing's copy" + suffix)
            << "Angebote ziehen" << backend << "trigger articles INSERT NEW.Title = 'Lampe'"
            << "Abgelehnt";
    }
    // A read of the command's own, inside it.
    const QString proxy = QStringLiteral("Refused by the test proxy");
    const auto read = [&proxy](const char *name, const char *statement) {
        QTest::newRow(qPrintable(QStringLiteral("%1: its read").arg(QLatin1String(name))))
            << name << TestSupport::Backend::MySQL << statement << proxy;
    };
    read("Artikel ziehen", "SELECT id, Folder, Trash, Title");
    read("Ordner ziehen", "SELECT id, folderparentid FROM folders WHERE id IN");
    read("Umbenennen", "SELECT id, folderparentid FROM folders WHERE id IN");
    read("Ordner löschen", "SELECT count(id) FROM articles");
}

// A folder command one of whose statements is refused halfway stores nothing of it (every
// article moves or is copied, or none) and tells so once, with the reason; the window shows
// what is stored.
void TestCommandExactness::refusedHalfway()
{
    QFETCH(QString, name);
    QFETCH(TestSupport::Backend, backend);
    QFETCH(QString, refused);
    QFETCH(QString, reason);
    const Command *c = command(name);
    QVERIFY(c);
    APP_REQUIRE_BACKEND(backend);
    TestSupport::FakeHttpServer marketplace;
    marketplace.pointConfigHere();
    std::unique_ptr<TestSupport::MySqlProxy> proxy;
    std::unique_ptr<TestSupport::TestDatabase> data;
    if (backend == TestSupport::Backend::MySQL) {
        proxy = std::make_unique<TestSupport::MySqlProxy>(
            TestSupport::MySqlServer::fromEnvironment());
        data = std::make_unique<TestSupport::TestDatabase>(proxy->server());
        TestSupport::writeMySqlSetup(data->dataDir(), proxy->server(), data->mysqlDatabaseName(),
                                     true, false);
    } else {
        data = std::make_unique<TestSupport::TestDatabase>(backend);
    }
    QVERIFY2(data->error().isEmpty(), qPrintable(data->error()));
    seed(data->db());
    const QStringList trigger = refused.split(' ');
    if (trigger.first() == "trigger")
        QVERIFY(TestSupport::refuseRows(data->db(), trigger.at(1), trigger.at(2), reason,
                                        trigger.mid(3).join(' ')));
    DialogAnswers answers;
    MainWindowFixture fixture(*data);
    QVERIFY(fixture.window());
    Window w { fixture };
    QObject::disconnect(fixture.window(), &MainWindow::startCheckNow, nullptr, nullptr);
    if (trigger.first() != "trigger")
        proxy->refuse(refused.toUtf8());
    c->run(w, answers);
    if (QTest::currentTestFailed())
        return;

    QCOMPARE(stored(data->db()), kBefore);
    QTRY_COMPARE(answers.messages().size(), 1);
    const QString told = answers.lastMessageText();
    QVERIFY2(told.startsWith("Die Änderung konnte nicht gespeichert werden")
                 && told.contains(reason),
             qPrintable(told));
    QTRY_COMPARE(shown(w), held(w, data->db()));
    QCoreApplication::processEvents();
    QCOMPARE(answers.messages().size(), 1);
}

APP_TEST_MAIN(TestCommandExactness)
#include "test_commandexactness.moc"
