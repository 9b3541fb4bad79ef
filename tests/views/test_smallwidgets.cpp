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
// Layout spacing chosen by the test: the pixel metrics a parent widget reports.
class SpacingStyle : public QProxyStyle
{
public:
    explicit SpacingStyle(int metric)
        : QProxyStyle(QStringLiteral("Fusion"))
        , m_metric(metric)
    { }
    int pixelMetric(PixelMetric pm, const QStyleOption *opt, const QWidget *w) const override
    {
        if (pm == PM_LayoutHorizontalSpacing)
            return m_metric;
        if (pm == PM_LayoutVerticalSpacing)
            return m_metric + 2;
        return QProxyStyle::pixelMetric(pm, opt, w);
    }

private:
    int m_metric;
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
    void flowOwnsAndRemovesItems();
    void splitterHandlesAreOnePixelWide();
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
    QTest::newRow("mailto") << QVariant("mailto:a@example.com") << int(Qt::LeftButton)
                            << QList<QUrl>();
    QTest::newRow("right button") << QVariant(shop) << int(Qt::RightButton) << QList<QUrl>();
    QTest::newRow("middle button") << QVariant(shop) << int(Qt::MiddleButton) << QList<QUrl>();
}

void TestSmallWidgets::clickLabelOpensOnlyWebAddresses()
{
    QFETCH(QVariant, link);
    QFETCH(int, button);
    QFETCH(QList<QUrl>, opened);

    UrlCapture capture;
    // Also catch mailto, so a wrongly opened address shows up here.
    QDesktopServices::setUrlHandler(QStringLiteral("mailto"), &capture, "openUrl");
    ClickLabel label;
    if (link.isValid())
        label.setProperty("link", link);
    QTest::mouseClick(&label, static_cast<Qt::MouseButton>(button));
    QDesktopServices::unsetUrlHandler(QStringLiteral("mailto"));
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
    QTest::newRow("344 wide, offset: two per row")
        << four << QRect(20, 30, 344, 400)
        << QList<QPoint> { { 28, 38 }, { 142, 38 }, { 28, 105 }, { 142, 105 } } << 133;
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

    SpacingStyle style(11);
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

void TestSmallWidgets::flowOwnsAndRemovesItems()
{
    int deleted = 0;
    auto layout = std::make_unique<FlowLayout>(8, 14, 17);
    QList<QLayoutItem *> items;
    for (int i = 0; i < 3; ++i) {
        items.append(new CountedItem(&deleted));
        layout->addItem(items.last());
    }
    QCOMPARE(layout->itemAt(3), nullptr);
    QCOMPARE(layout->takeAt(3), nullptr);
    QCOMPARE(layout->takeAt(-1), nullptr);

    std::unique_ptr<QLayoutItem> taken(layout->takeAt(1));
    QCOMPARE(taken.get(), items.at(1));
    QCOMPARE(layout->count(), 2);
    QCOMPARE(layout->itemAt(1), items.at(2));

    layout.reset();
    QCOMPARE(deleted, 2); // the taken item belongs to the caller now
    taken.reset();
    QCOMPARE(deleted, 3);
}

void TestSmallWidgets::splitterHandlesAreOnePixelWide()
{
    // Both constructors: the one Designer's form uses and the one taking an orientation.
    QWidget owner;
    MacSplitter fromForm(&owner);
    MacSplitter vertical(Qt::Vertical);
    for (MacSplitter *splitter : { &fromForm, &vertical }) {
        splitter->addWidget(new QLabel("links"));
        splitter->addWidget(new QLabel("rechts"));
        QCOMPARE(splitter->handleWidth(), 1);
        auto *handle = qobject_cast<MacSplitterHandle *>(splitter->handle(1));
        QVERIFY(handle);
        QCOMPARE(handle->orientation(), splitter->orientation());
    }
    QCOMPARE(vertical.orientation(), Qt::Vertical);
    QCOMPARE(fromForm.handle(1)->sizeHint().width(), 1);
}

APP_TEST_MAIN(TestSmallWidgets)
#include "test_smallwidgets.moc"
