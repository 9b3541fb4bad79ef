#pragma once

#include "bulk/bulkeditdialog.h"

#include <memory>

namespace Ui {
class Bulk_Location;
}

// Country, postal code, place and dispatch time of the selected articles.
class Bulk_Location : public BulkEditDialog
{
    Q_OBJECT

public:
    Bulk_Location(QWidget *parent, const QString &idList);
    ~Bulk_Location() override;
    QString commandName() const override;

protected:
    QMap<QString, QVariant> changeRecord() const override;

private:
    std::unique_ptr<Ui::Bulk_Location> ui;
};
