#include "tests/support/testmain.h"
#include "tests/support/urlcapture.h"
#include "views/clicklabel.h"
#include "views/flowlayout.h"
#include "views/macsplitter.h"

#include <QDesktopServices>
#include <QLabel>
#include <QProxyStyle>
#include <QSpacerItem>
#include <QVBoxLayout>

namespace {
// Layout spacing chosen by the test: the pixel metrics a parent widget reports, and the gap
// between two push buttons (any other pair of controls gets an absurd gap).
class SpacingStyle : public QProxyStyle
{
public:
    SpacingStyle(int metric, int gapH, int gapV)
        : QProxyStyle(QStringLiteral("Fusion"))
        , m_metric(metric)
        , m_gapH(gapH)
        , m_gapV(gapV)
    { }
    int pixelMetric(PixelMetric pm, const QStyleOption *opt, const QWidget *w) const override
    {
        if (pm == PM_LayoutHorizontalSpacing)
            return m_metric;
        if (pm == PM_LayoutVerticalSpacing)
            return m_metric < 0 ? m_metric : m_metric + 2;
        return QProxyStyle::pixelMetric(pm, opt, w);
    }
    int layoutSpacing(QSizePolicy::ControlType a, QSizePolicy::ControlType b, Qt::Orientation o,
                      const QStyleOption *, const QWidget *) const override
    {
        if (a != QSizePolicy::PushButton || b != QSizePolicy::PushButton)
            return 1000;
        return o == Qt::Horizontal ? m_gapH : m_gapV;
    }

private:
    int m_metric, m_gapH, m_gapV;
};

class CountedItem : public QSpacerItem
{
public:
    explicit CountedItem(int *deleted)
        : QSpacerItem(10, 10)
        , m_deleted(deleted)
    { }
    ~CountedItem() override { ++*m_deleted; }

private:
    int *m_deleted;
};

} // namespace

class TestSmallWidgets : public QObject
{
    Q_OBJECT

private slots:
    void clickLabelOpensOnlyWebAddresses_data();
    void clickLabelOpensOnlyWebAddresses();
    void flowPlacesItemsInRows_data();
    void flowPlacesItemsInRows();
    void flowSpacingFallsBackToStyle_data();
    void flowSpacingFallsBackToStyle();
    void flowGapsFromItemStyleWhenUndecided();
    void flowOwnsAndRemovesItems();
    void flowEmptyLayoutIsOnlyMargins();
    void splitterHandlesAreOnePixelWide_data();
    void splitterHandlesAreOnePixelWide();
    void splitterHandleDragsOutsideItsPaintedLine();
};

void TestSmallWidgets::clickLabelOpensOnlyWebAddresses_data()
{
    QTest::addColumn<QVariant>("link");
    QTest::addColumn<int>("button"); // Qt::MouseButton
    QTest::addColumn<QList<QUrl>>("opened");
    const QString shop = QStringLiteral("https://www.example.com/shop?id=7");
    QTest::newRow("https") << QVariant(shop) << int(Qt::LeftButton) << QList<QUrl> { QUrl(shop) };
    QTest::newRow("http, upper-case scheme, spaces")
        << QVariant(" HTTP://example.com/ ") << int(Qt::LeftButton)
        << QList<QUrl> { QUrl("http://example.com/") };
    QTest::newRow("no link property") << QVariant() << int(Qt::LeftButton) << QList<QUrl>();
    QTest::newRow("empty link") << QVariant(QString("")) << int(Qt::LeftButton) << QList<QUrl>();
    QTest::newRow("file") << QVariant("file:///etc/passwd") << int(Qt::LeftButton) << QList<QUrl>();
    QTest::newRow("javascript") << QVariant("javascript:alert(1)") << int(Qt::LeftButton)
                                << QList<QUrl>();
    QTest::newRow("mailto") << QVariant("mailto:a@example.com") << int(Qt::LeftButton)
                            << QList<QUrl>();
    QTest::newRow("http without host")
        << QVariant("http://") << int(Qt::LeftButton) << QList<QUrl>();
    QTest::newRow("right button") << QVariant(shop) << int(Qt::RightButton) << QList<QUrl>();
    QTest::newRow("middle button") << QVariant(shop) << int(Qt::MiddleButton) << QList<QUrl>();
}

void TestSmallWidgets::clickLabelOpensOnlyWebAddresses()
{
    QFETCH(QVariant, link);
    QFETCH(int, button);
    QFETCH(QList<QUrl>, opened);

    UrlCapture capture;
    // Also catch what the capture does not, so a wrongly opened address shows up here.
    const QStringList extra { "javascript", "mailto" };
    for (const QString &scheme : extra)
        QDesktopServices::setUrlHandler(scheme, &capture, "openUrl");

    ClickLabel label;
    if (link.isValid())
        label.setProperty("link", link);
    QTest::mouseClick(&label, static_cast<Qt::MouseButton>(button));

    for (const QString &scheme : extra)
        QDesktopServices::unsetUrlHandler(scheme);
    QCOMPARE(capture.urls(), opened);
}

void TestSmallWidgets::flowPlacesItemsInRows_data()
{
    QTest::addColumn<QList<QSize>>("sizes");
    QTest::addColumn<QRect>("area");
    QTest::addColumn<QList<QPoint>>("positions");
    QTest::addColumn<int>("height");
    const QSize s(100, 50);
    const QList<QSize> four { s, s, s, s };
    QTest::newRow("345 wide: three in the first row")
        << four << QRect(0, 0, 345, 400)
        << QList<QPoint> { { 8, 8 }, { 122, 8 }, { 236, 8 }, { 8, 75 } } << 133;
    QTest::newRow("344 wide: two per row")
        << four << QRect(0, 0, 344, 400)
        << QList<QPoint> { { 8, 8 }, { 122, 8 }, { 8, 75 }, { 122, 75 } } << 133;
    QTest::newRow("offset area")
        << four << QRect(20, 30, 345, 400)
        << QList<QPoint> { { 28, 38 }, { 142, 38 }, { 256, 38 }, { 28, 105 } } << 133;
    QTest::newRow("too narrow: each item alone")
        << QList<QSize> { s, s, s } << QRect(0, 0, 60, 400)
        << QList<QPoint> { { 8, 8 }, { 8, 75 }, { 8, 142 } } << 200;
    QTest::newRow("tallest item sets the row height")
        << QList<QSize> { { 100, 30 }, { 100, 70 }, { 100, 20 } } << QRect(0, 0, 250, 400)
        << QList<QPoint> { { 8, 8 }, { 122, 8 }, { 8, 95 } } << 123;
}

void TestSmallWidgets::flowPlacesItemsInRows()
{
    QFETCH(QList<QSize>, sizes);
    QFETCH(QRect, area);
    QFETCH(QList<QPoint>, positions);
    QFETCH(int, height);

    FlowLayout layout(8, 14, 17);
    for (const QSize &size : sizes)
        layout.addItem(new QSpacerItem(size.width(), size.height()));

    QVERIFY(layout.hasHeightForWidth());
    QCOMPARE(layout.heightForWidth(area.width()), height);
    layout.setGeometry(area);
    for (int i = 0; i < sizes.size(); ++i)
        QCOMPARE(layout.itemAt(i)->geometry(), QRect(positions.at(i), sizes.at(i)));
}

void TestSmallWidgets::flowSpacingFallsBackToStyle_data()
{
    QTest::addColumn<QString>("parent");
    QTest::addColumn<int>("stored");
    QTest::addColumn<int>("horizontal");
    QTest::addColumn<int>("vertical");
    QTest::newRow("stored spacing wins") << "widget" << 4 << 4 << 4;
    QTest::newRow("stored zero wins") << "widget" << 0 << 0 << 0;
    QTest::newRow("parent widget's style") << "widget" << -1 << 11 << 13;
    QTest::newRow("parent layout's spacing") << "layout" << -1 << 9 << 9;
    QTest::newRow("no parent") << "none" << -1 << -1 << -1;
}

void TestSmallWidgets::flowSpacingFallsBackToStyle()
{
    QFETCH(QString, parent);
    QFETCH(int, stored);

    SpacingStyle style(11, 50, 60);
    QWidget window;
    window.setStyle(&style);
    QVBoxLayout outer;
    outer.setSpacing(9);
    auto *flow = new FlowLayout(0, stored, stored);
    std::unique_ptr<FlowLayout> orphan;
    if (parent == "widget")
        window.setLayout(flow);
    else if (parent == "layout")
        outer.addLayout(flow);
    else
        orphan.reset(flow);

    QTEST(flow->horizontalSpacing(), "horizontal");
    QTEST(flow->verticalSpacing(), "vertical");
}

void TestSmallWidgets::flowGapsFromItemStyleWhenUndecided()
{
    SpacingStyle windowStyle(-1, 1000, 1000);
    SpacingStyle itemStyle(-1, 5, 7);
    QWidget window;
    window.setStyle(&windowStyle);
    auto *flow = new FlowLayout(&window, 0, -1, -1);
    for (int i = 0; i < 3; ++i) {
        auto *item = new QWidget(&window);
        item->setFixedSize(100, 50);
        item->setStyle(&itemStyle);
        flow->addWidget(item);
    }
    window.show(); // hidden widgets count as empty items

    flow->setGeometry(QRect(0, 0, 250, 300));
    QCOMPARE(flow->itemAt(1)->widget()->pos(), QPoint(105, 0));
    QCOMPARE(flow->itemAt(2)->widget()->pos(), QPoint(0, 57));
    QCOMPARE(flow->heightForWidth(250), 107);
}

void TestSmallWidgets::flowOwnsAndRemovesItems()
{
    int deleted = 0;
    auto layout = std::make_unique<FlowLayout>(8, 14, 17);
    QList<QLayoutItem *> items;
    for (int i = 0; i < 3; ++i) {
        items.append(new CountedItem(&deleted));
        layout->addItem(items.last());
    }
    QCOMPARE(layout->itemAt(-1), nullptr);
    QCOMPARE(layout->itemAt(3), nullptr);
    QCOMPARE(layout->takeAt(3), nullptr);
    QCOMPARE(layout->takeAt(-1), nullptr);
    QCOMPARE(layout->count(), 3);

    std::unique_ptr<QLayoutItem> taken(layout->takeAt(1));
    QCOMPARE(taken.get(), items.at(1));
    QCOMPARE(layout->count(), 2);
    QCOMPARE(layout->itemAt(1), items.at(2));

    layout.reset();
    QCOMPARE(deleted, 2); // the taken item belongs to the caller now
    taken.reset();
    QCOMPARE(deleted, 3);

    // A deleted widget leaves the layout; the others keep their order.
    QWidget window;
    auto *flow = new FlowLayout(&window, 8, 14, 17);
    QList<QWidget *> widgets;
    for (int i = 0; i < 3; ++i) {
        widgets.append(new QLabel(&window));
        flow->addWidget(widgets.last());
    }
    delete widgets.at(1);
    QCOMPARE(flow->count(), 2);
    QCOMPARE(flow->itemAt(0)->widget(), widgets.at(0));
    QCOMPARE(flow->itemAt(1)->widget(), widgets.at(2));
}

void TestSmallWidgets::flowEmptyLayoutIsOnlyMargins()
{
    FlowLayout layout(8, 14, 17);
    QCOMPARE(layout.heightForWidth(300), 16);
    layout.setContentsMargins(1, 3, 2, 5);
    QCOMPARE(layout.heightForWidth(300), 8);
    QCOMPARE(layout.minimumSize(), QSize(3, 8));
    QCOMPARE(layout.sizeHint(), QSize(3, 8));
    layout.setGeometry(QRect(0, 0, 300, 100));
    QCOMPARE(layout.count(), 0);
    QCOMPARE(layout.itemAt(0), nullptr);

    // With items, the largest minimum width and height plus the margins.
    layout.addItem(new QSpacerItem(30, 70, QSizePolicy::Fixed, QSizePolicy::Fixed));
    layout.addItem(new QSpacerItem(90, 20, QSizePolicy::Fixed, QSizePolicy::Fixed));
    QCOMPARE(layout.minimumSize(), QSize(93, 78));
}

void TestSmallWidgets::splitterHandlesAreOnePixelWide_data()
{
    QTest::addColumn<bool>("designerConstructor");
    QTest::addColumn<Qt::Orientation>("orientation");
    QTest::newRow("parent constructor, horizontal") << true << Qt::Horizontal;
    QTest::newRow("orientation constructor, horizontal") << false << Qt::Horizontal;
    QTest::newRow("orientation constructor, vertical") << false << Qt::Vertical;
}

void TestSmallWidgets::splitterHandlesAreOnePixelWide()
{
    QFETCH(bool, designerConstructor);
    QFETCH(Qt::Orientation, orientation);

    QWidget owner;
    auto *splitter = designerConstructor ? new MacSplitter(&owner) : new MacSplitter(orientation);
    std::unique_ptr<QSplitter> orphan(designerConstructor ? nullptr : splitter);
    splitter->addWidget(new QLabel("links"));
    splitter->addWidget(new QLabel("rechts"));

    QCOMPARE(splitter->orientation(), orientation);
    QCOMPARE(splitter->handleWidth(), 1);
    auto *handle = qobject_cast<MacSplitterHandle *>(splitter->handle(1));
    QVERIFY(handle);
    QCOMPARE(handle->splitter(), splitter);
    QCOMPARE(handle->orientation(), orientation);

    if (orientation == Qt::Horizontal)
        QCOMPARE(handle->sizeHint().width(), 1);
}

void TestSmallWidgets::splitterHandleDragsOutsideItsPaintedLine()
{
    MacSplitter splitter(Qt::Horizontal);
    splitter.addWidget(new QLabel("links"));
    splitter.addWidget(new QLabel("rechts"));
    splitter.resize(400, 200);
    splitter.setSizes({ 200, 199 });
    splitter.show();
    QVERIFY(QTest::qWaitForWindowExposed(&splitter));

    QSplitterHandle *handle = splitter.handle(1);
    QCOMPARE(splitter.sizes().at(0) + splitter.sizes().at(1), 399); // one pixel for the handle
    QCOMPARE(handle->mask().boundingRect().width(), 1);
    QVERIFY(handle->width() > 1);

    // Grab the handle at its outermost pixel, beside the painted line.
    QWindow *window = splitter.windowHandle();
    const QPoint grab = handle->mapTo(&splitter, QPoint(0, 100));
    QVERIFY(!handle->mask().contains(QPoint(0, 100)));
    QTest::mousePress(window, Qt::LeftButton, {}, grab);
    QTest::mouseMove(window, grab + QPoint(-60, 0));
    QTest::mouseRelease(window, Qt::LeftButton, {}, grab + QPoint(-60, 0));
    QTRY_VERIFY(splitter.sizes().at(0) <= 200 - 55);
}

APP_TEST_MAIN(TestSmallWidgets)
#include "test_smallwidgets.moc"
