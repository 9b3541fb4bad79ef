#include "mainwindow/setupaccount.h"

#include "ui_setupaccount.h"

#include "core/config.h"
#include "core/database.h"
#include "core/desktopopen.h"
#include "core/logging.h"
#include "core/statics.h"
#include "core/transaction.h"
#include "marketplace/api_ebay.h"

#include <QPushButton>
#include <QTimer>
#include <QUrl>

namespace {
const QString kSandboxUser = QStringLiteral("TESTUSER_revevor");
} // namespace

SetupAccount::SetupAccount(QWidget *parent, QString accountId, QString accountName,
                           int acceptProtect)
    : QDialog(parent)
    , db(std::make_unique<Database>(true, QStringLiteral("SetupAccount")))
    , accountId(std::move(accountId))
    , m_ui(std::make_unique<Ui::SetupAccount>())
    , secretId(Api_Ebay::getUidForSession())
{
    m_ui->setupUi(this);

    m_ui->ebayName->setText(accountName);
    m_ui->ebayName->setFocus();
    m_ui->buttonBox->button(QDialogButtonBox::Ok)->setEnabled(false);

    bool unread = false;
    if (!this->accountId.isEmpty()) {
        const Read<SqlRows> rows = db->select(QStringLiteral("SELECT * FROM accounts WHERE id=")
                                              + QString::number(this->accountId.toInt()));
        if (!rows.ok()) {
            // Renewed without its row, the account would lose its stored sandbox and small
            // business marks: nothing is offered that would store it.
            unread = true;
            const QString why = rows.error();
            QTimer::singleShot(0, this, [this, why] {
                Statics::showMessage(
                    this,
                    tr("Das Konto konnte nicht gelesen werden: %1\n\nSein Token kann so nicht "
                       "erneuert werden. Versuche es später noch einmal.")
                        .arg(why),
                    2);
            });
        } else if (!rows->isEmpty()) {
            if (rows->first().value(QStringLiteral("sandbox")).toInt() == 1)
                m_ui->sandBox->setChecked(true);
            if (rows->first().value(QStringLiteral("smallbiz")).toInt() == 1)
                m_ui->Kleinunternehmer->setChecked(true);
        }
        m_ui->label->setText(tr("Bestehenden Token aktualisieren"));
    }
    m_ui->ProtectBox->setChecked(acceptProtect == 1);
    m_ui->sandBox->setVisible(false);
    updateEnabled();
    if (unread) {
        for (QWidget *field :
             { static_cast<QWidget *>(m_ui->ProtectBox), static_cast<QWidget *>(m_ui->ebayName),
               static_cast<QWidget *>(m_ui->Kleinunternehmer),
               static_cast<QWidget *>(m_ui->authButton),
               static_cast<QWidget *>(m_ui->fetchButton) })
            field->setEnabled(false);
    }

    adjustSize();
    setMinimumSize(size());
    setMaximumSize(size());
}

SetupAccount::~SetupAccount() = default;

QStringList SetupAccount::missingConfiguration(bool sandbox, bool signIn)
{
    QList<Config::Key> keys = sandbox
        ? QList<Config::Key> { Config::Key::DevIdSandbox, Config::Key::AppIdSandbox,
                               Config::Key::CertIdSandbox }
        : QList<Config::Key> { Config::Key::DevId, Config::Key::AppId, Config::Key::CertId };
    if (signIn)
        keys << (sandbox ? Config::Key::RuNameSandbox : Config::Key::RuName);
    else if (sandbox)
        keys << Config::Key::SandboxToken;
    QStringList missing;
    for (Config::Key key : qAsConst(keys)) {
        if (!Config::isConfigured(key))
            missing << Config::environmentVariable(key);
    }
    return missing;
}

bool SetupAccount::checkConfiguration(bool signIn)
{
    const QStringList missing = missingConfiguration(m_ui->sandBox->isChecked(), signIn);
    if (missing.isEmpty())
        return true;
    Statics::showMessage(this,
                         tr("Die Verbindung zu eBay ist nicht eingerichtet, es fehlt: %1. Trage "
                            "die Werte als Umgebungsvariablen ein (siehe README) und starte "
                            "das Programm neu.")
                             .arg(missing.join(QStringLiteral(", "))),
                         1);
    return false;
}

void SetupAccount::updateEnabled()
{
    m_ui->ebayName->setEnabled(m_ui->ProtectBox->isChecked() && !m_ui->sandBox->isChecked());
    m_ui->authButton->setEnabled(m_ui->ebayName->isEnabled() && !m_ui->ebayName->text().isEmpty());
}

void SetupAccount::on_ProtectBox_toggled(bool)
{
    updateEnabled();
}

void SetupAccount::on_ebayName_textChanged(const QString &)
{
    m_ui->authButton->setEnabled(!m_ui->ebayName->text().isEmpty());
}

void SetupAccount::on_sandBox_toggled(bool checked)
{
    if (checked) {
        m_ui->ebayName->setText(kSandboxUser);
        m_ui->authButton->setEnabled(false);
        m_ui->fetchButton->setEnabled(true);
    } else {
        m_ui->ebayName->clear();
        m_ui->authButton->setEnabled(false);
        m_ui->fetchButton->setEnabled(false);
    }
    updateEnabled();
}

// The privacy statement is a page of the maker's site; the link opens it or says why it can't.
void SetupAccount::on_label_6_linkActivated(const QString &)
{
    const QString privacy = Config::serverAddress(QStringLiteral("/dsgvo"));
    if (privacy.isEmpty()) {
        Statics::showMessage(this,
                             tr("Die Datenschutzbestimmungen sind nicht erreichbar: Es ist keine "
                                "Adresse für sie eingerichtet."),
                             1);
        return;
    }
    DesktopOpen::webPage(this, QUrl(privacy));
}

void SetupAccount::on_authButton_clicked()
{
    if (!checkConfiguration(true))
        return;
    Api_Ebay api(m_ui->ebayName->text(), this, m_ui->sandBox->isChecked() ? 1 : 0);
    // Without a browser the seller can still sign in with the address the message gives.
    DesktopOpen::webPage(this, QUrl(api.getAuthUrl(secretId), QUrl::TolerantMode));
    m_ui->fetchButton->setEnabled(true);
    m_ui->authButton->setEnabled(false);
}

void SetupAccount::on_fetchButton_clicked()
{
    const bool sandbox = m_ui->sandBox->isChecked();
    if (!checkConfiguration(false))
        return;
    m_ui->fetchButton->setEnabled(false);
    m_ui->ebayName->setEnabled(false);

    Api_Ebay api(m_ui->ebayName->text(), this, sandbox ? 1 : 0);
    const QString fetched = sandbox ? Config::value(Config::Key::SandboxToken)
                                    : api.fetchToken(secretId, m_ui->ebayName->text());
    if (fetched.isEmpty()) {
        Statics::showMessage(this, api.getLastFail(), 1);
        m_ui->authButton->setEnabled(true);
        m_ui->ebayName->setEnabled(true);
        return;
    }
    const QStringList parts = fetched.split(QStringLiteral("||"));
    const QString token = parts.value(0);
    api.setToken(token);
    const QString apiresult = api.getUser();
    // A refused or cut-off reply is no account data: the stored one stays (a new account
    // gets it from the workers' next refresh).
    const bool userRead = api.getLastFail().isEmpty();
    if (!userRead)
        qCWarning(lcNet).noquote() << "Account data not read:" << api.getLastFail();
    if (storeAccount(token, parts.value(1), apiresult, userRead))
        done(1);
}

bool SetupAccount::storeAccount(const QString &token, const QString &expiry,
                                const QString &apiresult, bool userRead)
{
    const QString name = m_ui->ebayName->text();
    QMap<QString, QVariant> row;
    row.insert(QStringLiteral("token"), token);
    row.insert(QStringLiteral("tokenexp"), expiry);
    row.insert(QStringLiteral("accountname"), name);
    row.insert(QStringLiteral("acceptprotect"), 1);
    if (userRead)
        row.insert(QStringLiteral("apiresult"), apiresult);
    row.insert(QStringLiteral("sandbox"), m_ui->sandBox->isChecked() ? 1 : 0);
    row.insert(QStringLiteral("smallbiz"), m_ui->Kleinunternehmer->isChecked() ? 1 : 0);

    // The look-up and the write are one: a look-up that fails stores nothing, and a second
    // row for an account already stored is never written.
    bool stored = false;
    bool added = false;
    bool gone = false;
    {
        Transaction store(*db);
        stored = store.isOpen();
        QString id = accountId.isEmpty() ? QString() : QString::number(accountId.toInt());
        if (stored && id.isEmpty()) {
            // A second row for the same account would make the next synchronisation read
            // every listing again as new: renew the row that is there.
            const Read<QString> known
                = db->selectOne(QStringLiteral("SELECT id FROM accounts WHERE "
                                               "LOWER(accountname) = LOWER('%1') ORDER BY id")
                                    .arg(Database::escapeString(name)));
            stored = known.ok();
            if (stored)
                id = *known;
        }
        if (stored && id.isEmpty()) {
            row.insert(QStringLiteral("active"), 1);
            stored = db->insertSqlClean(row, QStringLiteral("accounts")) > 0;
            added = true;
        } else if (stored) {
            const Read<int> there
                = db->selectCount(QStringLiteral("SELECT id FROM accounts WHERE id=") + id);
            stored = there.ok();
            gone = stored && *there == 0;
            stored = stored && !gone
                && db->updateSqlClean(row, QStringLiteral("accounts"), QStringLiteral("id=") + id);
        }
        stored = stored && store.commit();
    }
    if (gone) {
        Statics::showMessage(this,
                             tr("Das Konto ist nicht mehr vorhanden; der Token wurde nicht "
                                "gespeichert. Lege das Konto neu an."),
                             2);
        return false;
    }
    if (!stored) {
        // Fetching the token again stores it once: the row is looked up by the account's name.
        Statics::showMessage(
            this,
            db->lastOutcome() == Database::Outcome::Unknown
                ? tr("Ob das Konto gespeichert wurde, ist nicht bekannt: %1").arg(db->lastErrorText)
                : tr("Das Konto wurde nicht gespeichert: %1").arg(db->lastErrorText),
            2);
        return false;
    }
    if (added)
        signUpForNewsletter(apiresult);
    return true;
}

void SetupAccount::signUpForNewsletter(const QString &apiresult)
{
    const QString address = Config::newsletterAddress(QStringLiteral("/proc.php"));
    if (address.isEmpty())
        return;
    QString registration = Statics::getstr(apiresult, QStringLiteral("<RegistrationAddress>"),
                                           QStringLiteral("</RegistrationAddress>"));
    registration.remove(QStringLiteral("<![CDATA[")).remove(QStringLiteral("]]>"));
    const QString name
        = Statics::getstr(registration, QStringLiteral("<Name>"), QStringLiteral("</Name>"));
    const QString email
        = Statics::getstr(apiresult, QStringLiteral("<Email>"), QStringLiteral("</Email>"));
    const bool commercial = apiresult.contains(QLatin1String("<SellerBusinessType>Commercial"));

    const QList<QPair<QString, QString>> items = {
        { QStringLiteral("u"), QStringLiteral("7") },
        { QStringLiteral("f"), QStringLiteral("7") },
        { QStringLiteral("c"), QStringLiteral("0") },
        { QStringLiteral("m"), QStringLiteral("0") },
        { QStringLiteral("act"), QStringLiteral("sub") },
        { QStringLiteral("v"), QStringLiteral("2") },
        { QStringLiteral("fullname"), Statics::fixHtml(name) },
        { QStringLiteral("email"), Statics::fixHtml(email) },
        { QStringLiteral("field[1]"),
          commercial ? QStringLiteral("Gewerblich") : QStringLiteral("Privat") },
        { QStringLiteral("field[7]"), QStringLiteral("Linux") },
    };
    QStringList body;
    for (const auto &item : items)
        body << QString::fromLatin1(QUrl::toPercentEncoding(item.first) + '='
                                    + QUrl::toPercentEncoding(item.second));
    Statics::HttpGet(address, body.join(QLatin1Char('&')));
}
