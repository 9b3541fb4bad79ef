#include "bulk/bulk_priceandquantity.h"

#include "bulk/bulkwriter.h"
#include "bulk/pricechange.h"
#include "core/database.h"
#include "core/statics.h"
#include "ui_bulk_priceandquantity.h"

#include "core/numberreader.h"

#include <QLocale>
#include <QSqlQuery>
#include <QVector>

#include <memory>

namespace {

// Articles read and written per step of a run.
constexpr int kStepArticles = 100;
// Articles named when a change is refused.
constexpr int kNamedArticles = 10;

// A stored number; an empty cell is 0. Older rows may hold a seller's text ("12,50").
bool storedNumber(const QVariant &stored, double *value)
{
    *value = 0;
    if (stored.isNull())
        return true;
    switch (stored.userType()) {
    case QMetaType::Double:
    case QMetaType::Float:
    case QMetaType::Int:
    case QMetaType::UInt:
    case QMetaType::LongLong:
    case QMetaType::ULongLong:
        *value = stored.toDouble();
        return true;
    default:
        return stored.toString().trimmed().isEmpty()
            || NumberReader::readStored(stored.toString(), value);
    }
}

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

QString Bulk_PriceAndQuantity::commandName() const
{
    return tr("die Preisänderung");
}

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
    if (isWriting())
        return;

    // Every entry is read before the first article is written.
    QList<QPair<QString, PriceChange>> changes;
    QStringList labels;
    for (const Entry &entry : entries) {
        if (!entry.box->isChecked())
            continue;
        PriceChange change;
        switch (PriceChange::parse(entry.edit->text(), entry.field, &change)) {
        case PriceChange::Error::None:
            changes.append({ QString::fromLatin1(entry.column), change });
            labels << entry.box->text();
            continue;
        case PriceChange::Error::TooLarge:
            stop(tr("„%1“ im Feld „%2“ liegt über dem Höchstwert %3.")
                     .arg(entry.edit->text(), entry.box->text(),
                          entry.field == PriceChange::Field::Whole
                              ? QLocale(QLocale::German).toString(PriceChange::kMaxWhole)
                              : QLocale(QLocale::German).toString(PriceChange::kMaxPrice, 'f', 2)),
                 1);
            return;
        case PriceChange::Error::TooManyDecimals:
            stop(tr("„%1“ im Feld „%2“ hat mehr als zwei Nachkommastellen. Ein Preis wird auf "
                    "den Cent genau angegeben, zum Beispiel 12,35.")
                     .arg(entry.edit->text(), entry.box->text()),
                 1);
            return;
        case PriceChange::Error::MisplacedSign:
            stop(tr("„%1“ im Feld „%2“ ist nicht eindeutig: + oder - darf nur vor dem Wert "
                    "stehen, % nur dahinter, zum Beispiel +5 oder -5%.")
                     .arg(entry.edit->text(), entry.box->text()),
                 1);
            return;
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
    // Every article's new values are computed from the values read inside the command's
    // transaction and written as values: sent twice, the command sets the same values.
    QString select = QStringLiteral("SELECT id, Title");
    for (const auto &change : qAsConst(changes))
        select += QStringLiteral(", `") + change.first + QLatin1Char('`');
    select += QStringLiteral(" FROM articles WHERE ");
    // The articles whose values would leave the allowed range: counted, the first named.
    struct Refusals
    {
        QStringList named;
        int count = 0;
    };
    auto refusals = std::make_shared<Refusals>();
    // Runs on the background worker: it holds only copies.
    const auto job = [ids, changes, labels, select, refusals](Database &writer,
                                                               const BulkWriter::Progress &progress,
                                                               const BulkWriter::Stop &stopped) {
        return BulkWriter::run(
            writer, ids, kStepArticles,
            [&](const QStringList &step, BulkWriter::Result &run) {
                QSqlQuery query;
                if (!writer.selectQuery(select + BulkWriter::idCondition(step), query))
                    return BulkWriter::failed(writer, run);
                QVector<QPair<QString, QMap<QString, QVariant>>> records;
                while (query.next()) {
                    const QString id = query.value(0).toString();
                    QMap<QString, QVariant> record;
                    QStringList wrong;
                    for (int i = 0; i < changes.size(); ++i) {
                        const PriceChange &change = changes.at(i).second;
                        const QVariant stored = query.value(2 + i);
                        double old = 0;
                        const bool readable = storedNumber(stored, &old);
                        QString value;
                        const PriceChange::Value made
                            = readable ? change.apply(old, &value) : PriceChange::Value::Ok;
                        if (!readable)
                            wrong << tr("%1 ist keine Zahl (%2)")
                                         .arg(labels.at(i), stored.toString());
                        else if (made == PriceChange::Value::Negative)
                            wrong << tr("%1 würde negativ").arg(labels.at(i));
                        else if (made == PriceChange::Value::TooLarge)
                            wrong << tr("%1 läge über dem Höchstwert").arg(labels.at(i));
                        else
                            record.insert(changes.at(i).first, value);
                    }
                    if (!wrong.isEmpty()) {
                        ++refusals->count;
                        if (refusals->named.size() < kNamedArticles)
                            refusals->named << tr("Artikel %1 „%2“: %3")
                                                   .arg(id, query.value(1).toString(),
                                                        wrong.join(QStringLiteral(", ")));
                        continue;
                    }
                    if (record.contains(QStringLiteral("StartPrice")))
                        record.insert(QStringLiteral("CurrentPrice"), 0);
                    records.append({ id, record });
                }
                // An article not read would keep its old price while the others change: the
                // command fails whole.
                if (!writer.rowsComplete(query))
                    return BulkWriter::failed(writer, run);
                query.finish();
                // Once one article is refused nothing is written: the command is refused whole.
                if (refusals->count > 0)
                    return true;
                for (const auto &record : qAsConst(records)) {
                    if (writer.updateSqlClean(record.second, QStringLiteral("articles"),
                                              QStringLiteral("id=") + record.first))
                        ++run.written;
                    else if (!BulkWriter::failed(writer, run))
                        return false;
                }
                return true;
            },
            progress,
            [&](BulkWriter::Result &run) {
                if (refusals->count == 0)
                    return true;
                run.outcome = Database::Outcome::Refused;
                QString text
                    = tr("Die Änderung wurde nicht gespeichert: bei %1 ergäbe sie einen "
                         "negativen Wert oder einen Wert über dem Höchstwert.")
                          .arg(refusals->count == 1 ? tr("1 Artikel")
                                                    : tr("%1 Artikeln").arg(refusals->count));
                text += QStringLiteral("\n\n") + refusals->named.join(QLatin1Char('\n'));
                if (refusals->count > refusals->named.size())
                    text += QLatin1Char('\n')
                        + tr("… und %1 weitere").arg(refusals->count - refusals->named.size());
                run.error = text;
                return false;
            },
            stopped);
    };
    startRun(ids.size(), job, [this, refusals](const BulkWriter::Result &result) {
        if (result.stored() || result.unknown() || result.cancelled) {
            finishRun(result);
            return;
        }
        // Nothing was stored: the dialog stays open with the entries.
        if (refusals->count > 0)
            stop(result.error, 1);
        else
            stop(tr("Ein Fehler ist aufgetreten: %1").arg(result.error), 2);
    });
}
