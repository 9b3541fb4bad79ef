// Measures the pictures from outside as the seller meets them, each as the longest pause of the
// window's event loop (a 2 ms probe timer) and the time until everything is there:
//  - the article list's thumbnails while 50,000 rows scroll by (500 distinct thumbnail files,
//    a screen of 12 rows painted per step, the events served between steps);
//  - the article editor with 12 pictures of 24 megapixels (6000 x 4000 JPEG): open and show
//    the pictures page until every slot shows its picture, then OK until it is saved; peak
//    resident memory of the program (and of its decoder processes, where there are some);
//  - the CSV import's picture step of one row naming 12 such photos (copy, check, thumbnail);
//  - the decoders ("decoders"): an import's check of one photo asked while 1,000 slow list
//    thumbnails (4000 x 4000 PNG) wait (given up after 60 s); a PNG of 100 x 100 whose zlib
//    stream goes on with 8 GB of zeros (8.3 MB); four text-chunk bombs decoded at once, with
//    the most address space and resident memory the decoders held together; the upload check
//    of a 238 MB file (a photo and what follows it), with the program's peak memory.
// Usage: bench_pictures [list|editor|import|decoders]...
#include "core/database.h"
#include "core/imagelimits.h"
#include "editor/addarticle.h"
#include "import/pictureimport.h"
#include "tests/editor/editorfixture.h"
#include "tests/support/blackpng.h"
#include "tests/support/dialoganswers.h"
#include "tests/support/fakehttpserver.h"
#include "tests/support/peakmemory.h"
#include "core/statics.h"
#include "tests/support/temphome.h"
#include "views/itemlistdelegate.h"
#include "views/itemlistroles.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QImage>
#include <QPainter>
#include <QStandardItemModel>
#include <QTimer>
#include <QWidget>

#include <atomic>
#include <cstdio>
#include <functional>
#include <thread>

namespace {

// The longest gap between the ticks of a 2 ms timer while `work` runs and until `done`.
struct Pauses
{
    qint64 longest = 0;
    qint64 total = 0;
};

Pauses measure(const std::function<void()> &work, const std::function<bool()> &done)
{
    Pauses result;
    QElapsedTimer tick;
    QTimer probe;
    probe.setInterval(2);
    QObject::connect(&probe, &QTimer::timeout,
                     [&] { result.longest = qMax(result.longest, tick.restart()); });
    QElapsedTimer all;
    all.start();
    tick.start();
    probe.start();
    work();
    while (!done())
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 5);
    result.longest = qMax(result.longest, tick.elapsed());
    result.total = all.elapsed();
    return result;
}

// Peak resident memory of the decoder processes started by this one (VmHWM), in MB.
double childrenPeakMb()
{
    double peak = 0;
    const QString self = QString::number(QCoreApplication::applicationPid());
    for (const QString &pid : QDir(QStringLiteral("/proc")).entryList(QDir::Dirs)) {
        QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
        if (!stat.open(QIODevice::ReadOnly))
            continue;
        const QList<QByteArray> fields = stat.readAll().split(' ');
        if (fields.size() < 4 || QString::fromLatin1(fields.at(3)) != self)
            continue;
        QFile status(QStringLiteral("/proc/%1/status").arg(pid));
        if (!status.open(QIODevice::ReadOnly))
            continue;
        for (const QByteArray &line : status.readAll().split('\n'))
            if (line.startsWith("VmHWM:"))
                peak = qMax(peak, line.mid(6).trimmed().split(' ').first().toDouble() / 1024);
    }
    return peak;
}

QImage photo(int width, int height)
{
    QImage image(width, height, QImage::Format_RGB32);
    QPainter painter(&image);
    QLinearGradient gradient(0, 0, width, height);
    gradient.setColorAt(0, Qt::darkBlue);
    gradient.setColorAt(1, Qt::yellow);
    painter.fillRect(image.rect(), gradient);
    for (int x = 0; x < width; x += 37)
        painter.fillRect(x, 0, 5, height, QColor(x % 255, 80, 160));
    return image;
}

void listThumbnails(const QString &folder)
{
    const int kRows = 50000;
    const int kFiles = 500;
    const QImage thumb = photo(150, 100);
    for (int i = 0; i < kFiles; ++i)
        thumb.save(folder + QStringLiteral("thumb_%1.jpg").arg(i), "JPEG");
    QWidget list;
    list.resize(600, 12 * 80);
    ItemListDelegate delegate(&list);
    QStandardItemModel model(kRows, 1);
    for (int row = 0; row < kRows; ++row)
        model.setData(model.index(row, 0),
                      folder + QStringLiteral("thumb_%1.jpg").arg(row % kFiles),
                      ItemListRole::ImageThumbRole);
    QPixmap screen(600, 80);
    QStyleOptionViewItem option;
    option.rect = QRect(0, 0, 600, 80);
    int step = 0;
    const Pauses pauses = measure(
        [&] {
            for (step = 0; step < kRows; step += 12) {
                QPainter painter(&screen);
                for (int row = step; row < qMin(kRows, step + 12); ++row)
                    delegate.paint(&painter, option, model.index(row, 0));
                painter.end();
                QCoreApplication::processEvents();
            }
        },
        [] { return ImageLimits::pendingDecodes() == 0; });
    std::printf("list thumbnails, 50,000 rows scrolled: longest pause %lld ms, all read after "
                "%lld ms\n",
                pauses.longest, pauses.total);
}

void editor(Database &db, int account, const QString &home)
{
    QMap<QString, QVariant> row { { "Title", "Lokomotive" }, { "Folder", -10 },
                                  { "Account", account }, { "Site", 77 }, { "StartPrice", 12.5 },
                                  { "Quantity", 1 }, { "ListingType", "FixedPriceItem" },
                                  { "Country", "DE" }, { "PostalCode", "10115" },
                                  { "Description", "<p>Lok</p>" }, { "PrimaryCategory", "9355" },
                                  { "ConditionID", 1000 } };
    const int article = db.insertSqlClean(row, QStringLiteral("articles"));
    const QImage big = photo(6000, 4000);
    QStringList files;
    for (int i = 0; i < 12; ++i) {
        files << home + QStringLiteral("/gross%1.jpg").arg(i);
        big.save(files.last(), "JPEG", 90);
    }
    TestSupport::PeakMemory memory;
    const bool measured = memory.start();
    std::unique_ptr<AddArticle> dialog;
    const Pauses open = measure(
        [&] {
            dialog = std::make_unique<AddArticle>(nullptr, article, -10, false);
            dialog->show();
            EditorFixture::apply(dialog.get(), { "show=TabPics" });
            QMetaObject::invokeMethod(dialog.get(), "handleFileSaveAsBeforeCloseSelected",
                                      Q_ARG(QStringList, files));
        },
        [] { return ImageLimits::pendingDecodes() == 0; });
    const Pauses save = measure([&] { dialog->accept(); }, [&] { return dialog->result() == 1; });
    std::printf("editor, 12 pictures of 24 MP: open until shown %lld ms (longest pause %lld ms), "
                "save %lld ms (longest pause %lld ms), peak memory +%lld MB, decoder processes "
                "%.0f MB each at most\n",
                open.total, open.longest, save.total, save.longest,
                measured ? memory.growth() >> 20 : -1, childrenPeakMb());
}

void import(Database &db, const QString &home)
{
    const QImage big = photo(6000, 4000);
    QStringList files;
    for (int i = 0; i < 12; ++i) {
        files << home + QStringLiteral("/import%1.jpg").arg(i);
        big.save(files.last(), "JPEG", 90);
    }
    const int article = db.insertSqlClean({ { "Title", "Import" }, { "Folder", -10 } },
                                           QStringLiteral("articles"));
    int failed = -1;
    const Pauses pauses = measure([&] { failed = PictureImport::store(&db, article, files); },
                                  [] { return true; });
    std::printf("CSV import's pictures, one row of 12 photos of 24 MP: %lld ms, longest pause "
                "%lld ms, %d not taken\n",
                pauses.total, pauses.longest, failed);
}

// The address space (VmSize) and resident memory (VmRSS) the running decoder processes of
// this one hold together, in MB.
QPair<qint64, qint64> decodersHold()
{
    qint64 size = 0;
    qint64 resident = 0;
    const QString self = QString::number(QCoreApplication::applicationPid());
    for (const QString &pid : QDir(QStringLiteral("/proc")).entryList(QDir::Dirs)) {
        QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
        if (!stat.open(QIODevice::ReadOnly))
            continue;
        const QList<QByteArray> fields = stat.readAll().split(' ');
        if (fields.size() < 4 || QString::fromLatin1(fields.at(3)) != self)
            continue;
        QFile status(QStringLiteral("/proc/%1/status").arg(pid));
        if (!status.open(QIODevice::ReadOnly))
            continue;
        for (const QByteArray &line : status.readAll().split('\n')) {
            if (line.startsWith("VmSize:"))
                size += line.mid(7).trimmed().split(' ').first().toLongLong();
            else if (line.startsWith("VmRSS:"))
                resident += line.mid(6).trimmed().split(' ').first().toLongLong();
        }
    }
    return { size >> 10, resident >> 10 };
}

void decoders(const QString &home)
{
    const auto save = [&home](const QString &name, const QByteArray &bytes) {
        QFile file(home + QLatin1Char('/') + name);
        if (file.open(QIODevice::WriteOnly))
            file.write(bytes);
        return file.fileName();
    };
    const QString photoFile = home + QStringLiteral("/pruefen.jpg");
    photo(4000, 3000).save(photoFile, "JPEG", 90);
    const QString slow = save(QStringLiteral("langsam.png"), TestSupport::blackPng(4000, 4000));
    // Warm: the decoders are running.
    ImageLimits::decodeWithin(ImageLimits::pictureFile(photoFile, QSize(160, 160)));

    {
        auto list = std::make_unique<QObject>();
        for (int i = 0; i < 1000; ++i)
            ImageLimits::decodeLater(list.get(), ImageLimits::pictureFile(slow, QSize(160, 160)),
                                     [](const ImageLimits::Decoded &) {});
        QCoreApplication::processEvents();
        // Asked as the import asks, from a thread of its own; given up here after 60 s.
        std::atomic<qint64> answered { -1 };
        QElapsedTimer timer;
        timer.start();
        std::thread([&answered, photoFile, timer] {
            ImageLimits::decodeWithin(ImageLimits::pictureFile(photoFile, QSize(160, 160)));
            answered = timer.elapsed();
        }).detach();
        while (answered < 0 && timer.elapsed() < 60000)
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 20);
        if (answered >= 0)
            std::printf("import's check behind 1,000 slow thumbnails: answered after %lld ms\n",
                        qint64(answered));
        else
            std::printf("import's check behind 1,000 slow thumbnails: not answered within 60 s\n");
        list.reset();
        while (ImageLimits::pendingDecodes() > 0)
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 20);
    }

    {
        const QString tail = save(QStringLiteral("schwanz.png"), TestSupport::tailPng(100, 100, 8192));
        QElapsedTimer timer;
        timer.start();
        const ImageLimits::Decoded decoded
            = ImageLimits::decodeWithin(ImageLimits::pictureFile(tail, QSize(160, 160)));
        std::printf("PNG 100 x 100 with 8 GB of zeros after its rows (%.1f MB): %lld ms, %s\n",
                    double(QFileInfo(tail).size()) / (1 << 20), timer.elapsed(),
                    decoded.image.isNull()
                        ? qPrintable(QStringLiteral("refused: ") + decoded.refusal + decoded.error)
                        : "accepted");
    }

    {
        const QByteArray bomb = TestSupport::textBombPng(150, 7900 * 1000);
        QObject context;
        int given = 0;
        int givenUp = 0;
        QElapsedTimer timer;
        timer.start();
        for (int i = 0; i < 4; ++i)
            ImageLimits::decodeLater(
                &context,
                ImageLimits::pictureFile(save(QStringLiteral("bombe%1.png").arg(i), bomb),
                                         QSize(160, 160)),
                [&given, &givenUp](const ImageLimits::Decoded &decoded) {
                    ++given;
                    givenUp += decoded.timedOut ? 1 : 0;
                },
                ImageLimits::Order::First);
        qint64 size = 0;
        qint64 resident = 0;
        while (given < 4) {
            const QPair<qint64, qint64> held = decodersHold();
            size = qMax(size, held.first);
            resident = qMax(resident, held.second);
            QCoreApplication::processEvents(QEventLoop::AllEvents, 2);
        }
        std::printf("four text-chunk bombs at once: %lld ms (%d given up at the time-out), the "
                    "decoders held at most %lld MB of address space, %lld MB resident\n",
                    timer.elapsed(), givenUp, size, resident);
    }

    {
        QByteArray upload;
        {
            QFile file(photoFile);
            if (file.open(QIODevice::ReadOnly))
                upload = file.readAll();
        }
        upload.append(QByteArray(238 * 1024 * 1024 - upload.size(), '\x01'));
        TestSupport::PeakMemory memory;
        const bool measured = memory.start();
        QElapsedTimer timer;
        timer.start();
        const ImageLimits::Decoded checked
            = ImageLimits::decodeWithin(ImageLimits::pictureBytes(upload, Statics::thumbBox()));
        std::printf("upload check of a 238 MB file: %lld ms, %s, the program's peak memory +%lld "
                    "MB\n",
                    timer.elapsed(), checked.image.isNull() ? "not taken" : "taken",
                    measured ? memory.growth() >> 20 : -1);
    }
}

} // namespace

int main(int argc, char *argv[])
{
    TestSupport::TempHome dir;
    qputenv("QT_LOGGING_RULES", "*.debug=false;*.info=false");
    QApplication app(argc, argv);
    qInstallMessageHandler([](QtMsgType, const QMessageLogContext &, const QString &) {});
    Database db(dir.path() + QStringLiteral("/daten/"));
    const int account = EditorFixture::addAccounts(&db).first;
    TestSupport::FakeHttpServer server;
    server.pointConfigHere();
    EditorFixture::serveReferenceData(server);
    DialogAnswers answers;
    QStringList parts = app.arguments().mid(1);
    if (parts.isEmpty())
        parts = QStringList { "list", "editor", "import" };
    for (const QString &part : parts) {
        if (part == QLatin1String("list"))
            listThumbnails(db.getCurrentAdImageDirThumbs());
        else if (part == QLatin1String("editor"))
            editor(db, account, dir.path());
        else if (part == QLatin1String("import"))
            import(db, dir.path());
        else if (part == QLatin1String("decoders"))
            decoders(dir.path());
    }
    return 0;
}
