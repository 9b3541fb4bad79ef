#include "editor/companions/addarticlecategories.h"

#include <QCoreApplication>
#include <QLabel>
#include <QListWidgetItem>
#include <QPushButton>
#include <QStringList>
#include <QTimer>
#include <QTreeWidgetItem>
#include <QVBoxLayout>

#include "core/database.h"
#include "marketplace/api_ebay.h"
#include "views/noticelabel.h"
#include "ui_addarticlecategories.h"

namespace {
constexpr int kSuggestionRole = Qt::UserRole + 1;
constexpr int kShortPathLength = 70;
} // namespace

AddArticleCategories::AddArticleCategories(QWidget *parent, Database *db, int accountId,
                                           QString siteId, QString categoryId,
                                           QString attributes, QString title)
    : QDialog(parent)
    , m_ui(new Ui::AddArticleCategories)
    , m_siteId(std::move(siteId))
    , m_categoryId(std::move(categoryId))
    , m_attributes(std::move(attributes))
    , m_title(std::move(title))
{
    m_ui->setupUi(this);
    m_ui->DelCat->hide();
    m_ui->CatBox->hide();
    setOkEnabled(false);
    const Read<SqlRows> rows
        = db->select(QStringLiteral("SELECT token, sandbox FROM accounts WHERE id=")
                     + QString::number(accountId));
    if (!rows.ok()) {
        // Without the account eBay is not asked; the notice says why nothing comes.
        m_accountFailure
            = tr("Das Konto konnte nicht aus der Datenbank gelesen werden: %1").arg(rows.error());
        m_suggestionFailure = m_accountFailure;
        m_treeFailure = m_accountFailure;
        showNotice();
    } else if (!rows->isEmpty()) {
        m_token = rows->first().value(QStringLiteral("token")).toString();
        m_sandbox = rows->first().value(QStringLiteral("sandbox")).toInt();
    }
    if (!m_token.isEmpty() && !m_title.isEmpty())
        QTimer::singleShot(400, this, &AddArticleCategories::loadSucc);
}

AddArticleCategories::~AddArticleCategories() = default;

void AddArticleCategories::setIsSecond()
{
    m_ui->DelCat->show();
}

bool AddArticleCategories::delCatNow() const
{
    return m_ui->DelCat->isChecked();
}

void AddArticleCategories::loadSucc()
{
    QListWidget *list = m_ui->SuggestedCategoriesList;
    list->setEnabled(false);
    list->clear();
    list->addItem(tr("Lade Kategorienvorschläge..."));
    QCoreApplication::processEvents();
    QList<QMap<QString, QString>> rows;
    {
        Api_Ebay api(m_token, this, m_sandbox);
        rows = api.getSuggestedCategories(m_title, m_siteId);
        noteFailure(api, false);
    }
    list->clear();
    for (const auto &row : qAsConst(rows)) {
        auto *item = new QListWidgetItem(row.first(), list);
        item->setData(kSuggestionRole, row.firstKey());
    }
    list->setEnabled(true);
}

QTreeWidgetItem *AddArticleCategories::makeItem(const QMap<QString, QString> &row,
                                                bool topLevel) const
{
    const QStringList parts = row.firstKey().split(QStringLiteral("!!!"));
    auto *item = new QTreeWidgetItem;
    item->setText(0, row.first());
    item->setData(0, IdRole, parts.value(0));
    item->setData(0, LevelRole, parts.value(1).toInt());
    item->setData(0, LeafRole, parts.value(2));
    item->setData(0, LoadedRole, false);
    item->setData(0, TopLevelRole, topLevel);
    if (parts.value(2).isEmpty())
        new QTreeWidgetItem(item, QStringList(tr("Lade Unterkategorien...")));
    return item;
}

void AddArticleCategories::on_CatBoxChecker_toggled(bool checked)
{
    m_ui->CatBox->setVisible(checked);
    m_ui->SuggestedCategoriesListLabel->setVisible(!checked);
    m_ui->SuggestedCategoriesList->setVisible(!checked);
    showNotice();
    if (!checked) {
        setOkEnabled(!m_ui->SuggestedCategoriesList->selectedItems().isEmpty());
        return;
    }
    m_ui->CatBox->setEnabled(false);
    QCoreApplication::processEvents();
    setOkEnabled(treeLeafSelected());
    if (m_ui->CatBox->topLevelItemCount() == 0 && m_accountFailure.isEmpty()) {
        QList<QMap<QString, QString>> rows;
        {
            Api_Ebay api(m_token, this, m_sandbox);
            rows = api.getCategories(m_siteId, QStringLiteral("0"), 1);
            noteFailure(api, true);
        }
        QList<QTreeWidgetItem *> items;
        items.reserve(rows.size());
        for (const auto &row : qAsConst(rows))
            items.append(makeItem(row, true));
        m_ui->CatBox->addTopLevelItems(items);
    }
    m_ui->CatBox->setEnabled(true);
}

void AddArticleCategories::on_CatBox_itemExpanded(QTreeWidgetItem *item)
{
    if (item->data(0, LoadedRole).toBool())
        return;
    m_ui->CatBox->setEnabled(false);
    QCoreApplication::processEvents();
    // Marked before asking, so that a failed request is not repeated.
    item->setData(0, LoadedRole, true);
    QList<QMap<QString, QString>> rows;
    {
        Api_Ebay api(m_token, this, m_sandbox);
        rows = api.getCategories(m_siteId, item->data(0, IdRole).toString(),
                                 item->data(0, LevelRole).toInt() + 1);
        noteFailure(api, true);
    }
    QList<QTreeWidgetItem *> children;
    children.reserve(rows.size());
    for (const auto &row : qAsConst(rows))
        children.append(makeItem(row, false));
    item->addChildren(children);
    // The placeholder came first.
    delete item->takeChild(0);
    m_ui->CatBox->setEnabled(true);
}

void AddArticleCategories::noteFailure(const Api_Ebay &api, bool tree)
{
    (tree ? m_treeFailure : m_suggestionFailure) = api.getLastFail();
    showNotice();
}

void AddArticleCategories::showNotice()
{
    const bool tree = m_ui->CatBoxChecker->isChecked();
    const QString reason = tree ? m_treeFailure : m_suggestionFailure;
    if (reason.isEmpty()) {
        if (m_notice)
            m_notice->hide();
        return;
    }
    if (!m_notice) {
        // Below the list and the tree, where the seller looks for the categories.
        m_notice = createNoticeLabel(this, QStringLiteral("CategoriesNotice"));
        m_ui->verticalLayout->insertWidget(m_ui->verticalLayout->indexOf(m_ui->CatBox) + 1,
                                           m_notice);
    }
    m_notice->setText(
        tree ? tr("Die Kategorien von eBay konnten nicht geladen werden. Grund: %1").arg(reason)
             : tr("Die Kategorievorschläge von eBay konnten nicht geladen "
                  "werden. Grund: %1")
                   .arg(reason));
    m_notice->show();
}

bool AddArticleCategories::treeLeafSelected() const
{
    const QList<QTreeWidgetItem *> selected = m_ui->CatBox->selectedItems();
    return !selected.isEmpty() && selected.first()->data(0, LeafRole).toString() == QLatin1String("true");
}

void AddArticleCategories::on_SuggestedCategoriesList_itemSelectionChanged()
{
    setOkEnabled(!m_ui->CatBoxChecker->isChecked()
                 && !m_ui->SuggestedCategoriesList->selectedItems().isEmpty());
}

void AddArticleCategories::on_CatBox_itemSelectionChanged()
{
    setOkEnabled(m_ui->CatBoxChecker->isChecked() && treeLeafSelected());
}

void AddArticleCategories::on_DelCat_toggled(bool checked)
{
    m_ui->CatBox->setEnabled(!checked);
    m_ui->SuggestedCategoriesList->setEnabled(!checked);
    m_ui->CatBoxChecker->setEnabled(!checked);
    if (checked) {
        setOkEnabled(true);
    } else if (!m_ui->CatBox->isHidden()) {
        // Only a leaf can carry an article, as when the selection changes.
        setOkEnabled(treeLeafSelected());
    } else {
        setOkEnabled(!m_ui->SuggestedCategoriesList->isHidden()
                     && !m_ui->SuggestedCategoriesList->selectedItems().isEmpty());
    }
}

void AddArticleCategories::setOkEnabled(bool enabled)
{
    m_ui->buttonBox->button(QDialogButtonBox::Ok)->setEnabled(enabled);
}

QString AddArticleCategories::getSelectedId() const
{
    if (m_ui->CatBoxChecker->isChecked()) {
        const QList<QTreeWidgetItem *> selected = m_ui->CatBox->selectedItems();
        return selected.isEmpty() ? QString() : selected.first()->data(0, IdRole).toString();
    }
    const QList<QListWidgetItem *> selected = m_ui->SuggestedCategoriesList->selectedItems();
    return selected.isEmpty() ? QString() : selected.first()->data(kSuggestionRole).toString();
}

QString AddArticleCategories::getSelectedFullPath() const
{
    QString path;
    if (!m_ui->CatBoxChecker->isChecked()) {
        const QList<QListWidgetItem *> selected = m_ui->SuggestedCategoriesList->selectedItems();
        if (!selected.isEmpty())
            path = selected.first()->text();
    } else {
        const QList<QTreeWidgetItem *> selected = m_ui->CatBox->selectedItems();
        QStringList names;
        for (QTreeWidgetItem *item = selected.value(0); item; item = item->parent()) {
            names.prepend(item->text(0));
            if (item->data(0, TopLevelRole).toBool())
                break;
        }
        path = names.join(QStringLiteral(" > "));
    }
    return path.replace(QStringLiteral("&&"), QStringLiteral("&"));
}

QString AddArticleCategories::getSelectedPath() const
{
    const QString path = getSelectedFullPath();
    return path.size() > kShortPathLength ? QStringLiteral("...") + path.right(kShortPathLength)
                                          : path;
}
