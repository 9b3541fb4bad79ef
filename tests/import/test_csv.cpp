#include "import/contentiterator.h"
#include "import/reader.h"
#include "import/rowfunction.h"
#include "import/stringdata.h"
#include "import/variantdata.h"
#include "import/writer.h"
#include "tests/support/filesizelimit.h"
#include "tests/support/memorylimit.h"
#include "tests/support/peakmemory.h"
#include "tests/support/testmain.h"

#include <QDir>
#include <QElapsedTimer>
#include <QSize>
#include <QTemporaryDir>
#include <QTextCodec>

using Rows = QList<QStringList>;
Q_DECLARE_METATYPE(Rows)

namespace {

QTextCodec *utf8()
{
    return QTextCodec::codecForName("UTF-8");
}

QByteArray contentOf(const QString &path)
{
    QFile file(path);
    file.open(QIODevice::ReadOnly);
    return file.readAll();
}

void writeFile(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(bytes);
}

QtCSV::StringData numberedRows(int count)
{
    QtCSV::StringData data;
    for (int i = 0; i < count; ++i)
        data.addRow(QStringList { QString::number(i), QStringLiteral("row %1").arg(i) });
    return data;
}

} // namespace

class TestCsv : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_dir;
    QString path(const QString &name) const { return m_dir.filePath(name); }

private slots:
    void read_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QString>("separator");
        QTest::addColumn<QString>("delimiter");
        QTest::addColumn<QByteArray>("codec");
        QTest::addColumn<QString>("suffix");
        QTest::addColumn<Rows>("rows");
        const QString q = QStringLiteral("\"");
        QTest::newRow("line ending in a separator")
            << QByteArray("a;b;\n") << ";" << q << QByteArray("UTF-8") << "csv"
            << Rows { { "a", "b", "" } };
        QTest::newRow("two separators in a row")
            << QByteArray("a;;b\n") << ";" << q << QByteArray("UTF-8") << "csv"
            << Rows { { "a", "", "b" } };
        QTest::newRow("separator inside delimiters")
            << QByteArray("\"a;b\";c\n") << ";" << q << QByteArray("UTF-8") << "csv"
            << Rows { { "a;b", "c" } };
        QTest::newRow("doubled delimiter")
            << QByteArray("\"x\"\"y\";\"\"\"\"\n") << ";" << q << QByteArray("UTF-8") << "csv"
            << Rows { { "x\"y", "\"" } };
        QTest::newRow("line break inside an element")
            << QByteArray("\"a\nb\";c\nd;e\n") << ";" << q << QByteArray("UTF-8") << "csv"
            << Rows { { "a\nb", "c" }, { "d", "e" } };
        QTest::newRow("empty line inside an element")
            << QByteArray("\"a\n\nb\";c\n") << ";" << q << QByteArray("UTF-8") << "csv"
            << Rows { { "a\n\nb", "c" } };
        QTest::newRow("CR LF line ends")
            << QByteArray("a;b\r\n\"c\r\nd\";e\r\n") << ";" << q << QByteArray("UTF-8") << "csv"
            << Rows { { "a", "b" }, { "c\nd", "e" } };
        QTest::newRow("carriage returns dropped wherever they stand")
            << QByteArray("a\rb;c\r\n\"d\re\";f\n") << ";" << q << QByteArray("UTF-8") << "csv"
            << Rows { { "ab", "c" }, { "de", "f" } };
        QTest::newRow("byte-order mark")
            << QByteArray("\xEF\xBB\xBF"
                          "a;b\n")
            << ";" << q << QByteArray("UTF-8") << "csv" << Rows { { "a", "b" } };
        QTest::newRow("Latin-1 codec")
            << QByteArray("K\xE4se;\xDF\n") << ";" << q << QByteArray("ISO-8859-1") << "csv"
            << Rows { { QStringLiteral("Käse"), QStringLiteral("ß") } };
        QTest::newRow("empty line between records")
            << QByteArray("a\n\nb\n") << ";" << q << QByteArray("UTF-8") << "csv"
            << Rows { { "a" }, {}, { "b" } };
        QTest::newRow("file ends inside an element")
            << QByteArray("x;\"open\nrest") << ";" << q << QByteArray("UTF-8") << "csv"
            << Rows { { "x", "open\nrest" } };
        QTest::newRow("text after a closing delimiter keeps the element open")
            << QByteArray("\"a\"b;c\nd\"\n") << ";" << q << QByteArray("UTF-8") << "csv"
            << Rows { { "a\"b;c\nd" } };
        QTest::newRow("no text delimiter splits on the separator alone")
            << QByteArray("a;\"b\";c\nd\n") << ";" << QString() << QByteArray("UTF-8") << "csv"
            << Rows { { "a", "\"b\"", "c" }, { "d" } };
        QTest::newRow("tab separator, upper-case suffix")
            << QByteArray("a\tb\n") << "\t" << q << QByteArray("UTF-8") << "CSV"
            << Rows { { "a", "b" } };
    }
    // Many rows with multi-byte characters and records broken over lines, in a file far
    // larger than what the reader takes in at once.
    void largeFile()
    {
        Rows rows;
        QByteArray bytes;
        for (int i = 0; i < 30000; ++i) {
            const QString text = QStringLiteral("Grüße „%1“ €\nzweite Zeile;%2").arg(i).arg(i % 7);
            rows << QStringList { QString::number(i), text, QStringLiteral("ä") };
            bytes += QByteArray::number(i) + ";\"" + text.toUtf8() + "\";ä\n";
        }
        QVERIFY(bytes.size() > 1024 * 1024);
        writeFile(path("large.csv"), bytes);
        QCOMPARE(QtCSV::Reader::readToList(path("large.csv"), ";", "\"", utf8()), rows);
    }

    void read()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(QString, separator);
        QFETCH(QString, delimiter);
        QFETCH(QByteArray, codec);
        QFETCH(QString, suffix);
        QFETCH(Rows, rows);
        const QString file = path(QStringLiteral("read.") + suffix);
        writeFile(file, bytes);
        QCOMPARE(
            QtCSV::Reader::readToList(file, separator, delimiter, QTextCodec::codecForName(codec)),
            rows);
        QtCSV::StringData data;
        QVERIFY(QtCSV::Reader::readToData(file, data, separator, delimiter,
                                          QTextCodec::codecForName(codec)));
        QCOMPARE(data.rowCount(), rows.size());
    }

    void refusedRead_data()
    {
        QTest::addColumn<QString>("file");
        QTest::addColumn<QString>("separator");
        QTest::newRow("empty separator") << path("ok.csv") << QString();
        QTest::newRow("relative path") << QStringLiteral("ok.csv") << ";";
        QTest::newRow("missing file") << path("missing.csv") << ";";
        QTest::newRow("folder") << m_dir.path() << ";";
    }
    void refusedRead()
    {
        QFETCH(QString, file);
        QFETCH(QString, separator);
        writeFile(path("ok.csv"), "a;b\n");
        QtCSV::StringData data;
        QVERIFY(!QtCSV::Reader::readToData(file, data, separator, "\"", utf8()));
        QVERIFY(data.isEmpty());
    }

    void processorStopsTheRead()
    {
        writeFile(path("stop.csv"), "1\n2\n3\n4\n");
        Rows seen;
        class FirstTwo : public QtCSV::Reader::AbstractProcessor
        {
        public:
            explicit FirstTwo(Rows &seen)
                : m_seen(seen)
            { }
            bool process(const QStringList &row) override
            {
                m_seen << row;
                return m_seen.size() < 2;
            }
            Rows &m_seen;
        } processor(seen);
        QVERIFY(!QtCSV::Reader::readToProcessor(path("stop.csv"), processor, ";", "\"", utf8()));
        QCOMPARE(seen, (Rows { { "1" }, { "2" } }));
    }

    // A cancelled read stops at its next line, also inside a value that runs on over lines
    // and never closes: that row is not handed over, nor the value reported open.
    void cancelStopsTheRead_data()
    {
        QTest::addColumn<bool>("setBefore");
        QTest::newRow("set before the read") << true;
        QTest::newRow("set by the row before the open value") << false;
    }
    void cancelStopsTheRead()
    {
        QFETCH(bool, setBefore);
        QByteArray bytes("1\n2;\"open\n");
        for (int i = 0; i < 100; ++i)
            bytes += "more\n";
        writeFile(path("cancel.csv"), bytes);
        std::atomic<bool> cancel { setBefore };
        Rows seen;
        RowFunction rows([&](const QStringList &row, int) {
            seen << row;
            cancel = true;
            return true;
        });
        QtCSV::Reader::Details details;
        QVERIFY(!QtCSV::Reader::readToProcessor(path("cancel.csv"), rows, ";", "\"", utf8(),
                                                &details, &cancel));
        QCOMPARE(seen, setBefore ? Rows() : Rows { { "1" } });
        QCOMPARE(details.unclosedLine, 0);
    }

    // A record longer than the reader's limit ends the reading, named by the line it began
    // in, after the rows before it and with little memory however long the line is; a
    // cancel is seen inside a long line, before the limit is reached.
    void longRecords_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<int>("cancelAfter"); // rows; -1: never, 0: before the read
        QTest::addColumn<bool>("read");
        QTest::addColumn<int>("longRecordLine");
        QTest::addColumn<int>("rows"); // handed over
        const int limit = QtCSV::Reader::kMaxRecordChars;
        QTest::newRow("a line at the limit") << "h\n" + QByteArray(limit, 'a') + "\nz\n"
                                             << -1 << true << 0 << 3;
        QTest::newRow("a line one character over the limit") << "h\n" + QByteArray(limit + 1, 'a')
                + "\nz\n" << -1 << false << 2 << 1;
        QTest::newRow("a multi-byte line over the limit in characters")
            << "h\n" + QString(limit + 1, QChar(0x20AC)).toUtf8() + "\n"
            << -1 << false << 2 << 1;
        QTest::newRow("an endless line of 64 MB")
            << "h\r\nx\r\n" + QByteArray(64 << 20, ';') << -1 << false << 3 << 2;
        QByteArray quoted = "h\n\"";
        for (int i = 0; i < 1100; ++i)
            quoted += QByteArray(1000, 'x') + '\n';
        QTest::newRow("a quoted value running on over lines past the limit")
            << quoted << -1 << false << 2 << 1;
        QTest::newRow("cancelled inside a long line")
            << "h\n" + QByteArray(16 << 20, 'a') << 1 << false << 0 << 1;
    }
    void longRecords()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(int, cancelAfter);
        QFETCH(bool, read);
        QFETCH(int, longRecordLine);
        QFETCH(int, rows);
        writeFile(path("long.csv"), bytes);
        bytes.clear();
        std::atomic<bool> cancel { cancelAfter == 0 };
        int seen = 0;
        RowFunction count([&](const QStringList &, int) {
            if (++seen == cancelAfter)
                cancel = true;
            return true;
        });
        QtCSV::Reader::Details details;
        TestSupport::PeakMemory memory;
        const bool measured = memory.start();
        QElapsedTimer time;
        time.start();
        {
            TestSupport::AddressSpaceLimit cap(qint64(256) << 20);
            QVERIFY(cap.active());
            QCOMPARE(QtCSV::Reader::readToProcessor(path("long.csv"), count, ";", "\"", utf8(),
                                                    &details, &cancel),
                     read);
        }
        qInfo("limit %d characters: %lld ms, peak +%lld KB", QtCSV::Reader::kMaxRecordChars,
              time.elapsed(), measured ? memory.growth() / 1024 : -1);
        QCOMPARE(details.longRecordLine, longRecordLine);
        QCOMPARE(seen, rows);
        // The line is never held whole: a few times the limit at most.
        if (measured)
            QVERIFY2(memory.growth() < qint64(24) << 20,
                     qPrintable(QString::number(memory.growth())));
    }

    // Each row is handed over with the file line it began in; a delimited element that the
    // file never closes is named by the line it began in.
    void lines_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QList<int>>("lines");
        QTest::addColumn<int>("unclosed");
        QTest::addColumn<int>("unclosedRow"); // as a spreadsheet counts rows
        QTest::newRow("a line each") << QByteArray("a\nb\nc\n") << QList<int> { 1, 2, 3 } << 0 << 0;
        QTest::newRow("record over three lines, then an empty line")
            << QByteArray("h\n\"x\ny\nz\";1\n\nb\n") << QList<int> { 1, 2, 5, 6 } << 0 << 0;
        QTest::newRow("CR LF") << QByteArray("a\r\n\"b\r\nc\";d\r\ne\r\n") << QList<int> { 1, 2, 4 }
                               << 0 << 0;
        QTest::newRow("never closed")
            << QByteArray("a\nb;\"open\nrest\nmore") << QList<int> { 1, 2 } << 2 << 2;
        QTest::newRow("one closed, another opened on the same line")
            << QByteArray("\"a\nb\";\"c\nd\n") << QList<int> { 1 } << 2 << 1;
        QTest::newRow("text after the closing delimiter keeps it open")
            << QByteArray("x\n\"a\"b;c\nd\n") << QList<int> { 1, 2 } << 2 << 2;
        QTest::newRow("never closed after a record over two lines")
            << QByteArray("\"a\nb\"\n\nc;\"d\ne\n") << QList<int> { 1, 3, 4 } << 4 << 3;
    }
    void lines()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(QList<int>, lines);
        QFETCH(int, unclosed);
        QFETCH(int, unclosedRow);
        writeFile(path("lines.csv"), bytes);
        class Lines : public QtCSV::Reader::AbstractProcessor
        {
        public:
            QList<int> seen;
            bool process(const QStringList &) override { return false; }
            bool processRow(const QStringList &, int firstLine) override
            {
                seen << firstLine;
                return true;
            }
        } processor;
        QtCSV::Reader::Details details;
        details.unclosedLine = -1;
        QVERIFY(QtCSV::Reader::readToProcessor(path("lines.csv"), processor, ";", "\"", utf8(),
                                               &details));
        QCOMPARE(processor.seen, lines);
        QCOMPARE(details.unclosedLine, unclosed);
        QCOMPARE(details.unclosedRow, unclosedRow);
    }

    // The start of a file: the lines up to the one that reaches the limit; a row open there
    // is handed over as read so far, and no value counts as never closed. A line without an
    // end is cut as well.
    void readStart_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<int>("maxChars");
        QTest::addColumn<Rows>("rows");
        QTest::addColumn<bool>("cut");
        QTest::newRow("whole file within the limit")
            << QByteArray("a;b\nc;d\n") << 100 << Rows { { "a", "b" }, { "c", "d" } } << false;
        QTest::newRow("stops after the line reaching the limit")
            << QByteArray("aaaa\nbbbb\ncccc\ndddd\n") << 7 << Rows { { "aaaa" }, { "bbbb" } }
            << true;
        QTest::newRow("a quoted value open at the limit")
            << QByteArray("x\n\"a\nb\nc\nd\ne\";1\n") << 6 << Rows { { "x" }, { "a\nb" } } << true;
        QTest::newRow("a line that never ends")
            << "h\n" + QByteArray(300 * 1024, 'z') << 1000
            << Rows { { "h" }, { QString(300 * 1024, 'z').left(256 * 1024 - 2) } } << true;
    }
    void readStart()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(int, maxChars);
        QFETCH(Rows, rows);
        QFETCH(bool, cut);
        writeFile(path("start.csv"), bytes);
        Rows seen;
        class Collect : public QtCSV::Reader::AbstractProcessor
        {
        public:
            explicit Collect(Rows &seen)
                : m_seen(seen)
            { }
            bool process(const QStringList &row) override
            {
                m_seen << row;
                return true;
            }
            Rows &m_seen;
        } processor(seen);
        QtCSV::Reader::Details details;
        QVERIFY(QtCSV::Reader::readStart(path("start.csv"), processor, ";", "\"", utf8(), maxChars,
                                         &details));
        QCOMPARE(seen.size(), rows.size());
        for (int i = 0; i < rows.size(); ++i)
            QCOMPARE(seen.at(i).value(0).left(rows.at(i).value(0).size()), rows.at(i).value(0));
        QCOMPARE(details.cut, cut);
        QCOMPARE(details.unclosedLine, 0);
    }

    // UTF-8 with or without mark is read as such; a file with any byte that is not UTF-8
    // is read as Windows-1252. The quick look at the first 64 KB alone may miss it; the
    // line count comes from the same pass over the bytes.
    void codec_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<bool>("fallback");
        QTest::addColumn<bool>("fallbackAtStart");
        QTest::addColumn<int>("lines"); // -1: not compared
        QTest::addColumn<QStringList>("firstRow"); // empty: not compared
        const QStringList text { QStringLiteral("Käse"), QStringLiteral("5 €"),
                                 QStringLiteral("„Zitat…“") };
        const QByteArray utf8Line = QStringLiteral("Käse;5 €;„Zitat…“\n").toUtf8();
        QTest::newRow("UTF-8") << utf8Line << false << false << 1 << text;
        QTest::newRow("UTF-8 with byte-order mark")
            << "\xEF\xBB\xBF" + utf8Line << false << false << 1 << text;
        QTest::newRow("Windows-1252")
            << QByteArray("K\xE4se;5 \x80;\x84Zitat\x85\x93\n") << true << true << 1 << text;
        QTest::newRow("UTF-16 with byte-order mark")
            << QTextCodec::codecForName("UTF-16LE")
                   ->fromUnicode(QStringLiteral("Käse;5 €;„Zitat…“\n"))
            << false << false << -1 << text;
        QTest::newRow("a character cut by the end of the first 64 KB")
            << QByteArray(64 * 1024 - 1, 'a') + QStringLiteral("ä\n").toUtf8() << false << false
            << 1 << QStringList();
        QTest::newRow("a byte past the first 64 KB counts too") << QByteArray(64 * 1024, 'a')
                + "\n\xE4\n" << true << false << 2 << QStringList();
        QByteArray rows;
        for (int i = 0; i < 1759; ++i)
            rows += "Artikel " + QByteArray::number(i) + ";1;ASCII bis hier, viele Zeilen lang\n";
        QTest::newRow("1,759 ASCII rows, then Windows-1252")
            << rows + "Gr\xFCne Tasse f\xFCr K\xE4se;1;x" << true << false << 1760 << QStringList();
        QTest::newRow("a character cut by the end of the file")
            << QByteArray("abc\n\xC3") << true << true << 2 << QStringList();
        QTest::newRow("an overlong form") << QByteArray("a\xC0\xAF"
                                                        "b")
                                          << true << true << 1 << QStringList();
        QTest::newRow("a surrogate") << QByteArray("a\xED\xA0\x80"
                                                   "b")
                                     << true << true << 1 << QStringList();
        QTest::newRow("the last code point and beyond")
            << QByteArray("\xF4\x8F\xBF\xBF\n\xF4\x90\x80\x80") << true << true << 2
            << QStringList();
        QTest::newRow("unreadable file") << QByteArray() << false << false << 0 << QStringList();
    }
    void codec()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(bool, fallback);
        QFETCH(bool, fallbackAtStart);
        QFETCH(int, lines);
        QFETCH(QStringList, firstRow);
        const QString file = path("codec.csv");
        QFile::remove(file);
        if (!bytes.isEmpty())
            writeFile(file, bytes);
        bool notUtf8 = !fallback;
        QTextCodec *codec = QtCSV::Reader::codecFor(file, &notUtf8);
        QCOMPARE(notUtf8, fallback);
        bool atStart = !fallbackAtStart;
        QtCSV::Reader::codecForStart(file, &atStart);
        QCOMPARE(atStart, fallbackAtStart);
        QtCSV::Reader::FileFacts facts;
        QCOMPARE(QtCSV::Reader::inspect(file, &facts), !bytes.isEmpty());
        if (lines >= 0)
            QCOMPARE(facts.lines, lines);
        QCOMPARE(facts.windows1252, fallback);
        if (!firstRow.isEmpty())
            QCOMPARE(QtCSV::Reader::readToList(file, ";", "\"", codec).value(0), firstRow);
        if (bytes.startsWith("Artikel 0;"))
            QCOMPARE(QtCSV::Reader::readToList(file, ";", "\"", codec).value(1759).value(0),
                     QStringLiteral("Grüne Tasse für Käse"));
    }

    void write_data()
    {
        QTest::addColumn<Rows>("rows");
        QTest::addColumn<QString>("delimiter");
        QTest::addColumn<QStringList>("header");
        QTest::addColumn<QStringList>("footer");
        QTest::addColumn<QByteArray>("bytes");
        QTest::newRow("quote wraps every element, doubles quotes")
            << Rows { { "a", "", "x\"y" } } << "\"" << QStringList() << QStringList()
            << QByteArray("\"a\";\"\";\"x\"\"y\"\n");
        QTest::newRow("no delimiter wraps only separator and line breaks")
            << Rows { { "a;b", "c\nd", "e\rf", "g\"h", "i" } } << QString() << QStringList()
            << QStringList() << QByteArray("\"a;b\";\"c\nd\";\"e\rf\";g\"h;i\n");
        QTest::newRow("header, data, footer")
            << Rows { { "1" } } << "\"" << QStringList { "h1", "h2" } << QStringList { "f" }
            << QByteArray("\"h1\";\"h2\"\n\"1\"\n\"f\"\n");
        QTest::newRow("header alone")
            << Rows {} << "\"" << QStringList { "h" } << QStringList() << QByteArray("\"h\"\n");
    }
    void write()
    {
        QFETCH(Rows, rows);
        QFETCH(QString, delimiter);
        QFETCH(QStringList, header);
        QFETCH(QStringList, footer);
        QFETCH(QByteArray, bytes);
        QtCSV::StringData data;
        for (const QStringList &row : rows)
            data.addRow(row);
        const QString file = path("write.csv");
        writeFile(file, "old content that is longer than the new one\n");
        QVERIFY(QtCSV::Writer::write(file, data, ";", delimiter, QtCSV::Writer::Overwrite, header,
                                     footer, utf8()));
        QCOMPARE(contentOf(file), bytes);
    }

    void appendAddsToTheEnd()
    {
        const QString file = path("append.csv");
        writeFile(file, "\"0\"\n");
        QVERIFY(QtCSV::Writer::write(file, numberedRows(1), ";", "\"", QtCSV::Writer::Append));
        QCOMPARE(contentOf(file), QByteArray("\"0\"\n\"0\";\"row 0\"\n"));
    }

    void refusedWrite_data()
    {
        QTest::addColumn<QString>("file");
        QTest::addColumn<int>("rows");
        QTest::newRow("empty path") << QString() << 1;
        QTest::newRow("relative path") << QStringLiteral("out.csv") << 1;
        QTest::newRow("folder") << m_dir.path() << 1;
        QTest::newRow("nothing at all") << path("out.csv") << 0;
    }
    void refusedWrite()
    {
        QFETCH(QString, file);
        QFETCH(int, rows);
        QVERIFY(!QtCSV::Writer::write(file, numberedRows(rows), ";", "\""));
        QVERIFY(!QFileInfo::exists(path("out.csv")));
    }

    // The header counts toward the first chunk of 1000 rows; the footer comes last.
    void chunks_data()
    {
        QTest::addColumn<int>("rows");
        QTest::addColumn<bool>("withHeader");
        QTest::addColumn<QList<int>>("linesPerChunk");
        QTest::newRow("999 rows and header") << 999 << true << QList<int> { 1000, 1 };
        QTest::newRow("1000 rows and header") << 1000 << true << QList<int> { 1000, 2 };
        QTest::newRow("1001 rows and header") << 1001 << true << QList<int> { 1000, 3 };
        QTest::newRow("1000 rows, no header") << 1000 << false << QList<int> { 1000, 1 };
        QTest::newRow("999 rows, no header") << 999 << false << QList<int> { 1000 };
    }
    void chunks()
    {
        QFETCH(int, rows);
        QFETCH(bool, withHeader);
        QFETCH(QList<int>, linesPerChunk);
        const QtCSV::StringData data = numberedRows(rows);
        const QStringList header = withHeader ? QStringList { "nr", "text" } : QStringList();
        QtCSV::ContentIterator content(data, ";", "\"", header, { "end" }, 1000);
        QList<int> lines;
        while (content.hasNext())
            lines << content.getNext().count(QLatin1Char('\n'));
        QCOMPARE(lines, linesPerChunk);

        const QString file = path("chunks.csv");
        QVERIFY(QtCSV::Writer::write(file, data, ";", "\"", QtCSV::Writer::Overwrite, header,
                                     { "end" }, utf8()));
        const Rows read = QtCSV::Reader::readToList(file, ";", "\"", utf8());
        QCOMPARE(read.size(), rows + (withHeader ? 2 : 1));
        QCOMPARE(read.at(read.size() - 2), data.rowValues(rows - 1));
        QCOMPARE(read.last(), QStringList { "end" });
    }

    void roundTrip_data()
    {
        QTest::addColumn<QString>("value");
        QTest::newRow("empty") << QString();
        QTest::newRow("a quote alone") << "\"";
        QTest::newRow("two quotes") << "\"\"";
        QTest::newRow("quoted word") << "\"word\"";
        QTest::newRow("trailing quote") << "x\"";
        QTest::newRow("separator") << "a;b";
        QTest::newRow("ends in separator") << "a;";
        QTest::newRow("quote before separator") << "a\";b";
        QTest::newRow("line breaks") << "line\nbreak\n\n";
        QTest::newRow("umlaut, euro, emoji") << QStringLiteral("Größe 42 € \U0001F600");
        QTest::newRow("backslash and blanks") << " \\path\\ ";
        QTest::newRow("html") << "<p class=\"x\">a;b</p>";
    }
    void roundTrip()
    {
        QFETCH(QString, value);
        QtCSV::StringData data;
        data.addRow(QStringList { "before", value, "after" });
        data.addRow(QStringList { value });
        const QString file = path("roundtrip.csv");
        QVERIFY(
            QtCSV::Writer::write(file, data, ";", "\"", QtCSV::Writer::Overwrite, {}, {}, utf8()));
        QtCSV::StringData read;
        QVERIFY(QtCSV::Reader::readToData(file, read, ";", "\"", utf8()));
        QCOMPARE(read.rowValues(0), data.rowValues(0));
        QCOMPARE(read.rowValues(1), data.rowValues(1));
    }

    // A write that fails half-way (here: the file size limit) leaves the old file intact
    // and no temporary file behind.
    void failedOverwriteKeepsTheOldFile()
    {
        QTemporaryDir dir;
        const QString file = dir.filePath("target.csv");
        writeFile(file, "old\n");
        {
            TestSupport::FileSizeLimit limit(4096);
            QVERIFY(!QtCSV::Writer::write(file, numberedRows(5000), ";", "\""));
        }
        QCOMPARE(contentOf(file), QByteArray("old\n"));
        QCOMPARE(QDir(dir.path()).entryList(QDir::Files), QStringList { "target.csv" });
    }

    void variantRowsNeedTextValues()
    {
        QtCSV::VariantData data;
        QVERIFY(!data.addRow(QList<QVariant> { 1, QSize(1, 2) }));
        QVERIFY(data.addRow(QList<QVariant> { 1, 2.5, QStringLiteral("x") }));
        QVERIFY(!data.insertRow(0, QVariant(QSize(1, 2))));
        QCOMPARE(data.rowCount(), 1);
        QCOMPARE(data.rowValues(0), (QStringList { "1", "2.5", "x" }));
    }
};

APP_TEST_GUILESS_MAIN(TestCsv)
#include "test_csv.moc"
