#include "core/removalnotes.h"

#include "core/clock.h"
#include "core/database.h"
#include "core/database_p.h"

#include <QDateTime>
#include <QSqlQuery>
#include <QStringList>
#include <QUuid>

#include <algorithm>

namespace {
// Rows per statement: a statement of about a hundred kilobytes.
constexpr int kNotesPerStatement = 1000;

// Whether the entries are queued for the synchronising workstation: when this one does not
// synchronise itself (as Database::mysqlAddRemoveInfo() decides for one entry).
bool queued()
{
    const QVariant sync = DatabaseInternal::appProperty("mysqlsyncworkstation");
    return sync.isValid() && !sync.toBool();
}
} // namespace

bool RemovalNotes::write(Database &db, const QHash<int, int> &left,
                         const std::function<bool()> &between)
{
    if (!db.isMySQL || left.isEmpty())
        return true;
    const bool queued = ::queued();
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

bool RemovalNotes::writeBeforeMove(Database &db, const QStringList &idLists, int target)
{
    if (!db.isMySQL || idLists.isEmpty())
        return true;
    const bool queued = ::queued();
    const QString now = Clock::currentDateTime().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"));
    // The entries to queue carry a mark of this command in their item number until they are
    // queued: the queue takes them, and nothing else, in one statement. The mark is cleared
    // before the command ends, so it is never committed.
    const QString mark = queued
        ? QStringLiteral("note-") + QUuid::createUuid().toString(QUuid::Id128)
        : QStringLiteral("0");
    qint64 firstId = -1;
    for (const QString &ids : idLists) {
        if (!db.executeSQL(
                QStringLiteral("INSERT INTO itemshistory (price, pricetype, indate, title, "
                               "textinfo, infotype, itemid) SELECT 0, 0, '%1', 'Gelöscht', "
                               "CONCAT('Anzeige wurde zur Neueinlesung gelöscht (', Folder, ',', "
                               "id, ')'), 'removeitem', '%2' FROM articles WHERE id IN (")
                    .arg(now, mark)
                + ids + QStringLiteral(") AND Folder<>") + QString::number(target)
                + QStringLiteral(" ORDER BY id")))
            return false;
        if (!queued || firstId >= 0)
            continue;
        // The first statement's first id: every entry of the command is at or above it.
        const Read<QString> first = db.selectOne(QStringLiteral("SELECT LAST_INSERT_ID()"));
        if (!first.ok())
            return false;
        firstId = first->toLongLong();
    }
    if (!queued)
        return true;
    const QString ours = QStringLiteral(" WHERE id >= ") + QString::number(firstId)
        + QStringLiteral(" AND itemid='") + mark + QLatin1Char('\'');
    return db.executeSQL(QStringLiteral("INSERT INTO clienttoserver (newsid) SELECT id FROM "
                                        "itemshistory")
                         + ours + QStringLiteral(" ORDER BY id"))
        && db.executeSQL(QStringLiteral("UPDATE itemshistory SET itemid='0'") + ours);
}
