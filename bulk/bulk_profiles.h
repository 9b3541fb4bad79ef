#pragma once

#include "bulk/bulkeditdialog.h"

#include <memory>

namespace Ui {
class Bulk_Profiles;
}

// The business policies (payment, shipping, returns) of the selected articles, all of one
// account on one site. The choices are fetched from the marketplace once the dialog shows.
class Bulk_Profiles : public BulkEditDialog
{
    Q_OBJECT

public:
    Bulk_Profiles(QWidget *parent, int accountId, int siteId, const QString &idList);
    ~Bulk_Profiles() override;
    QString commandName() const override;

private slots:
    void setup();

protected:
    QMap<QString, QVariant> changeRecord() const override;

private:
    std::unique_ptr<Ui::Bulk_Profiles> ui;
    int m_accountId;
    int m_siteId;
};
