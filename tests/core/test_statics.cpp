#include "core/imagelimits.h"
#include "core/numberreader.h"
#include "core/stagedfiles.h"
#include "core/statics.h"
#include "tests/support/helddecodes.h"
#include "tests/support/testmain.h"

#include <QBuffer>
#include <QImage>
#include <QImageReader>
#include <QTemporaryDir>

class TestStatics : public QObject
{
    Q_OBJECT
private slots:
    void textFunctions_data();
    void textFunctions();
    void createThumb();
    void thumbnailFitsTheBoxSmoothly_data();
    void thumbnailFitsTheBoxSmoothly();
    void thumbnailOfAStagedPicture();
    void thumbnailGivenUpAfterItsTime();
    void thumbnailIsPixelsOnly();
    void numbers_data();
    void numbers();
    void numbersInAColumn_data();
    void numbersInAColumn();
    void columnMarks_data();
    void columnMarks();

private:
    QTemporaryDir m_dir;
};

void TestStatics::textFunctions_data()
{
    QTest::addColumn<QString>("function");
    QTest::addColumn<QStringList>("input");
    QTest::addColumn<QString>("output");
    const auto row
        = [](const char *function, const char *name, const QStringList &in, const char *out) {
              QTest::newRow(qPrintable(QLatin1String(function) + ": " + name))
                  << function << in << QString::fromUtf8(out);
          };
    row("getstr", "between markers", { "<b>Preis</b>", "<b>", "</b>" }, "Preis");
    row("getstr", "empty start from the beginning", { "abc;def", "", ";" }, "abc");
    row("getstr", "empty end to the end", { "id=42&x", "id=", "" }, "42&x");
    row("getstr", "end searched after start", { "x]y[z]", "[", "]" }, "z");
    row("getstr", "start missing", { "abc", "<", ">" }, "");
    row("getstr", "end missing", { "<abc", "<", ">" }, "");
    // UTF-8 bytes, not Latin-1 or UTF-16.
    row("hashString", "umlaut, sharp s, euro", { "Größe 10 €" },
        "df978844d5c375fc4454ec5085640abd");
    row("fixPrice", "thousands and decimal comma", { "1.234.567,89" }, "1234567.89");
    row("fixPrice", "decimal point stays", { "12.50" }, "12.50");
    row("fixPrice", "English thousands and decimal point", { "1,234.50" }, "1234.50");
    row("fixPrice", "currency-formatted cell", { "19,99 €" }, "19.99");
    row("fixPrice", "a spreadsheet's scientific form", { "1,5E+03" }, "1500");
    row("fixPrice", "no number gives nothing", { "12,3,4" }, "");
    row("fixHtml", "named", { "&Auml;&szlig;&quot;12,50&nbsp;&euro;&apos;" }, "Äß\"12,50\u00A0€'");
    row("fixHtml", "numeric references", { "&#228;&#xE4;&#XC4;&#128512;" }, "ääÄ😀");
    row("fixHtml", "amp decoded last", { "&amp;auml; &amp;#228; &amp;amp;" },
        "&auml; &#228; &amp;");
    row("fixHtml", "unknown or invalid stays", { "&AUML; A & B; &#0;&#xD800;&#x110000;&#; C&" },
        "&AUML; A & B; &#0;&#xD800;&#x110000;&#; C&");
    // The parts the main window splits the message into, joined by "|": always title and text.
    row("notificationMessage", "separators in the text",
        { "Import abgeschlossen", "„Stuhl§§§/some/path/chosen.wav§§§“ ist importiert" },
        "Import abgeschlossen|„Stuhl/some/path/chosen.wav“ ist importiert");
    row("notificationMessage", "title ending in §", { "Paragraf §§", "§ 13 BGB" },
        "Paragraf |§ 13 BGB");
    row("notificationMessage", "a longer run of §", { "a§§§§b", "§§§§§§" }, "a§b|");
}

void TestStatics::textFunctions()
{
    QFETCH(QString, function);
    QFETCH(QStringList, input);
    QFETCH(QString, output);
    const QString in = input.value(0);
    if (function == "getstr")
        QCOMPARE(Statics::getstr(in, input.at(1), input.at(2)), output);
    else if (function == "hashString")
        QCOMPARE(Statics::hashString(in), output);
    else if (function == "fixPrice")
        QCOMPARE(Statics::fixPrice(in), output);
    else if (function == "notificationMessage")
        QCOMPARE(Statics::notificationMessage(in, input.at(1))
                     .split(Statics::notificationSeparator)
                     .join(QLatin1Char('|')),
                 output);
    else
        QCOMPARE(Statics::fixHtml(in), output);
}

// Scaled to fit 150 x 100 and written alone (no temporary file stays): read by its content,
// written in the format its name asks for, else in the picture's own. A missing picture
// gives its name back, an unreadable one nothing.
void TestStatics::createThumb()
{
    const QString folder = m_dir.filePath("thumbs/");
    QVERIFY(QDir().mkpath(folder));
    QImage image(600, 200, QImage::Format_RGB32);
    image.fill(Qt::darkCyan);
    for (const QString name : { "really png.jpg", "bild" }) {
        QVERIFY(image.save(m_dir.filePath(name), "png"));
        QCOMPARE(Statics::CreateThumb(m_dir.filePath(name), folder), "thumb_" + name);
        QImageReader reader(folder + "thumb_" + name);
        reader.setDecideFormatFromContent(true);
        QCOMPARE(reader.format(), QByteArray(name == "bild" ? "png" : "jpeg"));
        QCOMPARE(reader.read().size(), QSize(150, 50));
    }
    const QStringList written = { "thumb_bild", "thumb_really png.jpg" };
    QCOMPARE(QDir(folder).entryList(QDir::Files), written);

    const QString missing = m_dir.filePath("gibt es nicht.jpg");
    QCOMPARE(Statics::CreateThumb(missing, folder), missing);
    const QString text = m_dir.filePath("notiz.jpg");
    QFile file(text);
    QVERIFY(file.open(QIODevice::WriteOnly) && file.write("Das ist kein Bild.\n") > 0);
    file.close();
    QTest::ignoreMessage(QtWarningMsg, qPrintable("Can't load Image " + text));
    QCOMPARE(Statics::CreateThumb(text, folder), QString());
    QCOMPARE(QDir(folder).entryList(QDir::Files), written);
}

namespace {

// Black and white stripes four pixels wide: scaled down smoothly they turn grey, picked pixel
// by pixel they stay black and white (also after a decoder halved or quartered them).
QByteArray stripes(const QSize &size, const char *format)
{
    QImage image(size, QImage::Format_RGB32);
    for (int x = 0; x < size.width(); ++x)
        image.setPixelColor(x, 0, (x / 4) % 2 ? Qt::white : Qt::black);
    for (int y = 1; y < size.height(); ++y)
        std::copy_n(image.constScanLine(0), image.bytesPerLine(), image.scanLine(y));
    QByteArray bytes;
    QBuffer buffer(&bytes);
    return buffer.open(QIODevice::WriteOnly) && image.save(&buffer, format, 95) ? bytes
                                                                                : QByteArray();
}

} // namespace

// However the picture is decoded, the thumbnail is the picture scaled into the 150 x 100 box,
// smoothly: a bigger picture averaged (all grey), a smaller one blended (some grey).
void TestStatics::thumbnailFitsTheBoxSmoothly_data()
{
    QTest::addColumn<QByteArray>("format");
    QTest::addColumn<QSize>("size");
    QTest::addColumn<QSize>("thumb");
    QTest::addColumn<double>("minGreyShare");
    QTest::newRow("camera JPEG") << QByteArray("jpeg") << QSize(800, 600) << QSize(133, 100) << 1.0;
    QTest::newRow("wide JPEG") << QByteArray("jpeg") << QSize(1600, 400) << QSize(150, 37) << 1.0;
    QTest::newRow("tall JPEG of odd size")
        << QByteArray("jpeg") << QSize(301, 903) << QSize(33, 100) << 1.0;
    QTest::newRow("JPEG just over the box")
        << QByteArray("jpeg") << QSize(151, 101) << QSize(149, 100) << 0.0;
    QTest::newRow("PNG") << QByteArray("png") << QSize(1000, 500) << QSize(150, 75) << 1.0;
    QTest::newRow("small JPEG, scaled up")
        << QByteArray("jpeg") << QSize(60, 40) << QSize(150, 100) << 0.1;
}

void TestStatics::thumbnailFitsTheBoxSmoothly()
{
    QFETCH(QByteArray, format);
    QFETCH(QSize, size);
    QFETCH(QSize, thumb);
    QFETCH(double, minGreyShare);
    const QString folder = m_dir.filePath("fits/");
    QVERIFY(QDir().mkpath(folder));
    const QString name = "bild." + QString::fromLatin1(format);
    StagedFiles picture;
    QVERIFY(picture.write(m_dir.filePath(name), stripes(size, format)) && picture.commit());

    QCOMPARE(Statics::CreateThumb(m_dir.filePath(name), folder), "thumb_" + name);
    const QImage written(folder + "thumb_" + name);
    QCOMPARE(written.size(), thumb);
    int grey = 0;
    for (int x = 0; x < written.width(); ++x)
        grey += qAbs(qGray(written.pixel(x, 0)) - 128) <= 64 ? 1 : 0;
    QVERIFY2(grey >= minGreyShare * written.width(), qPrintable(QString::number(grey)));
}

// A picture of a page not named yet: its thumbnail is made from what was written and waits
// with it for the commit.
void TestStatics::thumbnailOfAStagedPicture()
{
    const QString folder = m_dir.filePath("staged/");
    QVERIFY(QDir().mkpath(folder));
    StagedFiles staged;
    QVERIFY(staged.write(folder + "7_0.jpg", stripes(QSize(800, 600), "jpeg")));
    QCOMPARE(Statics::CreateThumb(folder + "7_0.jpg", folder, &staged), "thumb_7_0.jpg");
    QVERIFY(staged.contains(folder + "thumb_7_0.jpg") && QDir(folder).isEmpty());
    QVERIFY(staged.commit());
    QCOMPARE(QImage(folder + "thumb_7_0.jpg").size(), QSize(133, 100));
}

// The picture is decoded on a picture thread: one still decoding past the decode time-out is
// given up (no thumbnail, the empty text), and what it yields later is dropped.
void TestStatics::thumbnailGivenUpAfterItsTime()
{
    const QString folder = m_dir.filePath("held/");
    QVERIFY(QDir().mkpath(folder));
    StagedFiles picture;
    QVERIFY(picture.write(folder + "uhr.jpg", stripes(QSize(800, 600), "jpeg"))
            && picture.commit());
    TestSupport::HeldDecodes held(300);
    const QString thumb = Statics::CreateThumb(folder + "uhr.jpg", folder);
    QVERIFY(held.entered(1, 0));
    held.letGo();
    QCOMPARE(thumb, QString());
    QTRY_COMPARE(ImageLimits::pendingDecodes(), 0);
    QCOMPARE(QDir(folder).entryList(QDir::Files), QStringList { "uhr.jpg" });

    QCOMPARE(Statics::CreateThumb(folder + "uhr.jpg", folder), QString("thumb_uhr.jpg"));
    QCOMPARE(QImage(folder + "thumb_uhr.jpg").size(), QSize(133, 100));
}

// The program's own thumbnail holds the pixels and nothing else of the picture (a PNG's text
// chunks would cost every list that shows it their size again), and is the seller's alone,
// also where a thumbnail of another mode stood before.
void TestStatics::thumbnailIsPixelsOnly()
{
    const QString folder = m_dir.filePath("text/");
    QVERIFY(QDir().mkpath(folder));
    QImage image(300, 200, QImage::Format_RGB32);
    image.fill(Qt::darkCyan);
    image.setText("Comment", QString(100000, QLatin1Char('x')));
    image.setText("Author", "jemand");
    image.setDotsPerMeterX(11811);
    QVERIFY(image.save(folder + "beschrieben.png"));
    QVERIFY(!QImageReader(folder + "beschrieben.png").textKeys().isEmpty());
    QFile old(folder + "thumb_beschrieben.png");
    QVERIFY(old.open(QIODevice::WriteOnly) && old.write("alt") == 3);
    old.close();
    QVERIFY(QFile::setPermissions(old.fileName(), QFile::permissions(old.fileName())
                                                      | QFileDevice::ReadOther));

    QCOMPARE(Statics::CreateThumb(folder + "beschrieben.png", folder),
             QString("thumb_beschrieben.png"));
    QImageReader thumb(folder + "thumb_beschrieben.png");
    QCOMPARE(thumb.textKeys(), QStringList());
    QCOMPARE(thumb.read().size(), QSize(150, 100));
    QCOMPARE(QFile::permissions(folder + "thumb_beschrieben.png") & 0x0077,
             QFileDevice::Permissions());
    QCOMPARE(QFileInfo(folder + "thumb_beschrieben.png").size() < 10000, true);

    // Also a thumbnail written from a picture decoded elsewhere that still has its texts.
    QCOMPARE(Statics::WriteThumb(image.scaled(150, 100), folder + "direkt.png", "png", folder),
             QString("thumb_direkt.png"));
    QCOMPARE(QImageReader(folder + "thumb_direkt.png").textKeys(), QStringList());
}

// Every form a number column meets, read by the one reader of all importers and dialogs:
// right, or refused (empty), never turned into another number.
void TestStatics::numbers_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("decimal"); // read as a price
    QTest::addColumn<QString>("whole"); // read as a count
    const auto row
        = [](const char *name, const char *text, const char *decimal, const char *whole) {
              QTest::newRow(name) << QString::fromUtf8(text) << QString::fromLatin1(decimal)
                                  << QString::fromLatin1(whole);
          };
    row("plain", "1234", "1234", "1234");
    row("German thousands and decimals", "1.234,50", "1234.50", "");
    row("German decimals", "1234,50", "1234.50", "");
    row("English decimals", "1234.50", "1234.50", "");
    row("English thousands and decimals", "1,234.50", "1234.50", "");
    row("English thousands", "2,500.00", "2500.00", "2500");
    row("millions, German", "1.234.567,89", "1234567.89", "");
    row("millions, English", "1,234,567.89", "1234567.89", "");
    row("several points group thousands", "1.234.567", "1234567", "1234567");
    row("several commas group thousands", "1,234,567", "1234567", "1234567");
    row("decimal comma, as always", "12,5", "12.5", "");
    row("decimal point, as always", "12.50", "12.50", "");
    row("whole with zero decimals", "3,00", "3.00", "3");
    row("leading decimal mark", ",5", "0.5", "");
    row("negative", "-1.234,5", "-1234.5", "");
    // A single mark before exactly three digits, typed into the German fields; a currency
    // of the text itself says otherwise.
    row("ambiguous point groups thousands", "1.234", "1234", "1234");
    row("ambiguous, dollar sign: thousands", "$2,500", "2500", "2500");
    row("ambiguous, code USD: thousands", "USD 1,234", "1234", "1234");
    row("ambiguous, pound sign: thousands", "\u00A31,000", "1000", "1000");
    row("ambiguous, euro sign: German", "1,234 \u20AC", "1.234", "");
    row("ambiguous comma begins decimals", "1,234", "1.234", "1234");
    row("ambiguous comma in a count of a thousand", "1,000", "1.000", "1000");
    row("four digits before: decimals", "1234.567", "1234.567", "");
    row("leading zero: decimals", "0.125", "0.125", "");
    row("euro sign after", "19,99 €", "19.99", "");
    row("euro sign after, no-break space", "19,99\u00A0€", "19.99", "");
    row("euro sign before", "€19.99", "19.99", "");
    row("code before", "EUR 19,99", "19.99", "");
    row("code after", "19,99 EUR", "19.99", "");
    row("dollar with English thousands", "$1,234.50", "1234.50", "");
    row("blanks around", "  7,90 ", "7.90", "");
    // Refused, and named as no number by the callers.
    row("marks in an impossible order", "1,2.3,4", "", "");
    row("decimal mark twice", "1.234,5.6", "", "");
    row("several decimal commas", "12,3,4", "", "");
    row("groups of two", "1.23,50", "", "");
    row("thousands group too long", "1.2345,00", "", "");
    row("words", "zwölf", "", "");
    row("currency alone", "EUR", "", "");
    row("two currencies", "€ 5 €", "", "");
    row("blank inside", "1 234,50", "", "");
    row("scientific form only when asked", "1e5", "", "");
    row("empty", "", "", "");
    row("sign alone", "-", "", "");
    row("other digits", "\u0661\u0662", "", "");
}

void TestStatics::numbers()
{
    QFETCH(QString, text);
    QFETCH(QString, decimal);
    QFETCH(QString, whole);
    QCOMPARE(NumberReader::plain(text), decimal);
    QCOMPARE(NumberReader::plain(text, NumberReader::Whole), whole);
    double value = -1;
    QCOMPARE(NumberReader::read(text, &value), !decimal.isEmpty());
    QCOMPARE(value, decimal.isEmpty() ? -1.0 : decimal.toDouble());
}

using Marks = NumberReader::Marks;
using Refusal = NumberReader::Refusal;
Q_DECLARE_METATYPE(NumberReader::Marks)
Q_DECLARE_METATYPE(NumberReader::Refusal)

// A number of a file's column: read by what the column shows, refused with its reason
// when the column takes no such number.
void TestStatics::numbersInAColumn_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<Marks>("marks"); // what the rest of the column shows
    QTest::addColumn<int>("options");
    QTest::addColumn<QString>("plain"); // empty: refused
    QTest::addColumn<Refusal>("why");
    const int price = NumberReader::Price | NumberReader::Exponent;
    const int count = NumberReader::Whole | NumberReader::NotNegative | NumberReader::Exponent;
    const auto row = [](const char *name, const char *text, Marks marks, int options,
                        const char *plain, Refusal why) {
        QTest::newRow(name) << QString::fromUtf8(text) << marks << options
                            << QString::fromLatin1(plain) << why;
    };
    // One mark before three digits, with nothing to decide it: never a price of 1.234.
    row("comma, column undecided", "1,234", Marks::Unknown, price, "", Refusal::Ambiguous);
    row("point, column undecided", "1.000", Marks::Unknown, price, "", Refusal::Ambiguous);
    row("comma, English column", "1,234", Marks::English, price, "1234", Refusal::None);
    row("comma, German column: three decimals", "1,234", Marks::German, price, "",
        Refusal::TooManyDecimals);
    row("comma, German column: zeros after two", "1,000", Marks::German, price, "1.000",
        Refusal::None);
    row("point, German column", "1.000", Marks::German, price, "1000", Refusal::None);
    row("dollar sign", "$2,500", Marks::Unknown, price, "2500", Refusal::None);
    row("euro sign, three decimals", "1,234 \u20AC", Marks::Unknown, price, "",
        Refusal::TooManyDecimals);
    row("code EUR, thousands point", "EUR 1.000", Marks::Unknown, price, "1000", Refusal::None);
    row("the column's marks before the cell's currency", "$1,234", Marks::German, price, "",
        Refusal::TooManyDecimals);
    row("unambiguous in any column", "1,234.50", Marks::German, price, "1234.50", Refusal::None);
    // A count: either mark groups thousands, unless the column shows its decimal mark.
    row("count, comma, column undecided", "1,000", Marks::Unknown, count, "1000", Refusal::None);
    row("count, point, column undecided", "1.000", Marks::Unknown, count, "1000", Refusal::None);
    row("count, comma, German column", "1,000", Marks::German, count, "1", Refusal::None);
    // Bounds.
    row("negative price", "-3,00", Marks::Unknown, price, "", Refusal::Negative);
    row("negative count", "-5", Marks::Unknown, count, "", Refusal::Negative);
    row("negative zero", "-0,00", Marks::Unknown, price, "-0.00", Refusal::None);
    row("price at the maximum", "999.999,99", Marks::Unknown, price, "999999.99", Refusal::None);
    row("price over the maximum", "1.000.000", Marks::Unknown, price, "", Refusal::TooLarge);
    row("nineteen nines", "9999999999999999999", Marks::Unknown, price, "", Refusal::TooLarge);
    row("nineteen nines as a count", "9999999999999999999", Marks::Unknown, count, "",
        Refusal::NoNumber);
    row("three decimals", "1234.567", Marks::Unknown, price, "", Refusal::TooManyDecimals);
    row("three decimals, scientific", "1.2345E+01", Marks::Unknown, price, "",
        Refusal::TooManyDecimals);
    row("two decimals and zeros", "12,5000", Marks::Unknown, price, "12.5000", Refusal::None);
}

void TestStatics::numbersInAColumn()
{
    QFETCH(QString, text);
    QFETCH(Marks, marks);
    QFETCH(int, options);
    QFETCH(QString, plain);
    QFETCH(Refusal, why);
    Refusal refusal = Refusal::None;
    QCOMPARE(NumberReader::plain(text, NumberReader::Options(options), marks, &refusal), plain);
    QCOMPARE(refusal, why);
    double value = -1;
    QCOMPARE(NumberReader::read(text, &value, NumberReader::Options(options), marks, &refusal),
             !plain.isEmpty());
    QCOMPARE(refusal, why);
    QCOMPARE(value, plain.isEmpty() ? -1.0 : plain.toDouble());
}

// What the cells of a column show of the file's decimal mark.
void TestStatics::columnMarks_data()
{
    QTest::addColumn<QStringList>("cells");
    QTest::addColumn<Marks>("marks");
    QTest::newRow("nothing") << QStringList { "12", "", "Preis", "1,234" } << Marks::Unknown;
    QTest::newRow("English thousands and decimals")
        << QStringList { "1,234", "1,234.50" } << Marks::English;
    QTest::newRow("German decimals") << QStringList { "1,234", "3,99" } << Marks::German;
    QTest::newRow("English decimals") << QStringList { "3.5" } << Marks::English;
    QTest::newRow("leading zero") << QStringList { "0,125" } << Marks::German;
    QTest::newRow("decimals of both kinds") << QStringList { "3,99", "3.99" } << Marks::Unknown;
    QTest::newRow("dollar sign") << QStringList { "$2,500", "1,234" } << Marks::English;
    QTest::newRow("code GBP") << QStringList { "GBP 5" } << Marks::English;
    QTest::newRow("euro sign") << QStringList { "5 \u20AC", "1.000" } << Marks::German;
    QTest::newRow("currencies of both kinds") << QStringList { "$5", "5 \u20AC" } << Marks::Unknown;
    QTest::newRow("marks before currencies") << QStringList { "$5", "3,99" } << Marks::German;
    QTest::newRow("code CHF tells nothing") << QStringList { "CHF 5" } << Marks::Unknown;
}

void TestStatics::columnMarks()
{
    QFETCH(QStringList, cells);
    QFETCH(Marks, marks);
    NumberReader::ColumnMarks column;
    for (const QString &cell : cells)
        column.add(cell);
    QCOMPARE(column.marks(), marks);
}

APP_TEST_MAIN(TestStatics)
#include "test_statics.moc"
