// A stand-in for the program's picture decoder, for the tests of its client: it reads the
// requests as the decoder does and answers each one as its first argument says.
//   asked   a valid reply: a plain picture of each box's size (the control)
//   larger  a valid reply whose first picture is one pixel wider than its box
//   more    a valid reply with one picture more than boxes were asked for
//   long    a frame whose length says more than a reply may hold, then nothing
//   hang    for a picture whose path holds the second argument: its process id appended to
//           the file named by the third, then no answer ever; others as "asked"
#include "core/picturerequest.h"

#include <QFile>
#include <QImage>

#include <cerrno>

#include <signal.h>
#include <sys/prctl.h>
#include <unistd.h>

namespace {

bool readExactly(char *to, qint64 count)
{
    while (count > 0) {
        const ssize_t got = ::read(STDIN_FILENO, to, size_t(count));
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0)
            return false;
        to += got;
        count -= got;
    }
    return true;
}

bool nextRequest(PictureRequest::Request *request)
{
    char head[8];
    if (!readExactly(head, 8))
        return false;
    quint64 length = 0;
    for (char byte : head)
        length = (length << 8) | quint8(byte);
    if (length > quint64(PictureRequest::kMaxRequestBytes))
        return false;
    QByteArray payload(int(length), Qt::Uninitialized);
    return readExactly(payload.data(), qint64(length))
        && PictureRequest::readRequest(payload, request);
}

QImage plain(const QSize &size)
{
    QImage image(size, QImage::Format_RGB32);
    image.fill(Qt::darkGreen);
    return image;
}

} // namespace

int main(int argc, char **argv)
{
    // A stand-in the test failed to end goes with it.
    ::prctl(PR_SET_PDEATHSIG, SIGKILL);
    const QByteArray mode = argc > 1 ? QByteArray(argv[1]) : QByteArray("asked");
    QFile out;
    if (!out.open(STDOUT_FILENO, QIODevice::WriteOnly, QFileDevice::DontCloseHandle))
        return 2;
    PictureRequest::Request request;
    while (nextRequest(&request)) {
        if (mode == "long") {
            // 64 MB and one byte more.
            const quint64 length = quint64(PictureRequest::kMaxReplyBytes) + 1;
            char head[8];
            for (int i = 0; i < 8; ++i)
                head[i] = char((length >> (8 * (7 - i))) & 0xFF);
            out.write(head, 8);
            out.flush();
            ::pause();
            return 0;
        }
        if (mode == "hang" && argc > 3 && request.path.contains(QString::fromLocal8Bit(argv[2]))) {
            QFile pids(QString::fromLocal8Bit(argv[3]));
            if (pids.open(QIODevice::Append))
                pids.write(QByteArray::number(qint64(::getpid())) + '\n');
            pids.close();
            for (;;)
                ::pause();
        }
        PictureRequest::Reply reply;
        reply.decoded = true;
        reply.format = "png";
        reply.size = QSize(1000, 800);
        for (const auto &box : request.boxes)
            reply.images << plain(box.size);
        if (mode == "larger" && !reply.images.isEmpty())
            reply.images.first() = plain(request.boxes.first().size + QSize(1, 0));
        if (mode == "more")
            reply.images << plain(QSize(1, 1));
        if (!PictureRequest::writeReply(&out, reply) || !out.flush())
            return 3;
        request = PictureRequest::Request();
    }
    return 0;
}
