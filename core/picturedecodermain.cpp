// The program's picture decoder: a process of its own that reads pictures the program did not
// write itself (the seller's files, imports, downloads, rows of other workstations) and hands
// them back scaled to the size asked for. A picture built to exhaust a decoder (a text chunk
// that inflates to gigabytes, a malformed file that crashes a format's library) ends this
// process, not the program: the program refuses the picture and starts a fresh decoder.
//
// It reads requests from its standard input and writes replies to its standard output, one at
// a time, under limits of its own: CPU time after the picture's pixels, no files written; the
// program gives it its share of the decoders' memory and ends it when a picture takes longer
// than its wall-clock limit. It holds nothing of the program: every descriptor above the three
// standard ones is closed before the first request is read.
#include "core/imagelimits.h"
#include "core/picturerequest.h"
#include "core/untrustedfile.h"

#include <QBuffer>
#include <QCoreApplication>
#include <QFile>
#include <QImageReader>

#include <cerrno>
#include <cstdlib>
#include <new>
#include <vector>

#include <dirent.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <unistd.h>

namespace {

// CPU seconds one picture may take at most; the program's wall-clock limit usually comes
// first. A picture gets far less: a second or two and one more per few megapixels.
constexpr rlim_t kCpuSecondsPerPicture = 20;
// CPU seconds to read a request and a picture's header, before its size is known.
constexpr rlim_t kCpuSecondsForHeader = 3;
// Pixels decoded per CPU second even on a slow machine, many times over.
constexpr qint64 kPixelsPerCpuSecond = 2500 * 1000;
// The longest text a reply carries (the program refuses longer ones).
constexpr int kMaxReplyText = 900;

QString tr(const char *text)
{
    return QCoreApplication::translate("PictureDecoder", text);
}

// Every descriptor the process was started with beyond standard input, output and error:
// whatever the starting program had open and did not mark (a database connection's socket)
// is not this process's business.
void closeInherited()
{
    if (::close_range(3, ~0U, 0) == 0)
        return;
    // A kernel without close_range: the descriptors are listed first, then closed, so the
    // listing's own descriptor stays valid while it is read.
    std::vector<int> open;
    if (DIR *folder = ::opendir("/proc/self/fd")) {
        const int own = ::dirfd(folder);
        while (const dirent *entry = ::readdir(folder)) {
            char *end = nullptr;
            const long fd = std::strtol(entry->d_name, &end, 10);
            if (end != entry->d_name && *end == '\0' && fd > 2 && fd != own)
                open.push_back(int(fd));
        }
        ::closedir(folder);
    }
    for (const int fd : open)
        ::close(fd);
}

void limitProcess()
{
    // Ends with the program, whatever way the program ends.
    ::prctl(PR_SET_PDEATHSIG, SIGKILL);
    const rlimit none = { 0, 0 };
    ::setrlimit(RLIMIT_CORE, &none);
    ::setrlimit(RLIMIT_FSIZE, &none);
}

// The CPU time used so far plus `seconds` for what comes next; SIGXCPU ends the process
// past it.
void limitCpu(rlim_t seconds)
{
    rusage usage = {};
    ::getrusage(RUSAGE_SELF, &usage);
    const rlim_t used = rlim_t(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) + 1;
    rlimit cpu = {};
    ::getrlimit(RLIMIT_CPU, &cpu);
    cpu.rlim_cur = used + seconds;
    if (cpu.rlim_max != RLIM_INFINITY && cpu.rlim_cur > cpu.rlim_max)
        cpu.rlim_cur = cpu.rlim_max;
    ::setrlimit(RLIMIT_CPU, &cpu);
}

// What decoding `size` pixels may take: a picture that takes far longer is not one.
rlim_t cpuSecondsFor(const QSize &size)
{
    const qint64 pixels = qint64(qMax(0, size.width())) * qMax(0, size.height());
    return qMin(kCpuSecondsPerPicture, rlim_t(2 + pixels / kPixelsPerCpuSecond));
}

// `text` short enough for a reply: a long file name in it is shortened in its middle.
QString bounded(const QString &text, const QString &path)
{
    if (text.size() <= kMaxReplyText)
        return text;
    const int over = text.size() - kMaxReplyText + 1;
    if (!path.isEmpty() && path.size() > over + 20 && text.contains(path)) {
        const int keep = path.size() - over;
        const QString shortened
            = path.left(keep / 2) + QChar(0x2026) + path.right(keep - keep / 2);
        const QString result = QString(text).replace(path, shortened);
        if (result.size() <= kMaxReplyText)
            return result;
    }
    return text.left(kMaxReplyText - 1) + QChar(0x2026);
}

int angleOf(QImageIOHandler::Transformations transformation)
{
    switch (transformation) {
    case QImageIOHandler::TransformationRotate90:
        return 90;
    case QImageIOHandler::TransformationRotate180:
        return 180;
    case QImageIOHandler::TransformationRotate270:
        return 270;
    default:
        return 0;
    }
}

// `size` fitted into `box` with its aspect kept, each side at least one pixel: a strip of
// 3000 x 10 fits a 160 x 160 box as 160 x 1.
QSize fittedSize(const QSize &size, const QSize &box)
{
    const QSize scaled = size.scaled(box, Qt::KeepAspectRatio);
    return QSize(qBound(1, scaled.width(), qMax(1, box.width())),
                 qBound(1, scaled.height(), qMax(1, box.height())));
}

// Null when the scaled picture could not be allocated.
QImage fitted(const QImage &image, const PictureRequest::Request::Box &box)
{
    const bool larger = image.width() > box.size.width() || image.height() > box.size.height();
    if (!larger && !box.fill)
        return image;
    const QSize size = fittedSize(image.size(), box.size);
    if (size == image.size())
        return image;
    return image.scaled(size, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
}

// The reply of a picture that needs more memory than this decoder has.
PictureRequest::Reply outOfMemory()
{
    PictureRequest::Reply reply;
    reply.refusal = QCoreApplication::translate("PictureDecoder",
                                                "Das Bild braucht zum Lesen mehr Speicher, als "
                                                "ein Bild je braucht; es wird nicht genommen.");
    reply.memory = true;
    return reply;
}

PictureRequest::Reply decode(const PictureRequest::Request &request)
{
    PictureRequest::Reply reply;
    QByteArray bytes = request.bytes;
    if (!request.path.isEmpty()) {
        QString error;
        // Nothing below the picture folder a row names leads out of it.
        UntrustedFile::addPictureFolder(request.folder);
        const UntrustedFile::Links links
            = request.followLink ? UntrustedFile::Links::Followed : UntrustedFile::Links::Refused;
        if (!UntrustedFile::read(request.path, links, UntrustedFile::kMaxPictureBytes, &bytes,
                                 &error)) {
            reply.refusal = error;
            return reply;
        }
    }
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::ReadOnly);
    // The content decides, whatever the file's name; only the formats the marketplace takes
    // pass the check below, whatever plugins are installed.
    QImageReader reader(&buffer);
    reader.setDecideFormatFromContent(true);
    reader.setAutoTransform(false);
    reply.format = reader.format();
    if (reply.format.isEmpty()) {
        reply.error = tr("Die Datei ist kein Bild, das sich lesen lässt: %1")
                          .arg(reader.errorString());
        return reply;
    }
    reply.refusal = ImageLimits::refusal(reader);
    if (!reply.refusal.isEmpty())
        return reply;
    if (request.whole && reply.format == "jpeg" && !ImageLimits::isWholeJpeg(bytes)) {
        reply.error = tr("Das JPEG-Bild ist abgeschnitten: ihm fehlt sein Ende.");
        return reply;
    }
    reply.size = reader.size();
    limitCpu(cpuSecondsFor(reply.size));
    if (reply.format == "jpeg")
        reply.angle = angleOf(reader.transformation());
    // Decoded right at the first size: a JPEG decoder then does most of the scaling in its
    // transform (by 1/2, 1/4 or 1/8) and touches a fraction of the pixels.
    if (!request.boxes.isEmpty() && reply.size.isValid()) {
        const QSize target = fittedSize(reply.size, request.boxes.first().size);
        if (target.width() < reply.size.width()
            && target.height() < reply.size.height())
            reader.setScaledSize(target);
    }
    QImage image;
    if (!reader.read(&image) || image.isNull()) {
        // A reader that could not allocate its picture says only that it failed: when a
        // picture of its size (at 16 bits a channel, the most a reader makes of it) can't be
        // had here either, it is this decoder's memory, not the picture's data.
        if (reply.size.isValid() && QImage(reply.size, QImage::Format_RGBA64).isNull())
            return outOfMemory();
        reply.error = reader.errorString();
        return reply;
    }
    if (!reply.size.isValid())
        reply.size = image.size();
    for (const auto &box : request.boxes) {
        const QImage pixels = PictureRequest::pixelsOnly(fitted(image, box));
        if (pixels.isNull())
            return outOfMemory();
        reply.images << pixels;
    }
    reply.decoded = true;
    return reply;
}

} // namespace

int main(int argc, char **argv)
{
    closeInherited();
    limitProcess();
    QCoreApplication app(argc, argv);
    QFile out;
    if (!out.open(STDOUT_FILENO, QIODevice::WriteOnly, QFileDevice::DontCloseHandle))
        return 2;
    for (;;) {
        PictureRequest::Request request;
        if (!PictureRequest::readRequestFrom(STDIN_FILENO, &request))
            return 0;
        limitCpu(kCpuSecondsForHeader);
        PictureRequest::Reply reply;
        bool spent = false;
        try {
            reply = decode(request);
        } catch (const std::bad_alloc &) {
            reply = outOfMemory();
            spent = true;
        }
        reply.refusal = bounded(reply.refusal, request.path);
        reply.error = bounded(reply.error, request.path);
        if (!PictureRequest::writeReply(&out, reply) || !out.flush())
            return 3;
        // After an allocation failed half-way, nothing of this process is trusted again.
        if (spent)
            return 0;
    }
}
