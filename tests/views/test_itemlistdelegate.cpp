#include "core/clock.h"
#include "core/imagelimits.h"
#include "core/untrustedfile.h"
#include "marketplace/tradingtransport.h"
#include "tests/support/blackpng.h"
#include "tests/support/helddecodes.h"
#include "tests/support/messagecapture.h"
#include "tests/support/peakmemory.h"
#include "tests/support/testmain.h"
#include "views/itemlistdelegate.h"
#include "views/itemlistroles.h"
#include "workers/listingthread.h"

#include <QApplication>
#include <QDir>
#include <QPainter>
#include <QScrollBar>
#include <QScopeGuard>
#include <QStandardItemModel>
#include <QTemporaryDir>
#include <QTreeWidget>
#include <functional>

using namespace ItemListRole;
using Roles = QMap<int, QVariant>;

namespace {

const QColor kProbe(10, 200, 10); // the view's own background, which unmarked rows keep
const QColor kHighlight(40, 60, 120);
const int kWidth = 800;

// Paints one row with `roles` into an image filled with kProbe.
QImage paintRow(const Roles &roles, bool selected = false)
{
    QTreeWidget list;
    ItemListDelegate delegate(&list);
    QStandardItemModel model;
    auto *item = new QStandardItem;
    for (auto it = roles.begin(); it != roles.end(); ++it)
        item->setData(it.value(), it.key());
    model.appendRow(item);
    QStyleOptionViewItem option;
    option.state = QStyle::State_Enabled | (selected ? QStyle::State_Selected : QStyle::State_None);
    option.palette.setColor(QPalette::Highlight, kHighlight);
    option.palette.setColor(QPalette::HighlightedText, Qt::white);
    option.rect = QRect(0, 0, kWidth, delegate.sizeHint(option, item->index()).height());
    const auto paint = [&] {
        QImage image(option.rect.size(), QImage::Format_RGB32);
        image.fill(kProbe);
        QPainter painter(&image);
        delegate.paint(&painter, option, item->index());
        return image;
    };
    const QImage first = paint();
    // A thumbnail is read off the window thread: the row is painted again once it is there.
    if (ImageLimits::pendingDecodes() == 0)
        return first;
    if (!QTest::qWaitFor([] { return ImageLimits::pendingDecodes() == 0; }, 10000))
        return QImage();
    return paint();
}

// The bounding box of the pixels in `area` that satisfy `match`.
QRect matching(const QImage &image, const QRect &area, const std::function<bool(QRgb)> &match)
{
    QRect box;
    for (int y = area.top(); y <= area.bottom(); ++y)
        for (int x = area.left(); x <= area.right(); ++x)
            if (match(image.pixel(x, y)))
                box |= QRect(x, y, 1, 1);
    return box;
}

// Where `image` satisfies `match`, one character per pixel.
QByteArray pixels(const QImage &image, const std::function<bool(QRgb)> &match)
{
    QByteArray where;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            where += match(image.pixel(x, y)) ? '1' : '0';
    return where;
}

// clang-format off
bool reddish(QRgb p) { return qRed(p) - qMax(qGreen(p), qBlue(p)) > 120; }
bool bluish(QRgb p) { return qBlue(p) - qMax(qRed(p), qGreen(p)) > 120; }
bool whitish(QRgb p) { return qGray(p) > 200; }
bool notWhite(QRgb p) { return qGray(p) < 235; }
// clang-format on

bool near(const QColor &a, const QColor &b)
{
    return qAbs(a.red() - b.red()) + qAbs(a.green() - b.green()) + qAbs(a.blue() - b.blue()) <= 6;
}

QImage statusRow(int doCheck, const QString &result, bool selected = false, int account = 1)
{
    return paintRow(
        { { DoCheckRole, doCheck }, { DoCheckResultRole, result }, { AccountRole, account } },
        selected);
}

} // namespace

Q_DECLARE_METATYPE(Roles)

class TestItemListDelegate : public QObject
{
    Q_OBJECT
private slots:
    void sizeHintKeepsTheFontOfConstruction()
    {
        QTreeWidget list;
        QFont font = list.font();
        font.setPointSize(20);
        list.setFont(font);
        ItemListDelegate delegate(&list);
        const QSize expected(400, 6 * QFontMetrics(font).boundingRect("A").height());
        font.setPointSize(8);
        list.setFont(font);
        QCOMPARE(delegate.sizeHint(QStyleOptionViewItem(), QModelIndex()), expected);
    }

    void rowColours_data()
    {
        QTest::addColumn<Roles>("roles");
        QTest::addColumn<bool>("selected");
        QTest::addColumn<QColor>("top"); // at the right edge, second line of pixels
        QTest::addColumn<QColor>("bottom"); // at the right edge, last line above the separator
        auto row = [](const char *name, const Roles &roles, const QColor &top, const QColor &bottom,
                      bool selected = false) {
            QTest::newRow(name) << roles << selected << top << bottom;
        };
        const QVariant error = QStringLiteral("Artikel abgelehnt");
        row("plain", {}, kProbe, kProbe);
        row("marker 5", { { MarkerRole, 5 } }, QColor(244, 235, 113), QColor(238, 221, 17));
        row("marker 7 has no colours", { { MarkerRole, 7 } }, kProbe, kProbe);
        row("error wins over marker", { { LastErrorRole, error }, { MarkerRole, 3 } },
            QColor(255, 164, 164), QColor(255, 125, 125));
        row("queued is no error", { { LastErrorRole, "WILLSEND" }, { FolderRole, -2 } }, kProbe,
            kProbe);
        row("selected", {}, kHighlight, kHighlight, true);
        row("selected marked keeps a strip", { { MarkerRole, 2 } }, QColor(160, 213, 243),
            QColor(134, 201, 240), true);
    }
    void rowColours()
    {
        QFETCH(Roles, roles);
        QFETCH(bool, selected);
        QFETCH(QColor, top);
        QFETCH(QColor, bottom);
        const QImage image = paintRow(roles, selected);
        const int x = kWidth - 3; // right of the price, left of the white outline
        QVERIFY2(near(image.pixelColor(x, 1), top), qPrintable(image.pixelColor(x, 1).name()));
        const QColor last = image.pixelColor(x, image.height() - 2);
        QVERIFY2(near(last, bottom), qPrintable(last.name()));
        if (selected)
            QCOMPARE(image.pixelColor(kWidth - 12, image.height() / 2), kHighlight);
    }

    void statusLine_data()
    {
        QTest::addColumn<int>("doCheck");
        QTest::addColumn<QString>("result");
        QTest::addColumn<bool>("selected");
        QTest::addColumn<QString>("colour"); // of the status text: red, blue, white or none
        QTest::newRow("no status") << 0 << "" << false << "none";
        QTest::newRow("failure") << 0 << "(f)Verkaufspreis fehlt" << false << "red";
        QTest::newRow("other result") << 0 << "Artikel geprüft" << false << "blue";
        QTest::newRow("selected failure") << 0 << "(f)Fehler" << true << "white";
        QTest::newRow("checking hides result") << 1 << "(f)Fehler" << false << "blue";
        QTest::newRow("listing hides result") << 2 << "(f)Fehler" << false << "blue";
    }
    void statusLine()
    {
        QFETCH(int, doCheck);
        QFETCH(QString, result);
        QFETCH(bool, selected);
        QFETCH(QString, colour);
        const QImage image = statusRow(doCheck, result, selected);
        // Below the title, above the notice line, right of the thumbnail.
        const QRect area(170, image.height() / 4, 480, image.height() / 4);
        QCOMPARE(!matching(image, area, reddish).isEmpty(), colour == "red");
        QCOMPARE(!matching(image, area, bluish).isEmpty(), colour == "blue");
        QCOMPARE(!matching(image, area, whitish).isEmpty(), colour == "white");
    }

    // A row without an end date shows its duration in days; one without a duration shows no
    // date at all, not a unit without its number.
    void durationText_data()
    {
        QTest::addColumn<QString>("duration");
        QTest::addColumn<bool>("shown");
        QTest::newRow("seven days") << "Days_7" << true;
        QTest::newRow("one day") << "Days_1" << true;
        QTest::newRow("until cancelled") << "GTC" << true;
        QTest::newRow("none") << "" << false;
        QTest::newRow("no number") << "Days_" << false;
        QTest::newRow("not a duration") << "FixedPriceItem" << false;
    }
    void durationText()
    {
        QFETCH(QString, duration);
        QFETCH(bool, shown);
        const QImage withoutDate = paintRow({ { EndTextRole, QString() } });
        const QImage row
            = paintRow({ { EndTextRole, QStringLiteral("-") }, { ListingDurationRole, duration } });
        QCOMPARE(row != withoutDate, shown);
    }

    void statusTexts()
    {
        const QImage failure = statusRow(0, QStringLiteral("(f)Fehler beim Einstellen"));
        QCOMPARE(statusRow(0, QStringLiteral("Fehler beim Einstel(f)len")), failure);
        QVERIFY(statusRow(0, QStringLiteral("(f)Fehler beim Absenden")) != failure);
        QVERIFY(statusRow(1, QString()) != statusRow(2, QString()));
    }

    // An article queued for a check or for listing that no pass takes up says what it waits
    // for: the developer keys, naming them, while this program has none; an account, when it has
    // none. With both, or when another workstation does the work, the progress shows.
    void waitingStatus_data()
    {
        QTest::addColumn<int>("doCheck");
        QTest::addColumn<bool>("keys");
        QTest::addColumn<int>("account");
        QTest::addColumn<bool>("otherWorkstation");
        QTest::addColumn<QString>("waiting"); // the status line; empty: the progress
        const QString keys = " (es fehlt: ZERIRE_DEV_ID, ZERIRE_APP_ID, ZERIRE_CERT_ID).";
        const QString listing = "Das Einstellen wartet auf ";
        const QString check = "Die Gebührenberechnung wartet auf ";
        const QString none = "ein eBay Konto: dem Artikel ist keines zugewiesen.";
        QTest::newRow("listing without keys")
            << 2 << false << 1 << false << listing + "die Entwicklerschlüssel von eBay" + keys;
        QTest::newRow("check without keys")
            << 1 << false << 1 << false << check + "die Entwicklerschlüssel von eBay" + keys;
        QTest::newRow("listing with keys") << 2 << true << 1 << false << QString();
        QTest::newRow("check with keys") << 1 << true << 1 << false << QString();
        QTest::newRow("listed elsewhere") << 2 << false << 1 << true << QString();
        QTest::newRow("not queued") << 0 << false << 0 << false << QString();
        QTest::newRow("listing without an account") << 2 << true << 0 << false << listing + none;
        QTest::newRow("check without an account") << 1 << true << 0 << false << check + none;
        QTest::newRow("without an account, elsewhere") << 2 << false << 0 << true << listing + none;
    }
    void waitingStatus()
    {
        QFETCH(int, doCheck);
        QFETCH(bool, keys);
        QFETCH(int, account);
        QFETCH(bool, otherWorkstation);
        QFETCH(QString, waiting);
        const QList<QByteArray> names
            = { "ZERIRE_DEV_ID",         "ZERIRE_APP_ID",         "ZERIRE_CERT_ID",
                "ZERIRE_DEV_ID_SANDBOX", "ZERIRE_APP_ID_SANDBOX", "ZERIRE_CERT_ID_SANDBOX" };
        QMap<QByteArray, QByteArray> before;
        for (const QByteArray &name : names) {
            if (qEnvironmentVariableIsSet(name.constData()))
                before.insert(name, qgetenv(name.constData()));
            if (keys)
                qputenv(name.constData(), "schlüssel");
            else
                qunsetenv(name.constData());
        }
        if (otherWorkstation)
            qApp->setProperty("mysqlsyncworkstation", false);
        const auto restore = qScopeGuard([&] {
            for (const QByteArray &name : names) {
                if (before.contains(name))
                    qputenv(name.constData(), before.value(name));
                else
                    qunsetenv(name.constData());
            }
            qApp->setProperty("mysqlsyncworkstation", QVariant());
        });
        if (!keys && !TradingTransport::noKeys())
            QSKIP("The build names developer keys of its own");

        QCOMPARE(ListingThread::waitingText(doCheck, account), waiting);
        // Drawn as a result is, over the result the worker stored before.
        const QImage row
            = statusRow(doCheck, QStringLiteral("(f)Ein alter Fehler"), false, account);
        const QImage told = statusRow(0, waiting);
        const QRect status(170, 0, kWidth - 310, row.height() / 2);
        QCOMPARE(matching(row, status, reddish).isEmpty(), doCheck != 0);
        // The same text in the same place: the same pixels leave the background (the colours
        // of a status and a result differ a little).
        const auto drawn = [](QRgb p) {
            return QColor(p) != kProbe;
        };
        if (doCheck != 0)
            QCOMPARE(pixels(row, drawn) == pixels(told, drawn), !waiting.isEmpty());
    }

    // A failure of many lines takes the lines that fit and ends above the bottom row: no
    // text is drawn over the counters' icons, whatever the font.
    void longResultEndsAboveTheIcons_data()
    {
        QTest::addColumn<int>("pointSize");
        QTest::newRow("default font") << 0;
        QTest::newRow("small font") << 7;
        QTest::newRow("large font") << 14;
    }
    void longResultEndsAboveTheIcons()
    {
        QFETCH(int, pointSize);
        QFont font = QApplication::font();
        if (pointSize > 0)
            font.setPointSize(pointSize);
        const QFont before = QApplication::font();
        QApplication::setFont(font);
        const QString failure = QStringLiteral(
            "(f)Das Angebot konnte nicht eingestellt werden: Keine Verbindung zu eBay. Der "
            "Server hat die Verbindung abgelehnt. Bitte prüfe die Internetverbindung und "
            "versuche es später erneut. Verbindung verweigert. Noch ein Satz, der nicht mehr "
            "in die Zeile passt, und noch einer, damit es sicher mehr als vier Zeilen werden.");
        const QImage image = paintRow({ { DoCheckResultRole, failure },
                                        { FolderRole, -9 },
                                        { SoldCountRole, 3 },
                                        { WatchCountRole, 2 } });
        QApplication::setFont(before);

        const int iconsTop = image.height() - 1
            - (QFontMetrics(font, &image).boundingRect(QLatin1Char('D')).height() + 12);
        const QRect text = matching(image, QRect(170, 0, kWidth - 170, image.height()), reddish);
        QVERIFY(!text.isEmpty());
        QVERIFY2(text.bottom() < iconsTop,
                 qPrintable(
                     QStringLiteral("text to %1, icons from %2").arg(text.bottom()).arg(iconsTop)));
    }

    // A title or result of megabytes paints as its beginning does.
    void hugeTextsPaintLikeTheirBeginning()
    {
        const QString words = QStringLiteral("Wanduhr aus Eiche mit Pendel ");
        const QString huge = words.repeated(1 << 15); // about a megabyte
        const QString some = words.repeated(200);
        QCOMPARE(paintRow({ { TitleRole, huge }, { DoCheckResultRole, "(f)" + huge } }),
                 paintRow({ { TitleRole, some }, { DoCheckResultRole, "(f)" + some } }));
    }

    void placeholder()
    {
        QTemporaryDir dir;
        const QString broken = dir.filePath("thumb_text.jpg");
        QFile out(broken);
        QVERIFY(out.open(QIODevice::WriteOnly) && out.write("kein Bild") > 0);
        out.close();
        TestSupport::MessageCapture capture({ QStringLiteral("app") });
        paintRow({ { ImageThumbRole, broken } });
        // Centred in the box (5, 5)-(155, bottom - 5): enlarged without a picture, 32 x 32 in
        // place of an unusable one.
        for (const QString &path : { QString(), broken }) {
            const QImage image = paintRow({ { ImageThumbRole, path } });
            const QRect picture = matching(image, QRect(6, 6, 149, image.height() - 12), notWhite);
            QVERIFY(path.isEmpty() ? picture.height() > image.height() * 3 / 4
                                   : picture.width() <= 32 && picture.height() <= 32);
            QVERIFY(qAbs(picture.center().x() - 80) <= 2);
            QVERIFY(qAbs(picture.center().y() - image.height() / 2) <= 2);
        }
        // The file was read once for both paints.
        QCOMPARE(capture.count(QStringLiteral("Bildfehler")), 1);
    }

    void thumbnailLinks_data()
    {
        QTest::addColumn<QString>("name"); // in the thumbnail folder
        QTest::addColumn<bool>("shown");
        QTest::newRow("a thumbnail of the folder") << "thumb_gut.jpg" << true;
        QTest::newRow("a link at its place") << "thumb_link.jpg" << false;
        // sub/thumb_gut.jpg where sub links to a folder elsewhere.
        QTest::newRow("a folder link on the way") << "sub/thumb_gut.jpg" << false;
    }

    // A row names a file of the thumbnail folder; no link below that folder is followed, the
    // private picture it leads to is not shown.
    void thumbnailLinks()
    {
        QFETCH(QString, name);
        QFETCH(bool, shown);
        QTemporaryDir dir;
        const QString folder = dir.filePath("adimages_thumb/");
        QVERIFY(QDir().mkpath(folder) && QDir().mkpath(dir.filePath("privat")));
        QImage picture(120, 80, QImage::Format_RGB32);
        picture.fill(Qt::darkBlue);
        QVERIFY(picture.save(folder + "thumb_gut.jpg")
                && picture.save(dir.filePath("privat/thumb_gut.jpg")));
        QVERIFY(QFile::link(dir.filePath("privat/thumb_gut.jpg"), folder + "thumb_link.jpg"));
        QVERIFY(QFile::link(dir.filePath("privat"), folder + "sub"));
        // As the database names its thumbnail folder.
        UntrustedFile::addPictureFolder(folder);
        TestSupport::MessageCapture capture({ QStringLiteral("app") });
        const QImage image = paintRow({ { ImageThumbRole, folder + name } });
        QVERIFY(!image.isNull());
        const QRect painted = matching(image, QRect(6, 6, 149, image.height() - 12), notWhite);
        QCOMPARE(painted.width() > 100, shown);
        QCOMPARE(capture.count(QStringLiteral("Verknüpfung")), shown ? 0 : 1);
    }

    // A thumbnail of more pixels than the budget (64 megapixels in 200 KB) is not decoded:
    // the placeholder stands in its place.
    void thumbnailOverBudget()
    {
        QTemporaryDir dir;
        QFile out(dir.filePath("thumb_riesig.png"));
        QVERIFY(out.open(QIODevice::WriteOnly) && out.write(TestSupport::blackPng(8000, 8000)) > 0);
        out.close();
        TestSupport::MessageCapture capture({ QStringLiteral("app") });
        TestSupport::PeakMemory memory;
        const bool measured = memory.start();
        const QImage image = paintRow({ { ImageThumbRole, out.fileName() } });
        QVERIFY2(!measured || memory.growth() < 32 * 1024 * 1024,
                 qPrintable(QString::number(memory.growth() >> 20) + " MB"));
        QCOMPARE(capture.count(QStringLiteral("Bildfehler")), 1);
        QCOMPARE(capture.count(QStringLiteral("50 Megapixel")), 1);
        const QRect picture = matching(image, QRect(6, 6, 149, image.height() - 12), notWhite);
        QVERIFY(picture.width() <= 32 && picture.height() <= 32);
    }

    void changedThumbnailIsReadAgain()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath("thumb_a.png");
        auto write = [&](const QColor &colour) {
            QImage picture(600, 200, QImage::Format_RGB32);
            picture.fill(colour);
            return picture.save(path, "PNG");
        };
        QVERIFY(write(Qt::red));
        // Reduced to 150 x 50 and centred; the box's grey frame covers column 5.
        const QImage image = paintRow({ { ImageThumbRole, path } });
        const int top = 5 + (image.height() - 9) / 2 - 25;
        QCOMPARE(matching(image, QRect(0, 0, 170, image.height()), reddish),
                 QRect(6, top, 149, 50));

        const QDateTime written = QFileInfo(path).lastModified();
        QVERIFY(write(Qt::blue));
        QFile file(path);
        QVERIFY(file.open(QIODevice::ReadWrite)
                && file.setFileTime(written.addSecs(5), QFileDevice::FileModificationTime));
        const QRect band(20, top + 10, 100, 30);
        QCOMPARE(matching(paintRow({ { ImageThumbRole, path } }), band, bluish), band);
    }

    // The thumbnail is read off the window thread: a row paints at once without it while
    // the read is held; past the decode time-out the read is given up, the placeholder stands
    // in its place and what the read yields after that is dropped.
    void thumbnailHeldPastItsTime()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath("thumb_gehalten.png");
        QImage picture(600, 200, QImage::Format_RGB32);
        picture.fill(Qt::red);
        QVERIFY(picture.save(path, "PNG"));
        TestSupport::HeldDecodes held(300);

        QTreeWidget list;
        ItemListDelegate delegate(&list);
        QStandardItemModel model;
        auto *item = new QStandardItem;
        item->setData(path, ImageThumbRole);
        model.appendRow(item);
        QStyleOptionViewItem option;
        option.rect = QRect(0, 0, kWidth, delegate.sizeHint(option, item->index()).height());
        const auto paint = [&] {
            QImage image(option.rect.size(), QImage::Format_RGB32);
            image.fill(kProbe);
            QPainter painter(&image);
            delegate.paint(&painter, option, item->index());
            return image;
        };
        const QRect thumbBox(6, 6, 149, option.rect.height() - 12);
        // The picture is shown 150 x 50; the placeholder is at most 32 x 32.
        const auto pictureShown = [&](const QImage &image) {
            return matching(image, thumbBox, reddish).width() > 100;
        };
        QVERIFY(!pictureShown(paint()));
        QVERIFY(held.entered());
        // Painted again while the read is held: no second read, no picture.
        QVERIFY(!pictureShown(paint()));
        TestSupport::MessageCapture capture({ QStringLiteral("app") });
        QTRY_COMPARE(capture.count(QStringLiteral("dauerte länger als 1 s")), 1);

        held.letGo();
        QTRY_COMPARE(ImageLimits::pendingDecodes(), 0);
        QCoreApplication::processEvents();
        const QImage image = paint();
        QVERIFY(!pictureShown(image));
        const QRect shown = matching(image, thumbBox, notWhite);
        QVERIFY(!shown.isEmpty() && shown.width() <= 32 && shown.height() <= 32);
        QVERIFY(!held.entered(1, 0));
        // Given up is not refused: a minute later the row asks for it again and shows it.
        Clock::setCurrentDateTimeForTesting(QDateTime::currentDateTime().addSecs(30));
        QVERIFY(!pictureShown(paint()));
        QVERIFY(!held.entered(1, 0));
        QCOMPARE(ImageLimits::pendingDecodes(), 0);
        Clock::setCurrentDateTimeForTesting(QDateTime::currentDateTime().addSecs(61));
        QVERIFY(!pictureShown(paint()));
        QTRY_COMPARE(ImageLimits::pendingDecodes(), 0);
        QCoreApplication::processEvents();
        QVERIFY(pictureShown(paint()));
        Clock::setCurrentDateTimeForTesting(QDateTime());
        // Written anew, it is read anew.
        QFile file(path);
        QVERIFY(file.open(QIODevice::ReadWrite)
                && file.setFileTime(QFileInfo(path).lastModified().addSecs(5),
                                    QFileDevice::FileModificationTime));
        QVERIFY(pictureShown(paintRow({ { ImageThumbRole, path } })));
    }

    // Rows scrolled away no longer wait for their thumbnails: the decodes not yet begun are
    // withdrawn when the list scrolls, and a row painted again asks again.
    void scrolledAwayWithdrawn()
    {
        QTRY_COMPARE(ImageLimits::pendingDecodes(), 0);
        QTemporaryDir dir;
        constexpr int kRows = 20;
        QStandardItemModel model;
        for (int row = 0; row < kRows; ++row) {
            const QString path = dir.filePath(QString("thumb_%1.png").arg(row));
            QImage picture(600, 200, QImage::Format_RGB32);
            picture.fill(Qt::red);
            QVERIFY(picture.save(path, "PNG"));
            auto *item = new QStandardItem;
            item->setData(path, ImageThumbRole);
            model.appendRow(item);
        }
        // The thumbnails take every decoder but the one kept for the seller's own.
        const int held = ImageLimits::decoderCount() - 1;
        TestSupport::HeldDecodes holding(-1, held);
        QTreeWidget list;
        ItemListDelegate delegate(&list);
        QStyleOptionViewItem option;
        option.rect = QRect(0, 0, kWidth, delegate.sizeHint(option, model.index(0, 0)).height());
        const auto paint = [&](int row) {
            QImage image(option.rect.size(), QImage::Format_RGB32);
            image.fill(kProbe);
            QPainter painter(&image);
            delegate.paint(&painter, option, model.index(row, 0));
            return image;
        };
        for (int row = 0; row < kRows; ++row)
            paint(row);
        QVERIFY(holding.entered(held));
        QTRY_COMPARE(ImageLimits::pendingDecodes(), kRows);
        list.verticalScrollBar()->setRange(0, 100);
        list.verticalScrollBar()->setValue(50);
        QTRY_COMPARE(ImageLimits::pendingDecodes(), held);
        // The last row, still shown, is painted again and asks again.
        QCoreApplication::processEvents();
        paint(kRows - 1);
        QTRY_COMPARE(ImageLimits::pendingDecodes(), held + 1);
        holding.letGo(held);
        QTRY_COMPARE(ImageLimits::pendingDecodes(), 0);
        QCoreApplication::processEvents();
        const QRect thumbBox(6, 6, 149, option.rect.height() - 12);
        QVERIFY(matching(paint(kRows - 1), thumbBox, reddish).width() > 100);
    }

    void nothingToPaint()
    {
        QTreeWidget list;
        ItemListDelegate delegate(&list);
        QStandardItemModel model;
        model.appendRow(new QStandardItem);
        QImage image(kWidth, 100, QImage::Format_RGB32);
        image.fill(kProbe);
        const QImage untouched = image;
        QPainter painter(&image);
        QStyleOptionViewItem option;
        option.rect = image.rect();
        delegate.paint(&painter, option, QModelIndex());
        option.rect = QRect(0, 0, 0, 0);
        delegate.paint(&painter, option, model.index(0, 0));
        painter.end();
        QCOMPARE(image, untouched);
    }
};

APP_TEST_MAIN(TestItemListDelegate)
#include "test_itemlistdelegate.moc"