#include "core/newsitem.h"
#include "tests/support/testmain.h"
#include "views/newslistdelegate.h"
#include "views/newslistitemmodel.h"

#include <QAbstractItemModelTester>
#include <QListView>
#include <QPainter>
#include <QStringListModel>

namespace {

using Tester = QAbstractItemModelTester;

NewsItem *makeItem(int id, const QString &infotype = QStringLiteral("watcher"),
                   const QString &title = QStringLiteral("Lampe"))
{
    auto *item = new NewsItem;
    item->id = item->databaseid = id;
    item->infotype = infotype;
    item->title = title;
    item->textinfo = QStringLiteral("Neuer Beobachter\n(f) bei Artikel");
    item->indate = QDateTime(QDate(2024, 5, 3), QTime(14, 7));
    return item;
}

// Records warnings and criticals while it lives, passing every message on.
class WarningRecorder
{
public:
    WarningRecorder() { s_previous = qInstallMessageHandler(&WarningRecorder::handle); }
    ~WarningRecorder() { qInstallMessageHandler(s_previous); }
    static QStringList s_warnings;

private:
    static void handle(QtMsgType type, const QMessageLogContext &context, const QString &text)
    {
        if (type == QtWarningMsg || type == QtCriticalMsg)
            s_warnings << text;
        s_previous(type, context, text);
    }
    static QtMessageHandler s_previous;
};
QStringList WarningRecorder::s_warnings;
QtMessageHandler WarningRecorder::s_previous = nullptr;

const QColor kProbe(10, 200, 10); // background the delegate must leave alone
const QColor kActiveHighlight(200, 0, 0);
const QColor kInactiveHighlight(0, 0, 200);

// Paints row 0 of a one-entry model into an image filled with `background`.
QImage paintEntry(NewsItem *item, QStyle::State state = QStyle::State_Enabled,
                  const QColor &background = kProbe)
{
    QListView view;
    NewsListDelegate delegate(&view);
    NewsListItemModel model;
    model.InsertNewItem(item);
    QStyleOptionViewItem option;
    option.state = state;
    option.palette.setColor(QPalette::Active, QPalette::Highlight, kActiveHighlight);
    option.palette.setColor(QPalette::Inactive, QPalette::Highlight, kInactiveHighlight);
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

const QRect kIconBox(5, 5, 28, 28);

} // namespace

class TestNewsList : public QObject
{
    Q_OBJECT
private slots:
    void loadingOldestFirstPutsNewestOnTop();
    void insertAnnouncesRowZeroAndShiftsRows();
    void keepsEveryRowAndEveryId();
    void clearAllRemovesEveryRow();
    void sizeHintUsesTheViewFontOfConstruction();
    void paintsEveryInfotype_data();
    void paintsEveryInfotype();
    void selectionFillsWithTheHighlight_data();
    void selectionFillsWithTheHighlight();
    void negativeIconsAreHalfTransparent_data();
    void negativeIconsAreHalfTransparent();
    void titleIsOneLineCutBeforeTheRightEdge();
};

void TestNewsList::loadingOldestFirstPutsNewestOnTop()
{
    NewsListItemModel model;
    Tester tester(&model, Tester::FailureReportingMode::Fatal);
    QList<NewsItem *> items;
    for (int id = 1; id <= 4; ++id) { // oldest first, as the window loads them
        items << makeItem(id, QStringLiteral("bid"), QStringLiteral("Titel %1").arg(id));
        model.InsertNewItem(items.last());
    }
    QCOMPARE(model.rowCount(), 4);
    QCOMPARE(model.columnCount(), 1);
    for (int row = 0; row < 4; ++row) {
        const QModelIndex index = model.index(row, 0);
        QCOMPARE(model.GetItem(index), items.at(3 - row));
        QCOMPARE(model.data(index, Qt::ToolTipRole).toString(), items.at(3 - row)->title);
        QVERIFY(!model.data(index, Qt::DisplayRole).isValid());
        QCOMPARE(model.flags(index), Qt::ItemIsSelectable | Qt::ItemIsEnabled);
    }
    QCOMPARE(model.GetItem(QModelIndex()), nullptr);
    QStringListModel other({ QStringLiteral("x") });
    QCOMPARE(model.GetItem(other.index(0, 0)), nullptr);
}

void TestNewsList::insertAnnouncesRowZeroAndShiftsRows()
{
    NewsListItemModel model;
    Tester tester(&model, Tester::FailureReportingMode::Fatal);
    NewsItem *old = makeItem(1);
    model.InsertNewItem(old);
    const QPersistentModelIndex oldRow = model.index(0, 0);
    QSignalSpy inserted(&model, &QAbstractItemModel::rowsInserted);

    model.InsertNewItem(nullptr);
    QCOMPARE(inserted.count(), 0);
    model.InsertNewItem(makeItem(2));
    QCOMPARE(inserted.count(), 1);
    QCOMPARE(inserted.first(), (QVariantList { QModelIndex(), 0, 0 }));
    QCOMPARE(oldRow.row(), 1);
    QCOMPARE(model.GetItem(oldRow), old);
}

void TestNewsList::keepsEveryRowAndEveryId()
{
    // The cap of 100 entries belongs to loading and the ids already seen to the window.
    NewsListItemModel model;
    Tester tester(&model, Tester::FailureReportingMode::Fatal);
    for (int id = 1; id <= 150; ++id)
        model.InsertNewItem(makeItem(id));
    model.InsertNewItem(makeItem(150));
    QCOMPARE(model.rowCount(), 151);
    QCOMPARE(model.GetItem(model.index(0, 0))->id, 150);
    QCOMPARE(model.GetItem(model.index(1, 0))->id, 150);
    QCOMPARE(model.GetItem(model.index(150, 0))->id, 1);
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
    model.InsertNewItem(makeItem(4));
    QCOMPARE(model.GetItem(model.index(0, 0))->id, 4);
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
    NewsItem *item = makeItem(1, infotype);
    const bool hasIcon = !item->GetImageUrl().isEmpty();
    WarningRecorder recorder;
    WarningRecorder::s_warnings.clear();
    const QImage image = paintEntry(item);
    QCOMPARE(WarningRecorder::s_warnings, QStringList());

    const int middle = image.height() / 2;
    QCOMPARE(image.pixelColor(0, middle), QColor(Qt::white)); // outline
    QCOMPARE(image.pixelColor(100, image.height() - 1), QColor(211, 211, 211)); // bottom line
    const QColor background = image.pixelColor(40, middle);
    if (infotype == QLatin1String("newmessage")) {
        QVERIFY2(background.red() >= 206 && background.red() <= 227 && background.green() >= 146
                     && background.green() <= 194 && background.blue() >= 207
                     && background.blue() <= 228,
                 qPrintable(background.name()));
        // Vertical: lighter at the top than at the bottom.
        QVERIFY(image.pixelColor(40, 2).green() > image.pixelColor(40, image.height() - 3).green());
    } else {
        QCOMPARE(background, kProbe);
    }
    bool iconDrawn = false;
    for (int y = kIconBox.top(); y <= kIconBox.bottom() && !iconDrawn; ++y)
        for (int x = kIconBox.left(); x <= kIconBox.right() && !iconDrawn; ++x)
            iconDrawn = image.pixelColor(x, y) != image.pixelColor(40, y);
    QCOMPARE(iconDrawn, hasIcon);
}

void TestNewsList::selectionFillsWithTheHighlight_data()
{
    QTest::addColumn<QString>("infotype");
    QTest::addColumn<bool>("focused");
    QTest::addColumn<QColor>("fill");
    QTest::newRow("focused") << "bid" << true << kActiveHighlight;
    QTest::newRow("without focus") << "bid" << false << kInactiveHighlight;
    QTest::newRow("newmessage focused") << "newmessage" << true << kActiveHighlight;
    QTest::newRow("newmessage without focus") << "newmessage" << false << kInactiveHighlight;
}

void TestNewsList::selectionFillsWithTheHighlight()
{
    QFETCH(QString, infotype);
    QFETCH(bool, focused);
    QFETCH(QColor, fill);
    QStyle::State state = QStyle::State_Enabled | QStyle::State_Selected;
    if (focused)
        state |= QStyle::State_HasFocus;
    const QImage image = paintEntry(makeItem(1, infotype), state);
    QCOMPARE(image.pixelColor(40, image.height() / 2), fill);
    QCOMPARE(image.pixelColor(40, 2), fill);
}

void TestNewsList::negativeIconsAreHalfTransparent_data()
{
    QTest::addColumn<QString>("plain");
    QTest::addColumn<QString>("negative");
    QTest::newRow("bid") << "bid"
                         << "bidneg";
    QTest::newRow("watcher") << "watcher"
                             << "watcherneg";
}

void TestNewsList::negativeIconsAreHalfTransparent()
{
    QFETCH(QString, plain);
    QFETCH(QString, negative);
    const QImage plainImage
        = paintEntry(makeItem(1, plain), QStyle::State_Enabled, Qt::transparent);
    const QImage negImage
        = paintEntry(makeItem(1, negative), QStyle::State_Enabled, Qt::transparent);
    QCOMPARE(maxAlpha(plainImage, kIconBox), 255);
    QVERIFY2(qAbs(maxAlpha(negImage, kIconBox) - 128) <= 2,
             qPrintable(QString::number(maxAlpha(negImage, kIconBox))));
    // The title after the icon is opaque again.
    QCOMPARE(maxAlpha(negImage, QRect(48, 5, 100, 15)), 255);
}

void TestNewsList::titleIsOneLineCutBeforeTheRightEdge()
{
    const auto paintTitle = [](const QString &title) {
        return paintEntry(makeItem(1, QStringLiteral("bid"), title), QStyle::State_Enabled,
                          Qt::transparent);
    };
    const QImage oneLine = paintTitle(QStringLiteral("Lampe rot"));
    QCOMPARE(paintTitle(QStringLiteral("Lampe\r\nrot")), oneLine);
    QCOMPARE(paintTitle(QStringLiteral("Lampe  rot")), oneLine);

    const QImage longTitle = paintTitle(QString(200, QLatin1Char('l')));
    const int right = longTitle.width() - 1;
    QVERIFY(maxAlpha(longTitle, QRect(QPoint(right - 15, 5), QPoint(right - 5, 20))) > 0);
    QCOMPARE(maxAlpha(longTitle, QRect(QPoint(right - 4, 5), QPoint(right - 1, 20))), 0);
}

APP_TEST_MAIN(TestNewsList)
#include "test_newslist.moc"
