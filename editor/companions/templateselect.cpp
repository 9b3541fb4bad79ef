#include "editor/companions/templateselect.h"

#include <QCursor>
#include <QListWidgetItem>
#include <QMenu>
#include <QPushButton>

#include "core/database.h"
#include "core/dialogs.h"
#include "core/statics.h"
#include "ui_templateselect.h"

TemplateSelect::TemplateSelect(QWidget *parent, bool saveMode, QString templateName)
    : QDialog(parent)
    , m_ui(new Ui::TemplateSelect)
    , m_db(new Database(true, QStringLiteral("templates")))
{
    m_ui->setupUi(this);
    m_menu = new QMenu(this);
    m_menu->addAction(m_ui->actionUmbenennen);
    m_menu->addAction(m_ui->actionL_schen);
    m_ui->listWidget->setContextMenuPolicy(Qt::CustomContextMenu);
    m_ui->actionUmbenennen->setEnabled(false);
    m_ui->actionL_schen->setEnabled(false);
    setOkEnabled(false);

    const SqlRows rows = m_db->select(QStringLiteral("SELECT TemplateName, id FROM articles WHERE "
                                                     "Folder = -100 ORDER BY TemplateName ASC"))
                             .legacyValue();
    for (const auto &row : rows) {
        auto *item = new QListWidgetItem(row.value(QStringLiteral("TemplateName")).toString(),
                                         m_ui->listWidget);
        item->setData(IdRole, row.value(QStringLiteral("id")).toInt());
    }

    if (saveMode) {
        m_ui->lineEdit->setText(templateName);
        m_ui->lineEdit->setFocus();
        m_ui->listWidget->setEnabled(false);
    } else {
        m_ui->label->hide();
        m_ui->lineEdit->hide();
    }
}

TemplateSelect::~TemplateSelect() = default;

QString TemplateSelect::GetTemplateName() const
{
    return m_ui->lineEdit->text();
}

int TemplateSelect::GetLoadId() const
{
    QListWidgetItem *item = selectedItem();
    return item ? item->data(IdRole).toInt() : 0;
}

QListWidgetItem *TemplateSelect::selectedItem() const
{
    const QList<QListWidgetItem *> selected = m_ui->listWidget->selectedItems();
    return selected.isEmpty() ? nullptr : selected.first();
}

void TemplateSelect::setOkEnabled(bool enabled)
{
    m_ui->buttonBox->button(QDialogButtonBox::Ok)->setEnabled(enabled);
}

void TemplateSelect::on_lineEdit_textChanged(const QString &text)
{
    setOkEnabled(!text.isEmpty());
}

void TemplateSelect::on_listWidget_itemSelectionChanged()
{
    const bool selected = selectedItem() != nullptr;
    m_ui->actionUmbenennen->setEnabled(selected);
    m_ui->actionL_schen->setEnabled(selected);
    if (m_ui->lineEdit->isHidden())
        setOkEnabled(selected);
}

void TemplateSelect::on_listWidget_itemDoubleClicked(QListWidgetItem *)
{
    if (selectedItem())
        accept();
}

void TemplateSelect::on_listWidget_customContextMenuRequested(const QPoint &)
{
    m_menu->popup(QCursor::pos());
}

void TemplateSelect::accept()
{
    if (m_ui->lineEdit->isHidden()) {
        QListWidgetItem *item = selectedItem();
        if (!item) {
            Statics::showMessage(this, tr("Es muss eine Vorlage ausgewählt werden"), 0);
            return;
        }
        m_ui->lineEdit->setText(item->text());
        done(1);
        return;
    }
    overwriteId = 0;
    const QString name = m_ui->lineEdit->text();
    for (int i = 0; i < m_ui->listWidget->count(); ++i) {
        QListWidgetItem *item = m_ui->listWidget->item(i);
        if (item->text() != name)
            continue;
        overwriteId = item->data(IdRole).toInt();
        if (Statics::showQuestionDialog(
                this, tr("Vorlage überschreiben"),
                tr("Es existiert bereits eine Vorlage mit dieser Bezeichnung, soll diese "
                   "überschrieben werden=")))
            done(1);
        return;
    }
    done(1);
}

void TemplateSelect::on_actionUmbenennen_triggered()
{
    QListWidgetItem *item = selectedItem();
    if (!item)
        return;
    bool ok = false;
    const QString name = Dialogs::text(this, tr("Vorlage umbenennen"), tr("Neuer Name:"),
                                       item->text(), &ok);
    if (!ok || name.isEmpty())
        return;
    if (!m_db->executeSQL(QStringLiteral("UPDATE articles SET TemplateName='")
                          + Database::escapeString(name) + QStringLiteral("' WHERE id=")
                          + QString::number(item->data(IdRole).toInt()))) {
        Statics::showMessage(this,
                             tr("Die Vorlage konnte nicht umbenannt werden: %1")
                                 .arg(m_db->lastErrorText),
                             2);
        return;
    }
    item->setText(name);
}

void TemplateSelect::on_actionL_schen_triggered()
{
    QListWidgetItem *item = selectedItem();
    if (!item)
        return;
    if (!Statics::showQuestionDialog(
            this, tr("Vorlage löschen"),
            tr("Soll die Vorlage - %1 - wirklich gelöscht werden?").arg(item->text())))
        return;
    // The row first: when it can't go, nothing of the template is lost. Its pictures and
    // variations follow it.
    const QString id = QString::number(item->data(IdRole).toInt());
    const auto failed = [this] {
        Statics::showMessage(
            this, tr("Die Vorlage konnte nicht gelöscht werden: %1").arg(m_db->lastErrorText), 2);
    };
    if (!m_db->executeSQL(QStringLiteral("DELETE FROM articles WHERE id=") + id)) {
        failed();
        return;
    }
    for (const char *table : { "articles_images", "articles_variations",
                               "articles_variations_op_val" }) {
        if (!m_db->executeSQL(QStringLiteral("DELETE FROM ") + QLatin1String(table)
                              + QStringLiteral(" WHERE article_id=") + id)) {
            failed();
            break;
        }
    }
    delete m_ui->listWidget->takeItem(m_ui->listWidget->row(item));
}
