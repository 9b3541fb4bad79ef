#include "mainwindow/setup.h"

#include "ui_setup.h"

#include "core/connectionsettings.h"
#include "core/database.h"
#include "core/dialogs.h"
#include "core/statics.h"
#include "core/transaction.h"
#include "mainwindow/mysqlsetup.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>
#include <QTimer>

namespace {

// The notification switches, option and check box of the same name.
const char *const kNotificationOptions[]
    = { "NotiNewWatcher", "NotiNewSale", "NotiNewMessage", "NotiNewBids" };

QString folderKey(const QString &path)
{
    return QDir::cleanPath(QDir::fromNativeSeparators(path));
}

} // namespace

Setup::Setup(QWidget *parent)
    : QDialog(parent)
    , m_ui(std::make_unique<Ui::Setup>())
{
    m_ui->setupUi(this);
    db = std::make_unique<Database>(true, QStringLiteral("SetupAccountList"));

    m_ui->DataPath->setText(db->getCurrentDataDir());
    m_ui->DataPath->setEnabled(false);
    m_ui->DataPath->setModified(false);
    m_ui->BackupDataPath->setEnabled(false);
    m_ui->BackupDataPath->setModified(false);

    m_ui->AccountList->setColumnCount(2);
    m_ui->AccountList->setHeaderLabels({ tr("eBayname"), tr("Token gültig bis") });
    m_ui->tabWidget->setCurrentIndex(0);

    if (!loadOptions()) {
        // Shown over the dialog, once it is on the screen.
        QTimer::singleShot(0, this, [this] {
            tellReadFailure(tr("Die Einstellungen konnten nicht gelesen werden: %1\n\nSie sind "
                               "gesperrt und werden nicht gespeichert; die gespeicherten Werte "
                               "bleiben erhalten. Die MySQL Einstellungen und der Datenpfad "
                               "können trotzdem geändert werden.")
                                .arg(m_optionsLocked));
        });
    }

    loadMySqlSettings();
    m_ui->MySQLUploadLocalData->setEnabled(db->isMySQL);
    m_ui->progressBar->setVisible(false);
    m_ui->progressBar->setValue(0);

    adjustSize();
    setMinimumSize(size());
    setMaximumSize(size());

    // The dialog shows before the list is filled.
    QTimer::singleShot(50, this, &Setup::loadAccounts);
}

bool Setup::loadOptions()
{
    // The first read that fails ends it: no field shows a default as if it were stored.
    QString failure;
    const auto read = [&](const QString &name, const QString &fallback) {
        if (!failure.isEmpty())
            return QString();
        const Read<QString> value = db->getOption(name, fallback);
        if (!value.ok())
            failure = value.error();
        return value.orIfFailed(QString()); // unused when it failed
    };
    const QString backup = read(QStringLiteral("backuppath"),
                                QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation)
                                    + QStringLiteral("/Zerire3_Backups"));
    const QString interval = read(QStringLiteral("SyncIntervall"), QStringLiteral("60"));
    QStringList switches;
    for (const char *name : kNotificationOptions)
        switches << read(QLatin1String(name), QStringLiteral("1"));

    if (!failure.isEmpty()) {
        lockOptions(tr("Nicht gelesen: %1").arg(failure));
        m_optionsLocked = failure;
        return false;
    }
    m_ui->BackupDataPath->setText(backup);
    m_ui->RefreshIntervall->setValue(interval.toInt());
    for (int i = 0; i < switches.size(); ++i)
        findChild<QCheckBox *>(QLatin1String(kNotificationOptions[i]))
            ->setChecked(switches.at(i) == QLatin1String("1"));
    // The start told the seller that nothing is stored in it; the data path and the MySQL
    // settings, stored elsewhere, lead out of it.
    if (db->isReadOnly()) {
        m_optionsLocked
            = tr("Die Datenbank wird nur gelesen, Änderungen werden nicht gespeichert.");
        lockOptions(m_optionsLocked);
    }
    return true;
}

void Setup::lockOptions(const QString &why)
{
    for (QWidget *field :
         { static_cast<QWidget *>(m_ui->RefreshIntervall),
           static_cast<QWidget *>(m_ui->BackupDataPathButton),
           static_cast<QWidget *>(m_ui->NotiNewWatcher), static_cast<QWidget *>(m_ui->NotiNewSale),
           static_cast<QWidget *>(m_ui->NotiNewMessage),
           static_cast<QWidget *>(m_ui->NotiNewBids) }) {
        field->setEnabled(false);
        field->setToolTip(why);
    }
}

void Setup::tellReadFailure(const QString &text)
{
    if (m_readFailureTold)
        return;
    m_readFailureTold = true;
    Statics::showMessage(this, text, 2);
}

Setup::~Setup() = default;

void Setup::on_DataPathButton_clicked()
{
    Statics::showMessage(this,
                         tr("Vor der Änderung des Pfades sollten alle Daten bereits am Zielort "
                            "vorhanden sein, falls nicht, breche ab und klicke auf Hilfe - "
                            "Datenverzeichnis öffnen. Kopiere den Inhalt zuvor an den "
                            "gewünschten Ort"),
                         0);
    const QString chosen
        = Dialogs::existingDirectory(this, tr("Datenpfad öffnen"), m_ui->DataPath->text());
    if (chosen.isEmpty())
        return;
    const QString folder = QDir::toNativeSeparators(QDir::cleanPath(chosen)) + QDir::separator();
    const QString refusal = dataFolderRefusal(folder);
    if (!refusal.isEmpty()) {
        Statics::showMessage(this, refusal, 1);
        return;
    }
    m_ui->DataPath->setText(folder);
    m_ui->DataPath->setModified(true);
}

QString Setup::dataFolderRefusal(const QString &folder)
{
    if (!QFileInfo::exists(folder + Database::getDatabaseName()))
        return tr("Die Daten konnten im ausgewählten Verzeichnis nicht gefunden werden");
    // A folder the next start would not open would leave the program without its data.
    return Database::dataFolderProblem(folder);
}

void Setup::on_BackupDataPathButton_clicked()
{
    const QString chosen
        = Dialogs::existingDirectory(this, tr("Datenpfad öffnen"), m_ui->BackupDataPath->text());
    if (chosen.isEmpty())
        return;
    m_ui->BackupDataPath->setText(QDir::toNativeSeparators(QDir::cleanPath(chosen))
                                  + QDir::separator());
    m_ui->BackupDataPath->setModified(true);
}

bool Setup::storeDataPathForStart(const QString &path, QString *error)
{
    // The default folder's database as start-up opens it (the shared database its
    // "mysql.setup" names, else its local file), through a connection of this dialog alone:
    // no main Database is made, so nothing is published, and the background jobs and every
    // other connection stay on the running folder's database.
    const QString folder = Database::defaultDataDir();
    const MySqlSetup shared = MySqlSetup::load(folder);
    const ConnectionSettings settings = shared.active
        ? ConnectionSettings::of(folder, shared.hostname, shared.port, shared.database,
                                 shared.username, shared.password, shared.imagePath,
                                 shared.syncWorkstation)
        : ConnectionSettings::of(folder);
    const ConnectionSettings::Scope scope(settings);
    Database startup(true, QStringLiteral("StoreDataPath"));
    const bool stored = startup.setOption(QStringLiteral("datapath"), path);
    if (!stored)
        *error = startup.lastErrorText;
    startup.close();
    return stored;
}

void Setup::accept()
{
    if (m_transferring)
        return;
    const bool dataPathChosen = m_ui->DataPath->isModified();
    const QString dataPath = m_ui->DataPath->text();
    if (dataPathChosen) {
        // The folder may have changed since it was chosen.
        const QString refusal = dataFolderRefusal(dataPath);
        if (!refusal.isEmpty()) {
            Statics::showMessage(this, refusal, 1);
            return;
        }
    }
    // Start-up reads "datapath" from the default folder's database.
    const bool dataPathHere = dataPathChosen
        && folderKey(db->getCurrentDataDir()) == folderKey(Database::defaultDataDir());
    // Options that could not be read are not stored (the fields hold no stored values), nor
    // are they into a database that is only read.
    const bool options = m_optionsLocked.isEmpty();
    if (options || dataPathHere) {
        bool stored = false;
        {
            // Every option of one OK is stored, or none is.
            Transaction store(*db);
            stored = store.isOpen();
            if (stored && dataPathHere)
                stored = db->setOption(QStringLiteral("datapath"), dataPath);
            if (stored && options && m_ui->BackupDataPath->isModified())
                stored = db->setOption(QStringLiteral("backuppath"), m_ui->BackupDataPath->text());
            if (stored && options)
                stored = db->setOption(QStringLiteral("SyncIntervall"),
                                       QString::number(m_ui->RefreshIntervall->value()));
            for (const char *name : kNotificationOptions) {
                const auto *box = findChild<QCheckBox *>(QLatin1String(name));
                if (stored && options)
                    stored = db->setOption(QLatin1String(name),
                                           box->isChecked() ? QStringLiteral("1")
                                                            : QStringLiteral("0"));
            }
            stored = stored && store.commit();
        }
        if (!stored) {
            // The dialog stays open with what was entered: OK stores it once the database
            // answers (storing the same values again changes nothing more).
            Statics::showMessage(
                this,
                db->lastOutcome() == Database::Outcome::Unknown
                    ? tr("Ob die Einstellungen gespeichert wurden, ist nicht bekannt: %1\n\n"
                         "Drücke noch einmal OK, um sie zu speichern.")
                          .arg(db->lastErrorText)
                    : tr("Die Einstellungen wurden nicht gespeichert: %1").arg(db->lastErrorText),
                2);
            return;
        }
    }
    if (dataPathChosen) {
        QString error;
        if (!dataPathHere && !storeDataPathForStart(dataPath, &error)) {
            Statics::showMessage(this, tr("Der Datenpfad wurde nicht gespeichert: %1").arg(error),
                                 2);
            return;
        }
        Statics::showMessage(
            this,
            tr("Starte das Programm neu, damit das ausgewählte Datenverzeichnis genutzt wird"), 0);
    }
    if (!saveMySqlSettings())
        return;
    QDialog::done(QDialog::Accepted);
}

void Setup::reject()
{
    if (!m_transferring)
        QDialog::reject();
}
