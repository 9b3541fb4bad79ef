#pragma once

#include "bulk/bulkeditdialog.h"

#include <memory>

class QLabel;
class QToolButton;

namespace Ui {
class Bulk_Shipping_World;
}

// The international shipping terms of the selected articles: up to five services with
// their costs and ship-to locations, the combined-payment discount, or no international
// shipping.
class Bulk_Shipping_World : public BulkEditDialog
{
    Q_OBJECT

public:
    Bulk_Shipping_World(QWidget *parent, int siteId, const QString &idList, bool accountsDiffer,
                        int accountId);
    ~Bulk_Shipping_World() override;
    QString commandName() const override;

private slots:
    void on_IPromotionalShippingDiscount_stateChanged(int state);
    void on_AcceptShipping_toggled(bool checked);
    void on_IShippingService_1_SelCountries_clicked();
    void on_IShippingService_2_SelCountries_clicked();
    void on_IShippingService_3_SelCountries_clicked();
    void on_IShippingService_4_SelCountries_clicked();
    void on_IShippingService_5_SelCountries_clicked();

protected:
    QMap<QString, QVariant> changeRecord() const override;

private:
    // Lets the seller choose the ship-to locations of one service row.
    void chooseLocations(QToolButton *button, QLabel *label);

    std::unique_ptr<Ui::Bulk_Shipping_World> ui;
    int m_siteId;
};
