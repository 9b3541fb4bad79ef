#pragma once

#include "bulk/bulkeditdialog.h"

#include <memory>

namespace Ui {
class Bulk_Account;
}

// Account, PayPal address and store categories of the selected articles. The store
// categories belong to the account chosen in the dialog.
class Bulk_Account : public BulkEditDialog
{
    Q_OBJECT

public:
    Bulk_Account(QWidget *parent, const QString &idList, int folderId, int accountId,
                 bool accountsDiffer);
    ~Bulk_Account() override;
    QString commandName() const override;

private slots:
    void on_Account_currentIndexChanged(int index);

protected:
    QMap<QString, QVariant> changeRecord() const override;

private:
    std::unique_ptr<Ui::Bulk_Account> ui;
};
