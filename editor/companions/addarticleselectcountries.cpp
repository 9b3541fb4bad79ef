#include "editor/companions/addarticleselectcountries.h"

#include <QCheckBox>
#include <QFrame>
#include <QPushButton>
#include <QStringList>

#include "core/database.h"
#include "core/statics.h"
#include "marketplace/api_ebay.h"
#include "ui_addarticleselectcountries.h"

namespace {

int indexOfCode(const QList<QMap<QString, QString>> &rows, const QString &code)
{
    for (int i = 0; i < rows.size(); ++i) {
        if (!rows.at(i).isEmpty() && rows.at(i).firstKey() == code)
            return i;
    }
    return -1;
}

} // namespace

AddArticleSelectCountries::AddArticleSelectCountries(QWidget *parent, Database *db,
                                                     const QString &chosen,
                                                     const QString &siteId)
    : QDialog(parent)
    , m_ui(new Ui::AddArticleSelectCountries)
{
    m_ui->setupUi(this);
    const QStringList chosenCodes = chosen.split(QLatin1Char(','));

    const Read<SqlRows> read = db->select(QStringLiteral(
        "SELECT token, sandbox FROM accounts WHERE active = 1 ORDER BY accountname ASC"));
    if (!read.ok()) {
        // Without the locations Ok would choose "Weltweit" in place of the seller's choice:
        // only Cancel is left.
        Statics::showMessage(this,
                             tr("Die Versandziele können nicht angezeigt werden: das eBay-Konto "
                                "konnte nicht aus der Datenbank gelesen werden. %1")
                                 .arg(read.error()),
                             2);
        m_ui->buttonBox->button(QDialogButtonBox::Ok)->setEnabled(false);
    } else if (read->isEmpty()) {
        Statics::showMessage(this,
                             tr("Es wurde kein aktives eBay Konto gefunden, die Werte können "
                                "daher nicht angezeigt werden"),
                             0);
    } else {
        QList<QMap<QString, QString>> rows;
        {
            const auto &account = read->first();
            Api_Ebay api(account.value(QStringLiteral("token")).toString(), this,
                         account.value(QStringLiteral("sandbox")).toInt());
            api.getEbayDetails(siteId, QStringLiteral("ShippingLocationDetails"), rows, db);
        }
        for (const auto &row : ordered(rows)) {
            const QString code = row.firstKey();
            if (code == QLatin1String("Worldwide") || code == QLatin1String("None"))
                continue;
            auto *box = new QCheckBox(row.first(), this);
            box->setProperty("id", code);
            box->setChecked(chosenCodes.contains(code));
            m_ui->verticalLayout->addWidget(box);
            m_boxes.append(box);
            if (code == QLatin1String("CA"))
                addSeparator(m_ui->verticalLayout->count());
            else if (code == QLatin1String("Asia"))
                addSeparator(m_ui->verticalLayout->count() - 1);
        }
    }
    m_ui->widget->adjustSize();
    adjustSize();
    setMinimumSize(size());
    setMaximumSize(size());
}

AddArticleSelectCountries::~AddArticleSelectCountries() = default;

QList<QMap<QString, QString>>
AddArticleSelectCountries::ordered(QList<QMap<QString, QString>> rows)
{
    for (const char *code : { "CA", "US", "Americas" }) {
        const int i = indexOfCode(rows, QLatin1String(code));
        if (i >= 0)
            rows.move(i, 0);
    }
    for (const char *code : { "Asia", "JP", "AU" }) {
        const int i = indexOfCode(rows, QLatin1String(code));
        if (i >= 0)
            rows.move(i, rows.size() - 1);
    }
    return rows;
}

void AddArticleSelectCountries::addSeparator(int position)
{
    auto *line = new QFrame(this);
    line->setFrameShape(QFrame::HLine);
    line->setFrameShadow(QFrame::Sunken);
    m_ui->verticalLayout->insertWidget(position, line);
}

QString AddArticleSelectCountries::getCheckedAsText() const
{
    QStringList texts;
    for (QCheckBox *box : m_boxes) {
        if (box->isChecked())
            texts.append(box->text());
    }
    return texts.isEmpty() ? tr("Weltweit") : texts.join(QLatin1Char(','));
}

QString AddArticleSelectCountries::getCheckedAdIds() const
{
    QStringList codes;
    for (QCheckBox *box : m_boxes) {
        if (box->isChecked())
            codes.append(box->property("id").toString());
    }
    return codes.isEmpty() ? QStringLiteral("Worldwide") : codes.join(QLatin1Char(','));
}
