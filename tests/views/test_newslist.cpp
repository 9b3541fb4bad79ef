#include "core/newsitem.h"
#include "tests/support/testmain.h"
#include "views/newslistdelegate.h"
#include "views/newslistitemmodel.h"

#include <QAbstractItemModelTester>
#include <QHelpEvent>
#include <QListView>
#include <QPainter>
#include <QTextDocument>
#include <QToolTip>

namespace {

NewsItem *makeItem(int id, const QString &infotype = QStringLiteral("watcher"))
{
    auto *item = new NewsItem;
    item->id = item->databaseid = id;
    item->infotype = infotype;
    item->title = QStringLiteral("Titel %1").arg(id);
    item->textinfo = QStringLiteral("Neuer Beobachter\n(f) bei Artikel");
    item->indate = QDateTime(QDate(2024, 5, 3), QTime(14, 7));
    return item;
}

QStringList g_warnings;
QtMessageHandler g_previousHandler = nullptr;

void recordWarnings(QtMsgType type, const QMessageLogContext &context, const QString &text)
{
    if (type == QtWarningMsg || type == QtCriticalMsg)
        g_warnings << text;
    g_previousHandler(type, context, text);
}

} // namespace

class TestNewsList : public QObject
{
    Q_OBJECT
private slots:
    void modelKeepsNewestOnTop()
    {
        NewsListItemModel model;
        QAbstractItemModelTester tester(&model,
                                        QAbstractItemModelTester::FailureReportingMode::Fatal);
        QList<NewsItem *> items;
        for (int id = 1; id <= 3; ++id) { // oldest first, as the window loads them
            items << makeItem(id);
            model.InsertNewItem(items.last());
        }
        model.InsertNewItem(nullptr);
        QCOMPARE(model.rowCount(), 3);
        for (int row = 0; row < 3; ++row) {
            QCOMPARE(model.GetItem(model.index(row, 0)), items.at(2 - row));
            QCOMPARE(model.index(row, 0).data(Qt::ToolTipRole).toString(),
                     items.at(2 - row)->title);
        }
        QCOMPARE(model.GetItem(QModelIndex()), nullptr);

        QSignalSpy removed(&model, &QAbstractItemModel::rowsRemoved);
        model.ClearAll();
        QCOMPARE(model.rowCount(), 0);
        QCOMPARE(removed.count(), 1);
    }

    // A long session keeps the newest entries only; a batch goes in as one insertion.
    void modelHoldsTheNewestEntries()
    {
        NewsListItemModel model;
        QAbstractItemModelTester tester(&model,
                                        QAbstractItemModelTester::FailureReportingMode::Fatal);
        QSignalSpy inserted(&model, &QAbstractItemModel::rowsInserted);
        const int limit = NewsListItemModel::MaxEntries;
        int nextId = 1;
        const auto batch = [&nextId](int size) {
            QList<NewsItem *> items;
            for (int i = 0; i < size; ++i)
                items << makeItem(nextId++);
            return items;
        };
        model.InsertNewItems(batch(3));
        QCOMPARE(inserted.count(), 1);
        QCOMPARE(model.GetItem(model.index(0, 0))->id, 3);
        QCOMPARE(model.GetItem(model.index(2, 0))->id, 1);

        model.InsertNewItems(batch(limit - 1)); // one over the limit
        model.InsertNewItems(batch(limit + 250)); // more than the limit at once
        QCOMPARE(inserted.count(), 3);
        QCOMPARE(model.rowCount(), limit);
        QCOMPARE(model.GetItem(model.index(0, 0))->id, nextId - 1);
        QCOMPARE(model.GetItem(model.index(limit - 1, 0))->id, nextId - limit);
    }

    void progressEntryGoes()
    {
        NewsListItemModel model;
        QAbstractItemModelTester tester(&model,
                                        QAbstractItemModelTester::FailureReportingMode::Fatal);
        model.InsertNewItems({ makeItem(7, "progress"), makeItem(8, "progress"),
                               makeItem(7, "watcher"), makeItem(7, "progress") });
        model.RemoveProgressOf(7);
        QStringList left;
        for (int row = 0; row < model.rowCount(); ++row) {
            const NewsItem *item = model.GetItem(model.index(row, 0));
            left << QStringLiteral("%1 %2").arg(item->databaseid).arg(item->infotype);
        }
        QCOMPARE(left, QStringList({ "7 watcher", "8 progress" }));
    }

    // The whole title and text, shown as written: markup in them is not interpreted.
    void toolTipShowsTheWholeTextAsPlainText_data()
    {
        QTest::addColumn<QString>("title");
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("shown");
        const QString longText = QStringLiteral("Keine Verbindung zu eBay: ").repeated(20);
        QTest::newRow("longer than the row") << "Lampe" << longText << "Lampe\n" + longText;
        QTest::newRow("markup in the title") << "<img src=/dev/zero><b>x</b>"
                                             << "a & b"
                                             << "<img src=/dev/zero><b>x</b>\na & b";
        QTest::newRow("line breaks kept") << "Uhr"
                                          << "Zeile 1\nZeile 2"
                                          << "Uhr\nZeile 1\nZeile 2";
        QTest::newRow("no text") << "Uhr"
                                 << ""
                                 << "Uhr";
    }
    void toolTipShowsTheWholeTextAsPlainText()
    {
        QFETCH(QString, title);
        QFETCH(QString, text);
        QFETCH(QString, shown);
        QListView view;
        auto *delegate = new NewsListDelegate(&view);
        view.setItemDelegate(delegate);
        NewsListItemModel model;
        NewsItem *item = makeItem(1);
        item->title = title;
        item->textinfo = text;
        model.InsertNewItem(item);
        view.setModel(&model);
        view.resize(300, 400);
        view.show();
        QVERIFY(QTest::qWaitForWindowExposed(&view));

        const QPoint at = view.visualRect(model.index(0, 0)).center();
        QHelpEvent event(QEvent::ToolTip, at, view.viewport()->mapToGlobal(at));
        QApplication::sendEvent(view.viewport(), &event);
        const QString toolTip = QToolTip::text();
        QVERIFY(!toolTip.contains(QLatin1String("<img")));
        QTextDocument rendered;
        rendered.setHtml(toolTip);
        QCOMPARE(rendered.toPlainText(), shown);
        QCOMPARE(NewsListDelegate::toolTipText(*item), shown);
        QToolTip::hideText();
    }

    // A title or text of megabytes paints as its beginning does: the row is cut the same.
    void hugeTextsPaintLikeTheirBeginning()
    {
        QListView view;
        NewsListDelegate delegate(&view);
        const auto paint = [&delegate](const QString &title, const QString &text) {
            NewsListItemModel model;
            NewsItem *item = makeItem(1);
            item->title = title;
            item->textinfo = text;
            model.InsertNewItem(item);
            QStyleOptionViewItem option;
            option.state = QStyle::State_Enabled;
            option.rect = QRect(0, 0, 260, delegate.sizeHint(option, QModelIndex()).height());
            QImage image(option.rect.size(), QImage::Format_ARGB32);
            image.fill(Qt::white);
            QPainter painter(&image);
            delegate.paint(&painter, option, model.index(0, 0));
            return image;
        };
        const QString words = QStringLiteral("Wanduhr aus Eiche mit Pendel ");
        const QString huge = words.repeated(1 << 15); // about a megabyte
        QCOMPARE(paint(huge, huge), paint(words.repeated(100), words.repeated(100)));
    }

    void sizeHintUsesTheViewFontOfConstruction()
    {
        QListView view;
        QFont font = view.font();
        font.setPointSize(20);
        view.setFont(font);
        NewsListDelegate delegate(&view);
        const QSize expected(200,
                             5 * QFontMetrics(font).boundingRect(QStringLiteral("A")).height() + 5);
        QCOMPARE(delegate.sizeHint(QStyleOptionViewItem(), QModelIndex()), expected);
        font.setPointSize(8);
        view.setFont(font);
        QCOMPARE(delegate.sizeHint(QStyleOptionViewItem(), QModelIndex()), expected);
    }

    void paints_data()
    {
        QTest::addColumn<QString>("infotype");
        QTest::addColumn<int>("iconAlpha"); // the most opaque pixel where the icon goes
        QTest::newRow("watcher") << "watcher" << 255;
        QTest::newRow("watcherneg: half transparent") << "watcherneg" << 128;
        QTest::newRow("bidneg: half transparent") << "bidneg" << 128;
        QTest::newRow("unknown: no icon") << "unknowntype" << 0;
        QTest::newRow("newmessage: opaque background") << "newmessage" << 255;
    }
    void paints()
    {
        QFETCH(QString, infotype);
        QFETCH(int, iconAlpha);
        QListView view;
        NewsListDelegate delegate(&view);
        NewsListItemModel model;
        model.InsertNewItem(makeItem(1, infotype));
        QStyleOptionViewItem option;
        option.state = QStyle::State_Enabled;
        option.rect = QRect(QPoint(0, 0), delegate.sizeHint(option, model.index(0, 0)));
        QImage image(option.rect.size(), QImage::Format_ARGB32);
        image.fill(Qt::transparent);
        g_warnings.clear();
        g_previousHandler = qInstallMessageHandler(recordWarnings);
        {
            QPainter painter(&image);
            delegate.paint(&painter, option, model.index(0, 0));
        }
        qInstallMessageHandler(g_previousHandler);
        QCOMPARE(g_warnings, QStringList());

        int alpha = 0;
        for (int y = 5; y < 33; ++y)
            for (int x = 5; x < 33; ++x)
                alpha = qMax(alpha, qAlpha(image.pixel(x, y)));
        QVERIFY2(qAbs(alpha - iconAlpha) <= 2, qPrintable(QString::number(alpha)));

        // Only "newmessage" entries get a background of their own, a pink gradient.
        const QColor background = image.pixelColor(40, image.height() / 2);
        if (infotype == QLatin1String("newmessage"))
            QVERIFY2(background.red() >= 206 && background.red() <= 227 && background.green() >= 146
                         && background.green() <= 194 && background.blue() >= 207
                         && background.blue() <= 228,
                     qPrintable(background.name()));
        else
            QCOMPARE(background.alpha(), 0);
    }
};

APP_TEST_MAIN(TestNewsList)
#include "test_newslist.moc"
