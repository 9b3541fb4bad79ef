// German text in the main window on both databases: the search field finds every spelling of
// a word whatever the case of its letters, the title and reference orders put umlauts beside
// their base letters, and a new folder takes the place the next start gives it.
#include "core/database.h"
#include "mainwindow/mainwindow.h"
#include "tests/support/mainwindowfixture.h"
#include "tests/support/testdatabase.h"
#include "tests/support/testmain.h"
#include "views/itemlistroles.h"

#include <QAction>
#include <QCheckBox>
#include <QLineEdit>
#include <QTreeView>
#include <QTreeWidget>
#include <memory>

using TestSupport::Backend;
using TestSupport::insertArticle;
using TestSupport::MainWindowFixture;

namespace {

QStringList listedTitles(const QTreeWidget *list)
{
    QStringList titles;
    for (int i = 0; i < list->topLevelItemCount(); ++i)
        titles << list->topLevelItem(i)->data(0, ItemListRole::TitleRole).toString();
    return titles;
}

} // namespace

class TestSearch : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase_data() { TestSupport::addBackendRows(); }
    void cleanup()
    {
        m_window.reset();
        m_data.reset();
    }

    void searchField_data();
    void searchField();
    void titleAndReferenceOrder();
    void newFolderInItsPlace();

private:
    void open()
    {
        QFETCH_GLOBAL(Backend, backend);
        APP_REQUIRE_BACKEND(backend);
        m_data = std::make_unique<TestSupport::TestDatabase>(backend);
        QVERIFY2(m_data->error().isEmpty(), qPrintable(m_data->error()));
    }
    template<typename T> T *child(const char *name) const
    {
        return m_window->window()->findChild<T *>(QLatin1String(name));
    }

    std::unique_ptr<TestSupport::TestDatabase> m_data;
    std::unique_ptr<MainWindowFixture> m_window;
};

void TestSearch::searchField_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("inDescription");
    QTest::addColumn<QStringList>("found");
    // The list shows an article's SKU before its title.
    const QStringList ueber { "Über-Ohr Kopfhörer", "über-ohr Bügel", "ÜBER-7: Kabel" };
    QTest::newRow("über") << "über" << false << ueber;
    QTest::newRow("ÜBER") << "ÜBER" << false << ueber;
    QTest::newRow("Über-Ohr") << "Über-Ohr" << false << QStringList { ueber[0], ueber[1] };
    QTest::newRow("äpfel") << "äpfel" << false << QStringList { "ÄPFEL aus Tirol" };
    QTest::newRow("description") << "GRÜN" << true << QStringList { "Vase" };
    QTest::newRow("description unticked") << "GRÜN" << false << QStringList {};
}

void TestSearch::searchField()
{
    QFETCH(QString, text);
    QFETCH(bool, inDescription);
    QFETCH(QStringList, found);
    open();
    if (!m_data)
        return;
    Database *db = m_data->db();
    insertArticle(db, { { "Title", "Über-Ohr Kopfhörer" } });
    insertArticle(db, { { "Title", "über-ohr Bügel" } });
    insertArticle(db, { { "Title", "ÄPFEL aus Tirol" } });
    insertArticle(db, { { "Title", "Kabel" }, { "SKU", "ÜBER-7" } });
    insertArticle(db, { { "Title", "Vase" }, { "Description", "<p>grün</p>" } });
    m_window = std::make_unique<MainWindowFixture>(*m_data);

    child<QCheckBox>("InDesc")->setChecked(inDescription);
    auto *field = child<QLineEdit>("SearchBy");
    field->setText(text); // typed umlauts are no key events QTest can make
    QTest::keyClick(field, Qt::Key_Return);
    QCOMPARE(listedTitles(m_window->itemList()), found);
}

void TestSearch::titleAndReferenceOrder()
{
    open();
    if (!m_data)
        return;
    const QStringList german { "Adventskranz", "Äpfel",  "Nussknacker", "Ölbild",
                               "Orangen",      "Straße", "Strauß",      "Zimtsterne" };
    // Stored in the order a sort by code point would give.
    for (const char *title : { "Adventskranz", "Nussknacker", "Orangen", "Strauß", "Straße",
                               "Zimtsterne", "Äpfel", "Ölbild" })
        insertArticle(m_data->db(), { { "Title", title }, { "ApplicationData", title } });
    m_window = std::make_unique<MainWindowFixture>(*m_data);

    QStringList descending = german;
    std::reverse(descending.begin(), descending.end());
    const QList<QPair<const char *, QStringList>> sorts {
        { "actionNach_Titel_aufsteigend_sortieren", german },
        { "actionNach_Titel_absteigend_sortieren", descending },
        { "actionNach_interner_Referenz_aufsteigend", german },
        { "actionNach_interner_Referenz_absteigend", descending },
    };
    for (const auto &sort : sorts) {
        child<QAction>(sort.first)->trigger();
        QCOMPARE(listedTitles(m_window->itemList()), sort.second);
    }
    // The order is stored as the menu names it, and holds after a restart.
    QCOMPARE(m_data->db()->getOption("lastOrder", QString()).value(),
             QString("ApplicationData DESC"));
    m_window.reset();
    m_window = std::make_unique<MainWindowFixture>(*m_data);
    QCOMPARE(listedTitles(m_window->itemList()), descending);
}

void TestSearch::newFolderInItsPlace()
{
    open();
    if (!m_data)
        return;
    for (const char *name : { "Zubehör", "Ölfarben", "Bücher" })
        QVERIFY(m_data->db()->insertSqlClean({ { "foldername", name }, { "folderparentid", -10 } },
                                             "folders")
                > 0);
    m_window = std::make_unique<MainWindowFixture>(*m_data);
    const QAbstractItemModel *model = m_window->treeView()->model();
    const auto drafts = [&] {
        return TestSupport::shape(model, TestSupport::folderIndexOf(model, -10));
    };
    QCOMPARE(drafts(), QString("Bücher, Ölfarben, Zubehör"));

    for (const char *name : { "äpfel", "Zange", "Oliven" }) {
        m_window->treeView()->setCurrentIndex(TestSupport::folderIndexOf(model, -10));
        const auto shown = TestSupport::answerFolderEdit(QString::fromUtf8(name));
        child<QAction>("actionNeuer_Ordner")->trigger();
        QCOMPARE(*shown, QString()); // the dialog came, with no name in it
    }
    const QString sorted("äpfel, Bücher, Ölfarben, Oliven, Zange, Zubehör");
    QCOMPARE(drafts(), sorted);
    // As the tree built from the database at the next start.
    m_window.reset();
    m_window = std::make_unique<MainWindowFixture>(*m_data);
    model = m_window->treeView()->model();
    QCOMPARE(drafts(), sorted);
}

APP_TEST_MAIN(TestSearch)
#include "test_search.moc"
