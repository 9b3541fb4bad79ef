#include "core/newsitem.h"
#include "tests/support/testmain.h"
#include "views/newslistdelegate.h"
#include "views/newslistitemmodel.h"

#include <QAbstractItemModelTester>
#include <QListView>
#include <QPainter>

namespace {

using Tester = QAbstractItemModelTester;

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

// Warnings and criticals logged while painting.
QStringList g_warnings;
QtMessageHandler g_previousHandler = nullptr;

void recordWarnings(QtMsgType type, const QMessageLogContext &context, const QString &text)
{
    if (type == QtWarningMsg || type == QtCriticalMsg)
        g_warnings << text;
    g_previousHandler(type, context, text);
}

const QColor kProbe(10, 200, 10); // background the delegate must leave alone

// Paints row 0 of a one-entry model into an image filled with `background`.
QImage paintEntry(NewsItem *item, const QColor &background = kProbe)
{
    QListView view;
    NewsListDelegate delegate(&view);
    NewsListItemModel model;
    model.InsertNewItem(item);
    QStyleOptionViewItem option;
    option.state = QStyle::State_Enabled;
    const QModelIndex index = model.index(0, 0);
    option.rect = QRect(QPoint(0, 0), delegate.sizeHint(option, index));
    QImage image(option.rect.size(), QImage::Format_ARGB32);
    image.fill(background);
    QPainter painter(&image);
    delegate.paint(&painter, option, index);
    return image;
}

int maxAlpha(const QImage &image, const QRect &box)
{
    int alpha = 0;
    for (int y = box.top(); y <= box.bottom(); ++y)
        for (int x = box.left(); x <= box.right(); ++x)
            alpha = qMax(alpha, qAlpha(image.pixel(x, y)));
    return alpha;
}

} // namespace

class TestNewsList : public QObject
{
    Q_OBJECT
private slots:
    void insertPutsNewestOnTop();
    void clearAllRemovesEveryRow();
    void sizeHintUsesTheViewFontOfConstruction();
    void paintsEveryInfotype_data();
    void paintsEveryInfotype();
    void negativeIconsAreHalfTransparent();
};

void TestNewsList::insertPutsNewestOnTop()
{
    NewsListItemModel model;
    Tester tester(&model, Tester::FailureReportingMode::Fatal);
    QList<NewsItem *> items;
    for (int id = 1; id <= 3; ++id) { // oldest first, as the window loads them
        items << makeItem(id);
        model.InsertNewItem(items.last());
    }
    const QPersistentModelIndex oldTop = model.index(0, 0);
    QSignalSpy inserted(&model, &QAbstractItemModel::rowsInserted);
    model.InsertNewItem(nullptr);
    QCOMPARE(inserted.count(), 0);
    items << makeItem(4);
    model.InsertNewItem(items.last());
    QCOMPARE(inserted.count(), 1);
    QCOMPARE(inserted.first(), (QVariantList { QModelIndex(), 0, 0 }));
    QCOMPARE(oldTop.row(), 1);

    QCOMPARE(model.rowCount(), 4);
    for (int row = 0; row < 4; ++row) {
        const QModelIndex index = model.index(row, 0);
        QCOMPARE(model.GetItem(index), items.at(3 - row));
        QCOMPARE(model.data(index, Qt::ToolTipRole).toString(), items.at(3 - row)->title);
    }
    QCOMPARE(model.GetItem(QModelIndex()), nullptr);
}

void TestNewsList::clearAllRemovesEveryRow()
{
    NewsListItemModel model;
    Tester tester(&model, Tester::FailureReportingMode::Fatal);
    QSignalSpy removed(&model, &QAbstractItemModel::rowsRemoved);
    model.ClearAll(); // nothing to announce
    QCOMPARE(removed.count(), 0);
    for (int id = 1; id <= 3; ++id)
        model.InsertNewItem(makeItem(id));
    model.ClearAll();
    QCOMPARE(removed.count(), 1);
    QCOMPARE(removed.first(), (QVariantList { QModelIndex(), 0, 2 }));
    QCOMPARE(model.rowCount(), 0);
}

void TestNewsList::sizeHintUsesTheViewFontOfConstruction()
{
    QListView view;
    QFont font = view.font();
    font.setPointSize(20);
    view.setFont(font);
    NewsListDelegate delegate(&view);
    const int lineHeight = QFontMetrics(font).boundingRect(QStringLiteral("A")).height();
    const QSize expected(200, 5 * lineHeight + 5);
    QCOMPARE(delegate.sizeHint(QStyleOptionViewItem(), QModelIndex()), expected);
    font.setPointSize(8);
    view.setFont(font);
    QCOMPARE(delegate.sizeHint(QStyleOptionViewItem(), QModelIndex()), expected);
}

void TestNewsList::paintsEveryInfotype_data()
{
    QTest::addColumn<QString>("infotype");
    for (const char *type : { "newarticle",
                              "sellcount",
                              "planning_add_fail",
                              "error",
                              "end_fail",
                              "articlecheck_fail",
                              "articleadd_fail",
                              "watcher",
                              "watcherneg",
                              "bid",
                              "bidneg",
                              "message",
                              "articlecheck_success",
                              "articleadd_success",
                              "end_success",
                              "success",
                              "progress",
                              "update",
                              "planning_add_success",
                              "newmessage",
                              "unknowntype",
                              "" })
        QTest::newRow(*type ? type : "empty") << QString::fromLatin1(type);
}

void TestNewsList::paintsEveryInfotype()
{
    QFETCH(QString, infotype);
    g_warnings.clear();
    g_previousHandler = qInstallMessageHandler(recordWarnings);
    const QImage image = paintEntry(makeItem(1, infotype));
    qInstallMessageHandler(g_previousHandler);
    QCOMPARE(g_warnings, QStringList());

    // Only "newmessage" entries get a background of their own, a pink gradient.
    const QColor background = image.pixelColor(40, image.height() / 2);
    if (infotype == QLatin1String("newmessage")) {
        QVERIFY2(background.red() >= 206 && background.red() <= 227 && background.green() >= 146
                     && background.green() <= 194 && background.blue() >= 207
                     && background.blue() <= 228,
                 qPrintable(background.name()));
    } else {
        QCOMPARE(background, kProbe);
    }
}

void TestNewsList::negativeIconsAreHalfTransparent()
{
    const QRect iconBox(5, 5, 28, 28);
    for (const QString &plain : { QStringLiteral("bid"), QStringLiteral("watcher") }) {
        const QImage plainImage = paintEntry(makeItem(1, plain), Qt::transparent);
        const QImage negImage = paintEntry(makeItem(1, plain + "neg"), Qt::transparent);
        QCOMPARE(maxAlpha(plainImage, iconBox), 255);
        QVERIFY2(qAbs(maxAlpha(negImage, iconBox) - 128) <= 2,
                 qPrintable(plain + ": " + QString::number(maxAlpha(negImage, iconBox))));
    }
}

APP_TEST_MAIN(TestNewsList)
#include "test_newslist.moc"
