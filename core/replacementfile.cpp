#include "core/replacementfile.h"

#include "core/logging.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QRandomGenerator>

#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

QString tr(const char *text)
{
    return QCoreApplication::translate("ReplacementFile", text);
}

QString systemError(int code)
{
    return QString::fromLocal8Bit(std::strerror(code));
}

constexpr int kNameAttempts = 100;

} // namespace

ReplacementFile::ReplacementFile(const QString &target)
    : m_target(target)
{
    const QFileInfo info(target);
    m_folder = info.absolutePath();
    m_name = info.fileName();
}

ReplacementFile::~ReplacementFile()
{
    if (!m_committed)
        discard();
    if (m_dirFd >= 0)
        ::close(m_dirFd);
}

int ReplacementFile::umasked(int mode)
{
    // /proc/self/status names the umask (Linux 4.7 and later); setting it to read it back
    // would change it for every thread meanwhile.
    QFile status(QStringLiteral("/proc/self/status"));
    int mask = 022;
    if (status.open(QIODevice::ReadOnly)) {
        for (const QByteArray &line : status.readAll().split('\n')) {
            if (line.startsWith("Umask:")) {
                bool ok = false;
                const int read = line.mid(6).trimmed().toInt(&ok, 8);
                if (ok)
                    mask = read;
                break;
            }
        }
    }
    return mode & ~mask;
}

bool ReplacementFile::fail(const QString &why)
{
    m_error = why;
    return false;
}

QString ReplacementFile::refusal() const
{
    struct stat status = {};
    if (::fstatat(m_dirFd, QFile::encodeName(m_name).constData(), &status, AT_SYMLINK_NOFOLLOW)
        != 0) {
        const int code = errno;
        return code == ENOENT ? QString() : systemError(code);
    }
    if (S_ISLNK(status.st_mode))
        return tr("An ihrer Stelle steht eine Verknüpfung (symbolischer Link); sie wird nicht "
                  "ersetzt. Bitte einen anderen Namen wählen.");
    if (S_ISDIR(status.st_mode))
        return tr("An ihrer Stelle steht ein Ordner.");
    if (!S_ISREG(status.st_mode))
        return tr("An ihrer Stelle steht keine gewöhnliche Datei (etwa eine Pipe oder ein "
                  "Gerät); sie wird nicht ersetzt.");
    return QString();
}

bool ReplacementFile::open()
{
    m_error.clear();
    if (m_name.isEmpty())
        return fail(systemError(ENOENT));
    // Every step below is taken inside this one folder, whatever its path leads to meanwhile.
    m_dirFd = ::open(QFile::encodeName(m_folder).constData(),
                     O_RDONLY | O_DIRECTORY | O_CLOEXEC | O_NONBLOCK);
    if (m_dirFd < 0)
        return fail(systemError(errno));
    const QString refused = refusal();
    if (!refused.isEmpty()) {
        qCWarning(lcApp).noquote() << "Not written:" << m_target << refused;
        return fail(refused);
    }
    struct stat status = {};
    m_existed
        = ::fstatat(m_dirFd, QFile::encodeName(m_name).constData(), &status, AT_SYMLINK_NOFOLLOW)
        == 0;

    for (int attempt = 0; attempt < kNameAttempts; ++attempt) {
        const QString candidate = QLatin1Char('.') + m_name + QLatin1Char('.')
            + QString::number(QRandomGenerator::global()->generate(), 36) + QStringLiteral(".tmp");
        const int fd = ::openat(m_dirFd, QFile::encodeName(candidate).constData(),
                                O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC | O_NOCTTY,
                                S_IRUSR | S_IWUSR);
        if (fd < 0) {
            if (errno == EEXIST)
                continue;
            return fail(systemError(errno));
        }
        m_tempName = candidate;
        if (!m_file.open(fd, QIODevice::WriteOnly, QFileDevice::AutoCloseHandle)) {
            ::close(fd);
            const QString why = m_file.errorString();
            discard();
            return fail(why);
        }
        return true;
    }
    return fail(systemError(EEXIST));
}

bool ReplacementFile::commit(bool ownerOnly)
{
    if (!m_file.isOpen() || m_tempName.isEmpty())
        return fail(systemError(EBADF));
    const auto failAndDiscard = [this](const QString &why) {
        discard();
        return fail(why);
    };
    if (!m_file.flush() || m_file.error() != QFileDevice::NoError)
        return failAndDiscard(m_file.errorString());
    const int fd = m_file.handle();
    if (::fsync(fd) != 0)
        return failAndDiscard(systemError(errno));
    const mode_t mode = ownerOnly
        ? (S_IRUSR | S_IWUSR)
        : mode_t(umasked(S_IRUSR | S_IWUSR | S_IRGRP | S_IWGRP | S_IROTH | S_IWOTH));
    if (::fchmod(fd, mode) != 0)
        return failAndDiscard(systemError(errno));
    // The temporary name must still be this file: in a folder others write into, it could
    // have been swapped meanwhile.
    struct stat mine = {};
    struct stat named = {};
    if (::fstat(fd, &mine) != 0
        || ::fstatat(m_dirFd, QFile::encodeName(m_tempName).constData(), &named,
                     AT_SYMLINK_NOFOLLOW)
            != 0
        || mine.st_dev != named.st_dev || mine.st_ino != named.st_ino) {
        qCWarning(lcApp).noquote() << "The temporary file for" << m_target << "was replaced";
        m_tempName.clear(); // not ours any more: left alone
        m_file.close();
        return fail(tr("Die vorläufige Datei wurde von einem anderen Programm ersetzt."));
    }
    const QString refused = refusal();
    if (!refused.isEmpty()) {
        qCWarning(lcApp).noquote() << "Not written:" << m_target << refused;
        return failAndDiscard(refused);
    }
    m_file.close();
    if (::renameat(m_dirFd, QFile::encodeName(m_tempName).constData(), m_dirFd,
                   QFile::encodeName(m_name).constData())
        != 0)
        return failAndDiscard(systemError(errno));
    m_committed = true;
    m_tempName.clear();
    // The new name in the folder reaches the disk too.
    ::fsync(m_dirFd);
    return true;
}

void ReplacementFile::discard()
{
    if (m_file.isOpen())
        m_file.close();
    if (!m_tempName.isEmpty() && m_dirFd >= 0)
        ::unlinkat(m_dirFd, QFile::encodeName(m_tempName).constData(), 0);
    m_tempName.clear();
}
