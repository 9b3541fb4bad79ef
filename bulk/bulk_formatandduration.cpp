#include "bulk/bulk_formatandduration.h"

#include "core/specialfolderid.h"
#include "ui_bulk_formatandduration.h"

Bulk_FormatAndDuration::Bulk_FormatAndDuration(QWidget *parent, const QString &idList, int folderId)
    : BulkEditDialog(parent, idList, QStringLiteral("bulkedit"))
    , ui(std::make_unique<Ui::Bulk_FormatAndDuration>())
{
    ui->setupUi(this);
    setProgressBar(ui->progressBar);

    addNoChangeEntry(ui->FormatBox);
    ui->FormatBox->addItem(tr("Auktion"), QStringLiteral("Chinese"));
    ui->FormatBox->addItem(tr("Festpreisangebot"), QStringLiteral("FixedPriceItem"));
    // The format of listed or listing articles is the marketplace's: only unlisted ones
    // may change it.
    const bool formatEditable = folderId >= 1 || folderId == int(SpecialFolderId::Drafts)
        || folderId == int(SpecialFolderId::Scheduled);
    if (formatEditable) {
        ui->FormatBox->setEnabled(true);
    } else {
        ui->FormatBox->insertItem(0, tr("Änderung nur bei Vorlagen möglich"), 0);
        ui->FormatBox->setCurrentIndex(0);
        ui->FormatBox->setEnabled(false);
    }

    addNoChangeEntry(ui->DurationBox);
    for (int days : { 1, 3, 5, 7, 10 })
        ui->DurationBox->addItem(tr("%1 Tag").arg(days), QStringLiteral("Days_%1").arg(days));
    ui->DurationBox->setEnabled(true);

    fixSize();
}

Bulk_FormatAndDuration::~Bulk_FormatAndDuration() = default;

QString Bulk_FormatAndDuration::commandName() const
{
    return tr("die Änderung von Format und Laufzeit");
}

QMap<QString, QVariant> Bulk_FormatAndDuration::changeRecord() const
{
    QMap<QString, QVariant> record;
    // Where the format is fixed the combo shows its note entry, index 0.
    takeCombo(record, ui->FormatBox, QStringLiteral("ListingType"));
    takeCombo(record, ui->DurationBox, QStringLiteral("ListingDuration"));
    return record;
}
