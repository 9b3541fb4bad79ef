#include "editor/companions/editvar.h"

#include <QLabel>
#include <QLineEdit>
#include <QMap>
#include <QPushButton>
#include <QStringList>
#include <QVariant>

#include <limits>

#include "core/database.h"
#include "core/numberreader.h"
#include "core/statics.h"
#include "core/variationrows.h"
#include "ui_editvar.h"
#include "views/noticelabel.h"

namespace {

const QString kConnection = QStringLiteral("VarEdit");
const QString kTable = QStringLiteral("articles_variations");

QString optionBlock(const QString &name, const QString &value)
{
    return QStringLiteral("<NameValueList><Name>") + name + QStringLiteral("</Name><Value>") + value
        + QStringLiteral("</Value></NameValueList>");
}

// The typed price (German or English marks, a currency sign allowed) with a decimal point
// and two decimals; false when it is no number.
bool price(const QString &typed, QString *out)
{
    double value = 0;
    if (!NumberReader::read(typed, &value))
        return false;
    *out = QString::number(value, 'f', 2);
    return true;
}

} // namespace

EditVar::EditVar(QWidget *parent, QString ids, bool, QString articleId, QString identifier)
    : QDialog(parent)
    , m_ui(new Ui::EditVar)
    , m_ids(std::move(ids))
    , m_articleId(std::move(articleId))
    , m_identifier(std::move(identifier))
{
    m_ui->setupUi(this);
    if (m_identifier.isEmpty())
        m_ui->EAN->setEnabled(false);

    if (m_ids.contains(QLatin1Char(','))) {
        m_ui->SKU->setEnabled(false);
        m_ui->EAN->setEnabled(false);
        m_ui->Quantity->setModified(false);
        m_ui->StartPrice->setModified(false);
    } else {
        Database db(true, kConnection);
        const Read<SqlRows> rows
            = db.select(QStringLiteral("SELECT * FROM articles_variations WHERE id=")
                        + QString::number(m_ids.trimmed().toLongLong()));
        QString xml;
        if (!rows.ok()) {
            // Empty fields would be written over the variation: the dialog says why and offers
            // only Cancel.
            m_readFailed = true;
            QLabel *notice = createNoticeLabel(this, QStringLiteral("VariationNotice"));
            notice->setText(tr("Die Variante konnte nicht aus der Datenbank gelesen werden: %1")
                                .arg(rows.error()));
            m_ui->formLayout->addRow(notice);
            for (QWidget *field :
                 QList<QWidget *> { m_ui->SKU, m_ui->Quantity, m_ui->StartPrice, m_ui->EAN })
                field->setEnabled(false);
            m_ui->buttonBox->button(QDialogButtonBox::Ok)->setEnabled(false);
        } else if (!rows->isEmpty()) {
            const auto &row = rows->first();
            m_ui->SKU->setText(row.value(QStringLiteral("SKU")).toString());
            m_ui->Quantity->setText(QString::number(row.value(QStringLiteral("Quantity")).toInt()));
            // Two decimals: the seller sees the cents that are stored.
            m_ui->StartPrice->setText(
                QString::number(row.value(QStringLiteral("StartPrice")).toDouble(), 'f', 2));
            if (!m_identifier.isEmpty())
                m_ui->EAN->setText(row.value(m_identifier).toString());
            xml = row.value(QStringLiteral("VariantXml")).toString();
        }
        const QString open = QStringLiteral("<NameValueList>");
        const QString close = QStringLiteral("</NameValueList>");
        while (xml.contains(open)) {
            const QString block = Statics::getstr(xml, open, close);
            const QString name
                = Statics::getstr(block, QStringLiteral("<Name>"), QStringLiteral("</Name>"));
            auto *field = new QLineEdit(
                Statics::getstr(block, QStringLiteral("<Value>"), QStringLiteral("</Value>")),
                this);
            field->setProperty("fieldname", name);
            m_ui->formLayout->addRow(createPlainLabel(name, this), field);
            m_optionFields.append(field);
            const int end = xml.indexOf(close, xml.indexOf(open));
            if (end < 0)
                break;
            xml = xml.mid(end + close.size());
        }
    }
    adjustSize();
    setMinimumSize(size());
    setMaximumSize(size());
}

EditVar::~EditVar() = default;

void EditVar::accept()
{
    if (m_readFailed)
        return;
    if (m_ids.contains(QLatin1Char(',')) ? saveSeveral() : saveOne())
        done(1);
}

bool EditVar::typedPrice(QString *out)
{
    if (price(m_ui->StartPrice->text(), out))
        return true;
    refuse(m_ui->StartPrice, m_ui->label_3->text());
    return false;
}

bool EditVar::typedQuantity(int *out)
{
    // An emptied quantity is none in stock.
    const QString typed = m_ui->Quantity->text().trimmed();
    double value = 0;
    if (typed.isEmpty()
        || (NumberReader::read(typed, &value, NumberReader::Whole)
            && qAbs(value) <= std::numeric_limits<int>::max())) {
        *out = int(value);
        return true;
    }
    refuse(m_ui->Quantity, m_ui->label_2->text());
    return false;
}

void EditVar::refuse(QLineEdit *field, const QString &label)
{
    Statics::showMessage(this, tr("„%1“ im Feld „%2“ ist keine Zahl.").arg(field->text(), label),
                         0);
    field->setFocus();
}

bool EditVar::saveOne()
{
    QString startPrice;
    int quantity = 0;
    if (!typedQuantity(&quantity) || !typedPrice(&startPrice))
        return false;
    QMap<QString, QVariant> row;
    row.insert(QStringLiteral("SKU"), m_ui->SKU->text());
    row.insert(QStringLiteral("Quantity"), quantity);
    row.insert(QStringLiteral("StartPrice"), startPrice);
    QString xml;
    for (QLineEdit *field : qAsConst(m_optionFields))
        xml += optionBlock(field->property("fieldname").toString(), field->text());
    row.insert(QStringLiteral("VariantXml"), xml);
    if (!m_identifier.isEmpty())
        row.insert(m_identifier, m_ui->EAN->text());
    return write(row, m_ids);
}

bool EditVar::saveSeveral()
{
    QMap<QString, QVariant> row;
    if (m_ui->Quantity->isModified()) {
        int quantity = 0;
        if (!typedQuantity(&quantity))
            return false;
        row.insert(QStringLiteral("Quantity"), quantity);
    }
    if (m_ui->StartPrice->isModified()) {
        QString startPrice;
        if (!typedPrice(&startPrice))
            return false;
        row.insert(QStringLiteral("StartPrice"), startPrice);
    }
    if (row.isEmpty())
        return true;
    return write(row, m_ids);
}

bool EditVar::write(const QMap<QString, QVariant> &row, const QString &ids)
{
    QStringList numbers;
    for (const QString &id : ids.split(QLatin1Char(',')))
        numbers << QString::number(id.trimmed().toLongLong());
    const bool several = numbers.size() > 1;
    Database db(true, kConnection);
    // One statement for every selected variation, in one transaction with the article's
    // lowest price: written again after a lost answer, it sets the same values.
    switch (VariationRows::write(&db, m_articleId.toInt(), [&] {
        return db.updateSqlClean(row, kTable,
                                 QStringLiteral("id IN (") + numbers.join(QLatin1Char(','))
                                     + QLatin1Char(')'));
    })) {
    case VariationRows::Written::Stored:
        return true;
    case VariationRows::Written::NotStored:
        Statics::showMessage(
            this,
            several ? tr("Die Varianten konnten nicht gespeichert werden, keine wurde geändert: %1")
                          .arg(db.lastErrorText)
                    : tr("Die Variante konnte nicht gespeichert werden: %1").arg(db.lastErrorText),
            2);
        return false;
    case VariationRows::Written::Unknown:
        m_outcomeUnknown = true;
        Statics::showMessage(this, VariationRows::unknownText(tr("die Änderung der Varianten")), 2);
        done(0);
        return false;
    }
    return false;
}
