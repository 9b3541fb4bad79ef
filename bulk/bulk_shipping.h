#pragma once

#include "bulk/bulkeditdialog.h"

#include <memory>

namespace Ui {
class Bulk_Shipping;
}

// The domestic shipping terms of the selected articles: up to four services with their
// costs, free shipping, pickup, the combined-payment discount, or no domestic shipping.
class Bulk_Shipping : public BulkEditDialog
{
    Q_OBJECT

public:
    Bulk_Shipping(QWidget *parent, int siteId, const QString &idList, bool accountsDiffer,
                  int accountId);
    ~Bulk_Shipping() override;
    QString commandName() const override;

private slots:
    void on_OfferPickup_stateChanged(int state);
    void on_PromotionalShippingDiscount_stateChanged(int state);
    void on_FreeShipping_stateChanged(int state);
    void on_AcceptShipping_toggled(bool checked);

protected:
    QMap<QString, QVariant> changeRecord() const override;

private:
    std::unique_ptr<Ui::Bulk_Shipping> ui;
};
