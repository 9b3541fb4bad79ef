// The command matrix, article commands: every command the window offers is known to the
// matrix (a new one fails the catalog test until it joins), the commands that write nothing
// leave the store alone, and each article command, on a store of 300 articles, keeps all or
// nothing under a refused row, a lost commit answer and another workstation's lock, and says
// which.
#include "tests/mainwindow/commandmatrix.h"
#include "tests/support/testmain.h"
#include "tests/support/urlcapture.h"

#include <QDesktopServices>
#include <QDialog>
#include <QTimer>
#include <QTreeView>

using Matrix::Command;
using Matrix::Fault;
using Matrix::Store;

namespace {

const QString kKellerIds = QStringLiteral("SELECT id FROM articles WHERE Folder=1");

const QList<Command> kCommands {
    { "Löschen",
      [](Store &s, DialogAnswers &answers) {
          QVERIFY(s.selectAll(Matrix::kKeller, Matrix::kInKeller));
          answers.pushQuestion(true);
          s.trigger("actionL_schen");
      },
      { "articles.Folder", "articles.FolderOld" },
      [](Database *db) {
          return Matrix::expectCount(db, "SELECT id FROM articles WHERE Folder=-5 AND FolderOld=1",
                                     260);
      },
      "articles UPDATE OLD.id = 120", kKellerIds },
    { "Papierkorb leeren",
      [](Store &s, DialogAnswers &answers) {
          QVERIFY(s.fixture->showFolder(-5));
          answers.pushQuestion(true);
          s.trigger("actionPapierkorb_leeren");
      },
      { "articles.Trash", "articles.TrashMoved" },
      [](Database *db) {
          return Matrix::expectCount(db, "SELECT id FROM articles WHERE Trash=1", 20);
      },
      "articles UPDATE OLD.id = 250", "SELECT id FROM articles WHERE Folder=-5" },
    { "In Ausgang legen",
      [](Store &s, DialogAnswers &) {
          QVERIFY(s.selectAll(Matrix::kKeller, Matrix::kInKeller));
          s.trigger("actionIn_Ausgang_legen");
      },
      { "articles.Folder", "articles.FolderOld", "articles.DoCheck", "articles.DoCheckResult" },
      [](Database *db) {
          return Matrix::expectCount(db, "SELECT id FROM articles WHERE Folder=-2 AND FolderOld=1",
                                     240);
      },
      "articles UPDATE OLD.id = 120", kKellerIds },
    { "Gebühren berechnen",
      [](Store &s, DialogAnswers &) {
          QVERIFY(s.selectAll(Matrix::kKeller, Matrix::kInKeller));
          s.trigger("actionAuwahl_beenden");
      },
      { "articles.DoCheck" },
      [](Database *db) {
          return Matrix::expectCount(db, "SELECT id FROM articles WHERE DoCheck=1 AND Folder=1",
                                     240);
      },
      "articles UPDATE OLD.id = 120", kKellerIds },
    { "Ausschneiden und Einfügen",
      [](Store &s, DialogAnswers &) {
          QVERIFY(s.selectAll(Matrix::kKeller, Matrix::kInKeller));
          s.trigger("actionAusschneiden");
          QVERIFY(s.fixture->showFolder(Matrix::kGarten));
          s.trigger("actionEinf_gen");
      },
      { "articles.Folder", "articles.FolderOld", "articles.<added>", "articles.<removed>",
        "articles_images.<added>", "articles_images.<removed>", "articles_images.article_id" },
      [](Database *db) {
          return Matrix::expectCount(db, "SELECT id FROM articles WHERE Folder=2", 240)
              + Matrix::expectCount(db, "SELECT id FROM articles WHERE Folder=1", 0)
              + Matrix::expectCount(db, "SELECT id FROM articles_images", 10);
      },
      "articles UPDATE OLD.id = 120; articles INSERT NEW.Title = 'Artikel 120'", kKellerIds },
    { "Kopieren und Einfügen",
      [](Store &s, DialogAnswers &) {
          QVERIFY(s.selectAll(Matrix::kKeller, Matrix::kInKeller));
          s.trigger("actionKopieren");
          QVERIFY(s.fixture->showFolder(Matrix::kGarten));
          s.trigger("actionEinf_gen");
      },
      { "articles.<added>", "articles_images.<added>", "files.<added>" },
      [](Database *db) {
          return Matrix::expectCount(db, "SELECT id FROM articles WHERE Folder=2", 240)
              + Matrix::expectCount(db, "SELECT id FROM articles WHERE Folder=1", 240)
              + Matrix::expectCount(db, "SELECT id FROM articles_images", 20);
      },
      "articles INSERT NEW.Title = 'Artikel 120'", kKellerIds },
    { "Als Vorlage",
      [](Store &s, DialogAnswers &) {
          QVERIFY(s.selectAll(-9, 20));
          s.trigger("actionDuplizieren");
      },
      { "articles.<added>" },
      [](Database *db) {
          return Matrix::expectCount(db, "SELECT id FROM articles WHERE Folder=-10", 40);
      },
      "articles INSERT NEW.Title = 'Artikel 270'", "SELECT id FROM articles WHERE Folder=-9" },
    { "Artikel ziehen",
      [](Store &s, DialogAnswers &) {
          QVERIFY(s.fixture->showFolder(Matrix::kKeller));
          Matrix::dropArticles(s, Matrix::articlePayloadFor(1, 240, Matrix::kKeller), Matrix::kGarten);
      },
      { "articles.Folder" },
      [](Database *db) {
          return Matrix::expectCount(db, "SELECT id FROM articles WHERE Folder=2", 240);
      },
      "articles UPDATE OLD.id = 120", kKellerIds },
    { "Angebote ziehen",
      [](Store &s, DialogAnswers &) {
          QVERIFY(s.fixture->showFolder(-9));
          Matrix::dropArticles(s, Matrix::articlePayloadFor(261, 280, -9), Matrix::kGarten);
      },
      { "articles.<added>" },
      [](Database *db) {
          return Matrix::expectCount(db, "SELECT id FROM articles WHERE Folder=2", 20);
      },
      "articles INSERT NEW.Title = 'Artikel 270'", "SELECT id FROM articles WHERE Folder=-9" },
};

} // namespace

class TestCommandMatrixArticles : public QObject
{
    Q_OBJECT

private slots:
    void everyCommandKnown();
    void writesNothing_data();
    void writesNothing();
    // The commands of the catalog this program runs.
    void coversItsCommands()
    {
        Matrix::checkCovers("articles", { "actionL_schen",
      "actionPapierkorb_leeren",
      "actionIn_Ausgang_legen",
      "actionAuwahl_beenden",
      "actionDuplizieren",
      "actionAusschneiden",
      "actionKopieren",
      "actionEinf_gen" });
    }
    void run_data() { Matrix::addRows(kCommands); }
    void run()
    {
        Matrix::runRow(kCommands);
    }
};

// Every command found in the window is in the matrix's table; every command of the table is
// still offered.
void TestCommandMatrixArticles::everyCommandKnown()
{
    Store store(TestSupport::Backend::SQLite);
    QVERIFY(store.open());
    const QStringList found = Matrix::foundCommands(store.window());
    QStringList known = Matrix::notRunYet() + Matrix::menus();
    for (const Matrix::Known &k : Matrix::catalog())
        known << k.command;
    QStringList unknown;
    for (const QString &name : found) {
        if (!known.contains(name))
            unknown << name;
    }
    QVERIFY2(unknown.isEmpty(),
             qPrintable("commands the matrix does not know: " + unknown.join(", ")));
    QStringList gone;
    for (const QString &name : known) {
        if (!found.contains(name))
            gone << name;
    }
    QVERIFY2(gone.isEmpty(), qPrintable("commands no longer offered: " + gone.join(", ")));
}

void TestCommandMatrixArticles::writesNothing_data()
{
    QTest::addColumn<TestSupport::Backend>("backend");
    QTest::newRow("sqlite") << TestSupport::Backend::SQLite;
    QTest::newRow("mysql") << TestSupport::Backend::MySQL;
}

// The commands that write nothing, each given in turn on a selection of articles: nothing
// stored changes, nothing is asked of the marketplace that changes a listing, and nothing
// complains.
void TestCommandMatrixArticles::writesNothing()
{
    QFETCH(TestSupport::Backend, backend);
    APP_REQUIRE_BACKEND(backend);
    UrlCapture urls;
    Store store(backend);
    QVERIFY(store.open());
    DialogAnswers answers;
    // A dialog a command shows (the About box) is closed as the seller would.
    QTimer closer;
    QObject::connect(&closer, &QTimer::timeout, [] {
        if (auto *dialog = qobject_cast<QDialog *>(QApplication::activeModalWidget()))
            dialog->reject();
    });
    closer.start(20);
    QList<Matrix::Known> nothing;
    for (const Matrix::Known &k : Matrix::catalog()) {
        if (k.program.isEmpty())
            (k.command == QLatin1String("actionBeenden") ? nothing.append(k) : nothing.prepend(k));
    }
    for (const Matrix::Known &k : qAsConst(nothing)) {
        const bool last = k.command == QLatin1String("actionBeenden");
        if (!last)
            QVERIFY(store.selectAll(-9, 20));
        QAction *action = Matrix::findCommand(store.window(), k.command);
        QVERIFY2(action, qPrintable(k.command));
        action->trigger();
        const auto now = store.now();
        QStringList changed = TestSupport::StoredState::changedRows(store.before, now);
        for (const QString &row : k.stores)
            changed.removeAll(row);
        QVERIFY2(changed.isEmpty(),
                 qPrintable(k.command + ": " + k.nothing + "\n"
                            + TestSupport::StoredState::describe(store.before, now)));
        for (const auto &request : store.marketplace.requests())
            QVERIFY2(!Matrix::writesListing(request.callName()),
                     qPrintable(k.command + ": " + request.callName()));
        QVERIFY2(Matrix::complaints(answers).isEmpty(),
                 qPrintable(k.command + ": " + Matrix::complaints(answers).join('\n')));
        // The next command is measured from here (a sort keeps the order it chose).
        store.before = now;
        if (last)
            QTRY_VERIFY(!store.window()->isVisible());
    }
    store.fixture->close();
}

APP_TEST_MAIN(TestCommandMatrixArticles)
#include "test_commandmatrix_articles.moc"
