#include "core/stagedfiles.h"

#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>

#include "core/privatefile.h"

#include <algorithm>
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

bool fail(QString *error, int code)
{
    if (error)
        *error = systemError(code);
    return false;
}

bool writeAll(int fd, const QByteArray &data)
{
    const char *at = data.constData();
    qint64 left = data.size();
    while (left > 0) {
        const ssize_t written = ::write(fd, at, size_t(left));
        if (written < 0 && errno == EINTR)
            continue;
        if (written <= 0) {
            if (written == 0)
                errno = EIO;
            return false;
        }
        at += written;
        left -= written;
    }
    return true;
}

} // namespace

StagedFiles::~StagedFiles()
{
    discard();
}

bool StagedFiles::write(const QString &path, const QByteArray &data, QString *error, Mode mode)
{
    if (path.isEmpty())
        return fail(error, ENOENT);
    // The move in commit() would replace a link anyway; removed here, it is logged.
    if (!PrivateFile::replaceLink(path))
        return fail(error, EEXIST);

    const QFileInfo info(path);
    const QByteArray folder = QFile::encodeName(info.absolutePath());
    const QByteArray name = QFile::encodeName(info.fileName());
    // A hidden name: listings of the folder (the picture cleaner, a backup) pass it by.
    QByteArray staged;
    int fd = -1;
    for (int attempt = 0; fd < 0 && attempt < 16; ++attempt) {
        staged = folder + "/." + name + '.'
            + QByteArray::number(QRandomGenerator::global()->generate(), 36);
        // Created fresh: an entry of that name already there (a link too) is not opened.
        fd = ::open(staged.constData(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC,
                    mode == Mode::OwnerOnly ? 0600 : 0666);
        if (fd < 0 && errno != EEXIST)
            return fail(error, errno);
    }
    if (fd < 0)
        return fail(error, EEXIST);

    // A plain file it replaces keeps its mode, as a rewrite of it would.
    struct stat existing = {};
    const bool ok = (mode == Mode::OwnerOnly
                     || ::lstat(QFile::encodeName(path).constData(), &existing) != 0
                     || !S_ISREG(existing.st_mode)
                     || ::fchmod(fd, existing.st_mode & 0777) == 0)
        && writeAll(fd, data);
    const int code = errno;
    // Starts writing it out now, while the next file is fetched; commit() waits for it.
    if (ok)
        ::sync_file_range(fd, 0, 0, SYNC_FILE_RANGE_WRITE);
    // A file system may report a failed write only when the file is closed.
    if (::close(fd) != 0 || !ok) {
        const int reported = ok ? errno : code;
        ::unlink(staged.constData());
        return fail(error, reported);
    }

    const auto known = std::find_if(m_files.begin(), m_files.end(),
                                    [&path](const File &file) { return file.path == path; });
    if (known != m_files.end()) {
        ::unlink(known->staged.constData());
        known->staged = staged;
    } else {
        m_files.push_back({ path, staged });
    }
    return true;
}

bool StagedFiles::contains(const QString &path) const
{
    return std::any_of(m_files.cbegin(), m_files.cend(),
                       [&path](const File &file) { return file.path == path; });
}

QString StagedFiles::pathOf(const QString &path) const
{
    for (const File &file : m_files) {
        if (file.path == path)
            return QFile::decodeName(file.staged);
    }
    return path;
}

bool StagedFiles::commit(QString *error)
{
    if (m_files.empty())
        return true;
    // Durable before any of them gets its final name; the moves themselves are not synced:
    // after a power cut a file is under its final name whole or not at all. Their writing
    // out was started as each was written (write()), so by now most of it is done, and the
    // first sync's journal commit takes the others' along: the pass waits for the journal
    // about once, where a sync right after each write waited once per file. (A sync of the
    // whole file system would also wait for everything else written to it meanwhile, the
    // database and other programs included.)
    int code = 0;
    for (const File &file : m_files) {
        const int fd = ::open(file.staged.constData(), O_RDONLY | O_CLOEXEC);
        if (fd < 0 || ::fdatasync(fd) != 0)
            code = errno;
        if (fd >= 0)
            ::close(fd);
        if (code != 0)
            break;
    }
    if (code != 0) {
        discard();
        return fail(error, code);
    }

    for (const File &file : m_files) {
        if (::rename(file.staged.constData(), QFile::encodeName(file.path).constData()) != 0) {
            if (code == 0)
                code = errno;
            ::unlink(file.staged.constData());
        }
    }
    m_files.clear();
    return code == 0 || fail(error, code);
}

void StagedFiles::discard()
{
    for (const File &file : m_files)
        ::unlink(file.staged.constData());
    m_files.clear();
}
