#pragma once

#include "bulk/bulkeditdialog.h"

#include <memory>

namespace Ui {
class Bulk_PriceAndQuantity;
}

// Prices, VAT rate, quantity and lot size of the selected articles: each ticked field is
// set, or changed relative to each article's own value ("+5", "-5", "+5%", "-5%"). Each
// article's new values are computed from its values read in the command's transaction and
// written as values, one UPDATE per article. A result below zero or above the maximum
// refuses the whole command, naming the articles.
class Bulk_PriceAndQuantity : public BulkEditDialog
{
    Q_OBJECT

public:
    Bulk_PriceAndQuantity(QWidget *parent, const QString &idList);
    ~Bulk_PriceAndQuantity() override;
    QString commandName() const override;

public slots:
    // Checks every entry first, then writes all articles or none; closes with 1 when they
    // were stored, stays open after a refusal or a failure (nothing was stored), and closes
    // with 0 and outcomeUnknown() when that is not known.
    void accept() override;

private slots:
    void on_StartPriceBox_toggled(bool checked);
    void on_BuyItNowPriceBox_toggled(bool checked);
    void on_ReservePriceBox_toggled(bool checked);
    void on_VATPercentBox_toggled(bool checked);
    void on_QuantityBox_toggled(bool checked);
    void on_LotSizeBox_toggled(bool checked);

protected:
    // Not used: this dialog computes each article's values instead of one change record.
    QMap<QString, QVariant> changeRecord() const override { return {}; }

private:
    void stop(const QString &message, int type);

    std::unique_ptr<Ui::Bulk_PriceAndQuantity> ui;
};
