// Storing the editor's row with its pictures: one transaction, only the columns the seller
// changed, another workstation's changes of the same columns put to the seller, and a commit
// whose answer was lost looked up before anything is written again.
#include "editor/addarticle.h"

#include "core/database.h"
#include "core/logging.h"
#include "core/specialfolderid.h"
#include "core/statics.h"
#include "core/transaction.h"
#include "editor/variationcopy.h"

#include <QCoreApplication>
#include <QFile>
#include <QRandomGenerator>
#include <QSqlQuery>

namespace {

using Row = QMap<QString, QVariant>;

// The column that carries a new row's mark, by which a row whose commit answer was lost is
// found: articles not yet listed leave it unused, the seller never sees it, and the listing
// worker writes its own value there once the article is listed.
const QString kMarkColumn = QStringLiteral("RefreshHash");
// Columns every save resets (a saved article is no longer verified, its current price is
// read afresh): written whatever another workstation holds, never asked about.
const QStringList kAlwaysReset = { QStringLiteral("CurrentPrice"), QStringLiteral("IsVerified") };
// Parts of a save that are not columns of the row.
const QString kPictures = QStringLiteral("#pictures");
const QString kVariantPictures = QStringLiteral("#variantPictures");
// Not a column: the row became a running listing since it was opened (its value: the item
// number).
const QString kListed = QStringLiteral("#listed");

bool isPart(const QString &key)
{
    return key.startsWith(QLatin1Char('#'));
}

bool isNumber(const QVariant &value)
{
    switch (value.type()) {
    case QVariant::Bool:
    case QVariant::Int:
    case QVariant::UInt:
    case QVariant::LongLong:
    case QVariant::ULongLong:
    case QVariant::Double:
        return true;
    default:
        return false;
    }
}

// Whether the form's value `mine` is what the database holds as `stored`: numbers as
// numbers (nothing stored counts as 0), everything else as text (NULL as empty).
bool sameValue(const QVariant &mine, const QVariant &stored)
{
    if (isNumber(mine)) {
        const QString text = stored.toString().trimmed();
        bool ok = true;
        const double number = text.isEmpty() ? 0.0 : text.toDouble(&ok);
        return ok && qAbs(number - mine.toDouble()) < 1e-9;
    }
    return mine.toString() == stored.toString();
}

struct Label
{
    const char *column;
    const char *text;
    bool plural;
};

// What the seller calls the columns, for the notice about another workstation's changes.
const Label kLabels[] = {
    { "Title", QT_TRANSLATE_NOOP("AddArticle", "Die Artikelbezeichnung"), false },
    { "SubTitle", QT_TRANSLATE_NOOP("AddArticle", "Der Untertitel"), false },
    { "StartPrice", QT_TRANSLATE_NOOP("AddArticle", "Der Preis"), false },
    { "Quantity", QT_TRANSLATE_NOOP("AddArticle", "Die Menge"), false },
    { "BuyItNowPrice", QT_TRANSLATE_NOOP("AddArticle", "Der Sofort-Kaufen-Preis"), false },
    { "ReservePrice", QT_TRANSLATE_NOOP("AddArticle", "Der Mindestpreis"), false },
    { "ListingType", QT_TRANSLATE_NOOP("AddArticle", "Das Angebotsformat"), false },
    { "ListingDuration", QT_TRANSLATE_NOOP("AddArticle", "Die Angebotsdauer"), false },
    { "Description", QT_TRANSLATE_NOOP("AddArticle", "Die Beschreibung"), false },
    { "SKU", QT_TRANSLATE_NOOP("AddArticle", "Die Artikelnummer (SKU)"), false },
    { "ConditionID", QT_TRANSLATE_NOOP("AddArticle", "Der Zustand"), false },
    { "ConditionDescription", QT_TRANSLATE_NOOP("AddArticle", "Die Zustandsbeschreibung"), false },
    { "PrimaryCategory", QT_TRANSLATE_NOOP("AddArticle", "Die Kategorie"), false },
    { "SecondaryCategory", QT_TRANSLATE_NOOP("AddArticle", "Die zweite Kategorie"), false },
    { "ItemSpecifics", QT_TRANSLATE_NOOP("AddArticle", "Die Artikelmerkmale"), true },
    { "LotSize", QT_TRANSLATE_NOOP("AddArticle", "Die Losgröße"), false },
    { "VAT_VATPercent", QT_TRANSLATE_NOOP("AddArticle", "Der Mehrwertsteuersatz"), false },
    { "Country", QT_TRANSLATE_NOOP("AddArticle", "Das Land des Artikelstandorts"), false },
    { "PostalCode", QT_TRANSLATE_NOOP("AddArticle", "Die Postleitzahl"), false },
    { "Location", QT_TRANSLATE_NOOP("AddArticle", "Der Artikelstandort"), false },
    { "Notes", QT_TRANSLATE_NOOP("AddArticle", "Die Notizen"), true },
    { "#pictures", QT_TRANSLATE_NOOP("AddArticle", "Die Bilder"), true },
    { "#variantPictures", QT_TRANSLATE_NOOP("AddArticle", "Die Bilder der Varianten"), true },
};

QString changedElsewhereLine(const QString &column)
{
    for (const Label &label : kLabels) {
        if (column.compare(QLatin1String(label.column), Qt::CaseInsensitive) != 0)
            continue;
        const QString name = QCoreApplication::translate("AddArticle", label.text);
        return label.plural
            ? QCoreApplication::translate(
                  "AddArticle", "%1 wurden inzwischen an einem anderen Arbeitsplatz geändert.")
                  .arg(name)
            : QCoreApplication::translate(
                  "AddArticle", "%1 wurde inzwischen an einem anderen Arbeitsplatz geändert.")
                  .arg(name);
    }
    return QCoreApplication::translate(
               "AddArticle",
               "Das Feld „%1“ wurde inzwischen an einem anderen Arbeitsplatz geändert.")
        .arg(column);
}

// A row is a running listing when it has an item number and is active or in the outbox.
bool runningListing(const QVariant &folder, const QVariant &itemId)
{
    const int in = folder.toInt();
    return !itemId.toString().trimmed().isEmpty()
        && (in == SpecialFolderId::Active || in == SpecialFolderId::Outbox);
}

// Asks whether the seller's edits go into the listing another workstation started meanwhile.
bool confirmListed(QWidget *parent, const QString &itemId)
{
    return Statics::showQuestionDialog(
        parent,
        QCoreApplication::translate("AddArticle", "An einem anderen Arbeitsplatz eingestellt"),
        QCoreApplication::translate(
            "AddArticle",
            "Der Artikel wurde inzwischen an einem anderen Arbeitsplatz eingestellt und läuft "
            "jetzt bei eBay (Artikelnummer %1).\n\nSollen Ihre Eingaben trotzdem in den "
            "laufenden Artikel gespeichert werden? Mit „Nein“ wird nichts gespeichert.")
            .arg(itemId));
}

} // namespace

AddArticle::Stored AddArticle::store(Row row, int *id, bool compare)
{
    const PicturePlan plan = preparePictures();
    const Stored result = storePlanned(row, id, compare, plan);
    keepCopies(plan, result);
    return result;
}

void AddArticle::noteCopy(const QString &name)
{
    if (!name.isEmpty() && !m_unsavedCopies.contains(name))
        m_unsavedCopies << name;
}

void AddArticle::keepCopies(const PicturePlan &plan, Stored result)
{
    // Whether it is stored is not known: its rows may name every copy.
    if (result == Stored::Unknown) {
        m_unsavedCopies.clear();
        return;
    }
    if (result != Stored::Saved)
        return;
    for (const QString &name : plan.images)
        m_unsavedCopies.removeAll(name);
    for (const auto &variant : plan.variants)
        m_unsavedCopies.removeAll(variant.second);
}

void AddArticle::removeUnsavedCopies()
{
    if (!m_db || m_unsavedCopies.isEmpty())
        return;
    const QString folder = m_db->getCurrentAdImageDir();
    const QString thumbs = m_db->getCurrentAdImageDirThumbs();
    for (const QString &name : qAsConst(m_unsavedCopies)) {
        QFile::remove(folder + name);
        QFile::remove(thumbs + QStringLiteral("thumb_") + name);
    }
    qCInfo(lcApp) << "Removed" << m_unsavedCopies.size()
                  << "pictures copied for a save that did not store them";
    m_unsavedCopies.clear();
}

AddArticle::Stored AddArticle::storePlanned(Row row, int *id, bool compare, const PicturePlan &plan)
{
    const bool creating = *id < 1;
    QString mark;
    Row changes;
    if (creating) {
        mark = QStringLiteral("e%1").arg(QRandomGenerator::global()->generate64(), 16, 16,
                                         QLatin1Char('0'));
        row[kMarkColumn] = mark;
    }
    if (compare && !creating) {
        // Only what the seller changed: another workstation's changes of the other columns
        // stay as they are.
        for (auto it = row.cbegin(); it != row.cend(); ++it) {
            const QString key = it.key().toLower();
            if (!m_openedRow.contains(key) || !sameValue(it.value(), m_openedRow.value(key))
                || kAlwaysReset.contains(it.key()))
                changes.insert(it.key(), it.value());
        }
        if (!plan.keepStored() && plan.images != m_openedPictures)
            changes.insert(kPictures, true);
        if (plan.variantPictures && plan.variants != m_openedVariantPictures)
            changes.insert(kVariantPictures, true);
    } else {
        changes = row;
        if (!plan.keepStored())
            changes.insert(kPictures, true);
        if (plan.variantPictures)
            changes.insert(kVariantPictures, true);
    }

    QMap<QString, QString> settled;
    const Stored result = storeOnce(changes, id, compare && !creating, plan, settled);
    if (result != Stored::Failed || m_db->lastOutcome() != Database::Outcome::Unknown)
        return result;

    // The answer to the commit was lost: the server may have stored all of it.
    const QString error = m_db->lastErrorText;
    if (creating) {
        QSqlQuery found;
        if (!m_db->selectQuery(QStringLiteral("SELECT id FROM articles WHERE ") + kMarkColumn
                                   + QStringLiteral(" = '") + mark + QLatin1Char('\''),
                               found))
            return Stored::Unknown;
        if (found.next()) {
            *id = found.value(0).toInt();
            qCInfo(lcDb) << "The editor's new row" << *id << "was stored, its answer lost";
            return Stored::Saved;
        }
        // No row, or none could be read: only the first is "not stored".
        if (!m_db->rowsComplete(found))
            return Stored::Unknown;
        qCInfo(lcDb) << "The editor's new row whose answer was lost was not stored";
        m_db->lastErrorText = error;
        return Stored::Failed;
    }
    // An update sets values: written again, it leaves what writing it once leaves, and the
    // seller's own first write counts as no other workstation's change.
    const Stored again = storeOnce(changes, id, compare, plan, settled);
    if (again == Stored::Failed) {
        m_db->lastErrorText = error;
        return Stored::Unknown;
    }
    return again;
}

AddArticle::Stored AddArticle::storeOnce(Row &changes, int *id, bool compare,
                                         const PicturePlan &plan, QMap<QString, QString> &settled)
{
    for (;;) {
        Transaction transaction(m_db);
        if (!transaction.isOpen())
            return Stored::Failed;
        if (compare) {
            QStringList conflicts;
            QMap<QString, QString> theirs;
            if (!changedElsewhere(changes, plan, settled, &conflicts, &theirs))
                return Stored::Failed;
            if (!conflicts.isEmpty()) {
                // Nothing is held while the seller decides; the next round reads again.
                transaction.rollback();
                if (conflicts.contains(kListed)) {
                    // Whether anything goes into the running listing comes first.
                    if (!confirmListed(this, theirs.value(kListed)))
                        return Stored::Cancelled;
                    settled.insert(kListed, theirs.value(kListed));
                    continue;
                }
                if (!settleConflicts(conflicts, theirs, changes, settled))
                    return Stored::Cancelled;
                continue;
            }
        }
        Row columns;
        for (auto it = changes.cbegin(); it != changes.cend(); ++it)
            if (!isPart(it.key()))
                columns.insert(it.key(), it.value());
        int target = *id;
        if (target < 1) {
            target = m_db->insertSqlClean(columns, QStringLiteral("articles"));
            if (target < 1)
                return Stored::Failed;
            // A duplicate is stored with its variations or not at all.
            if (m_variationsFrom > 0 && !m_templateMode
                && !VariationCopy::copy(m_db, m_variationsFrom, target))
                return Stored::Failed;
        } else if (!columns.isEmpty()
                   && !m_db->updateSqlClean(columns, QStringLiteral("articles"),
                                            QStringLiteral("id=") + QString::number(target))) {
            return Stored::Failed;
        }
        if (!writePictures(target, plan, changes.contains(kPictures),
                           changes.contains(kVariantPictures))
            || !transaction.commit())
            return Stored::Failed;
        *id = target;
        return Stored::Saved;
    }
}

bool AddArticle::changedElsewhere(const Row &changes, const PicturePlan &plan,
                                  const QMap<QString, QString> &settled, QStringList *columns,
                                  QMap<QString, QString> *theirs)
{
    QStringList names;
    for (auto it = changes.cbegin(); it != changes.cend(); ++it)
        if (!isPart(it.key()))
            names << it.key();
    QString sql = QStringLiteral("SELECT id");
    for (const QString &name : qAsConst(names))
        sql += QStringLiteral(", `") + name + QLatin1Char('`');
    // Whether it became a running listing meanwhile.
    sql += QStringLiteral(", Folder, ItemID");
    sql += QStringLiteral(" FROM articles WHERE id=") + QString::number(m_articleId);
    // Read where it is written: no other workstation writes it between here and the commit.
    if (m_db->isMySQL)
        sql += QStringLiteral(" FOR UPDATE");
    QSqlQuery query;
    if (!m_db->selectQuery(sql, query))
        return false;
    if (!query.next()) {
        // A row that could not be read is no row that is gone.
        if (m_db->rowsComplete(query))
            m_db->lastErrorText = tr("Der Artikel wurde in der Datenbank nicht gefunden");
        return false;
    }
    const auto conflict = [&](const QString &key, const QString &now) {
        if (settled.contains(key) && settled.value(key) == now)
            return;
        *columns << key;
        theirs->insert(key, now);
    };
    for (int i = 0; i < names.size(); ++i) {
        const QString &name = names.at(i);
        const QVariant now = query.value(i + 1);
        if (kAlwaysReset.contains(name))
            continue;
        // Untouched since it was opened, or changed to what the seller writes (also by the
        // seller's own write whose answer was lost).
        if (now.toString() == m_openedRow.value(name.toLower()).toString()
            || sameValue(changes.value(name), now))
            continue;
        conflict(name, now.toString());
    }
    const QVariant folder = query.value(names.size() + 1);
    const QString itemId = query.value(names.size() + 2).toString();
    const QString openedItemId = m_openedRow.value(QStringLiteral("itemid")).toString();
    if (runningListing(folder, itemId)
        && (!runningListing(m_openedRow.value(QStringLiteral("folder")), openedItemId)
            || itemId != openedItemId))
        conflict(kListed, itemId);
    query.finish();

    const QString separator = QStringLiteral("\n");
    if (changes.contains(kPictures)) {
        bool ok = false;
        const QStringList now = storedPictures(m_articleId, &ok);
        if (!ok)
            return false;
        if (now != m_openedPictures && now != plan.images)
            conflict(kPictures, now.join(separator));
    }
    if (changes.contains(kVariantPictures)) {
        bool ok = false;
        const QList<QPair<QString, QString>> now = storedVariantPictures(m_articleId, &ok);
        if (!ok)
            return false;
        if (now != m_openedVariantPictures && now != plan.variants) {
            QStringList text;
            for (const auto &picture : now)
                text << picture.first + QLatin1Char('=') + picture.second;
            conflict(kVariantPictures, text.join(separator));
        }
    }
    return true;
}

bool AddArticle::settleConflicts(const QStringList &columns, const QMap<QString, QString> &theirs,
                                 Row &changes, QMap<QString, QString> &settled)
{
    QStringList lines;
    for (const QString &column : columns)
        lines << changedElsewhereLine(column);
    const QString header = tr("An einem anderen Arbeitsplatz geändert");
    const QString changed = lines.join(QLatin1Char('\n')) + QStringLiteral("\n\n");
    if (Statics::showQuestionDialog(
            this, header,
            changed
                + tr("Sollen Ihre Eingaben gespeichert werden und diese Änderungen ersetzen?"))) {
        for (const QString &column : columns)
            settled.insert(column, theirs.value(column));
        return true;
    }
    if (Statics::showQuestionDialog(
            this, header,
            changed
                + tr("Sollen stattdessen diese Änderungen bleiben und nur Ihre übrigen Eingaben "
                     "gespeichert werden? Mit „Nein“ wird nichts gespeichert."))) {
        for (const QString &column : columns)
            changes.remove(column);
        return true;
    }
    return false;
}
