// The main window's status panel, count line, synchronise command, the article commands'
// states by folder and selection, and desktop notifications, on the real window.

#include "mainwindow/mainwindow.h"

#include "core/clock.h"
#include "core/database.h"
#include "core/specialfolderid.h"
#include "tests/support/mainwindowfixture.h"
#include "tests/support/messagecapture.h"
#include "tests/support/testdatabase.h"
#include "tests/support/testmain.h"

#include <QAction>
#include <QLabel>
#include <QProgressBar>
#include <QStatusBar>
#include <QTreeWidget>

#include <memory>

using TestSupport::Backend;
using TestSupport::MainWindowFixture;
using TestSupport::MessageCapture;
using TestSupport::TestDatabase;

namespace {

// Stands for the user folder in the data rows; its id is known only after the insert.
constexpr int kUserFolder = 1000;
constexpr int kActiveRows = 12;
constexpr int kOtherRows = 3;

const QString kStopIcon = QStringLiteral(":/buttons/images/Stop-Flat-247.png");
const QString kNotesIcon = QStringLiteral(":/buttons/images/notes.png");
const QString kSoundFile = QStringLiteral("/usr/share/sounds/zerire/ping.wav");

// Every action whose state updateButtons sets, with its text in the form.
const QList<QPair<QString, QString>> kTouchedActions = {
    { QStringLiteral("actionRahmenbedingungen"), QStringLiteral("Rahmenbedingungen") },
    { QStringLiteral("actionArtikelstandort_und_Bearbeitungszeit"),
      QStringLiteral("Artikelstandort und Bearbeitungszeit") },
    { QStringLiteral("actionPreise_und_Mengen"), QStringLiteral("Preise und Mengen") },
    { QStringLiteral("actionInlandsversand"), QStringLiteral("Inlandsversand") },
    { QStringLiteral("actionAuslandsversand"), QStringLiteral("Auslandsversand") },
    { QStringLiteral("actionZahlungsmethoden"), QStringLiteral("Zahlungsmethoden") },
    { QStringLiteral("actionKonto_PayPal_und_Shopkategorien"),
      QStringLiteral("Konto, PayPal und Shopkategorien") },
    { QStringLiteral("actionExportieren"), QStringLiteral("Exportieren...") },
    { QStringLiteral("actionSynchronisieren"), QString() }, // its text belongs to setNextSync
    { QStringLiteral("actionL_schen"), QString() },
    { QStringLiteral("actionAuwahl_beenden"), QString() },
    { QStringLiteral("actionDuplizieren"), QString() },
    { QStringLiteral("actionPlanen"), QStringLiteral("Startzeit planen") },
    { QStringLiteral("actionArtikel_online_aufrufen"), QStringLiteral("Artikel online aufrufen") },
    { QStringLiteral("actionIn_Ausgang_legen"), QString() },
    { QStringLiteral("actionKopieren"), QStringLiteral("Kopieren") },
    { QStringLiteral("actionAusschneiden"), QStringLiteral("Ausschneiden") },
    { QStringLiteral("actionEinf_gen"), QStringLiteral("Einfügen") },
};

QImage iconImage(const QIcon &icon)
{
    return icon.pixmap(32, 32).toImage();
}

} // namespace

class TestStatus : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void cleanup();

    void statusPanel_data();
    void statusPanel();
    void countLine();
    void nextSync();
    void syncState();
    void commandStates_data();
    void commandStates();
    void notification_data();
    void notification();

private:
    QAction *action(const QString &name) const
    {
        return m_fixture->window()->findChild<QAction *>(name);
    }
    template<typename T> T *widget(const char *name) const
    {
        return m_fixture->window()->findChild<T *>(QLatin1String(name));
    }
    void showFolder(int folder, int rows);
    void select(int count);

    std::unique_ptr<TestDatabase> m_data;
    std::unique_ptr<MainWindowFixture> m_fixture;
    int m_userFolder = 0;
};

void TestStatus::initTestCase()
{
    m_data = std::make_unique<TestDatabase>(Backend::SQLite);
    QVERIFY2(m_data->error().isEmpty(), qPrintable(m_data->error()));
    Database *db = m_data->db();

    m_userFolder = db->insertSqlClean({ { QStringLiteral("foldername"), QStringLiteral("Eigene") },
                                        { QStringLiteral("folderparentid"), -10 },
                                        { QStringLiteral("expand"), 0 } },
                                      QStringLiteral("folders"));
    QVERIFY(m_userFolder > 0);

    using namespace SpecialFolderId;
    const QList<int> folders
        = { Root, Outbox, Scheduled, Trash, Sold, Unsold, Drafts, m_userFolder };
    for (int folder : folders) {
        for (int i = 0; i < kOtherRows; ++i)
            QVERIFY(TestSupport::insertArticle(db, { { QStringLiteral("Folder"), folder } }) > 0);
    }
    for (int i = 0; i < kActiveRows; ++i)
        QVERIFY(TestSupport::insertArticle(db, { { QStringLiteral("Folder"), int(Active) } }) > 0);

    m_fixture = std::make_unique<MainWindowFixture>(*m_data);
    QVERIFY(m_fixture->window());
    // The icon check below can fail only if the two pictures differ.
    QVERIFY(iconImage(QIcon(kStopIcon)) != iconImage(QIcon(kNotesIcon)));
}

void TestStatus::cleanupTestCase()
{
    m_fixture.reset();
    m_data.reset();
}

void TestStatus::cleanup()
{
    qApp->setProperty("inSync", false);
    Clock::setCurrentDateTimeForTesting(QDateTime());
}

void TestStatus::showFolder(int folder, int rows)
{
    QVERIFY(m_fixture->showFolder(folder));
    QTRY_COMPARE_WITH_TIMEOUT(m_fixture->itemList()->topLevelItemCount(), rows, 1000);
}

void TestStatus::select(int count)
{
    QTreeWidget *list = m_fixture->itemList();
    QVERIFY(list->topLevelItemCount() >= count);
    list->clearSelection();
    for (int i = 0; i < count; ++i)
        list->topLevelItem(i)->setSelected(true);
    QCOMPARE(list->selectedItems().size(), count);
}

void TestStatus::statusPanel_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("maximum");
    QTest::addColumn<int>("value");
    QTest::addColumn<bool>("shown");
    QTest::addColumn<QString>("percent");

    QTest::newRow("no maximum") << QStringLiteral("Lade Planungen hoch") << 0 << 0 << false
                                << QString();
    QTest::newRow("no maximum, a value")
        << QStringLiteral("Lade Planungen hoch") << 0 << 3 << false << QString();
    QTest::newRow("finished") << QStringLiteral("Planungen hochgeladen") << 100 << 100 << false
                              << QString();
    QTest::newRow("under way") << QStringLiteral("Synchronisieren...") << 10 << 2 << true
                               << QStringLiteral("20%");
    QTest::newRow("empty text") << QString() << 5 << 0 << true << QStringLiteral("0%");
}

void TestStatus::statusPanel()
{
    QFETCH(QString, text);
    QFETCH(int, maximum);
    QFETCH(int, value);
    QFETCH(bool, shown);
    QFETCH(QString, percent);

    auto *panel = widget<QWidget>("SyncWidget");
    auto *label = widget<QLabel>("SyncLabel");
    auto *bar = widget<QProgressBar>("SyncProgressBar");
    QVERIFY(panel && label && bar);

    // Start from the opposite state, so each row shows the panel changing.
    m_fixture->window()->updateStatusBar(QStringLiteral("vorher"), shown ? 0 : 10, shown ? 0 : 5);
    QCOMPARE(panel->isVisible(), !shown);

    Clock::setCurrentDateTimeForTesting(QDateTime(QDate(2024, 5, 17), QTime(14, 5, 59)));
    m_fixture->window()->updateStatusBar(text, maximum, value);

    QCOMPARE(panel->isVisible(), shown);
    QCOMPARE(label->text(), QStringLiteral("14:05 Uhr - ") + text);
    if (shown) {
        QCOMPARE(bar->maximum(), maximum);
        QCOMPARE(bar->value(), value);
        QCOMPARE(bar->text(), percent);
    }
}

void TestStatus::countLine()
{
    showFolder(SpecialFolderId::Active, kActiveRows);
    if (QTest::currentTestFailed())
        return;
    auto *statusBar = widget<QStatusBar>("statusBar");
    QVERIFY(statusBar);

    select(3);
    m_fixture->window()->updateBar();
    QCOMPARE(statusBar->currentMessage(), QStringLiteral("12 Artikel(n), 3 markiert"));

    m_fixture->itemList()->clearSelection();
    m_fixture->window()->updateBar();
    QCOMPARE(statusBar->currentMessage(), QStringLiteral("12 Artikel(n), 0 markiert"));
}

void TestStatus::nextSync()
{
    QAction *sync = action(QStringLiteral("actionSynchronisieren"));
    QVERIFY(sync);

    m_fixture->window()->setNextSync(QStringLiteral("14:35"));
    QCOMPARE(sync->text(), QStringLiteral("Synchronisieren (14:35)"));
    m_fixture->window()->setNextSync(QStringLiteral("09:05"));
    QCOMPARE(sync->text(), QStringLiteral("Synchronisieren (09:05)"));
    m_fixture->window()->setNextSync(QString());
    QCOMPARE(sync->text(), QStringLiteral("Synchronisieren"));
}

void TestStatus::syncState()
{
    QAction *sync = action(QStringLiteral("actionSynchronisieren"));
    QAction *bulk = action(QStringLiteral("actionPreise_und_Mengen"));
    QVERIFY(sync && bulk);
    showFolder(SpecialFolderId::Active, kActiveRows);
    if (QTest::currentTestFailed())
        return;
    m_fixture->itemList()->clearSelection();
    m_fixture->window()->updateButtons();
    QVERIFY(!bulk->isEnabled());

    // Selected without the list telling the window: only setAppToSyncState's own call of
    // updateButtons can enable the bulk action.
    {
        const QSignalBlocker quiet(m_fixture->itemList());
        select(2);
    }
    m_fixture->window()->setAppToSyncState(true);
    QCOMPARE(qApp->property("inSync").toBool(), true);
    QVERIFY(!sync->isEnabled());
    QVERIFY(bulk->isEnabled());

    m_fixture->window()->setAppToSyncState(false);
    QCOMPARE(qApp->property("inSync").toBool(), false);
    QVERIFY(sync->isEnabled());
}

void TestStatus::commandStates_data()
{
    QTest::addColumn<int>("folder");
    QTest::addColumn<int>("rows");
    QTest::addColumn<int>("selected");
    QTest::addColumn<bool>("inSync");
    QTest::addColumn<QStringList>("enabled"); // with rows selected, besides the common ones
    QTest::addColumn<QStringList>("texts");
    QTest::addColumn<QString>("endIcon");

    const QString del = QStringLiteral("actionL_schen");
    const QString plan = QStringLiteral("actionPlanen");
    const QString online = QStringLiteral("actionArtikel_online_aufrufen");
    const QString outbox = QStringLiteral("actionIn_Ausgang_legen");
    const QString cut = QStringLiteral("actionAusschneiden");
    const QString fees = QStringLiteral("Gebühren berechnen");
    const QString asTemplate = QStringLiteral("Als Vorlage");
    const QString list = QStringLiteral("Artikel einstellen");

    // `texts`: delete, end, duplicate and outbox command, in this order.
    const auto addFolder = [&](const char *name, int id, const QStringList &enabled,
                               const QStringList &texts, const QString &endIcon = kNotesIcon) {
        const std::pair<const char *, int> selections[]
            = { { "none", 0 }, { "one", 1 }, { "several", 2 } };
        for (const auto &selection : selections) {
            for (bool inSync : { false, true }) {
                // Synchronising is checked in one folder only.
                if (inSync && id != SpecialFolderId::Active)
                    continue;
                QTest::addRow("%s, %s selected%s", name, selection.first,
                              inSync ? ", synchronising" : "")
                    << (id == kUserFolder ? m_userFolder : id)
                    << (id == SpecialFolderId::Active ? kActiveRows : kOtherRows)
                    << selection.second << inSync << enabled << texts << endIcon;
            }
        }
    };
    addFolder("outbox", -2, { del, outbox },
              { "Abbrechen", fees, asTemplate, "Nochmal probieren" });
    addFolder("scheduled", -3, { del, plan }, { "Planung aufheben", fees, asTemplate, list });
    addFolder("trash", -5, { del, plan }, { "Endgültig löschen", fees, asTemplate, list });
    addFolder("sold", -7, { del, plan, online, outbox },
              { "Löschen", fees, asTemplate, "Wiedereinstellen" });
    addFolder("unsold", -8, { del, plan, online, outbox },
              { "Löschen", fees, asTemplate, "Wiedereinstellen" });
    addFolder("active", -9, { del, online, outbox },
              { "Löschen", "Angebot beenden", asTemplate, "Artikel updaten" }, kStopIcon);
    addFolder("drafts", -10, { del, plan, outbox, cut }, { "Löschen", fees, "Duplizieren", list });
    addFolder("top node", 0, { plan }, { "Löschen", fees, asTemplate, list });
    addFolder("user folder", kUserFolder, { del, plan, outbox, cut },
              { "Löschen", fees, "Duplizieren", list });
}

void TestStatus::commandStates()
{
    QFETCH(int, folder);
    QFETCH(int, rows);
    QFETCH(int, selected);
    QFETCH(bool, inSync);
    QFETCH(QStringList, enabled);
    QFETCH(QStringList, texts);
    QFETCH(QString, endIcon);

    showFolder(folder, rows);
    select(selected);
    if (QTest::currentTestFailed())
        return;
    qApp->setProperty("inSync", inSync);
    QAction *sync = action(QStringLiteral("actionSynchronisieren"));
    QVERIFY(sync);
    const QString syncText = sync->text();

    m_fixture->window()->updateButtons();

    // With a selection every folder offers the bulk changes, export, the end or fee
    // command, duplicating and copying; paste needs remembered ids, of which there are none.
    QStringList expectedEnabled;
    if (selected > 0) {
        expectedEnabled = enabled;
        expectedEnabled << QStringLiteral("actionRahmenbedingungen")
                        << QStringLiteral("actionArtikelstandort_und_Bearbeitungszeit")
                        << QStringLiteral("actionPreise_und_Mengen")
                        << QStringLiteral("actionInlandsversand")
                        << QStringLiteral("actionAuslandsversand")
                        << QStringLiteral("actionZahlungsmethoden")
                        << QStringLiteral("actionKonto_PayPal_und_Shopkategorien")
                        << QStringLiteral("actionExportieren")
                        << QStringLiteral("actionAuwahl_beenden")
                        << QStringLiteral("actionDuplizieren") << QStringLiteral("actionKopieren");
    }
    if (!inSync)
        expectedEnabled << QStringLiteral("actionSynchronisieren");

    const QMap<QString, QString> setTexts = {
        { QStringLiteral("actionL_schen"), texts.at(0) },
        { QStringLiteral("actionAuwahl_beenden"), texts.at(1) },
        { QStringLiteral("actionDuplizieren"), texts.at(2) },
        { QStringLiteral("actionIn_Ausgang_legen"), texts.at(3) },
        { QStringLiteral("actionSynchronisieren"), syncText },
    };
    for (const auto &touched : kTouchedActions) {
        QAction *a = action(touched.first);
        QVERIFY2(a, qPrintable(touched.first));
        QVERIFY2(a->isEnabled() == expectedEnabled.contains(touched.first),
                 qPrintable(touched.first + (a->isEnabled() ? " enabled" : " disabled")));
        QCOMPARE(a->text(), setTexts.value(touched.first, touched.second));
    }
    QCOMPARE(iconImage(action(QStringLiteral("actionAuwahl_beenden"))->icon()),
             iconImage(QIcon(endIcon)));
}

void TestStatus::notification_data()
{
    QTest::addColumn<QString>("option"); // null: not stored
    QTest::addColumn<QString>("message");
    QTest::addColumn<QString>("shown"); // the log's record of the notification; empty: none
    QTest::addColumn<bool>("sound");

    // The file need not exist: playing is asynchronous and reports nothing back.
    const QString sound = QStringLiteral("§§§") + kSoundFile;
    QTest::newRow("switched off") << QStringLiteral("0")
                                  << QStringLiteral("Sicherung§§§Fertig") + sound << QString()
                                  << false;
    QTest::newRow("other value than 1")
        << QStringLiteral("true") << QStringLiteral("Sicherung§§§Fertig") << QString() << false;
    QTest::newRow("title and text") << QStringLiteral("1") << QStringLiteral("Sicherung§§§Fertig")
                                    << QStringLiteral("Notification: Sicherung - Fertig") << false;
    QTest::newRow("with sound") << QStringLiteral("1")
                                << QStringLiteral("Sicherung§§§Fertig") + sound
                                << QStringLiteral("Notification: Sicherung - Fertig") << true;
    QTest::newRow("further parts ignored")
        << QStringLiteral("1") << QStringLiteral("A§§§B") + sound + QStringLiteral("§§§C")
        << QStringLiteral("Notification: A - B") << true;
    QTest::newRow("trailing separator, no sound")
        << QStringLiteral("1") << QStringLiteral("A§§§B§§§")
        << QStringLiteral("Notification: A - B") << false;
    QTest::newRow("no separator") << QStringLiteral("1") << QStringLiteral("Import beendet")
                                  << QStringLiteral("Notification: Zerire 3 - Import beendet")
                                  << false;
    QTest::newRow("empty title kept") << QStringLiteral("1") << QStringLiteral("§§§Nur Text")
                                      << QStringLiteral("Notification:  - Nur Text") << false;
    QTest::newRow("not stored means on")
        << QString() << QStringLiteral("Sicherung§§§Fertig")
        << QStringLiteral("Notification: Sicherung - Fertig") << false;
}

void TestStatus::notification()
{
    QFETCH(QString, option);
    QFETCH(QString, message);
    QFETCH(QString, shown);
    QFETCH(bool, sound);

    if (option.isNull())
        QVERIFY(m_data->db()->executeSQL(
            QStringLiteral("DELETE FROM options WHERE optionname='ShowDesktopNoti'")));
    else
        m_data->db()->setOption(QStringLiteral("ShowDesktopNoti"), option);

    QStringList logged;
    {
        MessageCapture log({ QStringLiteral("app") });
        m_fixture->window()->sendNotification(message);
        for (const MessageCapture::Message &m : log.messages())
            logged << m.text;
    }

    QStringList expected;
    if (!shown.isEmpty())
        expected << shown;
    if (sound)
        expected << QStringLiteral("Try to play ") + kSoundFile;
    QCOMPARE(logged, expected);
}

APP_TEST_MAIN(TestStatus)
#include "test_status.moc"
