#include "marketplace/xmlnode.h"
#include "tests/support/encodedtext.h"
#include "tests/support/memorylimit.h"
#include "tests/support/peakmemory.h"
#include "tests/support/testmain.h"

#include <QElapsedTimer>

Q_DECLARE_METATYPE(XmlNode::Failure)

namespace {

QByteArray nested(int depth, const QByteArray &inner = QByteArray())
{
    return QByteArray("<a>").repeated(depth) + inner + QByteArray("</a>").repeated(depth);
}

QByteArray wrapped(const QByteArray &element, int count)
{
    return "<r>" + element.repeated(count) + "</r>";
}

// `count` attributes " a1='value' a2='value' …", each name distinct.
QByteArray attributeList(int count, const QByteArray &value = QByteArray())
{
    QByteArray text;
    for (int i = 1; i <= count; ++i)
        text += " a" + QByteArray::number(i) + "='" + value + "'";
    return text;
}

// An element of `count` attributes, the first named with U+0122 ("Ģ"): in UTF-16 and UTF-32
// one of its bytes is that of '"', which a scan of the bytes takes for the opening of a value
// that never closes.
QString hidingAttributes(int count)
{
    return QStringLiteral("<r><Item b\u0122=''") + QString::fromLatin1(attributeList(count - 1))
        + QStringLiteral("/></r>");
}

} // namespace

using TestSupport::encoded;
using TestSupport::Encoding;

class TestXmlNode : public QObject
{
    Q_OBJECT
private slots:
    void limits_data();
    void limits();
    void deepTreeIsFreedWithoutRecursion();
    void manyElementsStayWithinTheirShare();
    void manyAttributesAtOnce_data();
    void manyAttributesAtOnce();
    void attributeValuesCountTowardsTheTree();
    void path_data();
    void path();
    void texts_data();
    void texts();
    void fanOut_data();
    void fanOut();
};

void TestXmlNode::limits_data()
{
    QTest::addColumn<QByteArray>("xml");
    QTest::addColumn<int>("maxChars"); // 0: the default
    QTest::addColumn<int>("maxBytes"); // 0: the default
    QTest::addColumn<XmlNode::Failure>("failure");
    QTest::addColumn<QString>("error");
    using F = XmlNode::Failure;
    QTest::newRow("256 levels") << nested(256, "tief") << 0 << 0 << F::None << QString();
    QTest::newRow("257 levels") << nested(257) << 0 << 0 << F::TooDeep
                                << "Die Elemente sind tiefer als 256 Ebenen verschachtelt.";
    QTest::newRow("1,000,000 levels, never closed")
        << QByteArray("<a>").repeated(1000000) << 0 << 0 << F::TooDeep
        << "Die Elemente sind tiefer als 256 Ebenen verschachtelt.";
    const QByteArray kilobyte(1024, 'x');
    QTest::newRow("element at its limit")
        << "<Item><Description>" + kilobyte + "</Description></Item>" << 1024 << 0 << F::None
        << QString();
    // Text, CDATA and an entity add up to one element's text.
    QTest::newRow("element over its limit in parts")
        << "<Item><Description>" + kilobyte.left(1000) + "<![CDATA[" + kilobyte.left(23)
            + "]]>&amp;&amp;</Description></Item>"
        << 1024 << 0 << F::TooLarge << "Das Element \"Description\" ist größer als 1 KB.";
    QTest::newRow("document over its limit") << "<Item>" + kilobyte + "</Item>" << 0 << 1024
                                             << F::TooLarge << "Das Dokument ist größer als 1 KB.";
    QTest::newRow("not XML") << QByteArray("<a><b></a>") << 0 << 0 << F::NotXml << QString();
    // 400 KB of elements would take some 10 MB as a tree, a real reply of that size far
    // less.
    QTest::newRow("nothing but empty elements")
        << wrapped("<a/>", 100000) << 0 << 0 << F::TooLarge
        << "Das Dokument enthält zu viele Elemente: Sie bräuchten mehr als 4 MB Arbeitsspeicher.";
    QTest::newRow("nothing but attributes")
        << wrapped("<a b='' c='' d='' e='' f=''/>", 20000) << 0 << 0 << F::TooLarge
        << "Das Dokument enthält zu viele Elemente: Sie bräuchten mehr als 6 MB Arbeitsspeicher.";
    QTest::newRow("as many elements as a real reply")
        << wrapped("<Fee><Name>InsertionFee</Name><Fee currencyID='EUR'>0.35</Fee></Fee>", 6000)
        << 0 << 0 << F::None << QString();
    // Quoted values, comments and CDATA sections may hold '=' and '>' of their own.
    const QString tooMany = QStringLiteral("Das Element \"Item\" hat mehr als 256 Attribute.");
    QTest::newRow("256 attributes, '=' and '>' in values")
        << "<Item" + attributeList(256, "x=>y=z") + "/>" << 0 << 0 << F::None << QString();
    QTest::newRow("257 attributes, '>' in values")
        << "<Item" + attributeList(257, "a>b") + "/>" << 0 << 0 << F::TooLarge << tooMany;
    QTest::newRow("many elements of 200 attributes each")
        << wrapped("<Item" + attributeList(200) + "/>", 3) << 0 << 0 << F::None << QString();
    QTest::newRow("tags in a comment and in CDATA") << "<r><!-- <a" + attributeList(1000)
            + "> -> --><![CDATA[a > b <a" + attributeList(1000)
            + "> ]] > ]]></r>" << 0 << 0 << F::None << QString();
    QTest::newRow("a quote in a comment, then too many")
        << "<r><!-- it's --><Item" + attributeList(257) + "/></r>" << 0 << 0 << F::TooLarge
        << tooMany;
    QTest::newRow("too many after an instruction and a declaration")
        << "<?xml version='1.0'?><!DOCTYPE r SYSTEM 'x>[y'><r><Item" + attributeList(257) + "/></r>"
        << 0 << 0 << F::TooLarge << tooMany;
    // A document type of its own (an internal subset) is refused: its attribute lists give
    // elements defaults without an '=' in the text, and no reply carries one.
    const QString subset = QStringLiteral("Das Dokument bringt eine eigene DTD mit (<!DOCTYPE … "
                                          "[ … ]>); so ein Dokument wird nicht gelesen, "
                                          "Antworten von eBay enthalten keine.");
    const auto declared = [](const char *kind, int count, const char *format) {
        QByteArray subset;
        for (int i = 0; i < count; ++i)
            subset += "<!" + QByteArray(kind)
                + QByteArray(format).replace("%", QByteArray::number(i)) + ">";
        return "<!DOCTYPE r [" + subset + "]><r><Item/></r>";
    };
    QTest::newRow("256 declared defaults")
        << declared("ATTLIST", 256, " Item a% CDATA 'v'") << 0 << 0 << F::Declarations << subset;
    QTest::newRow("257 declared defaults in one list") << declared(
        "ATTLIST", 1,
        QByteArray(" Item").append(QByteArray(" a% CDATA \"v\"").repeated(257)).constData())
                                                       << 0 << 0 << F::Declarations << subset;
    QTest::newRow("257 declared defaults in lists of their own")
        << declared("ATTLIST", 257, "\tItem a% CDATA #FIXED 'v'") << 0 << 0 << F::Declarations
        << subset;
    QTest::newRow("300 entities and a list")
        << declared("ENTITY", 300, " e% 'v'").replace("]>", "<!ATTLIST Item a CDATA 'v'>]>") << 0
        << 0 << F::Declarations << subset;
    // A quote in a comment or an instruction of the subset is no literal: 1 MB of a reply
    // with 60,000 defaults between such quotes.
    QByteArray defaults;
    for (int i = 0; i < 60000; ++i)
        defaults += "<!ATTLIST Item a" + QByteArray::number(i) + " CDATA 'v'>";
    QTest::newRow("quotes in the subset's comments and instructions")
        << "<?xml version='1.0'?>\n<!DOCTYPE GetItemResponse [ <!-- ' --> <?pi \" ?>" + defaults
            + "<!-- ' --> <?pi \" ?> ]><GetItemResponse><Ack>Success</Ack><Item/>"
              "</GetItemResponse>"
        << 0 << 0 << F::Declarations << subset;
    QTest::newRow("an empty subset after a literal with '>'")
        << QByteArray("<!DOCTYPE r PUBLIC 'a>b' \"c\" []><r/>") << 0 << 0 << F::Declarations
        << subset;
    // Read as UTF-16, the text has no "<!DOCTYPE" in bytes: the reader's own token is refused.
    const QString wide = QStringLiteral("<?xml version='1.0' encoding='UTF-16'?><!DOCTYPE r "
                                        "[<!ATTLIST r a CDATA 'v'>]><r/>");
    QTest::newRow("a subset in UTF-16") << QByteArray("\xff\xfe")
            + QByteArray(reinterpret_cast<const char *>(wide.utf16()), wide.size() * 2)
                                        << 0 << 0 << F::Declarations << subset;
    // Every encoding the reader reads is scanned as the reader reads it.
    const QString tooManyHidden
        = QStringLiteral("Das Element \"Item\" hat mehr als 256 Attribute.");
    for (const Encoding &encoding : TestSupport::xmlEncodings()) {
        QTest::addRow("attributes behind a U+0122, %s", encoding.name)
            << encoded(hidingAttributes(3000), encoding) << 0 << 0 << F::TooLarge << tooManyHidden;
        QTest::addRow("256 attributes, %s", encoding.name)
            << encoded(hidingAttributes(256), encoding) << 0 << 0 << F::None << QString();
    }
    QTest::newRow("an element named in UTF-8")
        << "<r><\xc3\x84rmel" + attributeList(257) + "/></r>" << 0 << 0 << F::TooLarge
        << "Das Element \"\u00c4rmel\" hat mehr als 256 Attribute.";
    // The encoding the declaration names replaces the one the first bytes show.
    // In ISO-2022-JP "唖" is the bytes 30 22 between two switches of the character set.
    QTest::newRow("attributes behind a JIS character, ISO-2022-JP as the declaration names it")
        << "<?xml version='1.0' encoding='ISO-2022-JP'?><r><Item b\x1b$B0\"\x1b(B=''"
            + attributeList(3000) + "/></r>"
        << 0 << 0 << F::TooLarge << tooManyHidden;
    QTest::newRow("a declaration without a subset")
        << QByteArray("<!DOCTYPE r SYSTEM \"r[1].dtd\"><r><Item a='1'/></r>") << 0 << 0 << F::None
        << QString();
}

// A reply past a limit is refused as a whole, with the reason in German; the limits are
// lowered here, the program's own are 64 MB and 256 MB.
void TestXmlNode::limits()
{
    QFETCH(QByteArray, xml);
    QFETCH(int, maxChars);
    QFETCH(int, maxBytes);
    QFETCH(XmlNode::Failure, failure);
    QFETCH(QString, error);
    XmlNode::Limits limits;
    if (maxChars > 0)
        limits.maxElementChars = maxChars;
    if (maxBytes > 0)
        limits.maxDocumentBytes = maxBytes;

    QString said;
    XmlNode::Failure why = XmlNode::Failure::NotXml;
    QElapsedTimer timer;
    timer.start();
    const XmlNode root = XmlNode::parse(xml, limits, &said, &why);
    // Every limit holds before the reader has spent long: far below what the 1 MB subset
    // took with its defaults read (6 to 18 s).
    QVERIFY2(timer.elapsed() < 5000, qPrintable(QString::number(timer.elapsed())));

    QCOMPARE(why, failure);
    QCOMPARE(root.isNull(), failure != XmlNode::Failure::None);
    if (failure == XmlNode::Failure::NotXml)
        QVERIFY(!said.isEmpty());
    else
        QCOMPARE(said, error);
}

// A million levels, as a hostile reply could nest them where the depth limit is lifted:
// freeing them must not take a nested call per level (the stack would overflow). A part
// still held lives on.
void TestXmlNode::deepTreeIsFreedWithoutRecursion()
{
    constexpr int depth = 1000000;
    XmlNode::Limits limits;
    limits.maxDepth = depth;
    // So deep a tree also takes more than its share of memory.
    limits.maxTreeFactor = 100;
    XmlNode root = XmlNode::parse(nested(depth, "unten"), limits);
    QVERIFY(!root.isNull());

    XmlNode kept;
    XmlNode node = root;
    for (int level = 1; level < depth; ++level) {
        node = node.child("a");
        if (level == depth / 2)
            kept = node;
    }
    QCOMPARE(node.text(), QStringLiteral("unten"));
    node = XmlNode();
    root = XmlNode();

    int below = 0;
    for (XmlNode rest = kept; !rest.isNull(); rest = rest.child("a"))
        ++below;
    QCOMPARE(below, depth - depth / 2);
    kept = XmlNode();
}

// 8 MB of empty elements, refused by the program's own limits: the parse took a small
// multiple of the document on its way (without a limit the tree takes some 22 times it).
void TestXmlNode::manyElementsStayWithinTheirShare()
{
#if defined(__SANITIZE_ADDRESS__)
    QSKIP("The sanitizer's allocator keeps memory of its own around every block");
#endif
    const QByteArray xml = wrapped("<a/>", 2 * 1024 * 1024);
    TestSupport::PeakMemory memory;
    if (!memory.start())
        QSKIP("The peak of the resident memory can't be reset here");
    QString said;
    const XmlNode root = XmlNode::parse(xml, &said);
    QVERIFY(root.isNull());
    QVERIFY2(said.startsWith("Das Dokument enthält zu viele Elemente"), qPrintable(said));
    QVERIFY2(
        memory.growth() < 16 * qint64(xml.size()),
        qPrintable(
            QStringLiteral("%1 MB for %2 MB").arg(memory.growth() >> 20).arg(xml.size() >> 20)));
}

// 100,000 attributes are refused before Qt's reader compares them with each other (which took
// it half a minute), in every encoding: at once and in little memory, under a cap on the
// address space.
void TestXmlNode::manyAttributesAtOnce_data()
{
    QTest::addColumn<Encoding>("encoding");
    for (const Encoding &encoding : TestSupport::xmlEncodings())
        QTest::newRow(encoding.name) << encoding;
}

void TestXmlNode::manyAttributesAtOnce()
{
    QFETCH(Encoding, encoding);
    const QByteArray xml = encoded(hidingAttributes(100000), encoding);
    TestSupport::PeakMemory memory;
    const bool measured = memory.start();
    QString said;
    QElapsedTimer timer;
    {
        TestSupport::AddressSpaceLimit cap(256 * 1024 * 1024);
        QVERIFY(cap.active());
        timer.start();
        QVERIFY(XmlNode::parse(xml, &said).isNull());
    }
    QVERIFY2(timer.elapsed() < 1000, qPrintable(QString::number(timer.elapsed())));
    QVERIFY2(!measured || memory.growth() < 64 * 1024 * 1024,
             qPrintable(QString::number(memory.growth())));
    QCOMPARE(said, QStringLiteral("Das Element \"Item\" hat mehr als 256 Attribute."));
}

// Attribute values count towards the tree: 1 MB of them, as text twice that.
void TestXmlNode::attributeValuesCountTowardsTheTree()
{
    XmlNode::Limits limits;
    limits.maxTreeFactor = 1;
    QString said;
    QVERIFY(XmlNode::parse("<r" + attributeList(100, QByteArray(10000, 'v')) + "/>", limits, &said)
                .isNull());
    QCOMPARE(said,
             QStringLiteral("Das Dokument enthält zu viele Elemente: Sie bräuchten mehr als "
                            "1 MB Arbeitsspeicher."));
}

// A path finds the first element child by child; empty steps are skipped; a missing step
// anywhere gives a null node.
void TestXmlNode::path_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<QString>("found"); // the element's text; "(null)" for none
    QTest::newRow("empty path: the node itself") << ""
                                                 << "wurzel";
    QTest::newRow("one step") << "Title"
                              << "Uhr";
    QTest::newRow("two steps") << "SellingStatus/QuantitySold"
                               << "2";
    QTest::newRow("first of two of a name") << "Picture/URL"
                                            << "eins";
    QTest::newRow("doubled and outer slashes") << "/SellingStatus//QuantitySold/"
                                               << "2";
    QTest::newRow("missing first step") << "Selling/QuantitySold"
                                        << "(null)";
    QTest::newRow("missing last step") << "SellingStatus/Bids"
                                       << "(null)";
    QTest::newRow("a step's name as a prefix") << "SellingStat/QuantitySold"
                                               << "(null)";
    QTest::newRow("past a leaf") << "Title/Text"
                                 << "(null)";
}

void TestXmlNode::path()
{
    QFETCH(QString, path);
    QFETCH(QString, found);
    const XmlNode root = XmlNode::parse(
        "<Item>wurzel<Title>Uhr</Title><SellingStatus><QuantitySold>2</QuantitySold>"
        "</SellingStatus><Picture><URL>eins</URL></Picture><Picture><URL>zwei</URL></Picture>"
        "</Item>");
    QVERIFY(!root.isNull());
    const XmlNode node = root.at(path);
    QCOMPARE(node.isNull() ? QStringLiteral("(null)") : node.text(), found);
    QCOMPARE(root.value(path), node.isNull() ? QString() : found);
    QCOMPARE(root.has(path), !node.isNull());
    QVERIFY(XmlNode().at(path).isNull());
}

// An element's text is all of its own character data, also where children split it; an
// element without any has a null text, an empty attribute an empty value. Each expectation
// is "path=text" or "path@attribute=value", the path from the root, "(null)" for a null
// string.
void TestXmlNode::texts_data()
{
    QTest::addColumn<QByteArray>("xml");
    QTest::addColumn<QStringList>("expected");
    QTest::newRow("text around a child")
        << QByteArray("<a>x<b>y</b>z</a>") << QStringList { "=xz", "b=y" };
    QTest::newRow("nested splits") << QByteArray("<a>1<b>2<c>3</c>4</b>5<d>6</d></a>")
                                   << QStringList { "=15", "b=24", "b/c=3", "d=6" };
    QTest::newRow("attributes between texts") << QByteArray("<a>x<b c='1'/>y<b c='2'>t</b>z</a>")
                                              << QStringList { "=xyz", "b=(null)", "b@c=1" };
    QTest::newRow("pretty-printed") << QByteArray("<a>\n  <b>y</b>\n  <c/>\n</a>")
                                    << QStringList { "=\n  \n  \n", "b=y", "c=(null)" };
    QTest::newRow("CDATA, entities and references in one text")
        << QByteArray("<a><b>x<![CDATA[<y>]]>&amp;&#65;z</b>w</a>")
        << QStringList { "=w", "b=x<y>&Az" };
    QTest::newRow("empty element, empty and missing attributes")
        << QByteArray("<a><b></b><c d=''/></a>")
        << QStringList { "=(null)", "b=(null)", "c@d=", "c@e=(null)", "c=(null)" };
    QTest::newRow("names the document lacks")
        << QByteArray("<a k='v'><b/></a>") << QStringList { "x=(null)", "b@x=(null)", "@k=v" };
    QTest::newRow("local names, the last of two same attributes")
        << QByteArray("<r xmlns:p='urn:p' xmlns:q='urn:q'><p:Item p:k='1' q:k='2'>v</p:Item></r>")
        << QStringList { "Item=v", "Item@k=2" };
    QByteArray manyNames = "<r>";
    for (int i = 0; i < 100; ++i)
        manyNames += QString("<e%1 a%1='v%1'>%1</e%1>").arg(i).toUtf8();
    QTest::newRow("more names than fit at first")
        << manyNames + "</r>" << QStringList { "e0=0", "e57@a57=v57", "e99=99", "e99@a98=(null)" };
    QTest::newRow("an attribute value with references")
        << QByteArray("<a k='x &amp; &#66;'>t</a>") << QStringList { "@k=x & B", "=t" };
    // Read as the reader decodes it, whatever the encoding; with '=' enough to be scanned.
    const QString wide = QStringLiteral("<?xml version='1.0'?><a k='\u00e4\u0122'>\U0001F381"
                                        "<b>%1</b></a>")
                             .arg(QString(300, '='));
    for (const Encoding &encoding : TestSupport::xmlEncodings())
        QTest::addRow("%s", encoding.name)
            << encoded(wide, encoding)
            << QStringList { "@k=\u00e4\u0122", "=\U0001F381", "b=" + QString(300, '=') };
    QTest::newRow("ISO-2022-JP, as the declaration names it")
        << QByteArray("<?xml version='1.0' encoding='ISO-2022-JP'?><a k='\x1b$B0\"\x1b(B'>t</a>")
        << QStringList { "@k=\u5516", "=t" };
    QTest::newRow("Latin-1, as the declaration names it")
        << QByteArray("<?xml version='1.0' encoding='ISO-8859-1'?><a k='\xe4'>\xfc</a>")
        << QStringList { "@k=\u00e4", "=\u00fc" };
}

void TestXmlNode::texts()
{
    QFETCH(QByteArray, xml);
    QFETCH(QStringList, expected);
    QString error;
    const XmlNode root = XmlNode::parse(xml, &error);
    QVERIFY2(!root.isNull(), qPrintable(error));
    const auto shown = [](const QString &text) {
        return text.isNull() ? QStringLiteral("(null)") : text;
    };
    QStringList actual;
    for (const QString &entry : expected) {
        const QString query = entry.section('=', 0, 0);
        const QString path = query.section('@', 0, 0);
        const XmlNode node = path.isEmpty() ? root : root.at(path);
        actual << query + '='
                + shown(query.contains('@') ? node.attribute(query.section('@', 1)) : node.text());
    }
    QCOMPARE(actual, expected);
}

// Every element along a path in document order, fanning out at each step; the children
// listed and walked alike.
void TestXmlNode::fanOut_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<QStringList>("texts");
    QTest::newRow("two steps over two parents") << "A/B" << QStringList { "1", "2", "4" };
    QTest::newRow("one step") << "X" << QStringList { "x" };
    QTest::newRow("empty path: the node itself") << "" << QStringList { "r" };
    QTest::newRow("no such first step") << "Q/B" << QStringList {};
    QTest::newRow("no such last step") << "A/Q" << QStringList {};
    QTest::newRow("skipped empty steps") << "/A//C/" << QStringList { "3" };
}

void TestXmlNode::fanOut()
{
    QFETCH(QString, path);
    QFETCH(QStringList, texts);
    const XmlNode root
        = XmlNode::parse("<r>r<A><B>1</B><C>3</C><B>2</B></A><X>x</X><A><B>4</B></A><A/></r>");
    QVERIFY(!root.isNull());
    QStringList found;
    for (const XmlNode &node : root.all(path))
        found << node.text();
    QCOMPARE(found, texts);

    QStringList listed, walked;
    for (const XmlNode &node : root.children())
        listed << node.name();
    for (XmlNode node = root.firstChild(); !node.isNull(); node = node.nextSibling())
        walked << node.name();
    QCOMPARE(listed, QStringList({ "A", "X", "A", "A" }));
    QCOMPARE(walked, listed);
    QVERIFY(root.child("A").child("C").firstChild().isNull());
    QVERIFY(XmlNode().firstChild().isNull() && XmlNode().nextSibling().isNull());
}

APP_TEST_GUILESS_MAIN(TestXmlNode)
#include "test_xmlnode.moc"
