#include "tests/support/testmain.h"
#include "tests/support/urlcapture.h"
#include "views/clicklabel.h"
#include "views/elidedlabel.h"
#include "views/flowlayout.h"
#include "views/macsplitter.h"
#include "views/paintedtext.h"

#include <QLabel>
#include <QProxyStyle>
#include <QSpacerItem>
#include <QVBoxLayout>

namespace {
class SpacingStyle : public QProxyStyle
{
public:
    SpacingStyle()
        : QProxyStyle(QStringLiteral("Fusion"))
    { }
    int pixelMetric(PixelMetric pm, const QStyleOption *opt, const QWidget *w) const override
    {
        if (pm == PM_LayoutHorizontalSpacing || pm == PM_LayoutVerticalSpacing)
            return pm == PM_LayoutHorizontalSpacing ? 11 : 13;
        return QProxyStyle::pixelMetric(pm, opt, w);
    }
};
// Records the longest text a widget hands to the style to draw.
class TextRecordingStyle : public QProxyStyle
{
public:
    TextRecordingStyle()
        : QProxyStyle(QStringLiteral("Fusion"))
    { }
    void drawItemText(QPainter *painter, const QRect &rect, int flags, const QPalette &palette,
                      bool enabled, const QString &text,
                      QPalette::ColorRole textRole = QPalette::NoRole) const override
    {
        longest = qMax(longest, text.size());
        QProxyStyle::drawItemText(painter, rect, flags, palette, enabled, text, textRole);
    }
    mutable int longest = -1;
};
} // namespace

class TestSmallWidgets : public QObject
{
    Q_OBJECT

private slots:
    void clickLabelOpensOnlyWebAddresses_data()
    {
        QTest::addColumn<QString>("link"); // null: no link property
        QTest::addColumn<bool>("rightButton");
        QTest::addColumn<QString>("opened"); // empty: nothing
        const QString shop = QStringLiteral("https://www.example.com/shop?id=7");
        QTest::newRow("https") << shop << false << shop;
        QTest::newRow("http, upper-case, spaces")
            << " HTTP://example.com/ " << false << "http://example.com/";
        QTest::newRow("no link property") << QString() << false << "";
        QTest::newRow("file") << "file://server/etc/passwd" << false << "";
        QTest::newRow("right button") << shop << true << "";
    }
    void clickLabelOpensOnlyWebAddresses()
    {
        QFETCH(QString, link);
        QFETCH(bool, rightButton);
        QFETCH(QString, opened);
        UrlCapture capture;
        ClickLabel label;
        if (!link.isNull())
            label.setProperty("link", link);
        QTest::mouseClick(&label, rightButton ? Qt::RightButton : Qt::LeftButton);
        QCOMPARE(capture.urls(), opened.isEmpty() ? QList<QUrl>() : QList<QUrl> { QUrl(opened) });
    }

    void flowPlacesItemsInRows_data()
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
    void flowPlacesItemsInRows()
    {
        QFETCH(QList<QSize>, sizes);
        QFETCH(QRect, area);
        QFETCH(QList<QPoint>, positions);
        FlowLayout layout(8, 14, 17);
        for (const QSize &size : sizes)
            layout.addItem(new QSpacerItem(size.width(), size.height()));
        QVERIFY(layout.hasHeightForWidth());
        QTEST(layout.heightForWidth(area.width()), "height");
        layout.setGeometry(area);
        for (int i = 0; i < sizes.size(); ++i)
            QCOMPARE(layout.itemAt(i)->geometry(), QRect(positions.at(i), sizes.at(i)));
    }

    void flowSpacingFallsBackToStyle_data()
    {
        QTest::addColumn<QString>("parent");
        QTest::addColumn<int>("stored");
        QTest::addColumn<int>("horizontal");
        QTest::addColumn<int>("vertical");
        QTest::newRow("stored spacing wins") << "widget" << 0 << 0 << 0;
        QTest::newRow("parent widget's style") << "widget" << -1 << 11 << 13;
        QTest::newRow("parent layout's spacing") << "layout" << -1 << 9 << 9;
        QTest::newRow("no parent") << "none" << -1 << -1 << -1;
    }
    void flowSpacingFallsBackToStyle()
    {
        QFETCH(QString, parent);
        QFETCH(int, stored);
        SpacingStyle style;
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

    void paintedPrefix_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("maxChars");
        QTest::addColumn<QString>("painted");
        const QString face = QString::fromUcs4(U"\U0001F600"); // two UTF-16 units
        QTest::newRow("as long") << "Lokom" << 5 << "Lokom";
        QTest::newRow("cut") << "Lokomotive" << 3 << "Lok\u2026";
        QTest::newRow("cut inside a surrogate pair") << "ab" + face + "cd" << 3 << "ab\u2026";
        QTest::newRow("cut after a surrogate pair")
            << "ab" + face + "cd" << 4 << "ab" + face + "\u2026";
        QTest::newRow("nothing") << "Lok" << 0 << "\u2026";
        QTest::newRow("no limit") << "Lok" << -1 << "Lok";
    }
    // What is painted of a text never ends in half of a character.
    void paintedPrefix()
    {
        QFETCH(QString, text);
        QFETCH(int, maxChars);
        QTEST(PaintedText::prefix(text, maxChars), "painted");
    }

    // However long its text, the status panel's label hands only about as many characters
    // to the style as it is pixels wide, and keeps the text whole.
    void elidedLabelPaintsABoundedPrefix()
    {
        TextRecordingStyle style;
        ElidedLabel label;
        label.setStyle(&style);
        label.setText(QString(16 << 20, QChar(0x00e4)));
        label.resize(300, 30);
        label.grab();
        QVERIFY(style.longest > 0);
        QVERIFY2(style.longest <= PaintedText::charsFor(300) + 1,
                 qPrintable(QString::number(style.longest)));
        QCOMPARE(label.text().size(), 16 << 20);
    }

    void splitterHandlesAreOnePixelWide()
    {
        // The constructor Designer's form uses, and the one taking an orientation.
        QWidget owner;
        MacSplitter fromForm(&owner);
        MacSplitter vertical(Qt::Vertical);
        for (MacSplitter *splitter : { &fromForm, &vertical }) {
            splitter->addWidget(new QLabel("links"));
            splitter->addWidget(new QLabel("rechts"));
            QCOMPARE(splitter->handleWidth(), 1);
            QVERIFY(qobject_cast<MacSplitterHandle *>(splitter->handle(1)));
        }
        QCOMPARE(vertical.handle(1)->orientation(), Qt::Vertical);
        QCOMPARE(fromForm.handle(1)->sizeHint().width(), 1);
    }
};

APP_TEST_MAIN(TestSmallWidgets)
#include "test_smallwidgets.moc"
