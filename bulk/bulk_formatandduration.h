#pragma once

#include "bulk/bulkeditdialog.h"

#include <memory>

namespace Ui {
class Bulk_FormatAndDuration;
}

// Listing format (only for drafts, templates and scheduled articles) and duration of the
// selected articles.
class Bulk_FormatAndDuration : public BulkEditDialog
{
    Q_OBJECT

public:
    Bulk_FormatAndDuration(QWidget *parent, const QString &idList, int folderId);
    ~Bulk_FormatAndDuration() override;
    QString commandName() const override;

protected:
    QMap<QString, QVariant> changeRecord() const override;

private:
    std::unique_ptr<Ui::Bulk_FormatAndDuration> ui;
};
