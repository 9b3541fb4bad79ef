#include "core/newsitem.h"
#include "tests/support/testmain.h"
#include "views/newslistdelegate.h"
#include "views/newslistitemmodel.h"

#include <QAbstractItemModelTester>
#include <QListView>
#include <QPainter>

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
