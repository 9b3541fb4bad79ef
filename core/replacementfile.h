#pragma once

#include <QFile>
#include <QString>

// Writes a file under a name the seller chose, in a folder that others may be able to write
// into too: the content goes into a new file of its own in that folder, created exclusively
// under a temporary name (never opening anything that stood there, never following a link),
// readable by its owner only while it is written; commit() gives it the chosen name by a
// rename, which replaces the name's entry and never writes through it. A name that is a
// symbolic link, a pipe, a folder or anything but a plain file is refused before anything is
// written, and again right before the rename. Without commit() the temporary file goes.
class ReplacementFile
{
public:
    explicit ReplacementFile(const QString &target);
    ~ReplacementFile();
    ReplacementFile(const ReplacementFile &) = delete;
    ReplacementFile &operator=(const ReplacementFile &) = delete;

    // Checks the chosen name and creates the temporary file. False with error() set (German)
    // when the name is refused or the folder takes no new file; nothing is made then.
    bool open();
    // The temporary file, open for writing (after open()).
    QFile &file() { return m_file; }
    // True when the chosen name held a plain file when open() looked (it is replaced).
    bool replacesFile() const { return m_existed; }

    // Makes the written content the file of the chosen name: flushed to the disk, given its
    // final permissions (the owner's alone when `ownerOnly`, else what the umask leaves of
    // read and write for all), then renamed over the chosen name. False with error() set, and
    // the temporary file removed, when any step fails or the name now holds something else.
    bool commit(bool ownerOnly);
    // Removes the temporary file (also done by the destructor unless committed).
    void discard();

    QString error() const { return m_error; }

    // The permissions the umask leaves of `mode` (read from the process, not set and reset).
    static int umasked(int mode);

private:
    // Why the chosen name is refused, or empty.
    QString refusal() const;
    bool fail(const QString &why);

    QString m_target;
    QString m_folder;
    QString m_name; // the chosen file name inside m_folder
    QString m_tempName;
    int m_dirFd = -1;
    QFile m_file;
    bool m_existed = false;
    bool m_committed = false;
    QString m_error;
};
