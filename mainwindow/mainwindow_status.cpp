#include "mainwindow/mainwindow.h"

#include "core/clock.h"
#include "core/database.h"
#include "core/logging.h"
#include "core/specialfolderid.h"
#include "core/statics.h"
#include "ui_mainwindow.h"

#include <QApplication>
#include <QIcon>
#include <QLabel>
#include <QSound>
#include <QSystemTrayIcon>
#include <QTimer>

namespace {

bool isUserFolder(int folder)
{
    return folder > 0;
}

// The folders whose articles can be deleted, cancelled or unscheduled: every folder an
// article can lie in, not the tree's top node.
bool canDeleteIn(int folder)
{
    using namespace SpecialFolderId;
    switch (folder) {
    case Drafts:
    case Active:
    case Unsold:
    case Sold:
    case Trash:
    case Scheduled:
    case Outbox:
        return true;
    default:
        return isUserFolder(folder);
    }
}

// The folders from which articles go to the outbox: to be listed, revised, relisted or
// tried again.
bool canQueueFrom(int folder)
{
    using namespace SpecialFolderId;
    switch (folder) {
    case Outbox:
    case Drafts:
    case Active:
    case Unsold:
    case Sold:
        return true;
    default:
        return isUserFolder(folder);
    }
}

// Only the drafts and the user's folders hold articles that may be cut or pasted.
bool isDraftFolder(int folder)
{
    return folder == SpecialFolderId::Drafts || isUserFolder(folder);
}

const QString kSeparator = QStringLiteral("§§§");
constexpr int kTrayMessageMs = 5000;

} // namespace

void MainWindow::updateStatusBar(QString stat, int totalStat, int detailStat)
{
    ui->SyncProgressBar->setMaximum(totalStat);
    ui->SyncProgressBar->setValue(detailStat);
    // The label cuts a long text (a round's failures of every account) to the panel's width;
    // the tooltip holds it whole.
    const QString text = Clock::currentDateTime().toString(QStringLiteral("HH:mm"))
        + QStringLiteral(" Uhr - ") + stat;
    ui->SyncLabel->setText(text);
    ui->SyncLabel->setToolTip(text);
    ui->SyncWidget->setVisible(totalStat != 0 && detailStat != totalStat);
}

void MainWindow::updateBar()
{
    const int rows = ui->itemlist->topLevelItemCount();
    const int selected = ui->itemlist->selectedItems().size();
    if (!countLabel) {
        countLabel = new QLabel(ui->statusBar);
        countLabel->setObjectName(QStringLiteral("CountLabel"));
        ui->statusBar->addPermanentWidget(countLabel);
    }
    countLabel->setText(
        tr("%1 Artikel(n), %2 markiert").arg(QString::number(rows), QString::number(selected)));
}

void MainWindow::setNextSync(QString syncTime)
{
    QString text = tr("Synchronisieren");
    if (!syncTime.isEmpty())
        text += QStringLiteral(" (") + syncTime + QLatin1Char(')');
    ui->actionSynchronisieren->setText(text);
}

void MainWindow::setAppToSyncState(bool newState)
{
    qApp->setProperty("inSync", newState);
    ui->actionSynchronisieren->setEnabled(!newState);
    updateButtons();
}

void MainWindow::updateButtons()
{
    using namespace SpecialFolderId;
    const int folder = currentFolder;
    const bool selection = !ui->itemlist->selectedItems().isEmpty();

    for (QAction *bulk :
         { ui->actionRahmenbedingungen, ui->actionArtikelstandort_und_Bearbeitungszeit,
           ui->actionPreise_und_Mengen, ui->actionInlandsversand, ui->actionAuslandsversand,
           ui->actionZahlungsmethoden, ui->actionKonto_PayPal_und_Shopkategorien,
           ui->actionExportieren })
        bulk->setEnabled(selection);

    ui->actionSynchronisieren->setEnabled(!qApp->property("inSync").toBool());

    // The delete command cancels in the outbox, unschedules in the scheduled folder and
    // deletes for good in the trash.
    ui->actionL_schen->setEnabled(selection && canDeleteIn(folder));
    if (folder == Outbox)
        ui->actionL_schen->setText(tr("Abbrechen"));
    else if (folder == Scheduled)
        ui->actionL_schen->setText(tr("Planung aufheben"));
    else if (folder == Trash)
        ui->actionL_schen->setText(tr("Endgültig löschen"));
    else
        ui->actionL_schen->setText(tr("Löschen"));

    // Running listings are ended; anywhere else the marketplace is asked for the fees.
    ui->actionAuwahl_beenden->setEnabled(selection);
    if (folder == Active) {
        ui->actionAuwahl_beenden->setIcon(
            QIcon(QStringLiteral(":/buttons/images/Stop-Flat-247.png")));
        ui->actionAuwahl_beenden->setText(tr("Angebot beenden"));
    } else {
        ui->actionAuwahl_beenden->setText(tr("Gebühren berechnen"));
        ui->actionAuwahl_beenden->setIcon(QIcon(QStringLiteral(":/buttons/images/notes.png")));
    }

    ui->actionDuplizieren->setEnabled(selection);
    ui->actionDuplizieren->setText(isDraftFolder(folder) ? tr("Duplizieren") : tr("Als Vorlage"));

    ui->actionPlanen->setEnabled(selection && folder != Active && folder != Outbox);
    ui->actionArtikel_online_aufrufen->setEnabled(
        selection && (folder == Active || folder == Unsold || folder == Sold));

    ui->actionIn_Ausgang_legen->setEnabled(selection && canQueueFrom(folder));
    if (folder == Unsold || folder == Sold)
        ui->actionIn_Ausgang_legen->setText(tr("Wiedereinstellen"));
    else if (folder == Outbox)
        ui->actionIn_Ausgang_legen->setText(tr("Nochmal probieren"));
    else if (folder == Active)
        ui->actionIn_Ausgang_legen->setText(tr("Artikel updaten"));
    else
        ui->actionIn_Ausgang_legen->setText(tr("Artikel einstellen"));

    ui->actionKopieren->setEnabled(selection);
    ui->actionAusschneiden->setEnabled(selection && isDraftFolder(folder));
    // Pasting needs remembered ids, not a selection.
    ui->actionEinf_gen->setEnabled(isDraftFolder(folder)
                                   && (!copiedArticleIds.isEmpty() || !cutArticleIds.isEmpty()));
}

void MainWindow::sendNotification(const QString &what)
{
    // Without a database (early start-up) the notification is shown.
    if (db
        && db->getOption(QStringLiteral("ShowDesktopNoti"), QStringLiteral("1"))
            != QLatin1String("1"))
        return;

    const QStringList parts = what.split(kSeparator, Qt::KeepEmptyParts, Qt::CaseSensitive);
    const QString title = parts.size() < 2 ? tr("Zerire 3") : parts.at(0);
    const QString text = parts.size() < 2 ? what : parts.at(1);

    // The log keeps every notification: on a desktop without a system tray the tray
    // message goes nowhere, and the log is then the only record of what the user was told.
    qCInfo(lcApp).noquote() << "Notification:" << title << "-" << text;
    if (trayIcon)
        trayIcon->showMessage(title, text, QSystemTrayIcon::Information, kTrayMessageMs);

    // A trailing separator leaves no sound to play.
    if (parts.size() >= 3 && !parts.at(2).isEmpty()) {
        qCInfo(lcApp).noquote() << "Try to play " + parts.at(2);
        QSound::play(parts.at(2));
    }
}

void MainWindow::databaseWriteFailed(const QString &connectionName, const QString &error)
{
    if (!db || connectionName != db->connectionName()) {
        // The worker has logged the statement; the seller sees that something was not kept.
        updateStatusBar(tr("Speichern fehlgeschlagen: %1").arg(error), 1, 0);
        return;
    }
    // Failures while the notice is open, or while the list is read again after it, belong
    // to the notice.
    if (m_showingWriteFailure)
        return;
    if (m_writeFailures++ == 0) {
        m_writeFailure = error;
        QTimer::singleShot(0, this, &MainWindow::showWriteFailure);
    }
}

void MainWindow::showWriteFailure()
{
    m_showingWriteFailure = true;
    QString text = tr("Die Änderung konnte nicht gespeichert werden. Die Datenbank meldet:\n%1")
                       .arg(m_writeFailure);
    if (m_writeFailures > 1)
        text += tr("\n\n(%1 Schreibvorgänge sind fehlgeschlagen.)").arg(m_writeFailures);
    m_writeFailures = 0;
    Statics::showMessage(this, text, 2);
    // The list shows what is stored, not what the command meant to store.
    if (!loading)
        reloadData();
    m_showingWriteFailure = false;
}
