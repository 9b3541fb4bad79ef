#include "bulk/bulk_account.h"

#include "core/database.h"
#include "core/specialfolderid.h"
#include "core/statics.h"
#include "marketplace/api_ebay.h"
#include "ui_bulk_account.h"
#include "views/choicelists.h"

Bulk_Account::Bulk_Account(QWidget *parent, const QString &idList, int folderId, int accountId,
                           bool accountsDiffer)
    : BulkEditDialog(parent, idList, QStringLiteral("GebAccount"))
    , ui(std::make_unique<Ui::Bulk_Account>())
{
    ui->setupUi(this);
    setProgressBar(ui->progressBar);

    {
        // No reaction to the entries being added.
        const QSignalBlocker blocker(ui->Account);
        addNoChangeEntry(ui->Account);
        const Read<SqlRows> accounts
            = db->select(QStringLiteral("SELECT * FROM accounts ORDER BY accountname ASC"));
        if (!accounts.ok()) {
            // An empty list would pass for "no accounts": the dialog is not opened.
            Statics::showMessage(nullptr,
                                 tr("Die eBay-Konten konnten nicht aus der Datenbank gelesen "
                                    "werden, der Dialog kann daher nicht geöffnet werden: %1")
                                     .arg(accounts.error()),
                                 2);
            refuseToOpen();
            return;
        }
        for (const auto &account : *accounts)
            ui->Account->addItem(account.value(QStringLiteral("accountname")).toString(),
                                 account.value(QStringLiteral("id")).toInt());
    }
    ui->Account->setEnabled(ui->Account->count() >= 2);
    addNoChangeEntry(ui->StoreCategoryID);
    addNoChangeEntry(ui->StoreCategory2ID);
    ui->StoreCategoryID->setEnabled(false);
    ui->StoreCategory2ID->setEnabled(false);
    ui->PayPal->setModified(false);

    // Running listings keep their account; their common account is shown for its store
    // categories.
    if (folderId == int(SpecialFolderId::Active)) {
        ui->Account->setEnabled(false);
        if (!accountsDiffer) {
            int index = 0;
            for (int i = 1; i < ui->Account->count(); ++i) {
                if (ui->Account->itemData(i).toInt() == accountId) {
                    index = i;
                    break;
                }
            }
            const QSignalBlocker blocker(ui->Account);
            ui->Account->setCurrentIndex(index);
            on_Account_currentIndexChanged(index);
        }
    }

    fixSize();
}

Bulk_Account::~Bulk_Account() = default;

QString Bulk_Account::commandName() const
{
    return tr("die Änderung von Konto, PayPal und Shopkategorien");
}

void Bulk_Account::on_Account_currentIndexChanged(int index)
{
    QComboBox *const boxes[] = { ui->StoreCategoryID, ui->StoreCategory2ID };
    for (QComboBox *box : boxes) {
        box->clear();
        addNoChangeEntry(box);
        box->setCurrentIndex(0);
        box->setEnabled(false);
    }
    if (index < 1)
        return;

    setEnabled(false);
    const Read<SqlRows> rows
        = db->select(QStringLiteral("SELECT apiresult,token,sandbox,id FROM accounts WHERE id=")
                     + QString::number(ui->Account->itemData(index).toInt()));
    if (!rows.ok()) {
        // Whether the account has a shop is not known: the account is not changed either,
        // so that no article keeps the store categories of its old account by mistake.
        Statics::showMessage(this,
                             tr("Das Konto konnte nicht aus der Datenbank gelesen werden, es "
                                "bleibt daher unverändert: %1")
                                 .arg(rows.error()),
                             2);
        const QSignalBlocker blocker(ui->Account);
        ui->Account->setCurrentIndex(0);
    } else if (!rows->isEmpty()) {
        const auto &account = rows->first();
        // Only an account with a store on the marketplace has store categories.
        if (account.value(QStringLiteral("apiresult"))
                .toString()
                .contains(QLatin1String("<StoreOwner>true<"))) {
            Api_Ebay api(account.value(QStringLiteral("token")).toString(), this,
                         account.value(QStringLiteral("sandbox")).toInt());
            ChoiceLists::addStoreCategories(
                { ui->StoreCategoryID, ui->StoreCategory2ID },
                api.getStore(QStringLiteral("77"), account.value(QStringLiteral("id")).toInt(),
                             db.get()));
            for (QComboBox *box : boxes) {
                box->setEnabled(box->count() >= 2);
                box->setVisible(true);
            }
        }
    }
    setEnabled(true);
}

QMap<QString, QVariant> Bulk_Account::changeRecord() const
{
    QMap<QString, QVariant> record;
    takeCombo(record, ui->Account, QStringLiteral("Account"), true);
    takeCombo(record, ui->StoreCategoryID, QStringLiteral("StoreCategoryID"));
    takeCombo(record, ui->StoreCategory2ID, QStringLiteral("StoreCategory2ID"));
    takeEdit(record, ui->PayPal, QStringLiteral("PayPalEmailAddress"));
    return record;
}
