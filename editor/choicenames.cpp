#include "editor/choicenames.h"

#include <QCoreApplication>

namespace {

struct Name
{
    const char *code;
    const char *name;
};

QString tr(const char *text)
{
    return QCoreApplication::translate("ChoiceNames", text);
}

// The names as the German site gives them.
const Name kConditions[] = {
    { "1000", QT_TRANSLATE_NOOP("ChoiceNames", "Neu") },
    { "1500", QT_TRANSLATE_NOOP("ChoiceNames", "Neu: Sonstige (siehe Artikelbeschreibung)") },
    { "1750", QT_TRANSLATE_NOOP("ChoiceNames", "Neu mit Fehlern") },
    { "2000", QT_TRANSLATE_NOOP("ChoiceNames", "Vom Hersteller generalüberholt") },
    { "2500", QT_TRANSLATE_NOOP("ChoiceNames", "Vom Verkäufer generalüberholt") },
    { "2750", QT_TRANSLATE_NOOP("ChoiceNames", "Neuwertig") },
    { "3000", QT_TRANSLATE_NOOP("ChoiceNames", "Gebraucht") },
    { "4000", QT_TRANSLATE_NOOP("ChoiceNames", "Sehr gut") },
    { "5000", QT_TRANSLATE_NOOP("ChoiceNames", "Gut") },
    { "6000", QT_TRANSLATE_NOOP("ChoiceNames", "Akzeptabel") },
    { "7000", QT_TRANSLATE_NOOP("ChoiceNames", "Als Ersatzteil / defekt") },
};

const Name kReturnsWithin[] = {
    { "Days_14", QT_TRANSLATE_NOOP("ChoiceNames", "14 Tage") },
    { "Days_30", QT_TRANSLATE_NOOP("ChoiceNames", "1 Monat") },
    { "Months_1", QT_TRANSLATE_NOOP("ChoiceNames", "1 Monat") },
    { "Days_60", QT_TRANSLATE_NOOP("ChoiceNames", "60 Tage") },
};

const Name kPaidBy[] = {
    { "Buyer", QT_TRANSLATE_NOOP("ChoiceNames", "Käufer") },
    { "Seller", QT_TRANSLATE_NOOP("ChoiceNames", "Verkäufer") },
};

const Name kCountries[] = {
    { "DE", QT_TRANSLATE_NOOP("ChoiceNames", "Deutschland") },
    { "AT", QT_TRANSLATE_NOOP("ChoiceNames", "Österreich") },
    { "CH", QT_TRANSLATE_NOOP("ChoiceNames", "Schweiz") },
    { "BE", QT_TRANSLATE_NOOP("ChoiceNames", "Belgien") },
    { "DK", QT_TRANSLATE_NOOP("ChoiceNames", "Dänemark") },
    { "FR", QT_TRANSLATE_NOOP("ChoiceNames", "Frankreich") },
    { "IT", QT_TRANSLATE_NOOP("ChoiceNames", "Italien") },
    { "LU", QT_TRANSLATE_NOOP("ChoiceNames", "Luxemburg") },
    { "NL", QT_TRANSLATE_NOOP("ChoiceNames", "Niederlande") },
    { "PL", QT_TRANSLATE_NOOP("ChoiceNames", "Polen") },
    { "CZ", QT_TRANSLATE_NOOP("ChoiceNames", "Tschechien") },
};

const Name kPayments[] = {
    { "PayPal", QT_TRANSLATE_NOOP("ChoiceNames", "PayPal") },
    { "CashOnPickup", QT_TRANSLATE_NOOP("ChoiceNames", "Barzahlung bei Abholung") },
    { "MoneyXferAccepted", QT_TRANSLATE_NOOP("ChoiceNames", "Überweisung") },
    { "COD", QT_TRANSLATE_NOOP("ChoiceNames", "Nachnahme") },
};

const Name kServices[] = {
    { "DE_DHLPaket", QT_TRANSLATE_NOOP("ChoiceNames", "DHL Paket") },
    { "DE_DHLPackchen", QT_TRANSLATE_NOOP("ChoiceNames", "DHL Päckchen") },
    { "DE_HermesPaket", QT_TRANSLATE_NOOP("ChoiceNames", "Hermes Paket") },
    { "DE_HermesPackchen", QT_TRANSLATE_NOOP("ChoiceNames", "Hermes Päckchen") },
    { "DE_DeutschePostBrief", QT_TRANSLATE_NOOP("ChoiceNames", "Deutsche Post Brief") },
    { "DE_DeutschePostWarensendung",
      QT_TRANSLATE_NOOP("ChoiceNames", "Deutsche Post Warensendung") },
    { "DE_DPDPaket", QT_TRANSLATE_NOOP("ChoiceNames", "DPD Paket") },
    { "DE_GLSPaket", QT_TRANSLATE_NOOP("ChoiceNames", "GLS Paket") },
    { "DE_UPSStandard", QT_TRANSLATE_NOOP("ChoiceNames", "UPS Standard") },
    { "DE_UPSExpress", QT_TRANSLATE_NOOP("ChoiceNames", "UPS Express") },
    { "DE_Express", QT_TRANSLATE_NOOP("ChoiceNames", "Expressversand") },
    { "DE_DHLPaketInternational", QT_TRANSLATE_NOOP("ChoiceNames", "DHL Paket International") },
    { "DE_DHLPackchenInternational",
      QT_TRANSLATE_NOOP("ChoiceNames", "DHL Päckchen International") },
    { "DE_DeutschePostBriefInternational",
      QT_TRANSLATE_NOOP("ChoiceNames", "Deutsche Post Brief International") },
};

template<size_t N> QString find(const Name (&names)[N], const QString &code)
{
    for (const Name &entry : names) {
        if (code == QLatin1String(entry.code))
            return tr(entry.name);
    }
    return QString();
}

} // namespace

namespace ChoiceNames {

QString name(List list, const QString &code)
{
    switch (list) {
    case List::Condition:
        return find(kConditions, code);
    case List::ReturnsWithin:
        return find(kReturnsWithin, code);
    case List::ShippingCostPaidBy:
        return find(kPaidBy, code);
    case List::DispatchTime: {
        // As the program words the site's "n Days": working days.
        bool number = false;
        const int days = code.toInt(&number);
        if (!number || days < 0)
            return QString();
        return days == 1 ? tr("1 Werktag") : tr("%1 Werktage").arg(days);
    }
    case List::Country:
        return find(kCountries, code);
    case List::PaymentMethod:
        return find(kPayments, code);
    case List::ShippingService:
        return find(kServices, code);
    }
    return QString();
}

} // namespace ChoiceNames
