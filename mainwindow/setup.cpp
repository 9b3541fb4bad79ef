#include "mainwindow/setup.h"

#include "ui_setup.h"

#include "core/database.h"
#include "core/dialogs.h"
#include "core/statics.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>
#include <QTimer>

namespace {

// The notification switches, option and check box of the same name.
const char *const kNotificationOptions[]
    = { "NotiNewWatcher", "NotiNewSale", "NotiNewMessage", "NotiNewBids" };

// What the main database publishes about the folder and the server it works on, and how
// further connections open its file ("sqlitereadonly": a database found damaged or
// unwritable at start stays read-only for every connection until the next start).
const char *const kDatabaseProperties[]
    = { "datadir",       "CurrentDataPath", "mysqlhostname",
        "mysqlport",     "mysqldatabase",   "mysqlusername",
        "mysqlpassword", "mysqlimagepath",  "mysqlsyncworkstation",
        "sqlitereadonly" };

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

    m_ui->BackupDataPath->setText(
        db->getOption(QStringLiteral("backuppath"),
                      QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation)
                          + QStringLiteral("/Zerire3_Backups"))
            .legacyValue());
    m_ui->BackupDataPath->setEnabled(false);
    m_ui->BackupDataPath->setModified(false);

    for (const char *name : kNotificationOptions) {
        auto *box = findChild<QCheckBox *>(QLatin1String(name));
        box->setChecked(db->getOption(QLatin1String(name), QStringLiteral("1")).legacyValue()
                        == QLatin1String("1"));
    }

    m_ui->AccountList->setColumnCount(2);
    m_ui->AccountList->setHeaderLabels({ tr("eBayname"), tr("Token gültig bis") });

    m_ui->RefreshIntervall->setValue(
        db->getOption(QStringLiteral("SyncIntervall"), QStringLiteral("60")).legacyValue().toInt());
    m_ui->tabWidget->setCurrentIndex(0);

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
    if (!QFileInfo::exists(folder + Database::getDatabaseName())) {
        Statics::showMessage(
            this, tr("Die Daten konnten im ausgewählten Verzeichnis nicht gefunden werden"), 1);
        return;
    }
    m_ui->DataPath->setText(folder);
    m_ui->DataPath->setModified(true);
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

void Setup::storeDataPath(const QString &path)
{
    if (folderKey(db->getCurrentDataDir()) == folderKey(Database::defaultDataDir())) {
        db->setOption(QStringLiteral("datapath"), path);
        return;
    }
    // Open the default folder's database the way start-up does, then put back what the
    // running program published about its own.
    QCoreApplication *app = QCoreApplication::instance();
    QList<QVariant> published;
    for (const char *name : kDatabaseProperties)
        published << app->property(name);
    {
        Database startup(Database::defaultDataDir());
        startup.setOption(QStringLiteral("datapath"), path);
    }
    for (int i = 0; i < published.size(); ++i)
        app->setProperty(kDatabaseProperties[i], published.at(i));
}

void Setup::accept()
{
    if (m_transferring)
        return;
    if (m_ui->DataPath->isModified()) {
        storeDataPath(m_ui->DataPath->text());
        Statics::showMessage(
            this,
            tr("Starte das Programm neu, damit das ausgewählte Datenverzeichnis genutzt wird"), 0);
    }
    if (m_ui->BackupDataPath->isModified())
        db->setOption(QStringLiteral("backuppath"), m_ui->BackupDataPath->text());
    db->setOption(QStringLiteral("SyncIntervall"),
                  QString::number(m_ui->RefreshIntervall->value()));
    for (const char *name : kNotificationOptions) {
        const auto *box = findChild<QCheckBox *>(QLatin1String(name));
        db->setOption(QLatin1String(name),
                      box->isChecked() ? QStringLiteral("1") : QStringLiteral("0"));
    }
    saveMySqlSettings();
    QDialog::done(QDialog::Accepted);
}

void Setup::reject()
{
    if (!m_transferring)
        QDialog::reject();
}
