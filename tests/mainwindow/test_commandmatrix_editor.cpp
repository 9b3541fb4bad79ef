// The command matrix, the commands whose dialog writes for itself: "Neuer Artikel" (the article
// editor's save, with a picture from outside the picture folder) and "Planen" (the start-time
// dialog, which also asks the start service to withdraw old jobs). Each keeps all or nothing
// under a refused row, a lost commit answer and another workstation's lock, says which, and
// the start service never holds a job that no stored row names.
#include "core/clock.h"
#include "core/imagelimits.h"
#include "editor/addarticle.h"
#include "marketplace/api_ebay.h"
#include "tests/editor/editorfixture.h"
#include "tests/mainwindow/commandmatrix.h"
#include "tests/support/fakestartservice.h"
#include "tests/support/testmain.h"

#include <QDialogButtonBox>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QSemaphore>
#include <QSpinBox>
#include <QThreadPool>
#include <QTimeEdit>

using Matrix::Command;
using Matrix::Store;

namespace {

const QString kNewTitle = QStringLiteral("Matrix Neuheit");
// The start chosen in the dialog, on the day the clock is set to.
const QString kStart = QStringLiteral("2026-03-10 16:30:00");
// Articles 221-240 were planned before: moved to "Geplant" from "Keller", each with its job
// at the start service.
constexpr int kFirstPlanned = 221;
constexpr int kPlanned = 20;
constexpr int kDrafts = Matrix::kInKeller - kPlanned;

// The start service of the row running now (its answers live on in the server's handler).
std::unique_ptr<TestSupport::FakeStartService> g_service;

// The seller's own picture folder, outside the program's picture folder.
QString sellerFolder(Store &s)
{
    return s.data->dataDir() + QStringLiteral("Fotos");
}

QString outsidePicture(Store &s)
{
    return sellerFolder(s) + QStringLiteral("/neu.jpg");
}

// Fills what the editor's checks ask for, with `title`, and chooses `picture`.
void fillEditor(AddArticle *editor, const QString &title, const QString &picture)
{
    EditorFixture::apply(editor,
                         { "Title=" + title, "PlainHtmlCode=<p>Neu</p>", "Country=DE",
                           "PostalCode=04109", "StartPrice=5" });
    editor->findChild<QPushButton *>(QStringLiteral("PrimaryCategory"))
        ->setProperty("CategoryID", "9394");
    QVERIFY(QMetaObject::invokeMethod(editor, "handleFileSaveAsBeforeCloseSelected",
                                      Q_ARG(QStringList, QStringList { picture })));
}

// "Neuer Artikel" in "Keller": the seller types a title, chooses a picture from his own folder
// and saves once; an editor still open after its save (the save failed and said why) he
// closes.
void newArticle(Store &s, DialogAnswers &answers)
{
    const QString picture = outsidePicture(s);
    QVERIFY(s.fixture->showFolder(Matrix::kKeller));
    auto saved = std::make_shared<int>(0);
    // From OK until the editor says how the save went: another workstation's lock is met with
    // the window's short wait, not the connection's long one.
    auto waited = std::make_shared<QElapsedTimer>();
    auto settledAfter = std::make_shared<qint64>(-1);
    QTimer seller;
    QObject::connect(&seller, &QTimer::timeout, [saved, picture, waited, settledAfter, &seller] {
        auto *editor = qobject_cast<AddArticle *>(QApplication::activeModalWidget());
        if (!editor || !editor->isVisible())
            return;
        if (*saved == 0) {
            fillEditor(editor, kNewTitle, picture);
            ++*saved;
            // The save waits for the copy of the picture, the window going on.
            waited->start();
            editor->accept();
            return;
        }
        if (!EditorFixture::saveSettled(editor))
            return;
        *settledAfter = waited->elapsed();
        seller.stop();
        editor->reject();
    });
    seller.start(20);
    s.trigger("actionNeuer_Artikel");
    seller.stop();
    QVERIFY2(*saved == 1, qPrintable(answers.shownTexts().join('\n')));
    // Saved at once (the editor closed), or told within a few seconds.
    QVERIFY2(*settledAfter < 8000, qPrintable(QString::number(*settledAfter)));
}

QString newArticleWhole(Database *db)
{
    const QString missing
        = Matrix::expectCount(
              db, "SELECT id FROM articles WHERE Folder=1 AND Title='" + kNewTitle + "'", 1)
        + Matrix::expectCount(db,
                              "SELECT i.id FROM articles_images i, articles a WHERE "
                              "a.id=i.article_id AND a.Title='"
                                  + kNewTitle + "'",
                              1);
    if (!missing.isEmpty())
        return missing;
    const auto image = db->selectOne("SELECT i.image FROM articles_images i, articles a WHERE "
                                     "a.id=i.article_id AND a.Title='"
                                     + kNewTitle + "'");
    if (!image.ok() || !QFile::exists(db->getCurrentAdImageDir() + image.value()))
        return QStringLiteral("the picture's file is not in the picture folder");
    return QString();
}

// Empty when the start service and the stored rows agree: every job it holds is named by its
// article's row, no job it withdrew is still named by a row, and it was asked to withdraw only
// what it held.
QString serviceAgrees(Store &s)
{
    const auto named
        = s.db()->select("SELECT id, Planned_Interval FROM articles WHERE Planned_Interval <> ''");
    if (!named.ok())
        return QStringLiteral("the rows could not be read");
    QSet<QString> names;
    for (const auto &row : *named)
        names.insert(row.value("Planned_Interval").toString());
    QStringList faults;
    for (const QString &job : g_service->jobs()) {
        if (!names.contains(job))
            faults << QStringLiteral("the service holds %1, no row names it").arg(job);
    }
    for (const QString &job : g_service->withdrawn()) {
        if (names.contains(job))
            faults << QStringLiteral("%1 was withdrawn, a row still names it").arg(job);
    }
    if (g_service->asked() != g_service->withdrawn())
        faults << QStringLiteral("asked to withdraw %1, withdrawn %2")
                      .arg(g_service->asked().join(','), g_service->withdrawn().join(','));
    return faults.join(QStringLiteral("; "));
}

// Selects the `count` articles of `folder`, gives "Planen", sets 16:30 without a gap and OK.
void plan(Store &s, DialogAnswers &answers, int folder, int count)
{
    QVERIFY(s.selectAll(folder, count));
    auto oks = std::make_shared<int>(0);
    QTimer seller;
    QObject::connect(&seller, &QTimer::timeout, [oks] {
        auto *dialog = qobject_cast<QDialog *>(QApplication::activeModalWidget());
        if (!dialog || !dialog->inherits("Planning") || !dialog->isVisible() || *oks > 0)
            return;
        QPushButton *ok = dialog->findChild<QDialogButtonBox *>(QStringLiteral("buttonBox"))
                              ->button(QDialogButtonBox::Ok);
        if (!ok->isEnabled())
            return;
        dialog->findChild<QTimeEdit *>(QStringLiteral("PlanningTime"))->setTime(QTime(16, 30));
        dialog->findChild<QSpinBox *>(QStringLiteral("IntervallBox"))->setValue(0);
        ++*oks;
        ok->click();
    });
    seller.start(20);
    s.trigger("actionPlanen");
    seller.stop();
    QVERIFY2(*oks == 1, qPrintable(answers.shownTexts().join('\n')));
    // The dialog has written and asked the service before it closed.
    const QString disagreement = serviceAgrees(s);
    QVERIFY2(disagreement.isEmpty(), qPrintable(disagreement));
    const auto planned
        = s.db()->selectCount("SELECT id FROM articles WHERE Planned='" + kStart + "'");
    QVERIFY(planned.ok());
    if (planned.value() == 0) {
        // Nothing planned, nothing withdrawn.
        QVERIFY2(g_service->asked().isEmpty(), qPrintable(g_service->asked().join(',')));
    } else {
        const int namingOldJobs = s.db()
                                      ->selectCount("SELECT id FROM articles WHERE Planned='"
                                                    + kStart + "' AND Planned_Interval <> ''")
                                      .value();
        const QString told = answers.shownTexts().join('\n');
        if (!told.contains(QLatin1String("nicht bekannt"))) {
            // Planned and told nothing else: every old job is withdrawn and its article waits
            // for the upload of its new start.
            QCOMPARE(namingOldJobs, 0);
        } else if (namingOldJobs > 0) {
            // Stored, but not known to be: the service starts them at the old time, and the
            // seller reads so and that planning them again mends it.
            QVERIFY2(told.contains(QLatin1String("bisherigen Termin"))
                         && told.contains(QLatin1String("noch einmal")),
                     qPrintable(told));
        }
    }
}

const QList<Command> kCommands {
    { "Neuer Artikel",
      newArticle,
      { "articles.<added>", "articles_images.<added>", "files.<added>" },
      newArticleWhole,
      // The picture's row refused: the article's row was written before it.
      "articles_images INSERT NEW.article_id > 300",
      // Every row and the gap after the last: a new row waits for them.
      "SELECT id FROM articles" },
    { "Planen (Entwürfe)",
      [](Store &s, DialogAnswers &answers) { plan(s, answers, Matrix::kKeller, kDrafts); },
      { "articles.Folder", "articles.FolderOld", "articles.Planned", "articles.Planned_Interval" },
      [](Database *db) {
          return Matrix::expectCount(db,
                                     "SELECT id FROM articles WHERE Folder=-3 AND FolderOld=1 AND "
                                     "Planned='"
                                         + kStart + "' AND id < " + QString::number(kFirstPlanned),
                                     kDrafts);
      },
      "articles UPDATE OLD.id = 120",
      "SELECT id FROM articles WHERE Folder=1",
      // A lock and a lost answer meet the same transaction as in the rows below.
      { Matrix::Fault::None, Matrix::Fault::Refused } },
    { "Planen (neu geplant)",
      [](Store &s, DialogAnswers &answers) { plan(s, answers, -3, kPlanned); },
      { "articles.Planned", "articles.Planned_Interval" },
      [](Database *db) {
          // What the service was asked and what the rows name after it: see plan().
          return Matrix::expectCount(
              db, "SELECT id FROM articles WHERE Folder=-3 AND Planned='" + kStart + "'", kPlanned);
      },
      "articles UPDATE OLD.id = 230",
      "SELECT id FROM articles WHERE Folder=-3" },
};

// What every row's store has besides the matrix's own: two accounts and the marketplace's
// reference data (for the editor), every article verified (for the planning), and articles
// 221-240 planned before with their jobs at the start service.
void more(Store &s)
{
    EditorFixture::serveReferenceData(s.marketplace);
    EditorFixture::cacheGermanSite(s.db());
    const int alpha = EditorFixture::addAccounts(s.db()).first;
    // The seller's picture, in the folder the editor's file dialog last opened, and the
    // shop's categories as the editor fetched them before: opening it stores neither again.
    QVERIFY(QDir().mkpath(sellerFolder(s)));
    QFile picture(outsidePicture(s));
    QVERIFY(picture.open(QIODevice::WriteOnly) && picture.write(Matrix::smallJpeg(99)) > 0);
    picture.close();
    QVERIFY(s.db()->setOption("lastMultiDir", sellerFolder(s)));
    Api_Ebay shop(QStringLiteral("TOKEN-A"));
    QVERIFY(!shop.getStore(QStringLiteral("77"), alpha, s.db()).isEmpty());
    g_service = std::make_unique<TestSupport::FakeStartService>(s.marketplace);
    QVERIFY(s.db()->executeSQL("UPDATE articles SET IsVerified=1"));
    for (int id = kFirstPlanned; id < kFirstPlanned + kPlanned; ++id) {
        const QString job = QStringLiteral("J%1").arg(id);
        QVERIFY(s.db()->executeSQL(QStringLiteral("UPDATE articles SET Folder=-3, FolderOld=1, "
                                                  "Planned='2026-03-12 09:00:00', "
                                                  "Planned_Interval='%1' WHERE id=%2")
                                       .arg(job)
                                       .arg(id)));
        g_service->hold(job);
    }
}

} // namespace

class TestCommandMatrixEditor : public QObject
{
    Q_OBJECT

private slots:
    void init()
    {
        // The planning takes starts at least ten minutes ahead: today 14:20, the start 16:30.
        Clock::setCurrentDateTimeForTesting(QDateTime(QDate(2026, 3, 10), QTime(14, 20)));
    }
    void cleanup()
    {
        Clock::setCurrentDateTimeForTesting(QDateTime());
        g_service.reset();
    }

    // The commands of the catalog this program runs.
    void coversItsCommands()
    {
        Matrix::checkCovers("editor", { "actionNeuer_Artikel", "actionPlanen" });
    }
    void run_data() { Matrix::addRows(kCommands); }
    void run() { Matrix::runRow(kCommands, more); }

    // The seller closes the editor while its save waits for the copy of his picture, and then
    // the program: nothing is stored and no copy is left in the picture folder, whether the
    // copy came back before the editor went or after.
    void closedWhileSaving_data()
    {
        QTest::addColumn<bool>("copyAfterEditor");
        QTest::newRow("copy back before the editor goes") << false;
        QTest::newRow("copy back after the editor went") << true;
    }
    void closedWhileSaving()
    {
        QFETCH(bool, copyAfterEditor);
        DialogAnswers answers;
        Store store(TestSupport::Backend::SQLite);
        QVERIFY2(store.data->error().isEmpty(), qPrintable(store.data->error()));
        QVERIFY(store.open(more));
        QVERIFY(store.fixture->showFolder(Matrix::kKeller));
        const QString picture = outsidePicture(store);

        // Every thread of the pool busy: the copy waits until they are let go.
        QThreadPool *pool = QThreadPool::globalInstance();
        QSemaphore busy;
        QSemaphore started;
        const int threads = pool->maxThreadCount();
        auto letGo = qScopeGuard([&] { busy.release(threads); });
        bool closed = false;
        QTimer seller;
        QObject::connect(&seller, &QTimer::timeout, [&] {
            auto *editor = qobject_cast<AddArticle *>(QApplication::activeModalWidget());
            if (!editor || !editor->isVisible() || closed)
                return;
            closed = true;
            // Whatever fails here, the seller closes the editor.
            auto close = qScopeGuard([editor] { editor->close(); });
            fillEditor(editor, kNewTitle, picture);
            QTRY_COMPARE(ImageLimits::pendingDecodes(), 0);
            if (copyAfterEditor) {
                for (int i = 0; i < threads; ++i)
                    pool->start([&] {
                        started.release();
                        busy.acquire();
                    });
                QVERIFY(started.tryAcquire(threads, 10000));
            }
            editor->accept();
            QVERIFY(!EditorFixture::saveSettled(editor));
            if (copyAfterEditor)
                return;
            // The copy is made while the save waits, and comes back to the editor the seller
            // has just closed.
            pool->waitForDone();
            close.dismiss();
            editor->close();
            QCoreApplication::processEvents();
        });
        seller.start(20);
        store.trigger("actionNeuer_Artikel");
        seller.stop();
        QVERIFY(closed);
        // The editor is gone before the copy comes back.
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QVERIFY(store.window()->findChildren<AddArticle *>().isEmpty());
        letGo.dismiss();
        busy.release(threads);
        pool->waitForDone();
        QCoreApplication::processEvents();
        store.fixture->close();
        QCoreApplication::processEvents();

        const TestSupport::StoredState after = store.now();
        QVERIFY2(after.error().isEmpty(), qPrintable(after.error()));
        QVERIFY2(TestSupport::StoredState::changedCells(store.before, after).isEmpty(),
                 qPrintable(TestSupport::StoredState::describe(store.before, after)));
        QVERIFY2(Matrix::complaints(answers).isEmpty(),
                 qPrintable(answers.shownTexts().join('\n')));
    }
};

APP_TEST_MAIN(TestCommandMatrixEditor)
#include "test_commandmatrix_editor.moc"
