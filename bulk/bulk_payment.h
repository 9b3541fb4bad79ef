#pragma once

#include "bulk/bulkeditdialog.h"

#include <QList>
#include <memory>

class QCheckBox;
class QLineEdit;

namespace Ui {
class Bulk_Payment;
}

// The payment methods, PayPal address and payment instructions of the selected articles.
// The ticked methods replace the articles' methods as a whole.
class Bulk_Payment : public BulkEditDialog
{
    Q_OBJECT

public:
    Bulk_Payment(QWidget *parent, int siteId, const QString &idList);
    ~Bulk_Payment() override;
    QString commandName() const override;

    // One box per payment method, in display order; property "PaymentID" holds its code.
    QList<QCheckBox *> paymentBoxes;
    // The PayPal address; null when the site offers no PayPal.
    QLineEdit *payPalEdit = nullptr;

private slots:
    void on_PayIns_toggled(bool checked);

protected:
    QMap<QString, QVariant> changeRecord() const override;

private:
    std::unique_ptr<Ui::Bulk_Payment> ui;
};
