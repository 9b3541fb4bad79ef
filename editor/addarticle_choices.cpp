// The editor's choices that depend on the account (business policies, discounts, shop
// categories, location, VAT, eBayPlus) and on the site (the site's reference lists).
#include "editor/addarticle.h"

#include "core/database.h"
#include "core/logging.h"
#include "core/statics.h"
#include "editor/choicenames.h"
#include "marketplace/api_ebay.h"
#include "views/choicelists.h"
#include "views/noticelabel.h"

#include "ui_addarticle.h"

#include <QLabel>
#include <QStandardItemModel>

namespace {

using Entries = QList<QMap<QString, QString>>;

// Empties a choice list and gives it the entry that stands for no choice.
void resetBox(QComboBox *box)
{
    box->clear();
    box->addItem(QStringLiteral("-"), QString());
}

} // namespace

QString AddArticle::currentSite() const
{
    return QString::number(m_ui->Site->currentData().toInt());
}

bool AddArticle::noteLists(const Api_Ebay &api, const QList<QWidget *> &lists)
{
    const QString failure = api.getLastFail();
    markLists(lists, failure.isEmpty());
    if (!failure.isEmpty())
        reportLists(failure, true);
    else
        reportLists(api.getStaleReason(), false);
    return failure.isEmpty();
}

void AddArticle::markLists(const QList<QWidget *> &lists, bool loaded)
{
    for (QWidget *list : lists) {
        if (loaded)
            m_unloadedLists.remove(list);
        else
            m_unloadedLists.insert(list);
    }
}

void AddArticle::reportLists(const QString &reason, bool missing)
{
    // The client has logged each failure; the seller is told once.
    if (reason.isEmpty() || (m_listsNotice && (m_listsMissing || !missing)))
        return;
    qCInfo(lcApp).noquote() << "Editor without" << (missing ? "the" : "fresh")
                            << "marketplace's lists:" << reason;
    if (!m_listsNotice) {
        // Between the pages and the buttons, where it is read before saving.
        m_listsNotice = createNoticeLabel(this, QStringLiteral("ListsNotice"));
        QLayoutItem *buttons = m_ui->gridLayout_11->itemAtPosition(1, 0);
        m_ui->gridLayout_11->removeItem(buttons);
        m_ui->gridLayout_11->addWidget(m_listsNotice, 1, 0);
        m_ui->gridLayout_11->addItem(buttons, 2, 0);
    }
    m_listsMissing = missing;
    m_listsNotice->setText(
        missing ? tr("Die Auswahllisten von eBay konnten nicht geladen werden. Grund: %1\n"
                     "Gespeicherte Angaben bleiben wählbar und werden unverändert gespeichert.")
                      .arg(reason)
                : tr("Die Auswahllisten von eBay konnten nicht aktualisiert werden. Grund: %1\n"
                     "Es werden die zuletzt geladenen Listen verwendet.")
                      .arg(reason));
    m_listsNotice->show();
}

void AddArticle::keepStored(QComboBox *box, const QString &value)
{
    if (!value.isEmpty() && m_unloadedLists.contains(box) && box->findData(value) < 0)
        box->addItem(storedName(box, value), value);
}

QString AddArticle::storedName(const QWidget *list, const QString &code) const
{
    using ChoiceNames::List;
    const QString name = list->objectName();
    List kind;
    if (list == m_ui->ConditionID)
        kind = List::Condition;
    else if (list == m_ui->ReturnsWithinOption || list == m_ui->InternationalReturnsWithinOption)
        kind = List::ReturnsWithin;
    else if (list == m_ui->ShippingCostPaidByOption
             || list == m_ui->InternationalShippingCostPaidByOption)
        kind = List::ShippingCostPaidBy;
    else if (list == m_ui->DispatchTimeMax)
        kind = List::DispatchTime;
    else if (list == m_ui->Country)
        kind = List::Country;
    else if (list == m_ui->sAreaPaymentContents)
        kind = List::PaymentMethod;
    else if (name.startsWith(QLatin1String("ShippingService_"))
             || name.startsWith(QLatin1String("IShippingService_")))
        kind = List::ShippingService;
    else
        return code;
    const QString known = ChoiceNames::name(kind, code);
    return known.isEmpty() ? code : known;
}

void AddArticle::resetAccountChoices()
{
    for (QComboBox *box :
         { m_ui->SellerReturnProfile, m_ui->SellerPaymentProfile, m_ui->SellerShippingProfile,
           m_ui->StoreCategoryID, m_ui->StoreCategory2ID, m_ui->ShippingDiscountProfileID,
           m_ui->IShippingDiscountProfileID })
        resetBox(box);
    m_ui->PromotionalShippingDiscount->setEnabled(false);
    m_ui->IPromotionalShippingDiscount->setEnabled(false);
}

void AddArticle::on_Account_currentIndexChanged(int index)
{
    if (index < 0 || index >= m_ui->Account->count())
        return;
    // Policies, discounts and shop categories belong to an account on one site: both make
    // the key of what is loaded.
    const int accountId = m_ui->Account->currentData().toInt();
    const QString key = QString::number(accountId) + QLatin1Char('|') + currentSite();
    if (m_ui->Account->property("lastloadid").toString() == key)
        return;

    setEnabled(false);
    m_ui->Account->setProperty("lastloadid", key);
    resetAccountChoices();
    const auto account = std::find_if(m_accounts.cbegin(), m_accounts.cend(), [&](const auto &row) {
        return row.value(QStringLiteral("id")).toInt() == accountId;
    });
    if (account == m_accounts.cend()) {
        setEnabled(true);
        return;
    }

    Api_Ebay api(account->value(QStringLiteral("token")).toString(), this,
                 account->value(QStringLiteral("sandbox")).toInt());
    QString user = account->value(QStringLiteral("apiresult")).toString();
    bool userKnown = true;
    if (user.isEmpty()) {
        user = api.getUser();
        // Only a successful reply is kept: a refusal or an error page would stand in for the
        // account's data until someone cleared it.
        userKnown = noteLists(api, {});
        // Kept so that it is not fetched again: when it can't be kept, the next editor fetches
        // it again, and nothing the seller typed depends on it.
        if (userKnown
            && !m_db->executeSQL(QStringLiteral("UPDATE accounts SET apiresult='")
                                     + Database::escapeString(user) + QStringLiteral("' WHERE id=")
                                     + QString::number(accountId),
                                 Database::Repeat::Safe))
            qCInfo(lcApp).noquote()
                << "The account's user data is not kept:" << m_db->lastErrorText;
        else if (!userKnown)
            user.clear();
    }

    for (QLineEdit *field : { m_ui->PostalCode, m_ui->Location }) {
        if (field->text().isEmpty() || (m_articleId == 0 && !field->isModified())) {
            field->setText(Statics::getstr(user,
                                           field == m_ui->PostalCode
                                               ? QStringLiteral("<PostalCode>")
                                               : QStringLiteral("<CityName>"),
                                           QStringLiteral("</")));
            field->setModified(false);
        }
    }
    const QString country
        = Statics::getstr(user, QStringLiteral("<Country>"), QStringLiteral("</"));
    if (!country.isEmpty() && m_ui->Country->findData(country) >= 0)
        m_ui->Country->setCurrentIndex(m_ui->Country->findData(country));

    const QString site = currentSite();
    for (QWidget *widget :
         QList<QWidget *> { m_ui->SellerReturnProfile, m_ui->SellerPaymentProfile,
                            m_ui->SellerShippingProfile, m_ui->SellerReturnProfileLabel,
                            m_ui->SellerPaymentProfileLabel, m_ui->SellerShippingProfileLabel })
        widget->show();
    const QList<QPair<QComboBox *, QString>> policies = {
        { m_ui->SellerReturnProfile, QStringLiteral("RETURN_POLICY") },
        { m_ui->SellerPaymentProfile, QStringLiteral("PAYMENT") },
        { m_ui->SellerShippingProfile, QStringLiteral("SHIPPING") },
    };
    for (const auto &policy : policies) {
        fillProfiles(policy.first, api.getProfiles(policy.second, site, accountId));
        noteLists(api, { policy.first });
    }

    fillDiscounts(m_ui->ShippingDiscountProfileID, m_ui->PromotionalShippingDiscount,
                  m_ui->AcceptShipping, api.getShippingDiscountProfiles(m_db, accountId));
    noteLists(api, { m_ui->ShippingDiscountProfileID });
    fillDiscounts(m_ui->IShippingDiscountProfileID, m_ui->IPromotionalShippingDiscount,
                  m_ui->AcceptIShipping, api.getShippingDiscountProfiles(m_db, accountId));
    noteLists(api, { m_ui->IShippingDiscountProfileID });

    const bool storeOwner = user.contains(QLatin1String("<StoreOwner>true<"));
    // Without the account's data nobody knows whether it has a shop.
    markLists({ m_ui->StoreCategoryID, m_ui->StoreCategory2ID }, userKnown);
    if (storeOwner) {
        ChoiceLists::addStoreCategories({ m_ui->StoreCategoryID, m_ui->StoreCategory2ID },
                                        api.getStore(site, accountId, m_db));
        noteLists(api, { m_ui->StoreCategoryID, m_ui->StoreCategory2ID });
        m_ui->StoreCategoryID->setEnabled(m_ui->StoreCategoryID->count() > 1);
        m_ui->StoreCategory2ID->setEnabled(m_ui->StoreCategory2ID->count() > 1);
    }
    for (QWidget *widget : QList<QWidget *> { m_ui->StoreCatLabel, m_ui->StoreCategoryID,
                                              m_ui->StoreCategory2ID, m_ui->StoreLine })
        widget->setVisible(storeOwner);

    const bool vat = account->value(QStringLiteral("smallbiz")).toInt() != 1
        && user.contains(QLatin1String("<SellerBusinessType>Commercial</SellerBusinessType>"));
    m_ui->VATPercent->setVisible(vat);
    m_ui->VATPercentLabel->setVisible(vat);
    m_ui->VATPercentLabelPercent->setVisible(vat);

    const QString program = Statics::getstr(user, QStringLiteral("<TopRatedProgram>"),
                                            QStringLiteral("</TopRatedProgram>"));
    bool plus = false;
    for (const char *region : { "DE", "Global", "UK", "US" })
        plus = plus || program.contains(QLatin1String(region));
    m_ui->eBayPlus->setVisible(plus);
    setEnabled(true);
}

void AddArticle::fillProfiles(QComboBox *box, const QList<QMap<QString, QString>> &profiles)
{
    for (const auto &profile : profiles)
        box->addItem(profile.first(), profile.firstKey());
    box->setEnabled(box->count() > 1);
}

void AddArticle::fillDiscounts(QComboBox *box, QCheckBox *offer, QComboBox *acceptShipping,
                               const QList<QMap<QString, QString>> &profiles)
{
    for (const auto &profile : profiles)
        box->addItem(profile.first(), profile.firstKey());
    const bool some = box->count() >= 2;
    box->setEnabled(some && offer->isChecked());
    offer->setEnabled(some && acceptShipping->currentIndex() >= 1
                      && m_ui->SellerShippingProfile->currentIndex() == 0);
    if (!some)
        offer->setChecked(false);
}

void AddArticle::fillDetails(QComboBox *box, const Entries &entries)
{
    resetBox(box);
    for (const auto &entry : entries)
        box->addItem(entry.first(), entry.firstKey());
}

void AddArticle::fillServices(const QList<QComboBox *> &boxes, const Entries &services,
                              const QMap<QString, QString> &categories)
{
    for (QComboBox *box : boxes) {
        const QSignalBlocker quiet(box);
        resetBox(box);
        ChoiceLists::addServices(box, services, categories);
    }
}

void AddArticle::rebuildPaymentBoxes(const Entries &offered)
{
    QStringList chosen;
    for (QCheckBox *box : qAsConst(m_paymentBoxes)) {
        if (box->isChecked())
            chosen << box->property("PaymentID").toString();
    }
    const QString payPalAddress = m_payPalField ? m_payPalField->text() : QString();
    const int rows = m_paymentBoxes.size() + (m_payPalField ? 1 : 0);
    for (int i = 0; i < rows; ++i)
        m_ui->PaymentTabLayout->removeRow(1);
    m_paymentBoxes.clear();
    m_payPalField = nullptr;

    Entries options = offered;
    options.insert(
        qMin(1, options.size()),
        { { QStringLiteral("MoneyXferAcceptedInCheckout"),
            QCoreApplication::translate(
                "QDialog", "Überweisung: Ihre Bankkontodaten werden dem Käufer angezeigt.") } });
    for (const auto &option : qAsConst(options))
        addPaymentBox(option.firstKey(), option.first(), chosen.contains(option.firstKey()),
                      payPalAddress);
}

void AddArticle::addPaymentBox(const QString &code, const QString &label, bool checked,
                               const QString &payPalAddress)
{
    // Below the boxes (and the PayPal address) there are so far.
    const int row = 1 + m_paymentBoxes.size() + (m_payPalField ? 1 : 0);
    auto *box = new QCheckBox(label, this);
    box->setProperty("PaymentID", code);
    m_ui->PaymentTabLayout->insertRow(row,
                                      m_paymentBoxes.isEmpty()
                                          ? QCoreApplication::translate("QDialog", "Zahlbar per")
                                          : QString(),
                                      box);
    if (!m_paymentBoxes.isEmpty())
        m_paymentBoxes.last()->setStyleSheet(QString());
    m_paymentBoxes << box;
    box->setChecked(checked);
    box->setStyleSheet(QStringLiteral("margin-bottom: 8px"));
    if (code.toLower() == QLatin1String("paypal") && !m_payPalField) {
        m_payPalField = new QLineEdit(this);
        m_payPalField->setPlaceholderText(QCoreApplication::translate(
            "QDialog", "Hinterlegen Sie hier Ihre PayPal E-Mailadresse"));
        m_payPalField->setProperty("PaymentID", QStringLiteral("PayPalEmailAddress"));
        m_payPalField->setEnabled(box->isChecked());
        m_payPalField->setText(payPalAddress);
        m_ui->PaymentTabLayout->insertRow(row + 1, QString(), m_payPalField);
        connect(box, &QCheckBox::toggled, m_payPalField, &QLineEdit::setEnabled);
    }
}

void AddArticle::setupAll(bool loaded)
{
    if (!m_accounts.isEmpty()) {
        const QMap<QString, QVariant> *account = chosenAccount();
        if (!account)
            return;
        Api_Ebay api(account->value(QStringLiteral("token")).toString(), this,
                     account->value(QStringLiteral("sandbox")).toInt());
        const QString site = currentSite();
        // Every kind comes from one reply of the site: when it can't be had, it is not asked
        // for again for each list.
        bool siteLoaded = true;
        const auto details = [&](const QString &kind) {
            Entries entries;
            if (siteLoaded) {
                api.getEbayDetails(site, kind, entries, m_db);
                siteLoaded = noteLists(api, {});
            }
            return entries;
        };
        const QList<QWidget *> siteLists = {
            m_ui->sAreaPaymentContents,
            m_ui->ReturnsWithinOption,
            m_ui->ShippingCostPaidByOption,
            m_ui->InternationalReturnsWithinOption,
            m_ui->InternationalShippingCostPaidByOption,
            m_ui->DispatchTimeMax,
            m_ui->Country,
            m_ui->ShippingService_1,
            m_ui->ShippingService_2,
            m_ui->ShippingService_3,
            m_ui->ShippingService_4,
            m_ui->IShippingService_1,
            m_ui->IShippingService_2,
            m_ui->IShippingService_3,
            m_ui->IShippingService_4,
            m_ui->IShippingService_5,
        };
        rebuildPaymentBoxes(details(QStringLiteral("PaymentOptionDetails")));
        fillDetails(m_ui->ReturnsWithinOption, details(QStringLiteral("ReturnsWithin")));
        fillDetails(m_ui->ShippingCostPaidByOption, details(QStringLiteral("ShippingCostPaidBy")));
        fillDetails(m_ui->InternationalReturnsWithinOption,
                    details(QStringLiteral("ReturnsWithin")));
        fillDetails(m_ui->InternationalShippingCostPaidByOption,
                    details(QStringLiteral("ShippingCostPaidBy")));
        fillDetails(m_ui->DispatchTimeMax, details(QStringLiteral("DispatchTimeMaxDetails")));

        resetBox(m_ui->ShippingPackageDetails);
        const QList<QPair<const char *, const char *>> packages = {
            { "Letter", QT_TRANSLATE_NOOP("QDialog", "Brief") },
            { "LargeEnvelope", QT_TRANSLATE_NOOP("QDialog", "Großer Versandumschlag") },
            { "PackageThickEnvelope",
              QT_TRANSLATE_NOOP("QDialog", "Päckchen (oder Versandumschlag)") },
            { "LargePackage", QT_TRANSLATE_NOOP("QDialog", "Großes Paket") },
        };
        for (const auto &package : packages)
            m_ui->ShippingPackageDetails->addItem(
                QCoreApplication::translate("QDialog", package.second),
                QLatin1String(package.first));
        m_ui->ShippingPackageDetails->setCurrentIndex(0);
        resetBox(m_ui->EstimatedWeight);
        const QList<QPair<const char *, const char *>> weights = {
            { "ONEHUNDREDONE_GMS_OR_LESS", QT_TRANSLATE_NOOP("QDialog", "100g oder weniger") },
            { "ONEHUNDREDONE_GMS_TO_TWOHUNDREDFIFTY_GMS",
              QT_TRANSLATE_NOOP("QDialog", "101 g bis 250 g") },
            { "TWOHUNDREDFIFTYONE_GMS_TO_FIVEHUNDRED_GMS",
              QT_TRANSLATE_NOOP("QDialog", "251 g bis 500 g") },
            { "FIVEHUNDREDONE_GMS_TO_ONE_KGS", QT_TRANSLATE_NOOP("QDialog", "501 g bis 1 kg") },
            { "ONEPLUS_TO_TWO_KGS", QT_TRANSLATE_NOOP("QDialog", ">1 kg bis 2 kg") },
            { "TWOPLUS_TO_THREE_KGS", QT_TRANSLATE_NOOP("QDialog", ">2 kg bis 3 kg") },
            { "THREEPLUS_TO_FOUR_KGS", QT_TRANSLATE_NOOP("QDialog", ">3 kg bis 4 kg") },
            { "FOURPLUS_TO_FIVE_KGS", QT_TRANSLATE_NOOP("QDialog", ">4 kg bis 5 kg") },
            { "FIVEPLUS_TO_SIX_KGS", QT_TRANSLATE_NOOP("QDialog", ">5 kg bis 6 kg") },
            { "SIXPLUS_TO_SEVEN_KGS", QT_TRANSLATE_NOOP("QDialog", ">6 kg bis 7 kg") },
            { "SEVENPLUS_TO_EIGHT_KGS", QT_TRANSLATE_NOOP("QDialog", ">7 kg bis 8 kg") },
            { "EIGHTPLUS_TO_NINE_KGS", QT_TRANSLATE_NOOP("QDialog", ">8 kg bis 9 kg") },
            { "NINEPLUS_TO_TEN_KGS", QT_TRANSLATE_NOOP("QDialog", ">9 kg bis 10 kg") },
            { "CUSTOM_WEIGHT", QT_TRANSLATE_NOOP("QDialog", "Individuelles Gewicht") },
        };
        for (const auto &weight : weights)
            m_ui->EstimatedWeight->addItem(QCoreApplication::translate("QDialog", weight.second),
                                           QLatin1String(weight.first));
        on_EstimatedWeight_currentIndexChanged(0);
        on_ShippingPackageCheckBox_toggled(false);

        const QString country = m_ui->Country->currentIndex() >= 0
            ? m_ui->Country->currentData().toString()
            : QStringLiteral("-");
        const Entries countries = details(QStringLiteral("CountryDetails"));
        {
            const QSignalBlocker quiet(m_ui->Country);
            resetBox(m_ui->Country);
            for (const auto &entry : qAsConst(countries)) {
                const QString code = entry.firstKey();
                if (code == QLatin1String("AT") || code == QLatin1String("CH")
                    || code == QLatin1String("DE"))
                    m_ui->Country->insertItem(1, entry.first(), code);
                else
                    m_ui->Country->addItem(entry.first(), code);
            }
            m_ui->Country->setCurrentIndex(qMax(0, m_ui->Country->findData(country)));
        }
        on_Country_currentIndexChanged(m_ui->Country->currentIndex());

        QMap<QString, QString> categories;
        for (const auto &entry : details(QStringLiteral("ShippingCategoryDetails")))
            categories.insert(entry.firstKey(), entry.first());
        fillServices({ m_ui->ShippingService_1, m_ui->ShippingService_2, m_ui->ShippingService_3,
                       m_ui->ShippingService_4 },
                     details(QStringLiteral("ShippingServiceDetails")), categories);
        fillServices({ m_ui->IShippingService_1, m_ui->IShippingService_2, m_ui->IShippingService_3,
                       m_ui->IShippingService_4, m_ui->IShippingService_5 },
                     details(QStringLiteral("IShippingServiceDetails")), categories);
        markLists(siteLists, siteLoaded);
    }

    on_ReturnsAcceptedOption_toggled(m_ui->ReturnsAcceptedOption->isChecked());
    on_InternationalReturnsAcceptedOption_toggled(
        m_ui->InternationalReturnsAcceptedOption->isChecked());
    m_ui->ConditionID->clear();
    m_ui->ConditionID->addItem(QStringLiteral("-"), 0);
    m_ui->ConditionID->setCurrentIndex(0);
    m_ui->ConditionID->hide();
    m_ui->ConditionIDLabel->hide();
    on_ConditionID_currentIndexChanged(m_ui->ConditionID->currentIndex());
    m_ui->EANorISBN->hide();
    m_ui->EANorISBNLabel->hide();
    on_BestOfferEnabled_toggled(m_ui->BestOfferEnabled->isChecked());

    const QList<QPair<QComboBox *, QStringList>> kinds = {
        { m_ui->AcceptShipping,
          { QCoreApplication::translate("QDialog", "Kein Versand, nur Abholung"),
            QCoreApplication::translate("QDialog", "Pauschal, gleiche Kosten für alle Käufer") } },
        { m_ui->AcceptIShipping,
          { QCoreApplication::translate("QDialog", "Kein internationaler Versand"),
            QCoreApplication::translate("QDialog", "Pauschal, gleiche Kosten für alle Käufer") } },
    };
    for (const auto &kind : kinds) {
        QComboBox *box = kind.first;
        const int before = box->currentIndex() >= 0 ? box->currentData().toInt() : -1;
        {
            const QSignalBlocker quiet(box);
            box->clear();
            box->addItem(kind.second.at(0), 0);
            box->addItem(kind.second.at(1), 1);
            box->setCurrentIndex(0);
        }
        const bool domestic = box == m_ui->AcceptShipping;
        domestic ? on_AcceptShipping_currentIndexChanged(0)
                 : on_AcceptIShipping_currentIndexChanged(0);
        const int again = box->findData(before);
        if (again >= 0) {
            const QSignalBlocker quiet(box);
            box->setCurrentIndex(again);
            domestic ? on_AcceptShipping_currentIndexChanged(again)
                     : on_AcceptIShipping_currentIndexChanged(again);
        }
    }

    // The format's own handler: an auction keeps its duration list (and its choice where the
    // new list holds it) instead of being left without one.
    if (m_ui->ListingType_Chinese->isChecked())
        on_ListingType_Chinese_toggled(true);
    else
        on_ListingPrice_FixedPrice_toggled(true);
    if (!loaded)
        on_Account_currentIndexChanged(0);
}
