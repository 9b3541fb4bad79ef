// Api_Ebay: sending an article to the marketplace (verification, addition, revision,
// relisting) or to the scheduled start service, with its pictures.

#include "marketplace/api_ebay.h"

#include "core/config.h"
#include "core/database.h"
#include "core/imagelimits.h"
#include "core/logging.h"
#include "core/statics.h"
#include "core/untrustedfile.h"
#include "marketplace/itemmapping.h"
#include "marketplace/tradingtransport.h"

#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QXmlStreamWriter>
#include <algorithm>

namespace {

bool isAddress(const QString &image)
{
    return image.startsWith(QLatin1String("http://"), Qt::CaseInsensitive)
        || image.startsWith(QLatin1String("https://"), Qt::CaseInsensitive);
}

bool isMainPicture(const QMap<QString, QVariant> &picture)
{
    return picture.value(QStringLiteral("variant_name")).toString().isEmpty();
}

QString callName(int mode, bool variations)
{
    switch (mode) {
    case Api_Ebay::Verify:
        return variations ? QStringLiteral("VerifyAddFixedPriceItem")
                          : QStringLiteral("VerifyAddItem");
    case Api_Ebay::Revise:
        return variations ? QStringLiteral("ReviseFixedPriceItem") : QStringLiteral("ReviseItem");
    case Api_Ebay::Relist:
        return variations ? QStringLiteral("RelistFixedPriceItem") : QStringLiteral("RelistItem");
    default:
        return variations ? QStringLiteral("AddFixedPriceItem") : QStringLiteral("AddItem");
    }
}

ItemMapping::Purpose purpose(int mode)
{
    if (mode == Api_Ebay::Revise)
        return ItemMapping::Purpose::Revise;
    if (mode == Api_Ebay::Relist)
        return ItemMapping::Purpose::Relist;
    return ItemMapping::Purpose::Add;
}

// An amount as the marketplace wrote it ("1.5" stays "1.5").
double amountOf(const XmlNode &fee)
{
    return fee.text().trimmed().toDouble();
}

// The listing an earlier call with the same Item.UUID made, as a refusal "Duplicate UUID
// used" (error 488) names it: its second error parameter, else the long message's
// "item ID=<number>". Empty when the reply holds no such refusal.
QString listingOfRepeatedUuid(const XmlNode &root)
{
    static const QRegularExpression digits(QStringLiteral("^\\d+$"));
    static const QRegularExpression inMessage(QStringLiteral("item ID\\s*=\\s*(\\d+)"),
                                              QRegularExpression::CaseInsensitiveOption);
    for (const XmlNode &error : root.all(QStringLiteral("Errors"))) {
        if (error.value(QStringLiteral("ErrorCode")).trimmed() != QLatin1String("488"))
            continue;
        for (const XmlNode &parameter : error.all(QStringLiteral("ErrorParameters"))) {
            const QString value = parameter.value(QStringLiteral("Value")).trimmed();
            if (parameter.attribute(QStringLiteral("ParamID")) == QLatin1String("1")
                && digits.match(value).hasMatch())
                return value;
        }
        const QRegularExpressionMatch match
            = inMessage.match(error.value(QStringLiteral("LongMessage")));
        if (match.hasMatch())
            return match.captured(1);
    }
    return QString();
}

} // namespace

QString Api_Ebay::uploadPicture(const QString &file, const QString &siteId)
{
    // Read once from the descriptor opened (a plain file of the picture folder, no link),
    // checked by the picture decoder, and those bytes go up: nothing but a picture within
    // the limits leaves the machine.
    QByteArray data;
    QString error;
    if (!UntrustedFile::read(file, UntrustedFile::Links::Refused, UntrustedFile::kMaxPictureBytes,
                             &data, &error)) {
        m_lastFail = tr("Das Bild \"%1\" konnte nicht gelesen werden: %2").arg(file, error);
        return QString();
    }
    const ImageLimits::Decoded checked
        = ImageLimits::decodeWithin(ImageLimits::pictureBytes(data, Statics::thumbBox()));
    if (!checked.refusal.isEmpty() || checked.image.isNull()) {
        m_lastFail = tr("Das Bild \"%1\" wird nicht hochgeladen: %2")
                         .arg(file, checked.refusal.isEmpty() ? checked.error : checked.refusal);
        return QString();
    }
    const QString name = QFileInfo(file).fileName();

    TradingTransport::Call call;
    call.name = QStringLiteral("UploadSiteHostedPictures");
    call.siteId = siteId;
    call.errorLanguage = true;
    call.warningLevelHigh = true;
    call.fields = [&name](QXmlStreamWriter &xml) {
        xml.writeTextElement(QStringLiteral("PictureName"), name.left(100));
        xml.writeTextElement(QStringLiteral("PictureSet"), QStringLiteral("Supersize"));
    };
    const MarketplaceReply reply = transport().sendWithFile(call, m_token, data, name);
    // UploadSiteHostedPictures: SiteHostedPictureDetails/FullURL
    const QString url
        = reply.root.value(QStringLiteral("SiteHostedPictureDetails/FullURL")).trimmed();
    if (!reply.succeeded() || url.isEmpty()) {
        m_lastFail = tr("Das Bild \"%1\" konnte nicht zu eBay hochgeladen werden: %2")
                         .arg(name,
                              reply.message().isEmpty() ? tr("keine Bildadresse erhalten")
                                                        : reply.message());
        return QString();
    }
    return url;
}

bool Api_Ebay::verifyItem(int mode, const QMap<QString, QVariant> &row,
                          const QList<QMap<QString, QVariant>> &pictures, QStringList &messages,
                          Database *db)
{
    m_lastFail.clear();
    lastItemId.clear();
    lastCallSent = false;
    // The marketplace's limit is on the description as it is sent, its placeholders filled: an
    // article over it is refused before anything of it is read, uploaded or sent.
    const QString tooLong = ItemMapping::descriptionRefusal(row);
    if (!tooLong.isEmpty()) {
        m_lastFail = tooLong;
        messages.append(m_lastFail);
        return false;
    }
    const QString articleId = row.value(QStringLiteral("id")).toString();
    const QString siteId = row.value(QStringLiteral("Site")).toString().isEmpty()
        ? QStringLiteral("77")
        : row.value(QStringLiteral("Site")).toString();

    ItemMapping::Listing listing;
    listing.row = row;
    QList<QMap<QString, QVariant>> ownPictures;
    QList<QMap<QString, QVariant>> variationPictures;
    for (const auto &picture : pictures)
        (isMainPicture(picture) ? ownPictures : variationPictures).append(picture);
    if (db && !articleId.isEmpty()) {
        // Never an article without the variations it has, nor its variations without their
        // pictures: a read that failed sends nothing.
        const auto unread = [&](const QString &error) {
            m_lastFail
                = tr("Der Artikel konnte nicht aus der Datenbank gelesen werden: %1").arg(error);
            messages.append(m_lastFail);
            return false;
        };
        const Read<SqlRows> variations = db->select(
            QStringLiteral("SELECT * FROM articles_variations WHERE article_id='%1' ORDER BY id")
                .arg(Database::escapeString(articleId)));
        if (!variations.ok())
            return unread(variations.error());
        listing.variations = *variations;
        if (mode != Schedule && !listing.variations.isEmpty()) {
            const Read<SqlRows> stored
                = db->select(QStringLiteral("SELECT * FROM articles_images WHERE article_id='%1' "
                                            "AND variant_name <> '' ORDER BY id")
                                 .arg(Database::escapeString(articleId)));
            if (!stored.ok())
                return unread(stored.error());
            variationPictures = *stored;
        }
    }
    if (mode == Add || mode == Relist)
        listing.uuid = itemUuid;
    std::stable_sort(ownPictures.begin(), ownPictures.end(), [](const auto &a, const auto &b) {
        return a.value(QStringLiteral("sort")).toInt() < b.value(QStringLiteral("sort")).toInt();
    });

    // Local pictures go to the marketplace's picture hosting first, each file once; the
    // listing names them by the address it returns. No listing without its pictures.
    const QString folder = db ? db->getCurrentAdImageDir() : QString();
    QMap<QString, QString> uploaded;
    auto addressOf = [&](const QString &image) -> QString {
        if (isAddress(image))
            return image;
        if (uploaded.contains(image))
            return uploaded.value(image);
        // A row names a file of the picture folder; one written by another workstation or
        // restored from a backup may name any other ("../../privat.jpg").
        if (!UntrustedFile::insideFolder(folder, image)) {
            m_lastFail = tr("Das Bild \"%1\" liegt nicht im Bildordner des Programms und wird "
                            "nicht hochgeladen.")
                             .arg(image);
            return QString();
        }
        const QString url = uploadPicture(folder + image, siteId);
        if (!url.isEmpty())
            uploaded.insert(image, url);
        return url;
    };
    for (const auto &picture : qAsConst(ownPictures)) {
        const QString image = picture.value(QStringLiteral("image")).toString();
        if (image.isEmpty())
            continue;
        const QString url = addressOf(image);
        if (url.isEmpty()) {
            messages.append(m_lastFail);
            return false;
        }
        listing.pictureUrls.append(url);
    }
    if (!listing.variations.isEmpty()) {
        for (const auto &picture : qAsConst(variationPictures)) {
            const QString value = picture.value(QStringLiteral("variant_name")).toString();
            const QString image = picture.value(QStringLiteral("image")).toString();
            if (image.isEmpty() || listing.variationPictureUrls.contains(value))
                continue;
            const QString url = addressOf(image);
            if (url.isEmpty()) {
                messages.append(m_lastFail);
                return false;
            }
            listing.variationPictureUrls.insert(value, url);
        }
    }

    const bool variations = ItemMapping::hasVariations(listing);
    TradingTransport::Call call;
    call.name = callName(mode, variations);
    call.siteId = siteId;
    call.errorLanguage = true;
    call.warningLevelHigh = true;
    call.fields = [&](QXmlStreamWriter &xml) {
        ItemMapping::writeItem(xml, listing, purpose(mode));
    };

    if (mode == Schedule)
        return scheduleItem(call, row, messages, db);

    lastCallSent = true;
    const MarketplaceReply reply = transport().send(call, m_token);
    if (!reply.answered) {
        m_lastFail = reply.failure;
        messages.append(m_lastFail);
        return false;
    }
    lastItemId = reply.root.value(QStringLiteral("ItemID")).trimmed();

    // Fees: Fees/Fee with Name and Fee (an amount with currencyID).
    QString currency;
    QString listingFee;
    double total = 0;
    for (const XmlNode &fee : reply.root.all(QStringLiteral("Fees/Fee"))) {
        const XmlNode amount = fee.child(QStringLiteral("Fee"));
        const QString name = fee.value(QStringLiteral("Name"));
        const QString feeCurrency = amount.attribute(QStringLiteral("currencyID"));
        if (currency.isEmpty() || name == QLatin1String("ListingFee"))
            currency = feeCurrency;
        if (name == QLatin1String("ListingFee"))
            listingFee = amount.text().trimmed();
        else
            total += amountOf(amount);
        if (amountOf(amount) > 0) {
            messages.append(name + QStringLiteral(": ") + amount.text().trimmed() + QLatin1Char(' ')
                            + feeCurrency);
        }
    }
    for (const MarketplaceError &error : reply.errors)
        messages.append(MarketplaceReply::line(error));
    if (!reply.succeeded() && !listing.uuid.isEmpty()) {
        // An earlier call with this UUID listed the article already (its answer was lost):
        // that listing is this call's result.
        const QString earlier = listingOfRepeatedUuid(reply.root);
        if (!earlier.isEmpty()) {
            qCInfo(lcNet).noquote() << call.name << "was made before with UUID" << listing.uuid
                                    << "- listing" << earlier;
            lastItemId = earlier;
            return true;
        }
    }
    if (!reply.succeeded()) {
        m_lastFail = reply.errorText();
        if (m_lastFail.isEmpty())
            m_lastFail = tr("eBay hat die Anfrage abgelehnt (%1).").arg(reply.ack);
        return false;
    }
    // A listing without its number could not be found again by the synchronisation.
    if ((mode == Add || mode == Relist) && lastItemId.isEmpty()) {
        m_lastFail = tr("Keine Artikelnummer in der Antwort von eBay");
        messages.append(m_lastFail);
        return false;
    }
    if (currency.isEmpty())
        currency = ItemMapping::siteCurrency(siteId.toInt());
    const QString totalText = !listingFee.isEmpty() ? listingFee : QString::number(total, 'f', 2);
    messages.append(tr("Einstellgebühren") + QStringLiteral(": ") + totalText + QLatin1Char(' ')
                    + currency);
    return true;
}

bool Api_Ebay::scheduleItem(const TradingTransport::Call &addition,
                            const QMap<QString, QVariant> &row, QStringList &messages, Database *db)
{
    const QString address = Config::serverAddress(QStringLiteral("/zaruvovezira/listing.php"));
    if (address.isEmpty()) {
        m_lastFail = tr("Der Startzeitserver ist nicht erreichbar.");
        messages.append(m_lastFail);
        return false;
    }

    QStringList accountNames;
    if (db) {
        for (const auto &account :
             db->select(QStringLiteral("SELECT accountname FROM accounts ORDER BY id"))
                 .legacyValue())
            accountNames << account.value(QStringLiteral("accountname")).toString();
    }
    // The service lists the addition itself later; it learns when and for whom from five
    // elements at the end of the request.
    TradingTransport::Call call = addition;
    call.fields = [&](QXmlStreamWriter &xml) {
        addition.fields(xml);
        xml.writeTextElement(QStringLiteral("Planned_Interval"),
                             row.value(QStringLiteral("Planned_Interval")).toString());
        xml.writeTextElement(QStringLiteral("Planned"),
                             row.value(QStringLiteral("Planned")).toString());
        xml.writeTextElement(QStringLiteral("AccountNames"), accountNames.join(QLatin1Char(',')));
        xml.writeTextElement(QStringLiteral("AccountName"),
                             row.value(QStringLiteral("accountname")).toString());
        xml.writeTextElement(QStringLiteral("TrackSiteID"),
                             row.value(QStringLiteral("Site")).toString());
    };
    const QByteArray request = transport().requestBody(call, m_token);
    QString failure;
    const QString answer = Statics::HttpGet(address, QString::fromUtf8(request), {}, &failure);
    if (answer.isEmpty()) {
        m_lastFail = tr("Der Startzeitserver ist nicht erreichbar.");
        if (!failure.isEmpty())
            m_lastFail += QLatin1Char(' ') + failure;
        messages.append(m_lastFail);
        return false;
    }
    const QString jobId
        = Statics::getstr(answer, QStringLiteral("<id>"), QStringLiteral("</id>")).trimmed();
    if (!jobId.isEmpty()) {
        messages.clear();
        messages.append(jobId);
        return true;
    }
    const int fail = answer.indexOf(QLatin1String("FAIL:"));
    if (fail >= 0) {
        m_lastFail = answer.mid(fail + 5).trimmed();
        messages.append(m_lastFail);
    }
    return false;
}
