// The window's thread while every command of the main window runs (the same table of commands
// the command matrix goes through), on a data folder of 50,000 articles: 35,000 drafts (2
// picture rows each, 2 variations for every tenth), 5,000 running listings, 5,000 sold, 5,000
// in the trash, 2,000 picture files of which 1,000 are used. A child process runs the real
// window and drives each command as the seller would (bulk dialogs filled and confirmed,
// questions answered yes); for each it prints the time until the command has ended, the
// longest time the window's thread went without handling its events (a 5 ms timer of that
// thread notes each time it fires), and that pause against the time of reading the drafts'
// list again in the same run. A command of the table that is not run is printed with the
// reason. The figures of one command are comparable with those of the same program built
// from another version of the sources.
// Usage (needs a display):
//   xvfb-run -a bench_windowloops [--no-drop] [--selected N] [--mariadb] [--held]
// (--no-drop leaves out the two drops of all drafts, which take minutes each at 35,000;
// --selected N makes N drafts and a seventh of N of each other kind instead of 35,000;
// --mariadb works on a fresh database of the test command's server, scripts/with-mariadb.sh;
// --held runs each command while another connection holds what it writes: the file's write
// lock on SQLite, every article row FOR UPDATE on MariaDB).
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
#include "tests/mainwindow/commandmatrix.h"
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
#include <QDateTime>
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
#include <QPointer>
#include <QProcess>
#include <QPushButton>
#include <QSqlDatabase>
#include <QSqlError>
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
// for its write is not clicked again. A dialog still open a while after its OK (its write
// refused), one whose OK stays disabled, and one no step expects are cancelled 4 s after
// they came.
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
        if (dialog != m_seen) {
            m_seen = dialog;
            m_since.start();
        }
        if (dialog && (cancel || m_since.elapsed() > 4000)) {
            dialog->reject();
            return;
        }
        if (!dialog || !dialog->isEnabled() || !fill)
            return;
        auto *buttons = dialog->findChild<QDialogButtonBox *>(QStringLiteral("buttonBox"));
        QPushButton *ok = buttons ? buttons->button(QDialogButtonBox::Ok) : nullptr;
        if (!ok || dialog->property("benchConfirmed").toBool())
            return;
        if (!dialog->property("benchFilled").toBool()) {
            fill(dialog);
            dialog->setProperty("benchFilled", true);
        }
        if (!ok->isEnabled())
            return;
        dialog->setProperty("benchConfirmed", true);
        ok->click();
    }
    QTimer m_timer;
    QPointer<QDialog> m_seen;
    QElapsedTimer m_since;
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

// Another connection holding what the commands write: on SQLite the file's write lock, on the
// shared database every article row, read FOR UPDATE in an open transaction. Empty `error()`
// while it holds.
class Holder
{
public:
    explicit Holder(const QString &mysqlDatabase)
    {
        QSqlDatabase other;
        if (mysqlDatabase.isEmpty()) {
            other = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), m_name);
            other.setDatabaseName(Database(true, QStringLiteral("bench")).getCurrentDataDir()
                                  + QStringLiteral("ZirevPavlet.sqlite"));
        } else {
            const TestSupport::MySqlServer server = TestSupport::MySqlServer::fromEnvironment();
            other = QSqlDatabase::addDatabase(QStringLiteral("QMYSQL"), m_name);
            other.setHostName(server.host);
            other.setPort(server.port);
            other.setUserName(server.user);
            other.setPassword(server.password);
            other.setDatabaseName(mysqlDatabase);
        }
        if (!other.open()) {
            m_error = other.lastError().text();
            return;
        }
        QSqlQuery query(other);
        const bool held = mysqlDatabase.isEmpty() ? query.exec(QStringLiteral("BEGIN IMMEDIATE"))
                                                  : query.exec(QStringLiteral("START TRANSACTION"))
                && query.exec(QStringLiteral("SELECT id FROM articles FOR UPDATE"));
        if (!held)
            m_error = query.lastError().text();
    }
    ~Holder()
    {
        {
            QSqlDatabase other = QSqlDatabase::database(m_name, false);
            QSqlQuery(other).exec(QStringLiteral("ROLLBACK"));
            other.close();
        }
        QSqlDatabase::removeDatabase(m_name);
    }
    QString error() const { return m_error; }

private:
    QString m_name = QStringLiteral("holder");
    QString m_error;
};

// What is chosen before a command runs.
enum class Choice { Keep, All, EverySeventh, None };

// One command of the window as the seller gives it: the folder shown and the rows chosen
// first, then the action triggered (or `run`), until `ended` holds.
struct Step
{
    QString command; // the command's name in the window's command table
    QString label;
    int folder = 0; // 0: the folder shown stays
    Choice choice = Choice::Keep;
    std::function<void()> run = {};
    std::function<bool()> ended = {};
    std::function<void(QDialog *)> fill = {};
    bool cancel = false;
    bool freeOnly = false; // run only without the other connection (it changes what follows)
};

// The commands of the command table that the bench does not run, and why.
const QMap<QString, QString> &notRun()
{
    static const QMap<QString, QString> reasons {
        { QStringLiteral("actionImportieren"),
          QStringLiteral("reads a CSV file the seller picks; its cost follows the file, not the "
                         "selection (bench_csvimport)") },
        { QStringLiteral("actionDaten_sichern"),
          QStringLiteral("writes an archive of the whole store; its cost follows the store, "
                         "not the selection (bench_backup)") },
        { QStringLiteral("actionRovive_2_Daten_importieren"),
          QStringLiteral("reads the predecessor's export the seller picks, not the selection") },
        { QStringLiteral("actionDaten_wiederherstellen"),
          QStringLiteral("replaces the whole store from an archive (bench_backup)") },
        { QStringLiteral("actionNeuer_Artikel"),
          QStringLiteral("opens the editor for one new article (bench_editor)") },
        { QStringLiteral("actionHilfe"), QStringLiteral("opens a page in the browser") },
        { QStringLiteral("actionProjektseite_ffnen"),
          QStringLiteral("opens a page in the browser") },
        { QStringLiteral("action_1_Webseite_besuchen"),
          QStringLiteral("opens a page in the browser") },
        { QStringLiteral("actionDatenverzeichnis_ffnen"),
          QStringLiteral("opens the file manager") },
        { QStringLiteral("actionArtikel_online_aufrufen"),
          QStringLiteral("would open one browser page per chosen article") },
        { QStringLiteral("action_ber_1"), QStringLiteral("shows the About box; no list work") },
    };
    return reasons;
}

int runWindow(const QString &exportFile, bool drops, const QString &mysqlDatabase, bool held)
{
    SellerHook hook(exportFile);
    Dialogs::setHook(&hook);
    DialogSeller seller;
    MainWindow window;
    window.show();
    wait([&window] { return list(window)->topLevelItemCount() > 0; });
    const QString backend
        = mysqlDatabase.isEmpty() ? QStringLiteral("sqlite") : QStringLiteral("mariadb");
    const QString lock = held ? QStringLiteral("held") : QStringLiteral("free");
    // The reference of the same run: the drafts' list read again.
    showFolder(window, -10);
    QElapsedTimer reread;
    reread.start();
    showFolder(window, -10);
    const qint64 listMs = qMax<qint64>(1, reread.elapsed());
    std::printf("list re-read: %d rows in %lld ms\n", list(window)->topLevelItemCount(),
                static_cast<long long>(listMs));

    auto *tree = window.findChild<QTreeView *>(QStringLiteral("treeView"));
    auto *folders = qobject_cast<FolderModel *>(tree->model());
    const int userFolder = 1; // "Ablage"
    const auto jobsEnded = [&window] {
        const auto *panel = window.findChild<JobPanel *>(QStringLiteral("JobPanel"));
        return BackgroundWorker::instance()->pending() == 0 && (!panel || panel->jobs().isEmpty());
    };
    const auto dropOnto = [&](int onto) {
        QTreeWidget *rows = list(window);
        if (!rows->topLevelItemCount())
            return;
        rows->setCurrentItem(rows->topLevelItem(0), 0, QItemSelectionModel::NoUpdate);
        std::unique_ptr<QMimeData> mime(
            ItemListWidget::articleMimeData(rows->currentItem(), rows->selectedItems()));
        folders->dropMimeData(mime.get(), Qt::MoveAction, -1, -1,
                              folders->indexOfNode(folders->findFolderWithId(onto)));
    };
    const auto chooseFolder = [&](int id) {
        tree->setCurrentIndex(folders->indexOfNode(folders->findFolderWithId(id)));
    };
    const auto nameFolder = [](QDialog *dialog) {
        dialog->findChild<QLineEdit *>(QStringLiteral("lineEdit"))
            ->setText(QStringLiteral("Neu %1").arg(QDateTime::currentMSecsSinceEpoch()));
    };
    const auto confirm = [](QDialog *) {
    };

    QList<Step> steps;
    steps << Step { {}, QStringLiteral("list: open Artikelvorlagen"), 0, Choice::Keep, [&] {
                       showFolder(window, -10);
                   } };
    // Every sort, ending with the order the list had.
    for (const char *sort :
         { "actionNach_Titel_aufsteigend_sortieren", "actionNach_Titel_absteigend_sortieren",
           "actionNach_Startpreis_aufsteigend_sortieren",
           "actionNach_Startpreis_absteigend_sortieren",
           "actionNach_Beobachter_aufsteigend_sortieren",
           "actionNach_Beobachter_absteigend_sortieren", "actionNach_Ende_aufsteigend_sortieren",
           "actionNach_Ende_absteigend_sortieren", "actionNach_Menge_aufsteigend_sortieren",
           "actionNach_Menge_absteigend_sortieren", "actionNach_Verk_ufen_aufsteigend_sortieren",
           "actionNach_Verk_ufen_absteigend_sortieren",
           "actionNach_Startzeit_aufsteigend_sortieren",
           "actionNach_Startzeit_absteigend_sortieren", "actionNach_interner_Referenz_aufsteigend",
           "actionNach_interner_Referenz_absteigend", "actionNach_interner_Id_absteigend_sortieren",
           "actionNach_interner_Id_aufsteigend_sortieren" })
        steps << Step { QLatin1String(sort), QStringLiteral("sort"), -10, Choice::Keep };
    steps << Step { QStringLiteral("actionAlles_markieren"), QStringLiteral("select all"), -10,
                    Choice::None, [&] {
                        // The shortcut selects the rows only while the list has the focus.
                        QApplication::setActiveWindow(&window);
                        list(window)->setFocus();
                        action(window, "actionAlles_markieren")->trigger();
                    } };
    steps << Step { QStringLiteral("_q_qlineeditclearaction"),
                    QStringLiteral("search field emptied after a search"), -10, Choice::All, [&] {
                        auto *search = window.findChild<QLineEdit *>(QStringLiteral("SearchBy"));
                        search->setText(QStringLiteral("Nr. 1"));
                        QMetaObject::invokeMethod(search, "returnPressed");
                        // The field's own clear button; the field emptied as it does where
                        // the button does not take a trigger from outside.
                        if (auto *clear = search->findChild<QAction *>(
                                QStringLiteral("_q_qlineeditclearaction")))
                            clear->trigger();
                        if (!search->text().isEmpty())
                            search->clear();
                    } };
    steps << Step { QStringLiteral("unnamed:/QToolBar/mainToolBar"),
                    QStringLiteral("tool bar hidden and shown"), 0, Choice::Keep, [&] {
                        QAction *bar = Matrix::findCommand(
                            &window, QStringLiteral("unnamed:/QToolBar/mainToolBar"));
                        if (bar) {
                            bar->trigger();
                            bar->trigger();
                        }
                    } };
    steps << Step { QStringLiteral("actionCache_leeren"), QStringLiteral("reference cache"), 0,
                    Choice::Keep };
    steps << Step { QStringLiteral("actionListe_leeren"), QStringLiteral("news list"), 0,
                    Choice::Keep };
    steps << Step { QStringLiteral("actionSynchronisieren"),
                    QStringLiteral("no account"),
                    0,
                    Choice::Keep,
                    {},
                    jobsEnded };
    steps << Step { QStringLiteral("actionFormat_und_Laufzeit"),
                    QStringLiteral("bulk, drafts"),
                    -10,
                    Choice::All,
                    {},
                    {},
                    [](QDialog *dialog) {
                        auto *box = dialog->findChild<QComboBox *>(QStringLiteral("DurationBox"));
                        box->setCurrentIndex(box->findData(QStringLiteral("Days_5")));
                    } };
    steps << Step {
        QStringLiteral("actionPreise_und_Mengen"),
        QStringLiteral("bulk, drafts"),
        -10,
        Choice::All,
        {},
        {},
        [](QDialog *dialog) {
            dialog->findChild<QCheckBox *>(QStringLiteral("StartPriceBox"))->setChecked(true);
            dialog->findChild<QLineEdit *>(QStringLiteral("StartPrice"))
                ->setText(QStringLiteral("+10%"));
        }
    };
    steps << Step { QStringLiteral("actionSuchen_und_ersetzen"),
                    QStringLiteral("bulk, drafts"),
                    -10,
                    Choice::All,
                    {},
                    {},
                    [](QDialog *dialog) {
                        auto *fields
                            = dialog->findChild<QListWidget *>(QStringLiteral("FieldSelectList"));
                        for (int i = 0; i < fields->count(); ++i)
                            fields->item(i)->setCheckState(
                                fields->item(i)->text() == QLatin1String("Titel") ? Qt::Checked
                                                                                  : Qt::Unchecked);
                        dialog->findChild<QPlainTextEdit *>(QStringLiteral("SearchTextField"))
                            ->setPlainText(QStringLiteral("Nr."));
                        dialog->findChild<QPlainTextEdit *>(QStringLiteral("ReplaceTextField"))
                            ->setPlainText(QStringLiteral("Nummer"));
                    } };
    for (const char *bulk :
         { "actionArtikelstandort_und_Bearbeitungszeit", "actionZahlungsmethoden",
           "actionKonto_PayPal_und_Shopkategorien", "actionEinstellungen", "actionInlandsversand",
           "actionAuslandsversand", "actionRahmenbedingungen" })
        steps << Step { QLatin1String(bulk),
                        QStringLiteral("bulk, drafts, confirmed as shown"),
                        -10,
                        Choice::All,
                        {},
                        {},
                        confirm };
    steps << Step { QStringLiteral("actionPlanen"),
                    QStringLiteral("its dialog cancelled"),
                    -10,
                    Choice::All,
                    {},
                    {},
                    {},
                    true };
    steps << Step { QStringLiteral("actionAuwahl_beenden"),
                    QStringLiteral("drafts: Gebühren berechnen"), -10, Choice::All };
    steps << Step { QStringLiteral("actionExportieren"),
                    QStringLiteral("drafts"),
                    -10,
                    Choice::All,
                    {},
                    jobsEnded };
    steps << Step { QStringLiteral("actionKopieren"), QStringLiteral("sold articles"), -7,
                    Choice::All };
    steps << Step { QStringLiteral("actionEinf_gen"),
                    QStringLiteral("into Artikelvorlagen"),
                    -10,
                    Choice::Keep,
                    {},
                    jobsEnded };
    steps << Step { QStringLiteral("actionAusschneiden"), QStringLiteral("drafts"), -10,
                    Choice::EverySeventh };
    steps << Step { QStringLiteral("actionEinf_gen"),
                    QStringLiteral("cut ones into a folder"),
                    userFolder,
                    Choice::Keep,
                    {},
                    jobsEnded };
    steps << Step { QStringLiteral("actionDuplizieren"),
                    QStringLiteral("running listings"),
                    -9,
                    Choice::All,
                    {},
                    jobsEnded };
    steps << Step { QStringLiteral("actionAuwahl_beenden"),
                    QStringLiteral("running: Angebot beenden, marketplace not reachable"),
                    -9,
                    Choice::All,
                    {},
                    jobsEnded,
                    confirm };
    steps << Step { QStringLiteral("actionIn_Ausgang_legen"), QStringLiteral("every 7th draft"),
                    -10, Choice::EverySeventh };
    if (drops) {
        steps << Step { {},
                        QStringLiteral("folders: drop the drafts onto a folder"),
                        -10,
                        Choice::All,
                        [&] { dropOnto(userFolder); },
                        jobsEnded };
        steps << Step { {},
                        QStringLiteral("folders: drop them back"),
                        userFolder,
                        Choice::All,
                        [&] { dropOnto(-10); },
                        jobsEnded };
    }
    steps << Step { QStringLiteral("actionNeuer_Ordner"),
                    QStringLiteral("below Artikelvorlagen"),
                    0,
                    Choice::Keep,
                    [&] {
                        chooseFolder(-10);
                        action(window, "actionNeuer_Ordner")->trigger();
                    },
                    {},
                    nameFolder };
    steps << Step { QStringLiteral("actionUmbenennen"),
                    QStringLiteral("a folder"),
                    0,
                    Choice::Keep,
                    [&] {
                        chooseFolder(userFolder);
                        action(window, "actionUmbenennen")->trigger();
                    },
                    {},
                    nameFolder };
    steps << Step {
        QStringLiteral("actionL_schen"), QStringLiteral("drafts"), -10, Choice::All, {}, jobsEnded
    };
    steps << Step { QStringLiteral("actionL_schen_2"),
                    QStringLiteral("folder with articles"),
                    0,
                    Choice::Keep,
                    [&] {
                        chooseFolder(userFolder);
                        action(window, "actionL_schen_2")->trigger();
                    },
                    jobsEnded };
    steps << Step { QStringLiteral("actionPapierkorb_leeren"),
                    QStringLiteral("trash"),
                    -5,
                    Choice::Keep,
                    {},
                    jobsEnded };
    QAction *cleanUp = action(window, "actionDatenbank_aufr_umen");
    auto *label = window.findChild<QLabel *>(QStringLiteral("SyncLabel"));
    steps << Step { QStringLiteral("actionDatenbank_aufr_umen"),
                    QStringLiteral("data and pictures"),
                    0,
                    Choice::Keep,
                    {},
                    [&] {
                        return cleanUp->isEnabled() && BackgroundWorker::instance()->pending() == 0
                            && (label->text().contains(QStringLiteral("Aufräumen beendet"))
                                || label->text().contains(QStringLiteral("verschoben"))
                                || label->text().contains(QStringLiteral("fehlgeschlagen")));
                    } };
    steps << Step { QStringLiteral("actionBeenden"),
                    QStringLiteral("the window closes"),
                    0,
                    Choice::Keep,
                    {},
                    {},
                    {},
                    false,
                    true };

    // Every command of the window's table is run or said not to be.
    QSet<QString> covered;
    for (const Step &step : qAsConst(steps))
        covered.insert(step.command);
    QStringList commands;
    for (const Matrix::Known &known : Matrix::catalog())
        commands << known.command;
    commands << Matrix::notRunYet();
    for (const QString &command : qAsConst(commands)) {
        if (!covered.contains(command))
            std::printf("not run: %s: %s\n", qPrintable(command),
                        qPrintable(notRun().value(command, QStringLiteral("no step yet"))));
    }

    // The listings' account, so that ending them goes as far as the marketplace.
    Database accounts(true, QStringLiteral("accounts"));
    if (!accounts.executeSQL(QStringLiteral("INSERT INTO accounts (id, accountname, token, sandbox) "
                                            "VALUES (1, 'laden', 'T', 0)")))
        std::printf("the listings' account could not be stored\n");

    PauseWatch pauses;
    for (const Step &step : qAsConst(steps)) {
        if (held && step.freeOnly) {
            std::printf("not run: %s: ends the run; measured without the other connection\n",
                        qPrintable(step.command));
            continue;
        }
        if (step.folder != 0)
            showFolder(window, step.folder);
        QTreeWidget *rows = list(window);
        if (step.choice == Choice::All) {
            selectAll(window);
        } else if (step.choice == Choice::EverySeventh) {
            QItemSelection selection;
            for (int row = 0; row < rows->topLevelItemCount(); row += 7)
                selection.select(rows->model()->index(row, 0), rows->model()->index(row, 0));
            rows->selectionModel()->select(selection, QItemSelectionModel::ClearAndSelect);
        } else if (step.choice == Choice::None) {
            rows->clearSelection();
        }
        seller.fill = step.fill;
        seller.cancel = step.cancel;
        hook.last.clear();
        int chosen = rows->selectionModel()->selectedRows().size();
        std::unique_ptr<Holder> holder;
        if (held) {
            holder = std::make_unique<Holder>(mysqlDatabase);
            if (!holder->error().isEmpty())
                std::printf("  the other connection holds nothing: %s\n",
                            qPrintable(holder->error()));
        }
        pauses.start();
        QElapsedTimer timer;
        timer.start();
        if (step.run)
            step.run();
        else
            action(window, step.command.toLatin1().constData())->trigger();
        // With the rows held, a command may wait for them until they are let go.
        if (step.ended)
            wait(step.ended, held ? 30000 : 600000);
        const double seconds = timer.nsecsElapsed() / 1e9;
        const qint64 pause = pauses.stop();
        holder.reset();
        // "Alles markieren" chooses what it is measured with.
        chosen = qMax(chosen, list(window)->selectionModel()->selectedRows().size());
        const QString name
            = (step.command.isEmpty() ? QString() : step.command + QStringLiteral(" "))
            + QLatin1Char('(') + step.label + QLatin1Char(')');
        std::printf("%-7s %-4s %-76s %6d selected %8.3f s   longest pause of the window's "
                    "thread %6lld ms %6.2fx list\n",
                    qPrintable(backend), qPrintable(lock), qPrintable(name), chosen, seconds,
                    static_cast<long long>(pause), double(pause) / double(listMs));
        if (!hook.last.isEmpty())
            std::printf("  told: %s\n", qPrintable(hook.last.left(160).replace('\n', ' ')));
        std::fflush(stdout);
        seller.fill = {};
        seller.cancel = false;
        if (held && step.ended)
            wait(step.ended, 600000);
        QCoreApplication::processEvents();
    }
    if (window.isVisible())
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
    const bool mysql = db.isMySQL;
    const auto joined = [mysql](const QString &a, const QString &b) {
        return mysql ? QStringLiteral("CONCAT(%1, %2)").arg(a, b) : a + QStringLiteral(" || ") + b;
    };
    if (!run(mysql ? QStringLiteral("START TRANSACTION") : QStringLiteral("BEGIN TRANSACTION")))
        return false;
    // Written by groups of rows: one statement per row would take minutes on the shared
    // database.
    const QString description = QString(800, QLatin1Char('x'));
    for (int first = 1; first <= articleCount; first += 500) {
        QStringList rows;
        for (int id = first; id < first + 500 && id <= articleCount; ++id) {
            const int folder = id <= draftCount              ? -10
                : id <= draftCount + activeCount             ? -9
                : id <= draftCount + activeCount + soldCount ? -7
                                                             : -5;
            const bool listed = folder == -9 || folder == -7;
            rows << QStringLiteral("(%1,'Armbanduhr Edelstahl Nr. %1','<p>Artikelbeschreibung "
                                   "%1</p>%2',%3,%4,0,77,1,%5,%6,'EUR','FixedPriceItem','GTC',"
                                   "'bild_%1_0.jpg','%7','%8')")
                        .arg(id)
                        .arg(description)
                        .arg(folder)
                        .arg(folder == -5 ? -10 : 0)
                        .arg(4.99 + (id % 500) * 0.5)
                        .arg(1 + id % 5)
                        .arg(listed ? QString::number(110000000000LL + id) : QString(),
                             listed ? QStringLiteral("2026-11-02 12:00:00") : QString());
        }
        if (!run(
                QStringLiteral("INSERT INTO articles (id, Title, Description, Folder, FolderOld, "
                               "Trash, Site, Account, StartPrice, Quantity, Currency, ListingType, "
                               "ListingDuration, ImageThumb, ItemID, StartDate) VALUES ")
                + rows.join(QLatin1Char(','))))
            return false;
    }
    const QString id = QStringLiteral("id");
    if (!run(QStringLiteral("INSERT INTO articles_images (article_id, image, sort) SELECT id, ")
             + joined(joined(QStringLiteral("'bild_'"), id), QStringLiteral("'_0.jpg'"))
             + QStringLiteral(", 0 FROM articles"))
        || !run(QStringLiteral("INSERT INTO articles_images (article_id, image, sort) SELECT id, ")
                + joined(joined(QStringLiteral("'bild_'"), id), QStringLiteral("'_1.jpg'"))
                + QStringLiteral(", 1 FROM articles"))
        || !run(QStringLiteral("INSERT INTO articles_variations (article_id, SKU, StartPrice, "
                               "Quantity) SELECT id, ")
                + joined(QStringLiteral("'V-'"), id)
                + QStringLiteral(", 9.99, 2 FROM articles WHERE id % 10 = 0"))
        || !run(QStringLiteral("INSERT INTO articles_variations (article_id, SKU, StartPrice, "
                               "Quantity) SELECT article_id, ")
                + joined(QStringLiteral("SKU"), QStringLiteral("'-b'"))
                + QStringLiteral(", 9.99, 2 FROM articles_variations"))
        || !run(QStringLiteral("INSERT INTO folders (id, folderparentid, foldername, expand) "
                               "VALUES (1, -10, 'Ablage', 0)"))
        || !run(QStringLiteral("COMMIT")))
        return false;
    // Picture files: the first 1,000 are named by the drafts' rows, the rest by no row.
    const QString pictures = db.getCurrentAdImageDir();
    QDir().mkpath(pictures);
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
    return mysql || db.checkpoint();
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
    if (argc > 6 && qstrcmp(argv[1], "--window") == 0) {
        setDrafts(QByteArray(argv[4]).toInt());
        QApplication app(argc, argv);
        const QString mysqlDatabase
            = qstrcmp(argv[5], "-") == 0 ? QString() : QString::fromLocal8Bit(argv[5]);
        return runWindow(QString::fromLocal8Bit(argv[2]), qstrcmp(argv[3], "--no-drop") != 0,
                         mysqlDatabase, qstrcmp(argv[6], "held") == 0);
    }
    bool drops = true;
    bool mysql = false;
    bool held = false;
    for (int k = 1; k < argc; ++k) {
        if (qstrcmp(argv[k], "--no-drop") == 0) {
            drops = false;
        } else if (qstrcmp(argv[k], "--mariadb") == 0) {
            mysql = true;
        } else if (qstrcmp(argv[k], "--held") == 0) {
            held = true;
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
    QApplication app(argc, argv);
    QElapsedTimer timer;
    timer.start();
    // On the shared database: a fresh database on the test command's server, named in the
    // data folder's settings as the settings dialog does.
    std::unique_ptr<TestSupport::TestDatabase> shared;
    if (mysql) {
        shared = std::make_unique<TestSupport::TestDatabase>(TestSupport::Backend::MySQL);
        if (!shared->error().isEmpty()) {
            std::fprintf(stderr, "%s\n", qPrintable(shared->error()));
            return 1;
        }
        if (!prepare(*shared->db()))
            return 1;
        QDir().mkpath(Database::defaultDataDir());
        TestSupport::writeMySqlSetup(Database::defaultDataDir(),
                                     TestSupport::MySqlServer::fromEnvironment(),
                                     shared->mysqlDatabaseName(), true, false);
    } else {
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
                  QString::number(draftCount),
                  mysql ? shared->mysqlDatabaseName() : QStringLiteral("-"),
                  held ? QStringLiteral("held") : QStringLiteral("free") });
    if (!child.waitForFinished(3600000) || child.exitCode() != 0) {
        std::fprintf(stderr, "the window process failed\n");
        return 1;
    }
    return 0;
}
