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
    void getstr_data();
    void getstr();
    void textConversions_data();
    void textConversions();
    void createThumbScalesToFit_data();
    void createThumbScalesToFit();
    void createThumbWithoutPicture();
    void selectNextAfterRemove_data();
    void selectNextAfterRemove();

private:
    QTemporaryDir m_dir;
};

void TestStatics::getstr_data()
{
    QTest::addColumn<QStringList>("textStartEnd");
    QTest::addColumn<QString>("result");
    const auto row = [](const char *name, const QStringList &textStartEnd, const char *result) {
        QTest::newRow(name) << textStartEnd << QString::fromUtf8(result);
    };
    row("between markers", { "<b>Preis</b>", "<b>", "</b>" }, "Preis");
    row("empty start from the beginning", { "abc;def", "", ";" }, "abc");
    row("empty end to the end", { "id=42&x", "id=", "" }, "42&x");
    row("end searched after start", { "x]y[z]", "[", "]" }, "z");
    row("same marker twice", { "\"Uhr\" und \"Kette\"", "\"", "\"" }, "Uhr");
    row("start missing", { "abc", "<", ">" }, "");
    row("end missing", { "<abc", "<", ">" }, "");
    row("case-sensitive", { "<B>x</B>", "<b>", "</b>" }, "");
    row("empty text", { "", "", "" }, "");
}

void TestStatics::getstr()
{
    QFETCH(QStringList, textStartEnd);
    QFETCH(QString, result);
    QCOMPARE(Statics::getstr(textStartEnd.at(0), textStartEnd.at(1), textStartEnd.at(2)), result);
}

void TestStatics::textConversions_data()
{
    QTest::addColumn<QString>("function");
    QTest::addColumn<QString>("input");
    QTest::addColumn<QString>("output");
    const auto row = [](const char *function, const char *name, const char *in, const char *out) {
        QTest::newRow(qPrintable(QLatin1String(function) + QLatin1String(": ") + name))
            << function << QString::fromUtf8(in) << QString::fromUtf8(out);
    };
    row("hashString", "ascii", "abc", "900150983cd24fb0d6963f7d28e17f72");
    // UTF-8 bytes, not Latin-1 or UTF-16.
    row("hashString", "umlaut, sharp s, euro", "Größe 10 €", "df978844d5c375fc4454ec5085640abd");
    row("fixPrice", "thousands and decimal comma", "1.234,50", "1234.50");
    row("fixPrice", "millions", "1.234.567,89", "1234567.89");
    row("fixPrice", "decimal comma", "12,5", "12.5");
    row("fixPrice", "decimal point stays", "12.50", "12.50");
    row("fixHtml", "umlauts", "&auml;&ouml;&uuml;&Auml;&Ouml;&Uuml;&szlig;", "äöüÄÖÜß");
    row("fixHtml", "euro and nbsp", "12,50&nbsp;&euro; &raquo;", "12,50\u00A0€ »");
    row("fixHtml", "quotes", "&quot;Top&quot; &#39;neu&#39; &apos;ok&apos;", "\"Top\" 'neu' 'ok'");
    row("fixHtml", "numeric references", "&#228;&#xE4;&#XC4;&#8364;&#128512;", "ääÄ€😀");
    row("fixHtml", "amp", "Haus &amp; Garten", "Haus & Garten");
    row("fixHtml", "amp decoded last", "&amp;auml; &amp;#228; &amp;amp;", "&auml; &#228; &amp;");
    row("fixHtml", "unknown or wrong case stays", "&hellip; &lt; &AUML;", "&hellip; &lt; &AUML;");
    row("fixHtml", "lone ampersand", "A & B; C&", "A & B; C&");
    row("fixHtml", "invalid reference stays", "&#0;&#xD800;&#x110000;&#;",
        "&#0;&#xD800;&#x110000;&#;");
}

void TestStatics::textConversions()
{
    QFETCH(QString, function);
    QFETCH(QString, input);
    QFETCH(QString, output);
    if (function == QLatin1String("hashString"))
        QCOMPARE(Statics::hashString(input), output);
    else if (function == QLatin1String("fixPrice"))
        QCOMPARE(Statics::fixPrice(input), output);
    else
        QCOMPARE(Statics::fixHtml(input), output);
}

void TestStatics::createThumbScalesToFit_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QSize>("size");
    QTest::addColumn<QByteArray>("format");
    QTest::addColumn<QSize>("thumbSize");
    QTest::addColumn<QByteArray>("thumbFormat");
    QTest::newRow("wide") << "wide.jpg" << QSize(600, 200) << QByteArray("jpeg") << QSize(150, 50)
                          << QByteArray("jpeg");
    QTest::newRow("tall") << "tall.png" << QSize(100, 400) << QByteArray("png") << QSize(25, 100)
                          << QByteArray("png");
    // The content decides how it is read, the name how it is written.
    QTest::newRow("png named .jpg") << "really png.jpg" << QSize(300, 200) << QByteArray("png")
                                    << QSize(150, 100) << QByteArray("jpeg");
    QTest::newRow("no suffix") << "bild" << QSize(600, 200) << QByteArray("png") << QSize(150, 50)
                               << QByteArray("png");
}

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
    const QString thumbFolder = m_dir.filePath(QStringLiteral("thumbs/"));
    QVERIFY(QDir().mkpath(thumbFolder));

    QCOMPARE(Statics::CreateThumb(m_dir.filePath(name), thumbFolder),
             QStringLiteral("thumb_") + name);

    QImageReader reader(thumbFolder + QStringLiteral("thumb_") + name);
    reader.setDecideFormatFromContent(true);
    QCOMPARE(reader.format(), thumbFormat);
    QCOMPARE(reader.read().size(), thumbSize);
    // Only the thumbnail was written; no temporary file stays behind.
    QCOMPARE(QDir(thumbFolder).entryList(QDir::Files),
             QStringList(QStringLiteral("thumb_") + name));
    QVERIFY(QDir(thumbFolder).removeRecursively());
}

void TestStatics::createThumbWithoutPicture()
{
    const QString folder = m_dir.path() + QLatin1Char('/');
    const QString missing = m_dir.filePath(QStringLiteral("gibt es nicht.jpg"));
    QCOMPARE(Statics::CreateThumb(missing, folder), missing);

    const QString text = m_dir.filePath(QStringLiteral("notiz.jpg"));
    QFile file(text);
    QVERIFY(file.open(QIODevice::WriteOnly) && file.write("Das ist kein Bild.\n") > 0);
    file.close();
    QTest::ignoreMessage(QtWarningMsg, qPrintable(QStringLiteral("Can't load Image ") + text));
    QCOMPARE(Statics::CreateThumb(text, folder), QString());

    QCOMPARE(QDir(folder).entryList({ QStringLiteral("thumb_*") }, QDir::Files), QStringList());
}

void TestStatics::selectNextAfterRemove_data()
{
    QTest::addColumn<int>("rows");
    QTest::addColumn<int>("row");
    QTest::addColumn<int>("selected");
    QTest::newRow("middle row") << 5 << 2 << 2;
    QTest::newRow("past the end") << 5 << 5 << 4;
    QTest::newRow("far past the end") << 3 << 40 << 2;
    QTest::newRow("empty tree") << 0 << 0 << -1;
}

void TestStatics::selectNextAfterRemove()
{
    QFETCH(int, rows);
    QFETCH(int, row);
    QFETCH(int, selected);
    QTreeWidget tree;
    tree.setColumnCount(3);
    tree.setSelectionMode(QAbstractItemView::ExtendedSelection);
    tree.setSelectionBehavior(QAbstractItemView::SelectItems);
    for (int i = 0; i < rows; ++i)
        tree.addTopLevelItem(new QTreeWidgetItem(
            { QString::number(i), QStringLiteral("Titel"), QStringLiteral("1,00") }));
    if (rows > 0) {
        // A selection left over from before the removal must go.
        tree.topLevelItem(0)->setSelected(true);
        tree.setCurrentItem(tree.topLevelItem(0), 1);
    }

    Statics::SelectNextAfterRemove(&tree, row);

    QCOMPARE(tree.indexOfTopLevelItem(tree.currentItem()), selected);
    const QModelIndexList indexes = tree.selectionModel()->selectedIndexes();
    QCOMPARE(indexes.size(), selected < 0 ? 0 : tree.columnCount());
    for (const QModelIndex &index : indexes)
        QCOMPARE(index.row(), selected);
}

APP_TEST_MAIN(TestStatics)
#include "test_statics.moc"
