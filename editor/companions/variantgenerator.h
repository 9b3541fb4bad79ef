#pragma once

#include <QDialog>
#include <QList>
#include <QMap>
#include <QString>
#include <QStringList>
#include <memory>

class QTreeWidgetItem;

namespace Ui {
class VariantGenerator;
}

// Defines the variation options of an article with their values and writes a variation
// row for every combination the article doesn't have yet. With existing options (the
// extension mode) these are shown locked and only further values can be added.
class VariantGenerator : public QDialog
{
    Q_OBJECT

public:
    // Item roles of the option tree.
    static constexpr int KindRole = Qt::UserRole + 100; // "ROOT" option, "VALS" value
    static constexpr int LockRole = Qt::UserRole + 101; // "LOCK": came with the article
    static constexpr int MaxOptions = 5;

    VariantGenerator(QWidget *parent, QString articleId, QString sku,
                     const QList<QMap<QString, QStringList>> &options);
    ~VariantGenerator() override;

    // Checks the input and generates, all rows in one transaction; stays open with a message
    // when something is missing or nothing could be written.
    void accept() override;
    // True when the dialog ended because it can't be told whether the rows were stored (the
    // seller has been told): the opener shows what is stored.
    bool outcomeUnknown() const { return m_outcomeUnknown; }

private slots:
    void on_NewOption_clicked();
    void on_NewValue_clicked();
    void on_treeWidget_itemSelectionChanged();
    void on_MoveUp_clicked();
    void on_MoveDown_clicked();
    void on_DeleteSelected_clicked();

private:
    QTreeWidgetItem *firstSelected() const;
    QStringList askParts(const QString &title);
    void move(int step);
    void updateNewOption();

    std::unique_ptr<Ui::VariantGenerator> m_ui;
    QString m_articleId;
    QString m_sku;
    bool m_outcomeUnknown = false;
};
