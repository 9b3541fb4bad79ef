#include "core/untrustedfile.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>

#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

namespace UntrustedFile {

namespace {

QString tr(const char *text)
{
    return QCoreApplication::translate("UntrustedFile", text);
}

QString systemError(int code)
{
    return QString::fromLocal8Bit(std::strerror(code));
}

bool fail(QString *error, const QString &text)
{
    if (error)
        *error = text;
    return false;
}

constexpr qint64 kBlock = 1024 * 1024;

} // namespace

bool insideFolder(const QString &folder, const QString &name)
{
    if (name.isEmpty() || QDir::isAbsolutePath(name) || folder.isEmpty())
        return false;
    return QDir::cleanPath(folder + QLatin1Char('/') + name)
        .startsWith(QDir::cleanPath(folder) + QLatin1Char('/'));
}

int openRegular(const QString &path, Links links, QString *error)
{
    if (path.isEmpty()) {
        fail(error, tr("Es ist keine Datei angegeben."));
        return -1;
    }
    int flags = O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY;
    if (links == Links::Refused)
        flags |= O_NOFOLLOW;
    int fd;
    do
        fd = ::open(QFile::encodeName(path).constData(), flags);
    while (fd < 0 && errno == EINTR);
    if (fd < 0) {
        const int code = errno;
        fail(error,
             code == ELOOP
                 ? tr("„%1“ ist eine Verknüpfung; ihr wird nicht gefolgt.").arg(path)
                 : tr("„%1“ lässt sich nicht öffnen: %2").arg(path, systemError(code)));
        return -1;
    }
    struct stat info = {};
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        ::close(fd);
        fail(error, tr("„%1“ ist keine gewöhnliche Datei.").arg(path));
        return -1;
    }
    // A plain file never blocks; reads go on as usual.
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    return fd;
}

bool readAll(int fd, qint64 maxBytes, QByteArray *bytes, QString *error)
{
    struct stat info = {};
    if (::fstat(fd, &info) != 0)
        return fail(error, systemError(errno));
    if (info.st_size > maxBytes)
        return fail(error,
                    tr("Die Datei ist größer als %1 MB.").arg(maxBytes / (1024 * 1024)));
    QByteArray read;
    read.reserve(int(info.st_size));
    for (;;) {
        // One byte more than allowed tells a file that grew past the limit.
        const qint64 want = qMin(kBlock, maxBytes + 1 - read.size());
        if (want <= 0)
            return fail(error,
                        tr("Die Datei ist größer als %1 MB.").arg(maxBytes / (1024 * 1024)));
        const int at = read.size();
        read.resize(at + int(want));
        const ssize_t got = ::read(fd, read.data() + at, size_t(want));
        if (got < 0 && errno == EINTR) {
            read.resize(at);
            continue;
        }
        if (got < 0)
            return fail(error, systemError(errno));
        read.resize(at + int(got));
        if (got == 0)
            break;
    }
    *bytes = read;
    return true;
}

bool read(const QString &path, Links links, qint64 maxBytes, QByteArray *bytes, QString *error)
{
    const int fd = openRegular(path, links, error);
    if (fd < 0)
        return false;
    const bool ok = readAll(fd, maxBytes, bytes, error);
    ::close(fd);
    return ok;
}

bool copy(const QString &path, Links links, const QString &target, qint64 maxBytes,
          QString *error)
{
    QByteArray bytes;
    if (!read(path, links, maxBytes, &bytes, error))
        return false;
    const QByteArray name = QFile::encodeName(target);
    const int out = ::open(name.constData(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC,
                           0600);
    if (out < 0)
        return fail(error,
                    tr("„%1“ lässt sich nicht anlegen: %2").arg(target, systemError(errno)));
    const char *at = bytes.constData();
    qint64 left = bytes.size();
    while (left > 0) {
        const ssize_t written = ::write(out, at, size_t(left));
        if (written < 0 && errno == EINTR)
            continue;
        if (written <= 0) {
            const int code = written == 0 ? EIO : errno;
            ::close(out);
            ::unlink(name.constData());
            return fail(error,
                        tr("„%1“ lässt sich nicht schreiben: %2").arg(target, systemError(code)));
        }
        at += written;
        left -= written;
    }
    if (::close(out) != 0) {
        const int code = errno;
        ::unlink(name.constData());
        return fail(error,
                    tr("„%1“ lässt sich nicht schreiben: %2").arg(target, systemError(code)));
    }
    return true;
}

} // namespace UntrustedFile
