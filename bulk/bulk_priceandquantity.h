#pragma once

#include "bulk/bulkeditdialog.h"

#include <memory>

namespace Ui {
class Bulk_PriceAndQuantity;
}

// Prices, VAT rate, quantity and lot size of the selected articles: each ticked field is
// set, or changed relative to each article's own value ("+5", "-5", "+5%", "-5%"). The
// database computes the new values, one UPDATE per ticked field and article.
class Bulk_PriceAndQuantity : public BulkEditDialog
{
    Q_OBJECT

public:
    Bulk_PriceAndQuantity(QWidget *parent, const QString &idList);
    ~Bulk_PriceAndQuantity() override;
    QString commandName() const override;

public slots:
    // Checks every entry first, then writes; closes with 1 only when every article was done.
    void accept() override;

private slots:
    void on_StartPriceBox_toggled(bool checked);
    void on_BuyItNowPriceBox_toggled(bool checked);
    void on_ReservePriceBox_toggled(bool checked);
    void on_VATPercentBox_toggled(bool checked);
    void on_QuantityBox_toggled(bool checked);
    void on_LotSizeBox_toggled(bool checked);

protected:
    // Not used: this dialog writes computed statements instead of one change record.
    QMap<QString, QVariant> changeRecord() const override { return {}; }

private:
    void stop(const QString &message, int type);

    std::unique_ptr<Ui::Bulk_PriceAndQuantity> ui;
};
