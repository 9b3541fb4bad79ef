#pragma once

#include <QDialog>
#include <QString>
#include <memory>

namespace Ui {
class FolderEdit;
}

// Asks for the name of a new folder or the new name of an existing one. The dialog cannot
// be confirmed while the name is empty.
class FolderEdit : public QDialog
{
    Q_OBJECT

public:
    // An empty `name` asks for a new folder; any other name is the folder to rename and
    // fills the line.
    explicit FolderEdit(QWidget *parent = nullptr, const QString &name = QString());
    ~FolderEdit() override;

    // The name as typed.
    QString GetFolderName() const;

private slots:
    void on_lineEdit_textChanged(const QString &arg1);

private:
    std::unique_ptr<Ui::FolderEdit> m_ui;
};
