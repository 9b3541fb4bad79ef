#pragma once

#include <QDialog>
#include <QString>
#include <memory>

class Database;
class QTreeWidgetItem;
namespace Ui {
class Setup;
}

// The settings dialog: the marketplace accounts, the general options and the shared
// MySQL database. Options are read from and written to the database in use; the MySQL
// settings live in the data folder's "mysql.setup". Account changes and a transfer of
// local data take effect at once; everything else is stored on OK.
//   mainwindow/setup.cpp          construction, options, folder choosers, OK
//   mainwindow/setup_mysql.cpp    MySQL page: settings file, connection test, transfer
//   mainwindow/setup_accounts.cpp account page
class Setup : public QDialog
{
    Q_OBJECT

public:
    explicit Setup(QWidget *parent = nullptr);
    ~Setup() override;

private slots:
    void loadAccounts();
    void on_removeAccount_clicked();
    void on_AccountList_itemSelectionChanged();
    void on_addAccount_clicked();
    void on_refreshTokenForAccount_clicked();
    void on_AccountList_itemDoubleClicked(QTreeWidgetItem *item, int column);
    void accept() override;
    // Not while local data are being transferred.
    void reject() override;
    void on_DataPathButton_clicked();
    void on_BackupDataPathButton_clicked();
    void on_MySQLActive_stateChanged(int arg1);
    void on_MySQLTest_clicked();
    // The "..." beside the shared picture folder.
    void on_MySQLImagePathSelect_clicked();
    bool testMySQL(QString &errorReturn);
    void on_MySQLUploadLocalData_clicked();
    void on_pushButton_clicked();

private:
    // Shows the stored general options; false, with m_optionsLocked set, when they can't be
    // read: their fields are then locked and OK stores none of them.
    bool loadOptions();
    // Locks the fields of the general options, saying why in their tooltips: OK stores none.
    void lockOptions(const QString &why);
    // Tells once per dialog why something could not be read.
    void tellReadFailure(const QString &text);
    void loadMySqlSettings();
    // False after a message when "mysql.setup" could not be written.
    bool saveMySqlSettings();
    // Stores the option "datapath" in the database the program reads it from at start (the
    // default data folder's) when that is another than the one in use; false, with `error`
    // set, when it is not stored.
    bool storeDataPathForStart(const QString &path, QString *error);
    // Why the program would not open the data folder `folder` at its next start, as the start
    // tells it (no database in it, not the seller's own); empty when it would.
    static QString dataFolderRefusal(const QString &folder);
    void openAccountDialog(const QString &id, const QString &name, int acceptProtect);
    void endTransfer();

    QString selectedAccountId;
    std::unique_ptr<Ui::Setup> m_ui;
    std::unique_ptr<Database> db;
    bool m_transferring = false;
    // Why the general options are not stored on OK (not read when the dialog opened, or a
    // database that is only read); empty when they are.
    QString m_optionsLocked;
    bool m_readFailureTold = false;
};
