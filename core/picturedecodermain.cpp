// The program's picture decoder: a process of its own that reads pictures the program did not
// write itself (the seller's files, imports, downloads, rows of other workstations) and hands
// them back scaled to the size asked for. A picture built to exhaust a decoder (a text chunk
// that inflates to gigabytes, a malformed file that crashes a format's library) ends this
// process, not the program: the program refuses the picture and starts a fresh decoder.
//
// It reads requests from its standard input and writes replies to its standard output, one at
// a time, under limits of its own: address space, CPU time per picture, no files written. The
// program also ends it when a picture takes longer than its wall-clock limit.
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

#include <signal.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <unistd.h>

namespace {

// Address space of the decoder: a picture within the pixel budget needs some 200 MB decoded.
constexpr rlim_t kAddressSpace = rlim_t(1024) * 1024 * 1024;
// CPU seconds one picture may take; the program's wall-clock limit usually comes first.
constexpr rlim_t kCpuSecondsPerPicture = 20;

QString tr(const char *text)
{
    return QCoreApplication::translate("PictureDecoder", text);
}

bool sanitized()
{
#if defined(__SANITIZE_ADDRESS__)
    return true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
    return true;
#else
    return false;
#endif
#else
    return false;
#endif
}

void limitProcess()
{
    // Ends with the program, whatever way the program ends.
    ::prctl(PR_SET_PDEATHSIG, SIGKILL);
    const rlimit none = { 0, 0 };
    ::setrlimit(RLIMIT_CORE, &none);
    ::setrlimit(RLIMIT_FSIZE, &none);
    // The address sanitizer reserves terabytes of address space up front.
    if (!sanitized()) {
        const rlimit space = { kAddressSpace, kAddressSpace };
        ::setrlimit(RLIMIT_AS, &space);
    }
}

// The CPU time used so far plus what one more picture may take; SIGXCPU ends the process
// past it.
void limitCpuForNextPicture()
{
    rusage usage = {};
    ::getrusage(RUSAGE_SELF, &usage);
    const rlim_t used = rlim_t(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) + 1;
    rlimit cpu = {};
    ::getrlimit(RLIMIT_CPU, &cpu);
    cpu.rlim_cur = used + kCpuSecondsPerPicture;
    if (cpu.rlim_max != RLIM_INFINITY && cpu.rlim_cur > cpu.rlim_max)
        cpu.rlim_cur = cpu.rlim_max;
    ::setrlimit(RLIMIT_CPU, &cpu);
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

QImage fitted(const QImage &image, const PictureRequest::Request::Box &box)
{
    const QSize size = image.size().scaled(box.size, Qt::KeepAspectRatio);
    const bool larger = image.width() > box.size.width() || image.height() > box.size.height();
    if (size.isEmpty() || size == image.size() || (!larger && !box.fill))
        return image;
    return image.scaled(size, Qt::KeepAspectRatio, Qt::SmoothTransformation);
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
    if (reply.format == "jpeg")
        reply.angle = angleOf(reader.transformation());
    // Decoded right at the first size: a JPEG decoder then does most of the scaling in its
    // transform (by 1/2, 1/4 or 1/8) and touches a fraction of the pixels.
    if (!request.boxes.isEmpty() && reply.size.isValid()) {
        const QSize target = reply.size.scaled(request.boxes.first().size, Qt::KeepAspectRatio);
        if (!target.isEmpty() && target.width() < reply.size.width()
            && target.height() < reply.size.height())
            reader.setScaledSize(target);
    }
    QImage image;
    if (!reader.read(&image) || image.isNull()) {
        reply.error = reader.errorString();
        return reply;
    }
    if (!reply.size.isValid())
        reply.size = image.size();
    for (const auto &box : request.boxes)
        reply.images << PictureRequest::pixelsOnly(fitted(image, box));
    reply.decoded = true;
    return reply;
}

} // namespace

int main(int argc, char **argv)
{
    limitProcess();
    QCoreApplication app(argc, argv);
    QFile out;
    if (!out.open(STDOUT_FILENO, QIODevice::WriteOnly, QFileDevice::DontCloseHandle))
        return 2;
    for (;;) {
        PictureRequest::Request request;
        if (!PictureRequest::readRequestFrom(STDIN_FILENO, &request))
            return 0;
        limitCpuForNextPicture();
        PictureRequest::Reply reply;
        bool spent = false;
        try {
            reply = decode(request);
        } catch (const std::bad_alloc &) {
            reply = PictureRequest::Reply();
            reply.refusal = tr("Das Bild braucht zum Lesen mehr Speicher, als ein Bild je "
                               "braucht; es wird nicht genommen.");
            spent = true;
        }
        if (!PictureRequest::writeReply(&out, reply) || !out.flush())
            return 3;
        // After an allocation failed half-way, nothing of this process is trusted again.
        if (spent)
            return 0;
    }
}
