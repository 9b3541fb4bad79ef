#include "core/numberreader.h"
#include "core/statics.h"
#include "tests/support/testmain.h"

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
    void numbers_data();
    void numbers();

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
    // A single mark before exactly three digits: a German seller's file.
    row("ambiguous point groups thousands", "1.234", "1234", "1234");
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

APP_TEST_MAIN(TestStatics)
#include "test_statics.moc"
