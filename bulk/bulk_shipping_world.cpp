#include "bulk/bulk_shipping_world.h"

#include "bulk/shippingchoices.h"
#include "editor/companions/addarticleselectcountries.h"
#include "marketplace/api_ebay.h"
#include "ui_bulk_shipping_world.h"

#include <QPointer>

Bulk_Shipping_World::Bulk_Shipping_World(QWidget *parent, int siteId, const QString &idList,
                                         bool accountsDiffer, int accountId)
    : BulkEditDialog(parent, idList, QStringLiteral("bulk_payments"))
    , ui(std::make_unique<Ui::Bulk_Shipping_World>())
    , m_siteId(siteId)
{
    ui->setupUi(this);
    ui->IPromotionalShippingDiscount->setCheckState(Qt::PartiallyChecked);
    setProgressBar(ui->progressBar);

    QList<QMap<QString, QVariant>> accounts;
    const std::unique_ptr<Api_Ebay> api = firstActiveAccountClient(&accounts);
    if (!api)
        return;
    ShippingChoices::fillServices(*api, db.get(), siteId, QStringLiteral("IShippingServiceDetails"),
                                  { ui->IShippingService_1, ui->IShippingService_2,
                                    ui->IShippingService_3, ui->IShippingService_4,
                                    ui->IShippingService_5 });
    ShippingChoices::fillDiscountProfiles(accounts, ui->IShippingDiscountProfileID, db.get(),
                                          accountId, accountsDiffer);
    if (accountsDiffer) {
        ui->IPromotionalShippingDiscount->setEnabled(false);
        ui->IShippingDiscountProfileID->setEnabled(false);
    }
    fixSize();
}

Bulk_Shipping_World::~Bulk_Shipping_World() = default;

QString Bulk_Shipping_World::commandName() const
{
    return tr("die Änderung der Versandarten");
}

void Bulk_Shipping_World::on_IPromotionalShippingDiscount_stateChanged(int)
{
    ui->IShippingDiscountProfileID->setEnabled(ui->IPromotionalShippingDiscount->checkState()
                                                   != Qt::Unchecked
                                               && !ui->AcceptShipping->isChecked());
}

void Bulk_Shipping_World::on_AcceptShipping_toggled(bool checked)
{
    QWidget *const widgets[] = {
        ui->IShippingService_1,
        ui->IShippingService_2,
        ui->IShippingService_3,
        ui->IShippingService_4,
        ui->IShippingService_5,
        ui->IShippingService_1_SelCountries,
        ui->IShippingService_2_SelCountries,
        ui->IShippingService_3_SelCountries,
        ui->IShippingService_4_SelCountries,
        ui->IShippingService_5_SelCountries,
        ui->IShippingService_1_Cost,
        ui->IShippingService_2_Cost,
        ui->IShippingService_3_Cost,
        ui->IShippingService_4_Cost,
        ui->IShippingService_5_Cost,
        ui->IShippingService_1_Cost_Add,
        ui->IShippingService_2_Cost_Add,
        ui->IShippingService_3_Cost_Add,
        ui->IShippingService_4_Cost_Add,
        ui->IShippingService_5_Cost_Add,
        ui->IPromotionalShippingDiscount,
    };
    for (QWidget *widget : widgets)
        widget->setEnabled(!checked);
    on_IPromotionalShippingDiscount_stateChanged(0);
}

void Bulk_Shipping_World::chooseLocations(QToolButton *button, QLabel *label)
{
    QPointer<AddArticleSelectCountries> chooser = new AddArticleSelectCountries(
        this, db.get(), button->property("ids").toString(), QString::number(m_siteId));
    chooser->setWindowModality(Qt::WindowModal);
    const int result = chooser->exec();
    if (!chooser)
        return;
    if (result == 1) {
        label->setTextFormat(Qt::PlainText);
        label->setText(chooser->getCheckedAsText());
        button->setProperty("ids", chooser->getCheckedAdIds());
    }
    chooser->deleteLater();
}

void Bulk_Shipping_World::on_IShippingService_1_SelCountries_clicked()
{
    chooseLocations(ui->IShippingService_1_SelCountries, ui->IShippingService_1_Label);
}

void Bulk_Shipping_World::on_IShippingService_2_SelCountries_clicked()
{
    chooseLocations(ui->IShippingService_2_SelCountries, ui->IShippingService_2_Label);
}

void Bulk_Shipping_World::on_IShippingService_3_SelCountries_clicked()
{
    chooseLocations(ui->IShippingService_3_SelCountries, ui->IShippingService_3_Label);
}

void Bulk_Shipping_World::on_IShippingService_4_SelCountries_clicked()
{
    chooseLocations(ui->IShippingService_4_SelCountries, ui->IShippingService_4_Label);
}

void Bulk_Shipping_World::on_IShippingService_5_SelCountries_clicked()
{
    chooseLocations(ui->IShippingService_5_SelCountries, ui->IShippingService_5_Label);
}

QMap<QString, QVariant> Bulk_Shipping_World::changeRecord() const
{
    QMap<QString, QVariant> record;
    if (ui->AcceptShipping->isChecked()) {
        for (int row = 1; row <= 5; ++row)
            record.insert(QStringLiteral("ShippingServiceInt_%1").arg(row), QString());
        record.insert(QStringLiteral("IPromotionalShippingDiscount"), 0);
    } else {
        const QComboBox *services[]
            = { ui->IShippingService_1, ui->IShippingService_2, ui->IShippingService_3,
                ui->IShippingService_4, ui->IShippingService_5 };
        const QDoubleSpinBox *costs[] = { ui->IShippingService_1_Cost, ui->IShippingService_2_Cost,
                                          ui->IShippingService_3_Cost, ui->IShippingService_4_Cost,
                                          ui->IShippingService_5_Cost };
        const QDoubleSpinBox *adds[]
            = { ui->IShippingService_1_Cost_Add, ui->IShippingService_2_Cost_Add,
                ui->IShippingService_3_Cost_Add, ui->IShippingService_4_Cost_Add,
                ui->IShippingService_5_Cost_Add };
        const QToolButton *buttons[]
            = { ui->IShippingService_1_SelCountries, ui->IShippingService_2_SelCountries,
                ui->IShippingService_3_SelCountries, ui->IShippingService_4_SelCountries,
                ui->IShippingService_5_SelCountries };
        for (int i = 0; i < 5; ++i) {
            const QString column = QStringLiteral("ShippingServiceInt_%1").arg(i + 1);
            ShippingChoices::takeServiceRow(record, column, services[i], costs[i], adds[i]);
            // Locations only where the seller chose them in this dialog.
            const QVariant ids = buttons[i]->property("ids");
            if (ids.isValid())
                record.insert(column + QStringLiteral("_Loc"), ids.toString());
        }
    }
    if (ui->IPromotionalShippingDiscount->checkState() != Qt::PartiallyChecked)
        record.insert(QStringLiteral("IPromotionalShippingDiscount"),
                      ui->IPromotionalShippingDiscount->checkState() == Qt::Checked ? 1 : 0);
    ShippingChoices::takeDiscountProfile(record, QStringLiteral("IShippingDiscountProfileID"),
                                         ui->IShippingDiscountProfileID);
    return record;
}
