// Measures what the check that a connection is alive costs a seller's command on MariaDB: a
// command of N rows written one by one (each write that must not run twice is preceded by
// "DO 1") against the same rows in one Transaction (its begin is the check). Counts the
// statements that reach the server through the test proxy and the time per command. Needs
// the test server: scripts/with-mariadb.sh build/bench/bench_alivecheck
#include "core/database.h"
#include "core/transaction.h"
#include "tests/support/mysqlproxy.h"
#include "tests/support/testdatabase.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QLoggingCategory>
#include <cstdio>

namespace {

constexpr int kRows = 100;
constexpr int kCommands = 20;

struct Figures
{
    int statements = 0;
    int checks = 0;
    double msPerCommand = 0;
};

enum class Mode {
    RowByRow,
    // The same statements marked as safe to repeat, so that none is checked first: what the
    // checks cost, measured only.
    RowByRowUnchecked,
    OneTransaction
};

Figures measure(Database &db, TestSupport::MySqlProxy &proxy, Mode mode)
{
    const bool inTransaction = mode == Mode::OneTransaction;
    const Database::Repeat repeat
        = mode == Mode::RowByRowUnchecked ? Database::Repeat::Safe : Database::Repeat::Never;
    const int statementsBefore = proxy.statementsSeen("");
    const int checksBefore = proxy.statementsSeen("DO 1");
    QElapsedTimer timer;
    timer.start();
    for (int command = 0; command < kCommands; ++command) {
        Transaction *transaction = inTransaction ? new Transaction(db) : nullptr;
        for (int row = 0; row < kRows; ++row) {
            if (!db.executeSQL(
                    QStringLiteral("INSERT INTO folders (foldername) VALUES ('B %1')").arg(row),
                    repeat)) {
                std::fprintf(stderr, "insert failed: %s\n", qPrintable(db.lastErrorText));
                std::exit(1);
            }
        }
        if (transaction && !transaction->commit()) {
            std::fprintf(stderr, "commit failed: %s\n", qPrintable(db.lastErrorText));
            std::exit(1);
        }
        delete transaction;
    }
    Figures figures;
    figures.msPerCommand = double(timer.nsecsElapsed()) / 1e6 / kCommands;
    figures.statements = (proxy.statementsSeen("") - statementsBefore) / kCommands;
    figures.checks = (proxy.statementsSeen("DO 1") - checksBefore) / kCommands;
    return figures;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QLoggingCategory::setFilterRules(QStringLiteral("app.*=false"));
    const TestSupport::MySqlServer server = TestSupport::MySqlServer::fromEnvironment();
    if (!server.configured()) {
        std::fprintf(stderr, "No MariaDB test server (run through scripts/with-mariadb.sh)\n");
        return 1;
    }
    TestSupport::MySqlProxy proxy(server);
    TestSupport::TestDatabase data(proxy.server());
    if (!data.error().isEmpty()) {
        std::fprintf(stderr, "%s\n", qPrintable(data.error()));
        return 1;
    }
    Database &db = *data.db();
    measure(db, proxy, Mode::OneTransaction); // warm-up
    std::printf("MariaDB through the local test proxy; a command of %d rows, mean of %d\n",
                kRows, kCommands);
    const std::pair<Mode, const char *> modes[] = {
        { Mode::RowByRow, "row by row" },
        { Mode::RowByRowUnchecked, "row by row, unchecked" },
        { Mode::OneTransaction, "one transaction" },
    };
    for (const auto &mode : modes) {
        const Figures figures = measure(db, proxy, mode.first);
        std::printf("%-28s %5d statements, %4d alive checks, %8.2f ms per command\n",
                    mode.second, figures.statements, figures.checks, figures.msPerCommand);
    }
    return 0;
}
