#pragma once

#include <QByteArray>
#include <QString>
#include <QtGlobal>

class QFile;

// Files opened by a path the program did not make itself: a picture a row names (written by
// another workstation or restored from a backup), a seller's picture, one a CSV file or the
// predecessor's export names, a backup to restore, a CSV file to import. Such a path is opened
// once and everything after that is done on what was opened: it is opened without blocking (a
// FIFO or a device would hold the caller for good), checked on its descriptor to be a plain
// file, and then read from that descriptor, never opened again by its name between a check
// and a read. A symbolic link at the path's end is followed only where the seller may have
// chosen one. A path inside a picture folder that is not to follow links is opened beneath
// that folder part by part: no link anywhere below the folder is followed, and nothing leads
// out of it.
namespace UntrustedFile {

// True when `name` is a relative name that stays inside `folder` (no "../" way out, no
// absolute path; a sibling folder whose name begins like `folder`'s is outside).
bool insideFolder(const QString &folder, const QString &name);

// Whether a symbolic link at the path's end is followed: only where the seller chose the file
// and may have chosen a link (a file dialog, a drop, a CSV file to import).
enum class Links { Refused, Followed };

// Makes `folder` a picture folder of the program: a path inside it opened with Links::Refused
// is opened beneath it (see openBeneath()). The folders of pictures and thumbnails are noted
// as the database names them.
void addPictureFolder(const QString &folder);
// The picture folder `path` lies in (with its trailing separator), empty for none.
QString pictureFolderOf(const QString &path);

// The path opened for reading: a descriptor of a plain file (the caller closes it), or -1 and
// `error` says why, in German. Links::Refused opens a path inside a picture folder beneath it.
int openRegular(const QString &path, Links links, QString *error);

// `name`, relative to `folder`, opened for reading beneath `folder`: each part of it is opened
// inside the one before without following a link, and a ".." that would lead out of the
// folder is refused (openat2 with RESOLVE_BENEATH | RESOLVE_NO_SYMLINKS where the kernel has
// it, else part by part with O_NOFOLLOW). The folder itself is taken as named. A descriptor
// of a plain file, or -1 and `error` in German.
int openBeneath(const QString &folder, const QString &name, QString *error);

// Reads what is left of `fd` into `bytes`, at most `maxBytes`: false (with `error`, German)
// when it is larger or a read fails.
bool readAll(int fd, qint64 maxBytes, QByteArray *bytes, QString *error);

// openRegular and readAll in one: the bytes of the plain file at `path`.
bool read(const QString &path, Links links, qint64 maxBytes, QByteArray *bytes, QString *error);

// Copies the plain file at `path` as a new file `target` (readable and writable by its owner
// only; never through a link or over a file that stands there), from the one descriptor it
// opened, a block at a time: the file is written under a hidden name in the target's folder
// and renamed to `target` only when whole. False with `error` (German) when it could not: then
// nothing of `target` is left, nor of the hidden file.
bool copy(const QString &path, Links links, const QString &target, qint64 maxBytes, QString *error);

// Opens `path` for reading into `file` (which then reads the descriptor, not the name), as
// openRegular() does. False, with `error` set to a German reason, when it could not; nothing
// is left open then.
bool openForReading(QFile &file, const QString &path, QString *error = nullptr,
                    Links links = Links::Refused);

// The largest picture file read: far more than a photo within the pixel budget needs.
constexpr qint64 kMaxPictureBytes = 256 * 1024 * 1024;

// Tests: false makes openBeneath() walk the parts itself as on a kernel without openat2.
void setKernelBeneathForTesting(bool use);

} // namespace UntrustedFile
