// Reference data of Api_Ebay: categories, site details, shop categories, business policies,
// shipping discount rules, item specifics and category features.
#include "marketplace/api_ebay.h"

#include "core/database.h"
#include "core/logging.h"
#include "core/transaction.h"
#include "marketplace/referencecache.h"
#include "marketplace/tradingtransport.h"

#include <QHash>
#include <QXmlStreamWriter>
#include <functional>

namespace {

using Rows = QList<QMap<QString, QString>>;

QMap<QString, QString> entry(const QString &key, const QString &value)
{
    QMap<QString, QString> map;
    map.insert(key, value);
    return map;
}

bool isSuccess(const QString &ack)
{
    return ack.trimmed().compare(QLatin1String("Success"), Qt::CaseInsensitive) == 0;
}

// The error text of a failed reply; never empty.
QString failureOf(const MarketplaceReply &reply)
{
    const QString message = reply.message();
    return message.isEmpty() ? Api_Ebay::tr("eBay hat die Anfrage nicht ausgeführt (%1).")
                                   .arg(reply.ack.isEmpty() ? QStringLiteral("?") : reply.ack)
                             : message;
}

// What a reference call got: the reply document and its text, from the cache or the wire.
struct Answer
{
    bool ok = false;
    XmlNode root;
    QByteArray raw;
    QString failure;
    // The answer comes from a cache file older than 7 days: `failure` says why no fresh one.
    bool stale = false;

    QString staleReason() const { return stale ? failure : QString(); }
};

// A successful reply kept in `content`, as `answer`; false when it isn't one.
bool useStored(const QByteArray &content, const QString &ackPath, Answer &answer)
{
    if (content.isEmpty())
        return false;
    const XmlNode root = XmlNode::parse(content);
    if (root.isNull() || !isSuccess(root.value(ackPath)))
        return false;
    answer.ok = true;
    answer.root = root;
    answer.raw = content;
    return true;
}

// Reuses the cache file `name` when it is fresh and holds a successful reply; a file that
// can't be read is forgotten. Otherwise `send` asks the marketplace, and a reply whose
// acknowledgement (`ackPath`) is "Success" is kept in the cache, once `keep` (when given)
// has stored what the caller makes of it: a reply whose rows were not stored is asked for
// again next time instead of standing for them for 7 days. With `strict`, a reply with
// warnings counts as failed; else it is used but not kept. When no fresh reply can be had,
// an older cache file still serves (marked stale, with the reason): old lists are better
// than none.
Answer cachedAnswer(const ReferenceCache &cache, const QString &name, const QString &ackPath,
                    bool strict, const std::function<MarketplaceReply()> &send,
                    const std::function<bool(const Answer &)> &keep = {})
{
    Answer answer;
    const QByteArray stored = cache.fresh(name);
    if (!stored.isEmpty()) {
        if (useStored(stored, ackPath, answer))
            return answer;
        qCWarning(lcNet).noquote() << "Unreadable cache file, fetched again:" << cache.path(name);
        cache.remove(name);
    }

    const MarketplaceReply reply = send();
    if (!reply.succeeded() || (strict && !isSuccess(reply.ack))) {
        answer.failure = failureOf(reply);
        if (useStored(cache.older(name), ackPath, answer)) {
            answer.stale = true;
            qCWarning(lcNet).noquote()
                << "Older cache file used:" << cache.path(name) << "-" << answer.failure;
        }
        return answer;
    }
    answer.ok = true;
    answer.root = reply.root;
    answer.raw = reply.raw;
    const bool kept = !keep || keep(answer);
    if (kept && isSuccess(reply.ack))
        cache.store(name, reply.raw);
    return answer;
}

// GeteBayDetails reply: one row per ShippingServiceDetails entry that can be chosen in a
// listing, domestic (ShippingServiceID up to 50000) or international (from 50001), grouped
// by ShippingCategory: a heading row "-1" -> category, then "   " + Description per service.
void appendShippingServices(const XmlNode &root, bool international, Rows &out)
{
    QStringList categories;
    QHash<QString, Rows> services;
    for (const XmlNode &service : root.all(QStringLiteral("ShippingServiceDetails"))) {
        const QString code = service.value(QStringLiteral("ShippingService"));
        const QString category = service.value(QStringLiteral("ShippingCategory"));
        bool numeric = false;
        const int id = service.value(QStringLiteral("ShippingServiceID")).trimmed().toInt(&numeric);
        if (!numeric
            || service.value(QStringLiteral("ValidForSellingFlow")).trimmed()
                != QLatin1String("true"))
            continue;
        if (category == QLatin1String("PICKUP") || code.contains(QLatin1String("_PICKUP")))
            continue;
        if (international != (id > 50000))
            continue;
        if (!services.contains(category))
            categories.append(category);
        services[category].append(
            entry(code, QStringLiteral("   ") + service.value(QStringLiteral("Description"))));
    }
    for (const QString &category : qAsConst(categories)) {
        out.append(entry(QStringLiteral("-1"), category));
        out.append(services.value(category));
    }
}

// GeteBayDetails reply: code -> Description for each entry of `containerPath`.
void appendDetails(const XmlNode &root, const QString &containerPath, const QString &codeElement,
                   const std::function<QString(QString)> &shown, Rows &out)
{
    for (const XmlNode &detail : root.all(containerPath)) {
        const QString description = detail.value(QStringLiteral("Description"));
        out.append(entry(detail.value(codeElement), shown ? shown(description) : description));
    }
}

// GetStore reply: the custom categories of Store/CustomCategories, with their
// ChildCategory elements (the shop allows three levels). False at the first row not stored.
bool storeCategories(Database *db, int accountId, int site, const XmlNode &parent,
                     const QString &childName, const QString &parentId, int level)
{
    if (level > 3)
        return true;
    for (const XmlNode &category : parent.all(childName)) {
        const QString catId = category.value(QStringLiteral("CategoryID")).trimmed();
        QMap<QString, QVariant> row;
        row.insert(QStringLiteral("account"), accountId);
        row.insert(QStringLiteral("site"), site);
        row.insert(QStringLiteral("catid"), catId);
        row.insert(QStringLiteral("name"), category.value(QStringLiteral("Name")));
        row.insert(QStringLiteral("parentid"), parentId);
        row.insert(QStringLiteral("level"), level);
        row.insert(QStringLiteral("sort"),
                   category.value(QStringLiteral("Order")).trimmed().toInt());
        if (db->insertSqlClean(row, QStringLiteral("shopcats")) <= 0
            || !storeCategories(db, accountId, site, category, QStringLiteral("ChildCategory"),
                                catId, level + 1))
            return false;
    }
    return true;
}

struct ShopCategory
{
    QString catId;
    QString name;
};

void appendShopCategories(const QHash<QString, QList<ShopCategory>> &children,
                          const QString &parentId, int depth, Rows &out)
{
    if (depth > 2)
        return;
    for (const ShopCategory &category : children.value(parentId)) {
        out.append(entry(category.catId, QString(5 * depth, QLatin1Char(' ')) + category.name));
        appendShopCategories(children, category.catId, depth + 1, out);
    }
}

// GetCategoryFeatures reply: the Category element of `categoryId` (with ViewAllNodes the
// reply also lists child categories that override a feature).
XmlNode featureCategory(const XmlNode &root, const QString &categoryId)
{
    for (const XmlNode &category : root.all(QStringLiteral("Category"))) {
        if (category.value(QStringLiteral("CategoryID")).trimmed() == categoryId.trimmed())
            return category;
    }
    return XmlNode();
}

// The category's own setting of `feature`, else the inherited one from SiteDefaults.
XmlNode featureSetting(const XmlNode &root, const XmlNode &category, const QString &feature)
{
    const XmlNode own = category.child(feature);
    return own.isNull() ? root.at(QStringLiteral("SiteDefaults/") + feature) : own;
}

} // namespace

QList<QMap<QString, QString>> Api_Ebay::getSuggestedCategories(const QString &query,
                                                               const QString &siteId)
{
    m_lastFail.clear();
    TradingTransport::Call call;
    call.name = QStringLiteral("GetSuggestedCategories");
    call.siteId = siteId;
    call.fields = [&query](QXmlStreamWriter &xml) {
        xml.writeTextElement(QStringLiteral("Query"), query);
    };
    const MarketplaceReply reply = transport().send(call, m_token);
    if (!reply.succeeded()) {
        m_lastFail = failureOf(reply);
        return {};
    }
    // GetSuggestedCategories reply: SuggestedCategoryArray/SuggestedCategory/Category.
    Rows rows;
    for (const XmlNode &category :
         reply.root.all(QStringLiteral("SuggestedCategoryArray/SuggestedCategory/Category"))) {
        QStringList path;
        for (const XmlNode &parent : category.all(QStringLiteral("CategoryParentName")))
            path.append(parent.text());
        path.append(category.value(QStringLiteral("CategoryName")));
        rows.append(entry(category.value(QStringLiteral("CategoryID")).trimmed(),
                          path.join(QStringLiteral(" > "))));
    }
    return rows;
}

QList<QMap<QString, QString>> Api_Ebay::getCategories(const QString &siteId,
                                                      const QString &parentId, int levelLimit)
{
    m_lastFail.clear();
    const bool hasParent = parentId.trimmed() != QLatin1String("0");
    TradingTransport::Call call;
    call.name = QStringLiteral("GetCategories");
    call.siteId = siteId;
    // The whole tree of a site runs to many megabytes.
    call.timeoutMs = 3 * m_timeoutMs;
    call.fields = [&](QXmlStreamWriter &xml) {
        xml.writeTextElement(QStringLiteral("DetailLevel"), QStringLiteral("ReturnAll"));
        xml.writeTextElement(QStringLiteral("CategorySiteID"), siteId.trimmed());
        if (hasParent)
            xml.writeTextElement(QStringLiteral("CategoryParent"), parentId.trimmed());
        xml.writeTextElement(QStringLiteral("LevelLimit"), QString::number(levelLimit));
        xml.writeTextElement(QStringLiteral("ViewAllNodes"), QStringLiteral("true"));
    };
    const MarketplaceReply reply = transport().send(call, m_token);
    Rows rows;
    if (!reply.succeeded()) {
        m_lastFail = failureOf(reply);
        return rows;
    }
    // GetCategories reply: CategoryArray/Category with CategoryID, CategoryLevel,
    // CategoryName and, for leaves only, LeafCategory. The parent asked for comes along.
    const QString separator = QStringLiteral("!!!");
    for (const XmlNode &category : reply.root.all(QStringLiteral("CategoryArray/Category"))) {
        const QString id = category.value(QStringLiteral("CategoryID")).trimmed();
        if (hasParent && id == parentId.trimmed())
            continue;
        rows.append(entry(id + separator + category.value(QStringLiteral("CategoryLevel")).trimmed()
                              + separator
                              + category.value(QStringLiteral("LeafCategory")).trimmed(),
                          category.value(QStringLiteral("CategoryName"))));
    }
    return rows;
}

void Api_Ebay::getEbayDetails(const QString &siteId, const QString &kind,
                              QList<QMap<QString, QString>> &out, Database *db)
{
    m_lastFail.clear();
    const ReferenceCache cache(db, m_sandbox);
    const Answer answer = cachedAnswer(
        cache, QStringLiteral("ap2_GeteBayDetails_") + siteId.trimmed() + QStringLiteral(".xml"),
        QStringLiteral("Ack"), false, [&] {
            // Without DetailName the reply holds every detail of the site.
            TradingTransport::Call call;
            call.name = QStringLiteral("GeteBayDetails");
            call.siteId = siteId;
            return transport().send(call, m_token);
        });
    m_staleReason = answer.staleReason();
    if (!answer.ok) {
        m_lastFail = answer.failure;
        return;
    }

    // GeteBayDetails reply containers and their code elements.
    const XmlNode &root = answer.root;
    if (kind == QLatin1String("PaymentOptionDetails")) {
        appendDetails(root, kind, QStringLiteral("PaymentOption"), nullptr, out);
    } else if (kind == QLatin1String("ReturnsWithin")) {
        appendDetails(root, QStringLiteral("ReturnPolicyDetails/ReturnsWithin"),
                      QStringLiteral("ReturnsWithinOption"), nullptr, out);
    } else if (kind == QLatin1String("ShippingCostPaidBy")) {
        appendDetails(root, QStringLiteral("ReturnPolicyDetails/ShippingCostPaidBy"),
                      QStringLiteral("ShippingCostPaidByOption"), nullptr, out);
    } else if (kind == QLatin1String("DispatchTimeMaxDetails")) {
        appendDetails(
            root, kind, QStringLiteral("DispatchTimeMax"),
            [](QString text) {
                return text.replace(QStringLiteral("Days"), QStringLiteral("Werktage"))
                    .replace(QStringLiteral("Day"), QStringLiteral("Werktag"));
            },
            out);
    } else if (kind == QLatin1String("CountryDetails")) {
        appendDetails(
            root, kind, QStringLiteral("Country"),
            [](QString text) {
                return text.replace(QStringLiteral("Germany"), QStringLiteral("Deutschland"))
                    .replace(QStringLiteral("Switzerland"), QStringLiteral("Schweiz"))
                    .replace(QStringLiteral("Austria"), QStringLiteral("Österreich"));
            },
            out);
    } else if (kind == QLatin1String("ShippingCategoryDetails")) {
        appendDetails(root, kind, QStringLiteral("ShippingCategory"), nullptr, out);
    } else if (kind == QLatin1String("ShippingLocationDetails")) {
        appendDetails(root, kind, QStringLiteral("ShippingLocation"), nullptr, out);
    } else if (kind == QLatin1String("ShippingServiceDetails")) {
        appendShippingServices(root, false, out);
    } else if (kind == QLatin1String("IShippingServiceDetails")) {
        appendShippingServices(root, true, out);
    }
}

QList<QMap<QString, QString>> Api_Ebay::getStore(const QString &siteId, int accountId, Database *db)
{
    m_lastFail.clear();
    m_staleReason.clear();
    if (!db)
        return {};
    const int site = siteId.trimmed().toInt();
    const ReferenceCache cache(db, m_sandbox);
    const QString name = QStringLiteral("ap2_getStore_") + QString::number(accountId)
        + QLatin1Char('_') + siteId.trimmed() + QStringLiteral(".xml");
    // The rows of the account and site are replaced only by a shop that was read, and all
    // at once: while the marketplace can't be reached, or the new ones can't be stored, the
    // stored ones still serve, and the reply is not kept, so the next opening asks again.
    QString notStored;
    const auto storeRows = [&](const Answer &fetched) {
        Transaction replace(db);
        // GetStore reply: Store/CustomCategories/CustomCategory, nested ChildCategory.
        const bool stored = replace.isOpen()
            && db->executeSQL(QStringLiteral("DELETE FROM shopcats WHERE account=%1 AND site=%2")
                                  .arg(accountId)
                                  .arg(site))
            && storeCategories(db, accountId, site,
                               fetched.root.at(QStringLiteral("Store/CustomCategories")),
                               QStringLiteral("CustomCategory"), QStringLiteral("0"), 1)
            && replace.commit();
        if (!stored) {
            qCWarning(lcNet).noquote()
                << "The shop categories could not be stored:" << db->lastErrorText;
            notStored = tr("Die Shop-Kategorien konnten nicht gespeichert werden, es werden "
                           "die zuletzt gespeicherten gezeigt: %1")
                            .arg(db->lastErrorText);
        }
        return stored;
    };
    const Answer answer = cachedAnswer(
        cache, name, QStringLiteral("Ack"), false,
        [&] {
            TradingTransport::Call call;
            call.name = QStringLiteral("GetStore");
            call.siteId = siteId;
            call.fields = [](QXmlStreamWriter &xml) {
                xml.writeTextElement(QStringLiteral("CategoryStructureOnly"),
                                     QStringLiteral("true"));
            };
            return transport().send(call, m_token);
        },
        storeRows);
    m_staleReason = notStored.isEmpty() ? answer.staleReason() : notStored;
    if (!answer.ok) {
        m_lastFail = answer.failure;
        return {};
    }

    const Read<SqlRows> stored = db->select(
        QStringLiteral("SELECT catid, name, parentid, level FROM shopcats WHERE account=%1 AND "
                       "site=%2 ORDER BY name, id")
            .arg(accountId)
            .arg(site));
    if (!stored.ok()) {
        m_lastFail = tr("Die Shop-Kategorien konnten nicht aus der Datenbank gelesen werden: %1")
                         .arg(stored.error());
        return {};
    }
    QHash<QString, QList<ShopCategory>> children;
    const QString top = QStringLiteral("\n"); // no category id looks like this
    for (const auto &row : *stored) {
        const QString parent = row.value(QStringLiteral("level")).toInt() <= 1
            ? top
            : row.value(QStringLiteral("parentid")).toString();
        children[parent].append({ row.value(QStringLiteral("catid")).toString(),
                                  row.value(QStringLiteral("name")).toString() });
    }
    Rows rows;
    appendShopCategories(children, top, 0, rows);
    return rows;
}

QList<QMap<QString, QString>> Api_Ebay::getProfiles(const QString &type, QString siteId,
                                                    int accountId)
{
    m_lastFail.clear();
    // getSellerProfiles reply: one list per policy type.
    static const QHash<QString, QString> lists = {
        { QStringLiteral("PAYMENT"), QStringLiteral("paymentProfileList/PaymentProfile") },
        { QStringLiteral("RETURN_POLICY"),
          QStringLiteral("returnPolicyProfileList/ReturnPolicyProfile") },
        { QStringLiteral("SHIPPING"),
          QStringLiteral("shippingPolicyProfile/ShippingPolicyProfile") },
    };
    const ReferenceCache cache(nullptr, m_sandbox);
    const QString name = QStringLiteral("ap2_getProfiles_") + type + QLatin1Char('_')
        + siteId.trimmed() + QLatin1Char('_') + QString::number(accountId) + QStringLiteral(".xml");
    const Answer answer = cachedAnswer(cache, name, QStringLiteral("ack"), true, [&] {
        TradingTransport::ProfilesCall call;
        call.operation = QStringLiteral("getSellerProfiles");
        call.siteId = siteId;
        call.fields = [&type](QXmlStreamWriter &xml) {
            xml.writeTextElement(QStringLiteral("includeDetails"), QStringLiteral("false"));
            xml.writeTextElement(QStringLiteral("profileType"), type);
        };
        return transport().sendProfiles(call, m_token);
    });
    m_staleReason = answer.staleReason();
    if (!answer.ok) {
        m_lastFail = answer.failure;
        return {};
    }
    Rows rows;
    if (!lists.contains(type))
        return rows;
    for (const XmlNode &profile : answer.root.all(lists.value(type))) {
        const QString id = profile.value(QStringLiteral("profileId")).trimmed();
        rows.append(entry(id,
                          QLatin1Char('(') + id + QStringLiteral(") ")
                              + profile.value(QStringLiteral("profileName"))));
    }
    return rows;
}

QList<QMap<QString, QString>> Api_Ebay::getShippingDiscountProfiles(Database *db, int accountId)
{
    m_lastFail.clear();
    const ReferenceCache cache(db, m_sandbox);
    const QString name = QStringLiteral("api_getShippingDiscountProfiles_")
        + QString::number(accountId) + QStringLiteral(".xml");
    const Answer answer = cachedAnswer(cache, name, QStringLiteral("Ack"), false, [&] {
        TradingTransport::Call call;
        call.name = QStringLiteral("GetShippingDiscountProfiles");
        call.siteId = QStringLiteral("77");
        call.fields = [](QXmlStreamWriter &xml) {
            xml.writeTextElement(QStringLiteral("DetailLevel"), QStringLiteral("ReturnAll"));
        };
        return transport().send(call, m_token);
    });
    m_staleReason = answer.staleReason();
    if (!answer.ok) {
        m_lastFail = answer.failure;
        return {};
    }
    // GetShippingDiscountProfiles reply: the flat-rate rules only.
    Rows rows;
    for (const XmlNode &profile :
         answer.root.all(QStringLiteral("FlatShippingDiscount/DiscountProfile"))) {
        rows.append(entry(profile.value(QStringLiteral("DiscountProfileID")).trimmed(),
                          profile.value(QStringLiteral("DiscountProfileName"))));
    }
    return rows;
}

QString Api_Ebay::getCategorySpecifics(const QString &categoryId, const QString &siteId,
                                       Database *db)
{
    m_lastFail.clear();
    const ReferenceCache cache(db, m_sandbox);
    const QString name = QStringLiteral("ap2_getCategorySpecifics_1_") + siteId.trimmed()
        + QLatin1Char('_') + categoryId.trimmed() + QStringLiteral(".xml");
    const Answer answer = cachedAnswer(cache, name, QStringLiteral("Ack"), false, [&] {
        TradingTransport::Call call;
        call.name = QStringLiteral("GetCategorySpecifics");
        call.siteId = siteId;
        call.fields = [&categoryId](QXmlStreamWriter &xml) {
            xml.writeTextElement(QStringLiteral("CategoryID"), categoryId.trimmed());
        };
        return transport().send(call, m_token);
    });
    m_staleReason = answer.staleReason();
    if (!answer.ok) {
        m_lastFail = answer.failure;
        return QString();
    }
    // As the reply was read and checked: the editor reads it again as text.
    return XmlNode::decode(answer.raw);
}

QList<QMap<QString, QString>> Api_Ebay::getCategoryFeatures(const QString &categoryId,
                                                            const QString &siteId,
                                                            const QString &feature, Database *db)
{
    m_lastFail.clear();
    // The product identifiers are answered together, so they are asked for together.
    const bool identifiers = feature == QLatin1String("EANEnabled");
    const QStringList features = identifiers
        ? QStringList { QStringLiteral("EANEnabled"), QStringLiteral("ISBNEnabled"),
                        QStringLiteral("UPCEnabled") }
        : QStringList { feature };
    const ReferenceCache cache(db, m_sandbox);
    const QString name = QStringLiteral("ap2_getCategoryFeatures_") + siteId.trimmed()
        + QLatin1Char('_') + categoryId.trimmed() + QLatin1Char('_') + feature
        + QStringLiteral(".xml");
    const Answer answer = cachedAnswer(cache, name, QStringLiteral("Ack"), false, [&] {
        TradingTransport::Call call;
        call.name = QStringLiteral("GetCategoryFeatures");
        call.siteId = siteId;
        call.fields = [&](QXmlStreamWriter &xml) {
            xml.writeTextElement(QStringLiteral("CategoryID"), categoryId.trimmed());
            xml.writeTextElement(QStringLiteral("DetailLevel"), QStringLiteral("ReturnAll"));
            xml.writeTextElement(QStringLiteral("ViewAllNodes"), QStringLiteral("true"));
            for (const QString &id : features)
                xml.writeTextElement(QStringLiteral("FeatureID"), id);
        };
        return transport().send(call, m_token);
    });
    m_staleReason = answer.staleReason();
    if (!answer.ok) {
        m_lastFail = answer.failure;
        return {};
    }

    // GetCategoryFeatures reply: Category (by CategoryID) and SiteDefaults.
    const XmlNode category = featureCategory(answer.root, categoryId);
    Rows rows;
    if (feature == QLatin1String("ConditionValues")) {
        const XmlNode values = featureSetting(answer.root, category, feature);
        for (const XmlNode &condition : values.all(QStringLiteral("Condition"))) {
            rows.append(entry(condition.value(QStringLiteral("ID")).trimmed(),
                              condition.value(QStringLiteral("DisplayName"))));
        }
    } else if (feature == QLatin1String("VariationsEnabled")) {
        const bool enabled = featureSetting(answer.root, category, feature).text().trimmed()
            == QLatin1String("true");
        rows.append(entry(feature, enabled ? QStringLiteral("true") : QStringLiteral("false")));
    } else if (identifiers) {
        QStringList values;
        for (const QString &id : features)
            values.append(featureSetting(answer.root, category, id).text().trimmed());
        rows.append(entry(feature, values.join(QLatin1Char(','))));
    }
    return rows;
}
