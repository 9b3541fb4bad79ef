#include "editor/companions/ownattribute.h"

#include <QPushButton>

#include "ui_ownattribute.h"

OwnAttribute::OwnAttribute(QWidget *parent)
    : QDialog(parent)
    , m_ui(new Ui::OwnAttribute)
{
    m_ui->setupUi(this);
    updateOk();
    m_ui->AttributeName->setFocus();
}

OwnAttribute::~OwnAttribute() = default;

QString OwnAttribute::getName() const
{
    return m_ui->AttributeName->text();
}

QString OwnAttribute::getVal() const
{
    return m_ui->AttributeValue->text();
}

void OwnAttribute::on_AttributeName_textChanged(const QString &)
{
    updateOk();
}

void OwnAttribute::on_AttributeValue_textChanged(const QString &)
{
    updateOk();
}

// A text of blanks counts as given.
void OwnAttribute::updateOk()
{
    m_ui->buttonBox->button(QDialogButtonBox::Ok)
        ->setEnabled(!m_ui->AttributeName->text().isEmpty()
                     && !m_ui->AttributeValue->text().isEmpty());
}
