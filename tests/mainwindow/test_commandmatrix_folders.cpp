// The command matrix, folder commands: on a store of 300 articles each folder command keeps
// all or nothing under a refused row, a lost commit answer and another workstation's lock,
// and says which.
#include "tests/mainwindow/commandmatrix.h"
#include "tests/support/testmain.h"

using Matrix::Command;
using Matrix::Store;

namespace {

QByteArray folderPayload(qint32 id)
{
    QByteArray bytes;
    QDataStream stream(&bytes, QIODevice::WriteOnly);
    stream.setByteOrder(QDataStream::BigEndian);
    stream << id;
    return bytes;
}

const QString kFolders = QStringLiteral("SELECT id FROM folders");

const QList<Command> kCommands {
    { "Neuer Ordner",
      [](Store &s, DialogAnswers &) {
          QVERIFY(s.fixture->showFolder(-10));
          TestSupport::answerFolderEdit("Schuppen");
          s.trigger("actionNeuer_Ordner");
      },
      { "folders.<added>" },
      [](Database *db) {
          return Matrix::expectCount(
              db, "SELECT id FROM folders WHERE foldername='Schuppen' AND folderparentid=-10", 1);
      },
      "folders INSERT", kFolders },
    { "Umbenennen",
      [](Store &s, DialogAnswers &) {
          QVERIFY(s.fixture->showFolder(Matrix::kKeller));
          TestSupport::answerFolderEdit("Dachboden");
          s.trigger("actionUmbenennen");
      },
      { "folders.foldername" },
      [](Database *db) {
          return Matrix::expectCount(db, "SELECT id FROM folders WHERE foldername='Dachboden'",
                                     1);
      },
      "folders UPDATE", kFolders },
    { "Ordner löschen",
      [](Store &s, DialogAnswers &answers) {
          QVERIFY(s.fixture->showFolder(Matrix::kKeller));
          answers.pushQuestion(true);
          s.trigger("actionL_schen_2");
      },
      { "folders.<removed>", "articles.Folder", "articles.FolderOld" },
      [](Database *db) {
          return Matrix::expectCount(db, "SELECT id FROM folders WHERE id=1", 0)
              + Matrix::expectCount(db, "SELECT id FROM articles WHERE Folder=1", 0);
      },
      "articles UPDATE OLD.id = 120", "SELECT id FROM articles WHERE Folder=1" },
    { "Ordner ziehen",
      [](Store &s, DialogAnswers &) {
          Matrix::drop(s, FolderModel::FolderMimeType, folderPayload(Matrix::kGarten),
                       Matrix::kKeller);
      },
      { "folders.folderparentid" },
      [](Database *db) {
          return Matrix::expectCount(db, "SELECT id FROM folders WHERE id=2 AND folderparentid=1",
                                     1);
      },
      "folders UPDATE", kFolders },
};

} // namespace

class TestCommandMatrixFolders : public QObject
{
    Q_OBJECT

private slots:
    // The commands of the catalog this program runs.
    void coversItsCommands()
    {
        Matrix::checkCovers("folders", { "actionNeuer_Ordner",
      "actionUmbenennen",
      "actionL_schen_2" });
    }
    void run_data() { Matrix::addRows(kCommands); }
    void run()
    {
        Matrix::runRow(kCommands);
    }
};

APP_TEST_MAIN(TestCommandMatrixFolders)
#include "test_commandmatrix_folders.moc"
