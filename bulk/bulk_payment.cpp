#include "bulk/bulk_payment.h"

#include "core/database.h"
#include "marketplace/api_ebay.h"
#include "ui_bulk_payment.h"

#include <QCheckBox>
#include <QLineEdit>

namespace {

const QString kBankTransfer = QStringLiteral("MoneyXferAcceptedInCheckout");

} // namespace

Bulk_Payment::Bulk_Payment(QWidget *parent, int siteId, const QString &idList)
    : BulkEditDialog(parent, idList, QStringLiteral("bulk_payments"))
    , ui(std::make_unique<Ui::Bulk_Payment>())
{
    ui->setupUi(this);
    setProgressBar(ui->progressBar);

    const std::unique_ptr<Api_Ebay> api = firstActiveAccountClient();
    if (!api)
        return;
    QList<QMap<QString, QString>> options;
    api->getEbayDetails(QString::number(siteId), QStringLiteral("PaymentOptionDetails"), options,
                        db.get());
    // Our own bank-transfer entry stands second, once, whatever the marketplace lists.
    bool listed = false;
    for (const auto &option : options)
        listed = listed || (!option.isEmpty() && option.firstKey() == kBankTransfer);
    if (!listed)
        options.insert(qMin(1, options.size()),
                       { { kBankTransfer, tr("Überweisung: Bankkontodaten anzeigen.") } });

    int row = 0;
    for (const auto &option : options) {
        if (option.isEmpty())
            continue;
        auto *box = new QCheckBox(option.first(), this);
        box->setProperty("PaymentID", option.firstKey());
        const QString label = row == 0 ? tr("Zahlbar per") : QString();
        ui->PaymentTabLayout->insertRow(row++, label, box);
        paymentBoxes << box;
        if (option.firstKey().toLower() == QLatin1String("paypal")) {
            payPalEdit = new QLineEdit(this);
            payPalEdit->setPlaceholderText(tr("Hinterlegen Sie hier Ihre PayPal E-Mailadresse"));
            payPalEdit->setModified(false);
            payPalEdit->setEnabled(false);
            connect(box, &QCheckBox::toggled, payPalEdit, &QLineEdit::setEnabled);
            ui->PaymentTabLayout->insertRow(row++, QString(), payPalEdit);
        }
    }
    if (!paymentBoxes.isEmpty())
        paymentBoxes.last()->setStyleSheet(QStringLiteral("margin-bottom: 8px"));

    fixSize();
}

Bulk_Payment::~Bulk_Payment() = default;

QString Bulk_Payment::commandName() const
{
    return tr("die Änderung der Zahlungsmethoden");
}

void Bulk_Payment::on_PayIns_toggled(bool checked)
{
    ui->PaymentInstructions->setEnabled(checked);
}

QMap<QString, QVariant> Bulk_Payment::changeRecord() const
{
    QStringList methods;
    for (const QCheckBox *box : paymentBoxes) {
        if (box->isChecked())
            methods << box->property("PaymentID").toString();
    }
    QMap<QString, QVariant> record;
    record.insert(QStringLiteral("PaymentMethods"), methods.join(QLatin1Char('|')));
    takeEdit(record, payPalEdit, QStringLiteral("PayPalEmailAddress"));
    if (ui->PayIns->isChecked())
        record.insert(QStringLiteral("PaymentInstructions"),
                      ui->PaymentInstructions->toPlainText());
    return record;
}
