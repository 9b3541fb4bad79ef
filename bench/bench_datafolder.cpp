// The data folder's path runs through a link that a second process points, in a loop, now at
// the seller's folder and now at a folder open to every user (0777, its database 0666) that
// holds another database. Opens the database the way the window and each worker do (a main
// object, then a further connection) and counts the connections that read the other
// folder's database, and what was made in that folder. Usage: bench_datafolder [openings]
#include "core/database.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QLoggingCategory>
#include <QSet>
#include <QTemporaryDir>

#include <csignal>
#include <cstdio>

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

// The other user keeps the link swapping and the folder and its database open to everyone.
void swapForever(const QByteArray &link, const QByteArray &other, const QByteArray &database)
{
    const QByteArray next = link + ".neu";
    for (;;) {
        for (const char *target : { "echt", "fremd" }) {
            ::unlink(next.constData());
            if (::symlink(target, next.constData()) == 0)
                ::rename(next.constData(), link.constData());
        }
        ::chmod(other.constData(), 0777);
        ::chmod(database.constData(), 0666);
    }
}

// The side files standing in `folder` now, with their modes.
QStringList sideFiles(const QString &folder)
{
    QStringList found;
    for (const char *side : { "-wal", "-shm", "-journal" }) {
        struct stat status = {};
        const QString name = Database::getDatabaseName() + QLatin1String(side);
        if (::stat(QFile::encodeName(folder + name).constData(), &status) == 0)
            found << QStringLiteral("%1 %2").arg(name).arg(status.st_mode & 0777, 0, 8);
    }
    return found;
}

bool makeFolder(const QString &folder, const QString &origin)
{
    Database db(folder, nullptr);
    if (!db.isOpen())
        return false;
    db.setOption(QStringLiteral("Herkunft"), origin);
    return true;
}

} // namespace

int main(int argc, char *argv[])
{
    const int openings = argc > 1 ? qMax(2, atoi(argv[1])) : 3000;
    QTemporaryDir base;
    if (!base.isValid())
        return 1;
    const QString link = base.filePath(QStringLiteral("daten"));
    const QString other = base.filePath(QStringLiteral("fremd/"));
    {
        QCoreApplication setupApp(argc, argv);
        QLoggingCategory::setFilterRules(QStringLiteral("*.warning=false\n*.info=false"));
        if (!makeFolder(base.filePath(QStringLiteral("echt/")), QStringLiteral("echt"))
            || !makeFolder(other, QStringLiteral("fremd"))) {
            std::fprintf(stderr, "can't make the folders\n");
            return 1;
        }
    }
    ::chmod(QFile::encodeName(other).constData(), 0777);
    ::chmod(QFile::encodeName(other + Database::getDatabaseName()).constData(), 0666);
    if (::symlink("echt", QFile::encodeName(link).constData()) != 0)
        return 1;

    const pid_t swapper = ::fork();
    if (swapper == 0)
        swapForever(QFile::encodeName(link), QFile::encodeName(other),
                    QFile::encodeName(other + Database::getDatabaseName()));

    QSet<QString> made;
    int making = 0;
    int wrong = 0;
    int refused = 0;
    int right = 0;
    QElapsedTimer timer;
    timer.start();
    {
        QCoreApplication app(argc, argv);
        QLoggingCategory::setFilterRules(QStringLiteral("*.warning=false\n*.info=false"));
        Database::setStartProblemsShown(false);
        const auto count = [&](Database &db) {
            const QString origin = db.isOpen()
                ? db.getOption(QStringLiteral("Herkunft"), QString()).value()
                : QString();
            if (origin == QLatin1String("fremd"))
                ++wrong;
            else if (origin == QLatin1String("echt"))
                ++right;
            else
                ++refused;
        };
        for (int i = 0; i < openings / 2; ++i) {
            Database window(link + QLatin1Char('/'), nullptr);
            if (qEnvironmentVariableIsSet("BENCH_VERBOSE"))
                std::fprintf(stderr, "%s\n", qPrintable(window.startProblem()));
            count(window);
            Database worker(true, QStringLiteral("benchWorker"));
            count(worker);
            const QStringList found = sideFiles(other);
            if (!found.isEmpty()) {
                ++making;
                for (const QString &file : found)
                    made.insert(file);
            }
        }
    }
    const qint64 elapsed = timer.elapsed();
    ::kill(swapper, SIGKILL);
    ::waitpid(swapper, nullptr, 0);

    std::printf("%d openings through a link swapped in a loop: %d read the other folder's "
                "database, %d the seller's, %d refused; %.1f ms per opening\n",
                2 * (openings / 2), wrong, right, refused, double(elapsed) / openings);
    QStringList names = made.values();
    names.sort();
    std::printf("side files in the other folder after %d of %d window/worker pairs: %s\n", making,
                openings / 2,
                names.isEmpty() ? "none" : qPrintable(names.join(QStringLiteral(", "))));
    return 0;
}
