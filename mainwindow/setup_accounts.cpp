#include "mainwindow/setup.h"

#include "ui_setup.h"

#include "core/database.h"
#include "core/specialfolderid.h"
#include "core/statics.h"
#include "core/transaction.h"
#include "mainwindow/setupaccount.h"

#include <QDateTime>
#include <QIcon>
#include <QPointer>

namespace {
constexpr int kIdRole = Qt::UserRole + 1;
constexpr int kAcceptProtectRole = Qt::UserRole + 2;
} // namespace

void Setup::loadAccounts()
{
    QTreeWidget *list = m_ui->AccountList;
    list->clear();
    const QIcon icon(QStringLiteral(":/buttons/images/ebaybag.png"));
    const Read<SqlRows> accounts
        = db->select(QStringLiteral("SELECT * FROM accounts ORDER BY accountname ASC"));
    if (!accounts.ok()) {
        // An empty list would say that no account is stored.
        const QString why
            = tr("Die eBay Konten konnten nicht gelesen werden: %1").arg(accounts.error());
        list->setToolTip(why);
        list->show();
        tellReadFailure(why);
        return;
    }
    list->setToolTip(QString());
    for (const auto &row : *accounts) {
        auto *item = new QTreeWidgetItem(list);
        const QString id = row.value(QStringLiteral("id")).toString();
        item->setText(0, row.value(QStringLiteral("accountname")).toString());
        item->setIcon(0, icon);
        item->setData(0, kIdRole, id);
        item->setData(0, kAcceptProtectRole, row.value(QStringLiteral("acceptprotect")).toInt());
        // With the whole year: the locale's short form would show 2099 as "99".
        const QDateTime expiry
            = QDateTime::fromString(row.value(QStringLiteral("tokenexp")).toString(),
                                    QStringLiteral("yyyy-MM-dd HH:mm:ss"));
        item->setText(
            1, expiry.isValid() ? expiry.toString(QStringLiteral("dd.MM.yyyy HH:mm")) : QString());
        if (!selectedAccountId.isEmpty() && selectedAccountId == id)
            item->setSelected(true);
    }
    for (int column = 0; column < list->columnCount(); ++column)
        list->resizeColumnToContents(column);
    list->show();
}

void Setup::on_AccountList_itemSelectionChanged()
{
    const QList<QTreeWidgetItem *> selected = m_ui->AccountList->selectedItems();
    m_ui->removeAccount->setEnabled(!selected.isEmpty());
    m_ui->refreshTokenForAccount->setEnabled(!selected.isEmpty());
    if (!selected.isEmpty())
        selectedAccountId = selected.first()->data(0, kIdRole).toString();
}

void Setup::openAccountDialog(const QString &id, const QString &name, int acceptProtect)
{
    QPointer<SetupAccount> dialog = new SetupAccount(this, id, name, acceptProtect);
    dialog->setWindowModality(Qt::WindowModal);
    dialog->exec();
    if (dialog)
        dialog->deleteLater();
    loadAccounts();
}

void Setup::on_addAccount_clicked()
{
    openAccountDialog(QString(), QString(), 0);
}

void Setup::on_refreshTokenForAccount_clicked()
{
    const QList<QTreeWidgetItem *> selected = m_ui->AccountList->selectedItems();
    if (selected.isEmpty())
        return;
    const QTreeWidgetItem *item = selected.first();
    openAccountDialog(item->data(0, kIdRole).toString(), item->text(0),
                      item->data(0, kAcceptProtectRole).toInt());
}

void Setup::on_AccountList_itemDoubleClicked(QTreeWidgetItem *, int)
{
    if (!m_ui->AccountList->selectedItems().isEmpty())
        on_refreshTokenForAccount_clicked();
}

void Setup::on_removeAccount_clicked()
{
    const QList<QTreeWidgetItem *> selected = m_ui->AccountList->selectedItems();
    if (selected.isEmpty())
        return;
    if (!Statics::showQuestionDialog(
            this, tr("eBay Konto löschen"),
            tr("Es werden alle aktiven, verkauften und nicht verkauften Artikel dieses Kontos "
               "gelöscht. Dieser Vorgang kann nicht rückgängig gemacht werden. Sicher?")))
        return;

    const QString id = QString::number(selected.first()->data(0, kIdRole).toString().toInt());
    // Only the listings the question names go, with their pictures and variations; drafts,
    // templates, queued and scheduled articles stay without an account.
    const QString listed = QStringLiteral("account = %1 AND Folder IN (%2, %3, %4)")
                               .arg(id)
                               .arg(SpecialFolderId::Active)
                               .arg(SpecialFolderId::Sold)
                               .arg(SpecialFolderId::Unsold);
    const QString listedIds
        = QStringLiteral("(SELECT id FROM articles WHERE ") + listed + QLatin1Char(')');
    const QStringList statements = {
        QStringLiteral("DELETE FROM accounts WHERE id=") + id,
        QStringLiteral("DELETE FROM articles_images WHERE article_id IN ") + listedIds,
        QStringLiteral("DELETE FROM articles_variations WHERE article_id IN ") + listedIds,
        QStringLiteral("DELETE FROM articles_variations_op_val WHERE article_id IN ") + listedIds,
        QStringLiteral("DELETE FROM articles WHERE ") + listed,
        QStringLiteral("UPDATE articles SET account = 0 WHERE account = ") + id,
    };
    Transaction transaction(*db);
    bool ok = transaction.isOpen();
    for (const QString &statement : statements)
        ok = ok && db->executeSQL(statement);
    if (!ok || !transaction.commit()) {
        const QString error = db->lastErrorText;
        transaction.rollback();
        // The removal is the same when run again: the seller may simply try once more.
        Statics::showMessage(
            this,
            db->lastOutcome() == Database::Outcome::Unknown
                ? tr("Ob das Konto entfernt wurde, ist nicht bekannt: %1").arg(error)
                : tr("Das Konto konnte nicht entfernt werden: %1").arg(error),
            2);
    }
    loadAccounts();
}
