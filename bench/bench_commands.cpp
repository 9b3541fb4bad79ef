// Measures the article commands of the main window on a data folder of 100,000 articles:
// 10,000 selected drafts put into the outbox, 1,000 copied articles (6 picture rows and 3
// variation rows each) pasted, a trash of 10,000 such articles emptied. A child process
// runs the real window and reports each command's time, the longest time the window went
// without painting its progress and the longest pause of the window's thread. The same
// statements are then replayed in the sqlite3 shell on a copy of the untouched database.
// Finally the window is closed in the middle of the outbox command and of a paste, and every
// article is checked to be done or untouched.
// Usage (needs a display): xvfb-run -a bench_commands [sqlite3 binary]
#include "benchcheck.h"
#include "core/config.h"
#include "core/database.h"
#include "core/dialogs.h"
#include "mainwindow/mainwindow.h"
#include "tests/support/mainwindowfixture.h"
#include "tests/support/pausewatch.h"
#include "tests/support/temphome.h"

#include <QAction>
#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QItemSelection>
#include <QProcess>
#include <QProgressBar>
#include <QSqlRecord>
#include <QTextStream>
#include <QTimer>
#include <QTreeView>
#include <QTreeWidget>
#include <cstdio>

namespace {

constexpr int kArticles = 100000;
constexpr int kDrafts = 20000; // ids 1..20000; every second one goes to the outbox
constexpr int kTrashFirst = 20001; // ids 20001..30000 in the trash
constexpr int kTrash = 10000;
constexpr int kSoldFirst = 30001; // ids 30001..31000 sold, copied and pasted
constexpr int kSold = 1000;
const QString kQueued = QStringLiteral("Artikel wird eingestellt / aktualisiert");

// Answers every question with yes and shows nothing.
class YesHook : public DialogHook
{
public:
    void message(QWidget *, const QString &, const QString &, int) override { }
    bool question(QWidget *, const QString &, const QString &) override { return true; }
    QString openFileName(QWidget *, const QString &, const QString &, const QString &) override
    {
        return QString();
    }
    QStringList openFileNames(QWidget *, const QString &, const QString &,
                              const QString &) override
    {
        return {};
    }
    QString saveFileName(QWidget *, const QString &, const QString &, const QString &) override
    {
        return QString();
    }
    QString existingDirectory(QWidget *, const QString &, const QString &) override
    {
        return QString();
    }
    QString text(QWidget *, const QString &, const QString &, const QString &, bool *ok) override
    {
        if (ok)
            *ok = false;
        return QString();
    }
};

// The longest stretch without a paint of the status panel's progress bar while a command
// runs (from its start to its end).
class PaintWatch : public QObject
{
public:
    explicit PaintWatch(QWidget *bar)
    {
        bar->installEventFilter(this);
    }
    void start()
    {
        m_clock.start();
        m_last = 0;
        m_longest = 0;
        m_paints = 0;
    }
    qint64 stop()
    {
        note();
        return m_longest;
    }
    int paints() const { return m_paints; }
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (event->type() == QEvent::Paint && m_clock.isValid()) {
            note();
            ++m_paints;
        }
        return QObject::eventFilter(watched, event);
    }

private:
    void note()
    {
        const qint64 now = m_clock.elapsed();
        m_longest = qMax(m_longest, now - m_last);
        m_last = now;
    }
    QElapsedTimer m_clock;
    qint64 m_last = 0;
    qint64 m_longest = 0;
    int m_paints = 0;
};

using TestSupport::PauseWatch;

void showFolder(MainWindow &window, int id)
{
    auto *tree = window.findChild<QTreeView *>(QStringLiteral("treeView"));
    const QModelIndex index = TestSupport::folderIndexOf(tree->model(), id);
    tree->setCurrentIndex(index);
    window.on_treeView_clicked(index);
}

void selectRows(QTreeWidget *list, int step)
{
    QItemSelection selection;
    for (int row = 0; row < list->topLevelItemCount(); row += step)
        selection.select(list->model()->index(row, 0), list->model()->index(row, 0));
    list->selectionModel()->select(selection, QItemSelectionModel::ClearAndSelect);
}

void trigger(MainWindow &window, const char *action)
{
    window.findChild<QAction *>(QLatin1String(action))->trigger();
}

// The child: the real window on the prepared folder. `mode`: "measure", or the command
// during which the window is closed ("outbox", "paste").
int runWindow(const QString &mode, int userFolder)
{
    YesHook yes;
    Dialogs::setHook(&yes);
    MainWindow window;
    window.show();
    auto *list = window.findChild<QTreeWidget *>(QStringLiteral("itemlist"));
    QElapsedTimer guard;
    guard.start();
    while (list->topLevelItemCount() == 0 && guard.elapsed() < 600000)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    PaintWatch watch(window.findChild<QProgressBar *>(QStringLiteral("SyncProgressBar")));
    PauseWatch pauses;
    const auto timed = [&](const char *name, const char *action, int rows) {
        watch.start();
        pauses.start();
        QElapsedTimer timer;
        timer.start();
        trigger(window, action);
        const double seconds = timer.nsecsElapsed() / 1e9;
        const qint64 longest = watch.stop();
        const qint64 pause = pauses.stop();
        std::printf("%s%-34s %6d rows %8.3f s   longest without repaint %5lld ms (%d paints), "
                    "longest pause of the window's thread %5lld ms, %d rows listed after\n",
                    mode == QLatin1String("measure") ? "" : "closed mid-way: ", name, rows,
                    seconds, static_cast<long long>(longest), watch.paints(),
                    static_cast<long long>(pause), list->topLevelItemCount());
        std::fflush(stdout);
    };
    if (mode != QLatin1String("measure"))
        QTimer::singleShot(400, &window, &QWidget::close);

    if (mode == QLatin1String("measure") || mode == QLatin1String("outbox")) {
        showFolder(window, -10);
        selectRows(list, 2);
        timed("outbox: drafts into the outbox", "actionIn_Ausgang_legen",
              list->selectedItems().size());
    }
    if (mode == QLatin1String("measure") || mode == QLatin1String("paste")) {
        showFolder(window, -7);
        selectRows(list, 1);
        trigger(window, "actionKopieren");
        showFolder(window, userFolder);
        timed("paste: copies into a user folder", "actionEinf_gen", kSold);
    }
    if (mode == QLatin1String("measure"))
        timed("empty the trash", "actionPapierkorb_leeren", kTrash);

    window.close();
    Dialogs::setHook(nullptr);
    return 0;
}

QMap<QString, QVariant> article(int id)
{
    QMap<QString, QVariant> row;
    const int folder = id <= kDrafts ? -10
        : id < kSoldFirst            ? -5
        : id < kSoldFirst + kSold    ? -7
                                     : -9;
    row.insert(QStringLiteral("Title"), QStringLiteral("Armbanduhr Edelstahl Nr. %1").arg(id));
    row.insert(QStringLiteral("Description"),
               QStringLiteral("<p>Artikelbeschreibung %1</p>").arg(id)
                   + QString(800, QLatin1Char('x')));
    row.insert(QStringLiteral("Folder"), folder);
    row.insert(QStringLiteral("FolderOld"), folder == -5 ? -10 : 0);
    row.insert(QStringLiteral("Trash"), 0);
    row.insert(QStringLiteral("Site"), 77);
    row.insert(QStringLiteral("Account"), 1);
    row.insert(QStringLiteral("StartPrice"), 4.99 + (id % 500) * 0.5);
    row.insert(QStringLiteral("Quantity"), 1 + id % 5);
    row.insert(QStringLiteral("Currency"), QStringLiteral("EUR"));
    row.insert(QStringLiteral("ListingType"), QStringLiteral("FixedPriceItem"));
    row.insert(QStringLiteral("ListingDuration"), QStringLiteral("GTC"));
    row.insert(QStringLiteral("ImageThumb"), QStringLiteral("thumb_%1.jpg").arg(id));
    const bool listed = folder == -9 || folder == -7;
    row.insert(QStringLiteral("ItemID"), listed ? QString::number(110000000000LL + id) : QString());
    row.insert(QStringLiteral("WatchCount"), listed ? id % 9 : 0);
    row.insert(QStringLiteral("StartDate"), listed ? QStringLiteral("2026-11-02 12:00:00") : QString());
    return row;
}

bool hasChildren(int id)
{
    return (id >= kTrashFirst && id < kTrashFirst + kTrash) || (id >= kSoldFirst && id < kSoldFirst + kSold);
}

bool prepare(Database &db, int *userFolder)
{
    mustWrite(db.executeSQL(QStringLiteral("BEGIN TRANSACTION")), db);
    for (int id = 1; id <= kArticles; ++id) {
        if (db.insertSqlClean(article(id), QStringLiteral("articles")) != id) {
            std::fprintf(stderr, "insert failed: %s\n", qPrintable(db.lastErrorText));
            return false;
        }
        if (!hasChildren(id))
            continue;
        QStringList images;
        for (int p = 1; p <= 6; ++p)
            images << QStringLiteral("(%1,'%2_%3.jpg',%3,0)").arg(id).arg(110000000000LL + id).arg(p);
        QStringList variations;
        for (int v = 1; v <= 3; ++v)
            variations << QStringLiteral("(%1,'<Variation><Farbe>%2</Farbe></Variation>','V-%1-%2',9.99,2)")
                              .arg(id)
                              .arg(v);
        if (!db.executeSQL(QStringLiteral("INSERT INTO articles_images (article_id,image,sort,"
                                          "variant_id) VALUES ")
                           + images.join(QLatin1Char(',')))
            || !db.executeSQL(QStringLiteral("INSERT INTO articles_variations (article_id,"
                                             "VariantXml,SKU,StartPrice,Quantity) VALUES ")
                              + variations.join(QLatin1Char(','))))
            return false;
    }
    *userFolder = db.insertSqlClean({ { QStringLiteral("foldername"), QStringLiteral("Ziel") },
                                      { QStringLiteral("folderparentid"), -10 },
                                      { QStringLiteral("expand"), 0 } },
                                    QStringLiteral("folders"));
    mustWrite(db.executeSQL(QStringLiteral("COMMIT")), db);
    return db.checkpoint() && *userFolder > 0;
}

// Every column of `table` but id, quoted as the program quotes them.
QString columnsOf(Database &db, const QString &table)
{
    const QSqlRecord record = db.connection().record(table);
    QStringList columns;
    for (int i = 0; i < record.count(); ++i) {
        if (record.fieldName(i) != QLatin1String("id"))
            columns << QLatin1Char('`') + record.fieldName(i) + QLatin1Char('`');
    }
    return columns.join(QStringLiteral(", "));
}

QString replaceColumn(QString columns, const QString &column, const QString &value)
{
    return columns.replace(QLatin1Char('`') + column + QLatin1Char('`'), value);
}

// "1,2,3" for an IN (...) list of `ids`.
QString joined(const QList<int> &ids)
{
    QStringList texts;
    for (int id : ids)
        texts << QString::number(id);
    return texts.join(QLatin1Char(','));
}

// The statements the three commands send, in their order: one transaction each, groups of
// 200 articles per statement.
QStringList outboxStatements()
{
    QList<int> ids;
    for (int id = 1; id <= kDrafts; id += 2)
        ids << id;
    QStringList sql { QStringLiteral("BEGIN IMMEDIATE;") };
    for (int i = 0; i < ids.size(); i += 200) {
        const QString in = joined(ids.mid(i, 200));
        sql << QStringLiteral("SELECT id FROM articles WHERE Trash=0 AND Folder=-10 AND id IN "
                              "(%1);")
                   .arg(in)
            << QStringLiteral("UPDATE articles SET FolderOld=-10, Folder=-2, DoCheck=2, "
                              "DoCheckResult='%1' WHERE id IN (%2);")
                   .arg(kQueued, in);
    }
    sql << QStringLiteral("COMMIT;");
    return sql;
}

QStringList pasteStatements(Database &db, int userFolder, const QString &listColumns)
{
    // The copy is written unlisted into the folder by the copying statement itself.
    QString articleValues = columnsOf(db, QStringLiteral("articles"));
    const QMap<QString, QString> reset {
        { "Folder", QString::number(userFolder) },
        { "WatchCount", "0" },
        { "BidCount", "0" },
        { "QuestionCount", "0" },
        { "HighBidder", "''" },
        { "ItemID", "''" },
        { "SoldCount", "0" },
        { "HasError", "0" },
        { "LastError", "''" },
        { "Planned", "''" },
        { "Planned_Interval", "''" },
        { "EndDate", "''" },
        { "StartDate", "''" },
    };
    for (auto it = reset.cbegin(); it != reset.cend(); ++it)
        articleValues = replaceColumn(articleValues, it.key(), it.value());
    const QString articleColumns = columnsOf(db, QStringLiteral("articles"));
    const QString imageColumns = columnsOf(db, QStringLiteral("articles_images"));
    const QString variationColumns = columnsOf(db, QStringLiteral("articles_variations"));
    // The sold articles' variations follow those of the trash, three per article.
    const int firstVariation = kTrash * 3 + 1;
    QStringList sql;
    for (int i = 0; i < kSold; ++i) {
        const int id = kSoldFirst + i;
        const QString newId = QString::number(kArticles + 1 + i);
        const QString of = QStringLiteral(" WHERE `article_id` = '%1' ORDER BY `id`;").arg(id);
        QStringList cases;
        QStringList old;
        for (int v = 0; v < 3; ++v) {
            old << QString::number(firstVariation + 3 * i + v);
            cases << QStringLiteral("WHEN %1 THEN %2")
                         .arg(old.last())
                         .arg(firstVariation + 3 * kSold + 3 * i + v);
        }
        sql << QStringLiteral("SELECT Folder FROM articles WHERE id=%1;").arg(id)
            << QStringLiteral("SAVEPOINT sp1;") << QStringLiteral("SAVEPOINT sp2;")
            << QStringLiteral("INSERT INTO `articles` (%1) SELECT %2 FROM `articles` WHERE "
                              "`id` = '%3';")
                   .arg(articleColumns, articleValues)
                   .arg(id)
            << QStringLiteral("INSERT INTO `articles_images` (%1) SELECT %2 FROM `articles_images`")
                    .arg(imageColumns, replaceColumn(imageColumns, "article_id", newId))
                + of
            << QStringLiteral("INSERT INTO `articles_variations` (%1) SELECT %2 FROM "
                              "`articles_variations`")
                    .arg(variationColumns, replaceColumn(variationColumns, "article_id", newId))
                + of
            << QStringLiteral("SELECT id, article_id FROM articles_variations WHERE article_id IN "
                              "('%1', %2) ORDER BY id;")
                   .arg(id)
                   .arg(newId)
            << QStringLiteral("UPDATE articles_images SET variant_id = CASE variant_id %1 END "
                              "WHERE article_id = %2 AND variant_id IN (%3);")
                   .arg(cases.join(QLatin1Char(' ')), newId, old.join(QLatin1Char(',')))
            << QStringLiteral("RELEASE SAVEPOINT sp2;") << QStringLiteral("RELEASE SAVEPOINT sp1;");
    }
    sql.prepend(QStringLiteral("BEGIN IMMEDIATE;"));
    sql << QStringLiteral("COMMIT;");
    for (int i = 0; i < kSold; ++i)
        sql << QStringLiteral("SELECT %1 FROM articles WHERE id=%2;")
                   .arg(listColumns)
                   .arg(kArticles + 1 + i);
    return sql;
}

QStringList trashStatements()
{
    QList<int> ids;
    for (int id = kTrashFirst; id < kTrashFirst + kTrash; ++id)
        ids << id;
    QStringList sql { QStringLiteral("BEGIN IMMEDIATE;"),
                      QStringLiteral("SELECT id FROM articles WHERE Folder = -5 AND Trash=0;") };
    for (int i = 0; i < ids.size(); i += 200)
        sql << QStringLiteral("UPDATE articles SET trash=1, TrashMoved='2026-12-07 04:00:00' "
                              "WHERE Folder = -5 AND id IN (%1);")
                   .arg(joined(ids.mid(i, 200)));
    sql << QStringLiteral("COMMIT;");
    return sql;
}

bool restore(const QString &pristine, const QString &file)
{
    QFile::remove(file + QStringLiteral("-wal"));
    QFile::remove(file + QStringLiteral("-shm"));
    QFile::remove(file);
    return QFile::copy(pristine, file);
}

double replay(const QString &shell, const QString &pristine, const QString &dir,
              const QStringList &statements)
{
    const QString copy = dir + QStringLiteral("/replay.sqlite");
    const QString script = dir + QStringLiteral("/replay.sql");
    if (!restore(pristine, copy))
        return -1;
    QFile out(script);
    if (!out.open(QIODevice::WriteOnly))
        return -1;
    out.write("PRAGMA synchronous=NORMAL;\n");
    out.write(statements.join(QLatin1Char('\n')).toUtf8());
    out.close();
    QProcess process;
    process.setStandardInputFile(script);
    process.setStandardOutputFile(QProcess::nullDevice());
    QElapsedTimer timer;
    timer.start();
    process.start(shell, { copy });
    if (!process.waitForFinished(600000) || process.exitCode() != 0)
        return -1;
    return timer.nsecsElapsed() / 1e9;
}

// Runs the window process; its report is printed and kept in *output.
bool runChild(const QString &mode, int userFolder, QString *output = nullptr)
{
    QProcess child;
    child.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    child.start(QCoreApplication::applicationFilePath(),
                { QStringLiteral("--window"), mode, QString::number(userFolder) });
    const bool ok = child.waitForFinished(1800000) && child.exitCode() == 0;
    const QByteArray report = child.readAllStandardOutput();
    std::fputs(report.constData(), stdout);
    std::fflush(stdout);
    if (output)
        *output = QString::fromLocal8Bit(report);
    return ok;
}

// The seconds a command took, from the window process's line that begins with `name`.
double commandSeconds(const QString &report, const QString &name)
{
    for (const QString &line : report.split(QLatin1Char('\n'))) {
        if (line.startsWith(name)) {
            const QStringList words = line.mid(name.size()).split(QLatin1Char(' '), Qt::SkipEmptyParts);
            const int unit = words.indexOf(QStringLiteral("s"));
            return unit > 0 ? words.at(unit - 1).toDouble() : -1;
        }
    }
    return -1;
}

} // namespace

int main(int argc, char *argv[])
{
    if (argc > 3 && qstrcmp(argv[1], "--window") == 0) {
        QApplication app(argc, argv);
        return runWindow(QString::fromLatin1(argv[2]), QString::fromLatin1(argv[3]).toInt());
    }

    // Everything the program writes goes below one temporary folder; no request leaves
    // the machine (the listing worker, woken by the outbox, finds nobody to talk to).
    TestSupport::TempHome dir;
    qputenv("QT_LOGGING_RULES", "*.debug=false;*.info=false;*.warning=false");
    for (Config::Key key : Config::allKeys()) {
        if (Config::isAddress(key))
            qputenv(Config::environmentVariable(key).toLatin1(), "http://127.0.0.1:9");
    }
    QCoreApplication app(argc, argv);
    const QString shell = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral("sqlite3");

    QElapsedTimer timer;
    timer.start();
    QString file;
    QString pristine;
    int userFolder = 0;
    QStringList statements[3];
    {
        Database db(QString(), nullptr);
        if (!prepare(db, &userFolder))
            return 1;
        file = db.getCurrentDataDir() + Database::getDatabaseName();
        pristine = dir.path() + QStringLiteral("/pristine.sqlite");
        const QString listColumns = QStringLiteral(
            "ShippingService_1_Cost, CurrentPrice, Account, Site, SKU, HasVariation, "
            "HasVariationMinPrice, Planned, Planned_Interval, ItemID, DoCheck, DoCheckResult, id, "
            "Title, StartPrice, BuyItNowPrice, Folder, FolderOld, SoldCount, Currency, ImageThumb, "
            "WatchCount, ListingDuration, StartDate, ListingType, BidCount, QuestionCount, "
            "Quantity, eBayPlus, BestOfferEnabled");
        statements[0] = outboxStatements();
        statements[1] = pasteStatements(db, userFolder, listColumns);
        statements[2] = trashStatements();
        db.close();
    }
    if (!QFile::copy(file, pristine))
        return 1;
    std::printf("prepared %d articles, %d picture and %d variation rows in %.1f s\n", kArticles,
                (kTrash + kSold) * 6, (kTrash + kSold) * 3, timer.nsecsElapsed() / 1e9);
    std::fflush(stdout);

    QString report;
    if (!runChild(QStringLiteral("measure"), userFolder, &report)) {
        std::fprintf(stderr, "the window process failed\n");
        return 1;
    }
    const char *names[] = { "outbox", "paste", "empty the trash" };
    // How the window process's lines begin.
    const char *lines[] = { "outbox:", "paste:", "empty the trash" };
    for (int i = 0; i < 3; ++i) {
        const double shellSeconds = replay(shell, pristine, dir.path(), statements[i]);
        std::printf("the same statements in the sqlite3 shell: %-16s %8.3f s, ours / shell %.2f\n",
                    names[i], shellSeconds,
                    commandSeconds(report, QLatin1String(lines[i]))
                        / shellSeconds);
    }

    // Closed in the middle: every article done or untouched.
    for (const QString &mode : { QStringLiteral("outbox"), QStringLiteral("paste") }) {
        if (!restore(pristine, file) || !runChild(mode, userFolder))
            return 1;
        Database db(QString(), nullptr);
        int done = 0;
        int untouched = 0;
        int broken = 0;
        if (mode == QLatin1String("outbox")) {
            for (int id = 1; id <= kDrafts; id += 2) {
                const SqlRows rows
                    = db.select(QStringLiteral("SELECT Folder, FolderOld FROM articles WHERE id=%1")
                                    .arg(id))
                          .value();
                const QString state = rows.value(0).value(QStringLiteral("Folder")).toString()
                    + QLatin1Char('|') + rows.value(0).value(QStringLiteral("FolderOld")).toString();
                if (state == QLatin1String("-2|-10"))
                    ++done;
                else if (state == QLatin1String("-10|0"))
                    ++untouched;
                else
                    ++broken;
            }
        } else {
            for (const ArticleRow &row :
                 db.select(QStringLiteral("SELECT id, Folder, ItemID FROM articles WHERE id>%1")
                               .arg(kArticles))
                     .value()) {
                const QString id = row.value(QStringLiteral("id")).toString();
                const bool whole = row.value(QStringLiteral("Folder")).toInt() == userFolder
                    && row.value(QStringLiteral("ItemID")).toString().isEmpty()
                    && db.selectOne("SELECT COUNT(*) FROM articles_images WHERE article_id=" + id)
                            .value()
                        == QLatin1String("6")
                    && db.selectOne("SELECT COUNT(*) FROM articles_variations WHERE article_id="
                                    + id)
                            .value()
                        == QLatin1String("3");
                whole ? ++done : ++broken;
            }
            untouched = kSold - done - broken;
        }
        std::printf("closed during %-7s %5d done, %5d untouched, %d neither\n", qPrintable(mode),
                    done, untouched, broken);
    }
    return 0;
}
