#include "core/statics.h"
#include "tests/support/testmain.h"

#include <QImage>
#include <QImageReader>
#include <QTemporaryDir>
#include <QTreeWidget>

class TestStatics : public QObject
{
    Q_OBJECT
private slots:
    void textFunctions_data();
    void textFunctions();
    void createThumbScalesToFit_data();
    void createThumbScalesToFit();
    void createThumbWithoutPicture();
    void selectNextAfterRemove();

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
    row("getstr", "same marker twice", { "\"Uhr\" und \"Kette\"", "\"", "\"" }, "Uhr");
    row("getstr", "start missing", { "abc", "<", ">" }, "");
    row("getstr", "end missing", { "<abc", "<", ">" }, "");
    row("getstr", "case-sensitive", { "<B>x</B>", "<b>", "</b>" }, "");
    row("getstr", "empty text", { "", "", "" }, "");
    row("hashString", "ascii", { "abc" }, "900150983cd24fb0d6963f7d28e17f72");
    // UTF-8 bytes, not Latin-1 or UTF-16.
    row("hashString", "umlaut, sharp s, euro", { "Größe 10 €" },
        "df978844d5c375fc4454ec5085640abd");
    row("fixPrice", "thousands and decimal comma", { "1.234,50" }, "1234.50");
    row("fixPrice", "millions", { "1.234.567,89" }, "1234567.89");
    row("fixPrice", "decimal comma", { "12,5" }, "12.5");
    row("fixPrice", "decimal point stays", { "12.50" }, "12.50");
    row("fixHtml", "umlauts", { "&auml;&ouml;&uuml;&Auml;&Ouml;&Uuml;&szlig;" }, "äöüÄÖÜß");
    row("fixHtml", "euro and nbsp", { "12,50&nbsp;&euro; &raquo;" }, "12,50\u00A0€ »");
    row("fixHtml", "quotes", { "&quot;Top&quot; &#39;neu&#39; &apos;ok&apos;" },
        "\"Top\" 'neu' 'ok'");
    row("fixHtml", "numeric references", { "&#228;&#xE4;&#XC4;&#8364;&#128512;" }, "ääÄ€😀");
    row("fixHtml", "amp decoded last", { "&amp;auml; &amp;#228; &amp;amp;" },
        "&auml; &#228; &amp;");
    row("fixHtml", "unknown or wrong case stays", { "&hellip; &lt; &AUML;" },
        "&hellip; &lt; &AUML;");
    row("fixHtml", "lone ampersand", { "A & B; C&" }, "A & B; C&");
    row("fixHtml", "invalid reference stays", { "&#0;&#xD800;&#x110000;&#;" },
        "&#0;&#xD800;&#x110000;&#;");
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
    else
        QCOMPARE(Statics::fixHtml(in), output);
}

void TestStatics::createThumbScalesToFit_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QSize>("size");
    QTest::addColumn<QByteArray>("format");
    QTest::addColumn<QSize>("thumbSize");
    QTest::addColumn<QByteArray>("thumbFormat");
    const auto row = [](const char *name, QSize size, const char *format, QSize thumb,
                        const char *thumbFormat) {
        QTest::newRow(name) << QString(name) << size << QByteArray(format) << thumb
                            << QByteArray(thumbFormat);
    };
    row("wide.jpg", { 600, 200 }, "jpeg", { 150, 50 }, "jpeg");
    row("tall.png", { 100, 400 }, "png", { 25, 100 }, "png");
    // The content decides how it is read, the name how it is written.
    row("really png.jpg", { 300, 200 }, "png", { 150, 100 }, "jpeg");
    row("bild", { 600, 200 }, "png", { 150, 50 }, "png");
}

// Scaled to fit 150 x 100, written (alone, no temporary file stays) in the format its name
// asks for, else in the picture's own.
void TestStatics::createThumbScalesToFit()
{
    QFETCH(QString, name);
    QFETCH(QSize, size);
    QFETCH(QByteArray, format);
    QFETCH(QSize, thumbSize);
    QFETCH(QByteArray, thumbFormat);
    QImage image(size, QImage::Format_RGB32);
    image.fill(Qt::darkCyan);
    QVERIFY(image.save(m_dir.filePath(name), format.constData()));
    const QString thumbFolder = m_dir.filePath("thumbs/");
    QVERIFY(QDir().mkpath(thumbFolder));

    QCOMPARE(Statics::CreateThumb(m_dir.filePath(name), thumbFolder), "thumb_" + name);

    QImageReader reader(thumbFolder + "thumb_" + name);
    reader.setDecideFormatFromContent(true);
    QCOMPARE(reader.format(), thumbFormat);
    QCOMPARE(reader.read().size(), thumbSize);
    QCOMPARE(QDir(thumbFolder).entryList(QDir::Files), QStringList("thumb_" + name));
    QVERIFY(QDir(thumbFolder).removeRecursively());
}

// A missing picture gives its name back, an unreadable one nothing; neither leaves a file.
void TestStatics::createThumbWithoutPicture()
{
    const QString folder = m_dir.path() + '/';
    const QString missing = m_dir.filePath("gibt es nicht.jpg");
    QCOMPARE(Statics::CreateThumb(missing, folder), missing);
    const QString text = m_dir.filePath("notiz.jpg");
    QFile file(text);
    QVERIFY(file.open(QIODevice::WriteOnly) && file.write("Das ist kein Bild.\n") > 0);
    file.close();
    QTest::ignoreMessage(QtWarningMsg, qPrintable("Can't load Image " + text));
    QCOMPARE(Statics::CreateThumb(text, folder), QString());
    QCOMPARE(QDir(folder).entryList({ "thumb_*" }, QDir::Files), QStringList());
}

// The row, or the last one, becomes current and is selected whole; a selection left over
// from before the removal goes.
void TestStatics::selectNextAfterRemove()
{
    // rows in the tree, row asked for, row selected
    for (const QVector<int> &c :
         QVector<QVector<int>> { { 5, 2, 2 }, { 5, 5, 4 }, { 3, 40, 2 }, { 0, 0, -1 } }) {
        QTreeWidget tree;
        tree.setColumnCount(3);
        tree.setSelectionMode(QAbstractItemView::ExtendedSelection);
        tree.setSelectionBehavior(QAbstractItemView::SelectItems);
        for (int i = 0; i < c[0]; ++i)
            tree.addTopLevelItem(new QTreeWidgetItem({ QString::number(i), "Titel", "1,00" }));
        if (c[0] > 0)
            tree.setCurrentItem(tree.topLevelItem(0), 1);

        Statics::SelectNextAfterRemove(&tree, c[1]);

        QCOMPARE(tree.indexOfTopLevelItem(tree.currentItem()), c[2]);
        QList<int> selectedRows;
        for (const QModelIndex &index : tree.selectionModel()->selectedIndexes())
            selectedRows << index.row();
        QCOMPARE(selectedRows, (c[2] < 0 ? QList<int>() : QList<int> { c[2], c[2], c[2] }));
    }
}

APP_TEST_MAIN(TestStatics)
#include "test_statics.moc"
