// The command matrix, the commands that run as jobs of the background worker: on a store of
// 300 articles each keeps all or nothing under a refused row, a lost commit answer, another
// workstation's lock, "Abbrechen" and the window closed while it waits, and says which.
#include "tests/mainwindow/commandmatrix.h"
#include "tests/support/testmain.h"

#include <QFile>

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
};

APP_TEST_MAIN(TestCommandMatrixJobs)
#include "test_commandmatrix_jobs.moc"
