#include "core/database.h"
#include "tests/support/testdatabase.h"
#include "tests/support/testmain.h"
#include "views/foldermodel.h"
#include "views/foldernode.h"

#include <QAbstractItemModelTester>
#include <QDataStream>
#include <QFont>
#include <QIcon>
#include <QMimeData>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTreeView>
#include <memory>

namespace {
QString treeText(const QStringList &userLines, const QString &separator = QStringLiteral("\n"))
{
    const QString fixed = QStringLiteral(
        ":/buttons/images/q3_64x64px.png\tZerire3\t0\t0\n i\tAktive Angebote\t-9\t4\n"
        " i\tArtikelausgang\t-2\t0\n :/buttons/images/folder.png\tArtikelvorlagen\t-10\t2");
    return (fixed.split(QLatin1Char('\n')) + userLines).join(separator);
}

// Bücher (5) holds Krimis (6, with Alt 7, and a category) and Romane (8); Musik (9) is empty.
const QStringList kUserFolders = QStringLiteral("  f\tBücher\t5\t3\ttemplate\t1\t\n"
                                                "   f\tKrimis\t6\t1\ttemplate\t1\tKrimis > Neu\n"
                                                "    f\tAlt\t7\t0\ttemplate\t0\t\n"
                                                "   f\tRomane\t8\t2\ttemplate\t1\t\n"
                                                "  f\tMusik\t9\t0\ttemplate\t1\t")
                                     .split(QLatin1Char('\n'));
const QString kFixedIds = QStringLiteral("0(-9 -2 -10");

QString shape(const QAbstractItemModel &model, const QModelIndex &parent = QModelIndex())
{
    QStringList parts;
    for (int row = 0; row < model.rowCount(parent); ++row) {
        const QModelIndex index = model.index(row, 0, parent);
        QString part = index.data(Qt::UserRole).toString();
        if (model.rowCount(index) > 0)
            part += QLatin1Char('(') + shape(model, index) + QLatin1Char(')');
        parts << part;
    }
    return parts.join(QLatin1Char(' '));
}
} // namespace

class TestFolderModel : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<FolderModel> m_model;
    std::unique_ptr<QAbstractItemModelTester> m_tester;
    QModelIndex at(int id) { return m_model->indexOfNode(m_model->findFolderWithId(id)); }

private slots:
    void init()
    {
        m_model = std::make_unique<FolderModel>(treeText(kUserFolders), nullptr, nullptr);
        m_tester = std::make_unique<QAbstractItemModelTester>(
            m_model.get(), QAbstractItemModelTester::FailureReportingMode::Fatal);
    }

    void parsesTheTree_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("expected");
        const QString nested = kFixedIds + QStringLiteral("(5(6(7) 8) 9))");
        QTest::newRow("nested user folders") << treeText(kUserFolders) << nested;
        QTest::newRow("CRLF, blank and space-only lines")
            << treeText(QStringList { QString(), QStringLiteral("    ") } + kUserFolders,
                        QStringLiteral("\r\n"))
            << nested;
        QTest::newRow("three columns make no folder")
            << treeText({ QStringLiteral("  f\tLeer\t11"), QStringLiteral("  f\tA\t12\t0") })
            << kFixedIds + QStringLiteral("(12))");
        QTest::newRow("leading tab is no depth") << treeText({ QStringLiteral("\t  f\tA\t12\t0") })
                                                 << kFixedIds + QStringLiteral(") 12");
    }
    void parsesTheTree()
    {
        QFETCH(QString, text);
        QFETCH(QString, expected);
        QCOMPARE(shape(FolderModel(text, nullptr, nullptr)), expected);
    }

    void parsesTheColumns()
    {
        const FolderModel model(
            treeText({ QStringLiteral("  f\tA\t12\t2\ttemplate\t1\tMusik > CDs"),
                       QStringLiteral("  f\tB\t13\t2\tTemplate\ttrue\t ") }),
            nullptr, nullptr);
        const FolderNode *a = model.findFolderWithId(12);
        QVERIFY(a && a->name == QStringLiteral("A") && a->count == 2 && a->userFolder
                && a->expanded);
        QCOMPARE(a->info, QStringLiteral("Musik > CDs"));
        const FolderNode *b = model.findFolderWithId(13); // the markers are exact
        QVERIFY(b && !b->userFolder && !b->expanded && b->info.isEmpty());
    }

    void iconAndFont()
    {
        // A folder with a category shows the info icon instead of its own.
        const auto icon = [this](int id) {
            return qvariant_cast<QIcon>(at(id).data(Qt::DecorationRole)).pixmap(16).toImage();
        };
        QCOMPARE(icon(6),
                 QIcon(QStringLiteral(":/smallimages/images/Open-folder-info.png"))
                     .pixmap(16)
                     .toImage());
        QVERIFY(!icon(6).isNull() && icon(6) != icon(-10));
        // The outbox is bold while it holds articles.
        QVERIFY(!qvariant_cast<QFont>(at(-2).data(Qt::FontRole)).bold());
        m_model->ChangeFolderCount(-2, 1);
        QVERIFY(qvariant_cast<QFont>(at(-2).data(Qt::FontRole)).bold());
    }

    void changesCounts_data()
    {
        QTest::addColumn<int>("folder");
        QTest::addColumn<int>("value");
        QTest::addColumn<bool>("set");
        QTest::addColumn<QString>("shown"); // empty: nothing changes
        QTest::addColumn<int>("count");
        QTest::newRow("add") << 5 << 2 << false << "Bücher (5)" << 5;
        QTest::newRow("subtract below zero") << 5 << -5 << false << "Bücher" << 0;
        QTest::newRow("set nested") << 7 << 7 << true << "Alt (7)" << 7;
        QTest::newRow("set below zero") << 6 << -4 << true << "Krimis" << 0;
        QTest::newRow("unknown id") << 4711 << 3 << true << "" << 0;
    }
    void changesCounts()
    {
        QFETCH(int, folder);
        QFETCH(int, value);
        QFETCH(bool, set);
        QFETCH(QString, shown);
        QSignalSpy changed(m_model.get(), &QAbstractItemModel::dataChanged);
        m_model->ChangeFolderCount(folder, value, set);
        QCOMPARE(changed.count(), shown.isEmpty() ? 0 : 1);
        if (!shown.isEmpty()) {
            QCOMPARE(changed.at(0).at(0).toModelIndex(), at(folder));
            QCOMPARE(at(folder).data().toString(), shown);
            QTEST(m_model->findFolderWithId(folder)->count, "count");
        }
    }

    // Following the database: a change is shown at once, then every count is read from the
    // database once the waiting events are handled, but not while the tree is disabled (a
    // command of the window runs). A read that fails keeps the counts; the top node never
    // shows one. The tree text says -9: 4, -10: 2, Bücher: 3, Krimis: 1; the database holds
    // -9: 2 (and one deleted for good), -2: 1, Bücher: 2, and one article on the top node.
    void countsFollowTheDatabase_data()
    {
        QTest::addColumn<int>("folder");
        QTest::addColumn<int>("value");
        QTest::addColumn<bool>("set");
        QTest::addColumn<bool>("disabled");
        QTest::addColumn<bool>("readFails");
        QTest::addColumn<QString>("shownAtOnce"); // counts of 0 -9 -2 -10 5 6
        QTest::addColumn<QString>("shownAfter");
        const QString stored = QStringLiteral("0 2 1 0 2 0");
        QTest::newRow("difference")
            << -9 << 1 << false << false << false << "0 5 0 2 3 1" << stored;
        QTest::newRow("snapshot") << -9 << 12 << true << false << false << "0 12 0 2 3 1" << stored;
        QTest::newRow("snapshot of the top node")
            << 0 << 1 << true << false << false << "1 4 0 2 3 1" << stored;
        QTest::newRow("tree disabled")
            << -9 << 1 << false << true << false << "0 5 0 2 3 1" << stored;
        QTest::newRow("read fails") << -9 << 1 << false << false << true << "0 5 0 2 3 1"
                                    << "0 5 0 2 3 1";
    }
    void countsFollowTheDatabase()
    {
        QFETCH(int, folder);
        QFETCH(int, value);
        QFETCH(bool, set);
        QFETCH(bool, disabled);
        QFETCH(bool, readFails);
        TestSupport::TestDatabase data(TestSupport::Backend::SQLite);
        QVERIFY2(data.error().isEmpty(), qPrintable(data.error()));
        Database *db = data.db();
        for (const auto &[articleFolder, trash] : QList<QPair<int, int>> {
                 { -9, 0 }, { -9, 0 }, { -9, 1 }, { -2, 0 }, { 5, 0 }, { 5, 0 }, { 0, 0 } })
            QVERIFY(
                db->insertSqlClean({ { "Folder", articleFolder }, { "Trash", trash } }, "articles")
                > 0);
        QTreeView view;
        FolderModel model(treeText(kUserFolders), db, nullptr, nullptr, &view);
        view.setModel(&model);
        model.followDatabaseCounts();
        const auto shown = [&model] {
            QStringList counts;
            for (int id : { 0, -9, -2, -10, 5, 6 })
                counts << QString::number(model.findFolderWithId(id)->count);
            return counts.join(QLatin1Char(' '));
        };

        view.setEnabled(!disabled);
        if (readFails) {
            QVERIFY(db->executeSQL("ALTER TABLE articles RENAME TO articles_away"));
            QTest::ignoreMessage(QtWarningMsg, QRegularExpression("no such table: articles"));
        }
        model.ChangeFolderCount(folder, value, set);
        QTEST(shown(), "shownAtOnce");
        QCoreApplication::processEvents();
        if (disabled) {
            QTEST(shown(), "shownAtOnce");
            view.setEnabled(true);
            QCoreApplication::processEvents();
        }
        if (readFails)
            QVERIFY(db->executeSQL("ALTER TABLE articles_away RENAME TO articles"));
        QTEST(shown(), "shownAfter");
    }

    void insertsAndRemovesRows()
    {
        // A new folder goes where the tree read from the database will have it: "Neu"
        // between "Krimis" and "Romane".
        m_model->addFolder(QStringLiteral("Neu"), 20, at(5));
        auto *branch = new FolderNode(22, QStringLiteral("Ast"), QString(), QString());
        branch->appendChild(new FolderNode(23, QStringLiteral("Zweig"), QString(), QString()));
        m_model->addChildFolder(m_model->findFolderWithId(9), branch);
        QCOMPARE(shape(*m_model), kFixedIds + QStringLiteral("(5(6(7) 20 8) 9(22(23))))"));

        // Copying a branch into its own subfolder copies it as it was, not endlessly.
        m_model->addChilds(m_model->findFolderWithId(8), m_model->findFolderWithId(5));
        QCOMPARE(shape(*m_model),
                 kFixedIds + QStringLiteral("(5(6(7) 20 8(6(7) 20 8)) 9(22(23))))"));

        QVERIFY(!m_model->killRow(at(0)));
        QVERIFY(m_model->killRow(at(5)));
        QCOMPARE(shape(*m_model), kFixedIds + QStringLiteral("(9(22(23))))"));
        QVERIFY(!m_model->findFolderWithId(6));
    }

    void mimeDataCarriesFolderIds()
    {
        std::unique_ptr<QMimeData> mime(m_model->mimeData({ at(6), QModelIndex(), at(-10) }));
        QDataStream stream(mime->data(QStringLiteral("FolderModel/Data")));
        qint32 first, second;
        stream >> first >> second;
        QCOMPARE(QList<int>({ first, second }), QList<int>({ 6, -10 }));
        QVERIFY(stream.atEnd());
    }
};

APP_TEST_MAIN(TestFolderModel)
#include "test_foldermodel.moc"
