#include "bulk/bulk_location.h"

#include "core/database.h"
#include "marketplace/api_ebay.h"
#include "ui_bulk_location.h"

Bulk_Location::Bulk_Location(QWidget *parent, const QString &idList)
    : BulkEditDialog(parent, idList, QStringLiteral("bulkedit"))
    , ui(std::make_unique<Ui::Bulk_Location>())
{
    ui->setupUi(this);
    setProgressBar(ui->progressBar);
    addNoChangeEntry(ui->Country);
    addNoChangeEntry(ui->DispatchTimeMax);
    ui->PostalCode->setModified(false);
    ui->Location->setModified(false);

    const std::unique_ptr<Api_Ebay> api = firstActiveAccountClient();
    if (!api)
        return;

    QList<QMap<QString, QString>> rows;
    api->getEbayDetails(QStringLiteral("77"), QStringLiteral("CountryDetails"), rows, db.get());
    for (const auto &row : rows) {
        if (row.isEmpty())
            continue;
        const QString code = row.firstKey();
        // The home markets first, right after the no-change entry.
        if (code == QLatin1String("AT") || code == QLatin1String("CH")
            || code == QLatin1String("DE"))
            ui->Country->insertItem(1, row.first(), code);
        else
            ui->Country->addItem(row.first(), code);
    }

    rows.clear();
    api->getEbayDetails(QStringLiteral("77"), QStringLiteral("DispatchTimeMaxDetails"), rows,
                        db.get());
    for (const auto &row : rows) {
        if (!row.isEmpty())
            ui->DispatchTimeMax->addItem(row.first(), row.firstKey());
    }

    fixSize();
}

Bulk_Location::~Bulk_Location() = default;

QString Bulk_Location::commandName() const
{
    return tr("die Änderung von Artikelstandort und Bearbeitungszeit");
}

QMap<QString, QVariant> Bulk_Location::changeRecord() const
{
    QMap<QString, QVariant> record;
    takeCombo(record, ui->Country, QStringLiteral("Country"));
    takeEdit(record, ui->PostalCode, QStringLiteral("PostalCode"));
    takeEdit(record, ui->Location, QStringLiteral("Location"));
    takeCombo(record, ui->DispatchTimeMax, QStringLiteral("DispatchTimeMax"));
    return record;
}
