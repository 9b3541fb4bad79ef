#pragma once

#include <QByteArray>
#include <QString>
#include <QtGlobal>

#include <vector>

// Files written for one job (the pictures and thumbnails of a page of listings) and made
// durable together, with one sync pass instead of a sync right after each file.
//
// Each file is written under a hidden name of its own next to its final name (created fresh:
// never through a link or into a file planted there) and only moved under its final name by
// commit(), after the sync. So a file under its final name is always complete, also after a
// crash or a power cut, and nothing of the set is there half-written for a row to refer to:
// the caller writes the rows that name the files after commit() said true. What is not
// committed is removed.
class StagedFiles
{
public:
    StagedFiles() = default;
    ~StagedFiles();
    StagedFiles(const StagedFiles &) = delete;
    StagedFiles &operator=(const StagedFiles &) = delete;

    // Writes `data` for `path`; a file written for `path` before is replaced. A symbolic link
    // standing at `path` is removed (PrivateFile::replaceLink). A new file gets the usual mode
    // (0666 less the umask), one that replaces a plain file that mode. False, with `error`
    // (the system's text), when it can't be written; then nothing of it is left.
    // `Mode::OwnerOnly`: the file is readable and writable by its owner only (0600), also when
    // it replaces one.
    enum class Mode { Usual, OwnerOnly };
    bool write(const QString &path, const QByteArray &data, QString *error = nullptr,
               Mode mode = Mode::Usual);
    // Whether a file is written for `path` and waits for commit().
    bool contains(const QString &path) const;
    // Where the content written for `path` can be read until commit(); `path` itself when
    // nothing is written for it.
    QString pathOf(const QString &path) const;
    bool isEmpty() const { return m_files.empty(); }

    // Makes every file written durable (one pass of data syncs), then moves each under its
    // final name. False, with `error`,
    // when the sync or a move failed: then what was not moved is removed, and what was
    // moved is complete. The set is empty afterwards.
    bool commit(QString *error = nullptr);
    // Removes what is not committed.
    void discard();

private:
    struct File
    {
        QString path;
        QByteArray staged;
    };
    std::vector<File> m_files;
};
