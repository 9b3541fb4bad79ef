#include "tests/support/testmain.h"
#include "views/foldermodel.h"
#include "views/foldernode.h"

#include <QAbstractItemModelTester>
#include <QDataStream>
#include <QFont>
#include <QIcon>
#include <QMimeData>
#include <QSignalSpy>
#include <QTreeView>
#include <memory>

namespace {
const QString kFolderIcon = QStringLiteral(":/buttons/images/folder.png");
const QString kInfoIcon = QStringLiteral(":/smallimages/images/Open-folder-info.png");

// The fixed folders (top node at depth 0, the rest at depth 1), then `userLines`.
QString treeText(const QStringList &userLines, const QString &separator = QStringLiteral("\n"))
{
    const QStringList fixed {
        QStringLiteral(":/buttons/images/q3_64x64px.png\tZerire3\t0\t0"),
        QStringLiteral(" :/buttons/images/ebaybag.png\tAktive Angebote\t-9\t4"),
        QStringLiteral(" :/buttons/images/price-tag.png\tVerkauft\t-7\t0"),
        QStringLiteral(" :/buttons/images/Important Archive-Flat-62.png\tNicht verkauft\t-8\t0"),
        QStringLiteral(" :/buttons/images/Calendar-Flat-33.png\tGeplante Angebote\t-3\t0"),
        QStringLiteral(" :/buttons/images/TimeTracking-Flat-150.png\tArtikelausgang\t-2\t0"),
        QStringLiteral(" :/buttons/images/trash.png\tPapierkorb\t-5\t0"),
        QStringLiteral(" :/buttons/images/folder.png\tArtikelvorlagen\t-10\t2"),
    };
    return (fixed + userLines).join(separator);
}

// Bücher (5) holds Krimis (6, with Alt 7) and Romane (8); Musik (9) is empty but saved open.
const QStringList kUserFolders {
    QStringLiteral("  folder.png\tBücher\t5\t3\ttemplate\t1\t"),
    QStringLiteral("   folder.png\tKrimis\t6\t1\ttemplate\t1\tKrimis > Neu"),
    QStringLiteral("    folder.png\tAlt\t7\t0\ttemplate\t0\t"),
    QStringLiteral("   folder.png\tRomane\t8\t2\ttemplate\t1\t"),
    QStringLiteral("  folder.png\tMusik\t9\t0\ttemplate\t1\t"),
};
const QString kFixedIds = QStringLiteral("0(-9 -7 -8 -3 -2 -5 -10");

// The tree as seen through the model: ids, children in brackets.
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

QImage iconImage(const QVariant &icon)
{
    return qvariant_cast<QIcon>(icon).pixmap(16, 16).toImage();
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
    void initTestCase()
    {
        qRegisterMetaType<QList<QPersistentModelIndex>>();
        qRegisterMetaType<QAbstractItemModel::LayoutChangeHint>();
    }
    void init()
    {
        m_model = std::make_unique<FolderModel>(treeText(kUserFolders), nullptr, nullptr);
        m_tester = std::make_unique<QAbstractItemModelTester>(
            m_model.get(), QAbstractItemModelTester::FailureReportingMode::Fatal);
    }
    void cleanup()
    {
        m_tester.reset();
        m_model.reset();
    }

    void parsesTheTree_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("expected");
        const QString nested = kFixedIds + QStringLiteral("(5(6(7) 8) 9))");
        QTest::newRow("fixed and nested user folders") << treeText(kUserFolders) << nested;
        QTest::newRow("CRLF line ends") << treeText(kUserFolders, QStringLiteral("\r\n")) << nested;
        QTest::newRow("blank, space-only and tab-only lines")
            << treeText(QStringList { QString(), QStringLiteral("    ") } + kUserFolders
                        + QStringList { QStringLiteral("\t"), QString() })
            << nested;
        QTest::newRow("three columns make no folder") << treeText(
            { QStringLiteral("  folder.png\tLeer\t11"), QStringLiteral("  folder.png\tA\t12\t0") })
                                                      << kFixedIds + QStringLiteral("(12))");
        QTest::newRow("shallower line between two levels")
            << treeText({ QStringLiteral("  f\tA\t12\t0"), QStringLiteral("    f\tB\t13\t0"),
                          QStringLiteral("   f\tC\t14\t0") })
            << kFixedIds + QStringLiteral("(12(13) 14))");
        QTest::newRow("leading tab is no depth") << treeText({ QStringLiteral("\t  f\tA\t12\t0") })
                                                 << kFixedIds + QStringLiteral(") 12");
        QTest::newRow("deep first line goes under the root")
            << QStringLiteral("   f\tA\t1\t0\n f\tB\t2\t0") << QStringLiteral("1(2)");
    }
    void parsesTheTree()
    {
        QFETCH(QString, text);
        QFETCH(QString, expected);
        const FolderModel model(text, nullptr, nullptr);
        QCOMPARE(shape(model), expected);
    }

    void parsesTheColumns_data()
    {
        QTest::addColumn<QString>("columns");
        QTest::addColumn<QString>("icon");
        QTest::addColumn<int>("count");
        QTest::addColumn<bool>("userFolder");
        QTest::addColumn<bool>("expanded");
        QTest::addColumn<QString>("info");
        QTest::newRow("all") << "folder.png\tA\t4\ttemplate\t1\tMusik > CDs"
                             << "folder.png" << 4 << true << true << "Musik > CDs";
        QTest::newRow("no icon, four columns") << "§\tA\t0"
                                               << "" << 0 << false << false << "";
        QTest::newRow("markers are exact") << "f\tA\t2\tTemplate\ttrue\t "
                                           << "f" << 2 << false << false << "";
        QTest::newRow("extra columns ignored") << "f\tA\t2\ttemplate\t0\tcat\tx\ty"
                                               << "f" << 2 << true << false << "cat";
    }
    void parsesTheColumns()
    {
        QFETCH(QString, columns);
        const QString line = QStringLiteral("  ") + columns.section(QLatin1Char('\t'), 0, 1)
            + QStringLiteral("\t12\t") + columns.section(QLatin1Char('\t'), 2);
        const FolderModel model(treeText({ line }), nullptr, nullptr);
        const FolderNode *node = model.findFolderWithId(12);
        QVERIFY(node);
        QCOMPARE(node->name, QStringLiteral("A"));
        QTEST(node->icon, "icon");
        QTEST(node->count, "count");
        QTEST(node->userFolder, "userFolder");
        QTEST(node->expanded, "expanded");
        QTEST(node->info, "info");
    }

    void dataByRole()
    {
        QCOMPARE(at(7).data().toString(), QStringLiteral("Alt"));
        QCOMPARE(at(6).data().toString(), QStringLiteral("Krimis (1)"));
        QCOMPARE(at(-9).data().toString(), QStringLiteral("Aktive Angebote (4)"));
        QCOMPARE(at(-9).data(Qt::UserRole), QVariant(QStringLiteral("-9")));
        QCOMPARE(m_model->headerData(0, Qt::Horizontal).toString(), QStringLiteral("ZirevRovive"));
        QVERIFY(!m_model->headerData(0, Qt::Vertical).isValid());

        const QImage folder = iconImage(QIcon(kFolderIcon));
        const QImage info = iconImage(QIcon(kInfoIcon));
        QVERIFY(!folder.isNull() && !info.isNull() && folder != info);
        QCOMPARE(iconImage(at(-10).data(Qt::DecorationRole)), folder);
        QCOMPARE(iconImage(at(6).data(Qt::DecorationRole)), info);
        const FolderModel noIcon(treeText({ QStringLiteral("  §\tA\t12\t0\t\t\tcat") }), nullptr,
                                 nullptr);
        QVERIFY(
            !noIcon.indexOfNode(noIcon.findFolderWithId(12)).data(Qt::DecorationRole).isValid());
    }

    void outboxIsBoldWhileNotEmpty()
    {
        QCOMPARE(qvariant_cast<QFont>(at(-2).data(Qt::FontRole)).weight(), int(QFont::Normal));
        QSignalSpy changed(m_model.get(), &QAbstractItemModel::dataChanged);
        m_model->ChangeFolderCount(-2, 1);
        QCOMPARE(qvariant_cast<QFont>(at(-2).data(Qt::FontRole)).weight(), 75);
        QCOMPARE(changed.count(), 1);
        QVERIFY(changed.at(0).at(2).value<QVector<int>>().contains(Qt::FontRole));
        m_model->ChangeFolderCount(-9, 10);
        QCOMPARE(qvariant_cast<QFont>(at(-9).data(Qt::FontRole)).weight(), int(QFont::Normal));
    }

    void changesCounts_data()
    {
        QTest::addColumn<int>("folder");
        QTest::addColumn<int>("value");
        QTest::addColumn<bool>("set");
        QTest::addColumn<QString>("shown");
        QTest::newRow("add") << 5 << 2 << false << "Bücher (5)";
        QTest::newRow("subtract below zero") << 5 << -5 << false << "Bücher";
        QTest::newRow("set nested") << 7 << 7 << true << "Alt (7)";
        QTest::newRow("set zero") << 5 << 0 << true << "Bücher";
        QTest::newRow("set negative") << 6 << -4 << true << "Krimis";
        QTest::newRow("add zero") << 5 << 0 << false << "";
        QTest::newRow("set unchanged") << 5 << 3 << true << "";
        QTest::newRow("subtract from zero") << 7 << -1 << false << "";
        QTest::newRow("unknown id") << 4711 << 3 << false << "";
        QTest::newRow("unknown id set") << 4711 << 3 << true << "";
    }
    void changesCounts()
    {
        QFETCH(int, folder);
        QFETCH(int, value);
        QFETCH(bool, set);
        QFETCH(QString, shown);
        QSignalSpy changed(m_model.get(), &QAbstractItemModel::dataChanged);
        QSignalSpy layout(m_model.get(), &QAbstractItemModel::layoutChanged);
        const QString before = shape(*m_model);
        m_model->ChangeFolderCount(folder, value, set);
        QCOMPARE(shape(*m_model), before);
        QCOMPARE(layout.count(), 0);
        if (shown.isEmpty()) {
            QCOMPARE(changed.count(), 0);
            return;
        }
        QCOMPARE(changed.count(), 1);
        QCOMPARE(changed.at(0).at(0).toModelIndex(), at(folder));
        QCOMPARE(changed.at(0).at(1).toModelIndex(), at(folder));
        QCOMPARE(at(folder).data().toString(), shown);
    }

    void countSlotCanBeQueued()
    {
        QVERIFY(QMetaObject::invokeMethod(m_model.get(), "ChangeFolderCount", Qt::QueuedConnection,
                                          Q_ARG(int, -10), Q_ARG(int, 3), Q_ARG(bool, false)));
        QTRY_COMPARE(at(-10).data().toString(), QStringLiteral("Artikelvorlagen (5)"));
    }

    void lookups()
    {
        const FolderNode *top = m_model->findFolderWithId(0);
        QVERIFY(top && top->parentItem() && !top->parentItem()->parentItem());
        QCOMPARE(top->name, QStringLiteral("Zerire3"));
        QVERIFY(!m_model->findFolderWithId(4711));
        QCOMPARE(at(7).parent(), at(6));
        QCOMPARE(at(7).data().toString(), QStringLiteral("Alt"));
        FolderNode detached(12, QStringLiteral("A"), QString(), QString());
        QVERIFY(!m_model->indexOfNode(&detached).isValid());

        FolderNode *books = m_model->findFolderWithId(5);
        QVERIFY(m_model->isParentOfTarget(6, books));
        QVERIFY(m_model->isParentOfTarget(7, books));
        QVERIFY(!m_model->isParentOfTarget(5, books));
        QVERIFY(!m_model->isParentOfTarget(9, books));
        QVERIFY(!m_model->isParentOfTarget(5, m_model->findFolderWithId(7)));
    }

    void flagsByKind()
    {
        const Qt::ItemFlags plain = Qt::ItemIsSelectable | Qt::ItemIsEnabled;
        QCOMPARE(m_model->flags(QModelIndex()), Qt::NoItemFlags);
        QCOMPARE(m_model->flags(at(0)), plain);
        QCOMPARE(m_model->flags(at(-9)), plain);
        QCOMPARE(m_model->flags(at(-10)), plain | Qt::ItemIsDropEnabled);
        QCOMPARE(m_model->flags(at(7)), plain | Qt::ItemIsDropEnabled | Qt::ItemIsDragEnabled);
    }

    void addsFolders()
    {
        QSignalSpy inserted(m_model.get(), &QAbstractItemModel::rowsInserted);
        m_model->addFolder(QStringLiteral("Neu"), 20, at(5));
        m_model->addFolder(QStringLiteral("Nirgends"), 21, QModelIndex());
        auto *branch = new FolderNode(22, QStringLiteral("Ast"), kFolderIcon, QString());
        branch->appendChild(new FolderNode(23, QStringLiteral("Zweig"), kFolderIcon, QString()));
        m_model->addChildFolder(m_model->findFolderWithId(9), branch);

        QCOMPARE(shape(*m_model), kFixedIds + QStringLiteral("(5(6(7) 8 20) 9(22(23))))"));
        QCOMPARE(inserted.count(), 2);
        QCOMPARE(inserted.at(0).at(0).toModelIndex(), at(5));
        QCOMPARE(inserted.at(0).at(1).toInt(), 2);
        QCOMPARE(inserted.at(1).at(0).toModelIndex(), at(9));
        QCOMPARE(m_model->flags(at(20)), m_model->flags(at(7)));
        QCOMPARE(iconImage(at(20).data(Qt::DecorationRole)), iconImage(QIcon(kFolderIcon)));
    }

    void copiesBranches()
    {
        QSignalSpy inserted(m_model.get(), &QAbstractItemModel::rowsInserted);
        m_model->addChilds(m_model->findFolderWithId(9), m_model->findFolderWithId(5));
        QCOMPARE(shape(*m_model), kFixedIds + QStringLiteral("(5(6(7) 8) 9(6(7) 8)))"));
        QCOMPARE(inserted.count(), 2);
        const QModelIndex copy = m_model->index(0, 0, at(9));
        QCOMPARE(copy.data().toString(), QStringLiteral("Krimis (1)"));
        QCOMPARE(m_model->flags(copy), m_model->flags(at(6)));
        QCOMPARE(iconImage(copy.data(Qt::DecorationRole)), iconImage(QIcon(kInfoIcon)));

        // Into its own subfolder: copied as it was, not endlessly.
        m_model->addChilds(m_model->findFolderWithId(8), m_model->findFolderWithId(5));
        QCOMPARE(shape(*m_model), kFixedIds + QStringLiteral("(5(6(7) 8(6(7) 8)) 9(6(7) 8)))"));
    }

    void killsRows()
    {
        QSignalSpy removed(m_model.get(), &QAbstractItemModel::rowsRemoved);
        QVERIFY(!m_model->killRow(QModelIndex()));
        QVERIFY(!m_model->killRow(at(0)));
        QVERIFY(m_model->killRow(at(5)));
        QCOMPARE(shape(*m_model), kFixedIds + QStringLiteral("(9))"));
        QCOMPARE(removed.count(), 1);
        QCOMPARE(removed.at(0).at(0).toModelIndex(), at(-10));
        QVERIFY(!m_model->findFolderWithId(6));
    }

    void expandsAndSelectsInTheView()
    {
        QTreeView view;
        FolderModel model(treeText(kUserFolders), nullptr, nullptr, nullptr, &view);
        QAbstractItemModelTester tester(&model,
                                        QAbstractItemModelTester::FailureReportingMode::Fatal);
        view.setModel(&model);
        view.setSelectionMode(QAbstractItemView::ExtendedSelection);
        model.setupExpandStates();
        const auto index = [&model](int id) {
            return model.indexOfNode(model.findFolderWithId(id));
        };
        QVERIFY(view.isExpanded(index(5)) && view.isExpanded(index(6)));
        QVERIFY(!view.isExpanded(index(8)) && !view.isExpanded(index(9)));
        QVERIFY(!view.isExpanded(index(-10)));

        view.selectionModel()->select(index(8), QItemSelectionModel::Select);
        view.selectionModel()->select(index(9), QItemSelectionModel::Select);
        model.selectFolderWithId(7);
        QCOMPARE(view.currentIndex(), index(7));
        QCOMPARE(view.selectionModel()->selectedIndexes(), QModelIndexList { index(7) });
        model.selectFolderWithId(4711);
        QCOMPARE(view.currentIndex(), index(7));
    }

    void dragsFolderIds()
    {
        QCOMPARE(m_model->mimeTypes(),
                 QStringList({ "FolderModel/Data", "application/x-qabstractitemmodeldatalist",
                               "application/x-itemlist" }));
        std::unique_ptr<QMimeData> mime(
            m_model->mimeData({ at(6), QModelIndex(), at(-10), at(5) }));
        QCOMPARE(mime->formats(), QStringList { "FolderModel/Data" });
        const QByteArray bytes = mime->data(QStringLiteral("FolderModel/Data"));
        QCOMPARE(bytes.size(), 12);
        QCOMPARE(bytes.mid(4, 4), QByteArray("\xFF\xFF\xFF\xF6", 4));
        QDataStream stream(bytes);
        qint32 first, second, third;
        stream >> first >> second >> third;
        QCOMPARE(QList<int>({ first, second, third }), QList<int>({ 6, -10, 5 }));
    }
};

APP_TEST_MAIN(TestFolderModel)
#include "test_foldermodel.moc"
