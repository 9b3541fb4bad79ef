// The command matrix, the CSV import started from the window: on a store of 300 articles it
// keeps the rows written before a refused row, another workstation's lock, "Abbrechen" or the
// window closed, and what the seller reads at the end names exactly what is stored. The
// import of the predecessor's export likewise stores each article whole with its picture or
// not at all, and a second run of the same file adds nothing twice.
#include "core/backgroundworker.h"
#include "core/settings.h"
#include "import/csvimport.h"
#include "import/foldercompressor.h"
#include "core/newsitem.h"
#include "mainwindow/outcomepanel.h"
#include "tests/mainwindow/commandmatrix.h"
#include "tests/support/csvmapping.h"
#include "tests/support/testmain.h"
#include "views/newslistitemmodel.h"

#include <QComboBox>
#include <QDialogButtonBox>
#include <QDirIterator>
#include <QLabel>
#include <QPointer>
#include <QRegularExpression>
#include <QSemaphore>
#include <QTemporaryDir>

using Matrix::Fault;
using Matrix::Store;

using TestSupport::choose;
using TestSupport::mappingBoxes;

namespace {

// The file: 40 rows, text lines 2-41. An odd row updates "Artikel n" of "Keller" (its price
// to 11), an even one adds "Neu n".
constexpr int kRows = 40;

bool updates(int row)
{
    return row % 2 == 1;
}

QByteArray csvFile()
{
    QByteArray text = "Title;StartPrice\n";
    for (int row = 1; row <= kRows; ++row) {
        text += (updates(row) ? "Artikel " : "Neu ") + QByteArray::number(row) + ";11\n";
    }
    return text;
}

// The text line of a row of the file.
int lineOf(int row)
{
    return row + 1;
}

// Whether `row` of the file is stored.
bool stored(Database *db, int row)
{
    if (updates(row))
        return db->selectCount(QStringLiteral("SELECT id FROM articles WHERE id=%1 AND "
                                              "StartPrice=11")
                                   .arg(row))
                   .value()
            == 1;
    return db->selectCount(
                 QStringLiteral("SELECT id FROM articles WHERE Title='Neu %1' AND Folder=%2")
                     .arg(row)
                     .arg(Matrix::kKeller))
               .value()
        == 1;
}

// The predecessor's export: kExported articles "Alt n", each with one picture the fake
// server gives as "/n.jpg".
constexpr int kExported = 4;

QString exportFile(const TestSupport::FakeHttpServer &server)
{
    QString xml = QStringLiteral("<export><ItemsTotal>%1</ItemsTotal><Items>").arg(kExported);
    for (int n = 1; n <= kExported; ++n)
        xml += QStringLiteral("<Item><Title><![CDATA[Alt %1]]></Title><image0><![CDATA[%2]]>"
                              "</image0></Item>")
                   .arg(n)
                   .arg(server.url(QStringLiteral("/%1.jpg").arg(n)).toString());
    return xml + QStringLiteral("</Items></export>");
}

// The articles of the export stored, by title; `broken` names those stored without their
// picture (its row or its file) and those stored more than once.
QStringList exportedStored(Database *db, const QString &adImages, QStringList *broken)
{
    QStringList titles;
    const auto rows = db->select(QStringLiteral(
        "SELECT a.Title, (SELECT COUNT(*) FROM articles_images p WHERE p.article_id=a.id) AS n, "
        "(SELECT MIN(p.image) FROM articles_images p WHERE p.article_id=a.id) AS image "
        "FROM articles a WHERE a.Title LIKE 'Alt %' ORDER BY a.Title"));
    if (!rows.ok()) {
        *broken << QStringLiteral("not readable");
        return titles;
    }
    for (const ArticleRow &row : rows.value()) {
        const QString title = row.value("Title").toString();
        const QString image = row.value("image").toString();
        const QString file = QFileInfo(image).isAbsolute() ? image : adImages + image;
        if (titles.contains(title))
            *broken << title + QStringLiteral(" twice");
        else if (row.value("n").toInt() != 1 || !QFileInfo(file).isFile())
            *broken << title + QStringLiteral(" without its picture");
        titles << title;
    }
    return titles;
}

// The files of the picture folder and of the thumbnails' folder beside it, hidden ones too,
// each as "<folder>/<name>".
QStringList pictureFiles(const QString &dataDir)
{
    QStringList files;
    for (const char *folder : { "adimages", "adimages_thumb" })
        for (const QString &name :
             QDir(dataDir + QLatin1String(folder)).entryList(QDir::Files | QDir::Hidden | QDir::System))
            files << QLatin1String(folder) + QLatin1Char('/') + name;
    return files;
}

// The files added to the picture folders since `before` that no stored row names (a picture
// row its picture, an article its thumbnail).
QStringList orphans(Database *db, const QString &dataDir, const QStringList &before)
{
    const auto names = [db](const QString &sql, const QString &column) {
        QSet<QString> found;
        const auto rows = db->select(sql);
        if (!rows.ok())
            found << QStringLiteral("not readable");
        else
            for (const ArticleRow &row : rows.value())
                found << QFileInfo(row.value(column).toString()).fileName();
        return found;
    };
    const QSet<QString> images
        = names(QStringLiteral("SELECT image FROM articles_images"), QStringLiteral("image"));
    const QSet<QString> thumbs
        = names(QStringLiteral("SELECT ImageThumb FROM articles"), QStringLiteral("ImageThumb"));
    QStringList left;
    for (const QString &file : pictureFiles(dataDir)) {
        const QString name = QFileInfo(file).fileName();
        if (!before.contains(file)
            && !(file.startsWith(QLatin1String("adimages/")) ? images : thumbs).contains(name))
            left << file;
    }
    return left;
}

// How many articles of the export the seller was told are stored; -1 when the text does
// not say.
int toldImported(const QString &text)
{
    static const QRegularExpression stopped(
        QStringLiteral("abgebrochen: (\\d+) Artikel (?:wurde|wurden) importiert"));
    static const QRegularExpression lost(
        QStringLiteral("(\\d+) von (\\d+) Artikeln? (?:konnte|konnten) nicht gespeichert"));
    if (const auto m = stopped.match(text); m.hasMatch())
        return m.captured(1).toInt();
    if (const auto m = lost.match(text); m.hasMatch())
        return m.captured(2).toInt() - m.captured(1).toInt();
    if (text.startsWith(QLatin1String("Die Daten wurden importiert")))
        return kExported;
    if (text.startsWith(QLatin1String("Es wurde nichts importiert")))
        return 0;
    return -1;
}

// The counts the seller was told: created, updated; -1 when the summary is missing.
QPair<int, int> toldCounts(const QString &text)
{
    static const QRegularExpression created(
        QStringLiteral("Es (?:wurde|wurden) (\\d+) Artikel angelegt"));
    static const QRegularExpression updated(QStringLiteral("(\\d+) Artikel aktualisiert"));
    const auto c = created.match(text);
    const auto u = updated.match(text);
    if (!c.hasMatch() || !u.hasMatch())
        return { -1, -1 };
    return { c.captured(1).toInt(), u.captured(1).toInt() };
}

} // namespace

class TestCommandMatrixImports : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_files;

private slots:
    void coversItsCommands()
    {
        Matrix::checkCovers("imports", { "actionImportieren", "actionDaten_sichern",
                                         "actionRovive_2_Daten_importieren" });
    }

    void backup_data()
    {
        Matrix::addFaultRows({ Fault::None, Fault::Locked });
    }

    // "Daten sichern": stores nothing, makes one whole archive though another workstation
    // writes meanwhile, and on a shared database says before and after that the shared
    // database is not in it.
    void backup()
    {
        QFETCH(int, fault);
        QFETCH(TestSupport::Backend, backend);
        APP_REQUIRE_BACKEND(backend);
        Database::setDefaultResponseTimeout(2);
        auto restoreTimeout = qScopeGuard([] { Database::setDefaultResponseTimeout(15); });
        DialogAnswers answers;
        Store store(backend);
        QVERIFY2(store.data->error().isEmpty(), qPrintable(store.data->error()));
        QTemporaryDir backups;
        QVERIFY(store.open([&backups](Store &s) {
            QVERIFY(s.db()->setOption(QStringLiteral("backuppath"), backups.path()));
        }));
        store.before = store.now();
        std::unique_ptr<TestSupport::OtherWorkstation> other;
        if (Fault(fault) == Fault::Locked) {
            other = std::make_unique<TestSupport::OtherWorkstation>(
                *store.data, QStringLiteral("SELECT id FROM articles"));
            QVERIFY2(other->error().isEmpty(), qPrintable(other->error()));
        }
        store.trigger("actionDaten_sichern");
        // The outcome is shown beneath the status panel once the job has ended.
        OutcomePanel *panel = nullptr;
        QTRY_VERIFY_WITH_TIMEOUT(
            (panel = store.window()->findChild<OutcomePanel *>()) && panel->isVisible(), 60000);
        QString shown;
        for (QLabel *label : panel->findChildren<QLabel *>())
            shown += label->text();
        if (other)
            other->letGo();

        const TestSupport::StoredState after = store.now();
        QVERIFY2(after.error().isEmpty(), qPrintable(after.error()));
        // Nothing but its line in the activity list.
        for (const QString &row : TestSupport::StoredState::changedRows(store.before, after))
            QVERIFY2(row.startsWith(QLatin1String("itemshistory:")),
                     qPrintable(TestSupport::StoredState::describe(store.before, after)));
        QStringList archives;
        QDirIterator found(backups.path(), { QStringLiteral("*.backup") }, QDir::Files,
                           QDirIterator::Subdirectories);
        while (found.hasNext())
            archives << found.next();
        QCOMPARE(archives.size(), 1);
        QVERIFY(QFileInfo(archives.first()).size() > 0);
        QVERIFY2(shown.contains(QFileInfo(archives.first()).fileName()), qPrintable(shown));
        // On a shared database the seller reads, when it starts and when it is made, that
        // the shared database is not in it (the notice names "this workstation": no
        // complaint).
        const QString notice = FolderCompressor::sharedDatabaseNotice();
        QStringList complaints;
        for (const QString &text : Matrix::complaints(answers)) {
            if (!text.contains(notice))
                complaints << text;
        }
        QVERIFY2(complaints.isEmpty(), qPrintable(complaints.join('\n')));
        const bool shared = backend == TestSupport::Backend::MySQL;
        QCOMPARE(answers.shownTexts().join('\n').contains(notice), shared);
        QCOMPARE(shown.contains(notice), shared);
        store.fixture->close();
    }

    void csvImport_data()
    {
        QTest::addColumn<int>("fault");
        QTest::addColumn<TestSupport::Backend>("backend");
        QTest::addColumn<bool>("endOnError"); // the seller's answer to "soll ich abbrechen?"
        for (const auto backend : { TestSupport::Backend::SQLite, TestSupport::Backend::MySQL }) {
            const QString on = QStringLiteral(" (%1)").arg(Matrix::backendName(backend));
            const auto row = [&](const QString &name, Fault fault, bool endOnError) {
                QTest::newRow(qPrintable(name + on)) << int(fault) << backend << endOnError;
            };
            row(QStringLiteral("no fault"), Fault::None, true);
            row(QStringLiteral("refused half-way, ended there"), Fault::Refused, true);
            row(QStringLiteral("refused half-way, gone on"), Fault::Refused, false);
            row(QStringLiteral("held by another workstation, ended there"), Fault::Locked, true);
            row(QStringLiteral("cancelled half-way"), Fault::Cancelled, true);
            row(QStringLiteral("window closed half-way"), Fault::Closed, true);
        }
    }

    // "Importieren" from the window under each fault: the rows before the stop are stored,
    // none after it, nothing else changes, and the summary counts exactly what is stored.
    void csvImport()
    {
        QFETCH(int, fault);
        QFETCH(TestSupport::Backend, backend);
        QFETCH(bool, endOnError);
        const Fault f = Fault(fault);
        APP_REQUIRE_BACKEND(backend);
        Database::setDefaultResponseTimeout(2);
        auto restoreTimeout = qScopeGuard([] { Database::setDefaultResponseTimeout(15); });
        // No choices remembered from an earlier row for this file.
        Settings::app()->clear();
        DialogAnswers answers;
        Store store(backend);
        QVERIFY2(store.data->error().isEmpty(), qPrintable(store.data->error()));
        // The account the articles name; the import gives it to the rows it adds.
        QVERIFY(store.open([](Store &s) {
            QVERIFY(s.db()->insertSqlClean({ { "accountname", "Konto" }, { "token", "T" } },
                                           "accounts")
                    == 1);
        }));
        QVERIFY(store.selectAll(Matrix::kKeller, Matrix::kInKeller));
        store.before = store.now();
        const QString csv = m_files.filePath(QStringLiteral("import.csv"));
        {
            QFile file(csv);
            QVERIFY(file.open(QIODevice::WriteOnly) && file.write(csvFile()) > 0);
        }
        // The row refused, or held by the other workstation.
        const int stopRow = 21;
        if (f == Fault::Refused)
            QVERIFY(TestSupport::refuseRows(store.db(), "articles", "UPDATE",
                                            QStringLiteral("Abgelehnt"),
                                            QStringLiteral("OLD.id = %1").arg(stopRow)));
        std::unique_ptr<TestSupport::OtherWorkstation> other;
        if (f == Fault::Locked) {
            other = std::make_unique<TestSupport::OtherWorkstation>(
                *store.data,
                QStringLiteral("SELECT id FROM articles WHERE id=%1").arg(stopRow));
            QVERIFY2(other->error().isEmpty(), qPrintable(other->error()));
        }
        // "Abbrechen" or closing the window while this row is in hand.
        QPointer<MainWindow> window = store.window();
        QSemaphore go;
        CsvImport::setRowHookForTesting([&](int line) {
            if (line != lineOf(stopRow) || (f != Fault::Cancelled && f != Fault::Closed))
                return;
            QMetaObject::invokeMethod(
                window,
                [&] {
                    if (f == Fault::Cancelled) {
                        if (auto *dialog = window->findChild<CsvImport *>())
                            dialog->findChild<QDialogButtonBox *>("buttonBox")
                                ->button(QDialogButtonBox::Cancel)
                                ->click();
                    } else {
                        // Should the window ask first, the seller closes all the same.
                        answers.pushQuestion(true);
                        window->close();
                    }
                    go.release();
                },
                Qt::QueuedConnection);
            go.tryAcquire(1, 20000);
        });
        auto unhook = qScopeGuard([] { CsvImport::setRowHookForTesting({}); });

        // The seller opens the file, maps its columns and gives OK once.
        // A dialog that stays open after its run (to try again) is closed.
        bool started = false;
        bool ended = false;
        QTimer seller;
        QObject::connect(&seller, &QTimer::timeout, [&] {
            auto *dialog = qobject_cast<CsvImport *>(QApplication::activeModalWidget());
            if (!dialog || !dialog->isEnabled())
                return;
            if (started) {
                if (ended)
                    dialog->reject();
                return;
            }
            started = true;
            QObject::connect(dialog, &CsvImport::runEnded, [&ended] { ended = true; });
            answers.pushQuestion(false); // no automatic assignment
            dialog->onOpenFile(csv);
            dialog->findChild<QComboBox *>("ImportModus")->setCurrentIndex(2);
            choose(dialog->findChild<QComboBox *>("UpdateField"), "Title");
            choose(dialog->findChild<QComboBox *>("AccountImport"), "1");
            const auto boxes = mappingBoxes(dialog);
            QVERIFY(boxes.size() == 2);
            choose(boxes.at(0), "Title");
            choose(boxes.at(1), "StartPrice");
            // The question after a refused row.
            answers.pushQuestion(endOnError);
            dialog->findChild<QDialogButtonBox *>("buttonBox")
                ->button(QDialogButtonBox::Ok)
                ->click();
        });
        seller.start(20);
        store.trigger("actionImportieren");
        seller.stop();
        QVERIFY(started);
        if (other)
            other->letGo();
        // The window closed: the program went on to its end.
        if (f == Fault::Closed)
            QTRY_VERIFY_WITH_TIMEOUT(!window || !window->isVisible(), 20000);

        const TestSupport::StoredState after = store.now();
        QVERIFY2(after.error().isEmpty(), qPrintable(after.error()));
        QStringList foreign;
        const QStringList allowed { "articles.<added>", "articles.StartPrice",
                                    "articles.CurrentPrice", "itemshistory.<added>",
                                    "clienttoserver.<added>", "options.<added>",
                                    "options.optionvalue" };
        for (const QString &cell : TestSupport::StoredState::changedCells(store.before, after)) {
            if (!allowed.contains(cell))
                foreign << cell;
        }
        QVERIFY2(foreign.isEmpty(),
                 qPrintable(foreign.join(' ') + '\n'
                            + TestSupport::StoredState::describe(store.before, after)));
        // Of the options only the folder the file was taken from.
        for (const QString &row : TestSupport::StoredState::changedRows(store.before, after))
            QVERIFY2(!row.startsWith(QLatin1String("options:"))
                         || row == QLatin1String("options:lastImportFolder"),
                     qPrintable(row));

        // Which rows are stored: every row before the stop (but the one refused), none after.
        int created = 0, updated = 0, lastStored = 0;
        QStringList gaps;
        for (int row = 1; row <= kRows; ++row) {
            if (stored(store.db(), row)) {
                (updates(row) ? updated : created) += 1;
                lastStored = row;
            }
        }
        const QString told = answers.lastMessageText();
        const QPair<int, int> counts = toldCounts(told);
        QVERIFY2(counts.first >= 0, qPrintable("told: " + answers.shownTexts().join('\n')));
        QCOMPARE(counts.first, created);
        QCOMPARE(counts.second, updated);
        for (int row = 1; row < lastStored; ++row) {
            if (row != stopRow && !stored(store.db(), row))
                gaps << QString::number(row);
        }
        QVERIFY2(gaps.isEmpty(), qPrintable("rows left out before the last stored: "
                                            + gaps.join(',')));
        const QStringList complaints = Matrix::complaints(answers);
        switch (f) {
        case Fault::None:
            QCOMPARE(lastStored, kRows);
            QCOMPARE(created + updated, kRows);
            QVERIFY2(complaints.isEmpty(), qPrintable(complaints.join('\n')));
            break;
        case Fault::Refused:
        case Fault::Locked: {
            // The seller was asked at the row stopped at (held: wherever the other
            // workstation's lock was met first); that row is not stored.
            static const QRegularExpression asked(QStringLiteral("in der Zeile (\\d+) "));
            const auto match = answers.questions().isEmpty()
                ? QRegularExpressionMatch()
                : asked.match(answers.questions().last().text);
            QVERIFY2(match.hasMatch(), qPrintable(answers.shownTexts().join('\n')));
            const int askedRow = match.captured(1).toInt() - 1;
            if (f == Fault::Refused)
                QCOMPARE(askedRow, stopRow);
            else
                QVERIFY2(answers.questions().last().text.contains(QLatin1String("Arbeitsplatz")),
                         qPrintable(answers.questions().last().text));
            QVERIFY(!stored(store.db(), askedRow));
            if (endOnError)
                QVERIFY2(lastStored < askedRow, qPrintable(told));
            else
                QCOMPARE(lastStored, kRows);
            break;
        }
        case Fault::Cancelled:
        case Fault::Closed: {
            // Told where it stopped and how many rows were not imported: every row from there.
            static const QRegularExpression at(QStringLiteral("in Zeile (\\d+) abgebrochen"));
            const auto match = at.match(told);
            QVERIFY2(match.hasMatch(), qPrintable(told));
            const int stopLine = match.captured(1).toInt();
            QCOMPARE(lastStored, stopLine - 2);
            const int left = kRows - (stopLine - 2);
            QVERIFY2(told.contains(left == 1 ? QStringLiteral("1 Zeile (Zeile %1)").arg(stopLine)
                                             : QStringLiteral("%1 Zeilen ab Zeile %2")
                                                   .arg(left)
                                                   .arg(stopLine)),
                     qPrintable(told));
            break;
        }
        case Fault::CommitLost:
            break;
        }
        if (window)
            store.fixture->close();
    }

    void predecessorImport_data()
    {
        Matrix::addFaultRows(
            { Fault::None, Fault::Refused, Fault::Locked, Fault::Cancelled, Fault::Closed });
    }

    // "Rovive 2 Daten importieren" under each fault: every article stored is whole with its
    // picture, the seller reads exactly how many are stored, nothing else changes, and the
    // same file imported again afterwards adds what is missing and nothing twice.
    void predecessorImport()
    {
        QFETCH(int, fault);
        QFETCH(TestSupport::Backend, backend);
        const Fault f = Fault(fault);
        APP_REQUIRE_BACKEND(backend);
        Database::setDefaultResponseTimeout(2);
        auto restoreTimeout = qScopeGuard([] { Database::setDefaultResponseTimeout(15); });
        DialogAnswers answers;
        Store store(backend);
        QVERIFY2(store.data->error().isEmpty(), qPrintable(store.data->error()));
        QVERIFY(store.open());
        const QString adImages = store.data->dataDir() + QStringLiteral("adimages/");
        // The pictures; the second is answered only once the seller has stopped the import.
        const QByteArray picture = Matrix::smallJpeg(3);
        QSemaphore asked;
        QSemaphore answer;
        const auto goOn = qScopeGuard([&answer] { answer.release(10); });
        for (int n = 1; n <= kExported; ++n) {
            const QString path = QStringLiteral("/%1.jpg").arg(n);
            if (n == 2 && (f == Fault::Cancelled || f == Fault::Closed))
                store.marketplace.setHandler(path, [&](const TestSupport::RecordedRequest &) {
                    asked.release();
                    answer.acquire();
                    return TestSupport::FakeReply::ok(picture, "image/jpeg");
                });
            else
                store.marketplace.setReply(path, TestSupport::FakeReply::ok(picture, "image/jpeg"));
        }
        const QString path = m_files.filePath(QStringLiteral("export.xml"));
        {
            QFile file(path);
            QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate)
                    && file.write(exportFile(store.marketplace).toUtf8()) > 0);
        }
        if (f == Fault::Refused)
            QVERIFY(TestSupport::refuseRows(store.db(), "articles", "INSERT",
                                            QStringLiteral("Abgelehnt"),
                                            QStringLiteral("NEW.Title = 'Alt 3'")));
        std::unique_ptr<TestSupport::OtherWorkstation> other;
        if (f == Fault::Locked) {
            other = std::make_unique<TestSupport::OtherWorkstation>(
                *store.data, QStringLiteral("SELECT id FROM articles"));
            QVERIFY2(other->error().isEmpty(), qPrintable(other->error()));
        }
        store.before = store.now();
        const QStringList filesBefore = pictureFiles(store.data->dataDir());
        // What the seller reads of the import's end: its lines in the window's activity list,
        // oldest first.
        const auto toldTexts = [&store] {
            QStringList texts;
            auto *view = store.window()->findChild<QAbstractItemView *>(QStringLiteral("newslist"));
            auto *model = view ? qobject_cast<NewsListItemModel *>(view->model()) : nullptr;
            if (!model)
                return QStringList { QStringLiteral("no activity list") };
            for (int row = model->rowCount() - 1; row >= 0; --row) {
                const NewsItem *item = model->GetItem(model->index(row, 0));
                if (item && item->title.startsWith(QLatin1String("Import")))
                    texts << item->textinfo;
            }
            return texts;
        };
        const auto run = [&] {
            answers.pushFileName(path);
            store.window()->findChild<QAction *>(QStringLiteral("actionRovive_2_Daten_importieren"))
                ->trigger();
        };

        store.marketplace.clearRequests();
        run();
        bool closed = false;
        if (f == Fault::Cancelled || f == Fault::Closed) {
            QVERIFY(asked.tryAcquire(1, 30000));
            if (f == Fault::Cancelled) {
                auto *cancel = store.window()->findChild<QPushButton *>(
                    QStringLiteral("JobCancelButton"));
                QVERIFY(cancel && cancel->isVisible());
                cancel->click();
            } else {
                answers.pushQuestion(true);
                QVERIFY(store.window()->close());
                closed = true;
            }
            answer.release();
        }
        QTRY_COMPARE_WITH_TIMEOUT(BackgroundWorker::instance()->pending(), 0, 60000);
        QTRY_VERIFY2_WITH_TIMEOUT(toldTexts().size() == 1,
                                  qPrintable("told: " + answers.shownTexts().join('\n')), 20000);
        if (other)
            other->letGo();

        const TestSupport::StoredState after = store.now();
        QVERIFY2(after.error().isEmpty(), qPrintable(after.error()));
        // The pictures' files beside their rows.
        const QStringList allowed { "articles.<added>", "articles_images.<added>",
                                    "files.<added>",
                                    "imported_items.<added>", "itemshistory.<added>",
                                    "clienttoserver.<added>" };
        QStringList foreign;
        for (const QString &cell : TestSupport::StoredState::changedCells(store.before, after)) {
            if (!allowed.contains(cell))
                foreign << cell;
        }
        QVERIFY2(foreign.isEmpty(),
                 qPrintable(foreign.join(' ') + '\n'
                            + TestSupport::StoredState::describe(store.before, after)));
        QStringList broken;
        const QStringList stored = exportedStored(store.db(), adImages, &broken);
        QVERIFY2(broken.isEmpty(), qPrintable(broken.join('\n')));
        // No picture is left that no stored article shows: neither one made for an article
        // that was not stored, nor the download a stored one was copied from.
        const QStringList left = orphans(store.db(), store.data->dataDir(), filesBefore);
        QVERIFY2(left.isEmpty(), qPrintable(left.join('\n')));
        const QString told = toldTexts().last();
        QCOMPARE(toldImported(told), stored.size());
        switch (f) {
        case Fault::None:
            QCOMPARE(stored.size(), kExported);
            QVERIFY2(Matrix::complaints(answers).isEmpty(),
                     qPrintable(Matrix::complaints(answers).join('\n')));
            break;
        case Fault::Refused:
            QVERIFY2(!stored.contains(QStringLiteral("Alt 3")), qPrintable(told));
            QCOMPARE(stored.size(), kExported - 1);
            break;
        case Fault::Locked:
            // Stopped at the first article the lock held, said so, with what a second run does.
            QVERIFY2(stored.size() < kExported, qPrintable(told));
            QVERIFY2(told.contains(QLatin1String("anderen Programm oder Arbeitsplatz gesperrt"))
                         && told.contains(QLatin1String("kommt nur hinzu, was noch fehlt")),
                     qPrintable(told));
            {
                // One wait for the lock: no article after the one it held was taken up.
                QStringList asked;
                for (const TestSupport::RecordedRequest &request : store.marketplace.requests())
                    if (request.path.endsWith(QLatin1String(".jpg")))
                        asked << request.path;
                QStringList expected;
                for (int n = 1; n <= stored.size() + 1; ++n)
                    expected << QStringLiteral("/%1.jpg").arg(n);
                QCOMPARE(asked, expected);
            }
            break;
        case Fault::Cancelled:
        case Fault::Closed:
            // The article in hand is stored whole, none after it.
            QCOMPARE(stored, (QStringList { "Alt 1", "Alt 2" }));
            QVERIFY2(told.contains(QLatin1String("abgebrochen")), qPrintable(told));
            break;
        case Fault::CommitLost:
            break;
        }

        // The same file once more, with nothing in the way: what is missing is added, nothing
        // twice.
        if (f == Fault::Refused)
            QVERIFY(store.db()->executeSQL(
                QStringLiteral("DROP TRIGGER IF EXISTS refuse_articles_insert")));
        if (closed) {
            store.fixture.reset();
            store.fixture = std::make_unique<TestSupport::MainWindowFixture>(*store.data);
            QVERIFY(store.window());
        }
        const int toldBefore = toldTexts().size();
        run();
        QTRY_COMPARE_WITH_TIMEOUT(BackgroundWorker::instance()->pending(), 0, 60000);
        QTRY_VERIFY_WITH_TIMEOUT(toldTexts().size() == toldBefore + 1, 20000);
        broken.clear();
        const QStringList again = exportedStored(store.db(), adImages, &broken);
        QVERIFY2(broken.isEmpty(), qPrintable(broken.join('\n')));
        QCOMPARE(again.size(), kExported);
        const QStringList leftAgain = orphans(store.db(), store.data->dataDir(), filesBefore);
        QVERIFY2(leftAgain.isEmpty(), qPrintable(leftAgain.join('\n')));
        store.fixture->close();
    }
};

APP_TEST_MAIN(TestCommandMatrixImports)
#include "test_commandmatrix_imports.moc"
