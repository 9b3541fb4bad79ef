#include "tests/support/testmain.h"
#include "views/articlerowindex.h"

#include <QHash>
#include <QRandomGenerator>
#include <QTreeWidgetItem>
#include <QtTest>
#include <memory>
#include <vector>

class TestArticleRowIndex : public QObject
{
    Q_OBJECT
private slots:
    // A long random mix of rows added, taken out and moved; after each step every row is
    // found with its id and key, a row taken out is no longer found, and the rows of an id are
    // exactly those indexed under it.
    void answersAsAPlainMapWould_data()
    {
        QTest::addColumn<int>("rows");
        QTest::addColumn<int>("ids");
        QTest::addColumn<int>("reserved");
        QTest::addColumn<int>("removePercent");
        QTest::newRow("distinct ids, reserved") << 3000 << 1000000 << 3000 << 30;
        QTest::newRow("distinct ids, growing from nothing") << 3000 << 1000000 << 0 << 30;
        // Long runs of entries with the same home slot: taking one out must move the
        // others back, or they are lost behind the gap.
        QTest::newRow("three ids for all rows") << 2000 << 3 << 0 << 45;
        QTest::newRow("mostly taken out, filled again") << 2000 << 50 << 500 << 70;
        QTest::newRow("negative and zero ids") << 1500 << -1 << 0 << 40;
    }
    void answersAsAPlainMapWould()
    {
        QFETCH(int, rows);
        QFETCH(int, ids);
        QFETCH(int, reserved);
        QFETCH(int, removePercent);
        QRandomGenerator random(rows + ids);
        const auto randomId = [&] {
            return ids < 0 ? -int(random.bounded(20)) : int(random.bounded(ids));
        };
        std::vector<std::unique_ptr<QTreeWidgetItem>> items;
        for (int i = 0; i < rows; ++i)
            items.push_back(std::make_unique<QTreeWidgetItem>());

        ArticleRowIndex index;
        index.reserve(reserved);
        struct Expected
        {
            int id;
            int key;
        };
        QHash<QTreeWidgetItem *, Expected> expected;
        for (int step = 0; step < rows * 4; ++step) {
            QTreeWidgetItem *item = items.at(size_t(random.bounded(rows))).get();
            const bool present = expected.contains(item);
            if (present && int(random.bounded(100)) < removePercent) {
                QVERIFY(index.remove(item));
                expected.remove(item);
            } else if (present) {
                ArticleRowIndex::Entry *entry = index.find(item);
                QVERIFY(entry);
                entry->key = step;
                expected[item].key = step;
            } else {
                QVERIFY(!index.remove(item));
                const Expected row { randomId(), step };
                index.insert(item, row.id, row.key);
                expected.insert(item, row);
            }
            if (step % 97 != 0)
                continue;
            QCOMPARE(index.size(), expected.size());
            QHash<int, int> perId;
            for (const auto &owned : items) {
                const ArticleRowIndex::Entry *entry = index.find(owned.get());
                const auto want = expected.constFind(owned.get());
                QCOMPARE(entry != nullptr, want != expected.cend());
                if (!entry)
                    continue;
                QCOMPARE(entry->item, owned.get());
                QCOMPARE(entry->id, want->id);
                QCOMPARE(entry->key, want->key);
                ++perId[want->id];
            }
            for (auto id = perId.cbegin(); id != perId.cend(); ++id) {
                int found = 0;
                index.forEachWithId(id.key(), [&](const ArticleRowIndex::Entry &entry) {
                    ++found;
                    QVERIFY(expected.value(entry.item).id == id.key());
                });
                QCOMPARE(found, id.value());
            }
        }
        index.clear();
        QCOMPARE(index.size(), 0);
        QCOMPARE(index.find(items.front().get()), nullptr);
        int left = 0;
        index.forEachWithId(0, [&left](const ArticleRowIndex::Entry &) { ++left; });
        QCOMPARE(left, 0);
    }
};

APP_TEST_MAIN(TestArticleRowIndex)
#include "test_articlerowindex.moc"
