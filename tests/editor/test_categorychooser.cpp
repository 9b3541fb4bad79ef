// The category chooser and the ship-to location chooser against the fake marketplace.
#include "editor/companions/addarticlecategories.h"
#include "editor/companions/addarticleselectcountries.h"
#include "tests/support/dialoganswers.h"
#include "tests/support/fakecategorytree.h"
#include "tests/support/fakehttpserver.h"
#include "tests/support/testdatabase.h"
#include "tests/support/testmain.h"

#include <QCheckBox>
#include <QDialogButtonBox>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QTreeWidget>
#include <QVBoxLayout>
#include <memory>

using TestSupport::FakeCategoryTree;
using TestSupport::FakeHttpServer;
using TestSupport::FakeReply;

namespace {

const QString kLong70 = QString(70, QLatin1Char('x'));

QByteArray fileContents(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// A site with a three-level branch and a few top-level leaves of telling names.
FakeCategoryTree siteTree()
{
    FakeCategoryTree tree;
    tree.add("15032", "", "Handys & Kommunikation", false);
    tree.add("9355", "15032", "Handys & Smartphones", true);
    tree.add("9394", "15032", "Handy- & Smartphone-Zubehör", false);
    tree.add("20349", "9394", "Hüllen & Taschen", true);
    tree.add("70", "", kLong70, true);
    tree.add("71", "", QLatin1Char('y') + kLong70, true);
    tree.add("88", "", "Uhren && Schmuck", true);
    return tree;
}

// A GeteBayDetails reply holding the given ship-to locations (code:description).
QByteArray locationsReply(const QStringList &locations)
{
    QByteArray xml = "<?xml version=\"1.0\" encoding=\"UTF-8\"?><GeteBayDetailsResponse "
                     "xmlns=\"urn:ebay:apis:eBLBaseComponents\"><Ack>Success</Ack>";
    for (const QString &location : locations) {
        xml += "<ShippingLocationDetails><ShippingLocation>" + location.section(':', 0, 0).toUtf8()
            + "</ShippingLocation><Description>" + location.section(':', 1).toUtf8()
            + "</Description></ShippingLocationDetails>";
    }
    return xml + "</GeteBayDetailsResponse>";
}

QPushButton *okButton(QDialog *dialog)
{
    return dialog->findChild<QDialogButtonBox *>("buttonBox")->button(QDialogButtonBox::Ok);
}

QTreeWidgetItem *findItem(QTreeWidget *tree, const QString &name)
{
    const auto found = tree->findItems(name, Qt::MatchExactly | Qt::MatchRecursive);
    return found.value(0);
}

} // namespace

class TestCategoryChooser : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void suggestions();
    void treeLoadsLazily();
    void okNeedsLeaf();
    void paths_data();
    void paths();
    void secondCategoryRemoval();
    void offlineTellsWhy();

    void locationOrder_data();
    void locationOrder();
    void preChecked();
    void noActiveAccount();
    void unreadableAccount();

private:
    std::unique_ptr<AddArticleCategories> chooser(const QString &title = QString());
    int categoryRequests() const;
    void openTree(AddArticleCategories *dialog);
    std::unique_ptr<AddArticleSelectCountries> countries(const QStringList &locations,
                                                         const QString &chosen);
    // The shown rows of the location chooser: codes, "-" for a separator line.
    static QStringList shown(AddArticleSelectCountries *dialog);

    std::unique_ptr<TestSupport::TestDatabase> m_t;
    std::unique_ptr<FakeHttpServer> m_server;
    int m_account = 0;
};

void TestCategoryChooser::init()
{
    m_t = std::make_unique<TestSupport::TestDatabase>(TestSupport::Backend::SQLite);
    QVERIFY2(m_t->error().isEmpty(), qPrintable(m_t->error()));
    m_server = std::make_unique<FakeHttpServer>();
    m_server->pointConfigHere();
    m_account = m_t->db()->insertSqlClean({ { "accountname", "verkaeufer" },
                                            { "token", "TOKEN-1" },
                                            { "sandbox", 0 },
                                            { "active", 1 } },
                                          "accounts");
    QVERIFY(m_account > 0);
    siteTree().serve(*m_server);
}

void TestCategoryChooser::cleanup()
{
    m_server.reset();
    m_t.reset();
}

std::unique_ptr<AddArticleCategories> TestCategoryChooser::chooser(const QString &title)
{
    return std::make_unique<AddArticleCategories>(nullptr, m_t->db(), m_account, "77", "",
                                                  "", title);
}

int TestCategoryChooser::categoryRequests() const
{
    int count = 0;
    for (const auto &request : m_server->requests())
        count += request.callName() == QLatin1String("GetCategories");
    return count;
}

void TestCategoryChooser::openTree(AddArticleCategories *dialog)
{
    dialog->findChild<QCheckBox *>("CatBoxChecker")->setChecked(true);
}

void TestCategoryChooser::suggestions()
{
    m_server->setCallReply("GetSuggestedCategories",
                           FakeReply::ok(fileContents(QStringLiteral(TEST_DATA_DIR)
                                                      + "/marketplace/GetSuggestedCategories.xml")));
    auto dialog = chooser("Lego Technic 42115");
    auto *list = dialog->findChild<QListWidget *>("SuggestedCategoriesList");
    QTRY_VERIFY(list->isEnabled());
    QCOMPARE(list->count(), 3);
    QCOMPARE(m_server->lastRequest().callName(), QString("GetSuggestedCategories"));
    QVERIFY(!okButton(dialog.get())->isEnabled());

    list->item(1)->setSelected(true);
    QVERIFY(okButton(dialog.get())->isEnabled());
    QCOMPARE(dialog->getSelectedId(), QString("19006"));
    QCOMPARE(dialog->getSelectedFullPath(), QString("Spielzeug > LEGO Bauanleitungen"));
}

void TestCategoryChooser::treeLoadsLazily()
{
    auto dialog = chooser();
    auto *tree = dialog->findChild<QTreeWidget *>("CatBox");
    auto *checker = dialog->findChild<QCheckBox *>("CatBoxChecker");
    openTree(dialog.get());
    QCOMPARE(tree->topLevelItemCount(), 4);
    QVERIFY(tree->isEnabled());
    QTreeWidgetItem *top = tree->topLevelItem(0);
    QCOMPARE(top->childCount(), 1); // the placeholder
    QCOMPARE(top->child(0)->text(0), QString("Lade Unterkategorien..."));
    QCOMPARE(tree->topLevelItem(1)->childCount(), 0); // a leaf

    // Switching back and forth loads the top level once.
    checker->setChecked(false);
    checker->setChecked(true);
    QCOMPARE(categoryRequests(), 1);

    top->setExpanded(true);
    QCOMPARE(top->childCount(), 2);
    QCOMPARE(top->child(0)->text(0), QString("Handys & Smartphones"));
    QCOMPARE(top->child(1)->child(0)->text(0), QString("Lade Unterkategorien..."));
    QVERIFY(m_server->lastRequest().body.contains("<CategoryParent>15032</CategoryParent>"));
    QVERIFY(m_server->lastRequest().body.contains("<LevelLimit>2</LevelLimit>"));
    top->setExpanded(false);
    top->setExpanded(true);
    QCOMPARE(categoryRequests(), 2);
}

void TestCategoryChooser::okNeedsLeaf()
{
    auto dialog = chooser();
    auto *tree = dialog->findChild<QTreeWidget *>("CatBox");
    openTree(dialog.get());
    tree->topLevelItem(0)->setExpanded(true);
    findItem(tree, "Handy- & Smartphone-Zubehör")->setSelected(true);
    QVERIFY(!okButton(dialog.get())->isEnabled());
    tree->clearSelection();
    findItem(tree, "Handys & Smartphones")->setSelected(true);
    QVERIFY(okButton(dialog.get())->isEnabled());
    QCOMPARE(dialog->getSelectedId(), QString("9355"));
}

void TestCategoryChooser::paths_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("fullPath");
    QTest::addColumn<QString>("shortPath");
    const QString third = "Handys & Kommunikation > Handy- & Smartphone-Zubehör > Hüllen & Taschen";
    QTest::newRow("third level") << "Hüllen & Taschen" << third << "..." + third.right(70);
    QTest::newRow("70 characters whole") << kLong70 << kLong70 << kLong70;
    QTest::newRow("71 characters shortened")
        << QLatin1Char('y') + kLong70 << QLatin1Char('y') + kLong70 << "..." + kLong70;
    QTest::newRow("double ampersand") << "Uhren && Schmuck" << "Uhren & Schmuck"
                                      << "Uhren & Schmuck";
}

void TestCategoryChooser::paths()
{
    QFETCH(QString, name);
    QFETCH(QString, fullPath);
    QFETCH(QString, shortPath);
    auto dialog = chooser();
    auto *tree = dialog->findChild<QTreeWidget *>("CatBox");
    openTree(dialog.get());
    tree->topLevelItem(0)->setExpanded(true);
    findItem(tree, "Handy- & Smartphone-Zubehör")->setExpanded(true);
    findItem(tree, name)->setSelected(true);
    QCOMPARE(dialog->getSelectedFullPath(), fullPath);
    QCOMPARE(dialog->getSelectedPath(), shortPath);
}

void TestCategoryChooser::secondCategoryRemoval()
{
    auto dialog = chooser();
    auto *delCat = dialog->findChild<QCheckBox *>("DelCat");
    QVERIFY(delCat->isHidden());
    dialog->setIsSecond();
    QVERIFY(!delCat->isHidden());
    openTree(dialog.get());
    findItem(dialog->findChild<QTreeWidget *>("CatBox"), "Handys & Kommunikation")
        ->setSelected(true);
    delCat->setChecked(true);
    QVERIFY(okButton(dialog.get())->isEnabled());
    QVERIFY(dialog->delCatNow());
    QVERIFY(!dialog->findChild<QCheckBox *>("CatBoxChecker")->isEnabled());
    // Back to choosing: a category that has subcategories can't be taken.
    delCat->setChecked(false);
    QVERIFY(!okButton(dialog.get())->isEnabled());
    QVERIFY(!dialog->delCatNow());
}

// Without the marketplace the chooser says, for the list shown, why it has no categories;
// once the tree can be loaded the notice goes.
void TestCategoryChooser::offlineTellsWhy()
{
    m_server->clearRoutes();
    m_server->setDefaultReply(FakeReply::dropped());
    auto dialog = chooser("Märklin Lok BR 218");
    dialog->show();
    auto *list = dialog->findChild<QListWidget *>("SuggestedCategoriesList");
    QTRY_VERIFY(list->isEnabled());
    QCOMPARE(list->count(), 0);
    auto *notice = dialog->findChild<QLabel *>("CategoriesNotice");
    QVERIFY(notice);
    QVERIFY(notice->isVisible());
    QCOMPARE(notice->textFormat(), Qt::PlainText);
    QVERIFY2(notice->text().startsWith("Die Kategorievorschläge von eBay konnten nicht geladen "
                                       "werden. Grund: Keine Verbindung"),
             qPrintable(notice->text()));

    openTree(dialog.get());
    QCOMPARE(dialog->findChild<QTreeWidget *>("CatBox")->topLevelItemCount(), 0);
    QVERIFY(notice->isVisible());
    QVERIFY2(notice->text().startsWith("Die Kategorien von eBay konnten nicht geladen werden. "
                                       "Grund: Keine Verbindung"),
             qPrintable(notice->text()));
    auto *checker = dialog->findChild<QCheckBox *>("CatBoxChecker");
    checker->setChecked(false);
    QVERIFY(notice->text().startsWith("Die Kategorievorschläge"));

    siteTree().serve(*m_server);
    checker->setChecked(true);
    QCOMPARE(dialog->findChild<QTreeWidget *>("CatBox")->topLevelItemCount(), 4);
    QVERIFY(!notice->isVisible());
}

std::unique_ptr<AddArticleSelectCountries>
TestCategoryChooser::countries(const QStringList &locations, const QString &chosen)
{
    m_server->setCallReply("GeteBayDetails", FakeReply::ok(locationsReply(locations)));
    return std::make_unique<AddArticleSelectCountries>(nullptr, m_t->db(), chosen, "77");
}

QStringList TestCategoryChooser::shown(AddArticleSelectCountries *dialog)
{
    QStringList rows;
    auto *layout = dialog->findChild<QVBoxLayout *>("verticalLayout");
    for (int i = 2; i < layout->count(); ++i) {
        QWidget *widget = layout->itemAt(i)->widget();
        rows << (qobject_cast<QCheckBox *>(widget) ? widget->property("id").toString() : "-");
    }
    return rows;
}

void TestCategoryChooser::locationOrder_data()
{
    QTest::addColumn<QStringList>("locations");
    QTest::addColumn<QStringList>("shown");
    QTest::newRow("both groups")
        << QStringList { "Worldwide:Weltweit", "AU:Australien", "Europe:Europa", "CA:Kanada",
                         "Asia:Asien",         "US:USA",        "JP:Japan",      "DE:Deutschland",
                         "Americas:Amerika",   "None:Keine" }
        << QStringList { "Americas", "US", "CA", "-", "Europe", "DE", "-", "Asia", "JP", "AU" };
    QTest::newRow("no CA, no Asia")
        << QStringList { "JP:Japan", "US:USA", "Europe:Europa" }
        << QStringList { "US", "Europe", "JP" };
}

void TestCategoryChooser::locationOrder()
{
    QFETCH(QStringList, locations);
    QFETCH(QStringList, shown);
    auto dialog = countries(locations, "");
    QCOMPARE(this->shown(dialog.get()), shown);
    QCOMPARE(dialog->getCheckedAdIds(), QString("Worldwide"));
    QCOMPARE(dialog->getCheckedAsText(), QString("Weltweit"));
}

void TestCategoryChooser::preChecked()
{
    auto dialog = countries({ "DE:Deutschland", "AT:Österreich", "CH:Schweiz", "FR:Frankreich" },
                            "ch,DE,Worldwide,AT");
    QCOMPARE(dialog->getCheckedAdIds(), QString("DE,AT"));
    QCOMPARE(dialog->getCheckedAsText(), QString("Deutschland,Österreich"));
}

void TestCategoryChooser::noActiveAccount()
{
    QVERIFY(m_t->db()->executeSQL("UPDATE accounts SET active=0"));
    DialogAnswers answers;
    auto dialog = countries({ "DE:Deutschland" }, "DE");
    QCOMPARE(answers.lastMessageText(),
             QString("Es wurde kein aktives eBay Konto gefunden, die Werte können daher nicht "
                     "angezeigt werden"));
    QCOMPARE(m_server->requestCount(), 0);
    QCOMPARE(dialog->getCheckedAdIds(), QString("Worldwide"));
}

// An account that can't be read is no missing account: both choosers say why and ask eBay
// nothing; the locations offer no OK that would choose "Weltweit" in place of the seller's.
void TestCategoryChooser::unreadableAccount()
{
    QVERIFY(m_t->db()->executeSQL("ALTER TABLE accounts RENAME TO accounts_gone"));
    DialogAnswers answers;
    auto categories = chooser("Lokomotive");
    auto *notice = categories->findChild<QLabel *>("CategoriesNotice");
    QVERIFY(notice && notice->isVisibleTo(categories.get()));
    QVERIFY2(notice->text().contains("Das Konto konnte nicht aus der Datenbank gelesen werden: "),
             qPrintable(notice->text()));
    openTree(categories.get());
    QCOMPARE(categories->findChild<QTreeWidget *>("CatBox")->topLevelItemCount(), 0);
    QVERIFY(notice->text().contains("Das Konto konnte nicht"));

    auto locations = countries({ "DE:Deutschland" }, "DE");
    QCOMPARE(answers.messages().size(), 1);
    QCOMPARE(answers.messages().first().type, 2);
    QVERIFY2(answers.lastMessageText().startsWith("Die Versandziele können nicht angezeigt "
                                                  "werden: das eBay-Konto konnte nicht aus der "
                                                  "Datenbank gelesen werden. "),
             qPrintable(answers.lastMessageText()));
    QVERIFY(!okButton(locations.get())->isEnabled());
    QCOMPARE(m_server->requestCount(), 0);
}

APP_TEST_MAIN(TestCategoryChooser)
#include "test_categorychooser.moc"
