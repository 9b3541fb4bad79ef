// The variations page: generating, editing and deleting the article's variations, which are
// written at once, each command with the article's summary of them in one transaction.
#include "editor/addarticle.h"

#include "core/database.h"
#include "core/specialfolderid.h"
#include "core/statics.h"
#include "core/variationrows.h"
#include "editor/companions/editvar.h"
#include "editor/companions/variantgenerator.h"

#include "ui_addarticle.h"

#include <QSet>

namespace {

constexpr int kVariationIdRole = Qt::UserRole + 100;

} // namespace

bool AddArticle::articleRunning() const
{
    return m_loadedFolder == SpecialFolderId::Active
        || (m_loadedFolder == SpecialFolderId::Outbox
            && m_loadedFolderOld == SpecialFolderId::Active);
}

void AddArticle::on_VariantList_itemSelectionChanged()
{
    const int selected = m_ui->VariantList->selectedItems().size();
    m_ui->EditVars->setEnabled(selected > 0);
    m_ui->DelVars->setEnabled(selected > 0);
    m_ui->EditVars->setText(selected < 2 ? tr("Bearbeiten") : tr("Gebündelt bearbeiten"));
}

void AddArticle::on_VariantList_itemDoubleClicked(QTreeWidgetItem *, int)
{
    on_EditVars_clicked();
}

void AddArticle::on_EditVars_clicked()
{
    const auto selected = m_ui->VariantList->selectedItems();
    if (selected.isEmpty() || m_articleId < 1)
        return;
    QString field = m_ui->EANorISBN->property("field").toString();
    if (field != QLatin1String("EAN") && field != QLatin1String("ISBN")
        && field != QLatin1String("UPC"))
        field.clear();
    QStringList ids;
    for (QTreeWidgetItem *item : selected)
        ids << item->data(0, kVariationIdRole).toString();
    auto *dialog = new EditVar(this, selected.size() > 1 ? ids.join(QLatin1Char(',')) : ids.first(),
                               selected.size() > 1, QString::number(m_articleId), field);
    dialog->setWindowModality(Qt::WindowModal);
    // The dialog writes the lowest price with the variations. When it can't be told whether
    // they were stored, the list shows what is.
    if (dialog->exec() == QDialog::Accepted || dialog->outcomeUnknown())
        fillVariationsPage();
    dialog->deleteLater();
}

void AddArticle::on_DelVars_clicked()
{
    const auto selected = m_ui->VariantList->selectedItems();
    if (selected.isEmpty())
        return;
    if (articleRunning()) {
        if (!Statics::showQuestionDialog(this, tr("Aktiver Artikel"),
                                         tr("Varianten eines laufenden Artikels können nicht "
                                            "gelöscht werden, soll ich die Menge auf 0 setzen?")))
            return;
        QStringList ids;
        for (QTreeWidgetItem *item : selected)
            ids << QString::number(item->data(0, kVariationIdRole).toInt());
        // Every selected variation or none; the summary does not change with a quantity.
        switch (VariationRows::write(m_db, 0, [&] {
            return m_db->executeSQL(
                QStringLiteral("UPDATE articles_variations SET Quantity = 0 WHERE article_id=%1 "
                               "AND id IN (%2)")
                    .arg(QString::number(m_articleId), ids.join(QLatin1Char(','))));
        })) {
        case VariationRows::Written::Stored:
            for (QTreeWidgetItem *item : selected)
                item->setText(2, QStringLiteral("0"));
            return;
        case VariationRows::Written::NotStored:
            Statics::showMessage(this,
                                 tr("Die Menge der Varianten konnte nicht auf 0 gesetzt werden, "
                                    "keine wurde geändert: %1")
                                     .arg(m_db->lastErrorText),
                                 2);
            return;
        case VariationRows::Written::Unknown:
            Statics::showMessage(this, VariationRows::unknownText(tr("die Menge 0 der Varianten")),
                                 2);
            fillVariationsPage();
            return;
        }
        return;
    }
    QList<int> ids;
    for (QTreeWidgetItem *item : selected)
        ids << item->data(0, kVariationIdRole).toInt();
    // With their pictures, the option values no other variation has and the article's
    // summary, all or nothing.
    switch (VariationRows::removeVariations(m_db, m_articleId, ids)) {
    case VariationRows::Written::Stored:
        break;
    case VariationRows::Written::NotStored:
        Statics::showMessage(
            this,
            tr("Die Varianten konnten nicht gelöscht werden, keine wurde gelöscht: %1")
                .arg(m_db->lastErrorText),
            2);
        return;
    case VariationRows::Written::Unknown:
        Statics::showMessage(this, VariationRows::unknownText(tr("das Löschen der Varianten")), 2);
        fillVariationsPage();
        return;
    }
    qDeleteAll(selected);
    // A value no variation has any more keeps no picture row when the article is saved.
    QSet<QString> values;
    for (int i = 0; i < m_ui->VariantList->topLevelItemCount(); ++i) {
        const QTreeWidgetItem *item = m_ui->VariantList->topLevelItem(i);
        for (int column = 4; column < m_ui->VariantList->columnCount(); ++column)
            values.insert(item->text(column));
    }
    for (int i = m_ui->VariantImageList->topLevelItemCount() - 1; i >= 0; --i) {
        if (!values.contains(m_ui->VariantImageList->topLevelItem(i)->text(0)))
            delete m_ui->VariantImageList->takeTopLevelItem(i);
    }
}

void AddArticle::on_pushButton_3_clicked()
{
    if (m_ui->SKU->text().isEmpty()) {
        Statics::showMessage(this, tr("Diese Funktion benötigt eine hinterlegte SKU"), 0);
        return;
    }
    if (m_articleId < 1) {
        Statics::showMessage(
            this, tr("Vor dem generieren von Varianten muss der Artikel gespeichert werden"), 0);
        return;
    }
    QList<QMap<QString, QStringList>> options;
    for (int column = 4; column < m_ui->VariantList->columnCount(); ++column) {
        QStringList values;
        for (int i = 0; i < m_ui->VariantList->topLevelItemCount(); ++i) {
            const QString value = m_ui->VariantList->topLevelItem(i)->text(column);
            if (!values.contains(value))
                values << value;
        }
        options.append({ { m_ui->VariantList->headerItem()->text(column), values } });
    }
    if (!options.isEmpty())
        Statics::showMessage(this,
                             tr("In diesem Modus können weitere Werte zu bestehenden Optionen "
                                "hinzugefügt werden, um Werte zu entfernen müssen die "
                                "entsprechenden Varianten gelöscht werden"),
                             0);
    auto *generator =
        new VariantGenerator(this, QString::number(m_articleId), m_ui->SKU->text(), options);
    generator->setWindowModality(Qt::WindowModal);
    if (generator->exec() == QDialog::Accepted || generator->outcomeUnknown())
        fillVariationsPage();
    generator->deleteLater();
}
