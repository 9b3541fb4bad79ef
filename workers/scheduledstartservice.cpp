#include "workers/scheduledstartservice.h"

#include <QStringList>
#include <QUrl>

#include "core/clock.h"
#include "core/config.h"
#include "core/database.h"
#include "core/logging.h"
#include "core/specialfolderid.h"
#include "core/statics.h"

namespace {

const QString kCreditPath = QStringLiteral("/zaruvovezira/planning.php");
const QString kStatePath = QStringLiteral("/zaruvovezira/listing.php?action=getstate&id=");
const QString kWithdrawPath = QStringLiteral("/zaruvovezira/listing_delete.php?id=");

QString encoded(const QString &text)
{
    return QString::fromLatin1(QUrl::toPercentEncoding(text));
}

// GET (no `data`) or form POST to `path` on the maker's server; "" when the server is not
// configured or did not answer.
QString request(const QString &path, const QString &data = QString())
{
    const QString url = Config::serverAddress(path);
    if (url.isEmpty()) {
        qCDebug(lcNet) << "No address of the maker's server; not sent:" << path;
        return QString();
    }
    return Statics::HttpGet(url, data);
}

} // namespace

ScheduledStartService::ScheduledStartService(Database *db, QObject *parent)
    : QObject(parent)
    , m_db(db)
{ }

QString ScheduledStartService::credit()
{
    QStringList names;
    for (const ArticleRow &row :
         m_db->select(QStringLiteral("SELECT accountname FROM accounts")).legacyValue())
        names << encoded(row.value(QStringLiteral("accountname")).toString());
    return request(kCreditPath, QStringLiteral("names=") + names.join(QLatin1Char(',')));
}

bool ScheduledStartService::noCreditLeft(const QString &credit)
{
    return credit.startsWith(QLatin1String("0,00"));
}

bool ScheduledStartService::withdraw(const QString &jobId)
{
    return request(kWithdrawPath + encoded(jobId)) == QLatin1String("success");
}

void ScheduledStartService::followUp()
{
    const SqlRows rows
        = m_db->select(QStringLiteral("SELECT id,Planned_Interval FROM articles WHERE Folder = -3 "
                                      "AND Planned_Interval <> ''"))
              .legacyValue();
    for (const ArticleRow &row : rows) {
        const QString id = row.value(QStringLiteral("id")).toString();
        const QString reply = request(
            kStatePath + encoded(row.value(QStringLiteral("Planned_Interval")).toString()));
        const QString itemId = Statics::getstr(reply, QStringLiteral("<planning_items_ebayitemid>"),
                                               QStringLiteral("</planning_items_ebayitemid>"));
        const QString state = Statics::getstr(reply, QStringLiteral("<planning_items_ebaystate>"),
                                              QStringLiteral("</planning_items_ebaystate>"));
        const QString error
            = Statics::getstr(reply, QStringLiteral("<planning_items_ebayerrormessage>"),
                              QStringLiteral("</planning_items_ebayerrormessage>"));

        // Pending, or no answer: asked again in the next round.
        if (state.isEmpty())
            continue;

        if (!itemId.isEmpty()) {
            const QString now
                = Clock::currentDateTime().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"));
            if (m_db->executeSQL(QStringLiteral("UPDATE articles SET Folder=-9, StartDate='") + now
                                 + QStringLiteral("', Planned='', Planned_Interval='', ItemID='")
                                 + Database::escapeString(itemId) + QStringLiteral("' WHERE id=")
                                 + id)) {
                emit ChangeFolderCount(SpecialFolderId::Active, 1, false);
                emit ChangeFolderCount(SpecialFolderId::Scheduled, -1, false);
            }
        } else {
            // The start failed: the row stays scheduled without start until it is planned
            // anew, and the article list shows the service's message.
            m_db->executeSQL(
                QStringLiteral("UPDATE articles SET Planned='',Planned_Interval='',DoCheckResult='")
                + Database::escapeString(error) + QStringLiteral("' WHERE id=") + id);
        }
    }
}
