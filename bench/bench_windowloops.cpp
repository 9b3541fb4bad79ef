// The window's thread while the commands that go over many articles or rows run, on a data
// folder of 50,000 articles: 35,000 drafts (2 picture rows each, 2 variations for every tenth),
// 5,000 running listings, 5,000 sold, 5,000 in the trash, 2,000 picture files of which 1,000
// are used. A child process runs the real window and drives each command as the seller would
// (bulk dialogs filled and confirmed, questions answered yes); for each it prints the time
// until the command has ended and the longest time the window's thread went without handling
// its events (a 5 ms timer of that thread notes each time it fires); for a delete refused while
// another program holds the file, next to the time of reading the list again at the same
// moment. The figures of one command
// are comparable with those of the same program built from another version of the sources.
// Usage (needs a display): xvfb-run -a bench_windowloops [--no-drop] [--selected N]
// (--no-drop leaves out the two drops of all drafts, which take minutes each at 35,000;
// --selected N makes N drafts and a seventh of N of each other kind instead of 35,000).
// windowloops_scale.sh beside it runs it at 1,000 and at 35,000 and flags what grows.
// On the shared database of the test command (scripts/with-mariadb.sh):
//   xvfb-run -a bench_windowloops --mysql-drops N
// prepares N drafts and N running listings (2 picture rows each, a variation for every tenth)
// and measures only the drops and the folder delete: the running listings dropped onto a folder,
// copied into the templates ("Als Vorlage"), the drafts dropped onto the folder, and the folder
// with all of them deleted.
#include "core/backgroundworker.h"
#include "core/config.h"
#include "core/database.h"
#include "core/dialogs.h"
#include "mainwindow/jobpanel.h"
#include "mainwindow/mainwindow.h"
#include "tests/support/mainwindowfixture.h"
#include "tests/support/pausewatch.h"
#include "tests/support/temphome.h"
#include "tests/support/testdatabase.h"
#include "views/foldermodel.h"
#include "views/itemlistwidget.h"

#include <QAbstractButton>
#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDialog>
#include <QDialogButtonBox>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QItemSelection>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMimeData>
#include <QPlainTextEdit>
#include <QProcess>
#include <QPushButton>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTimer>
#include <QTreeView>
#include <QTreeWidget>
#include <cstdio>
#include <functional>
#include <memory>

namespace {

// The drafts (ids 1..draftCount), then running listings, sold ones and ones in the trash,
// a seventh of the drafts each; 35,000 drafts unless --selected says otherwise.
int draftCount = 35000;
int activeCount = 5000;
int soldCount = 5000;
int trashCount = 5000;
int articleCount = draftCount + activeCount + soldCount + trashCount;

void setDrafts(int drafts)
{
    draftCount = drafts;
    activeCount = soldCount = trashCount = qMax(1, drafts / 7);
    articleCount = draftCount + activeCount + soldCount + trashCount;
}
constexpr int kFiles = 2000;

// Answers every question with yes, every save dialog with the export file, and shows nothing.
class SellerHook : public DialogHook
{
public:
    explicit SellerHook(const QString &exportFile)
        : m_exportFile(exportFile)
    { }
    void message(QWidget *, const QString &, const QString &text, int) override
    {
        last = text;
    }
    bool question(QWidget *, const QString &, const QString &) override { return true; }
    QString openFileName(QWidget *, const QString &, const QString &, const QString &) override
    {
        return QString();
    }
    QStringList openFileNames(QWidget *, const QString &, const QString &,
                              const QString &) override
    {
        return {};
    }
    QString saveFileName(QWidget *, const QString &, const QString &, const QString &) override
    {
        return m_exportFile;
    }
    QString existingDirectory(QWidget *, const QString &, const QString &) override
    {
        return QString();
    }
    QString text(QWidget *, const QString &, const QString &, const QString &, bool *ok) override
    {
        if (ok)
            *ok = false;
        return QString();
    }
    QString last;

private:
    QString m_exportFile;
};

using TestSupport::PauseWatch;

// Fills and confirms each bulk dialog the moment it is shown; the OK of a dialog that waits
// for its write is not clicked again.
class DialogSeller : public QObject
{
public:
    DialogSeller()
    {
        m_timer.setInterval(5);
        QObject::connect(&m_timer, &QTimer::timeout, this, [this] { look(); });
        m_timer.start();
    }
    // Fills the dialog when it comes, then confirms it; or cancels it when `cancel` is set.
    std::function<void(QDialog *)> fill;
    bool cancel = false;

private:
    void look()
    {
        auto *dialog = qobject_cast<QDialog *>(QApplication::activeModalWidget());
        if (dialog && cancel) {
            dialog->reject();
            return;
        }
        if (!dialog || !dialog->isEnabled() || !fill)
            return;
        auto *buttons = dialog->findChild<QDialogButtonBox *>(QStringLiteral("buttonBox"));
        QPushButton *ok = buttons ? buttons->button(QDialogButtonBox::Ok) : nullptr;
        if (!ok || !ok->isEnabled() || dialog->property("benchConfirmed").toBool())
            return;
        fill(dialog);
        dialog->setProperty("benchConfirmed", true);
        ok->click();
    }
    QTimer m_timer;
};

QTreeWidget *list(MainWindow &window)
{
    return window.findChild<QTreeWidget *>(QStringLiteral("itemlist"));
}

void showFolder(MainWindow &window, int id)
{
    auto *tree = window.findChild<QTreeView *>(QStringLiteral("treeView"));
    const QModelIndex index = TestSupport::folderIndexOf(tree->model(), id);
    tree->setCurrentIndex(index);
    window.on_treeView_clicked(index);
}

void selectAll(MainWindow &window)
{
    QTreeWidget *rows = list(window);
    QItemSelection selection;
    selection.select(rows->model()->index(0, 0),
                     rows->model()->index(rows->topLevelItemCount() - 1, 0));
    rows->selectionModel()->select(selection, QItemSelectionModel::ClearAndSelect);
}

QAction *action(MainWindow &window, const char *name)
{
    return window.findChild<QAction *>(QLatin1String(name));
}

void wait(const std::function<bool()> &done, int milliseconds = 600000)
{
    QElapsedTimer guard;
    guard.start();
    while (!done() && guard.elapsed() < milliseconds)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
}

int runWindow(const QString &exportFile, bool drops)
{
    SellerHook hook(exportFile);
    Dialogs::setHook(&hook);
    DialogSeller seller;
    MainWindow window;
    window.show();
    wait([&window] { return list(window)->topLevelItemCount() > 0; });
    PauseWatch pauses;
    // `command` runs the command; the command has ended when it returns and `ended` holds.
    const auto timed = [&](const char *name, const std::function<void()> &command,
                           const std::function<bool()> &ended = {}) {
        const int rows = list(window)->selectedItems().size();
        pauses.start();
        QElapsedTimer timer;
        timer.start();
        command();
        if (ended)
            wait(ended);
        const double seconds = timer.nsecsElapsed() / 1e9;
        const qint64 pause = pauses.stop();
        std::printf("%-44s %6d selected %8.3f s   longest pause of the window's thread %6lld ms\n",
                    name, rows, seconds, static_cast<long long>(pause));
        std::fflush(stdout);
        QCoreApplication::processEvents();
    };

    timed("list: open Artikelvorlagen", [&] { showFolder(window, -10); });
    timed("list: sort by title", [&] {
        action(window, "actionNach_Titel_aufsteigend_sortieren")->trigger();
    });
    timed("list: select all", [&] { selectAll(window); });
    {
        // The reference of the same moment: the list read again.
        QElapsedTimer reread;
        reread.start();
        showFolder(window, -10);
        const qint64 listMs = reread.elapsed();
        selectAll(window);
        // Another program holds the file's write lock: the delete is refused after the
        // window's wait, told, and the window shows what is stored, the rows chosen again.
        const QString holding = QStringLiteral("holder");
        {
            QSqlDatabase other = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), holding);
            other.setDatabaseName(Database(true, QStringLiteral("bench")).getCurrentDataDir()
                                  + QStringLiteral("ZirevPavlet.sqlite"));
            QSqlQuery holder(other);
            if (other.open() && holder.exec(QStringLiteral("BEGIN IMMEDIATE"))) {
                timed("refused: Löschen of the drafts, file held by another program",
                      [&] { action(window, "actionL_schen")->trigger(); },
                      [&] { return !hook.last.isEmpty(); });
                holder.exec(QStringLiteral("ROLLBACK"));
                std::printf("  told: %s; the list read again took %lld ms; chosen afterwards: "
                            "%d\n",
                            qPrintable(hook.last.left(120).replace('\n', ' ')),
                            static_cast<long long>(listMs),
                            list(window)->selectionModel()->selectedRows().size());
            } else {
                std::printf("refused delete: the file's lock could not be taken\n");
            }
            holder.finish();
            other.close();
        }
        QSqlDatabase::removeDatabase(holding);
        hook.last.clear();
    }
    seller.fill = [](QDialog *dialog) {
        auto *box = dialog->findChild<QComboBox *>(QStringLiteral("DurationBox"));
        box->setCurrentIndex(box->findData(QStringLiteral("Days_5")));
    };
    timed("bulk: Format und Laufzeit", [&] {
        action(window, "actionFormat_und_Laufzeit")->trigger();
    });
    seller.fill = [](QDialog *dialog) {
        dialog->findChild<QCheckBox *>(QStringLiteral("StartPriceBox"))->setChecked(true);
        dialog->findChild<QLineEdit *>(QStringLiteral("StartPrice"))->setText(QStringLiteral("+10%"));
    };
    timed("bulk: Preise und Mengen", [&] { action(window, "actionPreise_und_Mengen")->trigger(); });
    seller.fill = [](QDialog *dialog) {
        auto *fields = dialog->findChild<QListWidget *>(QStringLiteral("FieldSelectList"));
        for (int i = 0; i < fields->count(); ++i)
            fields->item(i)->setCheckState(fields->item(i)->text() == QLatin1String("Titel")
                                               ? Qt::Checked
                                               : Qt::Unchecked);
        dialog->findChild<QPlainTextEdit *>(QStringLiteral("SearchTextField"))
            ->setPlainText(QStringLiteral("Nr."));
        dialog->findChild<QPlainTextEdit *>(QStringLiteral("ReplaceTextField"))
            ->setPlainText(QStringLiteral("Nummer"));
    };
    timed("bulk: Suchen und ersetzen", [&] {
        action(window, "actionSuchen_und_ersetzen")->trigger();
    });
    seller.fill = {};
    seller.cancel = true;
    timed("listing: Planen (its dialog cancelled)", [&] { action(window, "actionPlanen")->trigger(); });
    seller.cancel = false;
    timed("listing: Auswahl beenden = Gebühren berechnen",
          [&] { action(window, "actionAuwahl_beenden")->trigger(); });
    timed("bulk: Rahmenbedingungen (no account)", [&] {
        action(window, "actionRahmenbedingungen")->trigger();
    });
    // Where the export runs as a job, it has ended when the worker has nothing left.
    timed(
        "export: Exportieren", [&] { action(window, "actionExportieren")->trigger(); },
        [] { return BackgroundWorker::instance()->pending() == 0; });

    // A drop of every draft onto a user folder, as the list builds its payload.
    auto *tree = window.findChild<QTreeView *>(QStringLiteral("treeView"));
    auto *folders = qobject_cast<FolderModel *>(tree->model());
    const int folder = 1; // "Ablage"
    if (drops && folders && folders->findFolderWithId(folder)) {
        QTreeWidget *rows = list(window);
        rows->setCurrentItem(rows->topLevelItem(0), 0, QItemSelectionModel::NoUpdate);
        std::unique_ptr<QMimeData> mime(
            ItemListWidget::articleMimeData(rows->currentItem(), rows->selectedItems()));
        timed("folders: drop the drafts onto a folder", [&] {
            folders->dropMimeData(mime.get(), Qt::MoveAction, -1, -1,
                                  folders->indexOfNode(folders->findFolderWithId(folder)));
        });
        showFolder(window, folder);
        selectAll(window);
        timed("folders: drop them back", [&] {
            std::unique_ptr<QMimeData> back(
                ItemListWidget::articleMimeData(list(window)->topLevelItem(0),
                                                list(window)->selectedItems()));
            folders->dropMimeData(back.get(), Qt::MoveAction, -1, -1,
                                  folders->indexOfNode(folders->findFolderWithId(-10)));
        });
    }

    showFolder(window, -9);
    selectAll(window);
    timed("editor: Duplizieren of running listings",
          [&] { action(window, "actionDuplizieren")->trigger(); });
    // Every marketplace address leads nowhere: each listing's end fails at once, and the
    // window takes 5,000 failures, their rows' texts and activity entries.
    Database accounts(true, QStringLiteral("accounts"));
    if (!accounts.executeSQL(QStringLiteral("INSERT INTO accounts (id, accountname, token, sandbox) "
                                            "VALUES (1, 'laden', 'T', 0)")))
        std::printf("the listings' account could not be stored\n");
    showFolder(window, -9);
    selectAll(window);
    seller.fill = [](QDialog *) {};
    timed(
        "listing: Angebot beenden (marketplace not reachable)",
        [&] { action(window, "actionAuwahl_beenden")->trigger(); },
        [&] {
            const auto *panel = window.findChild<JobPanel *>(QStringLiteral("JobPanel"));
            return BackgroundWorker::instance()->pending() == 0
                && (!panel || panel->jobs().isEmpty());
        });
    seller.fill = {};
    {
        Database counts(true, QStringLiteral("bench"));
        std::printf("  activity entries of failed ends: %s, listings still running: %d\n",
                    qPrintable(counts.selectOne(QStringLiteral("SELECT COUNT(*) FROM itemshistory "
                                                               "WHERE infotype='end_fail'"))
                                   .orIfFailed(QStringLiteral("?"))),
                    list(window)->topLevelItemCount());
    }
    showFolder(window, -7);
    selectAll(window);
    action(window, "actionKopieren")->trigger();
    showFolder(window, -10);
    timed("clipboard: Einfügen of sold articles", [&] { action(window, "actionEinf_gen")->trigger(); });
    showFolder(window, -10);
    {
        QTreeWidget *rows = list(window);
        QItemSelection selection;
        for (int row = 0; row < rows->topLevelItemCount(); row += 7)
            selection.select(rows->model()->index(row, 0), rows->model()->index(row, 0));
        rows->selectionModel()->select(selection, QItemSelectionModel::ClearAndSelect);
    }
    timed("listing: In Ausgang legen (every 7th draft)",
          [&] { action(window, "actionIn_Ausgang_legen")->trigger(); });
    showFolder(window, -10);
    selectAll(window);
    timed("delete: Löschen of the drafts", [&] { action(window, "actionL_schen")->trigger(); });
    showFolder(window, -5);
    timed("delete: Papierkorb leeren", [&] { action(window, "actionPapierkorb_leeren")->trigger(); });
    const QString pictureDir = Database(true, QStringLiteral("bench")).getCurrentAdImageDir();
    std::printf("picture files before the clean-up: %d in %s\n",
                QDir(pictureDir).entryList(QDir::Files).size(), qPrintable(pictureDir));
    auto *label = window.findChild<QLabel *>(QStringLiteral("SyncLabel"));
    QAction *cleanUp = action(window, "actionDatenbank_aufr_umen");
    timed(
        "cleanup: Datenbank und Bilder aufräumen", [&] { cleanUp->trigger(); },
        [&] {
            return cleanUp->isEnabled() && BackgroundWorker::instance()->pending() == 0
                && (label->text().contains(QStringLiteral("Aufräumen beendet"))
                    || label->text().contains(QStringLiteral("verschoben"))
                    || label->text().contains(QStringLiteral("fehlgeschlagen")));
        });
    std::printf("cleanup told: %s\n", qPrintable(hook.last.left(300).replace('\n', ' ')));
    std::printf("picture files after the clean-up: %d\n",
                QDir(pictureDir).entryList(QDir::Files).size());
    window.close();
    Dialogs::setHook(nullptr);
    return 0;
}

// The child on the shared database: the drops and the folder delete only.
int runMySqlDrops()
{
    SellerHook hook(QString {});
    Dialogs::setHook(&hook);
    MainWindow window;
    window.show();
    wait([&window] { return list(window)->topLevelItemCount() > 0; });
    PauseWatch pauses;
    const auto timed = [&](const char *name, const std::function<void()> &command) {
        const int rows = list(window)->selectedItems().size();
        pauses.start();
        QElapsedTimer timer;
        timer.start();
        command();
        const double seconds = timer.nsecsElapsed() / 1e9;
        const qint64 pause = pauses.stop();
        std::printf("%-44s %6d selected %8.3f s   longest pause of the window's thread %6lld ms\n",
                    name, rows, seconds, static_cast<long long>(pause));
        if (!hook.last.isEmpty())
            std::printf("  told: %s\n", qPrintable(hook.last.left(200).replace('\n', ' ')));
        hook.last.clear();
        std::fflush(stdout);
        QCoreApplication::processEvents();
    };
    auto *tree = window.findChild<QTreeView *>(QStringLiteral("treeView"));
    auto *folders = qobject_cast<FolderModel *>(tree->model());
    const int folder = 1; // "Ablage"
    const auto dropSelected = [&](int onto) {
        QTreeWidget *rows = list(window);
        rows->setCurrentItem(rows->topLevelItem(0), 0, QItemSelectionModel::NoUpdate);
        std::unique_ptr<QMimeData> mime(
            ItemListWidget::articleMimeData(rows->currentItem(), rows->selectedItems()));
        folders->dropMimeData(mime.get(), Qt::MoveAction, -1, -1,
                              folders->indexOfNode(folders->findFolderWithId(onto)));
    };
    showFolder(window, -9);
    selectAll(window);
    timed("folders: drop running listings onto a folder", [&] { dropSelected(folder); });
    showFolder(window, -9);
    selectAll(window);
    timed("editor: Als Vorlage of running listings",
          [&] { action(window, "actionDuplizieren")->trigger(); });
    showFolder(window, -10);
    selectAll(window);
    timed("folders: drop the drafts onto a folder", [&] { dropSelected(folder); });
    showFolder(window, -9);
    tree->setCurrentIndex(folders->indexOfNode(folders->findFolderWithId(folder)));
    timed("folders: delete the folder", [&] { action(window, "actionL_schen_2")->trigger(); });
    window.close();
    Dialogs::setHook(nullptr);
    return 0;
}

// `count` drafts and as many running listings on the shared database, written by groups.
bool prepareShared(Database &db, int count)
{
    const auto run = [&db](const QString &sql) {
        if (db.executeSQL(sql))
            return true;
        std::fprintf(stderr, "failed: %s\n%s\n", qPrintable(sql.left(200)),
                     qPrintable(db.lastErrorText));
        return false;
    };
    const QString description = QString(800, QLatin1Char('x'));
    for (int first = 1; first <= 2 * count; first += 500) {
        QStringList rows;
        for (int id = first; id < first + 500 && id <= 2 * count; ++id) {
            const bool listed = id > count;
            rows << QStringLiteral("(%1,'Armbanduhr Edelstahl Nr. %1','<p>%2</p>',%3,0,0,77,1,%4,%5,"
                                   "'EUR','FixedPriceItem','GTC','bild_%1_0.jpg','%6','%7')")
                        .arg(id)
                        .arg(description)
                        .arg(listed ? -9 : -10)
                        .arg(4.99 + (id % 500) * 0.5)
                        .arg(1 + id % 5)
                        .arg(listed ? QString::number(110000000000LL + id) : QString(),
                             listed ? QStringLiteral("2026-11-02 12:00:00") : QString());
        }
        if (!run(QStringLiteral("INSERT INTO articles (id, Title, Description, Folder, FolderOld, "
                                "Trash, Site, Account, StartPrice, Quantity, Currency, ListingType, "
                                "ListingDuration, ImageThumb, ItemID, StartDate) VALUES ")
                 + rows.join(QLatin1Char(','))))
            return false;
    }
    return run(QStringLiteral("INSERT INTO articles_images (article_id, image, sort) SELECT id, "
                              "CONCAT('bild_', id, '_0.jpg'), 0 FROM articles"))
        && run(QStringLiteral("INSERT INTO articles_images (article_id, image, sort) SELECT id, "
                              "CONCAT('bild_', id, '_1.jpg'), 1 FROM articles"))
        && run(QStringLiteral("INSERT INTO articles_variations (article_id, SKU, StartPrice, "
                              "Quantity) SELECT id, CONCAT('V-', id), 9.99, 2 FROM articles WHERE "
                              "id % 10 = 0"))
        && run(QStringLiteral("INSERT INTO folders (id, folderparentid, foldername, expand) "
                              "VALUES (1, -10, 'Ablage', 0)"));
}

bool prepare(Database &db)
{
    const auto run = [&db](const QString &sql) {
        if (db.executeSQL(sql))
            return true;
        std::fprintf(stderr, "failed: %s\n%s\n", qPrintable(sql.left(200)),
                     qPrintable(db.lastErrorText));
        return false;
    };
    if (!run(QStringLiteral("BEGIN TRANSACTION")))
        return false;
    const QString description = QString(800, QLatin1Char('x'));
    for (int id = 1; id <= articleCount; ++id) {
        const int folder = id <= draftCount          ? -10
            : id <= draftCount + activeCount             ? -9
            : id <= draftCount + activeCount + soldCount     ? -7
                                                  : -5;
        const bool listed = folder == -9 || folder == -7;
        QMap<QString, QVariant> row {
            { QStringLiteral("Title"), QStringLiteral("Armbanduhr Edelstahl Nr. %1").arg(id) },
            { QStringLiteral("Description"),
              QStringLiteral("<p>Artikelbeschreibung %1</p>").arg(id) + description },
            { QStringLiteral("Folder"), folder },
            { QStringLiteral("FolderOld"), folder == -5 ? -10 : 0 },
            { QStringLiteral("Trash"), 0 },
            { QStringLiteral("Site"), 77 },
            { QStringLiteral("Account"), 1 },
            { QStringLiteral("StartPrice"), 4.99 + (id % 500) * 0.5 },
            { QStringLiteral("Quantity"), 1 + id % 5 },
            { QStringLiteral("Currency"), QStringLiteral("EUR") },
            { QStringLiteral("ListingType"), QStringLiteral("FixedPriceItem") },
            { QStringLiteral("ListingDuration"), QStringLiteral("GTC") },
            { QStringLiteral("ImageThumb"), QStringLiteral("bild_%1_0.jpg").arg(id) },
            { QStringLiteral("ItemID"),
              listed ? QString::number(110000000000LL + id) : QString() },
            { QStringLiteral("StartDate"),
              listed ? QStringLiteral("2026-11-02 12:00:00") : QString() },
        };
        if (db.insertSqlClean(row, QStringLiteral("articles")) != id)
            return false;
    }
    if (!run(QStringLiteral("INSERT INTO articles_images (article_id, image, sort) SELECT id, "
                            "'bild_' || id || '_0.jpg', 0 FROM articles"))
        || !run(QStringLiteral("INSERT INTO articles_images (article_id, image, sort) SELECT id, "
                               "'bild_' || id || '_1.jpg', 1 FROM articles"))
        || !run(QStringLiteral("INSERT INTO articles_variations (article_id, SKU, StartPrice, "
                               "Quantity) SELECT id, 'V-' || id, 9.99, 2 FROM articles WHERE id "
                               "% 10 = 0"))
        || !run(QStringLiteral("INSERT INTO articles_variations (article_id, SKU, StartPrice, "
                               "Quantity) SELECT article_id, SKU || '-b', 9.99, 2 FROM "
                               "articles_variations"))
        || !run(QStringLiteral("INSERT INTO folders (id, folderparentid, foldername, expand) "
                               "VALUES (1, -10, 'Ablage', 0)"))
        || !run(QStringLiteral("COMMIT")))
        return false;
    // Picture files: the first 1,000 are named by the drafts' rows, the rest by no row.
    const QString pictures = db.getCurrentAdImageDir();
    for (int i = 0; i < kFiles; ++i) {
        QFile file(pictures
                   + (i < kFiles / 2 ? QStringLiteral("bild_%1_1.jpg").arg(i + 1)
                                     : QStringLiteral("alt_%1.jpg").arg(i)));
        // Older than the minute in which the clean-up leaves a picture alone.
        if (!file.open(QIODevice::WriteOnly) || file.write("jpg") != 3 || !file.flush()
            || !file.setFileTime(QDateTime::currentDateTime().addDays(-2),
                                 QFileDevice::FileModificationTime))
            return false;
    }
    return db.checkpoint();
}

} // namespace

int main(int argc, char *argv[])
{
    if (argc > 1 && qstrcmp(argv[1], "--window-mysql-drops") == 0) {
        QApplication app(argc, argv);
        return runMySqlDrops();
    }
    if (argc > 2 && qstrcmp(argv[1], "--mysql-drops") == 0) {
        TestSupport::TempHome dir;
        qputenv("QT_LOGGING_RULES", "*.debug=false;*.info=false;*.warning=false");
        for (Config::Key key : Config::allKeys()) {
            if (Config::isAddress(key))
                qputenv(Config::environmentVariable(key).toLatin1(), "http://127.0.0.1:9");
        }
        QApplication app(argc, argv);
        const int count = QString::fromLatin1(argv[2]).toInt();
        TestSupport::TestDatabase data(TestSupport::Backend::MySQL);
        if (!data.error().isEmpty()) {
            std::fprintf(stderr, "%s\n", qPrintable(data.error()));
            return 1;
        }
        QElapsedTimer timer;
        timer.start();
        if (!prepareShared(*data.db(), count))
            return 1;
        QDir().mkpath(Database::defaultDataDir());
        TestSupport::writeMySqlSetup(Database::defaultDataDir(),
                                     TestSupport::MySqlServer::fromEnvironment(),
                                     data.mysqlDatabaseName(), true, false);
        std::printf("prepared %d drafts and %d running listings on the shared database in %.1f s\n",
                    count, count, timer.nsecsElapsed() / 1e9);
        std::fflush(stdout);
        QProcess child;
        child.setProcessChannelMode(QProcess::ForwardedChannels);
        child.start(QCoreApplication::applicationFilePath(),
                    { QStringLiteral("--window-mysql-drops") });
        if (!child.waitForFinished(3600000) || child.exitCode() != 0) {
            std::fprintf(stderr, "the window process failed\n");
            return 1;
        }
        return 0;
    }
    if (argc > 4 && qstrcmp(argv[1], "--window") == 0) {
        setDrafts(QByteArray(argv[4]).toInt());
        QApplication app(argc, argv);
        return runWindow(QString::fromLocal8Bit(argv[2]), qstrcmp(argv[3], "--no-drop") != 0);
    }
    bool drops = true;
    for (int k = 1; k < argc; ++k) {
        if (qstrcmp(argv[k], "--no-drop") == 0) {
            drops = false;
        } else if (qstrcmp(argv[k], "--selected") == 0 && k + 1 < argc) {
            const int drafts = QByteArray(argv[++k]).toInt();
            if (drafts < 7) {
                std::fprintf(stderr, "--selected needs at least 7 articles\n");
                return 2;
            }
            setDrafts(drafts);
        }
    }

    // Everything the program writes goes below one temporary folder; no request leaves
    // the machine.
    TestSupport::TempHome dir;
    qputenv("QT_LOGGING_RULES", "*.debug=false;*.info=false;*.warning=false");
    for (Config::Key key : Config::allKeys()) {
        if (Config::isAddress(key))
            qputenv(Config::environmentVariable(key).toLatin1(), "http://127.0.0.1:9");
    }
    QCoreApplication app(argc, argv);
    QElapsedTimer timer;
    timer.start();
    {
        Database db(QString(), nullptr);
        if (!prepare(db))
            return 1;
        db.close();
    }
    QDir().mkpath(dir.path() + QStringLiteral("/Desktop"));
    std::printf("prepared %d articles in %.1f s\n", articleCount, timer.nsecsElapsed() / 1e9);
    std::fflush(stdout);
    QProcess child;
    child.setProcessChannelMode(QProcess::ForwardedChannels);
    child.start(QCoreApplication::applicationFilePath(),
                { QStringLiteral("--window"), dir.path() + QStringLiteral("/export.csv"),
                  drops ? QStringLiteral("--drops") : QStringLiteral("--no-drop"),
                  QString::number(draftCount) });
    if (!child.waitForFinished(3600000) || child.exitCode() != 0) {
        std::fprintf(stderr, "the window process failed\n");
        return 1;
    }
    return 0;
}
