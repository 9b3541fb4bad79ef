#include "core/privatefile.h"

#include "core/logging.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

QString systemError(int code)
{
    return QString::fromLocal8Bit(std::strerror(code));
}

} // namespace

bool PrivateFile::replaceLink(const QString &path)
{
    const QFileInfo info(path);
    if (!info.isSymLink())
        return true;
    // Not followed: the link may lead to any file of the seller's, or be another user's
    // way to read what the program writes.
    const bool removed = QFile::remove(path);
    qCWarning(lcApp).noquote() << "A symbolic link stood where the program writes its file" << path
                               << "(to" << info.symLinkTarget() << ");"
                               << (removed ? "it is replaced by the program's own file"
                                           : "it could not be removed, nothing is written");
    return removed;
}

bool PrivateFile::open(QFile &file, const QString &path, QIODevice::OpenMode mode, QString *error)
{
    const auto fail = [error](const QString &why) {
        if (error)
            *error = why;
        return false;
    };
    if (file.isOpen())
        file.close();
    file.setFileName(path);
    if (path.isEmpty())
        return fail(systemError(ENOENT));
    if (!replaceLink(path))
        return fail(systemError(EEXIST));

    const bool append = mode & QIODevice::Append;
    // Created with its mode (the umask can only take permissions away). A link that
    // appeared since is not followed; a pipe does not hold the open up.
    const QByteArray name = QFile::encodeName(path);
    const int fd = ::open(name.constData(),
                          O_WRONLY | O_CREAT | O_NOFOLLOW | O_CLOEXEC | O_NOCTTY | O_NONBLOCK
                              | (append ? O_APPEND : 0),
                          S_IRUSR | S_IWUSR);
    if (fd < 0) {
        const int code = errno;
        if (code == ELOOP)
            qCWarning(lcApp).noquote() << "Not written through a symbolic link:" << path;
        return fail(systemError(code));
    }
    struct stat status = {};
    if (::fstat(fd, &status) != 0 || !S_ISREG(status.st_mode) || status.st_uid != ::geteuid()) {
        ::close(fd);
        qCWarning(lcApp).noquote() << "Not written: no plain file of this user at" << path;
        return fail(systemError(EPERM));
    }
    const int flags = ::fcntl(fd, F_GETFL);
    if ((flags < 0 || ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) != 0)
        || (!append && ::ftruncate(fd, 0) != 0) || ::fchmod(fd, S_IRUSR | S_IWUSR) != 0) {
        const int code = errno;
        ::close(fd);
        return fail(systemError(code));
    }
    if (!file.open(fd, mode | QIODevice::WriteOnly, QFileDevice::AutoCloseHandle)) {
        ::close(fd);
        return fail(file.errorString());
    }
    return true;
}

bool PrivateFile::makePath(const QString &folder)
{
    if (folder.isEmpty())
        return false;
    const QString target = QDir::cleanPath(QDir(folder).absolutePath());
    QStringList missing;
    for (QString current = target; !QFileInfo::exists(current);
         current = QFileInfo(current).path()) {
        missing.prepend(current);
        if (QFileInfo(current).path() == current)
            break;
    }
    for (const QString &path : qAsConst(missing)) {
        if (::mkdir(QFile::encodeName(path).constData(), S_IRWXU) != 0 && errno != EEXIST) {
            const QString why = systemError(errno);
            qCWarning(lcApp).noquote() << "Can't create the folder" << path << ":" << why;
            return false;
        }
    }
    return QFileInfo(target).isDir();
}
