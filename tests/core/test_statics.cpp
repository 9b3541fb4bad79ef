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

APP_TEST_MAIN(TestStatics)
#include "test_statics.moc"
