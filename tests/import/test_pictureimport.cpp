// An import's pictures taken over on the background worker's thread, where an import's passes
// run: checked in the decoder processes while that thread waits on its own, with no window
// and no event loop of the window's thread to lean on.
#include "core/backgroundworker.h"
#include "core/database.h"
#include "import/pictureimport.h"
#include "tests/support/testdatabase.h"
#include "tests/support/testmain.h"

#include <QDir>
#include <QFile>
#include <QImage>
#include <QSemaphore>
#include <QTemporaryDir>
#include <QThread>
#include <memory>

class TestPictureImport : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase_data() { TestSupport::addBackendRows(); }
    void onTheWorkerThread();
    void preparedForSeveral_data();
    void preparedForSeveral();
};

// The window's thread blocks meanwhile, serving no events: the store must not need them. The
// photos are taken, in their order, with the thumbnail of the first; a text named ".jpg" and a
// link (a path the data names) are not.
void TestPictureImport::onTheWorkerThread()
{
    APP_TEST_DATABASE(data);
    Database *db = data.db();
    QVERIFY(db->executeSQL("INSERT INTO articles (Title) VALUES ('Lampe')"));
    const int id = db->selectOne("SELECT MAX(id) FROM articles").value().toInt();
    QVERIFY(id > 0);
    QTemporaryDir dir;
    QStringList files;
    for (const auto &colour : { Qt::darkRed, Qt::darkBlue }) {
        QImage photo(1600, 1200, QImage::Format_RGB32);
        photo.fill(colour);
        files << dir.filePath(QString("foto%1.jpg").arg(files.size()));
        QVERIFY(photo.save(files.last(), "JPEG"));
    }
    const QString text = dir.filePath("notiz.jpg"); // sorts before the link's name
    QFile note(text);
    QVERIFY(note.open(QIODevice::WriteOnly) && note.write("kein Bild\n") > 0);
    note.close();
    const QString link = dir.filePath("verknuepft.jpg");
    QVERIFY(QFile::link(files.first(), link));
    const QStringList pictures { files.at(0), text, files.at(1), link };

    struct Outcome
    {
        int failed = -1;
        QStringList lost;
        QThread *thread = nullptr;
    };
    auto outcome = std::make_shared<Outcome>();
    auto done = std::make_shared<QSemaphore>();
    BackgroundWorker::instance()->post(
        QStringLiteral("Bilder"), [=](Database &worker, BackgroundJob::Control &) {
            outcome->thread = QThread::currentThread();
            outcome->failed = PictureImport::store(&worker, id, pictures, {}, &outcome->lost);
            done->release();
        });
    QVERIFY(done->tryAcquire(1, 60000));

    QVERIFY(outcome->thread && outcome->thread != QThread::currentThread());
    QCOMPARE(outcome->failed, 2);
    outcome->lost.sort();
    QCOMPARE(outcome->lost, QStringList({ text, link }));
    const SqlRows rows
        = db->select("SELECT image, sort FROM articles_images WHERE article_id="
                     + QString::number(id) + " ORDER BY sort")
              .value();
    QCOMPARE(rows.size(), 2);
    QCOMPARE(rows.at(0).value("sort").toInt(), 0);
    QCOMPARE(rows.at(1).value("sort").toInt(), 2);
    const QString thumb
        = db->selectOne("SELECT ImageThumb FROM articles WHERE id=" + QString::number(id)).value();
    const QImage written(db->getCurrentAdImageDirThumbs() + thumb);
    QCOMPARE(written.size(), QSize(133, 100));
    QVERIFY2(qRed(written.pixel(66, 50)) > 100 && qBlue(written.pixel(66, 50)) < 60,
             "the thumbnail is not the first picture's");
    QTRY_COMPARE(BackgroundWorker::instance()->pending(), 0);
}

// Pictures prepared once for several articles (an update that reaches several): each article
// recorded gets files and a thumbnail of its own; what was prepared and not recorded leaves
// nothing behind in either folder.
void TestPictureImport::preparedForSeveral_data()
{
    QTest::addColumn<int>("articles"); // prepared for
    QTest::addColumn<int>("recorded"); // of them
    QTest::addColumn<bool>("inPlaceFirst"); // the first picture lies in the picture folder
    QTest::newRow("one of one") << 1 << 1 << false;
    QTest::newRow("three of three") << 3 << 3 << false;
    QTest::newRow("two of three, the first in place") << 3 << 2 << true;
    QTest::newRow("none of two") << 2 << 0 << false;
}

void TestPictureImport::preparedForSeveral()
{
    QFETCH(int, articles);
    QFETCH(int, recorded);
    QFETCH(bool, inPlaceFirst);
    APP_TEST_DATABASE(data);
    Database *db = data.db();
    const QString folder = db->getCurrentAdImageDir();
    const QString thumbs = db->getCurrentAdImageDirThumbs();
    QTemporaryDir dir;
    QImage photo(320, 240, QImage::Format_RGB32);
    photo.fill(Qt::darkGreen);
    QVERIFY(photo.save(dir.filePath("foto.jpg"), "JPEG"));
    QVERIFY(photo.save(folder + "da.png", "PNG"));
    const QStringList pictures = inPlaceFirst ? QStringList { "da.png", dir.filePath("foto.jpg") }
                                              : QStringList { dir.filePath("foto.jpg"), "da.png" };
    QList<int> ids;
    for (int i = 0; i < articles; ++i) {
        QVERIFY(db->executeSQL("INSERT INTO articles (Title) VALUES ('Lampe')"));
        ids << db->selectOne("SELECT MAX(id) FROM articles").value().toInt();
    }
    const QStringList picturesBefore = QDir(folder).entryList(QDir::Files | QDir::Hidden);
    {
        PictureImport::Prepared prepared
            = PictureImport::prepare(folder, thumbs, pictures, articles);
        QCOMPARE(prepared.lost(), QStringList());
        for (int a = 0; a < recorded; ++a)
            QCOMPARE(PictureImport::record(db, ids.at(a), prepared, a), 0);
    }
    QStringList named;
    QStringList thumbNames;
    for (int a = 0; a < articles; ++a) {
        const QString id = QString::number(ids.at(a));
        const SqlRows rows = db->select("SELECT image FROM articles_images WHERE article_id=" + id
                                        + " ORDER BY sort")
                                 .value();
        const QString thumb
            = db->selectOne("SELECT ImageThumb FROM articles WHERE id=" + id).value();
        if (a >= recorded) {
            QCOMPARE(rows.size(), 0);
            QCOMPARE(thumb, QString());
            continue;
        }
        QCOMPARE(rows.size(), 2);
        for (const auto &row : rows)
            named << row.value("image").toString();
        QVERIFY(QFileInfo::exists(thumbs + thumb));
        thumbNames << thumb;
        const QString copied = rows.at(inPlaceFirst ? 1 : 0).value("image").toString();
        QVERIFY2(copied.contains("_" + id + "_"), qPrintable(copied));
        QCOMPARE(thumb, "thumb_" + rows.first().value("image").toString());
    }
    // Every picture file is one a row names (or was there before), none hidden is left.
    QStringList expected = picturesBefore + named;
    expected.removeDuplicates();
    expected.sort();
    QStringList found = QDir(folder).entryList(QDir::Files | QDir::Hidden);
    found.sort();
    QCOMPARE(found, expected);
    thumbNames.removeDuplicates();
    QCOMPARE(QDir(thumbs).entryList(QDir::Files | QDir::Hidden).size(), thumbNames.size());
}

APP_TEST_GUILESS_MAIN(TestPictureImport)
#include "test_pictureimport.moc"
