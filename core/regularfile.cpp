#include "core/regularfile.h"

#include "core/logging.h"

#include <QCoreApplication>
#include <QFile>

#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

bool RegularFile::openForReading(QFile &file, const QString &path, QString *error)
{
    const auto fail = [error](const QString &why) {
        if (error)
            *error = why;
        return false;
    };
    if (file.isOpen())
        file.close();
    if (path.isEmpty())
        return fail(QString::fromLocal8Bit(std::strerror(ENOENT)));
    // O_NONBLOCK: the open of a pipe returns at once instead of waiting for a writer; it is
    // refused below before anything is read from it.
    const int fd = ::open(QFile::encodeName(path).constData(),
                          O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    if (fd < 0) {
        const int code = errno;
        if (code == ELOOP) {
            qCWarning(lcApp).noquote() << "Not read through a symbolic link:" << path;
            return fail(QCoreApplication::translate(
                "RegularFile", "An ihrer Stelle steht eine Verknüpfung (symbolischer Link)."));
        }
        return fail(QString::fromLocal8Bit(std::strerror(code)));
    }
    struct stat status = {};
    if (::fstat(fd, &status) != 0 || !S_ISREG(status.st_mode)) {
        ::close(fd);
        qCWarning(lcApp).noquote() << "Not read: no plain file at" << path;
        return fail(QCoreApplication::translate("RegularFile", "Das ist keine gewöhnliche Datei."));
    }
    // Plain files never block; reads go on as usual.
    const int flags = ::fcntl(fd, F_GETFL);
    if (flags < 0 || ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) != 0) {
        const int code = errno;
        ::close(fd);
        return fail(QString::fromLocal8Bit(std::strerror(code)));
    }
    if (!file.open(fd, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle)) {
        ::close(fd);
        return fail(file.errorString());
    }
    return true;
}
