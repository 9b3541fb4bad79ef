#pragma once

#include <QDialog>
#include <QList>
#include <QMap>
#include <QString>
#include <QVariant>
#include <memory>

class QLineEdit;

namespace Ui {
class EditVar;
}

// Edits the selected variations of an article: one in full (SKU, quantity, price, product
// identifier and the value of each option), several in quantity and price only, writing
// to each just the fields the seller changed.
class EditVar : public QDialog
{
    Q_OBJECT

public:
    // `ids`: variation ids joined by ","; `identifier`: the product-identifier column the
    // article's category uses ("EAN", "ISBN", "UPC") or empty. Several ids are told by the
    // ids themselves.
    EditVar(QWidget *parent, QString ids, bool several, QString articleId, QString identifier);
    ~EditVar() override;

    // Writes the changes, of every selected variation in one transaction; stays open and says
    // why when a price or quantity is no number or nothing could be written.
    void accept() override;
    // True when the dialog ended because it can't be told whether the changes were stored
    // (the seller has been told): the opener shows what is stored.
    bool outcomeUnknown() const { return m_outcomeUnknown; }

private:
    // The typed price as stored; false (the seller told) when it is no number.
    bool typedPrice(QString *out);
    // The typed quantity; false (the seller told) when it is no whole number.
    bool typedQuantity(int *out);
    // Tells the seller that `field`, labelled `label`, holds no number.
    void refuse(QLineEdit *field, const QString &label);
    bool saveOne();
    bool saveSeveral();
    // Writes `row` into the variations `ids` ("1,2,3") with the article's summary, all or
    // nothing; tells the seller what came of it unless it was stored. True when stored.
    bool write(const QMap<QString, QVariant> &row, const QString &ids);

    std::unique_ptr<Ui::EditVar> m_ui;
    QList<QLineEdit *> m_optionFields;
    QString m_ids;
    QString m_articleId;
    QString m_identifier;
    bool m_outcomeUnknown = false;
    // The variation could not be read: nothing may be written over it.
    bool m_readFailed = false;
};
