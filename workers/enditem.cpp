#include "workers/enditem.h"

#include <QRadioButton>

#include "ui_enditem.h"

EndItem::EndItem(QWidget *parent)
    : QDialog(parent)
    , m_ui(new Ui::EndItem)
{
    m_ui->setupUi(this);
    adjustSize();
    setMinimumSize(size());
    setMaximumSize(size());
}

EndItem::~EndItem() = default;

QString EndItem::getReason()
{
    // In the order of the form; the first checked one wins.
    for (QRadioButton *button : { m_ui->Incorrect, m_ui->LostOrBroken, m_ui->NotAvailable,
                                  m_ui->OtherListingError, m_ui->SellToHighBidder }) {
        if (button->isChecked())
            return button->objectName();
    }
    return QString();
}
