// Api_Ebay: reading an account's listings into listing records.

#include "marketplace/api_ebay.h"

#include "core/clock.h"
#include "core/logging.h"
#include "marketplace/articlemodel.h"
#include "marketplace/itemmapping.h"
#include "marketplace/tradingtransport.h"

#include <QCoreApplication>
#include <QMetaMethod>
#include <QSet>
#include <QXmlStreamWriter>
#include <memory>

namespace {

constexpr int kEntriesPerPage = 50;
constexpr int kWindowDays = 119;
constexpr int kQuestionDays = 89;

QString utc(const QDateTime &time)
{
    return time.toUTC().toString(QStringLiteral("yyyy-MM-ddTHH:mm:ss.zzzZ"));
}

bool appDown()
{
    const QCoreApplication *app = QCoreApplication::instance();
    return app && app->property("AppDown").toInt() == 1;
}

} // namespace

QSet<QString> Api_Ebay::unansweredQuestions()
{
    // GetMemberMessages: MemberMessage/MemberMessageExchange/Item/ItemID of every buyer's
    // question not yet answered.
    QSet<QString> items;
    const QDateTime now = Clock::currentDateTime();
    int page = 1;
    int pages = 1;
    do {
        TradingTransport::Call call;
        call.name = QStringLiteral("GetMemberMessages");
        call.fields = [&](QXmlStreamWriter &xml) {
            xml.writeTextElement(QStringLiteral("MailMessageType"),
                                 QStringLiteral("AskSellerQuestion"));
            xml.writeTextElement(QStringLiteral("MessageStatus"), QStringLiteral("Unanswered"));
            xml.writeTextElement(QStringLiteral("StartCreationTime"),
                                 utc(now.addDays(-kQuestionDays)));
            xml.writeTextElement(QStringLiteral("EndCreationTime"), utc(now));
            xml.writeStartElement(QStringLiteral("Pagination"));
            xml.writeTextElement(QStringLiteral("EntriesPerPage"), QStringLiteral("200"));
            xml.writeTextElement(QStringLiteral("PageNumber"), QString::number(page));
            xml.writeEndElement();
        };
        const MarketplaceReply reply = transport().send(call, m_token);
        if (!reply.succeeded()) {
            qCWarning(lcNet).noquote() << "Buyers' questions not read:" << reply.message();
            break;
        }
        const QVector<XmlNode> questions
            = reply.root.all(QStringLiteral("MemberMessage/MemberMessageExchange/Item"));
        for (const XmlNode &item : questions)
            items.insert(item.value(QStringLiteral("ItemID")).trimmed());
        pages = qMax(
            1, reply.root.value(QStringLiteral("PaginationResult/TotalNumberOfPages")).toInt());
        // A reply may leave out the page count and say only that more follow.
        if (page >= pages && !questions.isEmpty()
            && reply.root.value(QStringLiteral("HasMoreItems")).trimmed() == QLatin1String("true"))
            pages = page + 1;
        ++page;
    } while (page <= pages && !appDown());
    return items;
}

std::unique_ptr<ArticleModel> Api_Ebay::readListingInFull(const QString &itemId)
{
    TradingTransport::Call call;
    call.name = QStringLiteral("GetItem");
    call.fields = [&itemId](QXmlStreamWriter &xml) {
        xml.writeTextElement(QStringLiteral("ItemID"), itemId);
        xml.writeTextElement(QStringLiteral("DetailLevel"), QStringLiteral("ReturnAll"));
        xml.writeTextElement(QStringLiteral("IncludeItemSpecifics"), QStringLiteral("true"));
        xml.writeTextElement(QStringLiteral("IncludeWatchCount"), QStringLiteral("true"));
    };
    const MarketplaceReply reply = transport().send(call, m_token);
    const XmlNode item = reply.root.child(QStringLiteral("Item"));
    if (!reply.succeeded() || item.isNull()) {
        qCWarning(lcNet).noquote() << "Listing" << itemId << "not read:" << reply.message();
        return nullptr;
    }
    auto record = std::make_unique<ArticleModel>();
    ItemMapping::readItem(item, *record);
    record->IsNew = true;
    return record;
}

bool Api_Ebay::getMyeBaySelling(const QString &accountId, const QStringList &knownItemIds,
                                QDateTime start)
{
    m_lastFail.clear();
    if (appDown())
        return false;
    const QSet<QString> known(knownItemIds.cbegin(), knownItemIds.cend());
    const QSet<QString> questions = unansweredQuestions();
    // The window is the same for every page.
    const QString from = utc(start);
    const QString to = utc(start.addDays(kWindowDays));

    int page = 1;
    int pages = 1;
    while (page <= pages) {
        if (appDown())
            return false;
        // GetSellerList: the listings ending in the window, a page at a time, with their
        // selling state and watch count (DetailLevel ReturnAll is needed for WatchCount).
        TradingTransport::Call call;
        call.name = QStringLiteral("GetSellerList");
        call.fields = [&](QXmlStreamWriter &xml) {
            xml.writeTextElement(QStringLiteral("DetailLevel"), QStringLiteral("ReturnAll"));
            xml.writeTextElement(QStringLiteral("EndTimeFrom"), from);
            xml.writeTextElement(QStringLiteral("EndTimeTo"), to);
            xml.writeTextElement(QStringLiteral("IncludeWatchCount"), QStringLiteral("true"));
            xml.writeStartElement(QStringLiteral("Pagination"));
            xml.writeTextElement(QStringLiteral("EntriesPerPage"),
                                 QString::number(kEntriesPerPage));
            xml.writeTextElement(QStringLiteral("PageNumber"), QString::number(page));
            xml.writeEndElement();
        };
        const MarketplaceReply reply = transport().send(call, m_token);
        if (!reply.succeeded()) {
            m_lastFail = reply.message();
            if (m_lastFail.isEmpty())
                m_lastFail = tr("eBay hat die Angebotsliste abgelehnt (%1).").arg(reply.ack);
            return false;
        }
        pages = qMax(
            1, reply.root.value(QStringLiteral("PaginationResult/TotalNumberOfPages")).toInt());

        std::vector<std::unique_ptr<ArticleModel>> records;
        for (const XmlNode &item : reply.root.all(QStringLiteral("ItemArray/Item"))) {
            const QString itemId = item.value(QStringLiteral("ItemID")).trimmed();
            if (itemId.isEmpty())
                continue;
            std::unique_ptr<ArticleModel> record;
            if (known.contains(itemId)) {
                // Only the state is compared for a known listing.
                record = std::make_unique<ArticleModel>();
                ItemMapping::readState(item, *record);
            } else {
                if (appDown())
                    return false;
                record = readListingInFull(itemId);
                // A listing that can't be read now is read in full by a later round.
                if (!record)
                    continue;
            }
            record->Account = accountId.toInt();
            record->UUID = item.value(QStringLiteral("UUID")).trimmed();
            record->QuestionCount = questions.contains(itemId) ? 1 : 0;
            records.push_back(std::move(record));
        }

        emit getStatus(
            tr("Angebote werden von eBay eingelesen (Seite %1 von %2)").arg(page).arg(pages), pages,
            page);
        QList<ArticleModel *> handedOver;
        for (auto &record : records)
            handedOver.append(record.release());
        // The receiver owns the records; without one they are released here.
        if (isSignalConnected(QMetaMethod::fromSignal(&Api_Ebay::sendAdItems)))
            emit sendAdItems(handedOver);
        else
            qDeleteAll(handedOver);
        ++page;
    }
    return true;
}
