// How the pages "Allgemein", "Zahlung / Rücknahme", "Versand" and "Vers. Ausland" follow
// the seller's choices: what is shown, enabled and counted. Nothing here is saved.
#include "editor/addarticle.h"

#include "editor/companions/addarticleselectcountries.h"

#include "ui_addarticle.h"

namespace {
constexpr int kPaymentInstructionsLimit = 500;
}

// --- condition and best offer ---

void AddArticle::on_ConditionID_currentIndexChanged(int index)
{
    m_ui->ConditionDescription->setVisible(index >= 0
                                           && m_ui->ConditionID->itemData(index).toInt() > 1000);
}

void AddArticle::on_BestOfferEnabled_toggled(bool checked)
{
    m_ui->BestOfferPanel->setVisible(checked);
}

void AddArticle::on_BestOfferAutoAcceptPriceCheckBox_toggled(bool checked)
{
    m_ui->BestOfferAutoAcceptPrice->setEnabled(checked);
}

void AddArticle::on_MinimumBestOfferPriceCheckBox_toggled(bool checked)
{
    m_ui->MinimumBestOfferPrice->setEnabled(checked);
}

// --- listing format ---

void AddArticle::on_ListingType_Chinese_toggled(bool checked)
{
    if (!checked)
        return;
    m_ui->tabWidget->setTabEnabled(m_ui->tabWidget->indexOf(m_ui->TabVars), false);
    const QString before = m_ui->ListingDuration->currentIndex() >= 0
        ? m_ui->ListingDuration->currentData().toString()
        : QString();
    m_ui->ListingDuration->clear();
    const QList<QPair<QString, QString>> durations = {
        { tr("1 Tag"), QStringLiteral("Days_1") },    { tr("3 Tage"), QStringLiteral("Days_3") },
        { tr("5 Tage"), QStringLiteral("Days_5") },   { tr("7 Tage"), QStringLiteral("Days_7") },
        { tr("10 Tage"), QStringLiteral("Days_10") },
    };
    for (const auto &duration : durations)
        m_ui->ListingDuration->addItem(duration.first, duration.second);
    const int kept = before.isEmpty() ? -1 : m_ui->ListingDuration->findData(before);
    if (kept >= 0)
        m_ui->ListingDuration->setCurrentIndex(kept);
    const bool auction = m_ui->ListingType_Chinese->isChecked();
    m_ui->ListingDuration->setHidden(!auction);
    m_ui->ListingDurationLabel->setHidden(!auction);
    for (QWidget *widget :
         QList<QWidget *> { m_ui->BuyItNowPrice, m_ui->BuyItNowPriceLabel, m_ui->ReservePrice,
                            m_ui->ReservePriceLabel, m_ui->PrivateListing })
        widget->show();
    m_ui->Quantity->setValue(1);
    m_ui->Quantity->setEnabled(false);
    m_ui->LotSize->setValue(1);
    m_ui->LotSize->setEnabled(false);
    m_ui->StartPriceLabel->setText(tr("Startpreis") + QStringLiteral(" *"));
}

void AddArticle::on_ListingPrice_FixedPrice_toggled(bool checked)
{
    if (!checked)
        return;
    m_ui->tabWidget->setTabEnabled(m_ui->tabWidget->indexOf(m_ui->TabVars), m_articleId != 0);
    m_ui->ListingDuration->clear();
    const bool auction = m_ui->ListingType_Chinese->isChecked();
    if (!auction)
        m_ui->ListingDuration->addItem(tr("Bis auf Widerruf"), QStringLiteral("GTC"));
    m_ui->ListingDuration->setHidden(!auction);
    m_ui->ListingDurationLabel->setHidden(!auction);
    for (QWidget *widget :
         QList<QWidget *> { m_ui->BuyItNowPrice, m_ui->BuyItNowPriceLabel, m_ui->ReservePrice,
                            m_ui->ReservePriceLabel, m_ui->PrivateListing })
        widget->hide();
    m_ui->Quantity->setEnabled(true);
    m_ui->LotSize->setEnabled(true);
    m_ui->StartPriceLabel->setText(tr("Preis") + QStringLiteral(" *"));
}

// --- character counters ---

void AddArticle::on_Title_textChanged(const QString &text)
{
    m_ui->PrimaryCategory->setEnabled(!text.isEmpty());
    m_ui->TitleLabel->setText(tr("Titel (%1/%2)").arg(text.length()).arg(m_ui->Title->maxLength())
                              + QStringLiteral(" *"));
    m_ui->SecondaryCategory->setEnabled(
        m_ui->PrimaryCategory->isEnabled()
        && !m_ui->PrimaryCategory->property("CategoryID").toString().isEmpty());
}

void AddArticle::on_SubTitle_textChanged(const QString &text)
{
    m_ui->SubTitleLabel->setText(
        tr("Untertitel (%1/%2)").arg(text.length()).arg(m_ui->SubTitle->maxLength()));
}

void AddArticle::on_PaymentInstructions_textChanged()
{
    const QString text = m_ui->PaymentInstructions->toPlainText();
    if (text.length() > kPaymentInstructionsLimit) {
        m_ui->PaymentInstructions->setPlainText(text.left(kPaymentInstructionsLimit));
        return; // the text change of the shortened text counts it
    }
    m_ui->PaymentInstructionsLabel->setText(
        tr("Hinweis (%1/%2)").arg(text.length()).arg(kPaymentInstructionsLimit));
}

// --- payment and returns ---

void AddArticle::on_SellerPaymentProfile_currentIndexChanged(int index)
{
    const bool own = index < 1;
    m_ui->PaymentInstructions->setEnabled(own);
    for (QCheckBox *box : qAsConst(m_paymentBoxes))
        box->setEnabled(own);
    if (m_payPalField)
        m_payPalField->setEnabled(own);
}

void AddArticle::on_SellerReturnProfile_currentIndexChanged(int index)
{
    const bool own = index < 1;
    m_ui->ReturnsAcceptedOption->setEnabled(own);
    m_ui->InternationalReturnsAcceptedOption->setEnabled(own);
    const bool domestic = own && m_ui->ReturnsAcceptedOption->isChecked();
    const bool international = own && m_ui->InternationalReturnsAcceptedOption->isChecked();
    m_ui->ReturnsWithinOption->setEnabled(domestic);
    m_ui->ShippingCostPaidByOption->setEnabled(domestic);
    m_ui->InternationalShippingCostPaidByOption->setEnabled(international);
    m_ui->InternationalReturnsWithinOption->setEnabled(international);
}

void AddArticle::on_ReturnsAcceptedOption_toggled(bool checked)
{
    m_ui->ReturnsWithinOption->setEnabled(checked);
    m_ui->ShippingCostPaidByOption->setEnabled(checked);
}

void AddArticle::on_InternationalReturnsAcceptedOption_toggled(bool checked)
{
    m_ui->InternationalReturnsWithinOption->setEnabled(checked);
    m_ui->InternationalShippingCostPaidByOption->setEnabled(checked);
}

// --- item location and package ---

void AddArticle::on_Country_currentIndexChanged(int index)
{
    m_ui->PostalCode->setEnabled(index >= 1);
    m_ui->Location->setEnabled(index >= 1);
}

void AddArticle::on_EstimatedWeight_currentIndexChanged(int index)
{
    const bool custom = index == m_ui->EstimatedWeight->count() - 1;
    m_ui->MajorUnitWeight->setEnabled(custom);
    m_ui->MinorUnitWeight->setEnabled(custom);
}

void AddArticle::on_ShippingPackageCheckBox_toggled(bool)
{
    const bool shown = m_ui->ShippingPackageCheckBox->isChecked();
    for (QWidget *widget : QList<QWidget *> {
             m_ui->WeightWidget, m_ui->EstimatedWeightLabel, m_ui->PkgWidget, m_ui->PkgLabel,
             m_ui->ShippingPackageDetails, m_ui->ShippingPackageDetailsLabel })
        widget->setVisible(shown);
}

// --- domestic shipping ---

bool AddArticle::domesticShippingOpen() const
{
    return m_ui->AcceptShipping->currentIndex() > 0
        && m_ui->SellerShippingProfile->currentIndex() == 0;
}

bool AddArticle::internationalShippingOpen() const
{
    return m_ui->AcceptIShipping->currentIndex() > 0
        && m_ui->SellerShippingProfile->currentIndex() == 0;
}

void AddArticle::domesticRow(int n, int index)
{
    const QString name = QStringLiteral("ShippingService_%1").arg(n);
    const bool open = domesticShippingOpen();
    findChild<QWidget *>(name)->setEnabled(open);
    bool costs = index >= 1 && open;
    if (n == 1) {
        m_ui->ShippingService_1_Free->setEnabled(costs);
        costs = costs && !m_ui->ShippingService_1_Free->isChecked();
    }
    findChild<QWidget *>(name + QStringLiteral("_Cost"))->setEnabled(costs);
    findChild<QWidget *>(name + QStringLiteral("_Cost_Add"))->setEnabled(costs);
}

void AddArticle::refreshServiceRows(bool domestic, bool international)
{
    for (int n = 1; domestic && n <= 4; ++n)
        domesticRow(
            n, findChild<QComboBox *>(QStringLiteral("ShippingService_%1").arg(n))->currentIndex());
    for (int n = 1; international && n <= 5; ++n)
        internationalRow(
            n,
            findChild<QComboBox *>(QStringLiteral("IShippingService_%1").arg(n))->currentIndex());
}

void AddArticle::on_ShippingService_1_currentIndexChanged(int index)
{
    domesticRow(1, index);
}

void AddArticle::on_ShippingService_2_currentIndexChanged(int index)
{
    domesticRow(2, index);
}

void AddArticle::on_ShippingService_3_currentIndexChanged(int index)
{
    domesticRow(3, index);
}

void AddArticle::on_ShippingService_4_currentIndexChanged(int index)
{
    domesticRow(4, index);
}

void AddArticle::on_ShippingService_1_Free_toggled(bool)
{
    domesticRow(1, m_ui->ShippingService_1->currentIndex());
}

void AddArticle::on_AcceptShipping_currentIndexChanged(int index)
{
    if (index != 0) {
        const bool noProfile = m_ui->SellerShippingProfile->currentIndex() == 0;
        const bool discounts = m_ui->ShippingDiscountProfileID->count() > 1 && noProfile;
        m_ui->DispatchTimeMax->setEnabled(noProfile);
        m_ui->OfferPickUp->setEnabled(noProfile);
        m_ui->OfferPickUpCost->setEnabled(m_ui->OfferPickUp->isChecked() && noProfile);
        m_ui->EstimatedWeight->setEnabled(true);
        on_EstimatedWeight_currentIndexChanged(m_ui->EstimatedWeight->currentIndex());
        m_ui->PromotionalShippingDiscount->setEnabled(discounts);
        m_ui->ShippingDiscountProfileID->setEnabled(
            discounts && m_ui->PromotionalShippingDiscount->isChecked());
    } else {
        for (QWidget *widget : QList<QWidget *> {
                 m_ui->DispatchTimeMax, m_ui->OfferPickUp, m_ui->OfferPickUpCost,
                 m_ui->EstimatedWeight, m_ui->MajorUnitWeight, m_ui->MinorUnitWeight,
                 m_ui->PromotionalShippingDiscount, m_ui->ShippingDiscountProfileID })
            widget->setEnabled(false);
    }
    refreshServiceRows(true, false);
}

void AddArticle::on_OfferPickUp_toggled(bool checked)
{
    m_ui->OfferPickUpCost->setEnabled(checked && m_ui->AcceptShipping->currentIndex() >= 1
                                      && m_ui->SellerShippingProfile->currentIndex() == 0);
}

void AddArticle::on_PromotionalShippingDiscount_toggled(bool)
{
    m_ui->ShippingDiscountProfileID->setEnabled(m_ui->PromotionalShippingDiscount->isChecked());
}

// --- international shipping ---

void AddArticle::internationalRow(int n, int index)
{
    const QString name = QStringLiteral("IShippingService_%1").arg(n);
    const bool open = internationalShippingOpen();
    findChild<QWidget *>(name)->setEnabled(open);
    const bool costs = index >= 1 && open;
    findChild<QWidget *>(name + QStringLiteral("_Cost"))->setEnabled(costs);
    findChild<QWidget *>(name + QStringLiteral("_Cost_Add"))->setEnabled(costs);
    findChild<QWidget *>(name + QStringLiteral("_SelCountries"))->setEnabled(costs);
}

void AddArticle::on_IShippingService_1_currentIndexChanged(int index)
{
    internationalRow(1, index);
}

void AddArticle::on_IShippingService_2_currentIndexChanged(int index)
{
    internationalRow(2, index);
}

void AddArticle::on_IShippingService_3_currentIndexChanged(int index)
{
    internationalRow(3, index);
}

void AddArticle::on_IShippingService_4_currentIndexChanged(int index)
{
    internationalRow(4, index);
}

void AddArticle::on_IShippingService_5_currentIndexChanged(int index)
{
    internationalRow(5, index);
}

void AddArticle::on_AcceptIShipping_currentIndexChanged(int)
{
    if (m_ui->AcceptIShipping->currentIndex() < 1) {
        m_ui->IPromotionalShippingDiscount->setEnabled(false);
        m_ui->IShippingDiscountProfileID->setEnabled(false);
    } else {
        const bool discounts = m_ui->IShippingDiscountProfileID->count() > 1
            && m_ui->SellerShippingProfile->currentIndex() == 0;
        m_ui->IPromotionalShippingDiscount->setEnabled(discounts);
        m_ui->IShippingDiscountProfileID->setEnabled(
            discounts && m_ui->IPromotionalShippingDiscount->isChecked());
    }
    refreshServiceRows(false, true);
}

void AddArticle::on_IPromotionalShippingDiscount_toggled(bool)
{
    m_ui->IShippingDiscountProfileID->setEnabled(m_ui->IPromotionalShippingDiscount->isChecked());
}

void AddArticle::chooseLocations(int n)
{
    auto *button
        = findChild<QToolButton *>(QStringLiteral("IShippingService_%1_SelCountries").arg(n));
    auto *chooser = new AddArticleSelectCountries(this, m_db, button->property("ids").toString(),
                                                  currentSite());
    chooser->setWindowModality(Qt::WindowModal);
    if (chooser->exec() == QDialog::Accepted) {
        auto *label = findChild<QLabel *>(QStringLiteral("IShippingService_%1_Label").arg(n));
        label->setTextFormat(Qt::PlainText);
        label->setText(chooser->getCheckedAsText());
        button->setProperty("ids", chooser->getCheckedAdIds());
    }
    chooser->deleteLater();
}

void AddArticle::on_IShippingService_1_SelCountries_clicked()
{
    chooseLocations(1);
}

void AddArticle::on_IShippingService_2_SelCountries_clicked()
{
    chooseLocations(2);
}

void AddArticle::on_IShippingService_3_SelCountries_clicked()
{
    chooseLocations(3);
}

void AddArticle::on_IShippingService_4_SelCountries_clicked()
{
    chooseLocations(4);
}

void AddArticle::on_IShippingService_5_SelCountries_clicked()
{
    chooseLocations(5);
}

// --- shipping profile ---

void AddArticle::on_SellerShippingProfile_currentIndexChanged(int index)
{
    if (index < 1) {
        const int domestic = m_ui->AcceptShipping->currentIndex();
        m_ui->AcceptShipping->setEnabled(true);
        m_ui->AcceptIShipping->setEnabled(true);
        m_ui->DispatchTimeMax->setEnabled(domestic >= 1);
        m_ui->OfferPickUp->setEnabled(domestic >= 1);
        m_ui->OfferPickUpCost->setEnabled(domestic >= 1);
        const bool discounts = m_ui->ShippingDiscountProfileID->count() > 1 && domestic > 0;
        m_ui->PromotionalShippingDiscount->setEnabled(discounts);
        m_ui->ShippingDiscountProfileID->setEnabled(
            discounts && m_ui->PromotionalShippingDiscount->isChecked());
        const bool iDiscounts = m_ui->IShippingDiscountProfileID->count() > 1
            && m_ui->AcceptIShipping->currentIndex() > 0;
        m_ui->IPromotionalShippingDiscount->setEnabled(iDiscounts);
        m_ui->IShippingDiscountProfileID->setEnabled(
            iDiscounts && m_ui->IPromotionalShippingDiscount->isChecked());
    } else {
        for (QWidget *widget : QList<QWidget *> {
                 m_ui->AcceptShipping, m_ui->AcceptIShipping, m_ui->DispatchTimeMax,
                 m_ui->OfferPickUp, m_ui->OfferPickUpCost, m_ui->PromotionalShippingDiscount,
                 m_ui->ShippingDiscountProfileID, m_ui->IPromotionalShippingDiscount,
                 m_ui->IShippingDiscountProfileID })
            widget->setEnabled(false);
    }
    refreshServiceRows(true, true);
    on_OfferPickUp_toggled(m_ui->OfferPickUp->isChecked());
}
