#include "bulk/shippingchoices.h"

#include "marketplace/api_ebay.h"
#include "views/choicelists.h"

#include <QComboBox>
#include <QCoreApplication>
#include <QDoubleSpinBox>

namespace {

QString tr(const char *text)
{
    return QCoreApplication::translate("ShippingChoices", text);
}

} // namespace

namespace ShippingChoices {

void fillServices(Api_Ebay &api, Database *db, int siteId, const QString &detailName,
                  const QList<QComboBox *> &boxes)
{
    const QString site = QString::number(siteId);
    QList<QMap<QString, QString>> rows;
    api.getEbayDetails(site, QStringLiteral("ShippingCategoryDetails"), rows, db);
    QMap<QString, QString> categories;
    for (const auto &row : qAsConst(rows)) {
        if (!row.isEmpty())
            categories.insert(row.firstKey(), row.first());
    }
    rows.clear();
    api.getEbayDetails(site, detailName, rows, db);
    for (QComboBox *box : boxes) {
        box->clear();
        box->addItem(tr("- keine Änderung -"), QString());
        box->addItem(tr("- Versandmethode entfernen -"), QString());
        ChoiceLists::addServices(box, rows, categories);
    }
}

void fillDiscountProfiles(const QList<QMap<QString, QVariant>> &activeAccounts, QComboBox *box,
                          Database *db, int accountId, bool accountsDiffer)
{
    box->clear();
    box->addItem(tr("- keine Änderung -"), QString());
    box->addItem(tr("- Rabatt entfernen -"), QString());
    if (accountsDiffer)
        return;
    for (const auto &account : activeAccounts) {
        if (account.value(QStringLiteral("id")).toInt() != accountId)
            continue;
        Api_Ebay api(account.value(QStringLiteral("token")).toString(), nullptr,
                     account.value(QStringLiteral("sandbox")).toInt());
        const auto profiles = api.getShippingDiscountProfiles(db, accountId);
        for (const auto &profile : profiles) {
            if (!profile.isEmpty())
                box->addItem(profile.first(), profile.firstKey());
        }
    }
}

void takeServiceRow(QMap<QString, QVariant> &record, const QString &column,
                    const QComboBox *service, const QDoubleSpinBox *cost,
                    const QDoubleSpinBox *costAdd)
{
    const QString costColumn = column + QStringLiteral("_Cost");
    const QString addColumn = column + QStringLiteral("_Cost_Add");
    if (service->currentIndex() > 0)
        record.insert(column, service->currentData().toString());
    if (service->currentIndex() == 1) {
        record.insert(costColumn, 0);
        record.insert(addColumn, 0);
    }
    if (cost->value() > 0)
        record.insert(costColumn, cost->value());
    if (costAdd->value() > 0)
        record.insert(addColumn, costAdd->value());
}

void takeDiscountProfile(QMap<QString, QVariant> &record, const QString &column,
                         const QComboBox *box)
{
    if (box->currentIndex() == 1)
        record.insert(column, QString());
    else if (box->currentIndex() >= 2)
        record.insert(column, box->currentData().toString());
}

} // namespace ShippingChoices
