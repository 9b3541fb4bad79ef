#pragma once

#include <QList>
#include <QMap>
#include <QString>
#include <QVariant>

class Api_Ebay;
class Database;
class QComboBox;
class QDoubleSpinBox;

// The choices and rules the domestic and international shipping dialogs share.
namespace ShippingChoices {

// "- keine Änderung -", "- Versandmethode entfernen -", then the site's services grouped
// under their category headings (greyed, not selectable), into every box.
void fillServices(Api_Ebay &api, Database *db, int siteId, const QString &detailName,
                  const QList<QComboBox *> &boxes);

// "- keine Änderung -", "- Rabatt entfernen -" and, for one account, its flat shipping
// discount profiles (none when the selected articles belong to several accounts).
void fillDiscountProfiles(const QList<QMap<QString, QVariant>> &activeAccounts, QComboBox *box,
                          Database *db, int accountId, bool accountsDiffer);

// One service row of the change record: the service when chosen, both costs 0 when it is
// removed, a cost typed in above 0 in any case.
void takeServiceRow(QMap<QString, QVariant> &record, const QString &column,
                    const QComboBox *service, const QDoubleSpinBox *cost,
                    const QDoubleSpinBox *costAdd);

// The discount profile: nothing at index 0, removed at 1, the profile id from 2 on.
void takeDiscountProfile(QMap<QString, QVariant> &record, const QString &column,
                         const QComboBox *box);

} // namespace ShippingChoices
