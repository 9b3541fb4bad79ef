// The text of the `ItemSpecifics` column: written and read back, with hostile names and values.
#include "editor/itemspecifics.h"
#include "tests/support/testmain.h"

#include <QTest>
#include <QXmlStreamReader>

using ItemSpecifics::Block;
using Blocks = QList<Block>;
Q_DECLARE_METATYPE(Blocks)

class TestItemSpecifics : public QObject
{
    Q_OBJECT

private slots:
    void format();
    void roundTrip_data();
    void roundTrip();
    void read_data();
    void read();
};

void TestItemSpecifics::format()
{
    QCOMPARE(ItemSpecifics::write({ { "Marke", { "Apple" } }, { "Farbe", { "Rot", "Blau" } } }),
             QStringLiteral("<NameValueList>\n\t<Name><![CDATA[Marke]]></Name>\n"
                            "\t<Value><![CDATA[Apple]]></Value>\n</NameValueList>\n"
                            "<NameValueList>\n\t<Name><![CDATA[Farbe]]></Name>\n"
                            "\t<Value><![CDATA[Rot]]></Value>\n\t<Value><![CDATA[Blau]]></Value>\n"
                            "</NameValueList>\n"));
}

void TestItemSpecifics::roundTrip_data()
{
    QTest::addColumn<Blocks>("blocks");
    QTest::newRow("plain") << Blocks { { "Marke", { "Apple" } } };
    QTest::newRow("cdata end") << Blocks { { "a]]>b", { "]]>", "x]]]>>y", "]]" } } };
    QTest::newRow("tags in values")
        << Blocks { { "<Name>", { "</Value></NameValueList><NameValueList>", "<![CDATA[" } } };
    QTest::newRow("quotes, entities, umlauts")
        << Blocks { { "Größe \"EU\"", { "'1' & &amp; <b>", "\\u00e4\n\tzweite Zeile" } } };
    QTest::newRow("empty value") << Blocks { { "Modell", { "" } }, { "Farbe", { "-" } } };
}

// Whatever the names and values hold, the text reads back to them and is well-formed XML for
// the listing requests it is put into.
void TestItemSpecifics::roundTrip()
{
    QFETCH(Blocks, blocks);
    const QString text = ItemSpecifics::write(blocks);
    QCOMPARE(ItemSpecifics::read(text), blocks);
    QXmlStreamReader xml(QStringLiteral("<ItemSpecifics>") + text
                         + QStringLiteral("</ItemSpecifics>"));
    Blocks parsed;
    while (!xml.atEnd()) {
        xml.readNext();
        if (xml.isStartElement() && xml.name() == QLatin1String("Name"))
            parsed.append({ xml.readElementText(), {} });
        else if (xml.isStartElement() && xml.name() == QLatin1String("Value"))
            parsed.last().values << xml.readElementText();
    }
    QVERIFY2(!xml.hasError(), qPrintable(xml.errorString()));
    QCOMPARE(parsed, blocks);
}

void TestItemSpecifics::read_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<Blocks>("blocks");
    QTest::newRow("without cdata, one line")
        << "<NameValueList><Name>Marke</Name><Value>Apple</Value></NameValueList>"
           "<NameValueList><Name>Farbe</Name><Value>Rot</Value><Value>Blau</Value>"
           "</NameValueList>"
        << Blocks { { "Marke", { "Apple" } }, { "Farbe", { "Rot", "Blau" } } };
    QTest::newRow("empty") << "" << Blocks {};
    QTest::newRow("block without name")
        << "<NameValueList>\n\t<Value><![CDATA[x]]></Value>\n</NameValueList>\n"
        << Blocks { { "", { "x" } } };
    QTest::newRow("cut off") << "<NameValueList><Name><![CDATA[Mar"
                             << Blocks { { "Mar", {} } };
}

void TestItemSpecifics::read()
{
    QFETCH(QString, text);
    QFETCH(Blocks, blocks);
    QCOMPARE(ItemSpecifics::read(text), blocks);
}

APP_TEST_GUILESS_MAIN(TestItemSpecifics)
#include "test_itemspecifics.moc"
