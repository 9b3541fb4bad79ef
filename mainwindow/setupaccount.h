#pragma once

#include <QDialog>
#include <QString>
#include <QStringList>
#include <memory>

class Database;
namespace Ui {
class SetupAccount;
}

// Connects a marketplace account: opens the marketplace's sign-in page in the browser,
// fetches the account's token once the user signed in there, reads the user record and
// stores everything in the account's row of `accounts` (a new row, or the row of the
// account whose token is renewed). A new account is then signed up for the newsletter.
class SetupAccount : public QDialog
{
    Q_OBJECT

public:
    // An empty `accountId` adds an account; otherwise that account's token is renewed.
    SetupAccount(QWidget *parent, QString accountId, QString accountName, int acceptProtect);
    ~SetupAccount() override;

    // The environment variables of the developer keys and sign-in name that are not set
    // (sandbox or production; the redirect name only when signing in).
    static QStringList missingConfiguration(bool sandbox, bool signIn);

private slots:
    void on_authButton_clicked();
    void on_ebayName_textChanged(const QString &arg1);
    void on_fetchButton_clicked();
    void on_sandBox_toggled(bool checked);
    void on_ProtectBox_toggled(bool checked);
    void on_label_6_linkActivated(const QString &link);

private:
    // False (after telling the user what is missing) when calls can't be made.
    bool checkConfiguration(bool signIn);
    void updateEnabled();
    // Writes the row; false after an error message.
    // `apiresult` is stored only when `userRead` (GetUser and GetUserPreferences succeeded).
    bool storeAccount(const QString &token, const QString &expiry, const QString &apiresult,
                      bool userRead);
    void signUpForNewsletter(const QString &apiresult);

    std::unique_ptr<Database> db;
    QString accountId;
    std::unique_ptr<Ui::SetupAccount> m_ui;
    QString secretId;
};
