#include "tests/support/testmain.h"
#include "views/foldermodel.h"
#include "views/foldernode.h"

#include <QAbstractItemModelTester>
#include <QDataStream>
#include <QFont>
#include <QIcon>
#include <QMimeData>
#include <QSignalSpy>
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
        QTest::newRow("leading tab is no depth") << treeText({ QStringLiteral("\t  f\tA\t12\t0") })
                                                 << kFixedIds + QStringLiteral(") 12");
    }
    void parsesTheTree()
    {
        QFETCH(QString, text);
        QFETCH(QString, expected);
        const FolderModel model(text, nullptr, nullptr);
        QCOMPARE(shape(model), expected);
    }

    void parsesTheColumns()
    {
        const FolderModel model(
            treeText({ QStringLiteral("  f\tA\t12\t2\ttemplate\t1\tMusik > CDs"),
                       QStringLiteral("  f\tB\t13\t2\tTemplate\ttrue\t ") }),
            nullptr, nullptr);
        const FolderNode *a = model.findFolderWithId(12);
        QVERIFY(a);
        QCOMPARE(a->name, QStringLiteral("A"));
        QCOMPARE(a->count, 2);
        QVERIFY(a->userFolder && a->expanded);
        QCOMPARE(a->info, QStringLiteral("Musik > CDs"));
        const FolderNode *b = model.findFolderWithId(13); // the markers are exact
        QVERIFY(b && !b->userFolder && !b->expanded && b->info.isEmpty());
    }

    void dataByRole()
    {
        QCOMPARE(at(7).data().toString(), QStringLiteral("Alt"));
        QCOMPARE(at(6).data().toString(), QStringLiteral("Krimis (1)"));
        QCOMPARE(at(-9).data().toString(), QStringLiteral("Aktive Angebote (4)"));
        QCOMPARE(at(-9).data(Qt::UserRole), QVariant(QStringLiteral("-9")));
        QCOMPARE(m_model->headerData(0, Qt::Horizontal).toString(), QStringLiteral("ZirevRovive"));

        // A folder with a category shows the info icon.
        const QImage folder = iconImage(QIcon(kFolderIcon));
        const QImage info = iconImage(QIcon(kInfoIcon));
        QVERIFY(!folder.isNull() && !info.isNull() && folder != info);
        QCOMPARE(iconImage(at(-10).data(Qt::DecorationRole)), folder);
        QCOMPARE(iconImage(at(6).data(Qt::DecorationRole)), info);

        // The outbox is bold while it holds articles.
        QCOMPARE(qvariant_cast<QFont>(at(-2).data(Qt::FontRole)).weight(), int(QFont::Normal));
        m_model->ChangeFolderCount(-2, 1);
        QCOMPARE(qvariant_cast<QFont>(at(-2).data(Qt::FontRole)).weight(), int(QFont::Bold));
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
        QTest::newRow("set negative") << 6 << -4 << true << "Krimis";
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

    void insertsAndRemovesRows()
    {
        QSignalSpy inserted(m_model.get(), &QAbstractItemModel::rowsInserted);
        m_model->addFolder(QStringLiteral("Neu"), 20, at(5));
        auto *branch = new FolderNode(22, QStringLiteral("Ast"), kFolderIcon, QString());
        branch->appendChild(new FolderNode(23, QStringLiteral("Zweig"), kFolderIcon, QString()));
        m_model->addChildFolder(m_model->findFolderWithId(9), branch);
        QCOMPARE(shape(*m_model), kFixedIds + QStringLiteral("(5(6(7) 8 20) 9(22(23))))"));
        QCOMPARE(inserted.count(), 2);
        QCOMPARE(inserted.at(0).at(0).toModelIndex(), at(5));
        QCOMPARE(inserted.at(0).at(1).toInt(), 2);
        QCOMPARE(inserted.at(1).at(0).toModelIndex(), at(9));

        // Copying a branch into its own subfolder copies it as it was, not endlessly.
        m_model->addChilds(m_model->findFolderWithId(8), m_model->findFolderWithId(5));
        QCOMPARE(shape(*m_model),
                 kFixedIds + QStringLiteral("(5(6(7) 8(6(7) 8 20) 20) 9(22(23))))"));
        QCOMPARE(inserted.count(), 5);

        QSignalSpy removed(m_model.get(), &QAbstractItemModel::rowsRemoved);
        QVERIFY(!m_model->killRow(QModelIndex()));
        QVERIFY(!m_model->killRow(at(0)));
        QVERIFY(m_model->killRow(at(5)));
        QCOMPARE(shape(*m_model), kFixedIds + QStringLiteral("(9(22(23))))"));
        QCOMPARE(removed.count(), 1);
        QCOMPARE(removed.at(0).at(0).toModelIndex(), at(-10));
        QVERIFY(!m_model->findFolderWithId(6));
    }

    void mimeDataCarriesFolderIds()
    {
        std::unique_ptr<QMimeData> mime(
            m_model->mimeData({ at(6), QModelIndex(), at(-10), at(5) }));
        QCOMPARE(mime->formats(), QStringList { "FolderModel/Data" });
        QDataStream stream(mime->data(QStringLiteral("FolderModel/Data")));
        qint32 first, second, third;
        stream >> first >> second >> third;
        QCOMPARE(QList<int>({ first, second, third }), QList<int>({ 6, -10, 5 }));
        QVERIFY(stream.atEnd());
    }
};

APP_TEST_MAIN(TestFolderModel)
#include "test_foldermodel.moc"
