#include "editor/companions/variantgenerator.h"

#include <QTreeWidgetItem>
#include <algorithm>

#include "core/database.h"
#include "core/dialogs.h"
#include "core/statics.h"
#include "core/variationrows.h"
#include "editor/companions/variantrows.h"
#include "ui_variantgenerator.h"

namespace {

const QString kRoot = QStringLiteral("ROOT");
const QString kValue = QStringLiteral("VALS");
const QString kLock = QStringLiteral("LOCK");

bool isOption(const QTreeWidgetItem *item)
{
    return item && item->data(0, VariantGenerator::KindRole).toString() == kRoot;
}

bool isLocked(const QTreeWidgetItem *item)
{
    return item && item->data(0, VariantGenerator::LockRole).toString() == kLock;
}

QTreeWidgetItem *makeItem(const QString &text, const QString &kind, bool locked)
{
    auto *item = new QTreeWidgetItem(QStringList(text));
    item->setData(0, VariantGenerator::KindRole, kind);
    if (locked)
        item->setData(0, VariantGenerator::LockRole, kLock);
    else
        item->setFlags(item->flags() | Qt::ItemIsEditable);
    return item;
}

} // namespace

VariantGenerator::VariantGenerator(QWidget *parent, QString articleId, QString sku,
                                   const QList<QMap<QString, QStringList>> &options)
    : QDialog(parent)
    , m_ui(new Ui::VariantGenerator)
    , m_articleId(std::move(articleId))
    , m_sku(std::move(sku))
{
    m_ui->setupUi(this);
    for (const auto &option : options) {
        if (option.isEmpty())
            continue;
        QTreeWidgetItem *item = makeItem(option.firstKey(), kRoot, true);
        m_ui->treeWidget->addTopLevelItem(item);
        for (const QString &value : option.first())
            item->addChild(makeItem(value, kValue, true));
        item->setExpanded(true);
    }
    if (!options.isEmpty()) {
        m_ui->NewOption->hide();
        m_ui->MoveUp->hide();
        m_ui->MoveDown->hide();
        m_ui->line->hide();
        m_ui->line_2->hide();
    }
    updateNewOption();
}

VariantGenerator::~VariantGenerator() = default;

void VariantGenerator::updateNewOption()
{
    m_ui->NewOption->setEnabled(m_ui->treeWidget->topLevelItemCount() < MaxOptions);
}

QTreeWidgetItem *VariantGenerator::firstSelected() const
{
    const QList<QTreeWidgetItem *> selected = m_ui->treeWidget->selectedItems();
    return selected.isEmpty() ? nullptr : selected.first();
}

// The trimmed parts of the seller's answer split at ","; empty when cancelled or empty.
QStringList VariantGenerator::askParts(const QString &title)
{
    bool ok = false;
    const QString answer
        = Dialogs::text(this, title, tr("Ein oder mehrere Werte durch Komma getrennt") + QLatin1Char(':'),
                        QString(), &ok);
    if (!ok || answer.isEmpty())
        return {};
    QStringList parts = answer.split(QLatin1Char(','));
    for (QString &part : parts)
        part = part.trimmed();
    return parts;
}

void VariantGenerator::on_NewOption_clicked()
{
    const QStringList parts = askParts(tr("Neue Option hinzufügen"));
    for (const QString &part : parts) {
        QTreeWidgetItem *item = makeItem(part, kRoot, false);
        m_ui->treeWidget->addTopLevelItem(item);
        m_ui->treeWidget->clearSelection();
        item->setSelected(true);
    }
    if (parts.size() == 1)
        on_NewValue_clicked();
    updateNewOption();
}

void VariantGenerator::on_NewValue_clicked()
{
    QTreeWidgetItem *option = firstSelected();
    if (!isOption(option))
        return;
    const QStringList parts = askParts(tr("Neue Werte hinzufügen"));
    if (parts.isEmpty())
        return;
    for (const QString &part : parts)
        option->addChild(makeItem(part, kValue, false));
    option->setExpanded(true);
}

void VariantGenerator::on_treeWidget_itemSelectionChanged()
{
    QTreeWidgetItem *item = firstSelected();
    m_ui->NewValue->setEnabled(isOption(item));
    m_ui->DeleteSelected->setEnabled(item != nullptr);
    m_ui->MoveUp->setEnabled(false);
    m_ui->MoveDown->setEnabled(false);
    if (!item)
        return;
    m_ui->treeWidget->setCurrentItem(item, 0, QItemSelectionModel::NoUpdate);
    if (isLocked(item)) {
        m_ui->DeleteSelected->setEnabled(false);
        return;
    }
    if (isOption(item)) {
        const int index = m_ui->treeWidget->indexOfTopLevelItem(item);
        m_ui->MoveUp->setEnabled(index > 0 && !isLocked(m_ui->treeWidget->itemAbove(item)));
        m_ui->MoveDown->setEnabled(index < m_ui->treeWidget->topLevelItemCount() - 1);
    } else {
        const int index = item->parent()->indexOfChild(item);
        m_ui->MoveUp->setEnabled(index > 0);
        m_ui->MoveDown->setEnabled(index < item->parent()->childCount() - 1);
    }
}

void VariantGenerator::on_MoveUp_clicked()
{
    move(-1);
}

void VariantGenerator::on_MoveDown_clicked()
{
    move(1);
}

void VariantGenerator::move(int step)
{
    QTreeWidgetItem *item = m_ui->treeWidget->currentItem();
    if (!item)
        return;
    if (isOption(item)) {
        const int index = m_ui->treeWidget->indexOfTopLevelItem(item);
        const int target = index + step;
        if (target < 0 || target >= m_ui->treeWidget->topLevelItemCount())
            return;
        m_ui->treeWidget->takeTopLevelItem(index);
        m_ui->treeWidget->insertTopLevelItem(target, item);
        m_ui->treeWidget->setCurrentItem(item);
        if (item->childCount() > 0)
            item->setExpanded(true);
        return;
    }
    QTreeWidgetItem *option = item->parent();
    QTreeWidgetItem *neighbour = option->child(option->indexOfChild(item) + step);
    if (!neighbour)
        return;
    const QString text = item->text(0);
    item->setText(0, neighbour->text(0));
    neighbour->setText(0, text);
    m_ui->treeWidget->clearSelection();
    m_ui->treeWidget->setCurrentItem(neighbour);
}

void VariantGenerator::on_DeleteSelected_clicked()
{
    // Values of a selected option go with it; delete values before their options.
    QList<QTreeWidgetItem *> selected = m_ui->treeWidget->selectedItems();
    std::stable_partition(selected.begin(), selected.end(),
                          [](QTreeWidgetItem *item) { return !isOption(item); });
    for (QTreeWidgetItem *item : qAsConst(selected))
        delete item;
    updateNewOption();
}

void VariantGenerator::accept()
{
    // A spin box keeps its last number while its text is none (emptied, say): that number
    // is not what the seller sees.
    const QList<QPair<QAbstractSpinBox *, QLabel *>> entries = {
        { m_ui->PriceStart, m_ui->label_4 },
        { m_ui->QuantityStart, m_ui->label_3 },
    };
    for (const auto &entry : entries) {
        if (entry.first->hasAcceptableInput())
            continue;
        Statics::showMessage(
            this,
            tr("„%1“ im Feld „%2“ ist keine Zahl.").arg(entry.first->text(), entry.second->text()),
            0);
        entry.first->setFocus();
        return;
    }
    if (m_ui->PriceStart->value() == 0.0) {
        Statics::showMessage(this, tr("Der Startpreis für die Varianten muss größer als 0,00 sein"),
                             0);
        return;
    }
    if (m_ui->treeWidget->topLevelItemCount() == 0) {
        Statics::showMessage(this, tr("Es wurden keine Optionen hinzugefügt"), 0);
        return;
    }
    QList<VariantOption> options;
    for (int i = 0; i < m_ui->treeWidget->topLevelItemCount(); ++i) {
        const QTreeWidgetItem *option = m_ui->treeWidget->topLevelItem(i);
        if (option->childCount() == 0) {
            Statics::showMessage(this, tr("Alle Optionen müssen entsprechende Werte haben"), 0);
            return;
        }
        QStringList values;
        for (int j = 0; j < option->childCount(); ++j)
            values.append(option->child(j)->text(0));
        options.append({ option->text(0), values });
    }
    Database db(true, QStringLiteral("VariantGenerator"));
    // Every combination or none, with the article's lowest price; written again after a lost
    // answer, only what is still missing is added.
    switch (VariationRows::write(&db, m_articleId.toInt(), [&] {
        return VariantRows::write(&db, m_articleId, m_sku, options, m_ui->QuantityStart->value(),
                                  m_ui->PriceStart->value());
    })) {
    case VariationRows::Written::Stored:
        done(1);
        return;
    case VariationRows::Written::NotStored:
        Statics::showMessage(this,
                             tr("Die Varianten konnten nicht angelegt werden, es wurde keine "
                                "gespeichert: %1")
                                 .arg(db.lastErrorText),
                             2);
        return;
    case VariationRows::Written::Unknown:
        m_outcomeUnknown = true;
        Statics::showMessage(this, VariationRows::unknownText(tr("die neuen Varianten")), 2);
        done(0);
        return;
    }
}
