#pragma once

#include <QDialog>
#include <QString>
#include <memory>

namespace Ui {
class EndItem;
}

// Asks why the selected running listings are to be ended early. Each radio button is
// named after the marketplace's ending reason code it stands for; the caller sends the
// chosen code unchanged with every listing it ends.
class EndItem : public QDialog
{
    Q_OBJECT

public:
    explicit EndItem(QWidget *parent = nullptr);
    ~EndItem() override;

    // The code of the checked reason ("Incorrect", "LostOrBroken", "NotAvailable",
    // "OtherListingError" or "SellToHighBidder"); empty when none is checked.
    QString getReason();

private:
    std::unique_ptr<Ui::EndItem> m_ui;
};
