#pragma once

#include <QDialog>
#include <QMap>
#include <QString>
#include <memory>

class Api_Ebay;
class Database;
class QLabel;
class QTreeWidgetItem;

namespace Ui {
class AddArticleCategories;
}

// Chooses the marketplace category of an article: from the categories the marketplace
// suggests for the title, or from the site's category tree, loaded level by level as the
// seller opens it. For the second category it also offers its removal. Writes nothing.
class AddArticleCategories : public QDialog
{
    Q_OBJECT

public:
    // Item roles of the category tree.
    enum Role {
        IdRole = Qt::UserRole + 1,
        LevelRole = Qt::UserRole + 2,
        LeafRole = Qt::UserRole + 3,
        LoadedRole = Qt::UserRole + 100,
        TopLevelRole = Qt::UserRole + 101,
    };

    // `categoryId` and `attributes` are the article's current choice, kept for the caller.
    AddArticleCategories(QWidget *parent, Database *db, int accountId, QString siteId,
                         QString categoryId, QString attributes, QString title);
    ~AddArticleCategories() override;

    // Offers the removal of the second category.
    void setIsSecond();
    bool delCatNow() const;
    // The chosen category's id; empty when nothing is selected in the mode shown.
    QString getSelectedId() const;
    // The chosen path, names joined by " > "; shortened to its last 70 characters.
    QString getSelectedPath() const;
    QString getSelectedFullPath() const;

public slots:
    void loadSucc();

private slots:
    void on_CatBoxChecker_toggled(bool checked);
    void on_CatBox_itemExpanded(QTreeWidgetItem *item);
    void on_SuggestedCategoriesList_itemSelectionChanged();
    void on_CatBox_itemSelectionChanged();
    void on_DelCat_toggled(bool checked);

private:
    QTreeWidgetItem *makeItem(const QMap<QString, QString> &row, bool topLevel) const;
    // Keeps the outcome of a request for the suggestions or the tree and tells the seller,
    // below the list of the mode shown, why it has no categories.
    void noteFailure(const Api_Ebay &api, bool tree);
    void showNotice();
    void setOkEnabled(bool enabled);
    bool treeLeafSelected() const;

    std::unique_ptr<Ui::AddArticleCategories> m_ui;
    QString m_token;
    int m_sandbox = 0;
    QString m_siteId;
    QString m_categoryId;
    QString m_attributes;
    QString m_title;
    // Why the last request for the suggestions, or for the tree, failed; empty after success.
    QString m_suggestionFailure;
    QString m_treeFailure;
    // Why the account could not be read; then eBay is not asked.
    QString m_accountFailure;
    QLabel *m_notice = nullptr;
};
