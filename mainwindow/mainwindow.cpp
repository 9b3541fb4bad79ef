#include "mainwindow/mainwindow.h"

#include "core/backgroundworker.h"
#include "core/connectionsettings.h"
#include "core/database.h"
#include "core/dialogs.h"
#include "core/logging.h"
#include "core/settings.h"
#include "core/statics.h"
#include "core/translators.h"
#include "ui_mainwindow.h"
#include "views/foldermodel.h"
#include "workers/ebay.h"
#include "workers/listingthread.h"
#include "workers/workerpriority.h"

#include <QApplication>
#include <QCloseEvent>
#include <QDate>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFileInfo>
#include <QGuiApplication>
#include <QLocale>
#include <QMenu>
#include <QScreen>
#include <QSystemTrayIcon>
#include <QThread>
#include <QTimer>

#include <type_traits>

namespace {
const QString kVersion = QStringLiteral("3.1.8");
// How long closing the window waits for the workers to finish what they are doing.
constexpr int kWorkerShutdownMs = 20000;
} // namespace

MainWindow::MainWindow(QWidget *parent)
    : QMainWindow(parent)
    , ui(new Ui_MainWindow)
    , listColumns(QStringLiteral(
          "ShippingService_1_Cost, CurrentPrice, Account, Site, SKU, HasVariation, "
          "HasVariationMinPrice, Planned, Planned_Interval, ItemID, DoCheck, DoCheckResult, id, "
          "Title, StartPrice, BuyItNowPrice, Folder, FolderOld, SoldCount, Currency, ImageThumb, "
          "WatchCount, ListingDuration, StartDate, ListingType, BidCount, QuestionCount, "
          "Quantity, eBayPlus, BestOfferEnabled"))
{
    qRegisterMetaType<NewsItem>("NewsItem");

    loading = true;
    ui->setupUi(this);
    ui->menuDatei->addSeparator();
    ui->menuDatei->addAction(ui->actionBeenden);
    ui->action_ber_1->setText(
        ui->action_ber_1->text().replace(QLatin1String("%1"), QLatin1String("Zerire3")));
    qApp->setProperty("inSync", false);
    SetupLayout();

    trayIcon = new QSystemTrayIcon(this);
    trayIcon->setIcon(QIcon(QStringLiteral(":/buttons/images/q3_64x64px.png")));
    if (QSystemTrayIcon::isSystemTrayAvailable())
        trayIcon->setVisible(true);

    // A pending restore replaces the data folder before anything works on it. It is asked
    // about first: what is wrong with the data it replaces is told only when they stay.
    const bool restoring = !pendingRestore().isEmpty() && confirmRestore();
    Database::setStartProblemsShown(!restoring);
    db = new Database(QString(), nullptr);
    const Read<QString> chosenPath = db->getOption(QStringLiteral("datapath"), QString());
    // The start told already why the default folder's database can't be read; otherwise the
    // seller learns that the data may lie elsewhere.
    if (!chosenPath.ok() && db->startProblem().isEmpty())
        Statics::showMessage(nullptr,
                             tr("Der hinterlegte Datenpfad konnte nicht gelesen werden: %1\n\n"
                                "Das Programm arbeitet bis zum nächsten Start mit dem "
                                "Standardverzeichnis.")
                                 .arg(chosenPath.error()),
                             2);
    const QString dataPath = chosenPath.orIfFailed(QString()); // told above
    if (!dataPath.isEmpty()) {
        // A file of that name can't hold the data either.
        if (!QFileInfo(dataPath).isDir()) {
            const bool reset = db->setOption(QStringLiteral("datapath"), QString());
            Statics::showMessage(
                nullptr,
                reset ? tr("Der hinterlegte Datenpfad \"%1\" ist nicht vorhanden, nutze das "
                           "Standardverzeichnis und setze die Einstellung zurück")
                            .arg(dataPath)
                      : tr("Der hinterlegte Datenpfad \"%1\" ist nicht vorhanden, nutze das "
                           "Standardverzeichnis. Die Einstellung konnte nicht zurückgesetzt "
                           "werden: %2")
                            .arg(dataPath, db->lastErrorText),
                2);
        } else {
            // The default folder's database is not the one the restore replaces.
            if (restoring && !db->startProblem().isEmpty())
                Statics::showMessage(nullptr, db->startProblem(), 2);
            db->close();
            delete db;
            db = new Database(dataPath, nullptr);
        }
    }

    if (restoring)
        doRestore();
    Database::setStartProblemsShown(true);
    // The background jobs work on this folder's database for the whole run, whatever main
    // Database is made later for a moment (the settings store the next start's folder).
    BackgroundWorker::instance()->setConnectionSettings(ConnectionSettings::published());

    // Without a log folder (a data folder that can't be written) the log stays on the console
    // instead of landing in whatever the working directory is.
    const QString logDir = db->getCurrentLogDir();
    if (!logDir.isEmpty())
        Statics::InitLogger(logDir + QStringLiteral("ZirevPavlet_")
                            + QDate::currentDate().toString(QStringLiteral("yyyy_MM_dd"))
                            + QStringLiteral(".log"));

    // Not read, the system's language is taken: nothing is stored, and the next start reads
    // the seller's choice again.
    QString language = db->getOption(QStringLiteral("currentLanguage"), QLocale::system().name())
                           .orIfFailed(QLocale::system().name());
    if (language.isEmpty())
        language = QLocale::system().name();
    new Translators(language);

    qCInfo(lcApp).noquote() << "Current Version" << kVersion;
    qCInfo(lcApp).noquote() << "App dir" << QCoreApplication::applicationDirPath();
    qCInfo(lcApp).noquote() << "Current language" << language;

    setWindowTitle(tr("Zerire %1").arg(kVersion));
    const QString product = tr("Zerire3");
    ui->action_ber_1->setText(ui->action_ber_1->text().replace(QLatin1String("%1"), product));
    ui->action_1_Webseite_besuchen->setText(
        ui->action_1_Webseite_besuchen->text().replace(QLatin1String("%1"), product));

    CreateFolderTree();
    initNewsList();
    initItemList();
    readSettings();
    reloadAccountBox();
    loading = false;

    // Text that is not a number gives 0: automatic synchronisation off. Not read, it stays off
    // for this run: the seller may have switched it off, and rounds every hour would then
    // send what he did not ask for. Nothing is stored over the seller's value, which the next
    // start reads again.
    const Read<QString> interval
        = db->getOption(QStringLiteral("SyncIntervall"), QStringLiteral("60"));
    qApp->setProperty("SyncIntervall", interval.orIfFailed(QStringLiteral("0")).toInt());
    // A database the start found unusable was told of already.
    if (!interval.ok() && db->startProblem().isEmpty())
        Statics::showMessage(nullptr,
                             tr("Der Abstand der automatischen Synchronisation konnte nicht "
                                "gelesen werden: %1\n\nDie automatische Synchronisation bleibt "
                                "bis zum nächsten Start ausgeschaltet; mit F5 synchronisierst Du "
                                "von Hand.")
                                 .arg(interval.error()),
                             1);

    connect(WriteFailures::instance(), &WriteFailures::failed, this,
            &MainWindow::databaseWriteFailed);
    connect(WriteFailures::instance(), &WriteFailures::connectionBroken, this,
            &MainWindow::databaseConnectionBroken);
    connect(WriteFailures::instance(), &WriteFailures::connectionRestored, this,
            &MainWindow::databaseConnectionRestored);
    // Told from the event loop: the command or the folder's watch that found it goes on.
    connect(
        WriteFailures::instance(), &WriteFailures::databaseFileLost, this,
        [this](const QString &reason) { Statics::showMessage(this, reason, 2); },
        Qt::QueuedConnection);
    watchDatabaseServer();
    startWorkers();
    workersStarted = true;

    if (db->isMySQL)
        setWindowTitle(windowTitle() + QStringLiteral(" MySQL"));

    setupBanner();

    QTimer::singleShot(400, this, &MainWindow::reloadData);
    QTimer::singleShot(5000, this, &MainWindow::initUpdater);
}

MainWindow::~MainWindow()
{
    // A later window (of a test) tells its own folder.
    BackgroundWorker::instance()->setConnectionSettings(ConnectionSettings());
    Database::setResponsiveThread(nullptr);
    delete ui;
    // Closing the last connection writes the log back into the database file.
    delete db;
}

void MainWindow::startWorkers()
{
    // Neither worker has a parent: each is moved to its own thread and lives as long as the
    // program. Closing the window lets them finish their loops (closeEvent).
    const auto onOwnThread = [this](auto *worker) {
        using Worker = std::remove_pointer_t<decltype(worker)>;
        auto *thread = new QThread;
        thread->setObjectName(QString::fromLatin1(Worker::staticMetaObject.className()));
        worker->moveToThread(thread);
        // Below the window and ordinary programs, never starved: the thread lowers its own
        // priority before its loop starts (the threads it starts inherit it).
        connect(
            thread, &QThread::started, thread, [] { WorkerPriority::lowerCurrentThread(); },
            Qt::DirectConnection);
        connect(thread, &QThread::started, worker, &Worker::ExecuteAll, Qt::QueuedConnection);
        connect(worker, &Worker::getStatus, this, &MainWindow::updateStatusBar,
                Qt::QueuedConnection);
        connect(worker, &Worker::ChangeFolderCount, folderModel, &FolderModel::ChangeFolderCount,
                Qt::QueuedConnection);
        connect(thread, &QThread::finished, thread, &QObject::deleteLater);
        // Queued, never blocking: the worker goes on while the window takes its entries in
        // batches, in the order they were sent.
        connect(
            worker, &Worker::sendaddNewsItem, this,
            [this](const NewsItem &item) { queueNewsItem(item); }, Qt::QueuedConnection);
        connect(
            worker, &Worker::loopEnded, this, [this] { --runningWorkers; }, Qt::QueuedConnection);
        ++runningWorkers;
        workerThreads << thread;
        return thread;
    };

    auto *ebay = new Ebay(this);
    QThread *ebayThread = onOwnThread(ebay);
    connect(this, &MainWindow::startSyncNow, ebay, &Ebay::startSyncNow, Qt::QueuedConnection);
    connect(ebay, &Ebay::setAppToSyncState, this, &MainWindow::setAppToSyncState,
            Qt::QueuedConnection);
    connect(ebay, &Ebay::setNextSync, this, &MainWindow::setNextSync, Qt::QueuedConnection);
    ebayThread->start();

    auto *listing = new ListingThread(this);
    QThread *listingThread = onOwnThread(listing);
    connect(this, &MainWindow::startCheckNow, listing, &ListingThread::startSyncNow,
            Qt::QueuedConnection);
    listingThread->start();
}

void MainWindow::SetupLayout()
{
    ui->main_splitter->setCollapsible(0, false);
    ui->main_splitter->setCollapsible(1, false);
    updateStatusBar(QString(), 100, 100);

    setContextMenuPolicy(Qt::NoContextMenu);
    if (layout()) {
        layout()->setSpacing(0);
        layout()->setContentsMargins(0, 0, 0, 0);
    }

    ui->treeView->setAttribute(Qt::WA_MacShowFocusRect, false);
    ui->treeView->setDragDropMode(QAbstractItemView::DragDrop);
    ui->treeView->setDragEnabled(true);
    ui->treeView->setAcceptDrops(true);
    ui->treeView->setDropIndicatorShown(true);

    // A light blue tree under a light theme; a dark theme keeps its own colour.
    if (ui->treeView->palette().color(QPalette::Base) == QColor(255, 255, 255, 255)) {
        QPalette treePalette = palette();
        treePalette.setBrush(QPalette::All, QPalette::Base, QBrush(QColor(0xffeaf5ff)));
        ui->treeView->setPalette(treePalette);
    }

    folderMenu = new QMenu(this);
    folderMenu->addAction(ui->actionNeuer_Ordner);
    folderMenu->addSeparator();
    folderMenu->addAction(ui->actionPapierkorb_leeren);
    folderMenu->addAction(ui->actionUmbenennen);
    folderMenu->addAction(ui->actionL_schen_2);
    ui->treeView->setContextMenuPolicy(Qt::CustomContextMenu);

    itemMenu = new QMenu(ui->itemlist);
    QMenu *bulkMenu = itemMenu->addMenu(tr("Gebündelt bearbeiten"));
    bulkMenu->addAction(ui->actionFormat_und_Laufzeit);
    bulkMenu->addAction(ui->actionPreise_und_Mengen);
    bulkMenu->addAction(ui->actionRahmenbedingungen);
    bulkMenu->addAction(ui->actionArtikelstandort_und_Bearbeitungszeit);
    bulkMenu->addSeparator();
    bulkMenu->addAction(ui->actionZahlungsmethoden);
    bulkMenu->addAction(ui->actionInlandsversand);
    bulkMenu->addAction(ui->actionAuslandsversand);
    bulkMenu->addSeparator();
    bulkMenu->addAction(ui->actionKonto_PayPal_und_Shopkategorien);
    itemMenu->addSeparator();
    itemMenu->addAction(ui->actionAusschneiden);
    itemMenu->addAction(ui->actionKopieren);
    itemMenu->addAction(ui->actionEinf_gen);
    itemMenu->addAction(ui->actionL_schen);
    itemMenu->addSeparator();
    itemMenu->addAction(ui->actionSuchen_und_ersetzen);
    itemMenu->addAction(ui->actionAlles_markieren);
    itemMenu->addSeparator();
    itemMenu->addAction(ui->actionIn_Ausgang_legen);
    itemMenu->addAction(ui->actionAuwahl_beenden);
    itemMenu->addAction(ui->actionArtikel_online_aufrufen);
    itemMenu->addAction(ui->actionPlanen);
    itemMenu->addSeparator();
    // Their shortcuts work while the article list has the focus.
    ui->itemlist->addActions(itemMenu->actions());
    ui->itemlist->addActions(bulkMenu->actions());

    headerMenu = new QMenu(ui->itemlist);
    const QList<QList<QAction *>> sortPairs = {
        { ui->actionNach_Titel_aufsteigend_sortieren, ui->actionNach_Titel_absteigend_sortieren },
        { ui->actionNach_Startpreis_aufsteigend_sortieren,
          ui->actionNach_Startpreis_absteigend_sortieren },
        { ui->actionNach_Beobachter_aufsteigend_sortieren,
          ui->actionNach_Beobachter_absteigend_sortieren },
        { ui->actionNach_Startzeit_aufsteigend_sortieren,
          ui->actionNach_Startzeit_absteigend_sortieren },
        { ui->actionNach_Ende_aufsteigend_sortieren, ui->actionNach_Ende_absteigend_sortieren },
        { ui->actionNach_Menge_aufsteigend_sortieren, ui->actionNach_Menge_absteigend_sortieren },
        { ui->actionNach_Verk_ufen_aufsteigend_sortieren,
          ui->actionNach_Verk_ufen_absteigend_sortieren },
        { ui->actionNach_interner_Id_aufsteigend_sortieren,
          ui->actionNach_interner_Id_absteigend_sortieren },
        { ui->actionNach_interner_Referenz_aufsteigend,
          ui->actionNach_interner_Referenz_absteigend },
    };
    for (int i = 0; i < sortPairs.size(); ++i) {
        if (i > 0)
            headerMenu->addSeparator();
        headerMenu->addActions(sortPairs.at(i));
    }
}

void MainWindow::readSettings()
{
    const auto settings = Settings::mainWindow();
    if (restoreGeometry(settings->value(QStringLiteral("MainWindow/geometry")).toByteArray())) {
        restoreState(settings->value(QStringLiteral("MainWindow/windowState")).toByteArray(), 0);
        ui->main_splitter->restoreState(
            settings->value(QStringLiteral("main_splitter/geometry")).toByteArray());
        ui->cat_article_splitter->restoreState(
            settings->value(QStringLiteral("cat_article_splitter/geometry")).toByteArray());
        // A layout saved on a bigger screen is brought onto this one; a maximised window
        // takes the screen's size anyway.
        if (!isMaximized() && !isFullScreen())
            setGeometry(fittedGeometry(geometry(), availableScreenArea(geometry())));
        return;
    }
    const QRect standard(20, 20, 1024, 700);
    setGeometry(fittedGeometry(standard, availableScreenArea(standard)));
    const int w = width();
    ui->main_splitter->setSizes({ int(w * 0.8), int(w * 0.2) });
    ui->cat_article_splitter->setSizes({ int(w * 0.3), int(w * 0.7) });
}

QRect MainWindow::availableScreenArea(const QRect &geometry)
{
    QScreen *screen = QGuiApplication::screenAt(geometry.center());
    if (!screen)
        screen = QGuiApplication::primaryScreen();
    return screen ? screen->availableGeometry() : geometry;
}

QRect MainWindow::fittedGeometry(const QRect &geometry, const QRect &available)
{
    if (available.isEmpty())
        return geometry;
    QRect fitted(geometry.topLeft(), geometry.size().boundedTo(available.size()));
    if (fitted.right() > available.right())
        fitted.moveRight(available.right());
    if (fitted.bottom() > available.bottom())
        fitted.moveBottom(available.bottom());
    if (fitted.left() < available.left())
        fitted.moveLeft(available.left());
    if (fitted.top() < available.top())
        fitted.moveTop(available.top());
    return fitted;
}

void MainWindow::on_actionBeenden_triggered()
{
    // The seller may keep the program open (a job that asks first): then nothing ends.
    if (isVisible() && !close())
        return;
    QApplication::closeAllWindows();
    QCoreApplication::quit();
}

void MainWindow::initUpdater() { }

void MainWindow::closeEvent(QCloseEvent *event)
{
    // A job that stores the seller's data unit by unit is not cut off unasked; closing stops
    // it after the unit in hand, which is stored whole.
    const QStringList running = qApp->property("AppDown").toInt() == 1
        ? QStringList()
        : BackgroundWorker::askingBeforeClose();
    if (!running.isEmpty()
        && !Dialogs::question(
            this, tr("Programm beenden"),
            tr("%1 läuft noch. Wird das Programm jetzt beendet, hört der Vorgang nach dem "
               "Artikel auf, der gerade gespeichert wird: was bis dahin übernommen wurde, "
               "bleibt vollständig erhalten, der Rest fehlt. Derselbe Import kann später "
               "noch einmal gestartet werden und übernimmt dann nur, was noch fehlt.\n\n"
               "Jetzt beenden?")
                .arg(running.first()))) {
        event->ignore();
        return;
    }
    qApp->setProperty("AppDown", 1);
    if (workersStarted)
        waitForWorkers(kWorkerShutdownMs);
    qCInfo(lcApp) << "Bye";
    // Everything stored so far goes into the database file itself, also when a worker is
    // still busy and keeps its connection open.
    if (db)
        db->checkpoint();

    const auto settings = Settings::mainWindow();
    settings->setValue(QStringLiteral("MainWindow/geometry"), saveGeometry());
    settings->setValue(QStringLiteral("MainWindow/windowState"), saveState(0));
    settings->setValue(QStringLiteral("main_splitter/geometry"), ui->main_splitter->saveState());
    settings->setValue(QStringLiteral("cat_article_splitter/geometry"),
                       ui->cat_article_splitter->saveState());
    QMainWindow::closeEvent(event);
}

void MainWindow::waitForWorkers(int timeoutMs)
{
    // The workers test "AppDown" at least once a second, but one may be between the
    // marketplace's answer and the row's update: that must finish, or the article is listed
    // twice. Events keep flowing meanwhile: the entries the workers send are still taken in.
    QElapsedTimer elapsed;
    elapsed.start();
    if (runningWorkers > 0) {
        QEventLoop loop;
        QTimer poll;
        connect(&poll, &QTimer::timeout, &loop, [&] {
            if (runningWorkers <= 0 || elapsed.elapsed() >= timeoutMs)
                loop.quit();
        });
        poll.start(20);
        loop.exec(QEventLoop::ExcludeUserInputEvents);
    }
    if (runningWorkers > 0) {
        qCWarning(lcApp) << "Workers still busy after" << elapsed.elapsed() << "ms, closing anyway";
        return;
    }
    // The loops are over; the threads only idle now and can end.
    for (const QPointer<QThread> &thread : qAsConst(workerThreads)) {
        if (thread) {
            thread->quit();
            thread->wait(2000);
        }
    }
}
