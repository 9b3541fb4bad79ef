#include "mainwindow/mainwindow.h"

#include "core/clock.h"
#include "core/database.h"
#include "core/logging.h"
#include "core/specialfolderid.h"
#include "core/statics.h"
#include "mainwindow/traynotice.h"
#include "ui_mainwindow.h"
#include "views/foldermodel.h"
#include "views/itemlistwidget.h"
#include "views/paintedtext.h"

#include <QApplication>
#include <QComboBox>
#include <QIcon>
#include <QLabel>
#include <QSignalBlocker>
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

constexpr int kTrayMessageMs = 5000;
// The maximum of a status line that tells something without work under way: the panel shows
// the text and no progress bar, which would otherwise stand at 0 % until the next progress.
constexpr int kNoProgress = -1;
// The most characters the status panel and its tooltip show of a text: more than a screen
// holds, and laid out at once whatever the length of the text.
constexpr int kStatusChars = 4000;
// How often the window tries to read what is stored after a command that failed or whose
// outcome is not known, while the database does not answer: first after a second, then
// twice as long each time, up to half a minute.
constexpr int kStoredReads = 20;
constexpr int kStoredReadMs = 1000;
// How often the window looks whether the dialog of a command is closed, after a write of that
// dialog's connection whose outcome is not known.
constexpr int kDialogCheckMs = 200;

// Whether two connections were made on the same thread: their names end with its id.
bool sameThread(const QString &connection, const QString &other)
{
    return connection.section(QLatin1Char('_'), -1) == other.section(QLatin1Char('_'), -1);
}

} // namespace

void MainWindow::updateStatusBar(QString stat, int totalStat, int detailStat)
{
    // A notification shown here without a tray hides the bar (see sendNotification), and so
    // does a text without progress (a maximum below 0).
    const bool progress = totalStat >= 0;
    ui->SyncProgressBar->setVisible(progress);
    if (progress) {
        ui->SyncProgressBar->setMaximum(totalStat);
        ui->SyncProgressBar->setValue(detailStat);
    }
    // The label cuts a long text (a round's failures of every account) to the panel's width;
    // the tooltip holds it whole. Both show titles and the marketplace's words as plain text.
    // A stored title in it may be of any length: both show a bounded prefix.
    const QString text = PaintedText::prefix(
        Clock::currentDateTime().toString(QStringLiteral("HH:mm")) + QStringLiteral(" Uhr - ")
            + PaintedText::prefix(stat, kStatusChars),
        kStatusChars);
    ui->SyncLabel->setText(text);
    ui->SyncLabel->setToolTip(Statics::plainToolTip(text));
    ui->SyncWidget->setVisible(!progress || (totalStat != 0 && detailStat != totalStat));
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
    const bool selection = ui->itemlist->selectionModel()->hasSelection();

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
    // Without a database (early start-up) the notification is shown, and so it is when the
    // switch can't be read: a notification too many does no harm, one lost may.
    if (db
        && db->getOption(QStringLiteral("ShowDesktopNoti"), QStringLiteral("1"))
                .orIfFailed(QStringLiteral("1"))
            != QLatin1String("1"))
        return;

    const QStringList parts
        = what.split(Statics::notificationSeparator, Qt::KeepEmptyParts, Qt::CaseSensitive);
    const QString title = parts.size() < 2 ? tr("Zerire 3") : parts.at(0);
    const QString text = parts.size() < 2 ? what : parts.at(1);

    // The log keeps every notification.
    qCInfo(lcApp).noquote() << "Notification:" << title << "-" << text;
    // The tray icon is shown only where the desktop has a tray. Elsewhere a tray message
    // would go nowhere, so the status panel shows it, without a progress bar, until the
    // next progress replaces it.
    if (trayIcon && trayIcon->isVisible()) {
        trayIcon->showMessage(title, TrayNotice::body(text), QSystemTrayIcon::Information,
                              kTrayMessageMs);
    } else {
        // Cut to the panel's width like every status text, whole in the tooltip.
        const QString notice = PaintedText::prefix(
            Clock::currentDateTime().toString(QStringLiteral("HH:mm")) + QStringLiteral(" Uhr - ")
                + PaintedText::prefix(title, kStatusChars) + QStringLiteral(": ")
                + PaintedText::prefix(text, kStatusChars),
            kStatusChars);
        ui->SyncLabel->setText(notice);
        ui->SyncLabel->setToolTip(Statics::plainToolTip(notice));
        ui->SyncProgressBar->hide();
        ui->SyncWidget->show();
    }

    // A trailing separator leaves no sound to play.
    if (parts.size() >= 3 && !parts.at(2).isEmpty()) {
        qCInfo(lcApp).noquote() << "Try to play " + parts.at(2);
        QSound::play(parts.at(2));
    }
}

void MainWindow::databaseWriteFailed(const QString &connectionName, const QString &said,
                                     const QString &connectionReason, bool outcomeUnknown)
{
    if (outcomeUnknown) {
        if (db && connectionName != db->connectionName()
            && sameThread(connectionName, db->connectionName())
            && (QApplication::activeModalWidget() || !isEnabled())) {
            // The connection of the dialog on screen: its command tells it once the dialog is
            // closed. Only one that does not is told here, in the status panel.
            m_unknownInDialog = true;
            tellUnknownOfDialog();
            return;
        }
        if (!db || connectionName != db->connectionName()) {
            if (!m_showingWriteFailure)
                updateStatusBar(unknownStatusText(), kNoProgress, 0);
            return;
        }
        if (m_unknownOutcomeQueued || m_showingWriteFailure)
            return;
        m_unknownOutcomeQueued = true;
        QTimer::singleShot(0, this, [this] {
            const bool untold = m_unknownOutcomeQueued && db && db->unknownOutcomePending();
            m_unknownOutcomeQueued = false;
            if (untold)
                tellOutcomeUnknown(tr("die Änderung"));
        });
        return;
    }
    const bool connectionLost = !connectionReason.isEmpty();
    // A failure is never told without its reason, even where the database gave none.
    const QString error
        = said.trimmed().isEmpty() ? tr("Die Datenbank nannte keinen Grund.") : said;
    const QString reason = connectionLost ? connectionReason : error;
    if (connectionLost)
        m_databaseDown = true;
    // A worker's failure, or one of the window's while its lost connection was told about in
    // a notice already: the statement is logged; the seller sees that something was not kept.
    const bool own = db && connectionName == db->connectionName();
    if (!own || (connectionLost && (m_lostNoticeShown || m_sessionRefusedShown))) {
        if (!m_showingWriteFailure)
            updateStatusBar(tr("Speichern fehlgeschlagen: %1").arg(reason), kNoProgress, 0);
        return;
    }
    // Failures while the notice is open, or while the list is read again after it, belong
    // to the notice.
    if (m_showingWriteFailure)
        return;
    if (m_writeFailures++ == 0) {
        m_writeFailure = connectionLost ? reason : tr("Die Datenbank meldet:\n%1").arg(error);
        m_lostNoticeShown = connectionLost;
        QTimer::singleShot(0, this, &MainWindow::showWriteFailure);
    }
}

void MainWindow::showWriteFailure()
{
    // Taken over by the notice of a command whose outcome is not known.
    if (m_writeFailures == 0)
        return;
    // A command under way (the window is disabled) may tell its failure itself when it is
    // done (tellNotStored): this notice waits for it.
    if (!isEnabled()) {
        QTimer::singleShot(kStoredReadMs, this, &MainWindow::showWriteFailure);
        return;
    }
    m_showingWriteFailure = true;
    QString text = tr("Die Änderung konnte nicht gespeichert werden. %1").arg(m_writeFailure);
    if (m_writeFailures > 1)
        text += tr("\n\n(%1 Schreibvorgänge sind fehlgeschlagen.)").arg(m_writeFailures);
    m_writeFailures = 0;
    Statics::showMessage(this, text, 2);
    // The window shows what is stored, not what the command meant to store.
    m_storedReads = 0;
    if (!loading)
        showStored();
    m_showingWriteFailure = false;
}

QString MainWindow::unknownStatusText()
{
    return tr("Ob die Änderung gespeichert wurde, ist nicht bekannt: die Verbindung zur "
              "Datenbank brach ab.");
}

void MainWindow::tellUnknownOfDialog()
{
    if (m_unknownDialogCheck)
        return;
    m_unknownDialogCheck = true;
    QTimer::singleShot(kDialogCheckMs, this, [this] {
        m_unknownDialogCheck = false;
        if (!m_unknownInDialog)
            return;
        // Still open (the dialog, or the notice its command shows): looked at again later.
        if (QApplication::activeModalWidget() || !isEnabled()) {
            tellUnknownOfDialog();
            return;
        }
        m_unknownInDialog = false;
        updateStatusBar(unknownStatusText(), kNoProgress, 0);
    });
}

void MainWindow::tellOutcomeUnknown(const QString &command, const QString &consequence)
{
    // The lost write queued a notice of its own, which this one replaces; so did a write of
    // the command's dialog.
    m_unknownOutcomeQueued = false;
    m_unknownInDialog = false;
    if (db)
        db->unknownOutcomeTold();
    // A command that lost the answers of several statements is told about once: calls until
    // the event loop has run again belong to the same command.
    if (m_outcomeUnknownTold)
        return;
    m_outcomeUnknownTold = true;
    // The lost write may have queued a notice of its own ("nicht gespeichert"), which would
    // not be true; so may failures of the same command before this.
    m_writeFailures = 0;
    QString text = tr("Ob %1 gespeichert wurde, ist nicht bekannt: die Verbindung zur Datenbank "
                      "brach ab. Die Anzeige zeigt jetzt, was gespeichert ist.")
                       .arg(command);
    if (!consequence.isEmpty())
        text += QLatin1Char(' ') + consequence;
    tellAndShowStored(text);
}

void MainWindow::tellNotStored(const QString &command, const QString &done)
{
    if (!db)
        return;
    const bool unknown = db->lastOutcome() == Database::Outcome::Unknown;
    if (unknown && done.isEmpty()) {
        tellOutcomeUnknown(command);
        return;
    }
    // Told already for this command, or its failure is on screen. A failed write of it
    // queued its notice, which tells it (and may still be taken over by an Unknown), unless
    // there is more to say.
    if (m_outcomeUnknownTold || m_showingWriteFailure || (done.isEmpty() && m_writeFailures > 0))
        return;
    m_outcomeUnknownTold = true;
    QString text;
    if (unknown) {
        db->unknownOutcomeTold();
        text = tr("Ob %1 gespeichert wurde, ist nicht bekannt: die Verbindung zur Datenbank "
                  "brach ab.")
                   .arg(command);
    } else {
        // A failed write queued its reason; a failed read queued nothing.
        QString reason = m_writeFailures > 0 ? m_writeFailure
            : db->lastFailureTransient()     ? db->lastErrorText
                                         : tr("Die Datenbank meldet:\n%1").arg(db->lastErrorText);
        if (m_writeFailures > 1)
            reason += tr("\n\n(%1 Schreibvorgänge sind fehlgeschlagen.)").arg(m_writeFailures);
        text = done.isEmpty()
            ? tr("Die Änderung konnte nicht gespeichert werden: %1 hat nichts geändert. %2")
                  .arg(command, reason)
            : tr("Die Änderung konnte nicht gespeichert werden. %1").arg(reason);
    }
    if (!done.isEmpty())
        text = done + QStringLiteral("\n\n") + text;
    text += QStringLiteral("\n\n") + tr("Die Anzeige zeigt jetzt, was gespeichert ist.");
    m_writeFailures = 0;
    m_unknownOutcomeQueued = false;
    // Further failures while the server is away go to the status panel.
    m_lostNoticeShown = m_lostNoticeShown || db->connectionLost();
    tellAndShowStored(text);
}

void MainWindow::tellAndShowStored(const QString &text)
{
    m_showingWriteFailure = true;
    Statics::showMessage(this, text, 2);
    m_storedReads = 0;
    if (!loading)
        showStored();
    m_writeFailures = 0;
    m_showingWriteFailure = false;
    QTimer::singleShot(0, this, [this] { m_outcomeUnknownTold = false; });
}

void MainWindow::showStored()
{
    // A command under way (the window is disabled) shows its own rows first.
    if (!isEnabled()) {
        scheduleStoredRead(kStoredReadMs);
        return;
    }
    // The folder and the rows the seller works on stay chosen, by id, where they still are.
    const QList<int> selected = selectedArticleIds();
    const int shown = currentFolder;
    const bool treeRead = reloadFolderTree();
    // An account filter that could not be read is read again with the list.
    if (ui->AccountFilterBox->property("unread").toBool())
        reloadAccountBox();
    reloadData();
    if (currentFolder == shown && !selected.isEmpty()) {
        // One change of the selection for all of them, told once below: a change per row
        // would count the selection again for each.
        ItemListWidget *list = ui->itemlist;
        QTreeWidgetItem *first = nullptr;
        {
            const QSignalBlocker held(list);
            first = list->selectArticles(selected);
        }
        if (first)
            list->scrollToItem(first);
    }
    updateButtons();
    updateBar();
    if (folderModel)
        folderModel->refreshCounts();
    // The server may not answer yet: read again, less and less often, until the window shows
    // what is stored. While it is away the probe's answer reads it (serverAnswers).
    if ((!treeRead || !listReadFailure.isEmpty()
         || ui->AccountFilterBox->property("unread").toBool())
        && m_storedReads < kStoredReads && !Database::serverAway())
        scheduleStoredRead(kStoredReadMs << qMin(m_storedReads++, 5));
}

void MainWindow::watchDatabaseServer()
{
    // The window's connections never wait for a server that is away; a probe tells when it
    // answers again, and the window then shows what is stored.
    Database::setResponsiveThread(thread());
    if (db)
        db->setResponsive();
    connect(WriteFailures::instance(), &WriteFailures::serverAnswers, this, [this] {
        m_storedReads = 0;
        if (!loading)
            showStored();
    });
}

void MainWindow::scheduleStoredRead(int milliseconds)
{
    if (m_storedReadScheduled)
        return;
    m_storedReadScheduled = true;
    QTimer::singleShot(milliseconds, this, [this] {
        m_storedReadScheduled = false;
        showStored();
    });
}

void MainWindow::databaseConnectionBroken(const QString &connectionName, const QString &reason,
                                          bool sessionRefused)
{
    m_databaseDown = true;
    qCWarning(lcApp).noquote() << connectionName << reason;
    if (sessionRefused && db && connectionName == db->connectionName()) {
        m_sessionRefusedShown = true;
        // Told from the event loop: the statement that found it is still running.
        QTimer::singleShot(0, this, [this, reason] { Statics::showMessage(this, reason, 2); });
        return;
    }
    updateStatusBar(reason, kNoProgress, 0);
}

void MainWindow::databaseConnectionRestored(const QString &connectionName)
{
    if (db && connectionName == db->connectionName()) {
        m_sessionRefusedShown = false;
        m_lostNoticeShown = false;
    }
    // The first connection back tells it; the others follow at their next statement.
    if (!m_databaseDown)
        return;
    m_databaseDown = false;
    updateStatusBar(tr("Die Verbindung zur Datenbank besteht wieder."), kNoProgress, 0);
    // A list that could not be read is read again, from the event loop: the statement that
    // found the connection back is still running.
    if (!listReadFailure.isEmpty())
        QTimer::singleShot(0, this, &MainWindow::reloadData);
    if (ui->AccountFilterBox->property("unread").toBool())
        QTimer::singleShot(0, this, &MainWindow::reloadAccountBox);
}
