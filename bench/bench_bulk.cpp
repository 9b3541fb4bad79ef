// Measures the bulk-edit dialogs on a large data folder: each dialog writes one change into
// 10,000 selected articles of 100,000, in one transaction (search and replace reads each
// article's text and writes the changed ones). For reference the sqlite3 shell runs the
// statements of the former set-based forms in the same run (one UPDATE per article, for search
// and replace one for all of them), with the same synchronous setting as the program, on a
// copy of the data as they were before the dialog ran. The longest pause of the window's
// thread (its event loop; the window repaints only when it runs) is reported too: no command
// should hold it for more than 100 ms.
// Usage (needs a display): xvfb-run -a bench_bulk [sqlite3 binary]
#include "benchcheck.h"
#include "bulk/bulk_account.h"
#include "bulk/bulk_formatandduration.h"
#include "bulk/bulk_location.h"
#include "bulk/bulk_payment.h"
#include "bulk/bulk_priceandquantity.h"
#include "bulk/bulk_profiles.h"
#include "bulk/searchandreplace.h"
#include "core/config.h"
#include "core/database.h"
#include "tests/support/fakehttpserver.h"
#include "tests/support/temphome.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QElapsedTimer>
#include <QFile>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QProcess>
#include <QProgressBar>
#include <QTimer>
#include <QUrl>
#include <cstdio>
#include <functional>

using TestSupport::FakeHttpServer;
using TestSupport::FakeReply;

namespace {

constexpr int kArticles = 100000;
constexpr int kSelected = 10000;

// Records the longest pause of the event loop (the window can repaint only when it runs)
// and the number of paints of one widget.
class LoopWatch : public QObject
{
public:
    explicit LoopWatch(QObject *watched)
        : m_watched(watched)
    {
        m_clock.start();
        m_tick.setInterval(5);
        QObject::connect(&m_tick, &QTimer::timeout, this, [this] {
            const qint64 now = m_clock.elapsed();
            m_longest = qMax(m_longest, now - m_last);
            m_last = now;
        });
        m_tick.start();
        qApp->installEventFilter(this);
    }
    ~LoopWatch() override { qApp->removeEventFilter(this); }
    qint64 longestGapMs() const { return qMax(m_longest, m_clock.elapsed() - m_last); }
    int paints() const { return m_paints; }

protected:
    bool eventFilter(QObject *object, QEvent *event) override
    {
        if (object == m_watched && event->type() == QEvent::Paint)
            ++m_paints;
        return false;
    }

private:
    QObject *m_watched;
    QTimer m_tick;
    QElapsedTimer m_clock;
    qint64 m_last = 0;
    qint64 m_longest = 0;
    int m_paints = 0;
};

QByteArray canned(const char *name)
{
    QFile file(QStringLiteral(APP_TEST_DATA_DIR "/marketplace/") + QLatin1String(name));
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

bool prepare(Database &db, QString *file)
{
    mustWrite(db.executeSQL(
                  QStringLiteral("INSERT INTO accounts (id, accountname, token, sandbox, active, "
                                 "apiresult) VALUES (1, 'shop', 'T', 0, 1, "
                                 "'<StoreOwner>true</StoreOwner>')")),
              db);
    mustWrite(db.executeSQL(QStringLiteral("BEGIN TRANSACTION")), db);
    for (int i = 0; i < kArticles; ++i) {
        const QMap<QString, QVariant> row {
            { QStringLiteral("Title"), QStringLiteral("Lederjacke Größe M Nr. %1").arg(i) },
            { QStringLiteral("Description"), QString(900, QLatin1Char('x')) },
            { QStringLiteral("Folder"), -10 },
            { QStringLiteral("Site"), 77 },
            { QStringLiteral("Account"), 1 },
            { QStringLiteral("StartPrice"), 9.99 },
            { QStringLiteral("ListingDuration"), QStringLiteral("Days_10") },
            { QStringLiteral("PaymentMethods"), QStringLiteral("PayPal") },
        };
        if (db.insertSqlClean(row, QStringLiteral("articles")) <= 0) {
            std::fprintf(stderr, "insert failed: %s\n", qPrintable(db.lastErrorText));
            return false;
        }
    }
    mustWrite(db.executeSQL(QStringLiteral("COMMIT")), db);
    db.checkpoint();
    *file = db.getCurrentDataDir() + Database::getDatabaseName();
    return true;
}

double runShell(const QString &shell, const QString &file, const QString &sqlFile)
{
    QProcess process;
    process.setStandardInputFile(sqlFile);
    process.setStandardOutputFile(QProcess::nullDevice());
    QElapsedTimer timer;
    timer.start();
    process.start(shell, { file });
    if (!process.waitForFinished(600000) || process.exitCode() != 0)
        return -1;
    return timer.nsecsElapsed() / 1e9;
}

struct Case
{
    const char *name;
    std::function<QDialog *(const QString &ids)> make;
    // The statements the dialog runs, for the shell: "%1" stands for an article id; a
    // statement without it runs once.
    const char *statement;
};

} // namespace

int main(int argc, char *argv[])
{
    // Everything the program writes goes below one temporary folder.
    TestSupport::TempHome dir;
    qputenv("QT_LOGGING_RULES", "*.debug=false");
    QApplication app(argc, argv);
    const QString shell = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral("sqlite3");

    FakeHttpServer server;
    server.pointConfigHere();
    server.setCallReply(QStringLiteral("GeteBayDetails"),
                        FakeReply::ok(canned("GeteBayDetails.xml")));
    server.setCallReply(QStringLiteral("GetStore"), FakeReply::ok(canned("GetStore.xml")));
    server.setReply(QUrl(Config::defaultValue(Config::Key::ProfilesUrl)).path(),
                    FakeReply::ok(canned("getSellerProfiles.xml")));

    Database db(QString(), nullptr);
    QString file;
    QElapsedTimer timer;
    timer.start();
    if (!prepare(db, &file))
        return 1;
    std::printf("prepared %d articles in %.1f s; %d selected (every 10th)\n", kArticles,
                timer.nsecsElapsed() / 1e9, kSelected);

    QStringList ids;
    for (int i = 0; i < kSelected; ++i)
        ids << QString::number(1 + i * (kArticles / kSelected));
    const QString idList = ids.join(QLatin1Char(','));

    const auto pick = [](QDialog *d, const char *name, int index) {
        d->findChild<QComboBox *>(QLatin1String(name))->setCurrentIndex(index);
    };
    const auto tickAndType = [](QDialog *d, const char *field, const QString &entry) {
        d->findChild<QCheckBox *>(QLatin1String(field) + QLatin1String("Box"))->setChecked(true);
        d->findChild<QLineEdit *>(QLatin1String(field))->setText(entry);
    };
    const QString inList = QStringLiteral("UPDATE articles SET `Title` = REPLACE(`Title`,'Größe "
                                          "M','Gr. M') WHERE id IN (")
        + ids.join(QStringLiteral(", ")) + QStringLiteral(");");
    const QByteArray replaceAll = inList.toUtf8();
    const Case cases[] = {
        { "format and duration",
          [&](const QString &list) -> BulkEditDialog * {
              auto *d = new Bulk_FormatAndDuration(nullptr, list, -10);
              pick(d, "FormatBox", 2);
              pick(d, "DurationBox", 4);
              return d;
          },
          "UPDATE articles SET ListingDuration='Days_7', ListingType='FixedPriceItem' WHERE "
          "id=%1;" },
        { "account and PayPal",
          [&](const QString &list) -> BulkEditDialog * {
              auto *d = new Bulk_Account(nullptr, list, -10, 1, false);
              pick(d, "Account", 1);
              auto *edit = d->findChild<QLineEdit *>(QStringLiteral("PayPal"));
              edit->setText(QStringLiteral("kasse@example.de"));
              edit->setModified(true);
              return d;
          },
          "UPDATE articles SET Account='1', PayPalEmailAddress='kasse@example.de' WHERE id=%1;" },
        { "location",
          [&](const QString &list) -> BulkEditDialog * {
              auto *d = new Bulk_Location(nullptr, list);
              auto *edit = d->findChild<QLineEdit *>(QStringLiteral("Location"));
              edit->setText(QStringLiteral("Köln"));
              edit->setModified(true);
              pick(d, "Country", 1);
              return d;
          },
          "UPDATE articles SET Country='DE', Location='Köln' WHERE id=%1;" },
        { "payment methods",
          [&](const QString &list) -> BulkEditDialog * {
              auto *d = new Bulk_Payment(nullptr, 77, list);
              d->paymentBoxes.first()->setChecked(true);
              return d;
          },
          "UPDATE articles SET PaymentMethods='MoneyXferAccepted' WHERE id=%1;" },
        { "business policies",
          [&](const QString &list) -> BulkEditDialog * {
              auto *d = new Bulk_Profiles(nullptr, 1, 77, list);
              QElapsedTimer wait;
              wait.start();
              while (!d->isEnabled() && wait.elapsed() < 10000)
                  QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
              pick(d, "SellerShippingProfile", 1);
              return d;
          },
          "UPDATE articles SET SellerShippingProfile='' WHERE id=%1;" },
        { "prices +5 %",
          [&](const QString &list) -> QDialog * {
              auto *d = new Bulk_PriceAndQuantity(nullptr, list);
              tickAndType(d, "StartPrice", QStringLiteral("+5%"));
              return d;
          },
          "UPDATE articles SET CurrentPrice=0, StartPrice = ROUND(StartPrice * (100 + (5)) / "
          "100.0, 2) WHERE id=%1;" },
        { "replace in titles",
          [&](const QString &list) -> QDialog * {
              auto *d = new SearchAndReplace(list.split(QLatin1Char(',')));
              auto *fields = d->findChild<QListWidget *>(QStringLiteral("FieldSelectList"));
              for (int i = 0; i < fields->count(); ++i)
                  fields->item(i)->setCheckState(i == 0 ? Qt::Checked : Qt::Unchecked);
              d->findChild<QPlainTextEdit *>(QStringLiteral("SearchTextField"))
                  ->setPlainText(QStringLiteral("Größe M"));
              d->findChild<QPlainTextEdit *>(QStringLiteral("ReplaceTextField"))
                  ->setPlainText(QStringLiteral("Gr. M"));
              return d;
          },
          replaceAll.constData() },
    };

    std::printf("%-22s %10s %10s %8s %18s %12s\n", "dialog", "ours (s)", "shell (s)", "ratio",
                "longest loop pause", "bar paints");
    for (const Case &c : cases) {
        // The shell works on a copy of the data as they were before the dialog ran.
        db.checkpoint();
        const QString before = dir.path() + QStringLiteral("/before.sqlite");
        QFile::remove(before);
        QFile::copy(file, before);
        std::unique_ptr<QDialog> dialog(c.make(idList));
        dialog->show();
        QCoreApplication::processEvents();
        qint64 gap = 0;
        int paints = 0;
        timer.restart();
        {
            LoopWatch watch(dialog->findChild<QProgressBar *>(QStringLiteral("progressBar")));
            dialog->accept();
            gap = watch.longestGapMs();
            paints = watch.paints();
        }
        const double ours = timer.nsecsElapsed() / 1e9;

        const QString sqlFile = dir.path() + QStringLiteral("/replay.sql");
        QFile out(sqlFile);
        out.open(QIODevice::WriteOnly | QIODevice::Truncate);
        out.write("PRAGMA synchronous=NORMAL;\n");
        const QString statement = QString::fromUtf8(c.statement);
        if (statement.contains(QLatin1String("%1"))) {
            for (const QString &id : qAsConst(ids))
                out.write(statement.arg(id).toUtf8() + '\n');
        } else {
            out.write(statement.toUtf8() + '\n');
        }
        out.close();
        const double theirs = runShell(shell, before, sqlFile);
        std::printf("%-22s %10.3f %10.3f %8.2f %15lld ms %12d\n", c.name, ours, theirs,
                    theirs > 0 ? ours / theirs : 0.0, gap, paints);
    }
    return 0;
}
