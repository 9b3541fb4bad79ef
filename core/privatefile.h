#pragma once

#include <QIODevice>
#include <QString>

class QFile;

// Files and folders the program makes for the seller alone (the log, backups, what it keeps
// in the data folder): they have their final mode from the first byte, whatever the umask,
// and a symbolic link found where one of them goes is replaced by a file of the program's
// own, never written through.
class PrivateFile
{
public:
    // Opens `file` on `path` for writing: emptied, or appended to when `mode` holds Append.
    // A new file is made readable and writable by its owner only (0600) as it is created;
    // an existing one is narrowed to that. A symbolic link at `path` is removed first.
    // False, with `error` (the system's text) set, when it can't be opened, or when
    // something other than a plain file of this user stands there; that one is left as
    // it is. The file is opened on its descriptor: `file` no longer knows its name.
    static bool open(QFile &file, const QString &path, QIODevice::OpenMode mode,
                     QString *error = nullptr);

    // Removes a symbolic link standing at `path`, and logs it, so that the next write makes
    // a file of its own there (QSaveFile, QSettings and the image writers would write
    // through it into the link's target). True when no link is left.
    static bool replaceLink(const QString &path);

    // Creates `folder` and every missing folder above it, each readable, writable and
    // enterable by its owner only (0700) from the start. Folders that exist keep their mode.
    // True when `folder` is a folder afterwards.
    static bool makePath(const QString &folder);

    // A folder opened by walking its path from "/" one component at a time, each checked on
    // what was opened, never on a path looked at before: every component is owned by this
    // user or root and writable by no one else (a component others may write into counts
    // only when it is sticky, as /tmp, and never for the folder itself, which must be this
    // user's own). A symbolic link on the way is followed only when it belongs to this
    // user or root; where it leads is walked and checked the same way.
    struct Folder
    {
        enum class Fault {
            None,
            Unusable, // missing, not a folder, not to be opened: `error` says why
            OtherOwner, // `at` belongs to another user
            OthersWrite // others may change what stands in `at`
        };
        int fd = -1; // the folder (O_DIRECTORY), when it passed; the caller closes it
        Fault fault = Fault::Unusable;
        QString at; // the component at fault, as found on the way
        int error = 0; // errno, for Unusable
        QString realPath; // where the walk ended, links resolved, ending with "/"
    };
    // `create`: missing folders on the way are made (0700), inside folders that passed.
    static Folder openFolder(const QString &path, bool create);
    // The path, ending with "/", by which files are opened inside the folder `fd`: through
    // the descriptor itself (/proc/self/fd), so that whatever the folder's path leads to
    // meanwhile, they are the checked folder's; `realPath` where /proc is not there.
    static QString throughDescriptor(int fd, const QString &realPath);
};
