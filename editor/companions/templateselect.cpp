#include "editor/companions/templateselect.h"

#include <QCursor>
#include <QListWidgetItem>
#include <QMenu>
#include <QPushButton>

#include "core/database.h"
#include "core/dialogs.h"
#include "core/statics.h"
#include "core/transaction.h"
#include "ui_templateselect.h"
#include "views/noticelabel.h"

#include <QLabel>

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

    fillList();

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

bool TemplateSelect::fillList()
{
    const Read<SqlRows> rows = m_db->select(QStringLiteral(
        "SELECT TemplateName, id FROM articles WHERE Folder = -100 ORDER BY TemplateName ASC"));
    m_ui->listWidget->clear();
    if (!rows.ok()) {
        // Without the list nothing can be chosen, and a name given in save mode might be
        // that of a stored template, which would then be there twice: only Cancel is left.
        m_listRead = false;
        if (!m_notice) {
            m_notice = createNoticeLabel(this, QStringLiteral("TemplatesNotice"));
            m_ui->gridLayout->addWidget(m_notice, 5, 0);
        }
        m_notice->setText(tr("Die Vorlagen konnten nicht aus der Datenbank gelesen werden: %1")
                              .arg(rows.error()));
        m_notice->show();
        m_ui->listWidget->setEnabled(false);
        setOkEnabled(false);
        return false;
    }
    for (const auto &row : *rows) {
        auto *item = new QListWidgetItem(row.value(QStringLiteral("TemplateName")).toString(),
                                         m_ui->listWidget);
        item->setData(IdRole, row.value(QStringLiteral("id")).toInt());
    }
    return true;
}

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
    m_ui->buttonBox->button(QDialogButtonBox::Ok)->setEnabled(enabled && m_listRead);
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
    if (!m_listRead)
        return;
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
    // One statement that sets a value: sent again after a lost answer, so that its outcome
    // is known when it is told.
    if (!m_db->executeSQL(QStringLiteral("UPDATE articles SET TemplateName='")
                              + Database::escapeString(name) + QStringLiteral("' WHERE id=")
                              + QString::number(item->data(IdRole).toInt()),
                          Database::Repeat::Safe)) {
        if (m_db->lastOutcome() == Database::Outcome::Unknown) {
            Statics::showMessage(this,
                                 tr("Ob die Vorlage umbenannt wurde, ist nicht bekannt: die "
                                    "Verbindung zur Datenbank brach ab. Die Liste zeigt jetzt, "
                                    "was gespeichert ist."),
                                 2);
            fillList();
            return;
        }
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
    const int id = item->data(IdRole).toInt();
    switch (removeTemplate(id)) {
    case Removed::Yes:
        delete m_ui->listWidget->takeItem(m_ui->listWidget->row(item));
        return;
    case Removed::No:
        Statics::showMessage(
            this, tr("Die Vorlage konnte nicht gelöscht werden: %1").arg(m_db->lastErrorText), 2);
        return;
    case Removed::Unknown:
        Statics::showMessage(this,
                             tr("Ob die Vorlage gelöscht wurde, ist nicht bekannt: die Verbindung "
                                "zur Datenbank brach ab. Die Liste zeigt jetzt, was gespeichert "
                                "ist."),
                             2);
        fillList();
        return;
    }
}

TemplateSelect::Removed TemplateSelect::removeTemplate(int id)
{
    // The row with its pictures and variations, all or nothing.
    const QString article = QString::number(id);
    {
        Transaction transaction(*m_db);
        bool ok = transaction.isOpen()
            && m_db->executeSQL(QStringLiteral("DELETE FROM articles WHERE id=") + article);
        for (const char *table :
             { "articles_images", "articles_variations", "articles_variations_op_val" })
            ok = ok
                && m_db->executeSQL(QStringLiteral("DELETE FROM ") + QLatin1String(table)
                                    + QStringLiteral(" WHERE article_id=") + article);
        if (ok && transaction.commit())
            return Removed::Yes;
    }
    if (m_db->lastOutcome() != Database::Outcome::Unknown)
        return Removed::No;
    // The answer to the commit was lost: the row tells whether it was kept, and with it the
    // rest of the transaction.
    const QString error = m_db->lastErrorText;
    const int stored = m_db->articleStored(id);
    m_db->lastErrorText = error;
    if (stored < 0)
        return Removed::Unknown;
    return stored == 0 ? Removed::Yes : Removed::No;
}
