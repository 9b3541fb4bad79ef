#include "core/database.h"
#include "mainwindow/mainwindow.h"
#include "tests/support/mainwindowfixture.h"
#include "tests/support/messagecapture.h"
#include "tests/support/testdatabase.h"
#include "tests/support/testmain.h"
#include "views/itemlistroles.h"

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QContextMenuEvent>
#include <QHeaderView>
#include <QLineEdit>
#include <QLocale>
#include <QMenu>
#include <QSignalSpy>
#include <QTimer>
#include <QTreeWidget>
#include <algorithm>
#include <memory>

using TestSupport::Backend;
using TestSupport::MainWindowFixture;
using TestSupport::TestDatabase;
using Roles = QList<int>;

namespace {

const QString kSortMark = QStringLiteral(" \u2304");
const QString kThumbDir = QStringLiteral("<thumbs>");

// One article row as the list selects it; the row-conversion cases change single columns.
QVariantMap baseRow()
{
    return {
        { "id", 7 },
        { "Title", "Lampe" },
        { "SKU", "" },
        { "Folder", -10 },
        { "FolderOld", -9 },
        { "Account", 2 },
        { "Site", 77 },
        { "Currency", "EUR" },
        { "StartPrice", 12.5 },
        { "CurrentPrice", 0.0 },
        { "BuyItNowPrice", 0.0 },
        { "ShippingService_1_Cost", 0.0 },
        { "HasVariation", 0 },
        { "HasVariationMinPrice", 0.0 },
        { "ListingDuration", "Days_7" },
        { "ListingType", "FixedPriceItem" },
        { "StartDate", "" },
        { "Planned", "" },
        { "Planned_Interval", "" },
        { "ImageThumb", "" },
        { "WatchCount", 5 },
        { "SoldCount", 1 },
        { "BidCount", 0 },
        { "QuestionCount", 2 },
        { "Quantity", 3 },
        { "eBayPlus", 0 },
        { "BestOfferEnabled", 1 },
        { "ItemID", "110012345678" },
        { "DoCheck", 0 },
        { "DoCheckResult", "" },
    };
}

// Records every setData call, to check which roles are written in which order.
class RecordingItem : public QTreeWidgetItem
{
public:
    void setData(int column, int role, const QVariant &value) override
    {
        columns << column;
        roles << role;
        QTreeWidgetItem::setData(column, role, value);
    }
    QList<int> columns;
    Roles roles;
};

// The article ids of the list, top to bottom.
QList<int> listedIds(const QTreeWidget *list)
{
    QList<int> ids;
    for (int i = 0; i < list->topLevelItemCount(); ++i)
        ids << list->topLevelItem(i)->data(0, ItemListRole::ArticleIdRole).toInt();
    return ids;
}

QStringList boxTexts(const QComboBox *box)
{
    QStringList texts;
    for (int i = 0; i < box->count(); ++i)
        texts << box->itemText(i) + QLatin1Char('=') + box->itemData(i).toString();
    return texts;
}

// Runs `open`, which opens a popup menu modally, and returns the object names (or titles of
// submenus) of the menu's actions; the menu is closed again at once.
template<typename Open> QStringList popupActions(Open open)
{
    QStringList names;
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, &poll, [&] {
        auto *menu = qobject_cast<QMenu *>(QApplication::activePopupWidget());
        if (!menu)
            return;
        poll.stop();
        for (QAction *action : menu->actions()) {
            if (!action->isSeparator())
                names << (action->menu() ? action->menu()->title() : action->objectName());
        }
        menu->close();
    });
    poll.start(10);
    open();
    return names;
}

int addAccount(Database *db, const QString &name)
{
    return db->insertSqlClean({ { "accountname", name }, { "token", "T" } },
                              QStringLiteral("accounts"));
}

} // namespace

class TestItemlist : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<TestDatabase> m_data;
    std::unique_ptr<MainWindowFixture> m_fixture;

    MainWindow *window() const { return m_fixture->window(); }
    QTreeWidget *list() const { return m_fixture->itemList(); }
    template<typename T> T *child(const char *name) const
    {
        return window()->findChild<T *>(QLatin1String(name));
    }
    void trigger(const char *action) const { child<QAction>(action)->trigger(); }

    // A fresh database of the current row's backend, without a window yet; null when the
    // backend is missing or the database did not open.
    void openData()
    {
        m_fixture.reset();
        m_data.reset();
        QFETCH_GLOBAL(Backend, backend);
        APP_REQUIRE_BACKEND(backend);
        auto data = std::make_unique<TestDatabase>(backend);
        QVERIFY2(data->error().isEmpty(), qPrintable(data->error()));
        m_data = std::move(data);
    }
    // A (new) main window on the current database.
    void openWindow()
    {
        m_fixture.reset();
        m_fixture = std::make_unique<MainWindowFixture>(*m_data);
        QVERIFY(list());
    }
    // The checks that do not depend on the database share one window, whichever is open.
    void openSharedWindow()
    {
        if (m_fixture)
            return;
        openData();
        if (m_data)
            openWindow();
    }
    void showFolder(int folder) { QVERIFY(m_fixture->showFolder(folder)); }

private slots:
    void initTestCase_data() { TestSupport::addBackendRows(); }

    void initTestCase() { QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany)); }

    void cleanupTestCase()
    {
        m_fixture.reset();
        m_data.reset();
    }

    void rowConversion_data()
    {
        QTest::addColumn<QVariantMap>("changes"); // an invalid value removes the column
        QTest::addColumn<int>("role");
        QTest::addColumn<QVariant>("expected");

        using namespace ItemListRole;
        const QVariant none;
        const QString date = QStringLiteral("2019-05-01 10:00:00");
        QTest::newRow("EUR") << QVariantMap {} << int(PriceTextRole) << QVariant("12,50 €");
        QTest::newRow("USD") << QVariantMap { { "Currency", "USD" } } << int(PriceTextRole)
                             << QVariant("12,50 $");
        QTest::newRow("CHF") << QVariantMap { { "Currency", "CHF" } } << int(PriceTextRole)
                             << QVariant("12,50 CHF");
        QTest::newRow("empty currency")
            << QVariantMap { { "Currency", "" } } << int(PriceTextRole) << QVariant("12,50 €");
        QTest::newRow("no currency")
            << QVariantMap { { "Currency", none } } << int(PriceTextRole) << QVariant("12,50 €");
        QTest::newRow("current price wins") << QVariantMap { { "CurrentPrice", 15.0 } }
                                            << int(PriceTextRole) << QVariant("15,00 €");
        QTest::newRow("price grouped") << QVariantMap { { "StartPrice", 1234.5 } }
                                       << int(PriceTextRole) << QVariant("1.234,50 €");
        QTest::newRow("variation price") << QVariantMap { { "HasVariationMinPrice", 12.5 } }
                                         << int(VariationMinPriceRole) << QVariant("12.50 €");
        QTest::newRow("variation price not grouped")
            << QVariantMap { { "HasVariationMinPrice", 1234.5 }, { "Currency", "USD" } }
            << int(VariationMinPriceRole) << QVariant("1234.50 $");
        QTest::newRow("no shipping cost")
            << QVariantMap {} << int(ShippingCostRole) << QVariant("");
        QTest::newRow("shipping cost") << QVariantMap { { "ShippingService_1_Cost", 4.9 } }
                                       << int(ShippingCostRole) << QVariant("4,90 €");
        QTest::newRow("GTC without start")
            << QVariantMap { { "ListingDuration", "GTC" } } << int(EndTextRole) << QVariant("BaW");
        QTest::newRow("Days_7") << QVariantMap { { "StartDate", date } } << int(EndTextRole)
                                << QVariant("08.05.19 10:00");
        QTest::newRow("zero start date") << QVariantMap { { "StartDate", "0000-00-00 00:00:00" } }
                                         << int(EndTextRole) << QVariant("-");
        QTest::newRow("empty start date") << QVariantMap {} << int(EndTextRole) << QVariant("-");
        QTest::newRow("duration without _")
            << QVariantMap { { "ListingDuration", "Chinese" }, { "StartDate", date } }
            << int(EndTextRole) << QVariant("-");
        QTest::newRow("unreadable start date")
            << QVariantMap { { "StartDate", "gestern" } } << int(EndTextRole) << QVariant("");
        QTest::newRow("planned") << QVariantMap { { "Planned", "2019-12-24 18:30:00" } }
                                 << int(PlannedRole) << QVariant("24.12.19 18:30");
        QTest::newRow("unreadable planned")
            << QVariantMap { { "Planned", "bald" } } << int(PlannedRole) << QVariant("");
        QTest::newRow("not planned") << QVariantMap {} << int(PlannedRole) << QVariant("");
        QTest::newRow("SKU") << QVariantMap { { "SKU", "A-17" } } << int(TitleRole)
                             << QVariant("A-17: Lampe");
        QTest::newRow("no SKU") << QVariantMap {} << int(TitleRole) << QVariant("Lampe");
        QTest::newRow("no thumb") << QVariantMap {} << int(ImageThumbRole) << QVariant("");
        QTest::newRow("thumb") << QVariantMap { { "ImageThumb", "thumb_bild.jpg" } }
                               << int(ImageThumbRole) << QVariant(kThumbDir + "thumb_bild.jpg");
        QTest::newRow("no Marker") << QVariantMap {} << int(MarkerRole) << QVariant(0);
        QTest::newRow("no LastError") << QVariantMap {} << int(LastErrorRole) << QVariant("");
        QTest::newRow("extra text") << QVariantMap {} << int(ExtraTextRole) << QVariant("");
        QTest::newRow("desc tag") << QVariantMap {} << int(DescTagRole) << QVariant("desc");
        QTest::newRow("watchers as text") << QVariantMap {} << int(WatchCountRole) << QVariant("5");
        QTest::newRow("old folder as text")
            << QVariantMap {} << int(FolderOldRole) << QVariant("-9");
        QTest::newRow("article id") << QVariantMap {} << int(ArticleIdRole) << QVariant(7);
        QTest::newRow("account") << QVariantMap {} << int(AccountRole) << QVariant(2);
    }
    void rowConversion()
    {
        QFETCH(QVariantMap, changes);
        QFETCH(int, role);
        QFETCH(QVariant, expected);
        QFETCH_GLOBAL(Backend, backend);
        if (backend != Backend::SQLite)
            QSKIP("Independent of the database: checked on the sqlite row");
        openSharedWindow();
        if (!m_fixture)
            return;

        QVariantMap row = baseRow();
        for (auto it = changes.cbegin(); it != changes.cend(); ++it) {
            if (it.value().isValid())
                row.insert(it.key(), it.value());
            else
                row.remove(it.key());
        }
        if (expected.toString().startsWith(kThumbDir))
            expected = expected.toString().replace(kThumbDir,
                                                   m_data->db()->getCurrentAdImageDirThumbs());

        QTreeWidgetItem item;
        window()->UpdateListItem(row, &item);
        const QVariant value = item.data(0, role);
        QCOMPARE(value.userType(), expected.userType());
        QCOMPARE(value, expected);
    }

    void everyRoleWrittenOnceInOrder()
    {
        QFETCH_GLOBAL(Backend, backend);
        if (backend != Backend::SQLite)
            QSKIP("Independent of the database: checked on the sqlite row");
        openSharedWindow();
        if (!m_fixture)
            return;
        RecordingItem item;
        window()->UpdateListItem(baseRow(), &item);

        Roles expected;
        for (int role = ItemListRole::MarkerRole; role <= ItemListRole::ShippingCostRole; ++role)
            expected << role;
        expected << ItemListRole::ArticleIdRole << ItemListRole::DoCheckRole
                 << ItemListRole::DoCheckResultRole;
        QCOMPARE(item.roles, expected);
        QCOMPARE(item.columns.count(0), expected.size());
        // Only roles: no display text, no flags of its own.
        QCOMPARE(item.text(0), QString());
        QCOMPARE(item.flags(), QTreeWidgetItem().flags());
    }

    void headerAndContextMenus()
    {
        QFETCH_GLOBAL(Backend, backend);
        if (backend != Backend::SQLite)
            QSKIP("Independent of the database: checked on the sqlite row");
        openSharedWindow();
        if (!m_fixture)
            return;
        QHeaderView *header = list()->header();
        const QStringList sortMenu = popupActions([&] {
            QTest::mouseClick(header->viewport(), Qt::LeftButton, {},
                              QPoint(20, header->height() / 2));
        });
        QCOMPARE(sortMenu.size(), 18);
        QCOMPARE(sortMenu.first(), QStringLiteral("actionNach_Titel_aufsteigend_sortieren"));
        QCOMPARE(sortMenu.last(), QStringLiteral("actionNach_interner_Referenz_absteigend"));

        const QStringList articleMenu = popupActions([&] {
            QWidget *viewport = list()->viewport();
            QContextMenuEvent event(QContextMenuEvent::Mouse, QPoint(5, 5),
                                    viewport->mapToGlobal(QPoint(5, 5)));
            QApplication::sendEvent(viewport, &event);
        });
        QVERIFY(!articleMenu.isEmpty());
        QCOMPARE(articleMenu.first(), QStringLiteral("Gebündelt bearbeiten"));
        QVERIFY(articleMenu.contains(QStringLiteral("actionAlles_markieren")));
    }

    void folderAccountFilterAndLookup()
    {
        openData();
        if (!m_data)
            return;
        Database *db = m_data->db();
        const int zulu = addAccount(db, QStringLiteral("Zulu"));
        const int alpha = addAccount(db, QStringLiteral("Alpha"));
        using TestSupport::insertArticle;
        const int a = insertArticle(
            db, { { "Account", zulu }, { "Marker", 3 }, { "LastError", "Verbindung verloren" } });
        const int b = insertArticle(db, { { "Account", alpha } });
        const int c = insertArticle(db, { { "Account", zulu } });
        const int drafts = insertArticle(db, { { "Folder", -10 }, { "Account", zulu } });
        insertArticle(db, { { "Trash", 1 }, { "Account", zulu } });
        const int sold = insertArticle(db, { { "Folder", -7 }, { "Account", alpha } });
        openWindow();
        if (!m_fixture)
            return;

        // Folder -9 without the article in the trash.
        QCOMPARE(listedIds(list()), (QList<int> { a, b, c }));
        QCOMPARE(list()->currentItem(), list()->topLevelItem(0));
        QCOMPARE(list()->headerItem()->text(0),
                 QStringLiteral("Nach interner Id aufsteigend sortieren") + kSortMark);
        // The list does not select Marker and LastError.
        QCOMPARE(list()->topLevelItem(0)->data(0, ItemListRole::MarkerRole), QVariant(0));
        QCOMPARE(list()->topLevelItem(0)->data(0, ItemListRole::LastErrorRole).toString(),
                 QString());

        QCOMPARE(window()->IsItemWithIdHere(b), list()->topLevelItem(1));
        QVERIFY(!window()->IsItemWithIdHere(drafts));

        showFolder(-10);
        QCOMPARE(listedIds(list()), QList<int> { drafts });
        showFolder(-7);
        QCOMPARE(listedIds(list()), QList<int> { sold });
        QVERIFY(!window()->IsItemWithIdHere(a));
        showFolder(-9);

        auto *box = child<QComboBox>("AccountFilterBox");
        QCOMPARE(
            boxTexts(box),
            (QStringList { QStringLiteral("Alle Konten=0"), QStringLiteral("Alpha=%1").arg(alpha),
                           QStringLiteral("Zulu=%1").arg(zulu) }));
        QCOMPARE(box->property("inload"), QVariant(0));
        box->setCurrentIndex(2);
        QCOMPARE(listedIds(list()), (QList<int> { a, c }));
        box->setCurrentIndex(1);
        QCOMPARE(listedIds(list()), QList<int> { b });
        box->setCurrentIndex(0);
        QCOMPARE(listedIds(list()), (QList<int> { a, b, c }));

        // While the box is being filled, its changes do not refill the list.
        QSignalSpy resets(list()->model(), &QAbstractItemModel::modelReset);
        box->setProperty("inload", 1);
        box->setCurrentIndex(2);
        QCOMPARE(resets.count(), 0);
        QCOMPARE(listedIds(list()), (QList<int> { a, b, c }));
        box->setProperty("inload", 0);
        box->setCurrentIndex(1);
        QCOMPARE(listedIds(list()), QList<int> { b });

        // A refill of the box keeps the chosen account, or falls back to all accounts.
        resets.clear();
        const int mitte = addAccount(db, QStringLiteral("Mitte"));
        window()->reloadAccountBox();
        QCOMPARE(boxTexts(box),
                 (QStringList {
                     QStringLiteral("Alle Konten=0"), QStringLiteral("Alpha=%1").arg(alpha),
                     QStringLiteral("Mitte=%1").arg(mitte), QStringLiteral("Zulu=%1").arg(zulu) }));
        QCOMPARE(box->currentText(), QStringLiteral("Alpha"));
        QCOMPARE(box->property("inload"), QVariant(0));
        QCOMPARE(resets.count(), 0);
        QVERIFY(db->executeSQL(QStringLiteral("DELETE FROM accounts WHERE id=%1").arg(alpha)));
        window()->reloadAccountBox();
        QCOMPARE(box->currentIndex(), 0);
        QCOMPARE(resets.count(), 0);
        window()->reloadData();
        QCOMPARE(listedIds(list()), (QList<int> { a, b, c }));

        // Select all acts only while the list has the keyboard focus.
        window()->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(window()));
        auto *search = child<QLineEdit>("SearchBy");
        search->setFocus();
        QTRY_VERIFY(search->hasFocus());
        list()->clearSelection();
        trigger("actionAlles_markieren");
        QCOMPARE(list()->selectedItems().size(), 0);
        list()->setFocus();
        QTRY_VERIFY(list()->hasFocus());
        trigger("actionAlles_markieren");
        QCOMPARE(list()->selectedItems().size(), 3);
    }

    void search()
    {
        openData();
        if (!m_data)
            return;
        Database *db = m_data->db();
        addAccount(db, QStringLiteral("Konto A"));
        addAccount(db, QStringLiteral("Konto B"));
        const int accountC = addAccount(db, QStringLiteral("Konto C"));
        using TestSupport::insertArticle;
        const int inTitle = insertArticle(db, { { "Title", "Zebra Becher" } });
        const int inSubTitle
            = insertArticle(db, { { "Title", "Tasse" }, { "SubTitle", "Zebra gestreift" } });
        const int inSku = insertArticle(db, { { "Title", "Teller" }, { "SKU", "Zebra-1" } });
        const int inReference
            = insertArticle(db, { { "Title", "Krug" }, { "ApplicationData", "Zebra" } });
        const int inDescription
            = insertArticle(db, { { "Title", "Schale" }, { "Description", "<p>Zebra</p>" } });
        const int quoted = insertArticle(db, { { "Title", "Buch von O'Neil" } });
        const int backslash = insertArticle(db, { { "Title", "Kabel 3\\4 Zoll" } });
        insertArticle(db, { { "Title", "Kabel 34 Zoll" } });
        insertArticle(db, { { "Title", "Zebra" }, { "Folder", -10 } });
        const int lampe = insertArticle(db, { { "Title", "Lampe rund" }, { "Account", accountC } });
        const int vase = insertArticle(
            db, { { "Title", "Vase" }, { "Description", "Lampe" }, { "Account", accountC } });
        insertArticle(db, { { "Title", "Lampe eckig" } });
        openWindow();
        if (!m_fixture)
            return;
        const int all = 11;
        QCOMPARE(list()->topLevelItemCount(), all);

        auto *field = child<QLineEdit>("SearchBy");
        auto *inDesc = child<QCheckBox>("InDesc");
        QSignalSpy resets(list()->model(), &QAbstractItemModel::modelReset);

        // Typing alone, clearing a field that was never searched, and ticking the
        // description without a text do not refill.
        QTest::keyClicks(field, QStringLiteral("Zebra"));
        field->clear();
        inDesc->setChecked(true);
        inDesc->setChecked(false);
        QCOMPARE(resets.count(), 0);
        QCOMPARE(list()->topLevelItemCount(), all);

        QTest::keyClicks(field, QStringLiteral("Zebra"));
        QCOMPARE(resets.count(), 0);
        QTest::keyClick(field, Qt::Key_Return);
        QCOMPARE(listedIds(list()), (QList<int> { inTitle, inSubTitle, inSku, inReference }));
        inDesc->setChecked(true);
        QCOMPARE(listedIds(list()),
                 (QList<int> { inTitle, inSubTitle, inSku, inReference, inDescription }));
        inDesc->setChecked(false);
        QCOMPARE(list()->topLevelItemCount(), 4);

        resets.clear();
        field->clear();
        QCOMPARE(resets.count(), 1);
        QCOMPARE(list()->topLevelItemCount(), all);

        // A quote and a backslash are plain characters of the text on both databases.
        QTest::keyClicks(field, QStringLiteral("O'Neil"));
        QTest::keyClick(field, Qt::Key_Return);
        QCOMPARE(listedIds(list()), QList<int> { quoted });
        field->clear();
        for (const QString &text : { QStringLiteral("3\\4"), QStringLiteral("\\") }) {
            QTest::keyClicks(field, text);
            QTest::keyClick(field, Qt::Key_Return);
            QCOMPARE(listedIds(list()), QList<int> { backslash });
            field->clear();
        }

        // Account, search with the description and the order together.
        auto *box = child<QComboBox>("AccountFilterBox");
        box->setCurrentIndex(box->findData(accountC));
        inDesc->setChecked(true);
        QTest::keyClicks(field, QStringLiteral("Lampe"));
        QTest::keyClick(field, Qt::Key_Return);
        trigger("actionNach_Titel_aufsteigend_sortieren");
        QCOMPARE(listedIds(list()), (QList<int> { lampe, vase }));
    }

    void sortOrders()
    {
        openData();
        if (!m_data)
            return;
        Database *db = m_data->db();
        // Four articles whose nine sort keys put them in nine different orders, none the
        // reverse of another.
        const QList<QVariantMap> articles {
            { { "Title", "Dose" },
              { "StartPrice", 1.5 },
              { "WatchCount", 0 },
              { "StartDate", "2019-02-01 08:00:00" },
              { "EndDate", "2019-05-01 08:00:00" },
              { "Quantity", 1 },
              { "SoldCount", 4 },
              { "ApplicationData", "R-300" } },
            { { "Title", "Apfel" },
              { "StartPrice", 10.0 },
              { "WatchCount", 7 },
              { "StartDate", "2019-01-05 08:00:00" },
              { "EndDate", "2019-06-01 08:00:00" },
              { "Quantity", 9 },
              { "SoldCount", 0 },
              { "ApplicationData", "R-200" } },
            { { "Title", "Krug" },
              { "StartPrice", 2.5 },
              { "WatchCount", 12 },
              { "StartDate", "2020-01-01 08:00:00" },
              { "EndDate", "2019-04-01 08:00:00" },
              { "Quantity", 2 },
              { "SoldCount", 1 },
              { "ApplicationData", "R-100" } },
            { { "Title", "Becher" },
              { "StartPrice", 20.0 },
              { "WatchCount", 3 },
              { "StartDate", "2019-03-10 08:00:00" },
              { "EndDate", "2019-07-01 08:00:00" },
              { "Quantity", 5 },
              { "SoldCount", 6 },
              { "ApplicationData", "R-400" } },
        };
        QMap<int, QChar> letters;
        for (int i = 0; i < articles.size(); ++i)
            letters.insert(TestSupport::insertArticle(db, articles.at(i)), QChar('A' + i));
        auto order = [&] {
            QString text;
            for (int id : listedIds(list()))
                text += letters.value(id, QLatin1Char('?'));
            return text;
        };

        openWindow();
        if (!m_fixture)
            return;
        // The first fill ever sorts by id and remembers that.
        QCOMPARE(order(), QStringLiteral("ABCD"));
        QCOMPARE(db->getOption(QStringLiteral("lastOrder"), QString()), QStringLiteral("id ASC"));
        QCOMPARE(list()->headerItem()->text(0),
                 QStringLiteral("Nach interner Id aufsteigend sortieren") + kSortMark);

        struct Sort
        {
            const char *action;
            QString label;
            QString orderBy;
            QString ascending;
        };
        const QList<Sort> sorts {
            { "actionNach_Titel_%1_sortieren", "Nach Titel %1 sortieren", "Title", "BDAC" },
            { "actionNach_Startpreis_%1_sortieren", "Nach Startpreis %1 sortieren", "StartPrice",
              "ACBD" },
            { "actionNach_Beobachter_%1_sortieren", "Nach Beobachter %1 sortieren", "WatchCount",
              "ADBC" },
            { "actionNach_Startzeit_%1_sortieren", "Nach Startzeit %1 sortieren",
              "datetime(StartDate)", "BADC" },
            { "actionNach_Ende_%1_sortieren", "Nach Ende %1 sortieren", "datetime(EndDate)",
              "CABD" },
            { "actionNach_Menge_%1_sortieren", "Nach Menge %1 sortieren", "Quantity", "ACDB" },
            { "actionNach_Verk_ufen_%1_sortieren", "Nach Verkäufen %1 sortieren", "SoldCount",
              "BCAD" },
            { "actionNach_interner_Id_%1_sortieren", "Nach interner Id %1 sortieren", "id",
              "ABCD" },
            { "actionNach_interner_Referenz_%1", "Nach interner Referenz %1", "ApplicationData",
              "CBAD" },
        };
        for (const Sort &sort : sorts) {
            for (bool ascending : { true, false }) {
                const QString direction
                    = ascending ? QStringLiteral("aufsteigend") : QStringLiteral("absteigend");
                const QString action = QString::fromLatin1(sort.action).arg(direction);
                const QString orderBy
                    = sort.orderBy + (ascending ? QStringLiteral(" ASC") : QStringLiteral(" DESC"));
                QString expected = sort.ascending;
                if (!ascending)
                    std::reverse(expected.begin(), expected.end());

                child<QAction>(action.toLatin1().constData())->trigger();
                QCOMPARE(order(), expected);
                QCOMPARE(list()->headerItem()->text(0), sort.label.arg(direction) + kSortMark);
                QCOMPARE(db->getOption(QStringLiteral("lastOrder"), QString()), orderBy);
            }
        }

        // The order outlives the window.
        trigger("actionNach_Startzeit_absteigend_sortieren");
        openWindow();
        QCOMPARE(order(), QStringLiteral("CDAB"));
        QCOMPARE(list()->headerItem()->text(0),
                 QStringLiteral("Nach Startzeit absteigend sortieren") + kSortMark);

        // A stored order that is not one of the menu's is replaced by the id order, instead
        // of failing every fill from then on.
        m_fixture.reset();
        db->setOption(QStringLiteral("lastOrder"), QStringLiteral("Titel ASC"));
        TestSupport::MessageCapture log({ QStringLiteral("app") });
        openWindow();
        QCOMPARE(order(), QStringLiteral("ABCD"));
        QCOMPARE(list()->headerItem()->text(0),
                 QStringLiteral("Nach interner Id aufsteigend sortieren") + kSortMark);
        QCOMPARE(db->getOption(QStringLiteral("lastOrder"), QString()), QStringLiteral("id ASC"));
        QCOMPARE(log.count(QStringLiteral("Unknown stored sort order")), 1);
    }
};

APP_TEST_MAIN(TestItemlist)
#include "test_itemlist.moc"
