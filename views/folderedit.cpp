#include "views/folderedit.h"

#include <QDialogButtonBox>
#include <QLineEdit>
#include <QPushButton>

#include "ui_folderedit.h"

FolderEdit::FolderEdit(QWidget *parent, const QString &name)
    : QDialog(parent)
    , m_ui(new Ui::FolderEdit)
{
    m_ui->setupUi(this);
    m_ui->lineEdit->setText(name);
    if (!name.isEmpty()) {
        m_ui->headerLabel->setText(tr("Ordner umbenennen"));
        m_ui->textLabel->setText(tr("Geben Sie eine Bezeichnung für den Ordner ein"));
    }
    adjustSize();
    setMinimumSize(size());
    setMaximumSize(size());
    on_lineEdit_textChanged(m_ui->lineEdit->text());
    m_ui->lineEdit->setFocus();
}

FolderEdit::~FolderEdit() = default;

QString FolderEdit::GetFolderName() const
{
    return m_ui->lineEdit->text();
}

void FolderEdit::on_lineEdit_textChanged(const QString &arg1)
{
    m_ui->buttonBox->button(QDialogButtonBox::Ok)->setEnabled(!arg1.isEmpty());
}
