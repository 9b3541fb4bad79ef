// The command matrix, "Daten wiederherstellen" and "Rahmenbedingungen". The restore unpacks a
// backup beside the data folder and the next start takes it: afterwards the data folder is
// exactly the archive's, or, when the archive is cut, a file of it is refused or the window
// is closed meanwhile, exactly as before and told so. A shared database is not in the archive
// and stays as it is, which the seller reads. The business policies chosen in their dialog
// reach every selected article or none.
#include "core/config.h"
#include "import/foldercompressor.h"
#include "tests/editor/editorfixture.h"
#include "tests/mainwindow/commandmatrix.h"
#include "tests/support/filesizelimit.h"
#include "tests/support/testmain.h"

#include <QComboBox>
#include <QDialog>
#include <QDialogButtonBox>
#include <QRandomGenerator>
#include <QTemporaryDir>

using Matrix::Command;
using Matrix::Store;
using Matrix::bulk;

namespace {

// How a restore is met.
enum class Restore {
    Whole, // a whole archive, nothing in the way
    Cut, // the archive cut short at its end
    FileRefused, // a file of the archive refused half-way through writing it (a full disk)
    Locked, // another workstation holds the articles (the write lock of the local file)
    Closed, // the window closed while the unpacking waits to start
};

bool restores(Restore how)
{
    return how == Restore::Whole || how == Restore::Locked;
}

void writeFile(const QString &path, const QByteArray &content)
{
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    QCOMPARE(file.write(content), qint64(content.size()));
}

// Picture files do not pack: the archive holds one of 600 KB.
QByteArray noise()
{
    QVector<quint32> words(150 * 1024);
    QRandomGenerator(4711).fillRange(words.data(), words.size());
    return QByteArray(reinterpret_cast<const char *>(words.constData()),
                      words.size() * int(sizeof(quint32)));
}

// The changed rows, without the list's order that every start of the window stores.
QStringList changedRows(const TestSupport::StoredState &from, const TestSupport::StoredState &to)
{
    QStringList rows = TestSupport::StoredState::changedRows(from, to);
    rows.removeAll(QStringLiteral("options:lastOrder"));
    return rows;
}

// The seller's policies as the seller-profiles service answers getSellerProfiles for one
// profileType: that type's container alone, each policy with its profileId and profileName.
TestSupport::FakeReply sellerProfiles(const TestSupport::RecordedRequest &request)
{
    struct Kind
    {
        QByteArray type, list, entry;
        QList<QPair<QByteArray, QByteArray>> profiles;
    };
    static const QList<Kind> kinds {
        { "PAYMENT",
          "paymentProfileList",
          "PaymentProfile",
          { { "5001", "Überweisung, Vorkasse" }, { "5002", "Barzahlung" } } },
        { "RETURN_POLICY",
          "returnPolicyProfileList",
          "ReturnPolicyProfile",
          { { "6001", "14 Tage Rückgabe" } } },
        { "SHIPPING",
          "shippingPolicyProfile",
          "ShippingPolicyProfile",
          { { "7001", "DHL versichert" }, { "7002", "Päckchen bis 1 kg" } } },
    };
    QByteArray xml = "<?xml version=\"1.0\" encoding=\"UTF-8\"?><getSellerProfilesResponse "
                     "xmlns=\"http://www.ebay.com/marketplace/selling/v1/services\">"
                     "<ack>Success</ack><version>1.0.0</version>"
                     "<timestamp>2026-12-08T10:15:00.000Z</timestamp>";
    for (const Kind &kind : kinds) {
        if (!request.body.contains("<profileType>" + kind.type + "</profileType>"))
            continue;
        xml += "<" + kind.list + ">";
        for (const auto &profile : kind.profiles)
            xml += "<" + kind.entry + "><profileId>" + profile.first + "</profileId><profileName>"
                + profile.second + "</profileName><profileType>" + kind.type
                + "</profileType><siteId>77</siteId></" + kind.entry + ">";
        xml += "</" + kind.list + ">";
    }
    return TestSupport::FakeReply::ok(xml + "</getSellerProfilesResponse>",
                                      "text/xml; charset=utf-8");
}

// The entries of a policy box, after "no change" and "remove the policy".
QStringList offered(QDialog *dialog, const char *box)
{
    QStringList entries;
    auto *combo = dialog->findChild<QComboBox *>(QLatin1String(box));
    for (int i = 2; combo && i < combo->count(); ++i)
        entries << combo->itemText(i);
    return entries;
}

const QList<Command> kProfiles {
    { "Rahmenbedingungen",
      [](Store &s, DialogAnswers &answers) {
          bulk(s, answers, "actionRahmenbedingungen", [](QDialog *d) {
              // The choices are the seller's policies of each type as the marketplace lists
              // them.
              QCOMPARE(offered(d, "SellerPaymentProfile"),
                       QStringList({ "(5001) Überweisung, Vorkasse", "(5002) Barzahlung" }));
              QCOMPARE(offered(d, "SellerReturnProfile"),
                       QStringList { "(6001) 14 Tage Rückgabe" });
              QCOMPARE(offered(d, "SellerShippingProfile"),
                       QStringList({ "(7001) DHL versichert", "(7002) Päckchen bis 1 kg" }));
              auto *payment = d->findChild<QComboBox *>("SellerPaymentProfile");
              auto *shipping = d->findChild<QComboBox *>("SellerShippingProfile");
              payment->setCurrentIndex(payment->findData("5001"));
              shipping->setCurrentIndex(shipping->findData("7002"));
          });
      },
      { "articles.SellerPaymentProfile", "articles.SellerShippingProfile" },
      [](Database *db) {
          return Matrix::expectCount(db,
                                     "SELECT id FROM articles WHERE Folder=1 AND "
                                     "SellerPaymentProfile='5001' AND SellerShippingProfile='7002'",
                                     Matrix::kInKeller);
      },
      "articles UPDATE OLD.id = 120",
      "SELECT id FROM articles WHERE Folder=1" },
};

} // namespace

class TestCommandMatrixRestore : public QObject
{
    Q_OBJECT

private slots:
    void init() { MainWindow::setPendingRestore(QString()); }

    void coversItsCommands()
    {
        Matrix::checkCovers("restore",
                            { "actionDaten_wiederherstellen", "actionRahmenbedingungen" });
    }

    // Before the restore: a restore ends the program, and from then on no dialog of this
    // process runs an event loop of its own.
    // The local file's write lock meets this dialog's OK as it meets every bulk dialog's
    // (test_commandmatrix_dialogs): only the row lock of the shared database is run here.
    void profiles_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<int>("fault");
        QTest::addColumn<TestSupport::Backend>("backend");
        for (const Command &c : kProfiles) {
            for (const Matrix::Fault fault : c.faults) {
                for (const auto backend :
                     { TestSupport::Backend::SQLite, TestSupport::Backend::MySQL }) {
                    const bool sqlite = backend == TestSupport::Backend::SQLite;
                    if (sqlite
                        && (fault == Matrix::Fault::CommitLost || fault == Matrix::Fault::Locked))
                        continue;
                    QTest::newRow(qPrintable(
                        QStringLiteral("%1: %2 (%3)")
                            .arg(c.name, Matrix::faultName(fault), Matrix::backendName(backend))))
                        << c.name << int(fault) << backend;
                }
            }
        }
    }
    // "Rahmenbedingungen": the policies the marketplace lists for the articles' account,
    // chosen for 240 articles, stored for all of them or for none.
    void profiles()
    {
        Matrix::runRow(kProfiles, [](Store &s) {
            EditorFixture::serveReferenceData(s.marketplace);
            s.marketplace.setHandler(QUrl(Config::defaultValue(Config::Key::ProfilesUrl)).path(),
                                     sellerProfiles);
            EditorFixture::addAccounts(s.db());
        });
    }

    void restore_data()
    {
        QTest::addColumn<int>("how");
        QTest::addColumn<TestSupport::Backend>("backend");
        const QList<QPair<const char *, Restore>> rows {
            { "no fault", Restore::Whole },
            { "archive cut", Restore::Cut },
            { "a file refused half-way", Restore::FileRefused },
            { "held by another workstation", Restore::Locked },
            { "window closed", Restore::Closed },
        };
        for (const auto &row : rows) {
            for (const auto backend :
                 { TestSupport::Backend::SQLite, TestSupport::Backend::MySQL }) {
                // A broken archive is met before the database is: one backend tells it.
                const bool broken
                    = row.second == Restore::Cut || row.second == Restore::FileRefused;
                if (broken && backend == TestSupport::Backend::MySQL)
                    continue;
                QTest::newRow(qPrintable(QStringLiteral("%1 (%2)").arg(
                    QLatin1String(row.first), Matrix::backendName(backend))))
                    << int(row.second) << backend;
            }
        }
    }

    // "Daten wiederherstellen" and the next start: the data folder is the archive's whole, or
    // as it was and the seller told why; on a shared database the database's rows are the
    // same before and after, and the seller reads that they are not in the archive.
    void restore()
    {
        QFETCH(int, how);
        QFETCH(TestSupport::Backend, backend);
        const Restore h = Restore(how);
        const bool shared = backend == TestSupport::Backend::MySQL;
        APP_REQUIRE_BACKEND(backend);
        Database::setDefaultResponseTimeout(2);
        auto restoreTimeout = qScopeGuard([] { Database::setDefaultResponseTimeout(15); });
        DialogAnswers answers;
        QTemporaryDir backups;
        Store store(backend);
        QVERIFY2(store.data->error().isEmpty(), qPrintable(store.data->error()));
        const QString dataDir = QDir::cleanPath(store.data->dataDir());
        const auto removeSiblings = qScopeGuard([dataDir] {
            for (const char *suffix : { "_bk", "_bk_bk", "_old" })
                QDir(dataDir + QLatin1String(suffix)).removeRecursively();
        });
        const QString archive = backups.filePath(QStringLiteral("Zerire3.backup"));
        TestSupport::StoredState archived;
        QVERIFY(store.open([&](Store &s) {
            writeFile(dataDir + QStringLiteral("/adimages/gross.jpg"), noise());
            QVERIFY(s.db()->checkpoint());
            archived = s.now();
            FolderCompressor packer { QString(), QString() };
            QVERIFY(packer.compressFolder(dataDir, archive));
            // Changes after the backup, which the restore takes back where they are in it.
            QVERIFY(s.db()->executeSQL("UPDATE articles SET Title='Später' WHERE id=1"));
            QVERIFY(s.db()->executeSQL("DELETE FROM articles WHERE id=300"));
            QVERIFY(QFile::remove(dataDir + QStringLiteral("/adimages/bild1.jpg")));
            writeFile(dataDir + QStringLiteral("/adimages/neu.jpg"), Matrix::smallJpeg(99));
        }));
        QVERIFY(!QTest::currentTestFailed());
        if (h == Restore::Cut)
            QVERIFY(QFile(archive).resize(QFileInfo(archive).size() - 5));

        std::unique_ptr<TestSupport::OtherWorkstation> other;
        if (h == Restore::Locked) {
            other = std::make_unique<TestSupport::OtherWorkstation>(
                *store.data, QStringLiteral("SELECT id FROM articles"));
            QVERIFY2(other->error().isEmpty(), qPrintable(other->error()));
        }
        std::unique_ptr<TestSupport::HeldJobs> held;
        if (h == Restore::Closed)
            held = std::make_unique<TestSupport::HeldJobs>();
        {
            // Writes beyond 300 KB fail: the large picture cannot be written whole.
            std::unique_ptr<TestSupport::FileSizeLimit> full;
            if (h == Restore::FileRefused)
                full = std::make_unique<TestSupport::FileSizeLimit>(300 * 1024);
            answers.pushFileName(archive);
            store.trigger("actionDaten_wiederherstellen");
            if (held) {
                QVERIFY(held->entered());
                // Should the window ask first, the seller closes all the same.
                answers.pushQuestion(true);
                TestSupport::HeldJobs *going = held.get();
                QTimer letGo;
                letGo.setSingleShot(true);
                QObject::connect(&letGo, &QTimer::timeout, [going] { going->letGo(); });
                letGo.start(100);
                store.fixture->close();
                held.reset();
            } else {
                QTRY_VERIFY_WITH_TIMEOUT(!answers.messages().isEmpty(), 30000);
            }
        }
        store.fixture->close();
        if (other)
            other->letGo();

        // What the seller read: restored and to be started again, or why not; nothing when
        // he closed the window himself.
        const QString told = answers.shownTexts().join('\n');
        if (restores(h)) {
            QVERIFY2(told.startsWith(QStringLiteral("Die Daten wurden temporär wieder "
                                                    "hergestellt, bitte starte das Programm neu")),
                     qPrintable(told));
            QCOMPARE(told.contains(FolderCompressor::sharedDatabaseRestoreNotice()), shared);
            QCOMPARE(answers.messages().size(), 1);
        } else if (h == Restore::Closed) {
            QVERIFY2(Matrix::complaints(answers).isEmpty(), qPrintable(told));
        } else {
            QVERIFY2(told.startsWith(QStringLiteral("Die Wiederherstellung ist fehlgeschlagen")),
                     qPrintable(told));
            QCOMPARE(answers.messages().size(), 1);
        }
        QCOMPARE(MainWindow::pendingRestore(),
                 restores(h) ? dataDir + QStringLiteral("_bk") : QString());
        // Nothing half unpacked stays beside the data folder.
        QCOMPARE(QFileInfo::exists(dataDir + QStringLiteral("_bk")), restores(h));

        // The next start asks and takes the unpacked folder, or has nothing to ask.
        answers.clear();
        if (restores(h))
            answers.pushQuestion(true);
        store.fixture = std::make_unique<TestSupport::MainWindowFixture>(*store.data);
        QVERIFY(store.window());
        QCOMPARE(answers.questions().size(), restores(h) ? 1 : 0);
        store.fixture->close();
        store.data->reopen();
        const TestSupport::StoredState after = store.now();
        QVERIFY2(after.error().isEmpty(), qPrintable(after.error()));
        const QStringList later { "articles:1", "articles:300" };
        const QStringList laterFiles { "files:adimages/bild1.jpg", "files:adimages/neu.jpg" };
        if (!restores(h)) {
            QVERIFY2(changedRows(store.before, after).isEmpty(),
                     qPrintable(TestSupport::StoredState::describe(store.before, after)));
        } else if (shared) {
            // The files are the archive's, the shared database's rows stay as they were.
            QCOMPARE(changedRows(archived, after), later);
            QCOMPARE(changedRows(store.before, after), laterFiles);
        } else {
            QVERIFY2(changedRows(archived, after).isEmpty(),
                     qPrintable(TestSupport::StoredState::describe(archived, after)));
        }
        QCOMPARE(QFileInfo::exists(dataDir + QStringLiteral("_old")), restores(h));
    }
};

APP_TEST_MAIN(TestCommandMatrixRestore)
#include "test_commandmatrix_restore.moc"
