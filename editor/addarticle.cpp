#include "editor/addarticle.h"

#include "core/database.h"
#include "core/descriptionlimit.h"
#include "core/logging.h"
#include "core/numberreader.h"
#include "core/settings.h"
#include "core/specialfolderid.h"
#include "core/statics.h"
#include "editor/companions/picturewidget.h"

#include "ui_addarticle.h"

#include <QApplication>
#include <QCloseEvent>
#include <QFileInfo>
#include <QRegularExpression>
#include <QScreen>
#include <QStyle>
#include <algorithm>

namespace {

// The marketplace sites offered, in the order shown.
const QList<QPair<const char *, int>> kSites = {
    { "eBay United States", 0 },
    { "eBay Canada (English)", 2 },
    { "eBay UK", 3 },
    { "eBay Australia", 15 },
    { "eBay Austria", 16 },
    { "eBay Belgium (French)", 23 },
    { "eBay France", 71 },
    { "eBay Deutschland", 77 },
    { "eBay Motors", 100 },
    { "eBay Italy", 101 },
    { "eBay Belgium (Dutch)", 123 },
    { "eBay Netherlands", 146 },
    { "eBay Spain", 186 },
    { "eBay Switzerland", 193 },
    { "eBay Hong Kong", 201 },
    { "eBay India", 203 },
    { "eBay Ireland", 205 },
    { "eBay Malaysia", 207 },
    { "eBay Canada (French)", 210 },
    { "eBay Philippines", 211 },
    { "eBay Poland", 212 },
    { "eBay Singapore", 216 },
};
constexpr int kGermanSite = 77;

// Selects the entry whose item data is `value`; keeps the current entry when none is.
bool selectData(QComboBox *box, const QString &value)
{
    const int index = box->findData(value);
    if (index >= 0)
        box->setCurrentIndex(index);
    return index >= 0;
}

bool selectData(QComboBox *box, int value)
{
    const int index = box->findData(value);
    if (index >= 0)
        box->setCurrentIndex(index);
    return index >= 0;
}

QString text(const QMap<QString, QVariant> &row, const char *column)
{
    return row.value(QLatin1String(column)).toString();
}

bool isOne(const QMap<QString, QVariant> &row, const char *column)
{
    return row.value(QLatin1String(column)).toInt() == 1;
}

double number(const QMap<QString, QVariant> &row, const QString &column)
{
    return row.value(column).toDouble();
}

// A stored discount profile the account does not offer is listed as "Unbekannte ID".
void keepUnknownProfile(QComboBox *box, const QString &id)
{
    if (!id.isEmpty() && box->findData(id) < 0)
        box->addItem(QCoreApplication::translate("AddArticle", "Unbekannte ID"), id);
}

} // namespace

AddArticle::AddArticle(QWidget *parent, int articleId, int folderId, bool duplicate)
    : QDialog(parent)
    , m_folderId(folderId)
    , m_articleId(articleId)
    , m_ui(new Ui::AddArticle)
{
    m_ui->setupUi(this);
    setEnabled(false);
    // Closed without saving: the pictures copied for a save that stored nothing go with it
    // (a copy still under way goes when it comes back, or with the editor).
    connect(this, &QDialog::finished, this, [this](int result) {
        if (result != QDialog::Accepted)
            removeUnsavedCopies();
    });
    setupForm();
    if (duplicate) {
        m_articleId = 0;
        setWindowTitle(tr("Aus ausgewähltem Artikel erstellen"));
    }
    ReadSettings();
}

AddArticle::~AddArticle()
{
    removeUnsavedCopies();
    // Closed at once: the next editor opens a connection of the same name.
    delete m_db;
    delete m_ui;
}

void AddArticle::setupForm()
{
    if (!m_db)
        m_db = new Database(true, QStringLiteral("AddArticle"));
    FormRows rows;
    QString error;
    switch (readForm(m_articleId, &rows, &error)) {
    case FormRead::Read:
        fillForm(rows);
        return;
    case FormRead::Missing:
        Statics::showMessage(this, tr("Der Artikel wurde in der Datenbank nicht gefunden"), 2);
        break;
    case FormRead::Failed:
        // An empty form must not stand in for what could not be read: saved, it would
        // write over the article.
        Statics::showMessage(this,
                             m_articleId == 0
                                 ? tr("Der Editor kann nicht geöffnet werden: die Konten konnten "
                                      "nicht aus der Datenbank gelesen werden. %1")
                                       .arg(error)
                                 : tr("Der Artikel konnte nicht aus der Datenbank gelesen werden: "
                                      "%1")
                                       .arg(error),
                             2);
        break;
    }
    m_ready = false;
    done(0);
}

AddArticle::FormRead AddArticle::readForm(int articleId, FormRows *rows, QString *error)
{
    const Read<SqlRows> accounts
        = m_db->select(QStringLiteral("SELECT * FROM accounts ORDER BY accountname ASC"));
    if (!accounts.ok()) {
        *error = accounts.error();
        return FormRead::Failed;
    }
    rows->accounts = *accounts;
    if (articleId == 0)
        return FormRead::Read;
    const Read<SqlRows> article = m_db->select(QStringLiteral("SELECT * FROM articles WHERE id=")
                                               + QString::number(articleId));
    if (!article.ok()) {
        *error = article.error();
        return FormRead::Failed;
    }
    if (article->isEmpty())
        return FormRead::Missing;
    rows->article = article->first();
    return FormRead::Read;
}

const QMap<QString, QVariant> *AddArticle::chosenAccount() const
{
    const int id = m_ui->Account->currentData().toInt();
    for (const auto &account : m_accounts) {
        if (account.value(QStringLiteral("id")).toInt() == id)
            return &account;
    }
    return nullptr;
}

void AddArticle::fillForm(const FormRows &rows)
{
    if (m_folderId != SpecialFolderId::Drafts && m_folderId < 1)
        m_folderId = SpecialFolderId::Drafts;

    // A second run (a template is loaded) fills these boxes afresh and starts over.
    {
        const QSignalBlocker site(m_ui->Site), account(m_ui->Account);
        m_ui->EANorISBN->clear();
        m_ui->Site->clear();
        m_ui->Account->clear();
    }
    m_ui->Site->setProperty("lastid", 0);
    m_ui->Account->setProperty("lastloadid", QVariant());

    const QString notApplicable = tr("Nicht zutreffend");
    m_ui->EANorISBN->addItem(notApplicable, notApplicable);
    m_ui->ImageOptionSelectBox->installEventFilter(this);

    for (const auto &site : kSites) {
        const bool german = site.second == kGermanSite;
        m_ui->Site->addItem(german ? tr(site.first) : QString::fromLatin1(site.first), site.second);
        if (german)
            m_ui->Site->setCurrentIndex(m_ui->Site->count() - 1);
    }
    m_ui->Site->installEventFilter(this);

    m_accounts = rows.accounts;
    for (const auto &account : qAsConst(m_accounts))
        m_ui->Account->addItem(account.value(QStringLiteral("accountname")).toString(),
                               account.value(QStringLiteral("id")).toInt());
    m_ui->Account->installEventFilter(this);
    m_ui->Account->setEnabled(true);

    m_ui->tabWidget->setTabEnabled(m_ui->tabWidget->indexOf(m_ui->TabMerkmale), false);
    m_ui->tabWidget->setTabEnabled(m_ui->tabWidget->indexOf(m_ui->TabVars), false);
    m_ui->PrimaryCategory->setProperty("CategoryID", QString());
    m_ui->SecondaryCategory->setProperty("CategoryID", QString());
    applyStyleSheets();
    m_ui->tabWidget->setCurrentIndex(0);

    m_openedRow.clear();
    if (rows.article.isEmpty()) {
        setupAll(false);
    } else {
        // By lower-case name: the form's names and the database's may differ in case.
        for (auto it = rows.article.cbegin(); it != rows.article.cend(); ++it)
            m_openedRow.insert(it.key().toLower(), it.value());
        loadArticle(rows.article);
    }

    m_ui->PrimaryCategory->setEnabled(!m_ui->Title->text().isEmpty());
    m_ui->SecondaryCategory->setEnabled(
        m_ui->PrimaryCategory->isEnabled()
        && !m_ui->PrimaryCategory->property("CategoryID").toString().isEmpty());
    generateImages();
    setEnabled(true);
}

void AddArticle::applyStyleSheets()
{
    const QString buttonStyle = QStringLiteral(
        "color: %1 ; padding-right: 4px; padding-left: 4px;  border: 1px solid #BCBCBC; "
        "border-radius: 4px; background-color: %2; } QToolButton:checked { color: %3; "
        "background-color: %4; border: 1px solid %4; }");
    const QString dark = QApplication::palette().color(QPalette::Button).darker(130).name();
    const QPalette site = m_ui->SiteButton->palette();
    m_ui->SiteButton->setStyleSheet(
        QStringLiteral("QToolButton { margin-left: 4px; ")
        + buttonStyle.arg(site.color(QPalette::Text).name(), site.color(QPalette::Button).name(),
                          site.color(QPalette::HighlightedText).name(), dark));
    const QPalette locations = m_ui->IShippingService_1_SelCountries->palette();
    const QString locationStyle = QStringLiteral("QToolButton { ")
        + buttonStyle.arg(locations.color(QPalette::Text).name(),
                          locations.color(QPalette::Button).name(),
                          locations.color(QPalette::HighlightedText).name(), dark);
    for (QToolButton *button :
         { m_ui->IShippingService_1_SelCountries, m_ui->IShippingService_2_SelCountries,
           m_ui->IShippingService_3_SelCountries, m_ui->IShippingService_4_SelCountries,
           m_ui->IShippingService_5_SelCountries })
        button->setStyleSheet(locationStyle);

    for (QWidget *area : QList<QWidget *> { m_ui->sAreaPayment, m_ui->sAreaShip, m_ui->sAreaIShip,
                                            m_ui->ItemSpecificsArea, m_ui->AllArea,
                                            m_ui->TabPicScroll, m_ui->freifeldTab })
        area->setStyleSheet(QLatin1Char('#') + area->objectName()
                            + QStringLiteral(" {background-color:transparent;}"));
    for (QWidget *contents : QList<QWidget *> {
             m_ui->sAreaPaymentContents, m_ui->sAreaShipContents, m_ui->sAreaIShipContents,
             m_ui->ItemSpecificsAreaContents, m_ui->AllAreaContents, m_ui->TabPicScrollContents })
        contents->setStyleSheet(QLatin1Char('#') + contents->objectName()
                                + QStringLiteral(" { background-color:transparent;}"));
}

void AddArticle::loadArticle(const QMap<QString, QVariant> &row)
{
    m_loadedFolderOld = row.value(QStringLiteral("FolderOld")).toInt();
    m_loadedFolder = row.value(QStringLiteral("Folder")).toInt();
    m_variantImageOption = text(row, "VariantImageOption");
    m_ui->tabWidget->setTabEnabled(m_ui->tabWidget->indexOf(m_ui->TabVars), true);
    m_description = text(row, "Description");
    m_ui->PlainHtmlCode->setPlainText(m_description);
    const QString tooLong = DescriptionLimit::refusal(m_description);
    if (!tooLong.isEmpty())
        Statics::showMessage(this,
                             tooLong
                                 + tr(" Bitte kürzen Sie die Beschreibung, sonst kann der Artikel "
                                      "nicht gespeichert werden."),
                             1);

    // Site and account first: the lists of every other page depend on them.
    selectData(m_ui->Site, row.value(QStringLiteral("Site")).toInt());
    selectData(m_ui->Account, row.value(QStringLiteral("Account")).toInt());
    setupAll(true);
    const QString itemId = text(row, "ItemID");
    m_ui->Site->setEnabled(false);
    m_ui->Account->setEnabled(itemId.isEmpty());
    if (m_loadedFolder == SpecialFolderId::Active
        || (m_loadedFolder == SpecialFolderId::Outbox && !itemId.isEmpty())) {
        m_ui->SiteButton->hide();
        m_ui->Account->setEnabled(false);
        m_ui->Site->setToolTip(
            tr("Die Plattform kann bei laufenden Auktionen nicht geändert werden"));
        m_ui->Account->setToolTip(
            tr("Der Account kann bei laufenden Auktionen nicht geändert werden"));
    }

    m_ui->Title->setText(text(row, "Title"));
    m_ui->SubTitle->setText(text(row, "SubTitle"));
    m_ui->StartPrice->setValue(number(row, QStringLiteral("StartPrice")));
    m_ui->BuyItNowPrice->setValue(number(row, QStringLiteral("BuyItNowPrice")));

    m_ui->PromotionalShippingDiscount->setChecked(isOne(row, "PromotionalShippingDiscount"));
    keepStored(m_ui->ShippingDiscountProfileID, text(row, "ShippingDiscountProfileID"));
    selectData(m_ui->ShippingDiscountProfileID, text(row, "ShippingDiscountProfileID"));
    keepUnknownProfile(m_ui->ShippingDiscountProfileID, text(row, "ShippingDiscountProfileID"));
    m_ui->IPromotionalShippingDiscount->setChecked(isOne(row, "IPromotionalShippingDiscount"));
    keepStored(m_ui->IShippingDiscountProfileID, text(row, "IShippingDiscountProfileID"));
    selectData(m_ui->IShippingDiscountProfileID, text(row, "IShippingDiscountProfileID"));
    keepUnknownProfile(m_ui->IShippingDiscountProfileID, text(row, "IShippingDiscountProfileID"));

    for (QLineEdit *field : { m_ui->Free_01, m_ui->Free_02, m_ui->Free_03, m_ui->Free_04,
                              m_ui->Free_05, m_ui->SKU, m_ui->ApplicationData })
        field->setText(row.value(field->objectName()).toString());
    m_ui->Notes->setPlainText(text(row, "Notes"));
    m_ui->eBayPlus->setChecked(isOne(row, "eBayPlus"));

    if (text(row, "ListingType") == QLatin1String("Chinese")) {
        m_ui->ListingType_Chinese->setChecked(true);
        on_ListingType_Chinese_toggled(true);
    } else {
        m_ui->ListingPrice_FixedPrice->setChecked(true);
        on_ListingPrice_FixedPrice_toggled(true);
    }
    selectData(m_ui->ListingDuration, text(row, "ListingDuration"));
    keepStored(m_ui->DispatchTimeMax, text(row, "DispatchTimeMax"));
    selectData(m_ui->DispatchTimeMax, text(row, "DispatchTimeMax"));
    m_ui->ConditionDescription->setPlainText(text(row, "ConditionDescription"));
    m_ui->Quantity->setValue(row.value(QStringLiteral("Quantity")).toInt());
    m_ui->ReservePrice->setValue(number(row, QStringLiteral("ReservePrice")));
    m_ui->PrivateListing->setChecked(isOne(row, "PrivateListing"));
    m_ui->BestOfferEnabled->setChecked(isOne(row, "BestOfferEnabled"));
    const QList<QPair<QCheckBox *, QDoubleSpinBox *>> limits = {
        { m_ui->MinimumBestOfferPriceCheckBox, m_ui->MinimumBestOfferPrice },
        { m_ui->BestOfferAutoAcceptPriceCheckBox, m_ui->BestOfferAutoAcceptPrice },
    };
    for (const auto &limit : limits) {
        const double value = number(row, limit.second->objectName());
        limit.first->setChecked(value > 0);
        limit.second->setValue(value > 0 ? value : 0);
    }

    loadCategory(QStringLiteral("PrimaryCategory"), text(row, "PrimaryCategory"),
                 text(row, "PrimaryCategoryText"));
    if (!text(row, "SecondaryCategory").isEmpty())
        loadCategory(QStringLiteral("SecondaryCategory"), text(row, "SecondaryCategory"),
                     text(row, "SecondaryCategoryText"));
    m_savedSpecifics = text(row, "ItemSpecifics");
    keepStoredChoices(row);
    selectData(m_ui->ConditionID, row.value(QStringLiteral("ConditionID")).toInt());

    m_ui->PaymentInstructions->setPlainText(text(row, "PaymentInstructions"));
    if (m_payPalField)
        m_payPalField->setText(text(row, "PayPalEmailAddress"));
    const QStringList methods = text(row, "PaymentMethods").split(QLatin1Char('|'));
    for (QCheckBox *box : qAsConst(m_paymentBoxes)) {
        const QString id = box->property("PaymentID").toString();
        if (!methods.contains(id))
            continue;
        box->setChecked(true);
        if (id.toLower() == QLatin1String("paypal") && m_payPalField)
            m_payPalField->setEnabled(true);
    }

    keepStored(m_ui->Country, text(row, "Country"));
    selectData(m_ui->Country, text(row, "Country"));
    selectData(m_ui->Site, row.value(QStringLiteral("Site")).toInt());
    m_ui->PostalCode->setText(text(row, "PostalCode"));
    m_ui->Location->setText(text(row, "Location"));
    const QList<QPair<QComboBox *, const char *>> returnOptions = {
        { m_ui->ReturnsWithinOption, "RP_ReturnsWithinOption" },
        { m_ui->ShippingCostPaidByOption, "RP_ShippingCostPaidByOption" },
        { m_ui->InternationalReturnsWithinOption, "RP_InternationalReturnsWithinOption" },
        { m_ui->InternationalShippingCostPaidByOption, "RP_InternationalShippingCostPaidByOption" },
    };
    for (const auto &option : returnOptions) {
        keepStored(option.first, text(row, option.second));
        selectData(option.first, text(row, option.second));
    }
    m_ui->ReturnsAcceptedOption->setChecked(text(row, "RP_ReturnsAcceptedOption")
                                            == QLatin1String("ReturnsAccepted"));
    on_ReturnsAcceptedOption_toggled(m_ui->ReturnsAcceptedOption->isChecked());
    m_ui->InternationalReturnsAcceptedOption->setChecked(
        text(row, "RP_InternationalReturnsAcceptedOption") == QLatin1String("ReturnsAccepted"));
    on_InternationalReturnsAcceptedOption_toggled(
        m_ui->InternationalReturnsAcceptedOption->isChecked());
    for (QComboBox *profile :
         { m_ui->SellerReturnProfile, m_ui->SellerPaymentProfile, m_ui->SellerShippingProfile }) {
        keepStored(profile, row.value(profile->objectName()).toString());
        selectData(profile, row.value(profile->objectName()).toString());
    }
    m_ui->OfferPickUp->setChecked(isOne(row, "PickUpAccepted"));
    m_ui->OfferPickUpCost->setValue(number(row, QStringLiteral("PickUpAcceptedCost")));

    // The four domestic services, then the five international ones.
    for (int i = 0; i < 9; ++i) {
        const bool international = i >= 4;
        const int n = international ? i - 3 : i + 1;
        const QString column = (international ? QStringLiteral("ShippingServiceInt_%1")
                                              : QStringLiteral("ShippingService_%1"))
                                   .arg(n);
        const QString widget = (international ? QStringLiteral("IShippingService_%1")
                                              : QStringLiteral("ShippingService_%1"))
                                   .arg(n);
        auto *service = findChild<QComboBox *>(widget);
        keepStored(service, row.value(column).toString());
        if (selectData(service, row.value(column).toString())) {
            international ? internationalRow(n, service->currentIndex())
                          : domesticRow(n, service->currentIndex());
            if (service->currentIndex() > 0)
                (international ? m_ui->AcceptIShipping : m_ui->AcceptShipping)->setCurrentIndex(1);
        }
        for (const QString &cost : { QStringLiteral("_Cost"), QStringLiteral("_Cost_Add") })
            findChild<QDoubleSpinBox *>(widget + cost)->setValue(number(row, column + cost));
        if (international)
            findChild<QToolButton *>(widget + QStringLiteral("_SelCountries"))
                ->setProperty("ids", row.value(column + QStringLiteral("_Loc")).toString());
        else if (n == 1)
            m_ui->ShippingService_1_Free->setChecked(isOne(row, "ShippingService_1_IsFree"));
    }

    m_ui->GalleryTypePlus->setChecked(text(row, "GalleryType") == QLatin1String("Plus"));
    on_AcceptShipping_currentIndexChanged(m_ui->AcceptShipping->currentIndex());
    on_AcceptIShipping_currentIndexChanged(m_ui->AcceptIShipping->currentIndex());
    m_ui->VATPercent->setValue(number(row, QStringLiteral("VAT_VATPercent")));
    m_storedLotSize = row.value(QStringLiteral("LotSize")).toInt();
    m_ui->LotSize->setValue(m_storedLotSize);
    for (QComboBox *store : { m_ui->StoreCategoryID, m_ui->StoreCategory2ID }) {
        keepStored(store, row.value(store->objectName()).toString());
        selectData(store, row.value(store->objectName()).toString());
    }

    const QString field = m_ui->EANorISBN->property("field").toString();
    if (field == QLatin1String("EAN") || field == QLatin1String("ISBN")
        || field == QLatin1String("UPC"))
        m_ui->EANorISBN->setEditText(row.value(field).toString());
}

void AddArticle::keepStoredChoices(const QMap<QString, QVariant> &row)
{
    if (m_unloadedLists.contains(m_ui->sAreaPaymentContents)) {
        for (const QString &method : text(row, "PaymentMethods").split(QLatin1Char('|'))) {
            const bool offered = std::any_of(
                m_paymentBoxes.cbegin(), m_paymentBoxes.cend(),
                [&method](const QCheckBox *box) { return box->property("PaymentID") == method; });
            if (!method.isEmpty() && !offered)
                addPaymentBox(method, storedName(m_ui->sAreaPaymentContents, method), false,
                              QString());
        }
    }

    const int condition = row.value(QStringLiteral("ConditionID")).toInt();
    if (m_unloadedLists.contains(m_ui->ConditionID) && condition != 0
        && m_ui->ConditionID->findData(condition) < 0) {
        m_ui->ConditionID->addItem(storedName(m_ui->ConditionID, QString::number(condition)),
                                   condition);
        m_ui->ConditionID->show();
        m_ui->ConditionIDLabel->show();
    }

    // The stored product identifier, when the category's kind is not known.
    if (m_unloadedLists.contains(m_ui->EANorISBN)) {
        for (const char *kind : { "EAN", "ISBN", "UPC" }) {
            if (text(row, kind).isEmpty())
                continue;
            m_ui->EANorISBN->setProperty("field", QLatin1String(kind));
            m_ui->EANorISBNLabel->setText(QLatin1String(kind));
            m_ui->EANorISBN->setEnabled(true);
            m_ui->EANorISBN->show();
            m_ui->EANorISBNLabel->show();
            break;
        }
    }
}

void AddArticle::loadCategory(const QString &button, const QString &id, const QString &text)
{
    QPushButton *target = findChild<QPushButton *>(button);
    QString shown = QString(text).replace(QLatin1Char(':'), QStringLiteral(" > "));
    if (shown.length() > 70)
        shown = QStringLiteral("...") + shown.right(70);
    target->setText(shown.replace(QLatin1Char('&'), QStringLiteral("&&")));
    target->setProperty("CategoryID", id);
    target->setProperty("CategoryText", text);
    if (!id.isEmpty()) {
        m_ui->tabWidget->setTabEnabled(m_ui->tabWidget->indexOf(m_ui->TabMerkmale), true);
        setDetaultFromSelectedCat();
    }
}

void AddArticle::on_tabWidget_currentChanged(int)
{
    const QString page = m_ui->tabWidget->currentWidget()->objectName();
    const bool several = m_ui->Quantity->value() > 1;
    if (page == QLatin1String("TabVars") && !m_variationsFilled) {
        fillVariationsPage();
    } else if (page == QLatin1String("TabPics") && !m_picturesFilled) {
        m_picturesFilled = true;
        for (PictureWidget *slot : qAsConst(m_pictureSlots)) {
            if (slot->imagePath.isEmpty())
                slot->clearImage();
            else if (QFileInfo::exists(slot->imagePath))
                slot->setImage(slot->imagePath);
            else
                slot->setImageNotFound();
        }
    } else if (page == QLatin1String("TabMerkmale")) {
        if (m_ui->PrimaryCategory->property("CategoryID").toString() != m_specificsCategory) {
            setEnabled(false);
            createItemSpecifics();
            setEnabled(true);
        }
    } else if (page == QLatin1String("TabVersand")) {
        for (QWidget *cost : QList<QWidget *> {
                 m_ui->ShippingService_1_Cost_Add, m_ui->ShippingService_2_Cost_Add,
                 m_ui->ShippingService_3_Cost_Add, m_ui->ShippingService_4_Cost_Add })
            cost->setVisible(several);
    } else if (page == QLatin1String("TabAuslandVersand")) {
        m_ui->AuslandVersandInfo->setText(
            m_ui->SellerShippingProfile->currentIndex() > 0
                ? tr("Sie haben ein Versandprofil ausgewählt, Angaben zum Auslandsversand sind "
                     "somit hier nicht anzugeben")
                : tr("Wenn Sie internationalen Versand anbieten, wird Ihr Artikel möglicherweise "
                     "auf einer anderen eBay-Website verkauft. In diesem Fall gelten die "
                     "Käuferschutzprogramme und Grundsätze dieser Website."));
        for (QWidget *cost : QList<QWidget *> {
                 m_ui->IShippingService_1_Cost_Add, m_ui->IShippingService_2_Cost_Add,
                 m_ui->IShippingService_3_Cost_Add, m_ui->IShippingService_4_Cost_Add,
                 m_ui->IShippingService_5_Cost_Add })
            cost->setVisible(several);
    }
}

void AddArticle::fillVariationsPage()
{
    QList<int> selected;
    for (QTreeWidgetItem *item : m_ui->VariantList->selectedItems())
        selected << item->data(0, Qt::UserRole + 100).toInt();
    m_ui->VariantList->clear();
    m_ui->VariantImageList->clear();
    m_variantImagesBuilt = false;
    m_ui->ImageOptionSelectBox->clear();
    m_ui->ImageOptionSelectBox->addItem(tr("Bitte auswählen..."), QStringLiteral("-"));
    QStringList titles = { tr("SKU"), tr("Preis"), tr("Menge"), tr("EAN/ISBN/UPC") };
    m_ui->VariantList->setHeaderLabels(titles);
    m_ui->VariantImageList->setHeaderLabels({ tr("Optionsname"), tr("Bild") });
    m_variationsFilled = true;

    const Read<SqlRows> read = m_db->select(
        QStringLiteral("SELECT * FROM articles_variations WHERE article_id='%1'").arg(m_articleId));
    if (!read.ok()) {
        // An empty page would pass for an article without variations: read again when the
        // page is shown next.
        m_variationsFilled = false;
        m_ui->ImageOptionSelectBox->setEnabled(false);
        Statics::showMessage(this,
                             tr("Die Varianten konnten nicht aus der Datenbank gelesen werden: %1")
                                 .arg(read.error()),
                             2);
        return;
    }
    const SqlRows &rows = *read;
    if (rows.isEmpty())
        return;
    static const QRegularExpression names(QStringLiteral("<Name>(.*?)</Name>"));
    static const QRegularExpression values(QStringLiteral("<Value>(.*?)</Value>"));
    auto matches = [](const QRegularExpression &pattern, const QString &text) {
        QStringList found;
        auto it = pattern.globalMatch(text);
        while (it.hasNext())
            found << it.next().captured(1);
        return found;
    };
    for (const QString &name :
         matches(names, rows.first().value(QStringLiteral("VariantXml")).toString())) {
        titles << name;
        m_ui->ImageOptionSelectBox->addItem(name, name);
    }
    m_ui->VariantList->setHeaderLabels(titles);

    for (const auto &row : rows) {
        auto *item = new QTreeWidgetItem(m_ui->VariantList);
        item->setText(0, row.value(QStringLiteral("SKU")).toString());
        double price = 0;
        NumberReader::readStored(row.value(QStringLiteral("StartPrice")).toString(), &price);
        item->setText(1, QString::number(price, 'f', 2));
        item->setText(2, row.value(QStringLiteral("Quantity")).toString());
        item->setTextAlignment(1, Qt::AlignCenter);
        item->setTextAlignment(2, Qt::AlignCenter);
        for (const char *code : { "EAN", "ISBN", "UPC", "ProductReferenceID" }) {
            const QString value = row.value(QLatin1String(code)).toString();
            if (!value.isEmpty()) {
                item->setText(3, value);
                break;
            }
        }
        const QString xml = row.value(QStringLiteral("VariantXml")).toString();
        const QStringList optionValues = matches(values, xml);
        for (int i = 0; i < optionValues.size(); ++i)
            item->setText(4 + i, optionValues.at(i));
        item->setData(0, Qt::UserRole + 100, row.value(QStringLiteral("id")).toInt());
        item->setData(0, Qt::UserRole + 101, xml);
        item->setSelected(selected.contains(row.value(QStringLiteral("id")).toInt()));
    }
    const int columns = m_ui->VariantList->columnCount();
    for (int column = 0; column < columns; ++column) {
        m_ui->VariantList->resizeColumnToContents(column);
        if (column < columns - 1)
            m_ui->VariantList->setColumnWidth(column, m_ui->VariantList->columnWidth(column) + 10);
    }
    m_ui->ImageOptionSelectBox->setEnabled(m_ui->ImageOptionSelectBox->count() >= 2);
    if (!m_variantImageOption.isEmpty())
        selectData(m_ui->ImageOptionSelectBox, m_variantImageOption);
}

void AddArticle::on_Site_currentIndexChanged(int index)
{
    if (m_ui->Site->property("lastid").toInt() == index)
        return;
    m_ui->Site->setProperty("lastid", index);
    m_ui->Site->setEnabled(false);
    QCoreApplication::processEvents();
    setEnabled(false);
    m_ui->PrimaryCategory->setText(tr("Bitte auswählen..."));
    m_ui->SecondaryCategory->setText(tr("ggf. kostenpflichtige zweite Kategorie hinzufügen"));
    m_ui->PrimaryCategory->setProperty("CategoryID", QString());
    m_ui->SecondaryCategory->setProperty("CategoryID", QString());
    m_ui->SecondaryCategory->setEnabled(false);
    m_specificsCategory.clear();
    m_savedSpecifics.clear();
    m_specificsBuilt = false;
    setupAll(false);
    m_ui->tabWidget->setTabEnabled(m_ui->tabWidget->indexOf(m_ui->TabMerkmale), false);
    setEnabled(true);
    m_ui->SiteButton->setEnabled(true);
}

void AddArticle::on_SiteButton_clicked()
{
    if (Statics::showQuestionDialog(
            this, tr("Ändern der Plattform"),
            tr("ACHTUNG: Beim ändern der Plattform werden alle Angaben zu Versand, Widerruf sowie "
               "Kategorie und Artikelmerkmale zurückgesetzt. Fortfahren?"))) {
        m_ui->Site->setEnabled(true);
        m_ui->SiteButton->setEnabled(false);
    }
}

void AddArticle::ReadSettings()
{
    const auto settings = Settings::app();
    const QSize size(settings->value(QStringLiteral("AddItemWidth"), 850).toInt(),
                     settings->value(QStringLiteral("AddItemHeight"), 650).toInt());
    QScreen *screen = this->screen() ? this->screen() : QGuiApplication::primaryScreen();
    setGeometry(
        QStyle::alignedRect(Qt::LeftToRight, Qt::AlignCenter, size, screen->geometry()));
}

void AddArticle::SaveSettings()
{
    const auto settings = Settings::app();
    settings->setValue(QStringLiteral("AddItemWidth"), width());
    settings->setValue(QStringLiteral("AddItemHeight"), height());
}

bool AddArticle::eventFilter(QObject *watched, QEvent *event)
{
    if (event->type() == QEvent::Wheel
        && QLatin1String(watched->metaObject()->className()).startsWith(QLatin1String("QComboBox")))
        return true;
    return QDialog::eventFilter(watched, event);
}

void AddArticle::closeEvent(QCloseEvent *event)
{
    SaveSettings();
    qCInfo(lcApp) << "Saved";
    QDialog::closeEvent(event);
}

void AddArticle::on_buttonBox_rejected()
{
    SaveSettings();
}
