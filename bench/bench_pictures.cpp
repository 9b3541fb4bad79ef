// Measures the pictures from outside as the seller meets them, each as the longest pause of the
// window's event loop (a 2 ms probe timer) and the time until everything is there:
//  - the article list's thumbnails while 50,000 rows scroll by (500 distinct thumbnail files,
//    a screen of 12 rows painted per step, the events served between steps);
//  - the article editor with 12 pictures of 24 megapixels (6000 x 4000 JPEG): open and show
//    the pictures page until every slot shows its picture, then OK until it is saved; peak
//    resident memory of the program (and of its decoder processes, where there are some);
//  - the CSV import's picture step of one row naming 12 such photos (copy, check, thumbnail).
// Usage: bench_pictures [list|editor|import]...
#include "core/database.h"
#include "core/imagelimits.h"
#include "editor/addarticle.h"
#include "import/pictureimport.h"
#include "tests/editor/editorfixture.h"
#include "tests/support/dialoganswers.h"
#include "tests/support/fakehttpserver.h"
#include "tests/support/peakmemory.h"
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

#include <cstdio>
#include <functional>

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
    }
    return 0;
}
