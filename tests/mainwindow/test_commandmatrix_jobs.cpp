// The command matrix, the commands that run as jobs of the background worker: on a store of
// 300 articles each keeps all or nothing under a refused row, a lost commit answer, another
// workstation's lock, "Abbrechen" and the window closed while it waits, and says which. The
// bulk dialogs' write and "Angebot beenden" run there too: "Abbrechen" given half-way through
// them, and the window closed while listings are being ended.
#include "core/backgroundworker.h"
#include "tests/editor/editorfixture.h"
#include "tests/mainwindow/commandmatrix.h"
#include "tests/support/sqlitewritehold.h"
#include "tests/support/testmain.h"
#include "workers/enditem.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QFile>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QRadioButton>
#include <QRegularExpression>
#include <QSemaphore>

#include <atomic>

using Matrix::Command;
using Matrix::Fault;
using Matrix::Store;

namespace {

QString exportFile(Store &s)
{
    return s.data->dataDir() + QStringLiteral("export.csv");
}

// The articles 241-250 deleted from the trash, 241-245 with a picture each (their files too).
void deleted(Store &s)
{
    QVERIFY(s.db()->executeSQL("UPDATE articles SET Trash=1 WHERE id BETWEEN 241 AND 250"));
    for (int id = 241; id <= 245; ++id) {
        const QString name = QStringLiteral("weg%1.jpg").arg(id);
        QFile file(s.data->dataDir() + QStringLiteral("adimages/") + name);
        QVERIFY(file.open(QIODevice::WriteOnly) && file.write(Matrix::smallJpeg(id)) > 0);
        QVERIFY(s.db()->insertSqlClean({ { "article_id", id }, { "image", name } },
                                       "articles_images")
                > 0);
    }
}

const QList<Command> kCommands {
    { "Exportieren",
      [](Store &s, DialogAnswers &answers) {
          QVERIFY(s.selectAll(Matrix::kKeller, Matrix::kInKeller));
          answers.pushFileName(exportFile(s));
          s.trigger("actionExportieren");
      },
      {}, [](Database *) { return QString(); }, {}, "SELECT id FROM articles WHERE Folder=1",
      { Fault::None, Fault::Locked, Fault::Cancelled, Fault::Closed }, true,
      // The file holds every article selected, or is not there.
      [](Store &s) {
          QFile file(exportFile(s));
          if (!file.exists())
              return QStringLiteral("-");
          if (!file.open(QIODevice::ReadOnly))
              return QStringLiteral("unreadable");
          const QByteArray text = file.readAll();
          int articles = 0;
          for (int id = 1; id <= Matrix::kInKeller; ++id)
              articles += text.contains("Artikel " + QByteArray::number(id) + '"')
                      || text.contains("Artikel " + QByteArray::number(id) + ';')
                  ? 1
                  : 0;
          return articles == Matrix::kInKeller
              ? QString()
              : QStringLiteral("%1 of %2 articles").arg(articles).arg(Matrix::kInKeller);
      } },
    { "Datenbank aufräumen",
      [](Store &s, DialogAnswers &) { s.trigger("actionDatenbank_aufr_umen"); },
      { "articles.<removed>", "articles_images.<removed>", "files.<removed>" },
      [](Database *db) {
          return Matrix::expectCount(db, "SELECT id FROM articles WHERE Trash=1", 0)
              + Matrix::expectCount(db, "SELECT id FROM articles_images WHERE article_id > 240",
                                    0);
      },
      "articles DELETE OLD.id = 245", "SELECT id FROM articles WHERE Trash=1",
      { Fault::None, Fault::Refused, Fault::CommitLost, Fault::Locked, Fault::Cancelled,
        Fault::Closed },
      true },
};

// What the bulk dialogs and "Angebot beenden" need beside the store: the sites' details read
// through an active account (account 1 holds the running listings), and services abroad
// that "Auslandsversand" can take away.
void accounts(Store &s)
{
    EditorFixture::serveReferenceData(s.marketplace);
    EditorFixture::cacheGermanSite(s.db());
    EditorFixture::addAccounts(s.db());
    QVERIFY(s.db()->executeSQL("UPDATE articles SET ShippingServiceInt_1='DE_Intl', "
                               "IPromotionalShippingDiscount=1, PickUpAccepted=0"));
}

// A bulk dialog: its command and what the seller enters before OK.
struct Bulk
{
    const char *name;
    const char *action;
    std::function<void(QDialog *)> fill;
    // For the dialogs whose write is also cancelled at its commit: empty when the whole
    // change is stored, else what is missing.
    std::function<QString(Database *)> whole = {};
    // Run on MariaDB too: a write of its own (the others share the one of the change record).
    bool ownWrite = false;
};

void typed(QDialog *d, const char *field, const QString &entry)
{
    auto *edit = d->findChild<QLineEdit *>(field);
    edit->setText(entry);
    edit->setModified(true);
}

const QList<Bulk> kBulk {
    { "Preise und Mengen", "actionPreise_und_Mengen",
      [](QDialog *d) {
          d->findChild<QCheckBox *>("StartPriceBox")->setChecked(true);
          d->findChild<QLineEdit *>("StartPrice")->setText("+10%");
      },
      {}, true },
    { "Format und Laufzeit", "actionFormat_und_Laufzeit",
      [](QDialog *d) {
          auto *box = d->findChild<QComboBox *>("DurationBox");
          box->setCurrentIndex(box->findData("Days_5"));
      },
      [](Database *db) {
          return Matrix::expectCount(
              db, "SELECT id FROM articles WHERE Folder=1 AND ListingDuration='Days_5'",
              Matrix::kInKeller);
      },
      true },
    { "Konto, PayPal und Shopkategorien", "actionKonto_PayPal_und_Shopkategorien",
      [](QDialog *d) { typed(d, "PayPal", "neu@example.de"); } },
    { "Artikelstandort und Bearbeitungszeit", "actionArtikelstandort_und_Bearbeitungszeit",
      [](QDialog *d) { typed(d, "Location", "Leipzig"); } },
    { "Zahlungsmethoden", "actionZahlungsmethoden",
      [](QDialog *d) {
          d->findChild<QCheckBox *>("PayIns")->setChecked(true);
          d->findChild<QPlainTextEdit *>("PaymentInstructions")->setPlainText("Vorkasse");
      } },
    { "Suchen und ersetzen", "actionSuchen_und_ersetzen",
      [](QDialog *d) {
          auto *fields = d->findChild<QListWidget *>("FieldSelectList");
          for (int i = 0; i < fields->count(); ++i)
              fields->item(i)->setCheckState(fields->item(i)->text() == "Titel" ? Qt::Checked
                                                                                : Qt::Unchecked);
          d->findChild<QPlainTextEdit *>("SearchTextField")->setPlainText("Artikel");
          d->findChild<QPlainTextEdit *>("ReplaceTextField")->setPlainText("Ding");
          d->findChild<QCheckBox *>("DoUpdate")->setChecked(false);
      },
      [](Database *db) {
          return Matrix::expectCount(
              db, "SELECT id FROM articles WHERE Folder=1 AND Title LIKE 'Ding %'",
              Matrix::kInKeller);
      },
      true },
    { "Inlandsversand", "actionInlandsversand",
      [](QDialog *d) { d->findChild<QCheckBox *>("OfferPickup")->setCheckState(Qt::Checked); } },
    { "Auslandsversand", "actionAuslandsversand",
      [](QDialog *d) { d->findChild<QCheckBox *>("AcceptShipping")->setChecked(true); } },
};

// Holds the command's write where "Abbrechen" comes, on the connection that makes it, until
// let go: the write of article 120 (half-way through the 240 of "Keller"), or its commit.
// SQLite by the file's hooks, MariaDB by the proxy holding the server's answer.
class Hold
{
public:
    Hold(Store &s, bool atCommit)
        : m_proxy(s.proxy.get())
        , m_statement(atCommit ? "COMMIT" : "id=120")
        , m_atCommit(atCommit)
    { }
    ~Hold() { letGo(); }
    // From now on.
    void arm()
    {
        if (m_proxy) {
            m_seenBefore = m_proxy->statementsSeen(m_statement);
            m_proxy->holdAnswerTo(m_statement);
        } else if (m_atCommit) {
            m_file = std::make_unique<TestSupport::SqliteWriteHold>(
                TestSupport::SqliteWriteHold::AtCommit());
        } else {
            m_file = std::make_unique<TestSupport::SqliteWriteHold>("articles", 120);
        }
    }
    // Whether the write is held now; does not wait.
    bool reached()
    {
        if (!m_reached)
            m_reached = m_proxy ? m_proxy->statementsSeen(m_statement) > m_seenBefore
                                : m_file && m_file->reached(0);
        return m_reached;
    }
    void letGo()
    {
        if (m_proxy)
            m_proxy->release();
        else if (m_file)
            m_file->letGo();
    }

private:
    TestSupport::MySqlProxy *m_proxy;
    const QByteArray m_statement;
    const bool m_atCommit;
    int m_seenBefore = 0;
    std::unique_ptr<TestSupport::SqliteWriteHold> m_file;
    bool m_reached = false;
};

QByteArray endReply()
{
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<EndItemResponse xmlns=\""
           "urn:ebay:apis:eBLBaseComponents\"><Ack>Success</Ack></EndItemResponse>";
}

// The ItemIDs the marketplace was asked to end.
QStringList endedAtMarketplace(const Store &s)
{
    static const QRegularExpression itemId(QStringLiteral("<ItemID>(\\d+)</ItemID>"));
    QStringList ids;
    for (const auto &request : s.marketplace.requests()) {
        if (request.callName() == QLatin1String("EndItem"))
            ids << itemId.match(QString::fromUtf8(request.body)).captured(1);
    }
    ids.sort();
    return ids;
}

// The ItemIDs stored as ended (in "Nicht verkauft"), each with its activity entry.
QStringList storedEnded(Database *db, QString *missingEntries)
{
    const auto rows = db->select(
        "SELECT a.ItemID, (SELECT COUNT(*) FROM itemshistory h WHERE h.databaseid=a.id AND "
        "h.infotype='end_success') AS entries FROM articles a WHERE a.Folder=-8");
    if (!rows.ok()) {
        *missingEntries = QStringLiteral("not readable");
        return {};
    }
    QStringList ids;
    for (const auto &row : *rows) {
        ids << row.value("ItemID").toString();
        if (row.value("entries").toInt() != 1)
            *missingEntries += row.value("ItemID").toString() + QLatin1Char(' ');
    }
    ids.sort();
    return ids;
}

} // namespace

class TestCommandMatrixJobs : public QObject
{
    Q_OBJECT

private slots:
    // The commands of the catalog this program runs.
    void coversItsCommands()
    {
        Matrix::checkCovers("jobs", { "actionExportieren",
      "actionDatenbank_aufr_umen" });
    }
    void run_data() { Matrix::addRows(kCommands); }
    void run()
    {
        Matrix::runRow(kCommands, deleted);
    }

    // Each bulk dialog writes the 240 articles of "Keller" as a job, with its bar and
    // "Abbrechen": given while article 120 is being written (inside the command's
    // transaction), nothing of it is kept, the seller reads that it was cancelled, and the
    // dialog closes. Given while the commit is on its way (the dialogs' two ways of ending
    // their write), the change is kept whole and the seller reads that "Abbrechen" came too
    // late. Their window-modal dialog leaves no road to close the window meanwhile. On
    // MariaDB the three ways of writing: the change record (the first of them, "Format und
    // Laufzeit"), the prices and the replacement.
    void bulkCancelled_data()
    {
        QTest::addColumn<int>("command");
        QTest::addColumn<bool>("atCommit");
        QTest::addColumn<TestSupport::Backend>("backend");
        for (int k = 0; k < kBulk.size(); ++k) {
            for (const bool atCommit : { false, true }) {
                if (atCommit && !kBulk.at(k).whole)
                    continue;
                for (const auto backend :
                     { TestSupport::Backend::SQLite, TestSupport::Backend::MySQL }) {
                    if (backend == TestSupport::Backend::MySQL && !kBulk.at(k).ownWrite)
                        continue;
                    QTest::newRow(qPrintable(
                        QStringLiteral("%1: cancelled %2 (%3)")
                            .arg(kBulk.at(k).name,
                                 atCommit ? QStringLiteral("at the commit")
                                          : QStringLiteral("half-way"),
                                 Matrix::backendName(backend))))
                        << k << atCommit << backend;
                }
            }
        }
    }
    void bulkCancelled()
    {
        QFETCH(int, command);
        QFETCH(bool, atCommit);
        QFETCH(TestSupport::Backend, backend);
        APP_REQUIRE_BACKEND(backend);
        const Bulk &bulk = kBulk.at(command);
        DialogAnswers answers;
        Store store(backend);
        QVERIFY2(store.data->error().isEmpty(), qPrintable(store.data->error()));
        QVERIFY(store.open(accounts));
        QVERIFY(store.selectAll(Matrix::kKeller, Matrix::kInKeller));
        store.marketplace.clearRequests();
        Hold hold(store, atCommit);

        // The seller fills the dialog and gives OK; once the write is held, "Abbrechen", and
        // the write goes on to find it.
        enum Step { Opening, Writing, Cancelled } step = Opening;
        QTimer seller;
        QObject::connect(&seller, &QTimer::timeout, [&] {
            auto *dialog = qobject_cast<QDialog *>(QApplication::activeModalWidget());
            if (!dialog || dialog->inherits("QMessageBox"))
                return;
            auto *buttons = dialog->findChild<QDialogButtonBox *>(QStringLiteral("buttonBox"));
            if (!buttons)
                return;
            if (step == Opening && buttons->button(QDialogButtonBox::Ok)->isEnabled()) {
                bulk.fill(dialog);
                step = Writing;
                hold.arm();
                buttons->button(QDialogButtonBox::Ok)->click();
            } else if (step == Writing && hold.reached()) {
                step = Cancelled;
                buttons->button(QDialogButtonBox::Cancel)->click();
                hold.letGo();
            }
        });
        seller.start(20);
        store.trigger(bulk.action);
        seller.stop();
        hold.letGo();
        QCOMPARE(int(step), int(Cancelled));
        QVERIFY(!QApplication::activeModalWidget());
        QVERIFY(store.window()->isEnabled());

        const TestSupport::StoredState after = store.now();
        QVERIFY2(after.error().isEmpty(), qPrintable(after.error()));
        const QStringList changed = TestSupport::StoredState::changedCells(store.before, after);
        if (atCommit) {
            QVERIFY2(!changed.isEmpty() && bulk.whole(store.db()).isEmpty(),
                     qPrintable(bulk.whole(store.db())));
            QVERIFY2(answers.lastMessageText().contains(QStringLiteral("zu spät")),
                     qPrintable(answers.shownTexts().join('\n')));
        } else {
            QVERIFY2(changed.isEmpty(),
                     qPrintable(TestSupport::StoredState::describe(store.before, after)));
            QVERIFY2(answers.lastMessageText().contains(QLatin1String("abgebrochen"))
                         && answers.lastMessageText().contains(QLatin1String("keiner der Artikel")),
                     qPrintable(answers.shownTexts().join('\n')));
        }
        for (const auto &request : store.marketplace.requests())
            QVERIFY2(!Matrix::writesListing(request.callName()), qPrintable(request.callName()));
        QCOMPARE(answers.messages().size(), 1);
        QVERIFY2(Matrix::complaints(answers).isEmpty(), qPrintable(answers.shownTexts().join('\n')));
        store.fixture->close();
    }

    // "Angebot beenden" asks the marketplace to end the 20 running listings one after the
    // other on the background worker. While the tenth is being ended, "Abbrechen" is given,
    // or the window is closed and the program ends. What the marketplace ended is exactly
    // what is stored as ended (with its activity entry), nothing else changed, and the
    // seller reads the true count; after the close the worker has ended with the program.
    void endingStopped_data()
    {
        QTest::addColumn<bool>("close");
        QTest::addColumn<TestSupport::Backend>("backend");
        for (const bool close : { false, true }) {
            for (const auto backend : { TestSupport::Backend::SQLite, TestSupport::Backend::MySQL })
                QTest::newRow(qPrintable(QStringLiteral("Angebot beenden: %1 (%2)")
                                             .arg(Matrix::faultName(close ? Fault::Closed
                                                                          : Fault::Cancelled),
                                                  Matrix::backendName(backend))))
                    << close << backend;
        }
    }
    void endingStopped()
    {
        QFETCH(bool, close);
        QFETCH(TestSupport::Backend, backend);
        APP_REQUIRE_BACKEND(backend);
        DialogAnswers answers;
        Store store(backend);
        QVERIFY2(store.data->error().isEmpty(), qPrintable(store.data->error()));
        QVERIFY(store.open(accounts));
        QVERIFY(store.selectAll(-9, 20));
        store.marketplace.clearRequests();
        // The tenth listing's answer waits until the seller has acted; after the close it
        // comes only while the program is ending its worker (which waits for it however
        // late it comes).
        auto asked = std::make_shared<QSemaphore>();
        auto answer = std::make_shared<QSemaphore>();
        auto calls = std::make_shared<std::atomic<int>>(0);
        store.marketplace.setCallHandler(
            "EndItem", [asked, answer, calls, close](const TestSupport::RecordedRequest &) {
                if (++*calls == 10) {
                    asked->release();
                    answer->tryAcquire(1, close ? 1000 : 30000);
                }
                return TestSupport::FakeReply::ok(endReply(), "text/xml");
            });
        auto answered = qScopeGuard([answer] { answer->release(100); });
        QTimer seller;
        QObject::connect(&seller, &QTimer::timeout, [&seller] {
            if (auto *dialog = qobject_cast<EndItem *>(QApplication::activeModalWidget())) {
                seller.stop();
                dialog->findChild<QRadioButton *>("NotAvailable")->setChecked(true);
                dialog->accept();
            }
        });
        seller.start(20);
        store.trigger("actionAuwahl_beenden");
        QVERIFY(asked->tryAcquire(1, 20000));

        if (close) {
            store.fixture->close();
            // What the end of the program does once its window is closed: the worker is
            // shut down and joined.
            delete static_cast<QObject *>(BackgroundWorker::instance());
        } else {
            auto *cancel = store.window()->findChild<QPushButton *>("JobCancelButton");
            QVERIFY(cancel && cancel->isVisible());
            cancel->click();
            answer->release();
            // Told once the outcome is stored.
            QTRY_VERIFY_WITH_TIMEOUT(answers.lastMessageText().startsWith("Das Beenden"), 20000);
        }

        const QStringList ended = endedAtMarketplace(store);
        QCOMPARE(ended.size(), 10);
        // The marketplace ended each listing it was asked to: none is stored as failed.
        const auto failed = store.db()->selectOne(
            "SELECT MIN(textinfo) FROM itemshistory WHERE infotype='end_fail'");
        QVERIFY(failed.ok());
        QVERIFY2(failed.value().isEmpty(), qPrintable(failed.value()));
        QString missingEntries;
        QCOMPARE(storedEnded(store.db(), &missingEntries), ended);
        QVERIFY2(missingEntries.isEmpty(), qPrintable("no activity entry: " + missingEntries));
        const TestSupport::StoredState after = store.now();
        QVERIFY2(after.error().isEmpty(), qPrintable(after.error()));
        for (const QString &cell : TestSupport::StoredState::changedCells(store.before, after))
            QVERIFY2(QStringList({ "articles.Folder", "articles.DoCheckResult",
                                   "itemshistory.<added>", "clienttoserver.<added>" })
                         .contains(cell),
                     qPrintable(TestSupport::StoredState::describe(store.before, after)));
        QVERIFY2(Matrix::complaints(answers).isEmpty(), qPrintable(answers.shownTexts().join('\n')));
        if (!close) {
            QCOMPARE(answers.lastMessageText(),
                     QStringLiteral("Das Beenden wurde abgebrochen: 10 von 20 Angeboten wurden "
                                    "beendet."));
            store.fixture->close();
        }
    }
};

APP_TEST_MAIN(TestCommandMatrixJobs)
#include "test_commandmatrix_jobs.moc"
