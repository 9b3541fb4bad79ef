#include "bulk/bulk_priceandquantity.h"

#include "bulk/bulkwriter.h"
#include "bulk/pricechange.h"
#include "core/database.h"
#include "core/statics.h"
#include "ui_bulk_priceandquantity.h"

#include <QCoreApplication>
#include <QElapsedTimer>

namespace {

struct Entry
{
    const char *column;
    QCheckBox *box;
    QLineEdit *edit;
    PriceChange::Field field;
};

} // namespace

Bulk_PriceAndQuantity::Bulk_PriceAndQuantity(QWidget *parent, const QString &idList)
    : BulkEditDialog(parent, idList, QStringLiteral("bulkedit"))
    , ui(std::make_unique<Ui::Bulk_PriceAndQuantity>())
{
    ui->setupUi(this);
    setProgressBar(ui->progressBar);
    fixSize();
}

Bulk_PriceAndQuantity::~Bulk_PriceAndQuantity() = default;

void Bulk_PriceAndQuantity::on_StartPriceBox_toggled(bool checked)
{
    ui->StartPrice->setEnabled(checked);
}

void Bulk_PriceAndQuantity::on_BuyItNowPriceBox_toggled(bool checked)
{
    ui->BuyItNowPrice->setEnabled(checked);
}

void Bulk_PriceAndQuantity::on_ReservePriceBox_toggled(bool checked)
{
    ui->ReservePrice->setEnabled(checked);
}

void Bulk_PriceAndQuantity::on_VATPercentBox_toggled(bool checked)
{
    ui->VATPercent->setEnabled(checked);
}

void Bulk_PriceAndQuantity::on_QuantityBox_toggled(bool checked)
{
    ui->Quantity->setEnabled(checked);
}

void Bulk_PriceAndQuantity::on_LotSizeBox_toggled(bool checked)
{
    ui->LotSize->setEnabled(checked);
}

void Bulk_PriceAndQuantity::stop(const QString &message, int type)
{
    setEnabled(true);
    ui->progressBar->setVisible(false);
    Statics::showMessage(this, message, type);
}

void Bulk_PriceAndQuantity::accept()
{
    const Entry entries[] = {
        { "StartPrice", ui->StartPriceBox, ui->StartPrice, PriceChange::Field::Price },
        { "BuyItNowPrice", ui->BuyItNowPriceBox, ui->BuyItNowPrice, PriceChange::Field::Price },
        { "ReservePrice", ui->ReservePriceBox, ui->ReservePrice, PriceChange::Field::Price },
        { "VAT_VATPercent", ui->VATPercentBox, ui->VATPercent, PriceChange::Field::Vat },
        { "Quantity", ui->QuantityBox, ui->Quantity, PriceChange::Field::Whole },
        { "LotSize", ui->LotSizeBox, ui->LotSize, PriceChange::Field::Whole },
    };
    setEnabled(false);

    // Every entry is read before the first article is written.
    QList<QPair<QString, PriceChange>> changes;
    for (const Entry &entry : entries) {
        if (!entry.box->isChecked())
            continue;
        PriceChange change;
        switch (PriceChange::parse(entry.edit->text(), entry.field, &change)) {
        case PriceChange::Error::None:
            changes.append({ QString::fromLatin1(entry.column), change });
            continue;
        case PriceChange::Error::PercentWithoutSign:
            stop(tr("Die Eingabe ist nicht korrekt. Für % muss ein + oder - vor den Wert gesetzt "
                    "werden"),
                 0);
            return;
        case PriceChange::Error::SignInVat:
            stop(tr("Die Eingabe ist nicht korrekt. Zur Angabe der Mehrwertsteuer dürfen keine "
                    "Vorzeichen bzw. Prozentangaben gemacht werden"),
                 0);
            return;
        case PriceChange::Error::NotANumber:
            if (entry.edit == ui->Quantity)
                stop(tr("Die Eingabe für die Menge ist nicht korrekt"), 0);
            else if (entry.edit == ui->LotSize)
                stop(tr("Die Eingabe für die Postenanzahl ist nicht korrekt"), 0);
            else
                stop(tr("Ein Fehler ist aufgetreten: %1")
                         .arg(tr("„%1“ im Feld „%2“ ist keine Zahl.")
                                  .arg(entry.edit->text(), entry.box->text())),
                     2);
            return;
        }
    }

    const QStringList ids = BulkWriter::articleIds(idList);
    ui->progressBar->setMaximum(ids.size());
    ui->progressBar->setValue(0);
    ui->progressBar->setVisible(true);
    QElapsedTimer sinceRepaint;
    sinceRepaint.start();
    for (int i = 0; i < ids.size(); ++i) {
        ui->progressBar->setValue(i);
        for (const auto &change : qAsConst(changes)) {
            if (!db->executeSQL(change.second.statement(change.first, ids.at(i).toLongLong()))) {
                stop(tr("Ein Fehler ist aufgetreten: %1").arg(db->lastErrorText), 2);
                return;
            }
        }
        if (sinceRepaint.elapsed() >= 100) {
            QCoreApplication::processEvents();
            sinceRepaint.restart();
        }
    }
    setEnabled(true);
    done(1);
}
