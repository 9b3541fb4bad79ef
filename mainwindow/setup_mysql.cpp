#include "mainwindow/setup.h"

#include "ui_setup.h"

#include "core/closeonexec.h"
#include "core/config.h"
#include "core/database.h"
#include "core/databaseerrors.h"
#include "core/desktopopen.h"
#include "core/dialogs.h"
#include "core/statics.h"
#include "mainwindow/mysqlsetup.h"
#include "mainwindow/mysqltransfer.h"

#include <QCoreApplication>
#include <QDir>
#include <QPushButton>
#include <QSqlDatabase>
#include <QSqlError>
#include <QUrl>

void Setup::loadMySqlSettings()
{
    const MySqlSetup setup = MySqlSetup::load(db->getCurrentDataDir());
    m_ui->MySQLDatabaseName->setText(setup.database);
    m_ui->MySQLHostName->setText(setup.hostname);
    m_ui->MySQLPassword->setText(setup.password);
    m_ui->MySQLPort->setValue(setup.port);
    m_ui->MySQLUsername->setText(setup.username);
    m_ui->MySQLSyncWorkstation->setChecked(setup.syncWorkstation);
    m_ui->MySQLActive->setChecked(setup.active);
    m_ui->MySQLImagePath->setText(setup.imagePath);
}

bool Setup::saveMySqlSettings()
{
    MySqlSetup setup;
    setup.hostname = m_ui->MySQLHostName->text();
    setup.port = m_ui->MySQLPort->value();
    setup.username = m_ui->MySQLUsername->text();
    setup.password = m_ui->MySQLPassword->text();
    setup.database = m_ui->MySQLDatabaseName->text();
    setup.active = m_ui->MySQLActive->isChecked();
    setup.syncWorkstation = m_ui->MySQLSyncWorkstation->isChecked();
    setup.imagePath = m_ui->MySQLImagePath->text();
    const bool saved = setup.save(db->getCurrentDataDir());
    // The password in it is only scrambled: the file is for the seller's eyes alone.
    Statics::setOwnerOnly(db->getCurrentDataDir() + QStringLiteral("mysql.setup"));
    if (!saved) {
        Statics::showMessage(
            this,
            tr("Die MySQL Einstellungen konnten nicht in \"%1\" gespeichert werden")
                .arg(db->getCurrentDataDir() + QStringLiteral("mysql.setup")),
            2);
        return false;
    }

    // On a shared database the property says whether this workstation's workers work or
    // leave it to the synchronising one; without it every workstation would synchronise.
    // On the local file there is no other workstation.
    qApp->setProperty("mysqlsyncworkstation",
                      db->isMySQL ? QVariant(setup.syncWorkstation) : QVariant());

    if (!db->isMySQL && setup.active)
        Statics::showMessage(this, tr("Starte neu, um die MySQL Datenbank zu nutzen"), 0);
    else if (db->isMySQL && !setup.active)
        Statics::showMessage(this, tr("Starte neu, um zurück auf die lokale Datenbank zu wechseln"),
                             0);
    return true;
}

void Setup::on_MySQLActive_stateChanged(int)
{
    const bool on = m_ui->MySQLActive->isChecked();
    for (QWidget *field :
         { static_cast<QWidget *>(m_ui->MySQLSyncWorkstation),
           static_cast<QWidget *>(m_ui->MySQLDatabaseName), static_cast<QWidget *>(m_ui->MySQLPort),
           static_cast<QWidget *>(m_ui->MySQLUsername), static_cast<QWidget *>(m_ui->MySQLPassword),
           static_cast<QWidget *>(m_ui->MySQLHostName), static_cast<QWidget *>(m_ui->MySQLTest),
           static_cast<QWidget *>(m_ui->MySQLImagePathSelect) })
        field->setEnabled(on);
    m_ui->MySQLUploadLocalData->setEnabled(on && db->isMySQL);
}

void Setup::on_MySQLImagePathSelect_clicked()
{
    // A folder every workstation reaches (a network drive, a synchronised folder); whether
    // it does can only be seen from the workstations themselves.
    const QString chosen = Dialogs::existingDirectory(
        this, tr("Zentralen Speicherort für Bilder wählen"), m_ui->MySQLImagePath->text());
    if (chosen.isEmpty())
        return;
    m_ui->MySQLImagePath->setText(QDir::toNativeSeparators(QDir::cleanPath(chosen))
                                  + QDir::separator());
}

bool Setup::testMySQL(QString &errorReturn)
{
    const QString name = QStringLiteral("connectionTest");
    if (QSqlDatabase::contains(name))
        QSqlDatabase::removeDatabase(name);
    QSqlDatabase test = QSqlDatabase::addDatabase(QStringLiteral("QMYSQL"), name);
    test.setHostName(m_ui->MySQLHostName->text());
    test.setDatabaseName(m_ui->MySQLDatabaseName->text());
    test.setUserName(m_ui->MySQLUsername->text());
    test.setPassword(m_ui->MySQLPassword->text());
    test.setPort(m_ui->MySQLPort->value());
    test.setConnectOptions(QStringLiteral("MYSQL_OPT_CONNECT_TIMEOUT=10"));
    const bool ok = test.open();
    if (ok)
        CloseOnExec::markSockets();
    if (!ok)
        errorReturn = tr("Es konnte keine Verbindung hergestellt werden: %1")
                          .arg(DatabaseErrors::connectFailure(test.lastError().text()));
    test.close();
    return ok;
}

void Setup::on_MySQLTest_clicked()
{
    QString error;
    if (testMySQL(error))
        Statics::showMessage(this, tr("Die Verbindung wurde erfolgreich hergestellt"), 0);
    else
        Statics::showMessage(this, error, 1);
}

void Setup::on_pushButton_clicked()
{
    const QString address
        = Config::serverAddress(QStringLiteral("/knowledge-base/cloud-anbindung/"));
    if (!address.isEmpty())
        DesktopOpen::webPage(this, QUrl(address, QUrl::TolerantMode));
}

void Setup::endTransfer()
{
    m_transferring = false;
    m_ui->tabWidget->setEnabled(true);
    m_ui->buttonBox->setEnabled(true);
    m_ui->progressBar->setVisible(false);
    m_ui->MySQLUploadLocalData->setText(m_ui->MySQLUploadLocalData->accessibleDescription());
}

void Setup::on_MySQLUploadLocalData_clicked()
{
    QPushButton *button = m_ui->MySQLUploadLocalData;
    button->setAccessibleDescription(button->text());
    if (!Statics::showQuestionDialog(
            this, tr("Datenübertragung"),
            tr("Beachte, dass alle Daten in der MySQL Datenbank überschrieben werden. Der "
               "Vorgang kann nicht rückgängig gemacht werden, bist Du sicher?")))
        return;

    m_transferring = true;
    m_ui->tabWidget->setEnabled(false);
    m_ui->buttonBox->setEnabled(false);
    const QString logFile = db->getCurrentLogDir() + QStringLiteral("mysql_transfer.log");
    MySqlTransfer transfer(db.get(), db->getCurrentDataDir() + Database::getDatabaseName(),
                           logFile);
    const MySqlTransfer::Result result
        = transfer.run([this, button](const MySqlTransfer::Progress &step) {
              if (step.row == 0) {
                  m_ui->progressBar->setRange(0, step.tableCount);
                  m_ui->progressBar->setValue(step.tableIndex);
                  m_ui->progressBar->setVisible(true);
                  button->setText(tr("Übertrage Tabelle - %1 - (%2/%3)")
                                      .arg(step.table)
                                      .arg(step.tableIndex)
                                      .arg(step.tableCount));
              } else {
                  button->setText(tr("Übertrage Tabelle - %1 - (%2/%3) - Daten (%4/%5)")
                                      .arg(step.table)
                                      .arg(step.tableIndex)
                                      .arg(step.tableCount)
                                      .arg(step.row)
                                      .arg(step.rowCount));
              }
              QCoreApplication::processEvents();
          });
    endTransfer();

    switch (result.outcome) {
    case MySqlTransfer::Outcome::LocalNotOpened:
        Statics::showMessage(
            this,
            result.error.isEmpty()
                ? tr("Kann die lokale Datenbank nicht öffnen")
                : tr("Kann die lokale Datenbank nicht öffnen: %1").arg(result.error),
            2);
        break;
    case MySqlTransfer::Outcome::LogNotCreated:
        Statics::showMessage(this, tr("Logfile kann nicht erstellt werden"), 2);
        break;
    case MySqlTransfer::Outcome::Stopped:
        Statics::showMessage(this,
                             tr("Übertragungsfehler: %1").arg(result.error) + QStringLiteral("\n\n")
                                 + tr("Protokoll: %1").arg(QDir::toNativeSeparators(logFile)),
                             2);
        break;
    case MySqlTransfer::Outcome::Completed:
        if (result.skippedRows == 0) {
            Statics::showMessage(this, tr("Übertragung abgeschlossen, bitte neu starten"), 0);
        } else {
            Statics::showMessage(
                this,
                result.skippedRows == 1
                    ? tr("Übertragung abgeschlossen, bitte neu starten. 1 Zeile konnte nicht "
                         "übertragen werden und fehlt in der MySQL Datenbank; der Grund steht "
                         "im Protokoll %1")
                          .arg(QDir::toNativeSeparators(logFile))
                    : tr("Übertragung abgeschlossen, bitte neu starten. %1 Zeilen konnten "
                         "nicht übertragen werden und fehlen in der MySQL Datenbank; die "
                         "Gründe stehen im Protokoll %2")
                          .arg(result.skippedRows)
                          .arg(QDir::toNativeSeparators(logFile)),
                1);
        }
        break;
    }
}
