// Saving the form as an article or a template, and loading a template into the form.
#include "editor/addarticle.h"

#include "core/database.h"
#include "core/specialfolderid.h"
#include "core/statics.h"
#include "editor/companions/templateselect.h"

#include <QWebEngineView>

#include "ui_addarticle.h"

namespace {

using Row = QMap<QString, QVariant>;

// Item data of the current entry as text; empty without one.
QString itemData(const QComboBox *box)
{
    return box->currentData().toString();
}

// A profile, return option or service: its item data when an entry after the first is
// current (and `open`), else an empty text.
QString chosen(const QComboBox *box, bool open = true)
{
    return open && box->currentIndex() > 0 ? itemData(box) : QString();
}

int checked(const QAbstractButton *button)
{
    return button->isChecked() ? 1 : 0;
}

} // namespace

bool AddArticle::checkForm()
{
    const int general = 0;
    const int desc = m_ui->tabWidget->indexOf(m_ui->TabDesc);
    const int shipping = m_ui->tabWidget->indexOf(m_ui->TabVersand);
    const int abroad = m_ui->tabWidget->indexOf(m_ui->TabAuslandVersand);
    const bool offer = m_ui->BestOfferEnabled->isChecked();
    struct Check
    {
        bool fails;
        const char *message;
        int page;
        QWidget *focus;
    };
    const Check checks[] = {
        { m_ui->Title->text().isEmpty(), "Geben Sie eine Artikelbezeichnung an", general,
          m_ui->Title },
        { m_description.isEmpty(), "Geben Sie eine Artikelbeschreibung an", desc,
          m_webView ? static_cast<QWidget *>(m_webView) : m_ui->PlainHtmlCode },
        { m_ui->PrimaryCategory->property("CategoryID").toString().isEmpty(),
          "Wählen Sie eine Kategorie für Ihr Angebot aus", general, nullptr },
        { m_ui->EANorISBNLabel->text().contains(QLatin1Char('*')) && !m_ui->EANorISBN->isHidden()
              && m_ui->EANorISBN->currentText().isEmpty(),
          "Geben Sie einen EAN/ISBN- oder UPC Code an, dieser ist in der aktuellen Kategorie "
          "Pflicht",
          general, m_ui->EANorISBN },
        { m_ui->ConditionIDLabel->text().contains(QLatin1Char('*')) && !m_ui->ConditionID->isHidden()
              && m_ui->ConditionID->currentIndex() < 1,
          "Geben Sie einen Zustand für Ihren Artikel an, dieser ist in der aktuellen Kategorie "
          "Pflicht",
          general, m_ui->ConditionID },
        { m_ui->StartPrice->value() <= 0, "Geben Sie einen Startpreis für Ihren Artikel an",
          general, m_ui->StartPrice },
        { offer && m_ui->BestOfferAutoAcceptPriceCheckBox->isChecked()
              && m_ui->BestOfferAutoAcceptPrice->value() <= 0,
          "Geben Sie einen Betrag an, ab wann Preisvorschläge automatisch akzeptiert werden",
          general, m_ui->BestOfferAutoAcceptPrice },
        { offer && m_ui->MinimumBestOfferPriceCheckBox->isChecked()
              && m_ui->MinimumBestOfferPrice->value() <= 0,
          "Geben Sie einen Betrag an, ab wann Preisvorschläge automatisch abgelehnt werden",
          general, m_ui->MinimumBestOfferPrice },
        { m_ui->Country->currentIndex() < 1, "Geben Sie einen Artikelstandort für Ihren Artikel an",
          shipping, m_ui->Country },
        { m_ui->PostalCode->text().isEmpty() && m_ui->Location->text().isEmpty(),
          "Geben Sie einen Artikelstandort für Ihren Artikel an", shipping, m_ui->PostalCode },
        { m_ui->PromotionalShippingDiscount->isChecked()
              && m_ui->ShippingDiscountProfileID->currentIndex() < 1,
          "Wählen Sie einen Versandrabatt aus", shipping, m_ui->ShippingDiscountProfileID },
        { m_ui->IPromotionalShippingDiscount->isChecked()
              && m_ui->IShippingDiscountProfileID->currentIndex() < 1,
          "Wählen Sie einen Versandrabatt für Auslandssendungen aus", abroad,
          m_ui->IShippingDiscountProfileID },
    };
    for (const Check &check : checks) {
        if (!check.fails)
            continue;
        Statics::showMessage(this, tr(check.message), 0);
        m_ui->tabWidget->setCurrentIndex(check.page);
        if (check.focus)
            check.focus->setFocus();
        return false;
    }
    return true;
}

bool AddArticle::buildRow(Row &row)
{
    QString specifics;
    if (!itemSpecificsText(specifics))
        return false;
    const bool auction = m_ui->ListingType_Chinese->isChecked();
    const bool offer = m_ui->BestOfferEnabled->isChecked();

    row[QStringLiteral("Site")] = m_ui->Site->currentData().toInt();
    row[QStringLiteral("Account")] = m_ui->Account->currentData().toInt();
    row[QStringLiteral("Title")] = m_ui->Title->text();
    row[QStringLiteral("SubTitle")] = m_ui->SubTitle->text();
    for (QPushButton *category : { m_ui->PrimaryCategory, m_ui->SecondaryCategory }) {
        row[category->objectName()] = category->property("CategoryID").toString();
        row[category->objectName() + QStringLiteral("Text")] =
            category->property("CategoryText").toString();
    }
    // Without the category's features the identifier kinds are not known: the shown one is
    // written, the others keep what is stored.
    if (!m_unloadedLists.contains(m_ui->EANorISBN))
        for (const char *code : { "EAN", "ISBN", "UPC" })
            row[QLatin1String(code)] = QString();
    const QString field = m_ui->EANorISBN->property("field").toString();
    if (!m_ui->EANorISBN->isHidden()
        && (field == QLatin1String("EAN") || field == QLatin1String("ISBN")
            || field == QLatin1String("UPC")))
        row[field] = m_ui->EANorISBN->currentText();
    row[QStringLiteral("ConditionID")] =
        m_ui->ConditionID->isHidden() ? 0 : m_ui->ConditionID->currentData().toInt();
    row[QStringLiteral("ConditionDescription")] = m_ui->ConditionDescription->toPlainText();
    row[QStringLiteral("ListingType")] =
        auction ? QStringLiteral("Chinese") : QStringLiteral("FixedPriceItem");
    row[QStringLiteral("ListingDuration")] = itemData(m_ui->ListingDuration);
    row[QStringLiteral("BuyItNowPrice")] = auction ? m_ui->BuyItNowPrice->value() : 0.0;
    row[QStringLiteral("ReservePrice")] = auction ? m_ui->ReservePrice->value() : 0.0;
    row[QStringLiteral("PrivateListing")] = auction ? checked(m_ui->PrivateListing) : 0;
    row[QStringLiteral("StartPrice")] = m_ui->StartPrice->value();
    row[QStringLiteral("eBayPlus")] = checked(m_ui->eBayPlus);
    row[QStringLiteral("BestOfferEnabled")] = checked(m_ui->BestOfferEnabled);
    const QList<QPair<QCheckBox *, QDoubleSpinBox *>> limits = {
        { m_ui->BestOfferAutoAcceptPriceCheckBox, m_ui->BestOfferAutoAcceptPrice },
        { m_ui->MinimumBestOfferPriceCheckBox, m_ui->MinimumBestOfferPrice },
    };
    for (const auto &limit : limits) {
        if (!offer)
            row[limit.second->objectName()] = 0.0;
        else if (limit.first->isChecked())
            row[limit.second->objectName()] = limit.second->value();
    }
    row[QStringLiteral("Quantity")] = m_ui->Quantity->value();
    // No lot is stored as 0 by listings read from the marketplace, and the box shows it as its
    // minimum 1: both mean no lot, so such an article keeps its 0.
    const int lot = m_ui->LotSize->value();
    row[QStringLiteral("LotSize")] = lot == 1 && m_storedLotSize == 0 ? 0 : lot;
    row[QStringLiteral("VAT_VATPercent")] = m_ui->VATPercent->value();
    row[QStringLiteral("StoreCategoryID")] = itemData(m_ui->StoreCategoryID);
    row[QStringLiteral("StoreCategory2ID")] = itemData(m_ui->StoreCategory2ID);
    row[QStringLiteral("SKU")] = m_ui->SKU->text();
    row[QStringLiteral("CurrentPrice")] = 0;
    row[QStringLiteral("IsVerified")] = 0;
    row[QStringLiteral("ItemSpecifics")] = specifics;
    row[QStringLiteral("Description")] = m_description;
    row[QStringLiteral("GalleryType")] =
        m_ui->GalleryTypePlus->isChecked() ? QStringLiteral("Plus") : QStringLiteral("Gallery");
    row[QStringLiteral("PhotoDisplay")] = QStringLiteral("PicturePack");

    for (QComboBox *profile :
         { m_ui->SellerPaymentProfile, m_ui->SellerReturnProfile, m_ui->SellerShippingProfile })
        if (!profile->isHidden())
            row[profile->objectName()] = chosen(profile);
    QStringList methods;
    for (QCheckBox *box : qAsConst(m_paymentBoxes))
        if (box->isChecked())
            methods << box->property("PaymentID").toString();
    row[QStringLiteral("PaymentMethods")] = methods.join(QLatin1Char('|'));
    if (m_payPalField)
        row[QStringLiteral("PayPalEmailAddress")] = m_payPalField->text();
    row[QStringLiteral("PaymentInstructions")] = m_ui->PaymentInstructions->toPlainText();

    const auto accepted = [](const QCheckBox *box) {
        return box->isChecked() ? QStringLiteral("ReturnsAccepted")
                                : QStringLiteral("ReturnsNotAccepted");
    };
    const bool returns = m_ui->ReturnsAcceptedOption->isChecked();
    const bool returnsAbroad = m_ui->InternationalReturnsAcceptedOption->isChecked();
    row[QStringLiteral("RP_ReturnsAcceptedOption")] = accepted(m_ui->ReturnsAcceptedOption);
    row[QStringLiteral("RP_ReturnsWithinOption")] = chosen(m_ui->ReturnsWithinOption, returns);
    row[QStringLiteral("RP_ShippingCostPaidByOption")] =
        chosen(m_ui->ShippingCostPaidByOption, returns);
    row[QStringLiteral("RP_InternationalReturnsAcceptedOption")] =
        accepted(m_ui->InternationalReturnsAcceptedOption);
    row[QStringLiteral("RP_InternationalReturnsWithinOption")] =
        chosen(m_ui->InternationalReturnsWithinOption, returnsAbroad);
    row[QStringLiteral("RP_InternationalShippingCostPaidByOption")] =
        chosen(m_ui->InternationalShippingCostPaidByOption, returnsAbroad);

    row[QStringLiteral("Country")] = itemData(m_ui->Country);
    row[QStringLiteral("PostalCode")] = m_ui->PostalCode->text();
    row[QStringLiteral("Location")] = m_ui->Location->text();
    row[QStringLiteral("DispatchTimeMax")] = itemData(m_ui->DispatchTimeMax);
    const bool domestic = m_ui->AcceptShipping->currentIndex() > 0;
    for (int n = 1; n <= 4; ++n) {
        const QString name = QStringLiteral("ShippingService_%1").arg(n);
        row[name] = domestic ? itemData(findChild<QComboBox *>(name)) : QString();
        for (const QString &cost : { QStringLiteral("_Cost"), QStringLiteral("_Cost_Add") })
            row[name + cost] = domestic ? findChild<QDoubleSpinBox *>(name + cost)->value() : 0.0;
    }
    row[QStringLiteral("ShippingService_1_IsFree")] =
        domestic ? checked(m_ui->ShippingService_1_Free) : 0;
    row[QStringLiteral("PickUpAccepted")] = checked(m_ui->OfferPickUp);
    row[QStringLiteral("PickUpAcceptedCost")] = m_ui->OfferPickUpCost->value();
    row[QStringLiteral("PromotionalShippingDiscount")] = checked(m_ui->PromotionalShippingDiscount);
    row[QStringLiteral("ShippingDiscountProfileID")] = itemData(m_ui->ShippingDiscountProfileID);
    const bool abroad = m_ui->AcceptIShipping->currentIndex() > 0;
    for (int n = 1; n <= 5; ++n) {
        const QString widget = QStringLiteral("IShippingService_%1").arg(n);
        const QString column = QStringLiteral("ShippingServiceInt_%1").arg(n);
        row[column] = abroad ? itemData(findChild<QComboBox *>(widget)) : QString();
        for (const QString &cost : { QStringLiteral("_Cost"), QStringLiteral("_Cost_Add") })
            row[column + cost] = abroad ? findChild<QDoubleSpinBox *>(widget + cost)->value() : 0.0;
        row[column + QStringLiteral("_Loc")] = abroad
            ? findChild<QToolButton *>(widget + QStringLiteral("_SelCountries"))
                  ->property("ids")
                  .toString()
            : QString();
    }
    row[QStringLiteral("IPromotionalShippingDiscount")] =
        checked(m_ui->IPromotionalShippingDiscount);
    row[QStringLiteral("IShippingDiscountProfileID")] = itemData(m_ui->IShippingDiscountProfileID);

    for (QLineEdit *field : { m_ui->Free_01, m_ui->Free_02, m_ui->Free_03, m_ui->Free_04,
                              m_ui->Free_05, m_ui->ApplicationData })
        row[field->objectName()] = field->text();
    row[QStringLiteral("Notes")] = m_ui->Notes->toPlainText();
    // An article keeps the name of the template it came from until another one is loaded or
    // saved in this dialog.
    if (!m_templateName.isEmpty() || m_templateMode)
        row[QStringLiteral("TemplateName")] = m_templateName;
    row[QStringLiteral("VariantImageOption")] = m_variantImageOption;
    return true;
}

void AddArticle::accept()
{
    // Nothing is decoded here: the save waits for the pictures with the window going on, and
    // comes back here when they are there.
    if (waitForPictures())
        return;
    SaveSettings();
    if (!fetchDescription())
        return;
    if (!m_templateMode && !checkForm())
        return;
    Row row;
    if (!buildRow(row))
        return;
    if (m_templateMode) {
        saveTemplate(row);
        return;
    }

    int id = m_articleId;
    const bool existing = id > 0;
    if (!existing)
        row[QStringLiteral("Folder")] = m_folderId;
    switch (store(row, &id, existing)) {
    case Stored::Saved:
        m_articleId = id;
        done(1);
        return;
    case Stored::Cancelled:
        return;
    case Stored::Unknown:
        // Not "nicht gespeichert": it may well be stored. The opener tells so and shows what
        // is stored; this dialog could only save it a second time.
        m_unknownCommand = tr("der Artikel");
        done(0);
        return;
    case Stored::Failed:
        break;
    }
    // Nothing of it is written. The editor stays open, so the edits are not lost; the user
    // may try again.
    Statics::showMessage(
        this, tr("Artikel konnte nicht gespeichert werden. Fehler: %1").arg(m_db->lastErrorText), 2);
}

void AddArticle::saveTemplate(Row &row)
{
    int id = m_templateId;
    if (id == 0)
        row[QStringLiteral("Folder")] = SpecialFolderId::Templates;
    switch (store(row, &id, false)) {
    case Stored::Saved:
        Statics::showMessage(this, tr("Die Vorlage wurde gespeichert"), 0);
        return;
    case Stored::Cancelled:
        return;
    case Stored::Unknown:
        m_unknownCommand = tr("die Vorlage");
        done(0);
        return;
    case Stored::Failed:
        break;
    }
    if (m_templateId != 0)
        Statics::showMessage(
            this, tr("Vorlage konnte nicht gespeichert werden. Fehler: %1").arg(m_db->lastErrorText),
            2);
    else
        Statics::showMessage(
            this,
            tr("Die Vorlage konnte nicht gespeichert werden. Fehler: %1").arg(m_db->lastErrorText),
            2);
}

void AddArticle::on_SaveToTemplateButton_clicked()
{
    auto *chooser = new TemplateSelect(this, true, m_templateName);
    chooser->setWindowModality(Qt::WindowModal);
    if (chooser->exec() == 1) {
        m_templateMode = true;
        m_templateId = chooser->overwriteId;
        m_templateName = chooser->GetTemplateName();
        chooser->deleteLater();
        accept();
    } else {
        chooser->deleteLater();
    }
    m_templateMode = false;
    m_templateId = 0;
}

void AddArticle::on_LoadFromTemplateButton_clicked()
{
    auto *chooser = new TemplateSelect(this, false, m_templateName);
    chooser->setWindowModality(Qt::WindowModal);
    const bool chosen = chooser->exec() == 1;
    const int templateId = chooser->GetLoadId();
    const QString name = chooser->GetTemplateName();
    chooser->deleteLater();
    if (!chosen)
        return;
    // Read before anything of the form changes: a template that can't be had leaves the form
    // as the seller left it.
    FormRows rows;
    QString error;
    const FormRead read = readForm(templateId, &rows, &error);
    if (read != FormRead::Read) {
        Statics::showMessage(
            this,
            (read == FormRead::Missing
                 ? tr("Die Vorlage wurde in der Datenbank nicht gefunden.")
                 : tr("Die Vorlage konnte nicht aus der Datenbank gelesen werden: %1").arg(error))
                + QStringLiteral("\n\n") + tr("Das Formular bleibt, wie es war."),
            2);
        return;
    }
    m_articleId = templateId;
    m_templateName = name;
    // The form is the template's now: a duplicate's variations no longer go with it.
    m_variationsFrom = 0;
    setEnabled(false);
    // Every page is filled afresh from the template.
    m_specificsBuilt = false;
    m_specificsCategory.clear();
    m_variationsFilled = false;
    m_picturesFilled = false;
    m_variantImagesBuilt = false;
    fillForm(rows);
    if (m_webEditorOpen)
        finishLoading(m_webLoaded);
    ReadSettings();
    setEnabled(true);
    m_articleId = 0;
}
