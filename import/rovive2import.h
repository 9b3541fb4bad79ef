#pragma once

#include "core/database.h"
#include "core/newsitem.h"
#include "core/numberreader.h"

#include <QHash>
#include <QList>
#include <QObject>
#include <QPair>
#include <QString>
#include <QStringList>

#include <functional>

// Imports the XML export of Rovive 2: its categories become user folders, its marketplace
// accounts accounts, its items articles with their pictures (copied from files or
// downloaded). Made by the main window, run once on the background worker with the job's
// connection (`work(db)`), ending with finished(). The file is read to its end before
// anything is written, so an export that cannot be read is refused as a whole.
//
// Each folder, account and article is one unit, stored in one transaction: an article with
// its pictures' rows, its thumbnail and the record of the item it came from, or nothing of
// it. Between units the run asks whether it is to stop ("Abbrechen", the program closing);
// it then ends after the unit in hand and says how far it got. A unit that finds the database
// held by another program or workstation (after the connection's one wait for its lock) ends
// the run the same way, not stored, and the seller is told so. Importing the same file again
// adds only what is not stored yet: a category whose id a folder holds, an account of the
// same name, a listing whose item id is stored and an item recorded as imported (by the key
// of its content and its place among equal items of the file) are not added twice.
class Rovive2Import : public QObject
{
    Q_OBJECT
public:
    // The child elements of one element, tag -> text (the first of a tag counts).
    using Fields = QHash<QString, QString>;

    // A value of an item that a number column could not take.
    struct RejectedValue
    {
        QString title; // the item's title
        QString field; // the column
        QString text;  // the value as the export holds it
        NumberReader::Refusal why = NumberReader::Refusal::NoNumber;
    };
    // What each number column (by its name in `articles`) shows of the export's decimal
    // mark, over all items: it decides numbers like "1,234".
    using NumberColumns = QHash<QString, NumberReader::ColumnMarks>;

    // What no real export comes near: elements nested deeper, or one element's text longer
    // (in characters), is refused.
    static constexpr int kMaxDepth = 256;
    static constexpr qint64 kMaxElementChars = 64 * 1024 * 1024;

    explicit Rovive2Import(QString path);

    // Asked between units: true ends the run after the unit in hand.
    void setCancelCheck(std::function<bool()> cancelled) { m_cancelCheck = std::move(cancelled); }
    // Told before each item is stored: how many of the file's items were taken up so far.
    void setProgress(std::function<void(int done, int total)> progress)
    {
        m_progress = std::move(progress);
    }

    // The key under which an item is recorded as imported: a digest of its fields, and
    // `occurrence` (0 for the first) among the items of the same fields in its file.
    static QString itemKey(const Fields &item, int occurrence);

    // Stores the pictures of a new article: files are copied into the picture folder under
    // a stamped name, web addresses downloaded first; the first one gets a thumbnail.
    // `title`: of the article, naming the pictures not taken.
    void CopyImages(int articleId, QStringList &images, Database *db,
                    const QString &title = QString());

    // The article row of one item. Values that a number column can't take are left out
    // (the column keeps its default), each added to `rejected`: no number, a price or cost
    // that is negative, above NumberReader::maxPrice or of more than two decimals, a
    // negative count, or a number ambiguous in its column (`columns`; none: every column
    // undecided). With `db` its folder and account are looked up there: a failed read when
    // a look-up failed.
    static Read<ArticleRow> articleRow(const Fields &item, Database *db,
                                       QList<RejectedValue> *rejected,
                                       const NumberColumns *columns = nullptr);
    // Adds what the item's number values show to `columns`.
    static void learnNumbers(const Fields &item, NumberColumns *columns);

signals:
    void sendNotification(QString noti);
    void finished();
    void getStatus(QString progressText, int step, int total);
    // The run's outcome as an entry of the activity list (stored in itemshistory).
    void sendaddNewsItem(NewsItem item);

public slots:
    // The whole run on a connection of its own.
    void work();

public:
    // The whole run on `db`, a connection of the calling thread.
    void work(Database &db);

private:
    class Reader;

    // articleRow(), with the number columns read (`readNumbers`) or left as the item holds them.
    static Read<ArticleRow> articleRow(const Fields &item, Database *db,
                                       QList<RejectedValue> *rejected, const NumberColumns *columns,
                                       bool readNumbers);

    // Reads the whole export; with a connection it writes what it reads, without one it
    // only checks that the file can be read to its end. False on the first error.
    bool readExport(Reader &reader, Database *db);
    void createFolders(Reader &reader, Database *db);
    void createAccounts(Reader &reader, Database *db);
    void importItem(const Fields &item, Database &db);
    // Counts one insert into `tally`: stored when `id` is above 0, else lost for the
    // database's reason.
    struct Tally
    {
        int stored = 0;
        int lost = 0;
        // The connection broke before the database answered: it may be stored or not.
        int unknown = 0;
        int all() const { return stored + lost + unknown; }
    };
    void count(Tally &tally, int id, const Database &db);
    // What the look-ups of one unit of the export (a folder, an account, an article) decided:
    // the row to insert into `table`; none (`table` empty) when it is stored already or left
    // out.
    struct Unit
    {
        QString table;
        ArticleRow row;
    };
    // Stores one unit in one transaction, its look-ups (`plan`) and its insert, counted into
    // `tally`: the new row's id, 0 when nothing was written. A look-up that fails writes
    // nothing and is counted lost with its reason. A transaction that the lost connection
    // undid is written again; one whose commit's answer was lost is looked up first.
    // `complete`, when given, writes the rest of the unit once its row is inserted, in the same
    // transaction (the article's pictures): false undoes the unit. `beforeAttempt`, when
    // given, does the slow work of each attempt before its transaction is begun.
    int storeUnit(Database &db, Tally &tally, const std::function<Read<Unit>()> &plan,
                  const std::function<bool(int id)> &complete = {},
                  const std::function<void()> &beforeAttempt = {});
    // The closing notification's title and text for a run that read the whole file; false
    // when anything of it could not be stored.
    bool outcome(QString *title, QString *text) const;
    // The values no number column took, each article named once with its fields; those
    // not named are counted ("und 4 weitere").
    QString rejectedText() const;
    // The pictures not taken, each named with its article; those not named are counted.
    QString failedPicturesText() const;
    // Sends the notification and records it in the activity list; an entry that can't be
    // stored (or, stopped at the local file's lock, is not tried) is shown all the same.
    void report(Database &db, const QString &title, const QString &text, bool ok);

    // True (and remembered) once the run is to stop.
    bool stopping();
    // True, and the run stopped, when a statement of `db` failed since it counted
    // `failedBefore` failed statements and the last one that failed met another connection's
    // lock: waiting again for each further unit would only repeat that wait.
    bool stoppedByLock(const Database &db, quint64 failedBefore);
    // Removes the downloads of one item once its unit is settled: its pictures are copies of
    // them by then. `downloads`: the files made by this item's downloads (none that lay in
    // the picture folder before); a file a stored picture row names stays.
    static void removeDownloads(Database &db, const QStringList &downloads);
    // The id of the article recorded for `key`, 0 when none is stored.
    static Read<int> importedArticle(Database &db, const QString &key);

    QString m_path;
    std::function<bool()> m_cancelCheck;
    std::function<void(int, int)> m_progress;
    bool m_stopped = false;
    // The run stopped because the database was held by another connection: its reason.
    QString m_lockError;
    QHash<QString, int> m_occurrences; // items of the same fields read so far, by digest
    int m_itemsKnown = 0; // items stored before the run, left as they are
    int m_itemsInFile = 0; // counted by the reading that checks the file
    int m_itemsTotal = 0;
    int m_itemCounter = 0;
    int m_failedPictures = 0;
    QList<QPair<QString, QString>> m_failedPictureNames; // article title, picture as given
    Tally m_folders;
    Tally m_accounts;
    Tally m_articles;
    QString m_storeError; // the database's reason for the first row it refused
    QList<QList<RejectedValue>> m_rejected; // per stored article
    QStringList m_tooLong; // titles of the articles left out for their description's length
    NumberColumns m_numberColumns; // learnt by the reading that checks the file
    // The level below "Artikelvorlagen" each category of the export is stored at, by its id,
    // learnt by the reading that checks the file; and that of the folders stored before the
    // run, by external id (the first folder of an id, as the import finds parents).
    QHash<QString, int> m_categoryLevels;
    QHash<QString, int> m_storedLevels;
};
