#include "marketplace/itemmapping.h"

#include "core/descriptionlimit.h"
#include "marketplace/articlemodel.h"
#include "marketplace/xmlnode.h"

#include <QDateTime>
#include <QHash>
#include <QPair>
#include <QRegularExpression>
#include <QXmlStreamWriter>

#include <algorithm>
#include <atomic>

namespace ItemMapping {

namespace {

// --- Sites ------------------------------------------------------------------------------

struct Site
{
    int id;
    const char *name; // SiteCodeType
    const char *currency;
    const char *pickup; // the site's local pick-up shipping service, if it has one
};

const Site kSites[] = {
    { 0, "US", "USD", "Pickup" },
    { 2, "Canada", "CAD", "CA_Pickup" },
    { 3, "UK", "GBP", nullptr },
    { 15, "Australia", "AUD", "AU_Pickup" },
    { 16, "Austria", "EUR", "AT_Pickup" },
    { 23, "Belgium_French", "EUR", "BEFR_Pickup" },
    { 71, "France", "EUR", "FR_Pickup" },
    { 77, "Germany", "EUR", "DE_Pickup" },
    { 100, "eBayMotors", "USD", nullptr },
    { 101, "Italy", "EUR", "IT_Pickup" },
    { 123, "Belgium_Dutch", "EUR", "BENL_Pickup" },
    { 146, "Netherlands", "EUR", "NL_Pickup" },
    { 186, "Spain", "EUR", "ES_Pickup" },
    { 193, "Switzerland", "CHF", "CH_Pickup" },
    { 201, "HongKong", "HKD", "HK_LocalPickUpOnly" },
    { 203, "India", "INR", nullptr },
    { 205, "Ireland", "EUR", nullptr },
    { 207, "Malaysia", "MYR", nullptr },
    { 210, "CanadaFrench", "CAD", nullptr },
    { 211, "Philippines", "PHP", nullptr },
    { 212, "Poland", "PLN", nullptr },
    { 216, "Singapore", "SGD", nullptr },
};

const Site *findSite(int id)
{
    for (const Site &site : kSites) {
        if (site.id == id)
            return &site;
    }
    return nullptr;
}

bool isPickupService(const QString &code)
{
    for (const Site &site : kSites) {
        if (site.pickup && code == QLatin1String(site.pickup))
            return true;
    }
    return false;
}

// Electronic payment methods: the marketplace handles them itself and drops them, with a
// warning, from a listing request.
bool isElectronicPayment(const QString &code)
{
    static const QStringList electronic = {
        QStringLiteral("PayPal"),
        QStringLiteral("PayPalCredit"),
        QStringLiteral("CreditCard"),
        QStringLiteral("VisaMC"),
        QStringLiteral("AmEx"),
        QStringLiteral("Discover"),
        QStringLiteral("IntegratedMerchantCreditCard"),
    };
    return electronic.contains(code);
}

// Product identifiers, of the item and of each variation.
const QStringList &productCodes()
{
    static const QStringList codes
        = { QStringLiteral("EAN"), QStringLiteral("ISBN"), QStringLiteral("UPC") };
    return codes;
}

// Return policy fields; the article keeps each in "RP_" + its name.
const QStringList &returnOptions()
{
    static const QStringList options = {
        QStringLiteral("ReturnsAcceptedOption"),
        QStringLiteral("ReturnsWithinOption"),
        QStringLiteral("ShippingCostPaidByOption"),
        QStringLiteral("InternationalReturnsAcceptedOption"),
        QStringLiteral("InternationalReturnsWithinOption"),
        QStringLiteral("InternationalShippingCostPaidByOption"),
    };
    return options;
}

// --- Row values ---------------------------------------------------------------------------

QString text(const ArticleRow &row, const QString &column)
{
    return row.value(column).toString();
}

double number(const ArticleRow &row, const QString &column)
{
    return row.value(column).toDouble();
}

int integer(const ArticleRow &row, const QString &column)
{
    return qRound(row.value(column).toDouble());
}

// Profile and shop category ids: "0" means none.
bool isSetId(const QString &id)
{
    const QString trimmed = id.trimmed();
    return !trimmed.isEmpty() && trimmed != QLatin1String("0");
}

QString money(double value)
{
    return QString::number(value, 'f', 2);
}

QString flag(bool value)
{
    return value ? QStringLiteral("true") : QStringLiteral("false");
}

bool isTrue(const QString &value)
{
    return value.trimmed().compare(QLatin1String("true"), Qt::CaseInsensitive) == 0;
}

// --- Stored text formats ------------------------------------------------------------------

// The text between the first `open` and the next `close` after it; null when missing.
QString between(const QString &text, const QString &open, const QString &close, int *from)
{
    const int start = text.indexOf(open, *from);
    if (start < 0)
        return QString();
    const int begin = start + open.size();
    const int end = text.indexOf(close, begin);
    if (end < 0)
        return QString();
    *from = end + close.size();
    return text.mid(begin, end - begin);
}

struct NameValues
{
    QString name;
    QStringList values;
};

// Blocks of "<NameValueList><Name>..</Name><Value>..</Value>..</NameValueList>" read as
// text, the way the editor stores them: item specifics inside CDATA sections (whose marks
// are dropped), variations raw. Blocks without a name are skipped.
enum class Marks { Cdata, Raw };

QList<NameValues> readBlocks(const QString &stored, Marks marks)
{
    static const QString nameOpen = QStringLiteral("<Name>");
    static const QString nameClose = QStringLiteral("</Name>");
    static const QString valueOpen = QStringLiteral("<Value>");
    static const QString valueClose = QStringLiteral("</Value>");
    QList<NameValues> blocks;
    for (QString block : stored.split(QStringLiteral("</NameValueList>"))) {
        if (marks == Marks::Cdata)
            block.remove(QStringLiteral("<![CDATA[")).remove(QStringLiteral("]]>"));
        int from = 0;
        NameValues entry;
        entry.name = between(block, nameOpen, nameClose, &from);
        if (entry.name.trimmed().isEmpty())
            continue;
        from = 0;
        for (;;) {
            const QString value = between(block, valueOpen, valueClose, &from);
            if (value.isNull())
                break;
            entry.values << value;
        }
        blocks << entry;
    }
    return blocks;
}

// A text inside CDATA, written so that dropping every section mark gives it back: a "]]>"
// in it is split over two sections, and a "<![CDATA[" in it is wrapped around a section mark,
// which holds whichever of the two marks a reader drops first.
QString cdata(QString text)
{
    text.replace(QStringLiteral("<![CDATA["), QStringLiteral("<![CDAT<![CDATA[A["));
    text.replace(QStringLiteral("]]>"), QStringLiteral("]]]]><![CDATA[>"));
    return QStringLiteral("<![CDATA[") + text + QStringLiteral("]]>");
}

QString specificsBlock(const QString &name, const QStringList &values)
{
    QString block
        = QStringLiteral("<NameValueList>\n\t<Name>") + cdata(name) + QStringLiteral("</Name>\n");
    for (const QString &value : values)
        block += QStringLiteral("\t<Value>") + cdata(value) + QStringLiteral("</Value>\n");
    return block + QStringLiteral("</NameValueList>\n");
}

QString variantBlock(const QString &name, const QString &value)
{
    return QStringLiteral("<NameValueList><Name>") + name + QStringLiteral("</Name><Value>") + value
        + QStringLiteral("</Value></NameValueList>");
}

// Where a placeholder stands in the description's HTML: in text, or inside a tag (a name or an
// attribute, quoted or not).
struct MarkupPlace
{
    bool inTag = false;
    QChar quote; // of the attribute value the place is in, or none

    void pass(QStringView html)
    {
        for (const QChar c : html) {
            if (!quote.isNull()) {
                if (c == quote)
                    quote = QChar();
            } else if (!inTag) {
                inTag = c == QLatin1Char('<');
            } else if (c == QLatin1Char('"') || c == QLatin1Char('\'')) {
                quote = c;
            } else if (c == QLatin1Char('>')) {
                inTag = false;
            }
        }
    }
};

// A placeholder's value is the seller's plain text (a field of the editor, a CSV cell), put
// into the description's HTML, which the editor checked without it. It goes in as text: markup
// in it shows as written and never becomes markup; its line breaks stay line breaks. Inside a
// tag it can make no attribute of its own and leave no quoted value ('=', blanks and quotes as
// references), and an address that would run script gets a scheme that does nothing.
//
// Appended to `out` character by character; false, with `out` left as far as it came, as soon
// as `out` is longer than `limit`.
bool appendPlaceholderText(QString &out, const QString &value, const MarkupPlace &place, int limit)
{
    const auto escaped = [&out](QChar c) {
        switch (c.unicode()) {
        case '<':
            out += QLatin1String("&lt;");
            return true;
        case '>':
            out += QLatin1String("&gt;");
            return true;
        case '&':
            out += QLatin1String("&amp;");
            return true;
        case '"':
            out += QLatin1String("&quot;");
            return true;
        case '\'':
            out += QLatin1String("&#39;");
            return true;
        default:
            return false;
        }
    };
    if (!place.inTag) {
        for (int i = 0; i < value.size(); ++i) {
            const QChar c = value.at(i);
            if (c == QLatin1Char('\r') || c == QLatin1Char('\n')) {
                // "\r\n", "\r" and "\n" each end a line.
                if (c == QLatin1Char('\r') && i + 1 < value.size()
                    && value.at(i + 1) == QLatin1Char('\n'))
                    ++i;
                out += QLatin1String("<br>");
            } else if (!escaped(c)) {
                out += c;
            }
            if (out.size() > limit)
                return false;
        }
        return true;
    }
    // Browsers drop blanks and control characters anywhere in an address's scheme.
    static const QRegularExpression blanks(
        QStringLiteral("[\\x{0000}-\\x{0020}\\x{007f}-\\x{00a0}\\x{1680}\\x{2000}-\\x{200f}"
                       "\\x{2028}\\x{2029}\\x{202f}\\x{205f}\\x{3000}\\x{feff}]"));
    static const QRegularExpression scriptAddress(
        QStringLiteral("^(javascript|vbscript|mhtml|livescript|jscript|data):"),
        QRegularExpression::CaseInsensitiveOption);
    if (QString(value).remove(blanks).contains(scriptAddress))
        out += QLatin1String("unsafe:");
    for (const QChar c : value) {
        if (c == QLatin1Char('=') || c.isSpace() || c.unicode() < 0x20)
            out += QStringLiteral("&#%1;").arg(c.unicode());
        else if (!escaped(c))
            out += c;
        if (out.size() > limit)
            return false;
    }
    return true;
}

// The description with the template's placeholders filled in, in one pass, so that a
// placeholder inside a filled-in text stays as it is. Stops as soon as the text is longer
// than `limit` (then `fits` is false): a short description of many placeholders, each
// filled with a long free text, would otherwise grow without bound.
QString fillPlaceholders(const QString &description, const ArticleRow &row, int limit, bool *fits)
{
    static const QRegularExpression placeholder(QStringLiteral("\\$(frei_0[1-5]|notes)\\$"));
    *fits = false;
    QString out;
    out.reserve(qMin(description.size(), limit) + 1);
    MarkupPlace place;
    int last = 0;
    auto it = placeholder.globalMatch(description);
    while (it.hasNext()) {
        const QRegularExpressionMatch match = it.next();
        const QStringRef before = description.midRef(last, match.capturedStart() - last);
        if (out.size() + before.size() > limit)
            return out;
        out += before;
        place.pass(QStringView(before.constData(), before.size()));
        const QString key = match.captured(1);
        const QString value = key == QLatin1String("notes")
            ? text(row, QStringLiteral("Notes"))
            : text(row, QStringLiteral("Free_") + key.right(2));
        // Its text is never shorter than the value.
        if (out.size() + value.size() > limit || !appendPlaceholderText(out, value, place, limit))
            return out;
        last = match.capturedEnd();
    }
    const QStringRef rest = description.midRef(last);
    if (out.size() + rest.size() > limit)
        return out;
    out += rest;
    *fits = true;
    return out;
}

// --- Quantities ---------------------------------------------------------------------------

// What the call sends so that `listed` - `sold` are on offer afterwards: the marketplace
// adds the sold ones to the quantity of a revision, and a relisted listing starts without
// sales. A relisted single listing offers at least one item (a sold auction is relisted
// with its one item).
int quantityToSend(int listed, int sold, Purpose purpose, int relistMinimum)
{
    switch (purpose) {
    case Purpose::Add:
        return listed;
    case Purpose::Revise:
        return qMax(0, listed - sold);
    case Purpose::Relist:
        return qMax(relistMinimum, listed - sold);
    }
    return listed;
}

// --- Writing ------------------------------------------------------------------------------

class ItemWriter
{
public:
    ItemWriter(QXmlStreamWriter &xml, const Listing &listing, Purpose purpose)
        : m_xml(xml)
        , m_listing(listing)
        , m_row(listing.row)
        , m_purpose(purpose)
    {
        m_siteId
            = m_row.contains(QStringLiteral("Site")) ? integer(m_row, QStringLiteral("Site")) : 77;
        m_currency = text(m_row, QStringLiteral("Currency")).trimmed();
        if (m_currency.isEmpty())
            m_currency = siteCurrency(m_siteId);
        m_auction = text(m_row, QStringLiteral("ListingType")) == QLatin1String("Chinese");
        m_variations = hasVariations(listing);
        m_paymentProfile = isSetId(text(m_row, QStringLiteral("SellerPaymentProfile")));
        m_returnProfile = isSetId(text(m_row, QStringLiteral("SellerReturnProfile")));
        m_shippingProfile = isSetId(text(m_row, QStringLiteral("SellerShippingProfile")));
    }

    void write();

private:
    void element(const QString &name, const QString &value);
    void elementIfSet(const QString &name, const QString &column);
    void amount(const QString &name, double value);
    void writeSafeText(const QString &value);

    void writeCategories();
    void writePrices();
    void writeSpecifics();
    void writeCodes(const QString &container, const ArticleRow &row);
    void writePictures();
    void writePayment();
    void writeReturnPolicy();
    void writeSellerProfiles();
    void writeShipping();
    void writeDomesticServices();
    void writeInternationalServices();
    void writeVat();
    void writeVariations();

    QXmlStreamWriter &m_xml;
    const Listing &m_listing;
    const ArticleRow &m_row;
    Purpose m_purpose;
    int m_siteId = 77;
    QString m_currency;
    bool m_auction = false;
    bool m_variations = false;
    bool m_paymentProfile = false;
    bool m_returnProfile = false;
    bool m_shippingProfile = false;
};

// Carriage returns go out as character references: a parser turns a literal one into a
// line feed.
void ItemWriter::writeSafeText(const QString &value)
{
    const QString safe = xmlSafe(value);
    int from = 0;
    for (;;) {
        const int cr = safe.indexOf(QLatin1Char('\r'), from);
        if (cr < 0) {
            m_xml.writeCharacters(safe.mid(from));
            return;
        }
        m_xml.writeCharacters(safe.mid(from, cr - from));
        m_xml.writeEntityReference(QStringLiteral("#13"));
        from = cr + 1;
    }
}

void ItemWriter::element(const QString &name, const QString &value)
{
    m_xml.writeStartElement(name);
    writeSafeText(value);
    m_xml.writeEndElement();
}

void ItemWriter::elementIfSet(const QString &name, const QString &column)
{
    const QString value = text(m_row, column);
    if (!value.trimmed().isEmpty())
        element(name, value);
}

void ItemWriter::amount(const QString &name, double value)
{
    m_xml.writeStartElement(name);
    m_xml.writeAttribute(QStringLiteral("currencyID"), m_currency);
    m_xml.writeCharacters(money(value));
    m_xml.writeEndElement();
}

void ItemWriter::write()
{
    m_xml.writeStartElement(QStringLiteral("Item"));
    if (m_purpose != Purpose::Add)
        elementIfSet(QStringLiteral("ItemID"), QStringLiteral("ItemID"));
    // The site can't change; ReviseItem takes no Site.
    const QString site = siteName(m_siteId);
    if (m_purpose != Purpose::Revise && !site.isEmpty())
        element(QStringLiteral("Site"), site);
    element(QStringLiteral("Currency"), m_currency);
    elementIfSet(QStringLiteral("Country"), QStringLiteral("Country"));
    elementIfSet(QStringLiteral("Location"), QStringLiteral("Location"));
    elementIfSet(QStringLiteral("PostalCode"), QStringLiteral("PostalCode"));

    element(QStringLiteral("Title"), text(m_row, QStringLiteral("Title")));
    elementIfSet(QStringLiteral("SubTitle"), QStringLiteral("SubTitle"));
    // Callers refuse an article whose description doesn't fit (descriptionRefusal()): what is
    // written of one that doesn't is never more than the limit.
    element(QStringLiteral("Description"), sentDescription(m_row, nullptr));
    writeCategories();
    if (integer(m_row, QStringLiteral("ConditionID")) > 0)
        element(QStringLiteral("ConditionID"),
                QString::number(integer(m_row, QStringLiteral("ConditionID"))));
    elementIfSet(QStringLiteral("ConditionDescription"), QStringLiteral("ConditionDescription"));
    writeSpecifics();
    if (!m_variations)
        writeCodes(QStringLiteral("ProductListingDetails"), m_row);
    writePictures();

    elementIfSet(QStringLiteral("ListingType"), QStringLiteral("ListingType"));
    elementIfSet(QStringLiteral("ListingDuration"), QStringLiteral("ListingDuration"));
    writePrices();
    element(QStringLiteral("PrivateListing"),
            flag(integer(m_row, QStringLiteral("PrivateListing")) == 1));
    if (!m_variations) {
        const int sold = integer(m_row, QStringLiteral("SoldCount"));
        element(QStringLiteral("Quantity"),
                QString::number(quantityToSend(integer(m_row, QStringLiteral("Quantity")), sold,
                                               m_purpose, 1)));
    }
    if (integer(m_row, QStringLiteral("LotSize")) > 1)
        element(QStringLiteral("LotSize"),
                QString::number(integer(m_row, QStringLiteral("LotSize"))));
    elementIfSet(QStringLiteral("SKU"), QStringLiteral("SKU"));
    elementIfSet(QStringLiteral("ApplicationData"), QStringLiteral("ApplicationData"));

    if (isSetId(text(m_row, QStringLiteral("StoreCategoryID")))
        || isSetId(text(m_row, QStringLiteral("StoreCategory2ID")))) {
        m_xml.writeStartElement(QStringLiteral("Storefront"));
        if (isSetId(text(m_row, QStringLiteral("StoreCategoryID"))))
            element(QStringLiteral("StoreCategoryID"),
                    text(m_row, QStringLiteral("StoreCategoryID")));
        if (isSetId(text(m_row, QStringLiteral("StoreCategory2ID"))))
            element(QStringLiteral("StoreCategory2ID"),
                    text(m_row, QStringLiteral("StoreCategory2ID")));
        m_xml.writeEndElement();
    }
    writeVat();

    writePayment();
    writeReturnPolicy();
    writeShipping();
    if (!m_shippingProfile)
        element(QStringLiteral("DispatchTimeMax"),
                QString::number(integer(m_row, QStringLiteral("DispatchTimeMax"))));
    writeSellerProfiles();
    if (m_variations)
        writeVariations();
    // The marketplace refuses a second listing with the same UUID (error 488), so a repeated
    // addition or relisting can't list the article twice.
    if (m_purpose != Purpose::Revise && !m_listing.uuid.isEmpty())
        element(QStringLiteral("UUID"), m_listing.uuid);
    m_xml.writeEndElement();
}

void ItemWriter::writeCategories()
{
    const QString primary = text(m_row, QStringLiteral("PrimaryCategory"));
    if (isSetId(primary)) {
        m_xml.writeStartElement(QStringLiteral("PrimaryCategory"));
        element(QStringLiteral("CategoryID"), primary.trimmed());
        m_xml.writeEndElement();
    }
    const QString secondary = text(m_row, QStringLiteral("SecondaryCategory"));
    if (isSetId(secondary)) {
        m_xml.writeStartElement(QStringLiteral("SecondaryCategory"));
        element(QStringLiteral("CategoryID"), secondary.trimmed());
        m_xml.writeEndElement();
    }
}

void ItemWriter::writePrices()
{
    // A variation listing has its prices in the variations.
    if (!m_variations)
        amount(QStringLiteral("StartPrice"), number(m_row, QStringLiteral("StartPrice")));
    if (m_auction) {
        const double buyItNow = number(m_row, QStringLiteral("BuyItNowPrice"));
        if (buyItNow > 0)
            amount(QStringLiteral("BuyItNowPrice"), buyItNow);
        const double reserve = number(m_row, QStringLiteral("ReservePrice"));
        if (reserve > 0)
            amount(QStringLiteral("ReservePrice"), reserve);
    }

    m_xml.writeStartElement(QStringLiteral("BestOfferDetails"));
    element(QStringLiteral("BestOfferEnabled"),
            flag(integer(m_row, QStringLiteral("BestOfferEnabled")) == 1));
    m_xml.writeEndElement();
    const double autoAccept = number(m_row, QStringLiteral("BestOfferAutoAcceptPrice"));
    const double minimum = number(m_row, QStringLiteral("MinimumBestOfferPrice"));
    if (autoAccept > 0 || minimum > 0) {
        m_xml.writeStartElement(QStringLiteral("ListingDetails"));
        if (autoAccept > 0)
            amount(QStringLiteral("BestOfferAutoAcceptPrice"), autoAccept);
        if (minimum > 0)
            amount(QStringLiteral("MinimumBestOfferPrice"), minimum);
        m_xml.writeEndElement();
    }
}

void ItemWriter::writeSpecifics()
{
    QList<NameValues> blocks
        = readBlocks(text(m_row, QStringLiteral("ItemSpecifics")), Marks::Cdata);
    for (NameValues &block : blocks) {
        block.values.erase(std::remove_if(block.values.begin(), block.values.end(),
                                          [](const QString &v) { return v.trimmed().isEmpty(); }),
                           block.values.end());
    }
    blocks.erase(std::remove_if(blocks.begin(), blocks.end(),
                                [](const NameValues &b) { return b.values.isEmpty(); }),
                 blocks.end());
    if (blocks.isEmpty())
        return;
    m_xml.writeStartElement(QStringLiteral("ItemSpecifics"));
    for (const NameValues &block : qAsConst(blocks)) {
        m_xml.writeStartElement(QStringLiteral("NameValueList"));
        element(QStringLiteral("Name"), block.name);
        for (const QString &value : block.values)
            element(QStringLiteral("Value"), value);
        m_xml.writeEndElement();
    }
    m_xml.writeEndElement();
}

// The product identifiers a row has, in `container`.
void ItemWriter::writeCodes(const QString &container, const ArticleRow &row)
{
    bool open = false;
    for (const QString &code : productCodes()) {
        if (text(row, code).trimmed().isEmpty())
            continue;
        if (!open) {
            m_xml.writeStartElement(container);
            open = true;
        }
        element(code, text(row, code));
    }
    if (open)
        m_xml.writeEndElement();
}

void ItemWriter::writePictures()
{
    const QString gallery = text(m_row, QStringLiteral("GalleryType")).trimmed();
    const QString display = text(m_row, QStringLiteral("PhotoDisplay")).trimmed();
    if (m_listing.pictureUrls.isEmpty() && gallery.isEmpty() && display.isEmpty())
        return;
    m_xml.writeStartElement(QStringLiteral("PictureDetails"));
    if (!gallery.isEmpty())
        element(QStringLiteral("GalleryType"), gallery);
    if (!display.isEmpty())
        element(QStringLiteral("PhotoDisplay"), display);
    for (const QString &url : m_listing.pictureUrls)
        element(QStringLiteral("PictureURL"), url);
    m_xml.writeEndElement();
}

void ItemWriter::writePayment()
{
    if (m_paymentProfile)
        return;
    const QStringList methods
        = text(m_row, QStringLiteral("PaymentMethods")).split(QLatin1Char('|'), Qt::SkipEmptyParts);
    for (const QString &method : methods) {
        if (!method.trimmed().isEmpty() && !isElectronicPayment(method.trimmed()))
            element(QStringLiteral("PaymentMethods"), method.trimmed());
    }
}

void ItemWriter::writeReturnPolicy()
{
    if (m_returnProfile)
        return;
    bool open = false;
    for (const QString &option : returnOptions()) {
        const QString value = text(m_row, QStringLiteral("RP_") + option).trimmed();
        if (value.isEmpty())
            continue;
        if (!open) {
            m_xml.writeStartElement(QStringLiteral("ReturnPolicy"));
            open = true;
        }
        element(option, value);
    }
    if (open)
        m_xml.writeEndElement();
}

void ItemWriter::writeSellerProfiles()
{
    if (!m_paymentProfile && !m_returnProfile && !m_shippingProfile)
        return;
    m_xml.writeStartElement(QStringLiteral("SellerProfiles"));
    if (m_shippingProfile) {
        m_xml.writeStartElement(QStringLiteral("SellerShippingProfile"));
        element(QStringLiteral("ShippingProfileID"),
                text(m_row, QStringLiteral("SellerShippingProfile")).trimmed());
        m_xml.writeEndElement();
    }
    if (m_returnProfile) {
        m_xml.writeStartElement(QStringLiteral("SellerReturnProfile"));
        element(QStringLiteral("ReturnProfileID"),
                text(m_row, QStringLiteral("SellerReturnProfile")).trimmed());
        m_xml.writeEndElement();
    }
    if (m_paymentProfile) {
        m_xml.writeStartElement(QStringLiteral("SellerPaymentProfile"));
        element(QStringLiteral("PaymentProfileID"),
                text(m_row, QStringLiteral("SellerPaymentProfile")).trimmed());
        m_xml.writeEndElement();
    }
    m_xml.writeEndElement();
}

void ItemWriter::writeShipping()
{
    const QString instructions
        = m_paymentProfile ? QString() : text(m_row, QStringLiteral("PaymentInstructions"));
    if (m_shippingProfile && instructions.trimmed().isEmpty())
        return;
    m_xml.writeStartElement(QStringLiteral("ShippingDetails"));
    if (!instructions.trimmed().isEmpty())
        element(QStringLiteral("PaymentInstructions"), instructions);
    if (!m_shippingProfile) {
        element(QStringLiteral("ShippingType"), QStringLiteral("Flat"));
        writeDomesticServices();
        writeInternationalServices();
        element(QStringLiteral("PromotionalShippingDiscount"),
                flag(integer(m_row, QStringLiteral("PromotionalShippingDiscount")) == 1));
        const QString discount = text(m_row, QStringLiteral("ShippingDiscountProfileID"));
        if (isSetId(discount))
            element(QStringLiteral("ShippingDiscountProfileID"), discount.trimmed());
        element(QStringLiteral("InternationalPromotionalShippingDiscount"),
                flag(integer(m_row, QStringLiteral("IPromotionalShippingDiscount")) == 1));
        const QString international = text(m_row, QStringLiteral("IShippingDiscountProfileID"));
        if (isSetId(international))
            element(QStringLiteral("InternationalShippingDiscountProfileID"),
                    international.trimmed());
    }
    m_xml.writeEndElement();
}

// Up to four domestic services, numbered in their order; local pick-up takes the next place
// when one is free and the site has a pick-up service.
void ItemWriter::writeDomesticServices()
{
    constexpr int kMaxDomestic = 4;
    int priority = 0;
    for (int i = 1; i <= kMaxDomestic; ++i) {
        const QString column = QStringLiteral("ShippingService_%1").arg(i);
        const QString service = text(m_row, column).trimmed();
        if (service.isEmpty())
            continue;
        const bool free = i == 1 && integer(m_row, QStringLiteral("ShippingService_1_IsFree")) == 1;
        m_xml.writeStartElement(QStringLiteral("ShippingServiceOptions"));
        element(QStringLiteral("ShippingServicePriority"), QString::number(++priority));
        element(QStringLiteral("ShippingService"), service);
        amount(QStringLiteral("ShippingServiceCost"),
               free ? 0.0 : number(m_row, column + QStringLiteral("_Cost")));
        amount(QStringLiteral("ShippingServiceAdditionalCost"),
               free ? 0.0 : number(m_row, column + QStringLiteral("_Cost_Add")));
        if (free)
            element(QStringLiteral("FreeShipping"), QStringLiteral("true"));
        m_xml.writeEndElement();
    }
    const Site *site = findSite(m_siteId);
    if (integer(m_row, QStringLiteral("PickUpAccepted")) == 1 && site && site->pickup
        && priority < kMaxDomestic) {
        m_xml.writeStartElement(QStringLiteral("ShippingServiceOptions"));
        element(QStringLiteral("ShippingServicePriority"), QString::number(++priority));
        element(QStringLiteral("ShippingService"), QLatin1String(site->pickup));
        amount(QStringLiteral("ShippingServiceCost"),
               number(m_row, QStringLiteral("PickUpAcceptedCost")));
        m_xml.writeEndElement();
    }
}

void ItemWriter::writeInternationalServices()
{
    int priority = 0;
    for (int i = 1; i <= 5; ++i) {
        const QString column = QStringLiteral("ShippingServiceInt_%1").arg(i);
        const QString service = text(m_row, column).trimmed();
        if (service.isEmpty())
            continue;
        m_xml.writeStartElement(QStringLiteral("InternationalShippingServiceOption"));
        element(QStringLiteral("ShippingServicePriority"), QString::number(++priority));
        element(QStringLiteral("ShippingService"), service);
        amount(QStringLiteral("ShippingServiceCost"),
               number(m_row, column + QStringLiteral("_Cost")));
        amount(QStringLiteral("ShippingServiceAdditionalCost"),
               number(m_row, column + QStringLiteral("_Cost_Add")));
        const QStringList locations = text(m_row, column + QStringLiteral("_Loc"))
                                          .split(QLatin1Char(','), Qt::SkipEmptyParts);
        for (const QString &location : locations) {
            if (!location.trimmed().isEmpty())
                element(QStringLiteral("ShipToLocation"), location.trimmed());
        }
        m_xml.writeEndElement();
    }
}

// VAT is shown only for a commercial seller who is not a small business.
void ItemWriter::writeVat()
{
    const bool commercial = text(m_row, QStringLiteral("apiresult"))
                                .contains(QLatin1String("<SellerBusinessType>Commercial"));
    const double percent = number(m_row, QStringLiteral("VAT_VATPercent"));
    if (!commercial || integer(m_row, QStringLiteral("smallbiz")) == 1 || percent <= 0)
        return;
    m_xml.writeStartElement(QStringLiteral("VATDetails"));
    element(QStringLiteral("VATPercent"), QString::number(percent));
    m_xml.writeEndElement();
}

void ItemWriter::writeVariations()
{
    // Option names and their values in the order they first appear.
    QStringList names;
    QMap<QString, QStringList> values;
    QList<QList<NameValues>> specifics;
    for (const ArticleRow &variation : m_listing.variations) {
        QList<NameValues> pairs
            = readBlocks(text(variation, QStringLiteral("VariantXml")), Marks::Raw);
        for (const NameValues &pair : qAsConst(pairs)) {
            const QString value = pair.values.value(0);
            if (!names.contains(pair.name))
                names << pair.name;
            if (!values[pair.name].contains(value))
                values[pair.name] << value;
        }
        specifics << pairs;
    }

    m_xml.writeStartElement(QStringLiteral("Variations"));
    for (int i = 0; i < m_listing.variations.size(); ++i) {
        const ArticleRow &variation = m_listing.variations.at(i);
        m_xml.writeStartElement(QStringLiteral("Variation"));
        const QString sku = text(variation, QStringLiteral("SKU"));
        if (!sku.trimmed().isEmpty())
            element(QStringLiteral("SKU"), sku);
        amount(QStringLiteral("StartPrice"), number(variation, QStringLiteral("StartPrice")));
        element(QStringLiteral("Quantity"),
                QString::number(quantityToSend(integer(variation, QStringLiteral("Quantity")),
                                               integer(variation, QStringLiteral("QuantitySold")),
                                               m_purpose, 0)));
        m_xml.writeStartElement(QStringLiteral("VariationSpecifics"));
        for (const NameValues &pair : specifics.at(i)) {
            m_xml.writeStartElement(QStringLiteral("NameValueList"));
            element(QStringLiteral("Name"), pair.name);
            element(QStringLiteral("Value"), pair.values.value(0));
            m_xml.writeEndElement();
        }
        m_xml.writeEndElement();
        writeCodes(QStringLiteral("VariationProductListingDetails"), variation);
        m_xml.writeEndElement();
    }

    const QString option = text(m_row, QStringLiteral("VariantImageOption"));
    if (!option.trimmed().isEmpty() && !m_listing.variationPictureUrls.isEmpty()) {
        const QStringList optionValues = values.value(option);
        bool open = false;
        for (const QString &value : optionValues) {
            const QString url = m_listing.variationPictureUrls.value(value);
            if (url.isEmpty())
                continue;
            if (!open) {
                m_xml.writeStartElement(QStringLiteral("Pictures"));
                element(QStringLiteral("VariationSpecificName"), option);
                open = true;
            }
            m_xml.writeStartElement(QStringLiteral("VariationSpecificPictureSet"));
            element(QStringLiteral("VariationSpecificValue"), value);
            element(QStringLiteral("PictureURL"), url);
            m_xml.writeEndElement();
        }
        if (open)
            m_xml.writeEndElement();
    }

    m_xml.writeStartElement(QStringLiteral("VariationSpecificsSet"));
    for (const QString &name : qAsConst(names)) {
        m_xml.writeStartElement(QStringLiteral("NameValueList"));
        element(QStringLiteral("Name"), name);
        for (const QString &value : values.value(name))
            element(QStringLiteral("Value"), value);
        m_xml.writeEndElement();
    }
    m_xml.writeEndElement();
    m_xml.writeEndElement();
}

// --- Reading ------------------------------------------------------------------------------

// Bumped by forgetLocalOffsets(); a thread's kept offsets from before are dropped.
std::atomic<int> g_offsetGeneration { 0 };
constexpr qint64 kQuarterHourMs = 15 * 60 * 1000;
// Quarter hours kept at most per thread.
constexpr int kKeptOffsets = 4096;

// Local time's offset from UTC in seconds at the UTC time `msecs`.
int localOffsetAt(qint64 msecs)
{
    struct Kept
    {
        int generation = -1;
        QHash<qint64, int> offsets;
    };
    thread_local Kept kept;
    const int generation = g_offsetGeneration.load(std::memory_order_relaxed);
    if (kept.generation != generation || kept.offsets.size() >= kKeptOffsets) {
        kept.offsets.clear();
        kept.generation = generation;
    }
    // The quarter hour that begins at or before `msecs`.
    const qint64 quarter = msecs >= 0 ? msecs / kQuarterHourMs : (msecs + 1) / kQuarterHourMs - 1;
    auto found = kept.offsets.constFind(quarter);
    if (found == kept.offsets.cend()) {
        const int offset = QDateTime::fromMSecsSinceEpoch(quarter * kQuarterHourMs, Qt::UTC)
                               .toLocalTime()
                               .offsetFromUtc();
        found = kept.offsets.insert(quarter, offset);
    }
    return found.value();
}

class ItemReader
{
public:
    ItemReader(const XmlNode &item, ArticleModel &record)
        : m_item(item)
        , m_record(record)
        , m_columns(record.columns)
    { }

    void read();

private:
    void setText(const QString &column, const XmlNode &node);
    void setText(const QString &column, const QString &path) { setText(column, m_item.at(path)); }
    void setNumber(const QString &column, const XmlNode &node);
    void setNumber(const QString &column, const QString &path)
    {
        setNumber(column, m_item.at(path));
    }
    void setInteger(const QString &column, const QString &path);
    void setFlag(const QString &column, const QString &path);
    void setDate(const QString &column, const QString &path);

    void readState();
    void readSpecifics();
    void readPictures();
    void readPayment();
    void readShipping();
    void readVariations();

    const XmlNode &m_item;
    ArticleModel &m_record;
    QMap<QString, QVariant> &m_columns;
};

void ItemReader::setText(const QString &column, const XmlNode &node)
{
    if (!node.isNull())
        m_columns.insert(column, node.text());
}

void ItemReader::setNumber(const QString &column, const XmlNode &node)
{
    if (!node.isNull())
        m_columns.insert(column, node.text().trimmed().toDouble());
}

void ItemReader::setInteger(const QString &column, const QString &path)
{
    const XmlNode node = m_item.at(path);
    if (!node.isNull())
        m_columns.insert(column, node.text().trimmed().toInt());
}

void ItemReader::setFlag(const QString &column, const QString &path)
{
    const XmlNode node = m_item.at(path);
    if (!node.isNull())
        m_columns.insert(column, isTrue(node.text()) ? 1 : 0);
}

// Marketplace times are UTC; the program keeps local time.
void ItemReader::setDate(const QString &column, const QString &path)
{
    const QString value = m_item.value(path).trimmed();
    if (value.isEmpty())
        return;
    QDateTime time = QDateTime::fromString(value, Qt::ISODateWithMs);
    if (!time.isValid())
        return;
    m_columns.insert(column, localTimeText(time));
}

void ItemReader::read()
{
    readState();

    const int site = siteId(m_item.value(QStringLiteral("Site")).trimmed());
    if (site >= 0)
        m_columns.insert(QStringLiteral("Site"), site);
    setText(QStringLiteral("Currency"), QStringLiteral("Currency"));
    setText(QStringLiteral("Country"), QStringLiteral("Country"));
    setText(QStringLiteral("Location"), QStringLiteral("Location"));
    setText(QStringLiteral("PostalCode"), QStringLiteral("PostalCode"));
    setInteger(QStringLiteral("DispatchTimeMax"), QStringLiteral("DispatchTimeMax"));
    setText(QStringLiteral("SubTitle"), QStringLiteral("SubTitle"));
    setText(QStringLiteral("Description"), QStringLiteral("Description"));
    setText(QStringLiteral("PrimaryCategory"), QStringLiteral("PrimaryCategory/CategoryID"));
    setText(QStringLiteral("PrimaryCategoryText"), QStringLiteral("PrimaryCategory/CategoryName"));
    setText(QStringLiteral("SecondaryCategory"), QStringLiteral("SecondaryCategory/CategoryID"));
    setText(QStringLiteral("SecondaryCategoryText"),
            QStringLiteral("SecondaryCategory/CategoryName"));
    setInteger(QStringLiteral("ConditionID"), QStringLiteral("ConditionID"));
    setText(QStringLiteral("ConditionDescription"), QStringLiteral("ConditionDescription"));
    setText(QStringLiteral("ListingType"), QStringLiteral("ListingType"));
    setText(QStringLiteral("ListingDuration"), QStringLiteral("ListingDuration"));
    setNumber(QStringLiteral("StartPrice"), QStringLiteral("StartPrice"));
    setNumber(QStringLiteral("BuyItNowPrice"), QStringLiteral("BuyItNowPrice"));
    setNumber(QStringLiteral("ReservePrice"), QStringLiteral("ReservePrice"));
    setFlag(QStringLiteral("PrivateListing"), QStringLiteral("PrivateListing"));
    setInteger(QStringLiteral("LotSize"), QStringLiteral("LotSize"));
    setText(QStringLiteral("SKU"), QStringLiteral("SKU"));
    setText(QStringLiteral("ApplicationData"), QStringLiteral("ApplicationData"));
    setFlag(QStringLiteral("BestOfferEnabled"),
            QStringLiteral("BestOfferDetails/BestOfferEnabled"));
    setNumber(QStringLiteral("BestOfferAutoAcceptPrice"),
              QStringLiteral("ListingDetails/BestOfferAutoAcceptPrice"));
    setNumber(QStringLiteral("MinimumBestOfferPrice"),
              QStringLiteral("ListingDetails/MinimumBestOfferPrice"));
    setDate(QStringLiteral("StartDate"), QStringLiteral("ListingDetails/StartTime"));
    setDate(QStringLiteral("EndDate"), QStringLiteral("ListingDetails/EndTime"));
    setNumber(QStringLiteral("VAT_VATPercent"), QStringLiteral("VATDetails/VATPercent"));
    setText(QStringLiteral("StoreCategoryID"), QStringLiteral("Storefront/StoreCategoryID"));
    setText(QStringLiteral("StoreCategory2ID"), QStringLiteral("Storefront/StoreCategory2ID"));
    for (const QString &code : productCodes())
        setText(code, QStringLiteral("ProductListingDetails/") + code);

    readSpecifics();
    readPictures();
    readPayment();
    readShipping();
    readVariations();
}

void ItemReader::readState()
{
    m_record.ItemID = m_item.value(QStringLiteral("ItemID")).trimmed();
    m_record.Title = m_item.value(QStringLiteral("Title"));
    m_record.Quantity = m_item.value(QStringLiteral("Quantity")).trimmed().toInt();
    m_record.SoldCount
        = m_item.value(QStringLiteral("SellingStatus/QuantitySold")).trimmed().toInt();
    m_record.BidCount = m_item.value(QStringLiteral("SellingStatus/BidCount")).trimmed().toInt();
    m_record.WatchCount = m_item.value(QStringLiteral("WatchCount")).trimmed().toInt();

    const QString status = m_item.value(QStringLiteral("SellingStatus/ListingStatus")).trimmed();
    if (status.isEmpty() || status == QLatin1String("Active"))
        m_record.Folder = -9;
    else
        m_record.Folder = m_record.SoldCount >= m_record.Quantity ? -7 : -8;
}

void ItemReader::readSpecifics()
{
    const XmlNode specifics = m_item.child(QStringLiteral("ItemSpecifics"));
    if (specifics.isNull())
        return;
    QString stored;
    for (const XmlNode &list : specifics.all(QStringLiteral("NameValueList"))) {
        const QString name = list.value(QStringLiteral("Name"));
        if (name.trimmed().isEmpty())
            continue;
        QStringList values;
        for (const XmlNode &value : list.all(QStringLiteral("Value")))
            values << value.text();
        stored += specificsBlock(name, values);
    }
    m_columns.insert(QStringLiteral("ItemSpecifics"), stored);
}

void ItemReader::readPictures()
{
    const XmlNode details = m_item.child(QStringLiteral("PictureDetails"));
    setText(QStringLiteral("GalleryType"), details.child(QStringLiteral("GalleryType")));
    setText(QStringLiteral("PhotoDisplay"), details.child(QStringLiteral("PhotoDisplay")));
    for (const XmlNode &url : details.all(QStringLiteral("PictureURL")))
        m_record.PictureURLs << url.text().trimmed();
}

void ItemReader::readPayment()
{
    QStringList methods;
    for (const XmlNode &method : m_item.all(QStringLiteral("PaymentMethods")))
        methods << method.text().trimmed();
    if (!methods.isEmpty())
        m_columns.insert(QStringLiteral("PaymentMethods"), methods.join(QLatin1Char('|')));
    setText(QStringLiteral("PayPalEmailAddress"), QStringLiteral("PayPalEmailAddress"));
    setText(QStringLiteral("PaymentInstructions"),
            QStringLiteral("ShippingDetails/PaymentInstructions"));

    for (const QString &option : returnOptions())
        setText(QStringLiteral("RP_") + option, QStringLiteral("ReturnPolicy/") + option);

    setText(QStringLiteral("SellerPaymentProfile"),
            QStringLiteral("SellerProfiles/SellerPaymentProfile/PaymentProfileID"));
    setText(QStringLiteral("SellerReturnProfile"),
            QStringLiteral("SellerProfiles/SellerReturnProfile/ReturnProfileID"));
    setText(QStringLiteral("SellerShippingProfile"),
            QStringLiteral("SellerProfiles/SellerShippingProfile/ShippingProfileID"));
}

int priorityOf(const XmlNode &option)
{
    return option.value(QStringLiteral("ShippingServicePriority")).trimmed().toInt();
}

QVector<XmlNode> byPriority(QVector<XmlNode> options)
{
    std::stable_sort(options.begin(), options.end(), [](const XmlNode &a, const XmlNode &b) {
        return priorityOf(a) < priorityOf(b);
    });
    return options;
}

void ItemReader::readShipping()
{
    const XmlNode shipping = m_item.child(QStringLiteral("ShippingDetails"));
    if (shipping.isNull())
        return;
    int domestic = 0;
    for (const XmlNode &option :
         byPriority(shipping.all(QStringLiteral("ShippingServiceOptions")))) {
        const QString service = option.value(QStringLiteral("ShippingService")).trimmed();
        if (isPickupService(service)) {
            m_columns.insert(QStringLiteral("PickUpAccepted"), 1);
            m_columns.insert(
                QStringLiteral("PickUpAcceptedCost"),
                option.value(QStringLiteral("ShippingServiceCost")).trimmed().toDouble());
            continue;
        }
        if (service.isEmpty() || domestic == 4)
            continue;
        const QString column = QStringLiteral("ShippingService_%1").arg(++domestic);
        m_columns.insert(column, service);
        setNumber(column + QStringLiteral("_Cost"),
                  option.child(QStringLiteral("ShippingServiceCost")));
        setNumber(column + QStringLiteral("_Cost_Add"),
                  option.child(QStringLiteral("ShippingServiceAdditionalCost")));
        if (domestic == 1)
            m_columns.insert(QStringLiteral("ShippingService_1_IsFree"),
                             isTrue(option.value(QStringLiteral("FreeShipping"))) ? 1 : 0);
    }

    int international = 0;
    for (const XmlNode &option :
         byPriority(shipping.all(QStringLiteral("InternationalShippingServiceOption")))) {
        const QString service = option.value(QStringLiteral("ShippingService")).trimmed();
        if (service.isEmpty() || international == 5)
            continue;
        const QString column = QStringLiteral("ShippingServiceInt_%1").arg(++international);
        m_columns.insert(column, service);
        setNumber(column + QStringLiteral("_Cost"),
                  option.child(QStringLiteral("ShippingServiceCost")));
        setNumber(column + QStringLiteral("_Cost_Add"),
                  option.child(QStringLiteral("ShippingServiceAdditionalCost")));
        QStringList locations;
        for (const XmlNode &location : option.all(QStringLiteral("ShipToLocation")))
            locations << location.text().trimmed();
        m_columns.insert(column + QStringLiteral("_Loc"), locations.join(QLatin1Char(',')));
    }

    setFlag(QStringLiteral("PromotionalShippingDiscount"),
            QStringLiteral("ShippingDetails/PromotionalShippingDiscount"));
    setText(QStringLiteral("ShippingDiscountProfileID"),
            QStringLiteral("ShippingDetails/ShippingDiscountProfileID"));
    setFlag(QStringLiteral("IPromotionalShippingDiscount"),
            QStringLiteral("ShippingDetails/InternationalPromotionalShippingDiscount"));
    setText(QStringLiteral("IShippingDiscountProfileID"),
            QStringLiteral("ShippingDetails/InternationalShippingDiscountProfileID"));
}

void ItemReader::readVariations()
{
    const XmlNode variations = m_item.child(QStringLiteral("Variations"));
    const QVector<XmlNode> rows = variations.all(QStringLiteral("Variation"));
    m_columns.insert(QStringLiteral("HasVariation"), rows.isEmpty() ? 0 : 1);
    if (rows.isEmpty())
        return;

    double lowest = 0;
    for (const XmlNode &row : rows) {
        ArticleVariation variation;
        for (const XmlNode &pair : row.all(QStringLiteral("VariationSpecifics/NameValueList")))
            variation.VariantXml += variantBlock(pair.value(QStringLiteral("Name")),
                                                 pair.value(QStringLiteral("Value")));
        variation.SKU = row.value(QStringLiteral("SKU"));
        variation.StartPrice = row.value(QStringLiteral("StartPrice")).trimmed().toDouble();
        variation.Quantity = row.value(QStringLiteral("Quantity")).trimmed().toInt();
        variation.QuantitySold
            = row.value(QStringLiteral("SellingStatus/QuantitySold")).trimmed().toInt();
        variation.EAN = row.value(QStringLiteral("VariationProductListingDetails/EAN"));
        variation.ISBN = row.value(QStringLiteral("VariationProductListingDetails/ISBN"));
        variation.UPC = row.value(QStringLiteral("VariationProductListingDetails/UPC"));
        if (m_record.variations.isEmpty() || variation.StartPrice < lowest)
            lowest = variation.StartPrice;
        m_record.variations << variation;
    }
    m_columns.insert(QStringLiteral("HasVariationMinPrice"), lowest);

    const XmlNode pictures = variations.child(QStringLiteral("Pictures"));
    setText(QStringLiteral("VariantImageOption"),
            pictures.child(QStringLiteral("VariationSpecificName")));
    for (const XmlNode &set : pictures.all(QStringLiteral("VariationSpecificPictureSet"))) {
        const QString url = set.value(QStringLiteral("PictureURL")).trimmed();
        if (!url.isEmpty())
            m_record.VariantPictureURLs.insert(set.value(QStringLiteral("VariationSpecificValue")),
                                               url);
    }
}

} // namespace

// --- Public -------------------------------------------------------------------------------

bool hasVariations(const Listing &listing)
{
    return !listing.variations.isEmpty();
}

void writeItem(QXmlStreamWriter &xml, const Listing &listing, Purpose purpose)
{
    ItemWriter(xml, listing, purpose).write();
}

QString sentDescription(const ArticleRow &row, bool *fits)
{
    bool within = false;
    const QString description = fillPlaceholders(text(row, QStringLiteral("Description")), row,
                                                 DescriptionLimit::kMaxChars, &within);
    if (fits)
        *fits = within;
    return description;
}

QString descriptionRefusal(const ArticleRow &row)
{
    const QString stored = text(row, QStringLiteral("Description"));
    // Over the limit as it is stored: its length is known.
    const QString tooLong = DescriptionLimit::refusal(stored);
    if (!tooLong.isEmpty())
        return tooLong;
    bool fits = false;
    sentDescription(row, &fits);
    return fits ? QString() : DescriptionLimit::filledRefusal();
}

QString localTimeText(const QDateTime &time)
{
    static const QString format = QStringLiteral("yyyy-MM-dd HH:mm:ss");
    if (time.timeSpec() == Qt::LocalTime)
        return time.toUTC().toLocalTime().toString(format);
    const qint64 msecs = time.toMSecsSinceEpoch();
    return QDateTime::fromMSecsSinceEpoch(msecs + qint64(localOffsetAt(msecs)) * 1000, Qt::UTC)
        .toString(format);
}

void forgetLocalOffsets()
{
    ++g_offsetGeneration;
}

void readItem(const XmlNode &item, ArticleModel &record)
{
    ItemReader(item, record).read();

    // The price a buyer pays now: the bid of an auction, the price of a fixed-price listing
    // (its lowest variation price when the variations carry the prices).
    const QString type = record.columns.value(QStringLiteral("ListingType")).toString();
    const double current
        = item.value(QStringLiteral("SellingStatus/CurrentPrice")).trimmed().toDouble();
    const double start = record.columns.value(QStringLiteral("StartPrice")).toDouble();
    if (type == QLatin1String("Chinese"))
        record.CurrentPrice = current;
    else if (start > 0)
        record.CurrentPrice = start;
    else if (!record.variations.isEmpty())
        record.CurrentPrice
            = record.columns.value(QStringLiteral("HasVariationMinPrice")).toDouble();
    else
        record.CurrentPrice = current;
}

namespace {

// The first child of each of the `count` names, found in one pass over `parent`'s children.
void firstChildren(const XmlNode &parent, const QLatin1String *names, XmlNode *found, int count)
{
    for (XmlNode child = parent.firstChild(); !child.isNull(); child = child.nextSibling()) {
        const QString name = child.name();
        for (int i = 0; i < count; ++i) {
            if (name == names[i]) {
                if (found[i].isNull())
                    found[i] = child;
                break;
            }
        }
    }
}

int integerOf(const XmlNode &node)
{
    return node.text().trimmed().toInt();
}

double numberOf(const XmlNode &node)
{
    return node.text().trimmed().toDouble();
}

} // namespace

void readState(const XmlNode &item, ArticleModel &record)
{
    enum { ItemId, Title, Quantity, WatchCount, Selling, Type, Start, Pictures, Variations, Count };
    static const QLatin1String names[Count] = {
        QLatin1String("ItemID"),        QLatin1String("Title"),
        QLatin1String("Quantity"),      QLatin1String("WatchCount"),
        QLatin1String("SellingStatus"), QLatin1String("ListingType"),
        QLatin1String("StartPrice"),    QLatin1String("PictureDetails"),
        QLatin1String("Variations"),
    };
    XmlNode fields[Count];
    firstChildren(item, names, fields, Count);
    enum { Sold, Bids, Status, Current, SellingCount };
    static const QLatin1String sellingNames[SellingCount] = {
        QLatin1String("QuantitySold"),
        QLatin1String("BidCount"),
        QLatin1String("ListingStatus"),
        QLatin1String("CurrentPrice"),
    };
    XmlNode selling[SellingCount];
    firstChildren(fields[Selling], sellingNames, selling, SellingCount);

    record.ItemID = fields[ItemId].text().trimmed();
    record.Title = fields[Title].text();
    record.Quantity = integerOf(fields[Quantity]);
    record.SoldCount = integerOf(selling[Sold]);
    record.BidCount = integerOf(selling[Bids]);
    record.WatchCount = integerOf(fields[WatchCount]);
    const QString status = selling[Status].text().trimmed();
    if (status.isEmpty() || status == QLatin1String("Active"))
        record.Folder = -9;
    else
        record.Folder = record.SoldCount >= record.Quantity ? -7 : -8;

    for (const XmlNode &url : fields[Pictures].all(QStringLiteral("PictureURL")))
        record.PictureURLs << url.text().trimmed();

    // The lowest variation price; the variations' pictures count only with variations.
    bool variations = false;
    double lowest = 0;
    for (XmlNode row = fields[Variations].firstChild(); !row.isNull(); row = row.nextSibling()) {
        if (row.name() != QLatin1String("Variation"))
            continue;
        const double price = numberOf(row.child(QStringLiteral("StartPrice")));
        if (!variations || price < lowest)
            lowest = price;
        variations = true;
    }
    if (variations) {
        const XmlNode pictures = fields[Variations].child(QStringLiteral("Pictures"));
        for (const XmlNode &set : pictures.all(QStringLiteral("VariationSpecificPictureSet"))) {
            const QString url = set.value(QStringLiteral("PictureURL")).trimmed();
            if (!url.isEmpty())
                record.VariantPictureURLs.insert(set.value(QStringLiteral("VariationSpecificValue")),
                                                 url);
        }
    }

    // The price a buyer pays now, as readItem() finds it.
    const double start = numberOf(fields[Start]);
    if (fields[Type].text() == QLatin1String("Chinese"))
        record.CurrentPrice = numberOf(selling[Current]);
    else if (start > 0)
        record.CurrentPrice = start;
    else if (variations)
        record.CurrentPrice = lowest;
    else
        record.CurrentPrice = numberOf(selling[Current]);
}

QString siteName(int siteId)
{
    const Site *site = findSite(siteId);
    return site ? QLatin1String(site->name) : QString();
}

int siteId(const QString &siteName)
{
    for (const Site &site : kSites) {
        if (siteName == QLatin1String(site.name))
            return site.id;
    }
    return -1;
}

QString siteCurrency(int siteId)
{
    const Site *site = findSite(siteId);
    return site ? QLatin1String(site->currency) : QString();
}

QString xmlSafe(const QString &text)
{
    QString out;
    out.reserve(text.size());
    const int size = text.size();
    for (int i = 0; i < size; ++i) {
        const QChar c = text.at(i);
        const ushort u = c.unicode();
        if (c.isHighSurrogate()) {
            if (i + 1 < size && text.at(i + 1).isLowSurrogate()) {
                out += c;
                out += text.at(++i);
            }
            continue;
        }
        if (c.isLowSurrogate())
            continue;
        if (u < 0x20 && u != 0x09 && u != 0x0A && u != 0x0D)
            continue;
        if (u == 0xFFFE || u == 0xFFFF)
            continue;
        out += c;
    }
    return out;
}

} // namespace ItemMapping
