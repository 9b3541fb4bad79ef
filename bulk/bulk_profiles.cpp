#include "bulk/bulk_profiles.h"

#include "core/database.h"
#include "core/statics.h"
#include "marketplace/api_ebay.h"
#include "ui_bulk_profiles.h"

#include <QTimer>

Bulk_Profiles::Bulk_Profiles(QWidget *parent, int accountId, int siteId, const QString &idList)
    : BulkEditDialog(parent, idList, QStringLiteral("bulkedit"))
    , ui(std::make_unique<Ui::Bulk_Profiles>())
    , m_accountId(accountId)
    , m_siteId(siteId)
{
    ui->setupUi(this);
    ui->progressBar->setValue(0);
    // Nothing can be chosen or confirmed before the choices are there.
    setEnabled(false);
    for (QComboBox *box :
         { ui->SellerReturnProfile, ui->SellerPaymentProfile, ui->SellerShippingProfile }) {
        box->clear();
        addNoChangeEntry(box);
        box->addItem(QStringLiteral("Profil aus Artikel entfernen"), QString());
    }
    fixSize();
    setProgressBar(ui->progressBar, false);
    QTimer::singleShot(400, this, &Bulk_Profiles::setup);
}

Bulk_Profiles::~Bulk_Profiles() = default;

QString Bulk_Profiles::commandName() const
{
    return tr("die Änderung der Rahmenbedingungen");
}

void Bulk_Profiles::setup()
{
    // Closed before the choices came: nothing to fetch.
    if (!isVisible() && result() == QDialog::Rejected
        && testAttribute(Qt::WA_WState_ExplicitShowHide))
        return;
    const Read<SqlRows> accounts = db->select(QStringLiteral("SELECT * FROM accounts WHERE id=")
                                              + QString::number(m_accountId));
    if (!accounts.ok()) {
        // Not "gone": the choices can't be offered, and nothing is stored.
        Statics::showMessage(nullptr,
                             tr("Das Konto konnte nicht aus der Datenbank gelesen werden, die "
                                "Rahmenbedingungen können daher nicht geändert werden: %1")
                                 .arg(accounts.error()),
                             2);
        done(0);
        return;
    }
    if (accounts->isEmpty()) {
        Statics::showMessage(nullptr,
                             tr("Das angegebene Konto scheint nicht mehr vorhanden zu sein"), 2);
        done(0);
        return;
    }
    const auto &account = accounts->first();
    Api_Ebay api(account.value(QStringLiteral("token")).toString(), this,
                 account.value(QStringLiteral("sandbox")).toInt());
    const QString site = QString::number(m_siteId);
    const int id = account.value(QStringLiteral("id")).toInt();
    const std::pair<const char *, QComboBox *> kinds[] = {
        { "RETURN_POLICY", ui->SellerReturnProfile },
        { "PAYMENT", ui->SellerPaymentProfile },
        { "SHIPPING", ui->SellerShippingProfile },
    };
    for (const auto &kind : kinds) {
        const auto profiles = api.getProfiles(QString::fromLatin1(kind.first), site, id);
        for (const auto &profile : profiles) {
            if (!profile.isEmpty())
                kind.second->addItem(profile.first(), profile.firstKey());
        }
    }
    setEnabled(true);
}

QMap<QString, QVariant> Bulk_Profiles::changeRecord() const
{
    QMap<QString, QVariant> record;
    takeCombo(record, ui->SellerReturnProfile, QStringLiteral("SellerReturnProfile"));
    takeCombo(record, ui->SellerPaymentProfile, QStringLiteral("SellerPaymentProfile"));
    takeCombo(record, ui->SellerShippingProfile, QStringLiteral("SellerShippingProfile"));
    return record;
}
