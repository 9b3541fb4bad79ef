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
    void hashString_data();
    void hashString();
    void fixPrice_data();
    void fixPrice();
    void fixHtml_data();
    void fixHtml();
    void createThumbScalesToFit_data();
    void createThumbScalesToFit();
    void createThumbMissingFileKeepsPath();
    void createThumbUnreadableFileGivesEmpty();
    void createThumbUnwritableFolderGivesEmpty();
    void selectNextAfterRemove_data();
    void selectNextAfterRemove();
    void selectNextAfterRemoveEmptyTree();

private:
    QString writeImage(const QString &name, const QSize &size, const char *format);
    QTemporaryDir m_dir;
};

void TestStatics::getstr_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("start");
    QTest::addColumn<QString>("end");
    QTest::addColumn<QString>("result");
    QTest::newRow("between markers") << "<b>Preis</b>"
                                     << "<b>"
                                     << "</b>"
                                     << "Preis";
    QTest::newRow("empty start from the beginning") << "abc;def"
                                                    << ""
                                                    << ";"
                                                    << "abc";
    QTest::newRow("empty end to the end") << "id=42&x"
                                          << "id="
                                          << ""
                                          << "42&x";
    QTest::newRow("both empty") << "alles"
                                << ""
                                << ""
                                << "alles";
    QTest::newRow("first start, next end") << "[a][b]"
                                           << "["
                                           << "]"
                                           << "a";
    QTest::newRow("end searched after start") << "x]y[z]"
                                              << "["
                                              << "]"
                                              << "z";
    QTest::newRow("end before start only") << "]abc["
                                           << "["
                                           << "]"
                                           << "";
    QTest::newRow("start missing") << "abc"
                                   << "<"
                                   << ">"
                                   << "";
    QTest::newRow("end missing") << "<abc"
                                 << "<"
                                 << ">"
                                 << "";
    QTest::newRow("case-sensitive") << "<B>x</B>"
                                    << "<b>"
                                    << "</b>"
                                    << "";
    QTest::newRow("empty text") << ""
                                << ""
                                << ""
                                << "";
    QTest::newRow("empty between") << "<b></b>"
                                   << "<b>"
                                   << "</b>"
                                   << "";
    QTest::newRow("same marker twice") << "\"Uhr\" und \"Kette\""
                                       << "\""
                                       << "\""
                                       << "Uhr";
}

void TestStatics::getstr()
{
    QFETCH(QString, text);
    QFETCH(QString, start);
    QFETCH(QString, end);
    QFETCH(QString, result);
    QCOMPARE(Statics::getstr(text, start, end), result);
}

void TestStatics::hashString_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("md5");
    QTest::newRow("empty") << ""
                           << "d41d8cd98f00b204e9800998ecf8427e";
    QTest::newRow("abc") << "abc"
                         << "900150983cd24fb0d6963f7d28e17f72";
    QTest::newRow("fox") << "The quick brown fox jumps over the lazy dog"
                         << "9e107d9d372bb6826bd81d3542a419d6";
    // UTF-8 bytes, not Latin-1 or UTF-16.
    QTest::newRow("umlaut") << QStringLiteral("\u00E4") << "8419b71c87a225a2c70b50486fbee545";
    QTest::newRow("umlaut, sharp s, euro")
        << QStringLiteral("Gr\u00F6\u00DFe 10 \u20AC") << "df978844d5c375fc4454ec5085640abd";
}

void TestStatics::hashString()
{
    QFETCH(QString, text);
    QFETCH(QString, md5);
    QCOMPARE(Statics::hashString(text), md5);
}

void TestStatics::fixPrice_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("price");
    QTest::newRow("thousands and decimal comma") << "1.234,50"
                                                 << "1234.50";
    QTest::newRow("millions") << "1.234.567,89"
                              << "1234567.89";
    QTest::newRow("decimal comma") << "12,5"
                                   << "12.5";
    QTest::newRow("decimal point stays") << "12.50"
                                         << "12.50";
    QTest::newRow("integer") << "7"
                             << "7";
    QTest::newRow("empty") << ""
                           << "";
}

void TestStatics::fixPrice()
{
    QFETCH(QString, text);
    QFETCH(QString, price);
    QCOMPARE(Statics::fixPrice(text), price);
}

void TestStatics::fixHtml_data()
{
    QTest::addColumn<QString>("html");
    QTest::addColumn<QString>("text");
    QTest::newRow("umlauts") << "&auml;&ouml;&uuml;&Auml;&Ouml;&Uuml;&szlig;"
                             << QStringLiteral("\u00E4\u00F6\u00FC\u00C4\u00D6\u00DC\u00DF");
    QTest::newRow("euro") << "12,50&nbsp;&euro;" << QStringLiteral("12,50\u00A0\u20AC");
    QTest::newRow("quotes and apostrophes") << "&quot;Top&quot; &#39;neu&#39; &apos;ok&apos;"
                                            << "\"Top\" 'neu' 'ok'";
    QTest::newRow("slash and raquo") << "a&#47;b &raquo; c" << QStringLiteral("a/b \u00BB c");
    QTest::newRow("decimal and hex references")
        << "&#228;&#xE4;&#XC4;&#8364;" << QStringLiteral("\u00E4\u00E4\u00C4\u20AC");
    QTest::newRow("outside the BMP") << "&#128512;" << QString::fromUtf8("\xF0\x9F\x98\x80");
    QTest::newRow("amp") << "Haus &amp; Garten"
                         << "Haus & Garten";
    QTest::newRow("amp decoded last") << "&amp;auml;"
                                      << "&auml;";
    QTest::newRow("amp before numeric") << "&amp;#228;"
                                        << "&#228;";
    QTest::newRow("double escaped amp") << "&amp;amp;"
                                        << "&amp;";
    QTest::newRow("entities are case-sensitive") << "&AUML;"
                                                 << "&AUML;";
    QTest::newRow("unknown entity stays") << "&hellip; &lt;"
                                          << "&hellip; &lt;";
    QTest::newRow("lone ampersand") << "A & B; C&"
                                    << "A & B; C&";
    QTest::newRow("invalid reference stays") << "&#0;&#xD800;&#x110000;&#;&#x;"
                                             << "&#0;&#xD800;&#x110000;&#;&#x;";
    QTest::newRow("plain") << "Uhr"
                           << "Uhr";
}

void TestStatics::fixHtml()
{
    QFETCH(QString, html);
    QFETCH(QString, text);
    QCOMPARE(Statics::fixHtml(html), text);
}

QString TestStatics::writeImage(const QString &name, const QSize &size, const char *format)
{
    QImage image(size, QImage::Format_RGB32);
    image.fill(Qt::darkCyan);
    const QString path = m_dir.filePath(name);
    if (!image.save(path, format))
        return QString();
    return path;
}

void TestStatics::createThumbScalesToFit_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QSize>("size");
    QTest::addColumn<QByteArray>("format");
    QTest::addColumn<QSize>("thumbSize");
    QTest::newRow("wide") << "wide.jpg" << QSize(600, 200) << QByteArray("jpg") << QSize(150, 50);
    QTest::newRow("tall") << "tall.png" << QSize(100, 400) << QByteArray("png") << QSize(25, 100);
    QTest::newRow("same aspect ratio")
        << "exact.png" << QSize(300, 200) << QByteArray("png") << QSize(150, 100);
    QTest::newRow("png named .jpg")
        << "really png.jpg" << QSize(600, 200) << QByteArray("png") << QSize(150, 50);
    QTest::newRow("jpeg named .png")
        << "really jpeg.png" << QSize(100, 400) << QByteArray("jpg") << QSize(25, 100);
    QTest::newRow("no suffix") << "bild" << QSize(600, 200) << QByteArray("png") << QSize(150, 50);
}

void TestStatics::createThumbScalesToFit()
{
    QFETCH(QString, name);
    QFETCH(QSize, size);
    QFETCH(QByteArray, format);
    QFETCH(QSize, thumbSize);
    QVERIFY(m_dir.isValid());
    const QString path = writeImage(name, size, format.constData());
    QVERIFY(!path.isEmpty());
    QDir(m_dir.path()).mkpath(QStringLiteral("thumbs"));
    const QString thumbFolder = m_dir.filePath(QStringLiteral("thumbs")) + QLatin1Char('/');

    QCOMPARE(Statics::CreateThumb(path, thumbFolder), QStringLiteral("thumb_") + name);

    QImageReader reader(thumbFolder + QStringLiteral("thumb_") + name);
    reader.setDecideFormatFromContent(true);
    const QImage thumb = reader.read();
    QVERIFY2(!thumb.isNull(), qPrintable(reader.errorString()));
    QCOMPARE(thumb.size(), thumbSize);
    // Only the thumbnail was written; no temporary file stays behind.
    QCOMPARE(QDir(thumbFolder).entryList(QDir::Files),
             QStringList(QStringLiteral("thumb_") + name));
    QVERIFY(QDir(thumbFolder).removeRecursively());
}

void TestStatics::createThumbMissingFileKeepsPath()
{
    const QString missing = m_dir.filePath(QStringLiteral("gibt es nicht.jpg"));
    QCOMPARE(Statics::CreateThumb(missing, m_dir.path() + QLatin1Char('/')), missing);
    QVERIFY(!QFile::exists(m_dir.filePath(QStringLiteral("thumb_gibt es nicht.jpg"))));
}

void TestStatics::createThumbUnreadableFileGivesEmpty()
{
    const QString path = m_dir.filePath(QStringLiteral("notiz.jpg"));
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write("Das ist kein Bild.\n");
    file.close();

    QTest::ignoreMessage(QtWarningMsg, qPrintable(QStringLiteral("Can't load Image ") + path));
    QCOMPARE(Statics::CreateThumb(path, m_dir.path() + QLatin1Char('/')), QString());
    QVERIFY(!QFile::exists(m_dir.filePath(QStringLiteral("thumb_notiz.jpg"))));
}

void TestStatics::createThumbUnwritableFolderGivesEmpty()
{
    const QString path = writeImage(QStringLiteral("ok.png"), QSize(60, 40), "png");
    QVERIFY(!path.isEmpty());
    const QString folder = m_dir.filePath(QStringLiteral("fehlt")) + QLatin1Char('/');
    QTest::ignoreMessage(
        QtWarningMsg,
        QRegularExpression(QStringLiteral("^Can't write thumbnail .*thumb_ok\\.png")));
    QCOMPARE(Statics::CreateThumb(path, folder), QString());
    QVERIFY(!QFileInfo::exists(folder));
}

void TestStatics::selectNextAfterRemove_data()
{
    QTest::addColumn<int>("rows");
    QTest::addColumn<int>("row");
    QTest::addColumn<int>("selected");
    QTest::newRow("middle row") << 5 << 2 << 2;
    QTest::newRow("first row") << 5 << 0 << 0;
    QTest::newRow("last row") << 5 << 4 << 4;
    QTest::newRow("past the end") << 5 << 5 << 4;
    QTest::newRow("far past the end") << 3 << 40 << 2;
    QTest::newRow("single row left") << 1 << 1 << 0;
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
            { QString::number(i), QStringLiteral("Titel %1").arg(i), QStringLiteral("1,00") }));
    // A selection left over from before the removal must go.
    tree.topLevelItem(0)->setSelected(true);
    tree.setCurrentItem(tree.topLevelItem(0), 1);

    Statics::SelectNextAfterRemove(&tree, row);

    QCOMPARE(tree.indexOfTopLevelItem(tree.currentItem()), selected);
    const QModelIndexList indexes = tree.selectionModel()->selectedIndexes();
    QCOMPARE(indexes.size(), tree.columnCount());
    for (const QModelIndex &index : indexes)
        QCOMPARE(index.row(), selected);
    QVERIFY(tree.selectionModel()->isRowSelected(selected, QModelIndex()));
}

void TestStatics::selectNextAfterRemoveEmptyTree()
{
    QTreeWidget tree;
    tree.setColumnCount(2);
    Statics::SelectNextAfterRemove(&tree, 0);
    Statics::SelectNextAfterRemove(&tree, 3);
    QCOMPARE(tree.currentItem(), nullptr);
    QVERIFY(tree.selectionModel()->selectedIndexes().isEmpty());
}

APP_TEST_MAIN(TestStatics)
#include "test_statics.moc"
