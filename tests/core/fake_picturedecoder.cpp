// A stand-in for the program's picture decoder, for the tests of its client: it reads the
// requests as the decoder does and answers each one as its first argument says.
//   asked   a valid reply: a plain picture of each box's size (the control)
//   larger  a valid reply whose first picture is one pixel wider than its box
//   more    a valid reply with one picture more than boxes were asked for
//   long    a frame whose length says more than a reply may hold, then nothing
//   hang    for a picture whose path holds the second argument: its process id appended to
//           the file named by the third, then no answer ever; others as "asked"
//   abort   for a picture whose path holds the second argument: the process aborts; others
//           as "asked"
//   spent   for a picture whose path holds the second argument: refused as too large for
//           memory, then the process waits for the next request and ends without answering it,
//           as the decoder does after an allocation failed; others as "asked"
//   quits   for every picture: its process id appended to the file named by the second
//           argument, then the process ends without an answer (as though it never read it)
#include "core/picturerequest.h"

#include <QFile>
#include <QImage>

#include <cerrno>
#include <cstdlib>

#include <signal.h>
#include <sys/prctl.h>
#include <unistd.h>

namespace {

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
    while (PictureRequest::readRequestFrom(STDIN_FILENO, &request)) {
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
        if (mode == "quits" && argc > 2) {
            QFile pids(QString::fromLocal8Bit(argv[2]));
            if (pids.open(QIODevice::Append))
                pids.write(QByteArray::number(qint64(::getpid())) + '\n');
            return 0;
        }
        if (mode == "abort" && argc > 2 && request.path.contains(QString::fromLocal8Bit(argv[2])))
            ::abort();
        if (mode == "spent" && argc > 2 && request.path.contains(QString::fromLocal8Bit(argv[2]))) {
            PictureRequest::Reply spent;
            spent.refusal = QStringLiteral("Das Bild braucht zum Lesen mehr Speicher, als ein Bild "
                                           "je braucht; es wird nicht genommen.");
            if (!PictureRequest::writeReply(&out, spent) || !out.flush())
                return 3;
            // Given the next picture before its end is noticed.
            PictureRequest::readRequestFrom(STDIN_FILENO, &request);
            return 0;
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
