#pragma once

#include "core/backgroundworker.h"
#include "core/newsitem.h"

#include <QList>
#include <QMainWindow>
#include <QMap>
#include <QModelIndex>
#include <QPointer>
#include <QQueue>
#include <QRect>
#include <QSet>
#include <QString>
#include <QStringList>
#include <QVariant>
#include <QVector>

class BackgroundJob;
class BulkEditDialog;
class Database;
class FolderModel;
class NewsListItemModel;
class OutcomePanel;
class JobPanel;
template<typename T> class Read;
class SqlRows;
class PendingRequest;
class QCloseEvent;
class QImage;
class QJsonObject;
class QLabel;
class QMenu;
class QNetworkAccessManager;
class QTimer;
class QSystemTrayIcon;
class QThread;
class QTreeWidgetItem;
class Ui_MainWindow;

// The application's one top-level window. It owns the form, the tray icon, the main database
// connection, the three panels (folder tree, article list, activity list) and starts the two
// background workers. Its methods live in the folders of the subsystems they belong to:
//   mainwindow/mainwindow.cpp         construction, layout, shutdown
//   mainwindow/mainwindow_status.cpp  status panel, count line, command states, notifications
//   views/mainwindow_folders.cpp      folder tree and folder commands
//   views/mainwindow_itemlist.cpp     article list: filling, search, sorting, account filter
//   views/mainwindow_news.cpp         activity list
//   import/mainwindow_restore.cpp     completing a restore at start-up
//   import/mainwindow_backup.cpp      backup, restore and predecessor import commands
class MainWindow : public QMainWindow
{
    Q_OBJECT

public:
    explicit MainWindow(QWidget *parent = nullptr);
    ~MainWindow() override;

    // --- article list (views/mainwindow_itemlist.cpp) ---
    // Writes every item role of one article row (read with listColumns) into `item`.
    void UpdateListItem(const QMap<QString, QVariant> &row, QTreeWidgetItem *item);
    // The first listed row of article `id`; null when the article is not listed.
    QTreeWidgetItem *IsItemWithIdHere(int id) const;

    // --- main window (mainwindow/mainwindow.cpp) ---
    // `geometry` made to fit into `available`: no bigger, then moved inside.
    static QRect fittedGeometry(const QRect &geometry, const QRect &available);

signals:
    void startSyncNow();
    void startCheckNow();

public slots:
    // --- main window (mainwindow/mainwindow.cpp) ---
    void on_actionBeenden_triggered();
    void initUpdater();

    // --- status panel and command states (mainwindow/mainwindow_status.cpp) ---
    void updateStatusBar(QString stat, int totalStat, int detailStat);
    void updateBar();
    void setNextSync(QString syncTime);
    void setAppToSyncState(bool newState);
    void updateButtons();
    void sendNotification(const QString &what);

    // --- folder tree (views/mainwindow_folders.cpp) ---
    void on_treeView_clicked(const QModelIndex &index);
    void on_treeView_expanded(const QModelIndex &index);
    void on_treeView_collapsed(const QModelIndex &index);
    void on_treeView_customContextMenuRequested(const QPoint &pos);
    void on_actionNeuer_Ordner_triggered();
    void on_actionUmbenennen_triggered();
    void on_actionL_schen_2_triggered();

    // --- article list (views/mainwindow_itemlist.cpp) ---
    void reloadData();
    void on_SearchBy_textChanged(const QString &arg1);
    void on_SearchBy_returnPressed();
    void on_SearchBy_inputRejected();
    void on_InDesc_toggled(bool checked);
    void on_AccountFilterBox_currentIndexChanged(int index);
    // Refills the account filter; the chosen account stays chosen while it exists.
    void reloadAccountBox();
    void showHeaderContextMenu(int section);
    void on_itemlist_customContextMenuRequested(const QPoint &pos);
    void on_itemlist_itemSelectionChanged();
    void on_actionAlles_markieren_triggered();
    void on_actionNach_Titel_aufsteigend_sortieren_triggered();
    void on_actionNach_Titel_absteigend_sortieren_triggered();
    void on_actionNach_Startpreis_aufsteigend_sortieren_triggered();
    void on_actionNach_Startpreis_absteigend_sortieren_triggered();
    void on_actionNach_Beobachter_aufsteigend_sortieren_triggered();
    void on_actionNach_Beobachter_absteigend_sortieren_triggered();
    void on_actionNach_Startzeit_aufsteigend_sortieren_triggered();
    void on_actionNach_Startzeit_absteigend_sortieren_triggered();
    void on_actionNach_Ende_aufsteigend_sortieren_triggered();
    void on_actionNach_Ende_absteigend_sortieren_triggered();
    void on_actionNach_Menge_aufsteigend_sortieren_triggered();
    void on_actionNach_Menge_absteigend_sortieren_triggered();
    void on_actionNach_Verk_ufen_aufsteigend_sortieren_triggered();
    void on_actionNach_Verk_ufen_absteigend_sortieren_triggered();
    void on_actionNach_interner_Id_aufsteigend_sortieren_triggered();
    void on_actionNach_interner_Id_absteigend_sortieren_triggered();
    void on_actionNach_interner_Referenz_aufsteigend_triggered();
    void on_actionNach_interner_Referenz_absteigend_triggered();

    // --- activity list (views/mainwindow_news.cpp) ---
    // `folder` is a mode: "ONLYLOAD" while the stored entries are loaded at start-up, empty
    // for live entries, which also update the article list and the folder counts.
    void addNewsItem(NewsItem newsItem, QString folder = QString());
    // A worker's entry (queued connection): taken in a moment later together with the others
    // that came meanwhile, so a round's thousands of entries update both lists once per
    // batch, and the worker never waits for the window.
    void queueNewsItem(const NewsItem &newsItem);
    void on_newslist_clicked(const QModelIndex &index);
    void on_newslist_doubleClicked(const QModelIndex &index);
    void on_newslist_customContextMenuRequested(const QPoint &pos);
    void on_actionListe_leeren_triggered();

    // --- article commands (mainwindow/mainwindow_listing.cpp, mainwindow_delete.cpp,
    //     mainwindow_clipboard.cpp, mainwindow_cleanup.cpp) ---
    void on_actionIn_Ausgang_legen_triggered();
    void on_actionPlanen_triggered();
    void on_actionSynchronisieren_triggered();
    void on_actionArtikel_online_aufrufen_triggered();
    void on_actionAuwahl_beenden_triggered();
    void on_actionL_schen_triggered();
    void on_actionPapierkorb_leeren_triggered();
    void on_actionAusschneiden_triggered();
    void on_actionKopieren_triggered();
    void on_actionEinf_gen_triggered();
    void on_actionCache_leeren_triggered();
    void on_actionDatenbank_aufr_umen_triggered();

protected:
    void closeEvent(QCloseEvent *event) override;

private:
    // --- main window (mainwindow/mainwindow.cpp) ---
    void SetupLayout();
    void readSettings();
    // The available area of the screen under the centre of `geometry` (the primary screen's
    // when no screen is there).
    static QRect availableScreenArea(const QRect &geometry);
    void startWorkers();
    // Runs the event loop until every worker has left its loop or `timeoutMs` passed.
    void waitForWorkers(int timeoutMs);

    // --- folder tree (views/mainwindow_folders.cpp) ---
    void CreateFolderTree();
    // The folder tree text (see FolderModel) of the folders and counts stored now.
    QString folderTreeText();
    // Opens the top node, the fixed folders and the folders stored as open.
    void expandFolderTree();
    // Builds the tree again from the database; the folder shown stays current when it is
    // still there, else "Artikelvorlagen" (currentFolder follows). False when it can't be read.
    bool reloadFolderTree();

    // --- article list (views/mainwindow_itemlist.cpp) ---
    void initItemList();
    // The article's row as the list reads it (listColumns); empty when there is none.
    QMap<QString, QVariant> readListRow(int id);
    // The list's columns of `ids` (one statement: at most a few hundred ids); a failed read
    // makes the window read what is stored again later.
    Read<SqlRows> readListRows(const QList<int> &ids);
    void sortBy(const QString &order);
    // The label of the sort action with this ORDER BY text; empty for an unknown order.
    QString sortLabel(const QString &order) const;
    // Why the list's last fill could not read its rows; empty when it could.
    QString listReadFailure;

    // --- activity list (views/mainwindow_news.cpp) ---
    void initNewsList();
    void takeQueuedNews();
    // Takes entries in, oldest first; `onlyLoad` for the stored ones loaded at start-up.
    void takeNews(const QVector<NewsItem> &items, bool onlyLoad);
    // Applies a live entry to the article list and the folder counts; true when the count
    // line is to be brought up to date.
    bool applyNewsToList(const NewsItem &newsItem);
    // False when an entry of this id was taken already.
    bool rememberNewsId(int id);

    // --- import, export and backup (import/mainwindow_restore.cpp) ---
    // Asks whether the pending restore is to be done now; a No drops it for good.
    bool confirmRestore();
    // Swaps the pending restore in for the data folder held by `db`.
    void doRestore();

    FolderModel *folderModel = nullptr;
    QString currentQuery;
    QString sortOrder;
    // The order as the option "lastOrder" holds it, as last read or written.
    QString storedSortOrder;
    QString searchText;
    Ui_MainWindow *ui;
    QSystemTrayIcon *trayIcon = nullptr;
    QStringList copiedArticleIds;
    QStringList cutArticleIds;
    // Takes `ids` out of the copy and cut lists, in one pass over each.
    void dropPasteIds(const QList<int> &ids);
    QMenu *newsMenu = nullptr;
    bool loading = true;
    Database *db = nullptr;
    QMenu *folderMenu = nullptr;
    QMenu *headerMenu = nullptr;
    QMenu *itemMenu = nullptr;
    bool workersStarted = false;
    // The ids of the entries taken, the newest ones: an entry sent twice is shown once.
    QSet<int> shownNewsIds;
    QQueue<int> shownNewsOrder;
    QVector<NewsItem> queuedNews;
    bool newsTakeScheduled = false;
    int currentFolder = -9;
    NewsListItemModel *newsModel = nullptr;
    QString listColumns;

    // --- article commands (mainwindow/mainwindow_listing.cpp, mainwindow_delete.cpp,
    //     mainwindow_clipboard.cpp, mainwindow_cleanup.cpp) ---
    // The article ids of the selected rows, in selection order.
    QList<int> selectedArticleIds() const;
    // Takes the rows of these articles out of the list in one batch; the scroll position
    // stays. Rows are found by id, so rows added or removed meanwhile do no harm.
    void removeListRows(const QSet<int> &ids);
    void endListings();
    // "Angebot beenden" asks the marketplace and stores the outcome as one job of the
    // background worker; the window takes its report when it has finished.
    struct EndReport;
    void endListingsFinished(const EndReport &report);
    QPointer<BackgroundJob> m_endJob;
    // Listings (by ItemID) the marketplace ended whose move to "Nicht verkauft" is not
    // stored yet: "Auswahl beenden" stores it without asking the marketplace again.
    QSet<QString> m_endedAtMarketplace;
    void askForFees();
    // "Datenbank aufräumen" runs as one job of the background worker, shown with showJob();
    // its report is told when it has finished.
    struct CleanupReport;
    void cleanupFinished(const CleanupReport &report);
    QPointer<BackgroundJob> m_cleanupJob;

    // The worker threads, watched (not owned) so that closing can wait for them.
    QList<QPointer<QThread>> workerThreads;
    int runningWorkers = 0;

    // --- count line (mainwindow/mainwindow_status.cpp) ---
    // The count line is a permanent widget of the status bar: the status tips of menus and
    // tool bar replace only temporary messages. Made by the first updateBar().
    QLabel *countLabel = nullptr;

    // --- failed writes (mainwindow/mainwindow_status.cpp) ---
    // A failed write of the window's own connection is told in one notice, together with
    // every other that fails before it is shown; a worker's goes to the status panel. One
    // whose outcome is unknown is told as such, once the command that met it is done, unless
    // that command told it (tellOutcomeUnknown) or a look-up found out what was stored.
    void databaseWriteFailed(const QString &connectionName, const QString &error,
                             const QString &connectionReason, bool outcomeUnknown);
    void showWriteFailure();
    // A connection lost its server (status panel) or was closed for its session settings
    // (the window's own: a notice); its return is told once in the status panel.
    void databaseConnectionBroken(const QString &connectionName, const QString &reason,
                                  bool sessionRefused);
    void databaseConnectionRestored(const QString &connectionName);
    QString m_writeFailure;
    int m_writeFailures = 0;
public:
    // A seller command whose outcome is not known (the connection was lost after its write
    // was sent): tells the seller once, naming the command (`command`, e.g. "die
    // Preisänderung"), takes over the failure notice the lost write queued, and re-reads what
    // the window shows (list, folder counts, tree) from the database. Every command that
    // meets Database::Outcome::Unknown ends here, before it may be run again.
    // `consequence`, when given, follows: what the seller has to do should it be stored.
    void tellOutcomeUnknown(const QString &command, const QString &consequence = QString());
    // A seller command that wrote nothing because one of its statements failed (a read
    // inside its transaction as well as a write, or the commit): tells the seller once that
    // `command` changed nothing, with the reason, and re-reads what the window shows; a
    // failed write's queued notice tells it instead. An Unknown outcome goes to
    // tellOutcomeUnknown().
    // `done`: what the command did outside the database (listings ended at the marketplace),
    // said first, in place of a queued notice.
    void tellNotStored(const QString &command, const QString &done = QString());
private:
    // Shows a command's notice `text`, then what is stored; the command counts as told until
    // the event loop runs again.
    void tellAndShowStored(const QString &text);
    bool m_showingWriteFailure = false;
    bool m_unknownOutcomeQueued = false;
    // tellOutcomeUnknown() told a command, and the event loop has not run since.
    bool m_outcomeUnknownTold = false;
    // Reads the tree and the list again after a failed write or an unknown outcome, and again
    // a little later while they can't be read.
    void showStored();
    void scheduleStoredRead(int milliseconds);
    int m_storedReads = 0;
    bool m_storedReadScheduled = false;
    bool m_databaseDown = false;
    // The window's connection was closed for its session settings, or lost its server, and
    // the seller was told so in a notice: further failures until it is back go to the status
    // panel.
    bool m_sessionRefusedShown = false;
    bool m_lostNoticeShown = false;
    // The window's connections leave a server that is away to a probe of the database layer
    // and read what is stored once it answers again. Called once, by the constructor.
    void watchDatabaseServer();
    // A write of a dialog's own connection (made on the window's thread) whose outcome is not
    // known: its command tells it once the dialog is closed (tellOutcomeUnknown); if it does
    // not, the status panel says it then.
    void tellUnknownOfDialog();
    static QString unknownStatusText();
    bool m_unknownInDialog = false;
    bool m_unknownDialogCheck = false;

    // --- bulk editing (bulk/mainwindow_bulk.cpp) ---
public slots:
    void on_actionFormat_und_Laufzeit_triggered();
    void on_actionRahmenbedingungen_triggered();
    void on_actionArtikelstandort_und_Bearbeitungszeit_triggered();
    void on_actionZahlungsmethoden_triggered();
    void on_actionKonto_PayPal_und_Shopkategorien_triggered();
    void on_actionPreise_und_Mengen_triggered();
    void on_actionSuchen_und_ersetzen_triggered();
    void on_actionInlandsversand_triggered();
    void on_actionAuslandsversand_triggered();

private:
    // The selected rows of the article list, in the list's order, with the first row's site
    // and account and whether any other row has another.
    struct BulkSelection
    {
        QStringList ids;
        int site = -1;
        int account = -1;
        bool sitesDiffer = false;
        bool accountsDiffer = false;
    };
    BulkSelection bulkSelection() const;
    // Runs a bulk dialog modally (not at all when it refused to open); its result.
    int runBulkDialog(BulkEditDialog *dialog);
    // Reads the listed rows of these articles again.
    void refreshListRows(const QStringList &ids);

    // --- settings (mainwindow/mainwindow_settings.cpp) ---
public slots:
    void on_actionEinstellungen_triggered();

    // --- banner, help and web links (mainwindow/mainwindow_help.cpp) ---
public slots:
    // Fetches the banner description from the maker's server without blocking the window,
    // shows its picture and arms the next fetch.
    void setupBanner();
    void on_actionDatenverzeichnis_ffnen_triggered();
    void on_actionProjektseite_ffnen_triggered();
    void on_action_1_Webseite_besuchen_triggered();
    void on_actionHilfe_triggered();
    void on_action_ber_1_triggered();

private:
    void applyBannerDescription(const QByteArray &body);
    void applyBannerPicture(const QJsonObject &description, const QByteArray &picture);
    void showBannerPicture(const QJsonObject &description, const QByteArray &picture,
                           const QImage &image);
    void armBanner(int minutes);
    // Opens a page on the web, or says that it can't be reached when no address is set.
    void openWebPage(const QString &address);

    QNetworkAccessManager *bannerNetwork = nullptr;
    QTimer *bannerTimer = nullptr;
    QPointer<PendingRequest> bannerRequest;

    // --- CSV import and export (import/mainwindow_csv.cpp) ---
private slots:
    void on_actionImportieren_triggered();
    void on_actionExportieren_triggered();

private:
    // Shows `job` below the status panel with its progress and Abbrechen until it finishes.
    void showJob(BackgroundJob *job, const QString &text);

    JobPanel *jobPanel = nullptr;
    QPointer<BackgroundJob> exportJob; // while an export runs

    // --- article editor (editor/mainwindow_editor.cpp) ---
public slots:
    void on_actionNeuer_Artikel_triggered();
    void on_itemlist_itemDoubleClicked(QTreeWidgetItem *item);
    void on_actionDuplizieren_triggered();

private:
    // Runs the editor window-modal with the window disabled; its result (1: saved) and, in
    // `savedId`, the id of the article it saved.
    int runEditor(int articleId, int folder, bool duplicate, int *savedId);
    // Appends the article's row to the list (nothing when it cannot be read).
    void appendListRow(int id);

    // --- backup, restore and predecessor import (import/mainwindow_backup.cpp) ---
public:
    // The unpacked restore folder waiting to be swapped in at this workstation's next start;
    // empty when none is.
    static QString pendingRestore();
    static void setPendingRestore(const QString &folder);

public slots:
    void on_actionDaten_sichern_triggered();
    void on_actionDaten_wiederherstellen_triggered();
    void on_actionRovive_2_Daten_importieren_triggered();
    void handleFileSaveAsBeforeCloseSelected(const QString &path);

private:
    // Shows a backup's outcome below the status panel until the seller closes it.
    void showBackupOutcome(bool ok, const QString &title, const QString &text);
    // The option "backuppath" (default: documents + "/Zerire3_Backups"), with "/" only.
    Read<QString> backupFolder();
    // The archive name for a backup into `datedFolder`: "Zerire3.backup", else the first free
    // "Zerire3_<n>.backup".
    static QString backupArchiveName(const QString &datedFolder);

    OutcomePanel *backupOutcome = nullptr;
};
