#include "bulk/bulk_shipping.h"

#include "bulk/shippingchoices.h"
#include "marketplace/api_ebay.h"
#include "ui_bulk_shipping.h"

Bulk_Shipping::Bulk_Shipping(QWidget *parent, int siteId, const QString &idList,
                             bool accountsDiffer, int accountId)
    : BulkEditDialog(parent, idList, QStringLiteral("bulk_payments"))
    , ui(std::make_unique<Ui::Bulk_Shipping>())
{
    ui->setupUi(this);
    // Partially checked: leave the flag as each article has it.
    ui->OfferPickup->setCheckState(Qt::PartiallyChecked);
    ui->PromotionalShippingDiscount->setCheckState(Qt::PartiallyChecked);
    ui->FreeShipping->setCheckState(Qt::PartiallyChecked);
    setProgressBar(ui->progressBar);

    QList<QMap<QString, QVariant>> accounts;
    const std::unique_ptr<Api_Ebay> api = firstActiveAccountClient(&accounts);
    if (!api)
        return;
    ShippingChoices::fillServices(*api, db.get(), siteId, QStringLiteral("ShippingServiceDetails"),
                                  { ui->ShippingService_1, ui->ShippingService_2,
                                    ui->ShippingService_3, ui->ShippingService_4 });
    ShippingChoices::fillDiscountProfiles(accounts, ui->ShippingDiscountProfileID, db.get(),
                                          accountId, accountsDiffer);
    if (accountsDiffer) {
        ui->PromotionalShippingDiscount->setEnabled(false);
        ui->ShippingDiscountProfileID->setEnabled(false);
    }
    fixSize();
}

Bulk_Shipping::~Bulk_Shipping() = default;

QString Bulk_Shipping::commandName() const
{
    return tr("die Änderung der Versandarten");
}

void Bulk_Shipping::on_OfferPickup_stateChanged(int)
{
    ui->OfferPickupPrice->setEnabled(ui->OfferPickup->checkState() != Qt::Unchecked);
}

void Bulk_Shipping::on_PromotionalShippingDiscount_stateChanged(int)
{
    ui->ShippingDiscountProfileID->setEnabled(ui->PromotionalShippingDiscount->checkState()
                                                  != Qt::Unchecked
                                              && !ui->AcceptShipping->isChecked());
}

void Bulk_Shipping::on_FreeShipping_stateChanged(int)
{
    const bool costs
        = !ui->AcceptShipping->isChecked() && ui->FreeShipping->checkState() != Qt::Checked;
    ui->ShippingService_1_Cost->setEnabled(costs);
    ui->ShippingService_1_Cost_Add->setEnabled(costs);
}

void Bulk_Shipping::on_AcceptShipping_toggled(bool checked)
{
    QWidget *const widgets[] = {
        ui->FreeShipping,
        ui->ShippingService_1,
        ui->ShippingService_2,
        ui->ShippingService_3,
        ui->ShippingService_4,
        ui->ShippingService_1_Cost,
        ui->ShippingService_2_Cost,
        ui->ShippingService_3_Cost,
        ui->ShippingService_4_Cost,
        ui->ShippingService_1_Cost_Add,
        ui->ShippingService_2_Cost_Add,
        ui->ShippingService_3_Cost_Add,
        ui->ShippingService_4_Cost_Add,
        ui->PromotionalShippingDiscount,
    };
    for (QWidget *widget : widgets)
        widget->setEnabled(!checked);
    on_OfferPickup_stateChanged(0);
    on_PromotionalShippingDiscount_stateChanged(0);
    on_FreeShipping_stateChanged(0);
}

QMap<QString, QVariant> Bulk_Shipping::changeRecord() const
{
    QMap<QString, QVariant> record;
    if (ui->AcceptShipping->isChecked()) {
        for (int row = 1; row <= 4; ++row)
            record.insert(QStringLiteral("ShippingService_%1").arg(row), QString());
        record.insert(QStringLiteral("PromotionalShippingDiscount"), 0);
    } else {
        const QComboBox *services[] = { ui->ShippingService_1, ui->ShippingService_2,
                                        ui->ShippingService_3, ui->ShippingService_4 };
        const QDoubleSpinBox *costs[] = { ui->ShippingService_1_Cost, ui->ShippingService_2_Cost,
                                          ui->ShippingService_3_Cost, ui->ShippingService_4_Cost };
        const QDoubleSpinBox *adds[]
            = { ui->ShippingService_1_Cost_Add, ui->ShippingService_2_Cost_Add,
                ui->ShippingService_3_Cost_Add, ui->ShippingService_4_Cost_Add };
        for (int i = 0; i < 4; ++i)
            ShippingChoices::takeServiceRow(record, QStringLiteral("ShippingService_%1").arg(i + 1),
                                            services[i], costs[i], adds[i]);
        if (ui->FreeShipping->checkState() == Qt::Checked) {
            record.insert(QStringLiteral("ShippingService_1_IsFree"), 1);
            record.insert(QStringLiteral("ShippingService_1_Cost"), 0);
            record.insert(QStringLiteral("ShippingService_1_Cost_Add"), 0);
        } else if (ui->FreeShipping->checkState() == Qt::Unchecked) {
            record.insert(QStringLiteral("ShippingService_1_IsFree"), 0);
        }
    }
    if (ui->OfferPickupPrice->value() > 0)
        record.insert(QStringLiteral("PickUpAcceptedCost"), ui->OfferPickupPrice->value());
    if (ui->OfferPickup->checkState() == Qt::Checked) {
        record.insert(QStringLiteral("PickUpAccepted"), 1);
    } else if (ui->OfferPickup->checkState() == Qt::Unchecked) {
        record.insert(QStringLiteral("PickUpAccepted"), 0);
        record.insert(QStringLiteral("PickUpAcceptedCost"), 0);
    }
    if (ui->PromotionalShippingDiscount->checkState() != Qt::PartiallyChecked)
        record.insert(QStringLiteral("PromotionalShippingDiscount"),
                      ui->PromotionalShippingDiscount->checkState() == Qt::Checked ? 1 : 0);
    ShippingChoices::takeDiscountProfile(record, QStringLiteral("ShippingDiscountProfileID"),
                                         ui->ShippingDiscountProfileID);
    return record;
}
