#pragma once

#include <QDialog>
#include <QPoint>
#include <QString>
#include <memory>

class Database;
class QLabel;
class QListWidgetItem;
class QMenu;

namespace Ui {
class TemplateSelect;
}

// Saves the edited article as a named template (save mode) or picks a template to load
// (load mode, which also renames and deletes templates). Templates are articles in the
// templates folder, named by their TemplateName.
class TemplateSelect : public QDialog
{
    Q_OBJECT

public:
    // The row id of a template in its list entry.
    static constexpr int IdRole = Qt::UserRole + 100;

    TemplateSelect(QWidget *parent, bool saveMode, QString templateName);
    ~TemplateSelect() override;

    QString GetTemplateName() const;
    // The row id of the first selected template.
    int GetLoadId() const;

    void accept() override;

    // Save mode: the template the seller agreed to overwrite, 0 for a new one.
    int overwriteId = 0;

private slots:
    void on_lineEdit_textChanged(const QString &text);
    void on_listWidget_itemSelectionChanged();
    void on_listWidget_itemDoubleClicked(QListWidgetItem *item);
    void on_actionUmbenennen_triggered();
    void on_actionL_schen_triggered();
    void on_listWidget_customContextMenuRequested(const QPoint &pos);

private:
    // Fills the list with the stored templates; false when they could not be read: the
    // dialog then says why and offers only Cancel.
    bool fillList();
    enum class Removed { Yes, No, Unknown };
    // Deletes the template `id` with its pictures and variations, in one transaction. After
    // a lost answer to the commit, whether it is gone is looked up: Unknown when that can't
    // be read either. No: nothing of it was deleted (lastErrorText of the connection says why).
    Removed removeTemplate(int id);
    QListWidgetItem *selectedItem() const;
    void setOkEnabled(bool enabled);

    std::unique_ptr<Ui::TemplateSelect> m_ui;
    std::unique_ptr<Database> m_db;
    QMenu *m_menu = nullptr;
    QLabel *m_notice = nullptr;
    bool m_listRead = true;
};
