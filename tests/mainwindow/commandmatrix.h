#pragma once

// What the command matrix programs share: the table of every command the main window offers
// (found at run time, so a new one has to join it), the small store each row starts from,
// the faults a command meets, and the run of one command under one fault with what must hold
// afterwards: the store as it was or the command's whole result, never a part, and the seller
// told what happened.

#include "core/database.h"
#include "mainwindow/mainwindow.h"
#include "tests/support/dialoganswers.h"
#include "tests/support/fakehttpserver.h"
#include "tests/support/heldjobs.h"
#include "tests/support/mainwindowfixture.h"
#include "tests/support/mysqlproxy.h"
#include "tests/support/otherworkstation.h"
#include "tests/support/storedstate.h"
#include "tests/support/testdatabase.h"
#include "views/foldermodel.h"
#include "views/itemlistroles.h"
#include "views/itemlistwidget.h"

#include <QAction>
#include <QApplication>
#include <QBuffer>
#include <QDialog>
#include <QDialogButtonBox>
#include <QDir>
#include <QImage>
#include <QMenu>
#include <QMimeData>
#include <QPushButton>
#include <QTimer>
#include <QTreeView>
#include <QScopeGuard>
#include <QSet>
#include <QTreeWidget>
#include <QtTest>
#include <functional>
#include <memory>

namespace Matrix {

enum class Fault {
    None,
    Refused, // one row half-way through refused by the database
    CommitLost, // the answer of the command's COMMIT lost (MariaDB)
    Locked, // another workstation holds what the command needs
    Cancelled, // "Abbrechen" while its job is held before it starts
    Closed, // the window closed while its job is held before it starts
};

// How a row names its backend.
inline QString backendName(TestSupport::Backend backend)
{
    return backend == TestSupport::Backend::MySQL ? QStringLiteral("mysql")
                                                  : QStringLiteral("sqlite");
}

inline QString faultName(Fault fault)
{
    switch (fault) {
    case Fault::None:
        return QStringLiteral("no fault");
    case Fault::Refused:
        return QStringLiteral("refused half-way");
    case Fault::CommitLost:
        return QStringLiteral("commit's answer lost");
    case Fault::Locked:
        return QStringLiteral("held by another workstation");
    case Fault::Cancelled:
        return QStringLiteral("cancelled");
    case Fault::Closed:
        return QStringLiteral("window closed");
    }
    return QString();
}

// The columns "fault" and "backend", and a row "<fault> (<backend>)" for each of `faults` on
// each backend.
inline void addFaultRows(const QList<Fault> &faults)
{
    QTest::addColumn<int>("fault");
    QTest::addColumn<TestSupport::Backend>("backend");
    for (const auto backend : { TestSupport::Backend::SQLite, TestSupport::Backend::MySQL }) {
        for (const Fault fault : faults)
            QTest::newRow(qPrintable(QStringLiteral("%1 (%2)").arg(faultName(fault),
                                                                   backendName(backend))))
                << int(fault) << backend;
    }
}

// Where a command of the window is run. A command that writes nothing is run by the catalog
// test of test_commandmatrix_articles, which checks that nothing stored changes.
struct Known
{
    QString command; // the action's object name, or "menu:<title>" for a menu
    QString program; // the matrix program that runs it; empty: writes nothing
    QString nothing; // for a command that writes nothing: what it must not do
    QStringList stores = {}; // the rows ("table:key") it stores all the same
};

inline const QList<Known> &catalog()
{
    static const QString noStore = QStringLiteral("changes nothing stored");
    static const QString sortOnly
        = QStringLiteral("sorts the list, changes nothing stored but the list's order");
    static const QStringList order { QStringLiteral("options:lastOrder") };
    static const QList<Known> known {
        // Article commands.
        { "actionL_schen", "articles", {} },
        { "actionPapierkorb_leeren", "articles", {} },
        { "actionIn_Ausgang_legen", "articles", {} },
        { "actionAuwahl_beenden", "articles", {} },
        { "actionDuplizieren", "articles", {} },
        { "actionAusschneiden", "articles", {} },
        { "actionKopieren", "articles", {} },
        { "actionEinf_gen", "articles", {} },
        // Folder commands.
        { "actionNeuer_Ordner", "folders", {} },
        { "actionUmbenennen", "folders", {} },
        { "actionL_schen_2", "folders", {} },
        // The bulk dialogs' OK.
        { "actionFormat_und_Laufzeit", "dialogs", {} },
        { "actionPreise_und_Mengen", "dialogs", {} },
        { "actionArtikelstandort_und_Bearbeitungszeit", "dialogs", {} },
        { "actionZahlungsmethoden", "dialogs", {} },
        { "actionKonto_PayPal_und_Shopkategorien", "dialogs", {} },
        { "actionSuchen_und_ersetzen", "dialogs", {} },
        { "actionEinstellungen", "dialogs", {} },
        { "actionInlandsversand", "dialogs", {} },
        { "actionAuslandsversand", "dialogs", {} },
        // Jobs of the background worker.
        { "actionExportieren", "jobs", {} },
        { "actionDatenbank_aufr_umen", "jobs", {} },
        // The imports: they keep the rows written before a stop and say which.
        { "actionImportieren", "imports", {} },
        { "actionDaten_sichern", "imports", {} },
        { "actionRovive_2_Daten_importieren", "imports", {} },
        // The dialogs that write for themselves: the editor's save, the planning.
        { "actionNeuer_Artikel", "editor", {} },
        { "actionPlanen", "editor", {} },
        // The restore of a backup, and the business policies' dialog.
        { "actionDaten_wiederherstellen", "restore", {} },
        { "actionRahmenbedingungen", "restore", {} },
        // Commands that write nothing stored.
        { "actionAlles_markieren", {}, QStringLiteral("selects the list, ") + noStore },
        { "actionNach_Titel_aufsteigend_sortieren", {}, sortOnly, order },
        { "actionNach_Titel_absteigend_sortieren", {}, sortOnly, order },
        { "actionNach_Startpreis_aufsteigend_sortieren", {}, sortOnly, order },
        { "actionNach_Startpreis_absteigend_sortieren", {}, sortOnly, order },
        { "actionNach_Beobachter_aufsteigend_sortieren", {}, sortOnly, order },
        { "actionNach_Beobachter_absteigend_sortieren", {}, sortOnly, order },
        { "actionNach_Ende_aufsteigend_sortieren", {}, sortOnly, order },
        { "actionNach_Ende_absteigend_sortieren", {}, sortOnly, order },
        { "actionNach_Menge_aufsteigend_sortieren", {}, sortOnly, order },
        { "actionNach_Menge_absteigend_sortieren", {}, sortOnly, order },
        { "actionNach_Verk_ufen_aufsteigend_sortieren", {}, sortOnly, order },
        { "actionNach_Verk_ufen_absteigend_sortieren", {}, sortOnly, order },
        { "actionNach_Startzeit_aufsteigend_sortieren", {}, sortOnly, order },
        { "actionNach_Startzeit_absteigend_sortieren", {}, sortOnly, order },
        { "actionNach_interner_Id_aufsteigend_sortieren", {}, sortOnly, order },
        { "actionNach_interner_Id_absteigend_sortieren", {}, sortOnly, order },
        { "actionNach_interner_Referenz_aufsteigend", {}, sortOnly, order },
        { "actionNach_interner_Referenz_absteigend", {}, sortOnly, order },
        { "actionHilfe", {}, QStringLiteral("opens the help page, ") + noStore },
        { "action_ber_1", {}, QStringLiteral("shows the About dialog, ") + noStore },
        { "actionProjektseite_ffnen", {}, QStringLiteral("opens the project page, ") + noStore },
        { "action_1_Webseite_besuchen", {}, QStringLiteral("opens the web site, ") + noStore },
        { "actionDatenverzeichnis_ffnen", {}, QStringLiteral("opens the data folder, ") + noStore },
        { "actionArtikel_online_aufrufen", {}, QStringLiteral("opens the listing, ") + noStore },
        { "unnamed:/QToolBar/mainToolBar", {}, QStringLiteral("hides the tool bar, ") + noStore },
        { "_q_qlineeditclearaction", {}, QStringLiteral("empties the search field, ") + noStore },
        // Given last: it closes the window.
        { "actionBeenden", {}, QStringLiteral("closes the window, ") + noStore },
        { "actionCache_leeren", {}, QStringLiteral("empties the reference cache, ") + noStore },
        { "actionListe_leeren", {}, QStringLiteral("empties the news list, ") + noStore },
        { "actionSynchronisieren", {},
          QStringLiteral("with no account connected asks the marketplace nothing, ") + noStore },
    };
    return known;
}

// The commands the matrix knows by name, but does not run yet: each is named in the report
// of the matrix, and a row for it removes it from here.
inline const QStringList &notRunYet()
{
    static const QStringList names {
    };
    return names;
}

// The window's menus: not commands themselves, they offer the commands above (the context
// menus of the list and the tree have no title).
inline const QStringList &menus()
{
    static const QStringList names {
        "menu:/", "menu:Bearbeiten/menuBearbeiten", "menu:Datei/menuDatei",
        "menu:Extras/menuExtras", "menu:Gebündelt bearbeiten/", "menu:Hilfe/menuHilfe",
    };
    return names;
}

// Fails the running test unless `actions` are exactly the commands the catalog gives to
// `program`.
inline void checkCovers(const QString &program, QStringList actions)
{
    QStringList given;
    for (const Known &k : catalog()) {
        if (k.program == program)
            given << k.command;
    }
    given.sort();
    actions.sort();
    QCOMPARE(actions, given);
}

// How the matrix names an action found in the window: its object name; a menu's action by
// its menu's title.
inline QString commandName(QAction *action)
{
    if (!action->objectName().isEmpty())
        return action->objectName();
    if (action->menu())
        return QStringLiteral("menu:") + action->menu()->title().remove(QLatin1Char('&')) + '/'
            + action->menu()->objectName();
    return QStringLiteral("unnamed:") + action->text() + QLatin1Char('/')
        + action->parent()->metaObject()->className() + QLatin1Char('/')
        + action->parent()->objectName();
}

inline QList<QAction *> allActions(QWidget *window)
{
    QList<QAction *> actions = window->findChildren<QAction *>();
    for (QMenu *menu : window->findChildren<QMenu *>())
        actions += menu->actions();
    return actions;
}

// The action the matrix names `name`; null when there is none.
inline QAction *findCommand(QWidget *window, const QString &name)
{
    for (QAction *action : allActions(window)) {
        if (!action->isSeparator() && commandName(action) == name)
            return action;
    }
    return nullptr;
}

// Every command of the window: the actions below it (menus, tool bars, the context menus it
// builds) and those of its menus.
inline QStringList foundCommands(QWidget *window)
{
    QSet<QString> names;
    for (QAction *action : allActions(window)) {
        if (action->isSeparator())
            continue;
        names.insert(commandName(action));
    }
    QStringList sorted = names.values();
    sorted.sort();
    return sorted;
}

// The store every row starts from (ids as a fresh database gives them):
//   folders  1 "Keller", 2 "Garten" below "Artikelvorlagen"
//   articles 1-240 in "Keller" (1-10 with a picture each, its file in adimages/),
//            241-260 in the trash, 261-280 running listings, 281-300 templates.
constexpr int kKeller = 1;
constexpr int kGarten = 2;
constexpr int kInKeller = 240;

inline QByteArray smallJpeg(int seed)
{
    QImage image(8, 8, QImage::Format_RGB32);
    image.fill(QColor::fromHsv(seed * 7 % 360, 200, 200));
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "JPG");
    return bytes;
}

inline bool seed(Database *db, const QString &dataDir)
{
    for (const char *name : { "Keller", "Garten" }) {
        if (db->insertSqlClean(
                { { "foldername", name }, { "folderparentid", -10 }, { "expand", 0 } }, "folders")
            <= 0)
            return false;
    }
    QStringList rows;
    for (int id = 1; id <= 300; ++id) {
        const int folder = id <= 240 ? kKeller : id <= 260 ? -5 : id <= 280 ? -9 : -10;
        const QString itemId = folder == -9 ? QString::number(120000000000LL + id) : QString();
        rows << QStringLiteral("(%1, 'Artikel %1', %2, %3, 0, 1, 77, 10, 7, 'EUR', 5, 'Days_10', "
                               "'alt@example.de', '%4', 0)")
                    .arg(id)
                    .arg(folder)
                    .arg(folder == -5 ? kKeller : 0)
                    .arg(itemId);
    }
    if (!db->executeSQL(QStringLiteral("INSERT INTO articles (id, Title, Folder, FolderOld, Trash, "
                                       "Account, Site, StartPrice, CurrentPrice, Currency, "
                                       "Quantity, ListingDuration, PayPalEmailAddress, ItemID, "
                                       "DoCheck) VALUES ")
                        + rows.join(QLatin1Char(','))))
        return false;
    QDir(dataDir).mkpath(QStringLiteral("adimages"));
    for (int id = 1; id <= 10; ++id) {
        const QString name = QStringLiteral("bild%1.jpg").arg(id);
        QFile file(dataDir + QStringLiteral("adimages/") + name);
        if (!file.open(QIODevice::WriteOnly) || file.write(smallJpeg(id)) <= 0)
            return false;
        if (db->insertSqlClean({ { "article_id", id }, { "image", name } }, "articles_images") <= 0)
            return false;
    }
    return true;
}

// One row's world: the store on its backend (MariaDB behind the test proxy), the fake
// marketplace, and the real window on it.
class Store
{
public:
    explicit Store(TestSupport::Backend backend)
    {
        marketplace.pointConfigHere();
        if (backend == TestSupport::Backend::MySQL) {
            proxy = std::make_unique<TestSupport::MySqlProxy>(
                TestSupport::MySqlServer::fromEnvironment());
            data = std::make_unique<TestSupport::TestDatabase>(proxy->server());
            TestSupport::writeMySqlSetup(data->dataDir(), proxy->server(),
                                         data->mysqlDatabaseName(), true, false);
        } else {
            data = std::make_unique<TestSupport::TestDatabase>(backend);
        }
    }
    // Seeds the store (and with `more`, what a program's commands need beside it) and opens
    // the window on it; false when either failed.
    bool open(const std::function<void(Store &)> &more = {})
    {
        if (!data->error().isEmpty() || !seed(data->db(), data->dataDir()))
            return false;
        if (more)
            more(*this);
        fixture = std::make_unique<TestSupport::MainWindowFixture>(*data);
        if (!fixture->window())
            return false;
        // What the window stores when it opens (the list's order) is not the command's.
        before = TestSupport::StoredState::take(*data->db(), data->dataDir());
        // The listing worker is not woken: what it does with queued articles is its own test's.
        QObject::disconnect(fixture->window(), &MainWindow::startCheckNow, nullptr, nullptr);
        return true;
    }
    MainWindow *window() const { return fixture->window(); }
    Database *db() const { return data->db(); }
    void trigger(const QString &action) const
    {
        QAction *found = window()->findChild<QAction *>(action);
        QVERIFY2(found, qPrintable(action));
        found->trigger();
    }
    // Shows `folder` with every listed article selected; false when the list is not whole.
    bool selectAll(int folder, int count)
    {
        if (!fixture->showFolder(folder))
            return false;
        QTreeWidget *list = fixture->itemList();
        if (!QTest::qWaitFor([&] { return list->topLevelItemCount() == count; }, 10000))
            return false;
        list->selectAll();
        return list->selectedItems().size() == count;
    }
    TestSupport::StoredState now() const
    {
        return TestSupport::StoredState::take(*data->db(), data->dataDir());
    }

    TestSupport::FakeHttpServer marketplace;
    std::unique_ptr<TestSupport::MySqlProxy> proxy;
    std::unique_ptr<TestSupport::TestDatabase> data;
    std::unique_ptr<TestSupport::MainWindowFixture> fixture;
    TestSupport::StoredState before;
};

// What a drag of the articles `from`..`to` out of `folder` carries.
inline QByteArray articlePayloadFor(int from, int to, int folder)
{
    QStringList parts;
    for (int id = from; id <= to; ++id)
        parts << QStringLiteral("%1|%2").arg(id).arg(folder);
    return parts.join(QLatin1Char(',')).toUtf8();
}

// Drops `payload` of `format` on the folder `onto` in the tree.
inline void drop(Store &s, const QString &format, const QByteArray &payload, int onto)
{
    auto *folders = qobject_cast<FolderModel *>(s.fixture->treeView()->model());
    QVERIFY(folders);
    QMimeData data;
    data.setData(format, payload);
    folders->dropMimeData(&data, Qt::MoveAction, -1, -1,
                          TestSupport::folderIndexOf(folders, onto));
}

inline void dropArticles(Store &s, const QByteArray &payload, int onto)
{
    drop(s, ItemListWidget::ArticleMimeType, payload, onto);
}

// One command of the matrix.
struct Command
{
    QString name;
    // Shows and selects what the command works on, triggers it and answers its dialogs.
    std::function<void(Store &, DialogAnswers &)> run;
    // The cells (StoredState::changedCells) the whole result may change.
    QStringList touches;
    // Empty when the whole result is stored; else what is missing.
    std::function<QString(Database *)> whole;
    // "table EVENT condition": the row the database refuses half-way through (several
    // separated by ";").
    QString refuse;
    // The rows it needs, as a SELECT another workstation holds FOR UPDATE (MariaDB).
    QString holds;
    // The faults it meets.
    QList<Fault> faults { Fault::None, Fault::Refused, Fault::CommitLost, Fault::Locked };
    // A command that runs as a job of the background worker: its outcome is told when it
    // ends, and "Abbrechen" and closing the window reach it while it is held.
    bool job = false;
    // For a command that makes something beside the store (a file) and stores nothing:
    // empty when it is whole, "-" when there is none, else what part there is.
    std::function<QString(Store &)> made = {};
};

// Empty when `count` rows match.
inline QString expectCount(Database *db, const QString &select, int count)
{
    const auto got = db->selectCount(select);
    if (!got.ok())
        return QStringLiteral("not readable: ") + select;
    return got.value() == count ? QString()
                                : QStringLiteral("%1 rows instead of %2: %3")
                                      .arg(got.value())
                                      .arg(count)
                                      .arg(select);
}

// The marketplace calls that change a listing.
inline bool writesListing(const QString &call)
{
    for (const char *prefix : { "Add", "Revise", "Relist", "End" }) {
        if (call.startsWith(QLatin1String(prefix)))
            return true;
    }
    return false;
}

// Messages that tell the seller something went wrong.
inline QStringList complaints(const DialogAnswers &answers)
{
    static const QStringList marks {
        QStringLiteral("konnte nicht"),  QStringLiteral("konnten nicht"),
        QStringLiteral("kann nicht"),    QStringLiteral("nicht gespeichert"),
        QStringLiteral("nicht bekannt"), QStringLiteral("Arbeitsplatz"),
        QStringLiteral("anderen Vorgang"), QStringLiteral("Fehler"),
        QStringLiteral("bgelehnt"),
    };
    QStringList texts;
    for (const DialogAnswers::Message &message : answers.messages()) {
        for (const QString &mark : marks) {
            if (message.text.contains(mark)) {
                texts << message.text;
                break;
            }
        }
    }
    return texts;
}

inline void addRows(const QList<Command> &commands)
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<int>("fault");
    QTest::addColumn<TestSupport::Backend>("backend");
    for (const Command &c : commands) {
        for (Fault fault : c.faults) {
            for (const auto backend : { TestSupport::Backend::SQLite, TestSupport::Backend::MySQL }) {
                // A local file has no connection whose answer could be lost.
                if (fault == Fault::CommitLost && backend == TestSupport::Backend::SQLite)
                    continue;
                const QString row = QStringLiteral("%1: %2 (%3)")
                                        .arg(c.name, faultName(fault), backendName(backend));
                QTest::newRow(qPrintable(row)) << c.name << int(fault) << backend;
            }
        }
    }
}

// Selects the articles of "Keller", gives `action`, fills its dialog with `fill` and gives
// OK once; a dialog shown again afterwards (to try once more) is cancelled.
inline void bulk(Store &s, DialogAnswers &answers, const char *action,
                 const std::function<void(QDialog *)> &fill)
{
    QVERIFY(s.selectAll(kKeller, kInKeller));
    auto oks = std::make_shared<int>(0);
    QTimer seller;
    QObject::connect(&seller, &QTimer::timeout, [oks, fill] {
        auto *dialog = qobject_cast<QDialog *>(QApplication::activeModalWidget());
        if (!dialog || !dialog->isEnabled() || !dialog->isVisible())
            return;
        auto *buttons = dialog->findChild<QDialogButtonBox *>(QStringLiteral("buttonBox"));
        QPushButton *ok = buttons ? buttons->button(QDialogButtonBox::Ok) : nullptr;
        if (!ok || !ok->isEnabled())
            return;
        if (*oks > 0) {
            dialog->reject();
            return;
        }
        fill(dialog);
        ++*oks;
        ok->click();
    });
    seller.start(20);
    s.trigger(action);
    seller.stop();
    QVERIFY2(*oks == 1, qPrintable(answers.shownTexts().join('\n')));
}

// Skips the running row when it waits for a mend elsewhere in the program.
// Runs the row's command under its fault and checks what is stored and what the seller read.
inline void runRow(const QList<Command> &commands, const std::function<void(Store &)> &more = {})
{
    QFETCH(QString, name);
    QFETCH(int, fault);
    QFETCH(TestSupport::Backend, backend);
    const Fault f = Fault(fault);
    const Command *c = nullptr;
    for (const Command &candidate : commands) {
        if (candidate.name == name)
            c = &candidate;
    }
    QVERIFY(c);
    APP_REQUIRE_BACKEND(backend);
    // A held lock and a lost answer are told after the connection's short waits.
    Database::setDefaultResponseTimeout(2);
    auto restore = qScopeGuard([] { Database::setDefaultResponseTimeout(15); });
    // Outlives the window: what it tells while it closes is answered too.
    DialogAnswers answers;
    Store store(backend);
    QVERIFY2(store.data->error().isEmpty(), qPrintable(store.data->error()));
    QVERIFY(store.open(more));
    if (f == Fault::Refused) {
        for (const QString &refusal : c->refuse.split(QLatin1Char(';'))) {
            const QStringList parts = refusal.trimmed().split(QLatin1Char(' '));
            QVERIFY(TestSupport::refuseRows(store.db(), parts.at(0), parts.at(1),
                                            QStringLiteral("Abgelehnt"), parts.mid(2).join(' ')));
        }
    }
    std::unique_ptr<TestSupport::OtherWorkstation> other;
    if (f == Fault::Locked) {
        other = std::make_unique<TestSupport::OtherWorkstation>(*store.data, c->holds);
        QVERIFY2(other->error().isEmpty(), qPrintable(other->error()));
    }
    if (f == Fault::CommitLost)
        store.proxy->cutAfter("COMMIT");
    store.marketplace.clearRequests();
    std::unique_ptr<TestSupport::HeldJobs> held;
    if (f == Fault::Cancelled || f == Fault::Closed)
        held = std::make_unique<TestSupport::HeldJobs>();

    c->run(store, answers);
    if (QTest::currentTestFailed())
        return;
    bool closed = false;
    if (held) {
        QVERIFY(held->entered());
        if (f == Fault::Cancelled) {
            auto *cancel = store.window()->findChild<QPushButton *>(
                QStringLiteral("JobCancelButton"));
            QVERIFY(cancel && cancel->isVisible());
            cancel->click();
            held.reset();
        } else {
            // Closed while the job waits; it goes on while the window waits for it. Should
            // the window ask first, the seller closes all the same.
            answers.pushQuestion(true);
            QTimer letGo;
            letGo.setSingleShot(true);
            TestSupport::HeldJobs *going = held.get();
            QObject::connect(&letGo, &QTimer::timeout, [going] { going->letGo(); });
            letGo.start(100);
            store.fixture->close();
            held.reset();
            closed = true;
        }
    }
    // The window is given back once the command is done; a job tells how it ended.
    if (!closed) {
        QTRY_VERIFY_WITH_TIMEOUT(store.window()->isEnabled(), 20000);
        if (c->job)
            QTRY_VERIFY_WITH_TIMEOUT(!answers.messages().isEmpty(), 30000);
    }
    if (other)
        other->letGo();
    if (f == Fault::CommitLost)
        QCOMPARE(store.proxy->cuts(), 1);

    const TestSupport::StoredState after = store.now();
    QVERIFY2(after.error().isEmpty(), qPrintable(after.error()));
    const QStringList changed = TestSupport::StoredState::changedCells(store.before, after);
    const QString missing = c->whole(store.db());
    QStringList foreign;
    // What a command records beside its rows: the activity list, and the notes to the other
    // workstations (MariaDB).
    const QStringList records { QStringLiteral("itemshistory.<added>"),
                                QStringLiteral("clienttoserver.<added>") };
    for (const QString &cell : changed) {
        if (!c->touches.contains(cell) && !records.contains(cell))
            foreign << cell;
    }
    bool nothing = changed.isEmpty();
    bool all = missing.isEmpty() && foreign.isEmpty() && !nothing;
    if (c->made) {
        // It stores nothing; what it makes is whole or not there.
        QVERIFY2(nothing, qPrintable(TestSupport::StoredState::describe(store.before, after)));
        const QString made = c->made(store);
        QVERIFY2(made.isEmpty() || made == QLatin1String("-"),
                 qPrintable(QStringLiteral("a part is made: ") + made));
        all = made.isEmpty();
        nothing = !all;
    }
    QVERIFY2(nothing || all,
             qPrintable(QStringLiteral("a part is stored (%1; cells outside the command: %2):\n%3")
                            .arg(missing, foreign.join(' '),
                                 TestSupport::StoredState::describe(store.before, after))));
    // Nothing stored, nothing listed or ended on the marketplace.
    if (nothing) {
        for (const auto &request : store.marketplace.requests())
            QVERIFY2(!writesListing(request.callName()), qPrintable(request.callName()));
    }

    // The window tells a failure once the command has given it back.
    if (f == Fault::None || f == Fault::Cancelled || closed || (c->made && f == Fault::Locked))
        QTest::qWait(100);
    else
        QTRY_VERIFY2_WITH_TIMEOUT(!complaints(answers).isEmpty() || f == Fault::CommitLost,
                                  qPrintable("told: " + answers.shownTexts().join('\n')), 10000);
    QCoreApplication::processEvents();
    const QStringList told = complaints(answers);
    switch (f) {
    case Fault::None:
        QVERIFY2(all, qPrintable(QStringLiteral("not done: ") + missing));
        QVERIFY2(told.isEmpty(), qPrintable(told.join('\n')));
        break;
    case Fault::Cancelled:
        // Nothing of it, told as cancelled.
        QVERIFY2(nothing, qPrintable(TestSupport::StoredState::describe(store.before, after)));
        QVERIFY2(answers.lastMessageText().contains(QLatin1String("abgebrochen")),
                 qPrintable(answers.shownTexts().join('\n')));
        break;
    case Fault::Closed:
        // All or nothing (checked above), and the program went on to its end.
        break;
    case Fault::Locked:
        // A command that only reads is not held up by another workstation's writes.
        if (c->made) {
            QVERIFY2(all, qPrintable(c->made(store)));
            QVERIFY2(told.isEmpty(), qPrintable(told.join('\n')));
            break;
        }
        Q_FALLTHROUGH();
    case Fault::Refused:
        // One row refused or one lock held: nothing of it, told once.
        QVERIFY2(nothing,
                 qPrintable(TestSupport::StoredState::describe(store.before, after)));
        QCOMPARE(told.size(), 1);
        QVERIFY2(!told.first().contains(QLatin1String("nicht bekannt")), qPrintable(told.first()));
        // Told as a conflict with another workstation (the local file: another task).
        if (f == Fault::Locked)
            QVERIFY2(told.first().contains(QLatin1String("Arbeitsplatz"))
                         || told.first().contains(QLatin1String("anderen Vorgang")),
                     qPrintable(told.first()));
        break;
    case Fault::CommitLost:
        // Stored whole and told as not known (or looked up and settled), or not stored and
        // told so.
        QVERIFY2(told.size() <= 1, qPrintable(told.join('\n')));
        if (nothing)
            QCOMPARE(told.size(), 1);
        break;
    }
    store.fixture->close();
}

} // namespace Matrix
