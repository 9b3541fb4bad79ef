#include "tests/editor/editorfixture.h"

#include "core/config.h"
#include "core/database.h"

#include <QAbstractButton>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QDoubleSpinBox>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QSpinBox>
#include <QTabWidget>
#include <QUrl>

using TestSupport::FakeReply;

namespace {

QByteArray stored(const QString &name)
{
    QFile file(QStringLiteral(APP_TEST_DATA_DIR "/marketplace/") + name);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

QString shownValue(QWidget *widget)
{
    if (auto *box = qobject_cast<QComboBox *>(widget))
        return box->currentData().toString();
    if (auto *button = qobject_cast<QAbstractButton *>(widget))
        return button->isCheckable() ? QString::number(button->isChecked()) : button->text();
    if (auto *line = qobject_cast<QLineEdit *>(widget))
        return line->text();
    if (auto *text = qobject_cast<QPlainTextEdit *>(widget))
        return text->toPlainText();
    if (auto *number = qobject_cast<QDoubleSpinBox *>(widget))
        return QString::number(number->value(), 'f', 2);
    if (auto *number = qobject_cast<QSpinBox *>(widget))
        return QString::number(number->value());
    if (auto *label = qobject_cast<QLabel *>(widget))
        return label->text();
    return QStringLiteral("?");
}

} // namespace

namespace EditorFixture {

QByteArray userData(const QByteArray &postalCode, const QByteArray &city)
{
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?><GetUserResponse "
           "xmlns=\"urn:ebay:apis:eBLBaseComponents\"><Ack>Success</Ack><User>"
           "<RegistrationAddress><CityName>"
        + city + "</CityName><PostalCode>" + postalCode
        + "</PostalCode><Country>DE</Country></RegistrationAddress><SellerInfo>"
          "<StoreOwner>true</StoreOwner><SellerBusinessType>Commercial</SellerBusinessType>"
          "<TopRatedSellerDetails><TopRatedProgram>DE</TopRatedProgram></TopRatedSellerDetails>"
          "</SellerInfo></User></GetUserResponse>"
          "<?xml version=\"1.0\" encoding=\"UTF-8\"?><GetUserPreferencesResponse "
          "xmlns=\"urn:ebay:apis:eBLBaseComponents\"><Ack>Success</Ack>"
          "</GetUserPreferencesResponse>";
}

void serveReferenceData(TestSupport::FakeHttpServer &server)
{
    for (const char *call : { "GeteBayDetails", "GetStore", "GetShippingDiscountProfiles",
                              "GetCategoryFeatures", "GetCategorySpecifics" })
        server.setCallReply(QLatin1String(call),
                            FakeReply::ok(stored(QLatin1String(call) + QStringLiteral(".xml"))));
    const QByteArray user = userData();
    const int split = user.indexOf("<?xml", 1);
    server.setCallReply(QStringLiteral("GetUser"), FakeReply::ok(user.left(split)));
    server.setCallReply(QStringLiteral("GetUserPreferences"), FakeReply::ok(user.mid(split)));
    server.setReply(QUrl(Config::defaultValue(Config::Key::ProfilesUrl)).path(),
                    FakeReply::ok(stored(QStringLiteral("getSellerProfiles.xml"))));
}

void cacheGermanSite(Database *db)
{
    QFile file(db->getCacheDir() + QStringLiteral("ap2_GeteBayDetails_77.xml"));
    if (file.open(QIODevice::WriteOnly))
        file.write(stored(QStringLiteral("GeteBayDetails.xml")));
}

QPair<int, int> addAccounts(Database *db)
{
    const int alpha = db->insertSqlClean({ { "accountname", "alpha" },
                                           { "token", "TOKEN-A" },
                                           { "sandbox", 0 },
                                           { "active", 1 },
                                           { "smallbiz", 0 },
                                           { "apiresult", QString::fromUtf8(userData()) } },
                                         QStringLiteral("accounts"));
    const int beta = db->insertSqlClean({ { "accountname", "beta" },
                                          { "token", "TOKEN-B" },
                                          { "sandbox", 0 },
                                          { "active", 1 },
                                          { "smallbiz", 0 },
                                          { "apiresult", QString() } },
                                        QStringLiteral("accounts"));
    return { alpha, beta };
}

void apply(QWidget *dialog, const QStringList &actions)
{
    for (const QString &action : actions) {
        const QString name = action.section(QLatin1Char('='), 0, 0);
        const QString value = action.section(QLatin1Char('='), 1);
        if (name == QLatin1String("show")) {
            auto *tabs = dialog->findChild<QTabWidget *>(QStringLiteral("tabWidget"));
            tabs->setCurrentWidget(tabs->findChild<QWidget *>(value));
            continue;
        }
        QWidget *widget = dialog->findChild<QWidget *>(name);
        if (auto *box = qobject_cast<QComboBox *>(widget)) {
            if (value.startsWith(QLatin1String("<<")))
                box->addItem(value.mid(2), value.mid(2).toInt());
            box->setCurrentIndex(value.startsWith(QLatin1Char('#')) ? value.mid(1).toInt()
                                     : value.startsWith(QLatin1String("<<"))
                                     ? box->count() - 1
                                     : box->findData(value));
        } else if (auto *button = qobject_cast<QAbstractButton *>(widget)) {
            if (value == QLatin1String("click"))
                button->click();
            else
                button->setChecked(value == QLatin1String("1"));
        } else if (auto *line = qobject_cast<QLineEdit *>(widget)) {
            line->setText(value);
        } else if (auto *text = qobject_cast<QPlainTextEdit *>(widget)) {
            text->setPlainText(value);
        } else if (auto *number = qobject_cast<QSpinBox *>(widget)) {
            number->setValue(value.toInt());
        } else if (auto *amount = qobject_cast<QDoubleSpinBox *>(widget)) {
            amount->setValue(value.toDouble());
        }
    }
}

QStringList mismatches(QWidget *dialog, const QStringList &expectations)
{
    auto *tabs = dialog->findChild<QTabWidget *>(QStringLiteral("tabWidget"));
    QStringList failed;
    for (const QString &expected : expectations) {
        QString actual;
        if (expected.startsWith(QLatin1String("page:"))) {
            const QString page = expected.section(QLatin1Char(':'), 1, 1);
            actual = QStringLiteral("page:") + page
                + (tabs->isTabEnabled(tabs->indexOf(tabs->findChild<QWidget *>(page)))
                       ? QStringLiteral(":on")
                       : QStringLiteral(":off"));
        } else {
            const int at = expected.indexOf(QRegularExpression(QStringLiteral("[=:#]")));
            const QString name = expected.left(at);
            QWidget *widget = dialog->findChild<QWidget *>(name);
            if (!widget) {
                failed << expected + QStringLiteral(" (no such widget)");
                continue;
            }
            const QString rest = expected.mid(at);
            if (rest == QLatin1String(":on") || rest == QLatin1String(":off"))
                actual
                    = name + (widget->isEnabled() ? QStringLiteral(":on") : QStringLiteral(":off"));
            else if (rest == QLatin1String(":shown") || rest == QLatin1String(":hidden"))
                actual = name
                    + (widget->isHidden() ? QStringLiteral(":hidden") : QStringLiteral(":shown"));
            else if (rest.startsWith(QLatin1Char('#')))
                actual = name + QLatin1Char('#')
                    + QString::number(qobject_cast<QComboBox *>(widget)->count());
            else
                actual = name + QLatin1Char('=') + shownValue(widget);
        }
        if (actual != expected)
            failed << expected + QStringLiteral(" but ") + actual;
    }
    return failed;
}

bool saveSettled(QWidget *editor)
{
    const auto *buttons = editor->findChild<QDialogButtonBox *>(QStringLiteral("buttonBox"));
    return buttons && buttons->isEnabled();
}

} // namespace EditorFixture
