#include "core/removalnotes.h"

#include "core/clock.h"
#include "core/database.h"
#include "core/database_p.h"

#include <QDateTime>
#include <QSqlQuery>
#include <QStringList>

#include <algorithm>

namespace {
// Rows per statement: a statement of about a hundred kilobytes.
constexpr int kNotesPerStatement = 1000;
} // namespace

bool RemovalNotes::write(Database &db, const QHash<int, int> &left,
                         const std::function<bool()> &between)
{
    if (!db.isMySQL || left.isEmpty())
        return true;
    const QVariant sync = DatabaseInternal::appProperty("mysqlsyncworkstation");
    // Queued for the synchronising workstation when this one does not synchronise itself.
    const bool queued = sync.isValid() && !sync.toBool();
    const QString now = Clock::currentDateTime().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"));
    QList<int> ids = left.keys();
    std::sort(ids.begin(), ids.end());
    for (int first = 0; first < ids.size(); first += kNotesPerStatement) {
        QStringList rows;
        QStringList texts;
        for (int id : ids.mid(first, kNotesPerStatement)) {
            const QString text = QStringLiteral("'Anzeige wurde zur Neueinlesung gelöscht (%1,%2)'")
                                     .arg(left.value(id))
                                     .arg(id);
            texts << text;
            rows << QStringLiteral("(0,0,'%1','Gelöscht',%2,'removeitem','0')").arg(now, text);
        }
        if (!db.executeSQL(QStringLiteral("INSERT INTO itemshistory (price, pricetype, indate, "
                                          "title, textinfo, infotype, itemid) VALUES ")
                           + rows.join(QLatin1Char(','))))
            return false;
        if (!queued) {
            if (between && !between())
                return false;
            continue;
        }
        // The statement's first id: the entries are at or above it (another workstation's
        // uncommitted rows are not seen).
        const Read<QString> firstId = db.selectOne(QStringLiteral("SELECT LAST_INSERT_ID()"));
        if (!firstId.ok())
            return false;
        if (!db.executeSQL(QStringLiteral("INSERT INTO clienttoserver (newsid) SELECT id FROM "
                                          "itemshistory WHERE id >= ")
                           + QString::number(firstId->toLongLong())
                           + QStringLiteral(" AND infotype='removeitem' AND indate='") + now
                           + QStringLiteral("' AND textinfo IN (") + texts.join(QLatin1Char(','))
                           + QStringLiteral(") ORDER BY id")))
            return false;
        if (between && !between())
            return false;
    }
    return true;
}
