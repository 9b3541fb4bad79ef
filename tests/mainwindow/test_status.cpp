// The main window's status panel, count line, synchronise and article commands, notifications.

#include "mainwindow/mainwindow.h"

#include "core/clock.h"
#include "core/database.h"
#include "core/specialfolderid.h"
#include "tests/support/dialoganswers.h"
#include "tests/support/mainwindowfixture.h"
#include "tests/support/messagecapture.h"
#include "tests/support/mysqlproxy.h"
#include "tests/support/testdatabase.h"
#include "tests/support/testmain.h"
#include "views/foldermodel.h"
#include "views/foldernode.h"
#include "views/itemlistroles.h"

#include <QAction>
#include <QElapsedTimer>
#include <QLabel>
#include <QProgressBar>
#include <QScopeGuard>
#include <QScreen>
#include <QStatusBar>
#include <QTimer>
#include <QTreeView>
#include <QTreeWidget>

#include <cstdio>
#include <memory>
#include <optional>

using TestSupport::MainWindowFixture;
using TestSupport::TestDatabase;

namespace {

constexpr int kUserFolder = 1000; // stands for the user folder in the rows
constexpr int kActiveRows = 12;
constexpr int kOtherRows = 3;
const QString kSoundFile = QStringLiteral("/usr/share/sounds/zerire/ping.wav");

// Enabled with any selection in every folder ("action" left out).
const QStringList kWithSelection
    = QStringLiteral(
          "Rahmenbedingungen Artikelstandort_und_Bearbeitungszeit Preise_und_Mengen Inlandsversand "
          "Auslandsversand Zahlungsmethoden Konto_PayPal_und_Shopkategorien Exportieren "
          "Auwahl_beenden Duplizieren Kopieren")
          .split(QLatin1Char(' '));
// Enabled with a selection where a row's code letters (the first of each word) say so.
const QStringList kByFolder
    = QStringLiteral("DL_schen PPlanen OArtikel_online_aufrufen QIn_Ausgang_legen XAusschneiden")
          .split(QLatin1Char(' '));

} // namespace

class TestStatus : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<TestDatabase> m_data;
    std::unique_ptr<MainWindowFixture> m_fixture;
    int m_userFolder = 0;

    MainWindow *window() const { return m_fixture->window(); }
    QAction *action(const char *name) const
    {
        return m_fixture->window()->findChild<QAction *>(QLatin1String(name));
    }
    void showFolder(int folder, int rows, int selected)
    {
        QVERIFY(m_fixture->showFolder(folder));
        QTreeWidget *list = m_fixture->itemList();
        QTRY_COMPARE(list->topLevelItemCount(), rows);
        list->clearSelection();
        for (int i = 0; i < selected; ++i)
            list->topLevelItem(i)->setSelected(true);
    }

private slots:
    void initTestCase()
    {
        m_data = std::make_unique<TestDatabase>(TestSupport::Backend::SQLite);
        QVERIFY2(m_data->error().isEmpty(), qPrintable(m_data->error()));
        Database *db = m_data->db();
        m_userFolder
            = db->insertSqlClean({ { QStringLiteral("foldername"), QStringLiteral("Eigene") },
                                   { QStringLiteral("folderparentid"), -10 },
                                   { QStringLiteral("expand"), 0 } },
                                 QStringLiteral("folders"));
        QVERIFY(m_userFolder > 0);
        for (int folder : { 0, -2, -3, -5, -7, -8, -10, m_userFolder, -9 }) {
            const int rows = folder == SpecialFolderId::Active ? kActiveRows : kOtherRows;
            for (int i = 0; i < rows; ++i)
                QVERIFY(TestSupport::insertArticle(db, { { QStringLiteral("Folder"), folder } })
                        > 0);
        }
        m_fixture = std::make_unique<MainWindowFixture>(*m_data);
        QVERIFY(m_fixture->window());
    }

    void cleanup()
    {
        qApp->setProperty("inSync", false);
        Clock::setCurrentDateTimeForTesting(QDateTime());
    }

    void statusPanel_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("maximum");
        QTest::addColumn<int>("value");
        QTest::addColumn<bool>("shown");
        QTest::addColumn<bool>("cut"); // too long to show whole: a prefix, in the tooltip too
        QTest::newRow("no maximum")
            << QStringLiteral("Lade Planungen hoch") << 0 << 3 << false << false;
        QTest::newRow("finished") << QStringLiteral("Planungen hochgeladen") << 100 << 100 << false
                                  << false;
        QTest::newRow("under way")
            << QStringLiteral("Synchronisieren...") << 10 << 2 << true << false;
        // A stored title of any length, as the listing names the article it ends.
        QTest::newRow("title of 16 M characters")
            << QStringLiteral("Beende ") + QString(16 << 20, QChar(0x00e4)) + QStringLiteral("...")
            << 10 << 2 << true << true;
        // A text without progress (the marketplace keys missing): shown, without a bar.
        QTest::newRow("no progress") << QStringLiteral("Ohne die Entwicklerschlüssel von eBay wird "
                                                       "nichts an eBay gesendet.")
                                     << -1 << 0 << true << false;
    }
    void statusPanel()
    {
        QFETCH(QString, text);
        QFETCH(int, maximum);
        QFETCH(int, value);
        QFETCH(bool, shown);
        QFETCH(bool, cut);
        auto *panel = window()->findChild<QWidget *>(QStringLiteral("SyncWidget"));
        auto *bar = window()->findChild<QProgressBar *>(QStringLiteral("SyncProgressBar"));
        QVERIFY(panel && bar);

        // From the opposite state, so each row shows the panel changing.
        window()->updateStatusBar(QStringLiteral("vorher"), shown ? 0 : 10, shown ? 0 : 5);
        QCOMPARE(panel->isVisible(), !shown);
        Clock::setCurrentDateTimeForTesting(QDateTime(QDate(2024, 5, 17), QTime(14, 5, 59)));
        window()->updateStatusBar(text, maximum, value);

        QCOMPARE(panel->isVisible(), shown);
        auto *label = window()->findChild<QLabel *>(QStringLiteral("SyncLabel"));
        if (cut) {
            QVERIFY2(label->text().size() <= 8192, qPrintable(label->text().left(100)));
            QVERIFY(label->text().startsWith(QStringLiteral("14:05 Uhr - ") + text.left(100))
                    && label->text().endsWith(QChar(0x2026)));
            QCOMPARE(label->toolTip(), label->text());
            window()->grab();
        } else {
            QCOMPARE(label->text(), QStringLiteral("14:05 Uhr - ") + text);
        }
        QCOMPARE(bar->isVisibleTo(panel), maximum >= 0);
        if (shown && maximum >= 0)
            QCOMPARE(bar->text(), QStringLiteral("20%"));
    }

    // A failure another connection tells (a worker's) is a line with its reason, never a bare
    // "Speichern fehlgeschlagen:", and no progress bar stands beside it at 0 %.
    void failureLines_data()
    {
        QTest::addColumn<QString>("event");
        QTest::addColumn<QString>("error");
        QTest::addColumn<QString>("shown"); // how the label ends
        const QString lost = QStringLiteral("Die Verbindung zur Datenbank ist unterbrochen: weg");
        QTest::newRow("write failed") << "failed"
                                      << "database or disk is full"
                                      << "Speichern fehlgeschlagen: database or disk is full";
        QTest::newRow("write failed without a reason")
            << "failed" << QString()
            << "Speichern fehlgeschlagen: Die Datenbank nannte keinen Grund.";
        QTest::newRow("write failed, blank reason")
            << "failed"
            << " "
            << "Speichern fehlgeschlagen: Die Datenbank nannte keinen Grund.";
        QTest::newRow("write's outcome not known")
            << "unknown"
            << "weg"
            << "Ob die Änderung gespeichert wurde, ist nicht bekannt: die Verbindung zur "
               "Datenbank brach ab.";
        QTest::newRow("connection lost") << "broken" << lost << lost;
        QTest::newRow("connection back")
            << "restored" << lost << "Die Verbindung zur Datenbank besteht wieder.";
    }
    void failureLines()
    {
        QFETCH(QString, event);
        QFETCH(QString, error);
        QFETCH(QString, shown);
        auto *panel = window()->findChild<QWidget *>(QStringLiteral("SyncWidget"));
        auto *bar = window()->findChild<QProgressBar *>(QStringLiteral("SyncProgressBar"));
        auto *label = window()->findChild<QLabel *>(QStringLiteral("SyncLabel"));
        QVERIFY(panel && bar && label);
        window()->updateStatusBar(QStringLiteral("Synchronisieren..."), 10, 2);
        QVERIFY(bar->isVisibleTo(panel));

        // A connection of another thread: its failures go to the status panel.
        const QString worker = QStringLiteral("statusWorker_other");
        WriteFailures *failures = WriteFailures::instance();
        if (event == QLatin1String("failed") || event == QLatin1String("unknown"))
            emit failures->failed(worker, error, QString(), event == QLatin1String("unknown"));
        if (event == QLatin1String("broken") || event == QLatin1String("restored"))
            emit failures->connectionBroken(worker, error, false);
        if (event == QLatin1String("restored"))
            emit failures->connectionRestored(worker);

        QVERIFY2(label->text().endsWith(QStringLiteral(" Uhr - ") + shown),
                 qPrintable(label->text()));
        QVERIFY(panel->isVisible());
        QVERIFY(!bar->isVisibleTo(panel));
        QCOMPARE(label->toolTip(), label->text());
    }

    // However long a status text or wide a banner picture, the window keeps its width and
    // fits a screen 1024 pixels wide: the panel cuts the text to its own width (the tooltip
    // holds it whole), the banner shows the middle of its picture.
    void windowKeepsItsWidth_data()
    {
        QTest::addColumn<int>("value"); // of the progress, its maximum being 1
        QTest::addColumn<int>("bannerWidth");
        QTest::newRow("long status text, panel shown") << 0 << 0;
        QTest::newRow("long status text, panel hidden again") << 1 << 0;
        QTest::newRow("banner picture wider than the screen") << 1 << 2000;
    }
    void windowKeepsItsWidth()
    {
        QFETCH(int, value);
        QFETCH(int, bannerWidth);
        MainWindow *w = window();
        auto *label = w->findChild<QLabel *>(QStringLiteral("SyncLabel"));
        auto *banner = w->findChild<QLabel *>(QStringLiteral("BannerLabel"));
        QVERIFY(label && banner);
        const QRect before = w->geometry();
        QCOMPARE(before.width(), 1024);

        QString text = QStringLiteral("Einlesefehler: ");
        for (int account = 1; text.size() < 600; ++account)
            text += QStringLiteral("händler_müller_%1: Keine Verbindung zu eBay: Host "
                                   "api.ebay.com konnte nicht gefunden werden; ")
                        .arg(account);
        text.truncate(600);
        Clock::setCurrentDateTimeForTesting(QDateTime(QDate(2024, 5, 17), QTime(5, 29)));
        w->updateStatusBar(text, 1, 0);
        w->updateStatusBar(text, 1, value);
        if (bannerWidth > 0) {
            QImage picture(bannerWidth, 50, QImage::Format_RGB32);
            picture.fill(Qt::darkBlue);
            banner->setPixmap(QPixmap::fromImage(picture));
            banner->parentWidget()->show();
        }
        // A size change climbs the nested layouts and splitters one posted event a level.
        for (int level = 0; level < 20; ++level)
            QCoreApplication::sendPostedEvents(nullptr, QEvent::LayoutRequest);
        QCoreApplication::processEvents();

        const QRect after = w->geometry();
        const int needed = w->minimumSizeHint().width();
        banner->setPixmap(QPixmap());
        w->setGeometry(before);
        QCOMPARE(after, before);
        QVERIFY2(needed <= 1024, qPrintable(QString::number(needed)));
        QCOMPARE(label->text(), QStringLiteral("05:29 Uhr - ") + text);
        QCOMPARE(label->toolTip(), label->text());
        if (value == 0)
            QVERIFY(label->width() < label->fontMetrics().horizontalAdvance(text));
    }

    void fittedGeometry_data()
    {
        QTest::addColumn<QRect>("geometry");
        QTest::addColumn<QRect>("available");
        QTest::addColumn<QRect>("fitted");
        const QRect first(20, 20, 1024, 700);
        QTest::newRow("first start, 1024 x 768")
            << first << QRect(0, 0, 1024, 768) << QRect(0, 20, 1024, 700);
        QTest::newRow("first start, 1600 x 1200") << first << QRect(0, 0, 1600, 1200) << first;
        QTest::newRow("saved on a bigger screen")
            << QRect(100, 80, 2400, 1500) << QRect(0, 0, 1600, 1200) << QRect(0, 0, 1600, 1200);
        QTest::newRow("second screen, panel on top")
            << QRect(1700, 10, 800, 600) << QRect(1600, 30, 1280, 994) << QRect(1700, 30, 800, 600);
        QTest::newRow("partly off to the left and below")
            << QRect(-300, 500, 1024, 700) << QRect(0, 0, 1600, 1024) << QRect(0, 324, 1024, 700);
        QTest::newRow("no screen known") << first << QRect() << first;
    }
    void fittedGeometry()
    {
        QFETCH(QRect, geometry);
        QFETCH(QRect, available);
        QFETCH(QRect, fitted);
        QCOMPARE(MainWindow::fittedGeometry(geometry, available), fitted);
    }

    void countLineAndSync()
    {
        showFolder(SpecialFolderId::Active, kActiveRows, 3);
        window()->updateBar();
        // Menu entries show their status tips while hovered and clear them when left; the
        // count line stays.
        auto *count = window()->findChild<QLabel *>(QStringLiteral("CountLabel"));
        QVERIFY(count);
        QStatusTipEvent tip(QStringLiteral("Öffnet die Einstellungen"));
        QApplication::sendEvent(window(), &tip);
        QCOMPARE(window()->findChild<QStatusBar *>()->currentMessage(), tip.tip());
        for (bool hovered : { true, false }) {
            if (!hovered)
                action("actionSynchronisieren")->showStatusText(window());
            QVERIFY(count->isVisible());
            QCOMPARE(count->text(), QStringLiteral("12 Artikel(n), 3 markiert"));
        }

        QAction *sync = action("actionSynchronisieren");
        window()->setNextSync(QStringLiteral("14:35"));
        QCOMPARE(sync->text(), QStringLiteral("Synchronisieren (14:35)"));
        window()->setNextSync(QString());
        QCOMPARE(sync->text(), QStringLiteral("Synchronisieren"));

        // Selected without the list telling the window: only setAppToSyncState's own
        // updateButtons can enable the bulk action.
        QAction *bulk = action("actionPreise_und_Mengen");
        showFolder(SpecialFolderId::Active, kActiveRows, 0);
        window()->updateButtons();
        QVERIFY(!bulk->isEnabled());
        {
            const QSignalBlocker quiet(m_fixture->itemList());
            m_fixture->itemList()->topLevelItem(0)->setSelected(true);
        }
        window()->setAppToSyncState(true);
        QVERIFY(qApp->property("inSync").toBool() && !sync->isEnabled() && bulk->isEnabled());
        window()->setAppToSyncState(false);
        QVERIFY(!qApp->property("inSync").toBool() && sync->isEnabled());
    }

    void commandStates_data()
    {
        QTest::addColumn<int>("folder");
        QTest::addColumn<int>("selected");
        QTest::addColumn<bool>("inSync");
        QTest::addColumn<QString>("enabled"); // kByFolder's letters, with a selection
        QTest::addColumn<QString>("texts"); // delete|end|duplicate|outbox command

        const auto add = [](const char *name, int id, const char *enabled, const char *texts) {
            for (int selected : { 0, 1, 2 })
                QTest::addRow("%s, %d selected", name, selected)
                    << id << selected << false << enabled << QString::fromUtf8(texts);
        };
        add("outbox", -2, "DQ", "Abbrechen|Gebühren berechnen|Als Vorlage|Nochmal probieren");
        add("scheduled", -3, "DP",
            "Planung aufheben|Gebühren berechnen|Als Vorlage|Artikel einstellen");
        add("trash", -5, "DP",
            "Endgültig löschen|Gebühren berechnen|Als Vorlage|Artikel einstellen");
        add("sold", -7, "DPOQ", "Löschen|Gebühren berechnen|Als Vorlage|Wiedereinstellen");
        add("unsold", -8, "DPOQ", "Löschen|Gebühren berechnen|Als Vorlage|Wiedereinstellen");
        add("active", -9, "DOQ", "Löschen|Angebot beenden|Als Vorlage|Artikel updaten");
        add("drafts", -10, "DPQX", "Löschen|Gebühren berechnen|Duplizieren|Artikel einstellen");
        add("top node", 0, "P", "Löschen|Gebühren berechnen|Als Vorlage|Artikel einstellen");
        add("user folder", kUserFolder, "DPQX",
            "Löschen|Gebühren berechnen|Duplizieren|Artikel einstellen");
        QTest::newRow("active, synchronising")
            << -9 << 1 << true << "DOQ"
            << "Löschen|Angebot beenden|Als Vorlage|Artikel updaten";
    }
    void commandStates()
    {
        QFETCH(int, folder);
        QFETCH(int, selected);
        QFETCH(bool, inSync);
        QFETCH(QString, enabled);
        QFETCH(QString, texts);
        if (folder == kUserFolder)
            folder = m_userFolder;
        showFolder(folder, folder == SpecialFolderId::Active ? kActiveRows : kOtherRows, selected);
        qApp->setProperty("inSync", inSync);

        window()->updateButtons();

        const auto expect = [this](const QString &name, bool on) {
            QVERIFY2(action(qPrintable(QStringLiteral("action") + name))->isEnabled() == on,
                     qPrintable(name + (on ? " disabled" : " enabled")));
        };
        for (const QString &name : kWithSelection)
            expect(name, selected > 0);
        for (const QString &code : kByFolder)
            expect(code.mid(1), selected > 0 && enabled.contains(code.at(0)));
        expect(QStringLiteral("Einf_gen"), false); // nothing copied or cut
        expect(QStringLiteral("Synchronisieren"), !inSync);

        QStringList shown;
        for (const char *name : { "actionL_schen", "actionAuwahl_beenden", "actionDuplizieren",
                                  "actionIn_Ausgang_legen" })
            shown << action(name)->text();
        QCOMPARE(shown.join(QLatin1Char('|')), texts);
        const QString endIcon = folder == SpecialFolderId::Active
            ? QStringLiteral(":/buttons/images/Stop-Flat-247.png")
            : QStringLiteral(":/buttons/images/notes.png");
        QCOMPARE(action("actionAuwahl_beenden")->icon().pixmap(32).toImage(),
                 QIcon(endIcon).pixmap(32).toImage());
    }

    void notification_data()
    {
        QTest::addColumn<QString>("option"); // null: not stored
        QTest::addColumn<QString>("message");
        QTest::addColumn<QStringList>("logged");

        // The sound file need not exist: playing reports nothing back.
        const QString sound = QStringLiteral("§§§") + kSoundFile;
        const QString shown = QStringLiteral("Notification: Sicherung - Fertig");
        const QString played = QStringLiteral("Try to play ") + kSoundFile;
        QTest::newRow("switched off")
            << "0" << QStringLiteral("Sicherung§§§Fertig") + sound << QStringList();
        QTest::newRow("only 1 means on")
            << "true" << QStringLiteral("Sicherung§§§Fertig") << QStringList();
        QTest::newRow("not stored means on")
            << QString() << QStringLiteral("Sicherung§§§Fertig") + sound
            << QStringList { shown, played };
        QTest::newRow("trailing separator, no sound")
            << "1" << QStringLiteral("Sicherung§§§Fertig§§§") << QStringList { shown };
        QTest::newRow("no separator") << "1" << QStringLiteral("Import beendet")
                                      << QStringList { "Notification: Zerire 3 - Import beendet" };
    }
    void notification()
    {
        QFETCH(QString, option);
        QFETCH(QString, message);
        QFETCH(QStringList, logged);
        if (option.isNull())
            QVERIFY(m_data->db()->executeSQL(
                QStringLiteral("DELETE FROM options WHERE optionname='ShowDesktopNoti'")));
        else
            QVERIFY(m_data->db()->setOption(QStringLiteral("ShowDesktopNoti"), option));

        TestSupport::MessageCapture log({ QStringLiteral("app") });
        window()->sendNotification(message);
        QStringList texts;
        for (const TestSupport::MessageCapture::Message &m : log.messages())
            texts << m.text;
        QCOMPARE(texts, logged);
    }

    // Last, since it starts the window again: a layout saved on a bigger screen opens inside
    // this screen's available area.
    void restoredGeometryFitsTheScreen()
    {
        const QRect screen = window()->screen()->availableGeometry();
        const QRect bigger(screen.left() + 100, screen.top() + 80, screen.width() + 800,
                           screen.height() + 300);
        window()->setGeometry(bigger);
        QTRY_COMPARE(window()->geometry(), bigger);
        m_fixture->close(); // saves the layout
        m_fixture = std::make_unique<MainWindowFixture>(*m_data);
        QVERIFY(m_fixture->window());
        QCOMPARE(window()->geometry(), screen);
    }

    // A command whose outcome is not known is told once, however often it reports it and
    // whatever of it failed before (that notice is not shown as well), and the window shows
    // what is stored: a row and a folder written behind its back appear, the folder shown
    // and the selection stay.
    void outcomeUnknownToldOnce_data()
    {
        QTest::addColumn<bool>("failedWrite"); // a write of the same command failed first
        QTest::addColumn<int>("calls");
        QTest::newRow("told") << false << 1;
        QTest::newRow("reported twice") << false << 2;
        QTest::newRow("after a failed write") << true << 1;
    }
    void outcomeUnknownToldOnce()
    {
        QFETCH(bool, failedWrite);
        QFETCH(int, calls);
        showFolder(m_userFolder, kOtherRows, 2);
        QTreeWidget *list = m_fixture->itemList();
        const auto selectedIds = [list] {
            QList<int> ids;
            for (const QTreeWidgetItem *row : list->selectedItems())
                ids << row->data(0, ItemListRole::ArticleIdRole).toInt();
            std::sort(ids.begin(), ids.end());
            return ids;
        };
        const QList<int> chosen = selectedIds();
        Database *db = m_data->db();
        const int added = TestSupport::insertArticle(db, { { "Folder", m_userFolder } });
        const int folder = db->insertSqlClean(
            { { "foldername", "Neu" }, { "folderparentid", -10 }, { "expand", 0 } }, "folders");
        const auto undo = qScopeGuard([db, added, folder] {
            QVERIFY(db->executeSQL("DELETE FROM articles WHERE id=" + QString::number(added)));
            QVERIFY(db->executeSQL("DELETE FROM folders WHERE id=" + QString::number(folder)));
        });
        DialogAnswers answers;
        if (failedWrite) {
            // The fee mark of the selected rows, refused: its notice is queued.
            QVERIFY(TestSupport::refuseRows(db, "articles", "UPDATE", "nein"));
            action("actionAuwahl_beenden")->trigger();
            QVERIFY(db->executeSQL("DROP TRIGGER refuse_articles_update"));
        }

        for (int i = 0; i < calls; ++i)
            window()->tellOutcomeUnknown(QStringLiteral("die Probe"));
        QCoreApplication::processEvents();
        QCoreApplication::processEvents();

        QCOMPARE(answers.messages().size(), 1);
        QVERIFY2(answers.lastMessageText().startsWith(
                     "Ob die Probe gespeichert wurde, ist nicht bekannt: die Verbindung zur "
                     "Datenbank brach ab."),
                 qPrintable(answers.lastMessageText()));
        QCOMPARE(list->topLevelItemCount(), kOtherRows + 1);
        QVERIFY(TestSupport::folderIndexOf(m_fixture->treeView()->model(), folder).isValid());
        QCOMPARE(m_fixture->treeView()->currentIndex().data(Qt::UserRole).toInt(), m_userFolder);
        QCOMPARE(selectedIds(), chosen);
    }

    // Last, since it closes the window of the other functions. A command's answer is lost and
    // the network then stalls: the command says once that its outcome is not known, and from
    // then on the window never waits for the server. Re-reads and commands fail at once with
    // the reason; once the server answers, the window shows what is stored by itself.
    void windowWaitsForNoServer_data()
    {
        QTest::addColumn<QString>("meanwhile"); // what the seller does while the server is away
        QTest::newRow("nothing: the window reads again by itself") << QString();
        QTest::newRow("folders clicked") << QStringLiteral("click");
        QTest::newRow("a command given: refused at once") << QStringLiteral("command");
        QTest::newRow("a dialog's connection opened before: fails at once")
            << QStringLiteral("dialog");
        QTest::newRow("a dialog opened meanwhile: its connection waits for nothing")
            << QStringLiteral("new dialog");
    }
    void windowWaitsForNoServer()
    {
        QFETCH(QString, meanwhile);
        APP_REQUIRE_BACKEND(TestSupport::Backend::MySQL);
        m_fixture.reset();
        TestSupport::MessageCapture log({ QStringLiteral("app.db"), QStringLiteral("app") });
        TestSupport::MySqlProxy proxy(TestSupport::MySqlServer::fromEnvironment());
        TestDatabase data(proxy.server());
        QVERIFY2(data.error().isEmpty(), qPrintable(data.error()));
        const int article = TestSupport::insertArticle(
            data.db(), { { "Title", "Standuhr" }, { "Folder", -10 }, { "StartPrice", 12345.67 } });
        QVERIFY(article > 0);
        // Another workstation synchronises: the window's workers leave the database alone.
        TestSupport::writeMySqlSetup(data.dataDir(), proxy.server(), data.mysqlDatabaseName(), true,
                                     false);
        // Every wait for the server is that long; nothing of the window's may come near it.
        constexpr int kTimeoutMs = 16000;
        constexpr int kLongestPauseMs = 1500;
        const QString kAway = QStringLiteral("Die Verbindung zur Datenbank ist unterbrochen: ");
        Database::setDefaultResponseTimeout(kTimeoutMs / 1000);
        const auto restore = qScopeGuard([] { Database::setDefaultResponseTimeout(15); });
        DialogAnswers answers;
        MainWindowFixture window(data);
        QVERIFY(window.window() && window.showFolder(-10));
        QTreeWidget *list = window.itemList();
        QCOMPARE(list->topLevelItemCount(), 1);
        list->topLevelItem(0)->setSelected(true);
        const auto statusPanel = [&window] {
            return window.window()->findChild<QLabel *>(QStringLiteral("SyncLabel"))->text();
        };

        // A dialog open through it all, with its own connection of the window's thread.
        std::optional<Database> dialog;
        if (meanwhile == QLatin1String("dialog")) {
            dialog.emplace(true, QStringLiteral("statusDialog"));
            QCOMPARE(dialog->selectOne("SELECT Title FROM articles").value(),
                     QStringLiteral("Standuhr"));
        }

        // "Löschen": its COMMIT runs, its answer is lost, and the network stalls from then on.
        answers.pushQuestion(true);
        proxy.cutAfter("COMMIT", 1, [&proxy](quint32) { proxy.stall(); });
        QElapsedTimer deleting;
        deleting.start();
        window.window()->findChild<QAction *>(QStringLiteral("actionL_schen"))->trigger();
        // Its look-up meets the stalled network: one short connect attempt, no time-out.
        QVERIFY2(deleting.elapsed() < kTimeoutMs / 4,
                 qPrintable(QString::number(deleting.elapsed())));
        QCOMPARE(proxy.cuts(), 1);
        QTRY_COMPARE(answers.messages().size(), 1);
        QVERIFY2(answers.lastMessageText().startsWith(
                     "Ob das Löschen gespeichert wurde, ist nicht bekannt"),
                 qPrintable(answers.lastMessageText()));

        // The longest time the window's thread went without running its events from here on.
        QElapsedTimer sinceTick;
        qint64 longestPause = 0;
        QTimer tick;
        QObject::connect(&tick, &QTimer::timeout, &tick,
                         [&] { longestPause = qMax(longestPause, sinceTick.restart()); });
        sinceTick.start();
        tick.start(10);
        if (meanwhile == QLatin1String("click")) {
            for (int folder : { -5, -10, -5, -10 }) {
                QVERIFY(window.showFolder(folder));
                QTest::qWait(200);
            }
            QCOMPARE(list->topLevelItemCount(), 0);
        } else if (meanwhile == QLatin1String("dialog")) {
            QVERIFY(dialog->select("SELECT Title FROM articles").value().isEmpty());
            QVERIFY2(dialog->lastErrorText.startsWith(kAway), qPrintable(dialog->lastErrorText));
        } else if (meanwhile == QLatin1String("new dialog")) {
            Database opened(true, QStringLiteral("statusNewDialog"));
            QVERIFY(opened.select("SELECT Title FROM articles").value().isEmpty());
            QVERIFY2(opened.lastErrorText.startsWith(kAway), qPrintable(opened.lastErrorText));
        } else if (meanwhile == QLatin1String("command")) {
            // "Liste leeren": refused at once, the seller reads why.
            QElapsedTimer command;
            command.start();
            window.window()->findChild<QAction *>(QStringLiteral("actionListe_leeren"))->trigger();
            QVERIFY2(command.elapsed() < kLongestPauseMs,
                     qPrintable(QString::number(command.elapsed())));
            QTRY_COMPARE(answers.messages().size(), 2);
            QVERIFY2(answers.lastMessageText().startsWith(
                         "Die Änderung konnte nicht gespeichert werden. Die Verbindung zur "
                         "Datenbank ist unterbrochen: "),
                     qPrintable(answers.lastMessageText()));
        }
        QTest::qWait(1500);
        std::fprintf(stderr, "Window: longest pause while the server was away: %lld ms\n",
                     static_cast<long long>(longestPause));
        // Below the time-out by far, and below one connect attempt of the window (2 s).
        QVERIFY2(longestPause < kLongestPauseMs, qPrintable(QString::number(longestPause)));
        QVERIFY2(statusPanel().contains(kAway), qPrintable(statusPanel()));

        // Back: the window shows what is stored (the delete's commit ran) without a click.
        proxy.release();
        const auto trashCount = [&window] {
            auto *model = qobject_cast<FolderModel *>(window.treeView()->model());
            const FolderNode *trash = model ? model->findFolderWithId(-5) : nullptr;
            return trash ? trash->count : -1;
        };
        QTRY_COMPARE_WITH_TIMEOUT(trashCount(), 1, 20000);
        QVERIFY(window.showFolder(-5));
        QCOMPARE(list->topLevelItemCount(), 1);
        QCOMPARE(answers.messages().size(), meanwhile == QLatin1String("command") ? 2 : 1);
        tick.stop();
        QVERIFY2(longestPause < kLongestPauseMs, qPrintable(QString::number(longestPause)));
        QVERIFY2(statusPanel().endsWith("Die Verbindung zur Datenbank besteht wieder."),
                 qPrintable(statusPanel()));
    }
};

APP_TEST_MAIN(TestStatus)
#include "test_status.moc"
