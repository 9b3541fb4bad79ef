// The picture slots: EXIF turns, deleting, drag and drop between slots, drops from outside
// and reloading a changed file.
#include "core/imagelimits.h"
#include "editor/companions/picturewidget.h"
#include "tests/support/blackpng.h"
#include "tests/support/fakehttpserver.h"
#include "tests/support/helddecodes.h"
#include "tests/support/memorylimit.h"
#include "tests/support/peakmemory.h"
#include "tests/support/testdatabase.h"
#include "tests/support/testmain.h"

#include <QBuffer>
#include <QDir>
#include <QDropEvent>
#include <QElapsedTimer>
#include <QFile>
#include <QImage>
#include <QLabel>
#include <QMimeData>
#include <QSignalSpy>
#include <QPainter>
#include <QTimer>
#include <QToolButton>
#include <memory>

#include <sys/stat.h>

using TestSupport::FakeHttpServer;
using TestSupport::FakeReply;

namespace {

// A 40 x 20 JPEG, left half red, right half blue; with an EXIF orientation when not 0.
QByteArray jpeg(int orientation, const QSize &size = QSize(40, 20))
{
    QImage image(size, QImage::Format_RGB32);
    image.fill(Qt::blue);
    QPainter(&image).fillRect(0, 0, size.width() / 2, size.height(), Qt::red);
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "JPG", 95);
    if (orientation == 0)
        return bytes;
    // APP1 "Exif" with a little-endian TIFF block holding one entry: orientation, SHORT.
    QByteArray tiff("II\x2a\x00\x08\x00\x00\x00\x01\x00\x12\x01\x03\x00\x01\x00\x00\x00", 18);
    tiff += char(orientation);
    tiff += QByteArray(7, '\0');
    const QByteArray body = QByteArray("Exif\0\0", 6) + tiff;
    QByteArray app1("\xff\xe1", 2);
    app1 += char((body.size() + 2) >> 8);
    app1 += char((body.size() + 2) & 0xff);
    return bytes.left(2) + app1 + body + bytes.mid(2);
}

// Drags `mime` onto `slot` and drops it there, as the drag manager delivers it.
bool drop(QWidget *slot, QMimeData *mime, Qt::DropAction action)
{
    QDragEnterEvent enter(QPoint(10, 10), action, mime, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(slot, &enter);
    QDropEvent drop(QPointF(10, 10), action, mime, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(slot, &drop);
    return enter.isAccepted() && drop.isAccepted();
}

// Until every picture asked for was decoded (or dropped) and shown.
bool settled()
{
    return QTest::qWaitFor([] { return ImageLimits::pendingDecodes() == 0; }, 10000);
}

bool reddish(const QColor &color)
{
    return color.red() > 128 && color.blue() < 128;
}

} // namespace

class TestPictureWidget : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void exifTurn_data();
    void exifTurn();
    void deleteMovesUp();
    void dragBetweenSlots_data();
    void dragBetweenSlots();
    void dropFromOutside_data();
    void dropFromOutside();
    void reloadWhenChanged();
    void pictureOverBudget();
    void decodeHeldPastItsTime();
    void refusedWhileStillDecoding();
    void newestPictureWins();
    void links_data();
    void links();

private:
    QString writeFile(const QString &name, const QByteArray &bytes);
    // Loads files "0.jpg" ... into the first `count` slots.
    void fill(int count);
    QStringList paths() const;

    std::unique_ptr<TestSupport::TestDatabase> m_t;
    std::unique_ptr<QWidget> m_editor;
    QList<PictureWidget *> m_slots;
};

void TestPictureWidget::init()
{
    m_t = std::make_unique<TestSupport::TestDatabase>(TestSupport::Backend::SQLite);
    QVERIFY2(m_t->error().isEmpty(), qPrintable(m_t->error()));
    m_editor = std::make_unique<QWidget>();
    m_slots.clear();
    for (int i = 0; i < 6; ++i) {
        auto *slot = new PictureWidget(m_editor.get(), m_t->db());
        slot->pictureSlots = &m_slots;
        slot->setGeometry(i * 270, 0, 263, 218);
        m_slots.append(slot);
    }
    m_editor->resize(6 * 270, 220);
    m_editor->show();
}

void TestPictureWidget::cleanup()
{
    m_slots.clear();
    m_editor.reset();
    m_t.reset();
}

QString TestPictureWidget::writeFile(const QString &name, const QByteArray &bytes)
{
    const QString path = m_t->dataDir() + name;
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size())
        return QString();
    return path;
}

void TestPictureWidget::fill(int count)
{
    for (int i = 0; i < count; ++i)
        m_slots[i]->setImage(writeFile(QString("%1.jpg").arg(i), jpeg(0)));
    QVERIFY(settled());
}

QStringList TestPictureWidget::paths() const
{
    QStringList names;
    for (PictureWidget *slot : m_slots)
        names << slot->imagePath.section('/', -1);
    return names;
}

void TestPictureWidget::exifTurn_data()
{
    QTest::addColumn<int>("orientation");
    QTest::addColumn<bool>("upright"); // taller than wide after turning
    QTest::addColumn<QString>("redSide"); // where the red half ends up: left, right, top, bottom
    QTest::newRow("none") << 0 << false << "left";
    QTest::newRow("1 normal") << 1 << false << "left";
    QTest::newRow("3 turned 180") << 3 << false << "right";
    QTest::newRow("6 quarter clockwise") << 6 << true << "top";
    QTest::newRow("8 quarter counter-clockwise") << 8 << true << "bottom";
}

void TestPictureWidget::exifTurn()
{
    QFETCH(int, orientation);
    QFETCH(bool, upright);
    QFETCH(QString, redSide);
    PictureWidget *slot = m_slots.first();
    slot->setImage(writeFile("bild.jpg", jpeg(orientation)));
    QVERIFY(settled());
    const QImage shown = slot->findChild<QLabel *>("label")->pixmap(Qt::ReturnByValue).toImage();
    QCOMPARE(shown.height() > shown.width(), upright);
    const QPoint probe = redSide == "left" ? QPoint(2, shown.height() / 2)
        : redSide == "right"              ? QPoint(shown.width() - 3, shown.height() / 2)
        : redSide == "top"                ? QPoint(shown.width() / 2, 2)
                                          : QPoint(shown.width() / 2, shown.height() - 3);
    QVERIFY(reddish(shown.pixelColor(probe)));
    const bool turned = orientation == 3 || orientation == 6 || orientation == 8;
    QCOMPARE(slot->rotated, turned);
    QCOMPARE(slot->findChild<QToolButton *>("rotateButton")->isEnabled(), !turned);
    QCOMPARE(slot->accessibleDescription(), QString("modified"));
}

void TestPictureWidget::deleteMovesUp()
{
    fill(5);
    m_slots[1]->rotation = 90;
    m_slots[3]->rotation = 180;
    m_slots[2]->findChild<QToolButton *>("deleteButton")->click();
    QCOMPARE(paths(), QStringList({ "0.jpg", "1.jpg", "3.jpg", "4.jpg", "", "" }));
    QCOMPARE(m_slots[1]->rotation, 90);
    QCOMPARE(m_slots[2]->rotation, 180);
    QVERIFY(!m_slots[4]->findChild<QToolButton *>("deleteButton")->isEnabled());
}

void TestPictureWidget::dragBetweenSlots_data()
{
    QTest::addColumn<int>("from");
    QTest::addColumn<int>("to");
    QTest::addColumn<QStringList>("after");
    QTest::newRow("swap with a loaded slot")
        << 1 << 0 << QStringList { "1.jpg", "0.jpg", "2.jpg", "", "", "" };
    QTest::newRow("move to an empty slot")
        << 1 << 4 << QStringList { "0.jpg", "", "2.jpg", "", "1.jpg", "" };
    QTest::newRow("onto itself") << 2 << 2 << QStringList { "0.jpg", "1.jpg", "2.jpg", "", "", "" };
}

void TestPictureWidget::dragBetweenSlots()
{
    QFETCH(int, from);
    QFETCH(int, to);
    QFETCH(QStringList, after);
    fill(3);
    m_slots[from]->rotation = 270;
    QMimeData mime;
    mime.setData("internal", m_slots[from]->imagePath.toUtf8());
    QVERIFY(drop(m_slots[to], &mime, Qt::MoveAction));
    QCOMPARE(paths(), after);
    QCOMPARE(m_slots[to]->rotation, 270);
}

void TestPictureWidget::dropFromOutside_data()
{
    QTest::addColumn<QStringList>("urls"); // "file:<name>" is made here, "web:<path>" served
    QTest::addColumn<int>("target");
    QTest::addColumn<QStringList>("after");
    QTest::newRow("one file replaces the picture")
        << QStringList { "file:neu.jpg" } << 1
        << QStringList { "0.jpg", "neu.jpg", "2.jpg", "3.jpg", "", "" };
    QTest::newRow("files fill the empty slots")
        << QStringList { "file:a.jpg", "file:b.jpg", "file:c.jpg" } << 0
        << QStringList { "0.jpg", "1.jpg", "2.jpg", "3.jpg", "a.jpg", "b.jpg" };
    QTest::newRow("web picture fetched first") << QStringList { "web:/bilder/uhr.jpg" } << 4
                                               << QStringList { "0.jpg", "1.jpg", "2.jpg",
                                                                "3.jpg", "uhr.jpg", "" };
    QTest::newRow("other schemes ignored") << QStringList { "ftp://127.0.0.1/x.jpg" } << 4
                                           << QStringList { "0.jpg", "1.jpg", "2.jpg", "3.jpg",
                                                            "", "" };
}

void TestPictureWidget::dropFromOutside()
{
    QFETCH(QStringList, urls);
    QFETCH(int, target);
    QFETCH(QStringList, after);
    fill(4);
    FakeHttpServer server;
    server.setReply("/bilder/uhr.jpg", FakeReply::ok(jpeg(0), "image/jpeg"));
    QList<QUrl> list;
    for (const QString &url : urls) {
        if (url.startsWith("file:"))
            list << QUrl::fromLocalFile(writeFile(url.mid(5), jpeg(0)));
        else if (url.startsWith("web:"))
            list << server.url(url.mid(4));
        else
            list << QUrl(url);
    }
    QMimeData mime;
    mime.setUrls(list);
    drop(m_slots[target], &mime, Qt::CopyAction);
    QStringList shown = paths();
    for (QString &name : shown)
        name = name.section('_', -1); // fetched pictures get a prefix
    QCOMPARE(shown, after);
}

void TestPictureWidget::reloadWhenChanged()
{
    PictureWidget *slot = m_slots.first();
    slot->setCheckInterval(50);
    const QString path = writeFile("bild.jpg", jpeg(0));
    for (int i = 0; i < 3; ++i)
        slot->setImage(path);
    int pending = 0;
    for (QTimer *timer : slot->findChildren<QTimer *>(QString(), Qt::FindDirectChildrenOnly))
        pending += timer->isActive();
    QCOMPARE(pending, 1);

    auto *label = slot->findChild<QLabel *>("label");
    QVERIFY(settled());
    QCOMPARE(label->pixmap(Qt::ReturnByValue).size(), QSize(40, 20));
    writeFile("bild.jpg", jpeg(0, QSize(30, 30)));
    QFile file(path);
    QVERIFY(file.open(QIODevice::ReadWrite));
    QVERIFY(file.setFileTime(QDateTime::currentDateTime().addSecs(5),
                             QFileDevice::FileModificationTime));
    QTRY_COMPARE(label->pixmap(Qt::ReturnByValue).size(), QSize(30, 30));
}

// A picture of more pixels than the budget (64 megapixels in 200 KB) is not taken into a
// slot, which says why; it is refused by its header, at once and without decoding it.
void TestPictureWidget::pictureOverBudget()
{
    fill(1);
    const QString path = writeFile("neu.png", TestSupport::blackPng(8000, 8000));
    TestSupport::PeakMemory memory;
    const bool measured = memory.start();
    QElapsedTimer timer;
    {
        TestSupport::AddressSpaceLimit cap(qint64(1) << 30);
        QVERIFY(cap.active());
        timer.start();
        m_slots[0]->setImage(path);
        QVERIFY(settled());
    }
    QVERIFY2(timer.elapsed() < 1000, qPrintable(QString::number(timer.elapsed())));
    QVERIFY2(!measured || memory.growth() < 32 * 1024 * 1024,
             qPrintable(QString::number(memory.growth() >> 20) + " MB"));
    auto *label = m_slots[0]->findChild<QLabel *>("label");
    QCOMPARE(m_slots[0]->imagePath, QString());
    QCOMPARE(
        label->text(),
        QStringLiteral("Das Bild hat 8000 × 8000 Pixel, mehr als die erlaubten 50 Megapixel."));
    QVERIFY(label->pixmap(Qt::ReturnByValue).isNull());
}

// The picture is decoded off the window thread: while its decode is held, the window goes on;
// past the decode time-out the slot gives it up and says so, and the picture that comes
// after that is dropped.
void TestPictureWidget::decodeHeldPastItsTime()
{
    const QString path = writeFile("bild.jpg", jpeg(0));
    TestSupport::HeldDecodes held(300);
    PictureWidget *slot = m_slots.first();
    auto *label = slot->findChild<QLabel *>("label");
    slot->setImage(path);
    QVERIFY(held.entered());
    bool ran = false;
    QTimer::singleShot(0, [&ran] { ran = true; });
    QTRY_VERIFY(ran);
    QTRY_COMPARE(label->text(),
                 QStringLiteral("Das Bild zu lesen dauerte länger als 1 s; es wird übergangen."));
    QCOMPARE(slot->imagePath, QString());
    QVERIFY(slot->thumbnail().isNull());

    held.letGo();
    QVERIFY(settled());
    QCoreApplication::processEvents();
    QCOMPARE(label->text(),
             QStringLiteral("Das Bild zu lesen dauerte länger als 1 s; es wird übergangen."));
    QVERIFY(label->pixmap(Qt::ReturnByValue).isNull());
    QCOMPARE(slot->imagePath, QString());

    // The next picture is shown as usual, with the thumbnail the save writes.
    slot->setImage(path);
    QVERIFY(settled());
    QCOMPARE(label->pixmap(Qt::ReturnByValue).size(), QSize(40, 20));
    QCOMPARE(slot->thumbnail().size(), QSize(150, 75));
}

// While a slot decodes its picture it says so (a save waits for it); once the decode ended it
// holds the picture or has let go of the one it refused.
void TestPictureWidget::refusedWhileStillDecoding()
{
    const QString big = writeFile("riesig.jpg", TestSupport::blackPng(8000, 8000));
    const QString fine = writeFile("bild.jpg", jpeg(0));
    TestSupport::HeldDecodes held;
    m_slots[0]->setImage(big);
    m_slots[1]->setImage(fine);
    QVERIFY(held.entered(2));
    QCOMPARE(m_slots[0]->imagePath, big);
    QVERIFY(m_slots[0]->decoding());
    QVERIFY(m_slots[1]->decoding());
    QSignalSpy first(m_slots[0], &PictureWidget::settled);
    QSignalSpy second(m_slots[1], &PictureWidget::settled);
    held.letGo(2);
    QVERIFY(settled());
    QTRY_COMPARE(first.count() + second.count(), 2);
    QCOMPARE(m_slots[0]->imagePath, QString());
    QCOMPARE(m_slots[1]->imagePath, fine);
    QVERIFY(!m_slots[0]->decoding());
    QVERIFY(!m_slots[1]->decoding());
}

// A picture asked for after another is the one the slot shows, also when the first one's
// decode ends after it.
void TestPictureWidget::newestPictureWins()
{
    const QString first = writeFile("erstes.jpg", jpeg(0));
    const QString second = writeFile("zweites.jpg", jpeg(0, QSize(30, 30)));
    TestSupport::HeldDecodes held(-1, 1);
    PictureWidget *slot = m_slots.first();
    auto *label = slot->findChild<QLabel *>("label");
    slot->setImage(first);
    QVERIFY(held.entered());
    slot->setImage(second);
    QTRY_COMPARE(label->pixmap(Qt::ReturnByValue).size(), QSize(30, 30));
    held.letGo();
    QVERIFY(settled());
    QCoreApplication::processEvents();
    QCOMPARE(label->pixmap(Qt::ReturnByValue).size(), QSize(30, 30));
    QCOMPARE(slot->imagePath, second);
}

// A file the seller picks himself may be a link, as his Pictures folder often is: the slot
// shows what it leads to, still opened once as a plain file (a link to a FIFO is refused at
// once). A link in the program's picture folder, where rows name the files, is not followed.
void TestPictureWidget::links_data()
{
    QTest::addColumn<QString>("shape");
    QTest::addColumn<QString>("said"); // empty: the picture is shown; %1: the slot's file
    QTest::newRow("the seller's link to a photo") << "seller photo" << QString();
    QTest::newRow("the seller's link to a FIFO")
        << "seller fifo" << "„%1“ ist keine gewöhnliche Datei.";
    QTest::newRow("a link in the picture folder")
        << "folder photo" << "„%1“ ist eine Verknüpfung; ihr wird nicht gefolgt.";
    // sub/foto.jpg where sub links to a folder elsewhere: a link anywhere below the picture
    // folder leads out of it.
    QTest::newRow("a folder link on the way in the picture folder")
        << "folder way"
        << "„%1“ liegt hinter einer Verknüpfung („sub“); ihr wird nicht gefolgt.";
}

void TestPictureWidget::links()
{
    QFETCH(QString, shape);
    QFETCH(QString, said);
    const QString photo = writeFile("foto.jpg", jpeg(0));
    QString target = photo;
    if (shape == "seller fifo") {
        target = m_t->dataDir() + "rohr";
        QCOMPARE(::mkfifo(QFile::encodeName(target).constData(), 0600), 0);
    }
    const QString folder
        = shape.startsWith("folder") ? m_t->db()->getCurrentAdImageDir() : m_t->dataDir() + "Bilder/";
    QVERIFY(QDir().mkpath(folder));
    QString link = folder + "verknuepft.jpg";
    if (shape == "folder way") {
        QVERIFY(QFile::link(QFileInfo(photo).absolutePath(), folder + "sub"));
        link = folder + "sub/" + QFileInfo(photo).fileName();
    } else {
        QVERIFY(QFile::link(target, link));
    }
    PictureWidget *slot = m_slots.first();
    slot->handleFileSaveAsBeforeCloseSelected(link);
    QVERIFY(settled());
    auto *label = slot->findChild<QLabel *>("label");
    if (said.isEmpty()) {
        QCOMPARE(slot->imagePath, link);
        QCOMPARE(label->pixmap(Qt::ReturnByValue).size(), QSize(40, 20));
        QCOMPARE(slot->thumbnail().size(), QSize(150, 75));
    } else {
        QTRY_COMPARE(label->text(), said.arg(link));
        QCOMPARE(slot->imagePath, QString());
        QVERIFY(slot->thumbnail().isNull());
    }
}

APP_TEST_MAIN(TestPictureWidget)
#include "test_picturewidget.moc"
