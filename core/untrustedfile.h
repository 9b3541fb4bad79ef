#pragma once

#include <QByteArray>
#include <QString>
#include <QtGlobal>

// Files opened by a path the program did not make itself: a picture a row names (written by
// another workstation or restored from a backup), a seller's picture, one a CSV file or the
// predecessor's export names. Such a path is opened once and everything after that is done on
// what was opened: it is opened without blocking (a FIFO or a device would hold the caller for
// good), checked on its descriptor to be a plain file, and then read from that descriptor,
// never opened again by its name between a check and a read. A symbolic link at the path's
// end is followed only where the seller may have chosen one.
namespace UntrustedFile {

// True when `name` is a relative name that stays inside `folder` (no "../" way out, no
// absolute path).
bool insideFolder(const QString &folder, const QString &name);

enum class Links { Refused, Followed };

// The path opened for reading: a descriptor of a plain file (the caller closes it), or -1 and
// `error` says why, in German.
int openRegular(const QString &path, Links links, QString *error);

// Reads what is left of `fd` into `bytes`, at most `maxBytes`: false (with `error`, German)
// when it is larger or a read fails.
bool readAll(int fd, qint64 maxBytes, QByteArray *bytes, QString *error);

// openRegular and readAll in one: the bytes of the plain file at `path`.
bool read(const QString &path, Links links, qint64 maxBytes, QByteArray *bytes,
          QString *error);

// Copies the plain file at `path` as a new file `target` (created exclusively, readable and
// writable by its owner only; never through a link or over a file that stands there), from
// the one descriptor it opened. False with `error` (German) when it could not: then nothing
// of `target` is left.
bool copy(const QString &path, Links links, const QString &target, qint64 maxBytes,
          QString *error);

// The largest picture file read: far more than a photo within the pixel budget needs.
constexpr qint64 kMaxPictureBytes = 256 * 1024 * 1024;

} // namespace UntrustedFile
