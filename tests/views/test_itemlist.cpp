#include "core/database.h"
#include "core/imagelimits.h"
#include "mainwindow/mainwindow.h"
#include "tests/support/mainwindowfixture.h"
#include "tests/support/messagecapture.h"
#include "tests/support/testdatabase.h"
#include "tests/support/testmain.h"
#include "views/articlelistitem.h"
#include "views/itemlistroles.h"

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QFileInfo>
#include <QImage>
#include <QLineEdit>
#include <QLocale>
#include <QPixmapCache>
#include <QSignalSpy>
#include <QTreeWidget>
#include <algorithm>
#include <malloc.h>
#include <memory>
#include <vector>

using TestSupport::Backend;
using TestSupport::insertArticle;
using TestSupport::MainWindowFixture;
using TestSupport::TestDatabase;
using Ids = QList<int>;

namespace {

const QString kSortMark = QStringLiteral(" \u2304");
const QString kThumbDir = QStringLiteral("<thumbs>");

QVariantMap baseRow()
{
    return { { "id", 7 },
             { "Title", "Lampe" },
             { "Currency", "EUR" },
             { "StartPrice", 12.5 },
             { "ListingDuration", "Days_7" } };
}

Ids listedIds(const QTreeWidget *list)
{
    Ids ids;
    for (int i = 0; i < list->topLevelItemCount(); ++i)
        ids << list->topLevelItem(i)->data(0, ItemListRole::ArticleIdRole).toInt();
    return ids;
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
    QString header() const { return list()->headerItem()->text(0); }

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
    void openWindow()
    {
        m_fixture.reset();
        m_fixture = std::make_unique<MainWindowFixture>(*m_data);
        QVERIFY(list());
    }
    void runSearch(QLineEdit *field, const QString &text)
    {
        field->clear();
        QTest::keyClicks(field, text);
        QTest::keyClick(field, Qt::Key_Return);
    }

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
        QTest::addColumn<QVariantMap>("changes");
        QTest::addColumn<int>("role");
        QTest::addColumn<QString>("expected");

        using namespace ItemListRole;
        const QString date = QStringLiteral("2019-05-01 10:00:00");
        auto row
            = [](const char *name, const QVariantMap &changes, int role, const QString &expected) {
                  QTest::newRow(name) << changes << role << expected;
              };
        row("USD, grouped", { { "Currency", "USD" }, { "StartPrice", 1234.5 } }, PriceTextRole,
            "1.234,50 $");
        row("CHF", { { "Currency", "CHF" } }, PriceTextRole, "12,50 CHF");
        row("no currency", { { "Currency", "" } }, PriceTextRole, "12,50 €");
        row("current price wins", { { "CurrentPrice", 15.0 } }, PriceTextRole, "15,00 €");
        row("variation price", { { "HasVariationMinPrice", 1234.5 }, { "Currency", "USD" } },
            VariationMinPriceRole, "1234.50 $");
        row("no shipping cost", {}, ShippingCostRole, "");
        row("shipping cost", { { "ShippingService_1_Cost", 4.9 } }, ShippingCostRole, "4,90 €");
        row("GTC", { { "ListingDuration", "GTC" } }, EndTextRole, "BaW");
        row("Days_7", { { "StartDate", date } }, EndTextRole, "08.05.19 10:00");
        row("zero start date", { { "StartDate", "0000-00-00 00:00:00" } }, EndTextRole, "-");
        row("empty start date", {}, EndTextRole, "-");
        row("unreadable start date", { { "StartDate", "gestern" } }, EndTextRole, "");
        row("planned", { { "Planned", "2019-12-24 18:30:00" } }, PlannedRole, "24.12.19 18:30");
        row("SKU", { { "SKU", "A-17" } }, TitleRole, "A-17: Lampe");
        row("thumb", { { "ImageThumb", "thumb_bild.jpg" } }, ImageThumbRole,
            kThumbDir + "thumb_bild.jpg");
        // Another workstation or a restored backup may write any name: one that leads out of
        // the thumbnail folder shows no picture.
        row("thumb leading out of its folder", { { "ImageThumb", "../adimages/privat.jpg" } },
            ImageThumbRole, "");
        row("thumb by its full path", { { "ImageThumb", "/home/verkaeufer/privat.jpg" } },
            ImageThumbRole, "");
    }
    void rowConversion()
    {
        QFETCH(QVariantMap, changes);
        QFETCH(int, role);
        QFETCH(QString, expected);
        QFETCH_GLOBAL(Backend, backend);
        if (backend != Backend::SQLite)
            QSKIP("Independent of the database: checked on the sqlite row");
        if (!m_fixture) { // one window for all rows
            openData();
            if (m_data)
                openWindow();
        }
        if (!m_fixture)
            return;

        QVariantMap row = baseRow();
        row.insert(changes);
        const QString thumbs = m_data->db()->getCurrentAdImageDirThumbs();
        QTreeWidgetItem item;
        window()->UpdateListItem(row, &item);
        QCOMPARE(item.data(0, role).toString(), expected.replace(kThumbDir, thumbs));
    }

    // The list fill reads the query straight into its rows; each row must carry the same
    // roles, of the same types, as a row written by UpdateListItem.
    void fillMatchesRowUpdate()
    {
        openData();
        if (!m_data)
            return;
        Database *db = m_data->db();
        const QList<QVariantMap> articles = {
            { { "Currency", "USD" }, { "StartPrice", 1234.5 }, { "SKU", "A-17" } },
            { { "ListingDuration", "GTC" }, { "ShippingService_1_Cost", 4.9 } },
            { { "StartDate", "2019-05-01 10:00:00" }, { "CurrentPrice", 15.0 } },
            { { "StartDate", "gestern" }, { "Currency", "CHF" }, { "ImageThumb", "t.jpg" } },
            { { "Planned", "2019-12-24 18:30:00" }, { "Planned_Interval", "4711" } },
            { { "HasVariation", 1 },
              { "HasVariationMinPrice", 3.25 },
              { "ItemID", "110" },
              { "FolderOld", "-10" },
              { "DoCheck", 2 },
              { "DoCheckResult", "(f) Fehler" } },
        };
        for (const QVariantMap &article : articles)
            insertArticle(db, article);
        openWindow();
        if (!m_fixture)
            return;
        QCOMPARE(list()->topLevelItemCount(), articles.size());

        QList<int> roles;
        for (int role = ItemListRole::MarkerRole; role <= ItemListRole::ShippingCostRole; ++role)
            roles << role;
        roles << ItemListRole::ArticleIdRole << ItemListRole::DoCheckRole
              << ItemListRole::DoCheckResultRole;
        for (int i = 0; i < list()->topLevelItemCount(); ++i) {
            const QTreeWidgetItem *listed = list()->topLevelItem(i);
            const int id = listed->data(0, ItemListRole::ArticleIdRole).toInt();
            QTreeWidgetItem written;
            window()->UpdateListItem(
                db->select(QStringLiteral("SELECT * FROM articles WHERE id=%1").arg(id))
                    .value()
                    .value(0),
                &written);
            for (int role : roles) {
                const QVariant expected = written.data(0, role);
                const QVariant actual = listed->data(0, role);
                QVERIFY2(actual == expected && actual.userType() == expected.userType(),
                         qPrintable(QStringLiteral("row %1, role %2: %3 instead of %4")
                                        .arg(i)
                                        .arg(role)
                                        .arg(actual.toString(), expected.toString())));
            }
        }
    }

    // A row whose thumbnail name leads out of the thumbnail folder ("../…") shows no picture,
    // and nothing outside the folder is opened for it: painting the list asks a decode for the
    // other row's thumbnail only.
    void thumbnailsOnlyFromTheirFolder()
    {
        QFETCH_GLOBAL(Backend, backend);
        if (backend != Backend::SQLite)
            QSKIP("Independent of the database: checked on the sqlite row");
        openData();
        if (!m_data)
            return;
        Database *db = m_data->db();
        QImage picture(150, 100, QImage::Format_RGB32);
        picture.fill(Qt::darkRed);
        QVERIFY(picture.save(db->getCurrentAdImageDirThumbs() + "thumb_eigen.jpg"));
        QVERIFY(picture.save(db->getCurrentAdImageDir() + "privat.jpg"));
        const int own = insertArticle(db, { { "ImageThumb", "thumb_eigen.jpg" } });
        const int outside = insertArticle(db, { { "ImageThumb", "../adimages/privat.jpg" } });
        QVERIFY(QFileInfo::exists(db->getCurrentAdImageDirThumbs() + "../adimages/privat.jpg"));
        openWindow();
        if (!m_fixture)
            return;
        QCOMPARE(window()->IsItemWithIdHere(outside)->data(0, ItemListRole::ImageThumbRole),
                 QVariant(QString()));
        QTRY_COMPARE(ImageLimits::pendingDecodes(), 0);
        // Painted afresh, every thumbnail shown is asked for again.
        QPixmapCache::clear();
        list()->viewport()->repaint();
        QVERIFY(list()->visualItemRect(window()->IsItemWithIdHere(own)).isValid());
        QVERIFY(list()->visualItemRect(window()->IsItemWithIdHere(outside)).isValid());
        QCOMPARE(ImageLimits::pendingDecodes(), 1);
        QTRY_COMPARE(ImageLimits::pendingDecodes(), 0);
    }

    // A row read on its own shares the thumbnail folder's text with the other rows: a command
    // or a round that reads thousands of rows anew leaves the list no larger.
    void rowsReadOnTheirOwnShareTheThumbFolder()
    {
        QFETCH_GLOBAL(Backend, backend);
        if (backend != Backend::SQLite)
            QSKIP("Independent of the database: checked on the sqlite row");
        openData();
        if (!m_data)
            return;
        openWindow();
        if (!m_fixture)
            return;
        constexpr int rows = 20000;
        std::vector<std::unique_ptr<ArticleListItem>> items;
        for (int i = 0; i < rows; ++i)
            items.push_back(std::make_unique<ArticleListItem>(ArticleListRow()));
        const auto heapInUse = [] {
            const struct mallinfo2 info = mallinfo2();
            return double(info.uordblks + info.hblkhd);
        };
        const double before = heapInUse();
        // Only the id: every text of the row is empty, so what the row keeps besides is the
        // folder's text.
        for (int i = 0; i < rows; ++i)
            window()->UpdateListItem({ { "id", i + 1 } }, items.at(size_t(i)).get());
        const double perRow = (heapInUse() - before) / rows;
        QVERIFY2(perRow < 48, qPrintable(QStringLiteral("%1 bytes a row").arg(perRow)));
        QCOMPARE(items.back()->data(0, ItemListRole::ArticleIdRole).toInt(), rows);
    }

    void folderAccountFilterAndLookup()
    {
        openData();
        if (!m_data)
            return;
        Database *db = m_data->db();
        const int zulu = addAccount(db, QStringLiteral("Zulu"));
        const int alpha = addAccount(db, QStringLiteral("Alpha"));
        const int a = insertArticle(db, { { "Account", zulu } });
        const int b = insertArticle(db, { { "Account", alpha } });
        const int c = insertArticle(db, { { "Account", zulu } });
        const int draft = insertArticle(db, { { "Folder", -10 }, { "Account", zulu } });
        insertArticle(db, { { "Trash", 1 }, { "Account", zulu } });
        openWindow();
        if (!m_fixture)
            return;

        QCOMPARE(listedIds(list()), (Ids { a, b, c }));
        QCOMPARE(window()->IsItemWithIdHere(b), list()->topLevelItem(1));
        QVERIFY(!window()->IsItemWithIdHere(draft));
        QVERIFY(m_fixture->showFolder(-10));
        QCOMPARE(listedIds(list()), Ids { draft });
        QVERIFY(m_fixture->showFolder(-9));

        auto *box = child<QComboBox>("AccountFilterBox");
        QCOMPARE(box->count(), 3);
        QCOMPARE(box->itemText(1), QStringLiteral("Alpha"));
        box->setCurrentIndex(box->findData(zulu));
        QCOMPARE(listedIds(list()), (Ids { a, c }));
        box->setCurrentIndex(0);
        QCOMPARE(listedIds(list()), (Ids { a, b, c }));

        // While the box is being filled, its changes do not refill the list.
        box->setProperty("inload", 1);
        box->setCurrentIndex(box->findData(alpha));
        QCOMPARE(listedIds(list()), (Ids { a, b, c }));
        box->setProperty("inload", 0);
        box->setCurrentIndex(0);
        box->setCurrentIndex(box->findData(alpha));
        QCOMPARE(listedIds(list()), Ids { b });

        // A refill keeps the chosen account while it exists, and never refills the list.
        QSignalSpy resets(list()->model(), &QAbstractItemModel::modelReset);
        addAccount(db, QStringLiteral("Mitte"));
        window()->reloadAccountBox();
        QCOMPARE(box->count(), 4);
        QCOMPARE(box->currentText(), QStringLiteral("Alpha"));
        QVERIFY(db->executeSQL(QStringLiteral("DELETE FROM accounts WHERE id=%1").arg(alpha)));
        window()->reloadAccountBox();
        QCOMPARE(box->currentIndex(), 0);
        QCOMPARE(resets.count(), 0);
        window()->reloadData();

        // Select all acts only while the list has the keyboard focus.
        window()->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(window()));
        auto *field = child<QLineEdit>("SearchBy");
        field->setFocus();
        QTRY_VERIFY(field->hasFocus());
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
        addAccount(db, QStringLiteral("Konto A")); // id 1, the other articles' account
        const int accountC = addAccount(db, QStringLiteral("Konto C"));
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
        insertArticle(db, { { "Title", "Tisch" }, { "SubTitle", "Lampe" } });
        openWindow();
        if (!m_fixture)
            return;

        auto *field = child<QLineEdit>("SearchBy");
        auto *inDesc = child<QCheckBox>("InDesc");
        QSignalSpy resets(list()->model(), &QAbstractItemModel::modelReset);
        QTest::keyClicks(field, QStringLiteral("Zebra"));
        QCOMPARE(resets.count(), 0);
        QTest::keyClick(field, Qt::Key_Return);
        const Ids found { inTitle, inSubTitle, inSku, inReference };
        QCOMPARE(listedIds(list()), found);
        inDesc->setChecked(true);
        QCOMPARE(listedIds(list()), found + Ids { inDescription });
        inDesc->setChecked(false);

        resets.clear();
        field->clear();
        QCOMPARE(resets.count(), 1);
        QCOMPARE(list()->topLevelItemCount(), 11);

        // A quote and a backslash are plain characters on both databases.
        runSearch(field, QStringLiteral("O'Neil"));
        QCOMPARE(listedIds(list()), Ids { quoted });
        runSearch(field, QStringLiteral("3\\4"));
        QCOMPARE(listedIds(list()), Ids { backslash });
        runSearch(field, QStringLiteral("\\"));
        QCOMPARE(listedIds(list()), Ids { backslash });

        // The account filter holds for every searched column.
        auto *box = child<QComboBox>("AccountFilterBox");
        box->setCurrentIndex(box->findData(accountC));
        inDesc->setChecked(true);
        runSearch(field, QStringLiteral("Lampe"));
        QCOMPARE(listedIds(list()), (Ids { lampe, vase }));
    }

    void sortOrders()
    {
        openData();
        if (!m_data)
            return;
        Database *db = m_data->db();
        // Nine sort keys that put the four articles in nine orders, none the reverse of another.
        const QStringList keys { "Title",   "StartPrice", "WatchCount", "StartDate",
                                 "EndDate", "Quantity",   "SoldCount",  "ApplicationData" };
        const QList<QVariantList> articles {
            { "Dose", 1.5, 0, "2019-02-01 08:00:00", "2019-05-01 08:00:00", 1, 4, "R-300" },
            { "Apfel", 10.0, 7, "2019-01-05 08:00:00", "2019-06-01 08:00:00", 9, 0, "R-200" },
            { "Krug", 2.5, 12, "2020-01-01 08:00:00", "2019-04-01 08:00:00", 2, 1, "R-100" },
            { "Becher", 20.0, 3, "2019-03-10 08:00:00", "2019-07-01 08:00:00", 5, 6, "R-400" },
        };
        for (const QVariantList &values : articles) {
            QVariantMap columns;
            for (int i = 0; i < keys.size(); ++i)
                columns.insert(keys[i], values[i]);
            insertArticle(db, columns);
        }
        auto order = [this] { // the titles' initials, top to bottom
            QString text;
            for (int i = 0; i < list()->topLevelItemCount(); ++i)
                text += list()->topLevelItem(i)->data(0, ItemListRole::TitleRole).toString().at(0);
            return text;
        };
        auto lastOrder = [db] {
            return db->getOption(QStringLiteral("lastOrder"), QString()).value();
        };
        openWindow();
        if (!m_fixture)
            return;

        // label (the action's name: spaces and "ä" as "_"), ORDER BY, ascending order
        const QList<QStringList> sorts {
            { "Nach Titel %1 sortieren", "Title", "ABDK" },
            { "Nach Startpreis %1 sortieren", "StartPrice", "DKAB" },
            { "Nach Beobachter %1 sortieren", "WatchCount", "DBAK" },
            { "Nach Startzeit %1 sortieren", "datetime(StartDate)", "ADBK" },
            { "Nach Ende %1 sortieren", "datetime(EndDate)", "KDAB" },
            { "Nach Menge %1 sortieren", "Quantity", "DKBA" },
            { "Nach Verkäufen %1 sortieren", "SoldCount", "AKDB" },
            { "Nach interner Id %1 sortieren", "id", "DAKB" },
            { "Nach interner Referenz %1", "ApplicationData", "KADB" },
        };
        for (const QStringList &sort : sorts) {
            for (bool ascending : { true, false }) {
                const QString label
                    = sort[0].arg(QString(ascending ? "aufsteigend" : "absteigend"));
                QString expected = sort[2];
                if (!ascending)
                    std::reverse(expected.begin(), expected.end());
                const QString action
                    = "action" + QString(label).replace(' ', '_').replace(QChar(0xe4), '_');
                auto *sortAction = child<QAction>(action.toLatin1().constData());
                QVERIFY2(sortAction, qPrintable(action));
                sortAction->trigger();
                QCOMPARE(order(), expected);
                QCOMPARE(header(), label + kSortMark);
                QCOMPARE(lastOrder(), sort[1] + (ascending ? " ASC" : " DESC"));
            }
        }

        trigger("actionNach_Startzeit_absteigend_sortieren");
        openWindow();
        QCOMPARE(order(), QStringLiteral("KBDA"));
        QCOMPARE(header(), QStringLiteral("Nach Startzeit absteigend sortieren") + kSortMark);

        // A stored order not of the menu would fail every fill: the id order replaces it.
        m_fixture.reset();
        QVERIFY(db->setOption(QStringLiteral("lastOrder"), QStringLiteral("Titel ASC")));
        TestSupport::MessageCapture log({ QStringLiteral("app") });
        openWindow();
        QCOMPARE(order(), QStringLiteral("DAKB"));
        QCOMPARE(header(), QStringLiteral("Nach interner Id aufsteigend sortieren") + kSortMark);
        QCOMPARE(lastOrder(), QStringLiteral("id ASC"));
        QCOMPARE(log.count(QStringLiteral("Unknown stored sort order")), 1);
    }
};

APP_TEST_MAIN(TestItemlist)
#include "test_itemlist.moc"