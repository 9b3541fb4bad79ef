#include "core/untrustedfile.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QMutex>
#include <QStringList>
#include <QVector>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <fcntl.h>
#include <linux/openat2.h>
#include <sys/stat.h>
#include <sys/syscall.h>
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
constexpr int kReadFlags = O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY;

QMutex g_foldersMutex;
QVector<QString> g_pictureFolders; // each with its trailing separator
std::atomic<bool> g_kernelBeneath { true };

QString withSeparator(const QString &folder)
{
    const QString clean = QDir::cleanPath(folder);
    return clean.endsWith(QLatin1Char('/')) ? clean : clean + QLatin1Char('/');
}

// Why a path was not opened.
enum class Refusal { None, Link, LinkOnTheWay, OutOfFolder, NotRegular, System };

struct Opened
{
    int fd = -1;
    Refusal refusal = Refusal::None;
    int code = 0; // errno for Refusal::System
    QString part; // the link on the way, or the part leading out
};

Opened refused(Refusal refusal, int code = 0, const QString &part = QString())
{
    Opened opened;
    opened.refusal = refusal;
    opened.code = code;
    opened.part = part;
    return opened;
}

int openRetrying(int folder, const char *name, int flags)
{
    int fd;
    do
        fd = ::openat(folder, name, flags);
    while (fd < 0 && errno == EINTR);
    return fd;
}

// `fd` checked to be a plain file and made blocking again (a plain file never blocks).
Opened plainFile(int fd)
{
    struct stat info = {};
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        ::close(fd);
        return refused(Refusal::NotRegular);
    }
    const int flags = ::fcntl(fd, F_GETFL);
    if (flags < 0 || ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) != 0) {
        const int code = errno;
        ::close(fd);
        return refused(Refusal::System, code);
    }
    Opened opened;
    opened.fd = fd;
    return opened;
}

// `name` beneath the open folder `folder`, one part after the other, none of them a link.
Opened walkBeneath(int folder, const QString &name)
{
    const QStringList parts = name.split(QLatin1Char('/'), Qt::SkipEmptyParts);
    QStringList walked;
    int at = ::fcntl(folder, F_DUPFD_CLOEXEC, 0);
    if (at < 0)
        return refused(Refusal::System, errno);
    for (int i = 0; i < parts.size(); ++i) {
        const QString &part = parts.at(i);
        if (part == QLatin1String("."))
            continue;
        if (part == QLatin1String("..")) {
            // Never up: a way out of the folder and back in is no name the program writes.
            ::close(at);
            return refused(Refusal::OutOfFolder, 0, part);
        }
        const bool last = i == parts.size() - 1;
        walked << part;
        const int next = openRetrying(at, QFile::encodeName(part).constData(),
                                      last ? kReadFlags | O_NOFOLLOW
                                           : O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        const int code = errno;
        ::close(at);
        if (next < 0) {
            // O_NOFOLLOW tells a link by ELOOP; O_DIRECTORY a link on the way by ENOTDIR.
            struct stat info = {};
            const bool link = code == ELOOP
                || (code == ENOTDIR
                    && ::fstatat(folder, QFile::encodeName(walked.join('/')).constData(), &info,
                                 AT_SYMLINK_NOFOLLOW)
                        == 0
                    && S_ISLNK(info.st_mode));
            if (link)
                return last ? refused(Refusal::Link)
                            : refused(Refusal::LinkOnTheWay, 0, walked.join(QLatin1Char('/')));
            return refused(Refusal::System, code);
        }
        if (last)
            return plainFile(next);
        at = next;
    }
    ::close(at);
    return refused(Refusal::System, EISDIR);
}

Opened openBeneathChecked(const QString &folder, const QString &name)
{
    if (name.isEmpty() || QDir::isAbsolutePath(name))
        return refused(Refusal::OutOfFolder, 0, name);
    // The folder as the program named it: the way to it is the data folder's, checked at start.
    int base;
    do
        base = ::open(QFile::encodeName(folder).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    while (base < 0 && errno == EINTR);
    if (base < 0)
        return refused(Refusal::System, errno);
    Opened opened;
    bool walk = true;
    bool kernelRefused = false;
#ifdef SYS_openat2
    if (g_kernelBeneath.load()) {
        open_how how = {};
        how.flags = quint64(kReadFlags);
        how.resolve = RESOLVE_BENEATH | RESOLVE_NO_SYMLINKS | RESOLVE_NO_MAGICLINKS;
        const QByteArray relative = QFile::encodeName(name);
        // EAGAIN: a rename under way might have let a ".." out; asked again a few times.
        long fd;
        int attempts = 0;
        do
            fd = ::syscall(SYS_openat2, base, relative.constData(), &how, sizeof how);
        while (fd < 0 && (errno == EINTR || (errno == EAGAIN && ++attempts < 4)));
        if (fd >= 0) {
            opened = plainFile(int(fd));
            walk = false;
        } else if (errno == ELOOP || errno == EXDEV) {
            kernelRefused = true;
        } else if (errno != ENOSYS && errno != EPERM && errno != EAGAIN) {
            opened = refused(Refusal::System, errno);
            walk = false;
        }
        // A link or a way out: the walk below names which part it was (and refuses it too).
        // A kernel without openat2 (or a filter that forbids it): the walk alone.
    }
#endif
    if (walk) {
        opened = walkBeneath(base, name);
        if (opened.fd >= 0 && kernelRefused) {
            // The kernel refused what the walk took: something changed between the two.
            ::close(opened.fd);
            opened = refused(Refusal::Link);
        }
    }
    ::close(base);
    return opened;
}

Opened openChecked(const QString &path, Links links)
{
    if (links == Links::Refused) {
        const QString folder = pictureFolderOf(path);
        if (!folder.isEmpty())
            return openBeneathChecked(folder, QDir::cleanPath(path).mid(folder.size()));
    }
    int fd;
    do
        fd = ::open(QFile::encodeName(path).constData(),
                    kReadFlags | (links == Links::Refused ? O_NOFOLLOW : 0));
    while (fd < 0 && errno == EINTR);
    if (fd < 0)
        return errno == ELOOP ? refused(Refusal::Link) : refused(Refusal::System, errno);
    return plainFile(fd);
}

// The reason in the words of a message that names the path.
QString reasonNaming(const QString &path, const Opened &opened)
{
    switch (opened.refusal) {
    case Refusal::Link:
        return tr("„%1“ ist eine Verknüpfung; ihr wird nicht gefolgt.").arg(path);
    case Refusal::LinkOnTheWay:
        return tr("„%1“ liegt hinter einer Verknüpfung („%2“); ihr wird nicht gefolgt.")
            .arg(path, opened.part);
    case Refusal::OutOfFolder:
        return tr("„%1“ führt aus seinem Ordner hinaus.").arg(path);
    case Refusal::NotRegular:
        return tr("„%1“ ist keine gewöhnliche Datei.").arg(path);
    case Refusal::System:
        return tr("„%1“ lässt sich nicht öffnen: %2").arg(path, systemError(opened.code));
    case Refusal::None:
        break;
    }
    return QString();
}

int handOut(const Opened &opened, const QString &path, QString *error)
{
    if (opened.fd < 0)
        fail(error, reasonNaming(path, opened));
    return opened.fd;
}

} // namespace

bool insideFolder(const QString &folder, const QString &name)
{
    if (name.isEmpty() || QDir::isAbsolutePath(name) || folder.isEmpty())
        return false;
    // The separator stays: "../adimages_thumb/x.jpg" is not inside "adimages/".
    return QDir::cleanPath(folder + QLatin1Char('/') + name).startsWith(withSeparator(folder));
}

void addPictureFolder(const QString &folder)
{
    if (folder.isEmpty() || !QDir::isAbsolutePath(folder))
        return;
    const QString noted = withSeparator(folder);
    if (noted == QLatin1String("/"))
        return;
    QMutexLocker locker(&g_foldersMutex);
    if (!g_pictureFolders.contains(noted))
        g_pictureFolders.append(noted);
}

QString pictureFolderOf(const QString &path)
{
    const QString clean = QDir::cleanPath(path);
    QString found;
    QMutexLocker locker(&g_foldersMutex);
    for (const QString &folder : qAsConst(g_pictureFolders)) {
        // The innermost folder wins (one picture folder may lie inside another).
        if (clean.startsWith(folder) && clean.size() > folder.size()
            && folder.size() > found.size())
            found = folder;
    }
    return found;
}

int openRegular(const QString &path, Links links, QString *error)
{
    if (path.isEmpty()) {
        fail(error, tr("Es ist keine Datei angegeben."));
        return -1;
    }
    return handOut(openChecked(path, links), path, error);
}

int openBeneath(const QString &folder, const QString &name, QString *error)
{
    return handOut(openBeneathChecked(folder, name), withSeparator(folder) + name, error);
}

bool readAll(int fd, qint64 maxBytes, QByteArray *bytes, QString *error)
{
    struct stat info = {};
    if (::fstat(fd, &info) != 0)
        return fail(error, systemError(errno));
    if (info.st_size > maxBytes)
        return fail(error, tr("Die Datei ist größer als %1 MB.").arg(maxBytes / (1024 * 1024)));
    QByteArray read;
    read.reserve(int(info.st_size));
    for (;;) {
        // One byte more than allowed tells a file that grew past the limit.
        const qint64 want = qMin(kBlock, maxBytes + 1 - read.size());
        if (want <= 0)
            return fail(error, tr("Die Datei ist größer als %1 MB.").arg(maxBytes / (1024 * 1024)));
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

bool copy(const QString &path, Links links, const QString &target, qint64 maxBytes, QString *error)
{
    const QByteArray name = QFile::encodeName(target);
    struct stat standing = {};
    if (::lstat(name.constData(), &standing) == 0)
        return fail(error,
                    tr("„%1“ lässt sich nicht anlegen: %2").arg(target, systemError(EEXIST)));
    const int in = openRegular(path, links, error);
    if (in < 0)
        return false;
    struct stat info = {};
    if (::fstat(in, &info) != 0) {
        const int code = errno;
        ::close(in);
        return fail(error, tr("„%1“ lässt sich nicht lesen: %2").arg(path, systemError(code)));
    }
    const QString tooLarge = tr("Die Datei ist größer als %1 MB.").arg(maxBytes / (1024 * 1024));
    if (info.st_size > maxBytes) {
        ::close(in);
        return fail(error, tooLarge);
    }
    // Written under a hidden name beside the target and renamed to it only when whole: no
    // reader ever sees part of a copy, and a copy that fails leaves nothing behind.
    const int slash = name.lastIndexOf('/');
    QByteArray staged = name.left(slash + 1) + '.' + name.mid(slash + 1) + ".XXXXXX";
    const int out = ::mkostemp(staged.data(), O_CLOEXEC); // created exclusively, mode 0600
    if (out < 0) {
        const int code = errno;
        ::close(in);
        return fail(error, tr("„%1“ lässt sich nicht anlegen: %2").arg(target, systemError(code)));
    }
    const auto abandon = [&](const QString &text) {
        ::close(in);
        ::close(out);
        ::unlink(staged.constData());
        return fail(error, text);
    };
    const auto writeError = [&](int code) {
        return tr("„%1“ lässt sich nicht schreiben: %2").arg(target, systemError(code));
    };
    // One block at a time: a large file never stands in memory as a whole.
    QByteArray block(int(kBlock), Qt::Uninitialized);
    qint64 total = 0;
    for (;;) {
        const ssize_t got = ::read(in, block.data(), size_t(block.size()));
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0)
            return abandon(tr("„%1“ lässt sich nicht lesen: %2").arg(path, systemError(errno)));
        if (got == 0)
            break;
        total += got;
        if (total > maxBytes) // grown past the limit since it was measured
            return abandon(tooLarge);
        const char *at = block.constData();
        qint64 left = got;
        while (left > 0) {
            const ssize_t written = ::write(out, at, size_t(left));
            if (written < 0 && errno == EINTR)
                continue;
            if (written <= 0)
                return abandon(writeError(written == 0 ? EIO : errno));
            at += written;
            left -= written;
        }
    }
    ::close(in);
    if (::close(out) != 0) {
        const int code = errno;
        ::unlink(staged.constData());
        return fail(error, writeError(code));
    }
    // Never over a file that came to stand at the target meanwhile.
    int renamed
        = ::renameat2(AT_FDCWD, staged.constData(), AT_FDCWD, name.constData(), RENAME_NOREPLACE);
    if (renamed != 0 && (errno == EINVAL || errno == ENOSYS)) {
        // A file system without an exclusive rename: a new link fails the same way.
        renamed = ::link(staged.constData(), name.constData());
        if (renamed == 0)
            ::unlink(staged.constData());
    }
    if (renamed != 0) {
        const int code = errno;
        ::unlink(staged.constData());
        return fail(error, tr("„%1“ lässt sich nicht anlegen: %2").arg(target, systemError(code)));
    }
    return true;
}

bool openForReading(QFile &file, const QString &path, QString *error, Links links)
{
    if (file.isOpen())
        file.close();
    if (path.isEmpty())
        return fail(error, systemError(ENOENT));
    const Opened opened = openChecked(path, links);
    if (opened.fd < 0) {
        // Told inside the caller's own sentence about the file.
        switch (opened.refusal) {
        case Refusal::Link:
        case Refusal::LinkOnTheWay:
            return fail(error,
                        QCoreApplication::translate(
                            "UntrustedFile",
                            "An ihrer Stelle steht eine Verknüpfung (symbolischer Link)."));
        case Refusal::NotRegular:
            return fail(
                error,
                QCoreApplication::translate("UntrustedFile", "Das ist keine gewöhnliche Datei."));
        case Refusal::OutOfFolder:
            return fail(error, reasonNaming(path, opened));
        case Refusal::System:
        case Refusal::None:
            break;
        }
        return fail(error, systemError(opened.code));
    }
    if (!file.open(opened.fd, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle)) {
        ::close(opened.fd);
        return fail(error, file.errorString());
    }
    return true;
}

void setKernelBeneathForTesting(bool use)
{
    g_kernelBeneath.store(use);
}

} // namespace UntrustedFile
