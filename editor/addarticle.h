#pragma once

#include <QDialog>
#include <QHash>
#include <QList>
#include <QMap>
#include <QPair>
#include <QSet>
#include <QString>
#include <QStringList>
#include <QVariant>

#include "core/imagelimits.h"

class Api_Ebay;
class Database;
class PictureWidget;
class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QTreeWidgetItem;
class QWebEngineView;

namespace Ui {
class AddArticle;
}

// The article editor: creates, edits or duplicates one article (a row of `articles`) or
// fills one from a template. Each page is filled from the database and from the
// marketplace's reference data of the article's site and account; several pages are
// filled only when first shown. It works on its own database connection ("AddArticle").
//
// Its methods live in files by concern:
//   editor/addarticle.cpp          construction, loading an article, pages shown, site, size
//   editor/addarticle_choices.cpp  choices by account and site
//   editor/addarticle_pages.cpp    format, payment, returns and shipping page behaviour
//   editor/addarticle_save.cpp     saving the article or a template, loading a template
//   editor/addarticle_store.cpp    storing the row with its pictures in one transaction
//   editor/addarticle_specifics.cpp categories, category features, item specifics
//   editor/addarticle_pictures.cpp the picture slots and the variation pictures
//   editor/addarticle_variations.cpp generating, editing and deleting variations
//   editor/addarticle_description.cpp the description's HTML editor
class AddArticle : public QDialog
{
    Q_OBJECT

public:
    // `articleId` 0 opens an empty form for a new article, any other value loads that row;
    // `folderId` is where a new article is filed; `duplicate` loads the row and makes the
    // form a new article with the same content.
    AddArticle(QWidget *parent, int articleId, int folderId, bool duplicate);
    ~AddArticle() override;

    // The edited row, or the new row's id after a new or duplicated article was saved.
    int getLoadId() const { return m_articleId; }
    // False when the dialog decided while it was built not to open (the article no longer
    // exists or could not be read; the user has been told why). The opener must then not run
    // it.
    bool isReady() const { return m_ready; }
    // True when the dialog ended because it can't be told whether its last save was stored
    // (the connection was lost after the commit was sent and can't be had again). The opener
    // tells the seller, naming unknownCommand() ("der Artikel", "die Vorlage"), and shows
    // what is stored; the dialog said nothing about it.
    bool outcomeUnknown() const { return !m_unknownCommand.isEmpty(); }
    QString unknownCommand() const { return m_unknownCommand; }
    // A duplicate: the new article is saved with the variations and variation pictures of
    // the article `articleId`, copied in the same transaction as its row.
    void copyVariationsFrom(int articleId) { m_variationsFrom = articleId; }

    // Reads the stored size and centres the dialog on its screen; stores the current size.
    void ReadSettings();
    void SaveSettings();

    bool eventFilter(QObject *watched, QEvent *event) override;

    // How long saving waits for the HTML editor's text before it gives up (5 s).
    static void setDescriptionTimeout(int milliseconds);

public slots:
    // Fills the whole form from the database (the article named by the article id, or an
    // empty form when it is 0). When that can't be read, the seller is told why and the
    // dialog is not ready (isReady()).
    void setupForm();
    void accept() override;

protected:
    void closeEvent(QCloseEvent *event) override;

private slots:
    // --- dialog (addarticle.cpp) ---
    void on_buttonBox_rejected();
    void on_tabWidget_currentChanged(int index);
    void on_Site_currentIndexChanged(int index);
    void on_SiteButton_clicked();

    // --- choices by account and site (addarticle_choices.cpp) ---
    void on_Account_currentIndexChanged(int index);

    // --- page behaviour (addarticle_pages.cpp) ---
    void on_ConditionID_currentIndexChanged(int index);
    void on_BestOfferEnabled_toggled(bool checked);
    void on_BestOfferAutoAcceptPriceCheckBox_toggled(bool checked);
    void on_MinimumBestOfferPriceCheckBox_toggled(bool checked);
    void on_ListingType_Chinese_toggled(bool checked);
    void on_ListingPrice_FixedPrice_toggled(bool checked);
    void on_Title_textChanged(const QString &text);
    void on_SubTitle_textChanged(const QString &text);
    void on_PaymentInstructions_textChanged();
    void on_SellerPaymentProfile_currentIndexChanged(int index);
    void on_SellerReturnProfile_currentIndexChanged(int index);
    void on_SellerShippingProfile_currentIndexChanged(int index);
    void on_ReturnsAcceptedOption_toggled(bool checked);
    void on_InternationalReturnsAcceptedOption_toggled(bool checked);
    void on_Country_currentIndexChanged(int index);
    void on_EstimatedWeight_currentIndexChanged(int index);
    void on_ShippingPackageCheckBox_toggled(bool checked);
    void on_AcceptShipping_currentIndexChanged(int index);
    void on_AcceptIShipping_currentIndexChanged(int index);
    void on_ShippingService_1_currentIndexChanged(int index);
    void on_ShippingService_2_currentIndexChanged(int index);
    void on_ShippingService_3_currentIndexChanged(int index);
    void on_ShippingService_4_currentIndexChanged(int index);
    void on_ShippingService_1_Free_toggled(bool checked);
    void on_IShippingService_1_currentIndexChanged(int index);
    void on_IShippingService_2_currentIndexChanged(int index);
    void on_IShippingService_3_currentIndexChanged(int index);
    void on_IShippingService_4_currentIndexChanged(int index);
    void on_IShippingService_5_currentIndexChanged(int index);
    void on_IShippingService_1_SelCountries_clicked();
    void on_IShippingService_2_SelCountries_clicked();
    void on_IShippingService_3_SelCountries_clicked();
    void on_IShippingService_4_SelCountries_clicked();
    void on_IShippingService_5_SelCountries_clicked();
    void on_OfferPickUp_toggled(bool checked);
    void on_PromotionalShippingDiscount_toggled(bool checked);
    void on_IPromotionalShippingDiscount_toggled(bool checked);

    // --- saving and templates (addarticle_save.cpp) ---
    void on_SaveToTemplateButton_clicked();
    void on_LoadFromTemplateButton_clicked();

    // --- categories and item specifics (addarticle_specifics.cpp) ---
    void on_PrimaryCategory_clicked();
    void on_SecondaryCategory_clicked();
    void on_pushButton_clicked();
    void moveScroll();

    // --- pictures (addarticle_pictures.cpp) ---
    void on_loadFilesButton_clicked();
    void on_removeFilesButton_clicked();
    void handleFileSaveAsBeforeCloseSelected(const QStringList &files);
    void on_ImageOptionSelectBox_currentIndexChanged(int index);
    void on_VariantImageList_itemDoubleClicked(QTreeWidgetItem *item, int column);
    void handleFileSaveAsBeforeCloseSelected(const QString &file);

    // --- variations (addarticle_variations.cpp) ---
    void on_VariantList_itemSelectionChanged();
    void on_VariantList_itemDoubleClicked(QTreeWidgetItem *item, int column);
    void on_EditVars_clicked();
    void on_DelVars_clicked();
    void on_pushButton_3_clicked();

    // --- description (addarticle_description.cpp) ---
    void on_OpenHtmlEditor_clicked();
    void finishLoading(bool ok);

private:
    // --- dialog (addarticle.cpp) ---
    // What the form is filled from: every account and the article's row (empty for a new
    // article).
    struct FormRows
    {
        QList<QMap<QString, QVariant>> accounts;
        QMap<QString, QVariant> article;
    };
    enum class FormRead { Read, Missing, Failed };
    // Reads what the form of the article `articleId` (0: a new one) is filled from, before
    // anything of the form changes; Failed with `*error` saying why.
    FormRead readForm(int articleId, FormRows *rows, QString *error);
    // Fills the whole form from `rows`.
    void fillForm(const FormRows &rows);
    // The stored row of the account chosen in the form; null when there is none.
    const QMap<QString, QVariant> *chosenAccount() const;
    // Puts every column of a loaded article row into its widget.
    void loadArticle(const QMap<QString, QVariant> &row);
    void loadCategory(const QString &button, const QString &id, const QString &text);
    void applyStyleSheets();
    // Fills the variations page from the article's variation rows.
    void fillVariationsPage();

    // --- choices by account and site (addarticle_choices.cpp) ---
    // Fills everything that depends on the site; `loaded` is true right after an existing
    // article was set up.
    void setupAll(bool loaded);
    void rebuildPaymentBoxes(const QList<QMap<QString, QString>> &options);
    void addPaymentBox(const QString &code, const QString &label, bool checked,
                       const QString &payPalAddress);
    void fillDetails(QComboBox *box, const QList<QMap<QString, QString>> &entries);
    void fillServices(const QList<QComboBox *> &boxes,
                      const QList<QMap<QString, QString>> &services,
                      const QMap<QString, QString> &categories);
    void fillProfiles(QComboBox *box, const QList<QMap<QString, QString>> &profiles);
    void fillDiscounts(QComboBox *box, QCheckBox *offer, QComboBox *acceptShipping,
                       const QList<QMap<QString, QString>> &profiles);
    void resetAccountChoices();
    // The site id of the current site choice, as decimal text.
    QString currentSite() const;
    // Records whether the last reference call of `api` filled `lists`: a failure marks them
    // as not loaded (they then take the stored values as they are) and is told to the seller,
    // once, as is a list that came from an older cache copy. True when the call succeeded.
    bool noteLists(const Api_Ebay &api, const QList<QWidget *> &lists);
    void markLists(const QList<QWidget *> &lists, bool loaded);
    // Tells the seller in the editor why the marketplace's lists are missing (`missing`) or
    // old; once, unless missing lists follow old ones.
    void reportLists(const QString &reason, bool missing);
    // A stored value that a list which could not be loaded does not hold is added to it as
    // it is, so that it stays chosen and is saved unchanged.
    void keepStored(QComboBox *box, const QString &value);
    // The program's own name for a stored code of `list` (a choice list of the form, or the
    // payment page), for when the marketplace's list can't be had; the code when it has none.
    QString storedName(const QWidget *list, const QString &code) const;
    // The stored payment methods, condition and product identifier, kept likewise.
    void keepStoredChoices(const QMap<QString, QVariant> &row);

    // --- page behaviour (addarticle_pages.cpp) ---
    bool domesticShippingOpen() const;
    bool internationalShippingOpen() const;
    void domesticRow(int n, int index);
    void internationalRow(int n, int index);
    // Runs the row handlers of every domestic and/or international service.
    void refreshServiceRows(bool domestic, bool international);
    void chooseLocations(int n);

    // --- saving and templates (addarticle_save.cpp) ---
    // The first check of the form that fails shows its message and page; false then.
    bool checkForm();
    // The `articles` columns the form stands for; false when a required item specific is
    // empty (the user has been told).
    bool buildRow(QMap<QString, QVariant> &row);
    void saveTemplate(QMap<QString, QVariant> &row);

    // --- storing the row with its pictures (addarticle_store.cpp) ---
    enum class Stored {
        Saved,
        Failed, // nothing of it is written (lastErrorText of the connection says why)
        Cancelled, // the seller chose not to save over another workstation's change
        Unknown // it may or may not be stored, and can't be looked up now
    };
    // The pictures to store, made ready before the transaction (new files copied into the
    // picture folder).
    struct PicturePlan
    {
        QStringList images;
        QString thumb;
        bool webPictures = false;
        bool copyFailed = false;
        // The picture rows could not be read when the editor opened them: the slots do not
        // show what is stored.
        bool unread = false;
        // The stored picture rows stay as they are.
        bool keepStored() const { return copyFailed || unread; }
        // Variation pictures: value, file name; only when their list was built.
        bool variantPictures = false;
        QList<QPair<QString, QString>> variants;
    };
    // Writes `row` (with its pictures) as a new row (`*id` 0: `*id` becomes its id) or over
    // the row `*id`, all in one transaction. An existing article (`compare`) gets only the
    // columns that differ from the ones read when it was opened, and where another
    // workstation changed the same column meanwhile the seller chooses whose value stays.
    // A commit whose answer was lost is looked up: a new row by its mark, an update by
    // writing it again (it sets values).
    Stored store(QMap<QString, QVariant> row, int *id, bool compare);
    Stored storePlanned(QMap<QString, QVariant> row, int *id, bool compare,
                        const PicturePlan &plan);
    // The copies this editor made into the picture folder: `name` is one more; after a save
    // with `result`, those its rows name (or may name) are the store's; the rest are removed
    // when the editor goes.
    void noteCopy(const QString &name);
    void keepCopies(const PicturePlan &plan, Stored result);
    void removeUnsavedCopies();
    Stored storeOnce(QMap<QString, QVariant> &changes, int *id, bool compare,
                     const PicturePlan &plan, QMap<QString, QString> &settled);
    // Which of `changes` another workstation changed since the article was opened, as read
    // inside the transaction; `theirs` gets their values. False when the row can't be read.
    bool changedElsewhere(const QMap<QString, QVariant> &changes, const PicturePlan &plan,
                          const QMap<QString, QString> &settled, QStringList *columns,
                          QMap<QString, QString> *theirs);
    // Asks whose values stay; false when the seller cancels. Removes the columns whose other
    // value is taken from `changes`, notes the ones kept in `settled`.
    bool settleConflicts(const QStringList &columns, const QMap<QString, QString> &theirs,
                         QMap<QString, QVariant> &changes, QMap<QString, QString> &settled);
    PicturePlan preparePictures();
    // The save waits for the pictures (the window going on): until every slot still decoding
    // has its result, and the thumbnail of the first picture is there (decoded ahead of every
    // other picture when its slot never decoded it). True when it waits: accept() is called
    // again when they are there, unless the editor was closed meanwhile.
    bool waitForPictures();
    bool picturesPending();
    // The pictures from outside the picture folder are copied into it on a thread beside the
    // window before the save writes their rows; true while a copy runs or was just started.
    bool copiesPending();
    void pictureWaitStep();
    void dropPictureWait();
    // Rewrites the picture rows and the thumbnail (`pictures`) and the variation pictures
    // (`variantPictures`) of `id`, inside the caller's transaction; false when a statement
    // failed.
    bool writePictures(int id, const PicturePlan &plan, bool pictures, bool variantPictures);
    // The pictures' names and the variation pictures as stored for `id` (sorted by value).
    QStringList storedPictures(int id, bool *ok = nullptr);
    QList<QPair<QString, QString>> storedVariantPictures(int id, bool *ok = nullptr);

    // --- categories and item specifics (addarticle_specifics.cpp) ---
    // Sets the category's defaults (conditions, identifiers, variations) on the form.
    void setDetaultFromSelectedCat();
    // Builds the item-specifics page for the primary category.
    void createItemSpecifics();
    // The page without the category's recommendations: the stored specifics, shown as they
    // are saved.
    void showStoredSpecifics(const QString &reason);
    // The item-specifics text of the page; false when a required one is empty.
    bool itemSpecificsText(QString &text);
    void addOwnSpecific(const QString &name, const QString &value);
    static void removeW(QLayout *layout);

    // --- pictures (addarticle_pictures.cpp) ---
    // Builds the twelve picture slots and fills them from the article's picture rows.
    void generateImages();
    // Copies `file` into the picture folder under a name not yet taken; the new file name,
    // empty when the copy failed.
    QString copyPicture(const QString &file, const QString &prefix);

    // --- variations (addarticle_variations.cpp) ---
    bool articleRunning() const;

    // --- description (addarticle_description.cpp) ---
    // Takes the description to save: the HTML editor's text when it is open, else the source
    // field's text. False, with the seller told, when the HTML editor does not answer.
    bool fetchDescription();

    // Template state (saving and templates).
    bool m_templateMode = false;
    QString m_templateName;
    int m_templateId = 0;
    // The variation option whose values carry pictures.
    QString m_variantImageOption;
    // The description's web editor.
    bool m_webEditorOpen = false;
    QString m_description;
    QWebEngineView *m_webView = nullptr;

    int m_folderId = 0;
    int m_loadedFolder = 0;
    int m_loadedFolderOld = 0;
    // 0 for an article not yet saved.
    int m_articleId = 0;
    QList<PictureWidget *> m_pictureSlots;
    Ui::AddArticle *m_ui = nullptr;
    bool m_picturesFilled = false;
    bool m_variationsFilled = false;
    Database *m_db = nullptr;
    // Created by setupAll when the site offers PayPal; carries "PaymentID".
    QLineEdit *m_payPalField = nullptr;
    QList<QCheckBox *> m_paymentBoxes;
    // Item specifics: the category the page was built for, the loaded text, the inputs.
    QString m_specificsCategory;
    QString m_savedSpecifics;
    QList<QWidget *> m_specificsWidgets;
    QList<QMap<QString, QVariant>> m_accounts;
    bool m_specificsBuilt = false;
    bool m_ready = true;
    // A save waiting for its pictures, whether it saves a template, and the pictures the
    // save decoded itself (of slots that never decoded theirs), by path.
    bool m_pictureWait = false;
    bool m_waitTemplateMode = false;
    int m_waitTemplateId = 0;
    QHash<QString, ImageLimits::Decoded> m_saveDecodes;
    QSet<QString> m_saveDecoding;
    // The copies made for the save, by source (a variation's by its value and source): the
    // copy's name in the picture folder, empty when it could not be made. Taken by the save.
    QHash<QString, QString> m_copies;
    bool m_copying = false;
    // The copies made by this editor that no stored row names yet (names in the picture
    // folder): removed with their thumbnails when the editor goes without saving them.
    QStringList m_unsavedCopies;
    // Main picture rows beyond the twelve slots, kept as they are when saving.
    QStringList m_extraPictures;
    // The picture rows could not be read when the slots were built: the save leaves them as
    // they are stored.
    bool m_picturesUnread = false;
    // True once the variation picture list was built from the chosen option.
    bool m_variantImagesBuilt = false;
    // The lot size as loaded; -1 for a new article.
    int m_storedLotSize = -1;
    // The HTML editor's page has loaded (its text is set once TinyMCE is ready).
    bool m_webLoaded = false;
    // Lists (combo boxes, the payment area, the identifier field) whose reference data could
    // not be loaded; the seller's notice about it.
    QSet<QWidget *> m_unloadedLists;
    QLabel *m_listsNotice = nullptr;
    bool m_listsMissing = false;
    // The article row, its pictures and its variation pictures as read when it was opened:
    // what a save compares with to write only what the seller changed.
    QMap<QString, QVariant> m_openedRow;
    QStringList m_openedPictures;
    QList<QPair<QString, QString>> m_openedVariantPictures;
    // Set when the dialog ends with a save of unknown outcome (see outcomeUnknown()).
    QString m_unknownCommand;
    // The article whose variations a new article is saved with; 0 for none.
    int m_variationsFrom = 0;
};
