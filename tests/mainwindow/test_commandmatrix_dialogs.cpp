// The command matrix, the bulk dialogs' OK: on 240 articles each keeps all or nothing under a
// refused row, a lost commit answer and another workstation's lock, and says which.
#include "tests/editor/editorfixture.h"
#include "tests/mainwindow/commandmatrix.h"
#include "tests/support/testmain.h"

#include <QCheckBox>
#include <QDialog>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QTimer>
#include <QTreeWidget>

using Matrix::Command;
using Matrix::Store;
using Matrix::bulk;

namespace {

using Fill = std::function<void(QDialog *)>;

// "Einstellungen": the interval of the synchronisation set to 17 minutes and every switch of
// the notifications turned off, OK given once; the dialog, when it stays open after a failed
// save, is cancelled.
void settings(Store &s, DialogAnswers &answers)
{
    auto oks = std::make_shared<int>(0);
    QTimer seller;
    QObject::connect(&seller, &QTimer::timeout, [oks] {
        auto *dialog = QApplication::activeModalWidget();
        if (!dialog || !dialog->inherits("Setup") || !dialog->isEnabled())
            return;
        auto *setup = qobject_cast<QDialog *>(dialog);
        // The seller acts once the dialog shows the two accounts (read after it opened).
        if (dialog->findChild<QTreeWidget *>("AccountList")->topLevelItemCount() != 2)
            return;
        if (*oks > 0) {
            setup->reject();
            return;
        }
        dialog->findChild<QSpinBox *>("RefreshIntervall")->setValue(17);
        for (const char *name : { "NotiNewWatcher", "NotiNewSale", "NotiNewMessage", "NotiNewBids" })
            dialog->findChild<QCheckBox *>(name)->setChecked(false);
        ++*oks;
        setup->accept();
    });
    seller.start(20);
    s.trigger("actionEinstellungen");
    seller.stop();
    QVERIFY2(*oks == 1, qPrintable(answers.shownTexts().join('\n')));
}

void tickAndType(QDialog *d, const char *field, const QString &entry)
{
    d->findChild<QCheckBox *>(QLatin1String(field) + QLatin1String("Box"))->setChecked(true);
    d->findChild<QLineEdit *>(QLatin1String(field))->setText(entry);
}

QString inKeller(Database *db, const QString &condition)
{
    return Matrix::expectCount(db, "SELECT id FROM articles WHERE Folder=1 AND " + condition,
                               Matrix::kInKeller);
}

const QString kRefused = QStringLiteral("articles UPDATE OLD.id = 120");
const QString kKellerIds = QStringLiteral("SELECT id FROM articles WHERE Folder=1");

const QList<Command> kCommands {
    { "Preise und Mengen",
      [](Store &s, DialogAnswers &answers) {
          bulk(s, answers, "actionPreise_und_Mengen",
               [](QDialog *d) { tickAndType(d, "StartPrice", "+10%"); });
      },
      { "articles.StartPrice", "articles.CurrentPrice" }, [](Database *db) { return inKeller(db, "StartPrice=11"); },
      kRefused, kKellerIds },
    { "Format und Laufzeit",
      [](Store &s, DialogAnswers &answers) {
          bulk(s, answers, "actionFormat_und_Laufzeit", [](QDialog *d) {
              auto *box = d->findChild<QComboBox *>("DurationBox");
              box->setCurrentIndex(box->findData("Days_5"));
          });
      },
      { "articles.ListingDuration" },
      [](Database *db) { return inKeller(db, "ListingDuration='Days_5'"); }, kRefused,
      kKellerIds },
    { "Konto, PayPal und Shopkategorien",
      [](Store &s, DialogAnswers &answers) {
          bulk(s, answers, "actionKonto_PayPal_und_Shopkategorien", [](QDialog *d) {
              auto *edit = d->findChild<QLineEdit *>("PayPal");
              edit->setText("neu@example.de");
              edit->setModified(true);
          });
      },
      { "articles.PayPalEmailAddress" },
      [](Database *db) { return inKeller(db, "PayPalEmailAddress='neu@example.de'"); },
      kRefused, kKellerIds },
    { "Artikelstandort und Bearbeitungszeit",
      [](Store &s, DialogAnswers &answers) {
          bulk(s, answers, "actionArtikelstandort_und_Bearbeitungszeit", [](QDialog *d) {
              for (const auto &field : { std::make_pair("PostalCode", "04109"),
                                         std::make_pair("Location", "Leipzig") }) {
                  auto *edit = d->findChild<QLineEdit *>(field.first);
                  edit->setText(field.second);
                  edit->setModified(true);
              }
          });
      },
      { "articles.PostalCode", "articles.Location", "articles.Country",
        "articles.DispatchTimeMax" },
      [](Database *db) { return inKeller(db, "PostalCode='04109' AND Location='Leipzig'"); },
      kRefused, kKellerIds },
    { "Zahlungsmethoden",
      [](Store &s, DialogAnswers &answers) {
          bulk(s, answers, "actionZahlungsmethoden", [](QDialog *d) {
              d->findChild<QCheckBox *>("PayIns")->setChecked(true);
              d->findChild<QPlainTextEdit *>("PaymentInstructions")->setPlainText("Vorkasse");
          });
      },
      { "articles.PaymentInstructions" },
      [](Database *db) { return inKeller(db, "PaymentInstructions='Vorkasse'"); }, kRefused,
      kKellerIds },
    { "Suchen und ersetzen",
      [](Store &s, DialogAnswers &answers) {
          bulk(s, answers, "actionSuchen_und_ersetzen", [](QDialog *d) {
              auto *fields = d->findChild<QListWidget *>("FieldSelectList");
              for (int i = 0; i < fields->count(); ++i)
                  fields->item(i)->setCheckState(
                      fields->item(i)->text() == "Titel" ? Qt::Checked : Qt::Unchecked);
              d->findChild<QPlainTextEdit *>("SearchTextField")->setPlainText("Artikel");
              d->findChild<QPlainTextEdit *>("ReplaceTextField")->setPlainText("Ding");
              d->findChild<QCheckBox *>("DoUpdate")->setChecked(false);
          });
      },
      { "articles.Title" }, [](Database *db) { return inKeller(db, "Title LIKE 'Ding %'"); },
      kRefused, kKellerIds },
    { "Inlandsversand",
      [](Store &s, DialogAnswers &answers) {
          bulk(s, answers, "actionInlandsversand", [](QDialog *d) {
              d->findChild<QCheckBox *>("OfferPickup")->setCheckState(Qt::Checked);
          });
      },
      { "articles.PickUpAccepted" }, [](Database *db) { return inKeller(db, "PickUpAccepted=1"); },
      kRefused,
      kKellerIds },
    { "Auslandsversand",
      [](Store &s, DialogAnswers &answers) {
          // No shipping abroad: the services abroad the articles name are taken away.
          bulk(s, answers, "actionAuslandsversand", [](QDialog *d) {
              d->findChild<QCheckBox *>("AcceptShipping")->setChecked(true);
          });
      },
      { "articles.ShippingServiceInt_1", "articles.IPromotionalShippingDiscount" },
      [](Database *db) { return inKeller(db, "ShippingServiceInt_1=''"); }, kRefused,
      kKellerIds },
    { "Einstellungen", settings,
      { "options.<added>", "options.optionvalue" },
      [](Database *db) {
          return Matrix::expectCount(
                     db, "SELECT optionname FROM options WHERE optionname='SyncIntervall' AND "
                         "optionvalue='17'",
                     1)
              + Matrix::expectCount(db,
                                    "SELECT optionname FROM options WHERE optionname LIKE "
                                    "'NotiNew%' AND optionvalue='0'",
                                    4);
      },
      "options INSERT NEW.optionname = 'NotiNewMessage'; options UPDATE NEW.optionname = "
      "'NotiNewMessage'",
      "SELECT optionname FROM options" },
};

} // namespace

class TestCommandMatrixDialogs : public QObject
{
    Q_OBJECT

private slots:
    // The commands of the catalog this program runs.
    void coversItsCommands()
    {
        Matrix::checkCovers("dialogs", { "actionFormat_und_Laufzeit",
      "actionPreise_und_Mengen",
      "actionArtikelstandort_und_Bearbeitungszeit",
      "actionZahlungsmethoden",
      "actionKonto_PayPal_und_Shopkategorien",
      "actionSuchen_und_ersetzen",
      "actionEinstellungen",
      "actionInlandsversand",
      "actionAuslandsversand" });
    }
    void run_data() { Matrix::addRows(kCommands); }
    void run()
    {
        // The dialogs read the sites' details through an active account.
        Matrix::runRow(kCommands, [](Store &s) {
            EditorFixture::serveReferenceData(s.marketplace);
            EditorFixture::cacheGermanSite(s.db());
            EditorFixture::addAccounts(s.db());
            QVERIFY(s.db()->executeSQL("UPDATE articles SET ShippingServiceInt_1='DE_Intl', "
                                       "IPromotionalShippingDiscount=1, PickUpAccepted=0"));
        });
    }
};

APP_TEST_MAIN(TestCommandMatrixDialogs)
#include "test_commandmatrix_dialogs.moc"
