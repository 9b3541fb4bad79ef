#include "core/privatefile.h"

#include "core/logging.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <climits>
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

namespace {

// No more links than the kernel itself follows in one path.
constexpr int kMaxLinks = 40;

int openRoot()
{
    return ::open("/", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
}

QString joined(const QStringList &walked)
{
    return QLatin1Char('/') + walked.join(QLatin1Char('/'));
}

// True when only "" and "." are left: the next real folder is the last one.
bool isLast(const QStringList &pending)
{
    for (const QString &name : pending) {
        if (!name.isEmpty() && name != QLatin1String("."))
            return false;
    }
    return true;
}

} // namespace

PrivateFile::Folder PrivateFile::openFolder(const QString &path, bool create)
{
    using Fault = Folder::Fault;
    Folder result;
    const uid_t me = ::geteuid();
    // Not cleaned: "a/link/.." is not "a" when "link" leads elsewhere.
    QStringList pending = QDir(path).absolutePath().split(QLatin1Char('/'));
    QStringList walked;
    int fd = openRoot();
    const auto fail = [&](Fault fault, const QString &at, int error) {
        if (fd >= 0)
            ::close(fd);
        result.fd = -1;
        result.fault = fault;
        result.at = at;
        result.error = error;
        return result;
    };
    // Checks the folder open on `folder`, found at `at`.
    const auto check = [me](int folder, bool last, Fault *fault) {
        struct stat status = {};
        if (::fstat(folder, &status) != 0 || !S_ISDIR(status.st_mode)) {
            *fault = Fault::Unusable;
            return false;
        }
        if (status.st_uid != me && (last || status.st_uid != 0)) {
            *fault = Fault::OtherOwner;
            return false;
        }
        // In a sticky folder others may add names but not take away or replace this user's:
        // the next component is checked to be this user's or root's.
        if ((status.st_mode & (S_IWGRP | S_IWOTH)) && (last || !(status.st_mode & S_ISVTX))) {
            *fault = Fault::OthersWrite;
            return false;
        }
        return true;
    };
    if (fd < 0)
        return fail(Fault::Unusable, QStringLiteral("/"), errno);
    Fault fault = Fault::None;
    if (!check(fd, isLast(pending), &fault))
        return fail(fault, QStringLiteral("/"), ENOTDIR);

    int links = 0;
    while (!pending.isEmpty()) {
        const QString name = pending.takeFirst();
        if (name.isEmpty() || name == QLatin1String("."))
            continue;
        if (name == QLatin1String("..")) {
            // Walked again from "/", each folder checked anew.
            if (!walked.isEmpty())
                walked.removeLast();
            pending = walked + pending;
            walked.clear();
            ::close(fd);
            fd = openRoot();
            if (fd < 0)
                return fail(Fault::Unusable, QStringLiteral("/"), errno);
            continue;
        }
        const QString here = joined(walked + QStringList(name));
        const QByteArray encoded = QFile::encodeName(name);
        constexpr int kFlags = O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;
        int next = ::openat(fd, encoded.constData(), kFlags);
        if (next < 0 && errno == ENOENT && create) {
            if (::mkdirat(fd, encoded.constData(), S_IRWXU) == 0 || errno == EEXIST)
                next = ::openat(fd, encoded.constData(), kFlags);
        }
        if (next < 0) {
            const int code = errno;
            if (code != ELOOP && code != ENOTDIR)
                return fail(Fault::Unusable, here, code);
            // A symbolic link, or no folder at all: the link itself is opened and looked at.
            const int link = ::openat(fd, encoded.constData(), O_PATH | O_NOFOLLOW | O_CLOEXEC);
            struct stat status = {};
            if (link < 0 || ::fstat(link, &status) != 0 || !S_ISLNK(status.st_mode)) {
                if (link >= 0)
                    ::close(link);
                return fail(Fault::Unusable, here, ENOTDIR);
            }
            QByteArray target(PATH_MAX, '\0');
            const ssize_t length = ::readlinkat(link, "", target.data(), target.size());
            ::close(link);
            if (status.st_uid != me && status.st_uid != 0)
                return fail(Fault::OtherOwner, here, 0);
            if (++links > kMaxLinks || length <= 0 || length >= target.size())
                return fail(Fault::Unusable, here, ELOOP);
            target.truncate(int(length));
            const QString to = QFile::decodeName(target);
            pending = to.split(QLatin1Char('/')) + pending;
            if (to.startsWith(QLatin1Char('/'))) {
                walked.clear();
                ::close(fd);
                fd = openRoot();
                if (fd < 0 || !check(fd, isLast(pending), &fault))
                    return fail(fd < 0 ? Fault::Unusable : fault, QStringLiteral("/"), ENOTDIR);
            }
            continue;
        }
        ::close(fd);
        fd = next;
        if (!check(fd, isLast(pending), &fault))
            return fail(fault, here, ENOTDIR);
        walked << name;
    }
    result.fd = fd;
    result.fault = Fault::None;
    result.realPath = joined(walked);
    if (!result.realPath.endsWith(QLatin1Char('/')))
        result.realPath += QLatin1Char('/');
    return result;
}

QString PrivateFile::throughDescriptor(int fd, const QString &realPath)
{
    const QString path = QStringLiteral("/proc/self/fd/%1/").arg(fd);
    struct stat viaProc = {};
    struct stat folder = {};
    if (::stat(QFile::encodeName(path).constData(), &viaProc) == 0 && ::fstat(fd, &folder) == 0
        && viaProc.st_dev == folder.st_dev && viaProc.st_ino == folder.st_ino)
        return path;
    return realPath;
}
