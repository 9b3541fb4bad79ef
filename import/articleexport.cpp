#include "import/articleexport.h"

#include "core/database.h"
#include "core/logging.h"
#include "core/replacementfile.h"
#include "import/picturecolumns.h"
#include "import/stringdata.h"
#include "import/writer.h"

#include <QHash>
#include <QTextCodec>

namespace {

std::function<void()> g_afterChunk;

QString idList(const QList<int> &ids)
{
    QString text;
    text.reserve(ids.size() * 7);
    for (int i = 0; i < ids.size(); ++i) {
        if (i > 0)
            text += QLatin1Char(',');
        text += QString::number(ids.at(i));
    }
    return text;
}

} // namespace

ArticleExport::Result ArticleExport::run(Database &db, const Request &request,
                                         BackgroundJob::Control &control)
{
    using Outcome = Result::Outcome;
    Result result;
    const auto cancelled = [&result] {
        result.outcome = Outcome::Cancelled;
        result.count = 0;
        return result;
    };
    if (control.cancelled())
        return cancelled();

    ReplacementFile target(request.fileName);
    if (!target.open()) {
        result.outcome = Outcome::Refused;
        result.reason = target.error();
        return result;
    }
    result.replaced = target.replacesFile();
    QTextCodec *utf8 = QTextCodec::codecForName("UTF-8");
    const QString separator = QStringLiteral(";");
    const QString delimiter = QStringLiteral("\"");
    QStringList pictureHeader;
    for (int i = 1; i <= kPictureColumns; ++i)
        pictureHeader << kPictureColumnPrefix + QString::number(i);

    const auto writeFailed = [&](const QString &why) {
        target.discard();
        result.outcome = Outcome::WriteFailed;
        result.count = 0;
        result.reason = why;
        return result;
    };
    const auto readFailed = [&](const QString &why) {
        target.discard();
        result.outcome = Outcome::ReadFailed;
        result.count = 0;
        result.reason = why;
        return result;
    };

    bool headerWritten = false;
    const qint64 total = request.ids.size();
    control.progress(0, total);
    for (int from = 0; from < request.ids.size(); from += kChunk) {
        if (control.cancelled())
            return cancelled();
        const QList<int> chunk = request.ids.mid(from, kChunk);
        const QString in = idList(chunk);
        const Read<SqlRows> articles = db.select(
            QStringLiteral("SELECT * FROM articles WHERE id IN (") + in + QLatin1Char(')'));
        if (!articles.ok())
            return readFailed(articles.error());
        const Read<SqlRows> pictures = db.select(
            QStringLiteral("SELECT article_id, image FROM articles_images WHERE article_id IN (")
            + in
            + QStringLiteral(") AND (variant_name IS NULL OR variant_name = '') "
                             "ORDER BY article_id, sort, id"));
        if (!pictures.ok())
            return readFailed(pictures.error());

        QHash<int, int> rowOf;
        rowOf.reserve(articles->size());
        for (int i = 0; i < articles->size(); ++i)
            rowOf.insert(articles->at(i).value(QStringLiteral("id")).toInt(), i);
        QHash<int, QStringList> picturesOf;
        for (const SqlRow &picture : *pictures) {
            QStringList &paths = picturesOf[picture.value(QStringLiteral("article_id")).toInt()];
            if (paths.size() < kPictureColumns)
                paths << request.imageDir + picture.value(QStringLiteral("image")).toString();
        }

        QtCSV::StringData table;
        QStringList header;
        for (int id : chunk) {
            const auto found = rowOf.constFind(id);
            // Gone since it was chosen: neither written nor counted.
            if (found == rowOf.cend())
                continue;
            const SqlRow &article = articles->at(found.value());
            QStringList row;
            row.reserve(article.size() + kPictureColumns);
            for (auto it = article.cbegin(); it != article.cend(); ++it) {
                if (!headerWritten && header.size() < article.size())
                    header << it.key();
                QString value = it.value().toString();
                value.replace(QLatin1Char('\r'), QLatin1Char('\n'));
                if (request.textForm)
                    value.replace(QStringLiteral("\n"), QStringLiteral("<br>"));
                row << value;
            }
            const QStringList paths = picturesOf.value(id);
            for (int i = 0; i < kPictureColumns; ++i)
                row << paths.value(i);
            table.addRow(row);
            if (!headerWritten && header.size() == article.size()) {
                header << pictureHeader;
                if (!QtCSV::Writer::writeTo(target.file(), QtCSV::StringData(), separator,
                                            delimiter, header, utf8))
                    return writeFailed(target.file().errorString());
                headerWritten = true;
            }
        }
        if (!QtCSV::Writer::writeTo(target.file(), table, separator, delimiter, {}, utf8))
            return writeFailed(target.file().errorString());
        result.count += table.rowCount();
        control.progress(qMin<qint64>(from + chunk.size(), total), total);
        if (g_afterChunk)
            g_afterChunk();
    }
    // With no article written the header holds the picture columns alone.
    if (!headerWritten
        && !QtCSV::Writer::writeTo(target.file(), QtCSV::StringData(), separator, delimiter,
                                   pictureHeader, utf8))
        return writeFailed(target.file().errorString());
    if (control.cancelled())
        return cancelled();
    if (!target.commit(request.ownerOnly)) {
        result.outcome = Outcome::WriteFailed;
        result.count = 0;
        result.reason = target.error();
        return result;
    }
    result.outcome = Outcome::Written;
    qCInfo(lcApp).noquote() << "Exported" << result.count << "articles into" << request.fileName;
    return result;
}

void ArticleExport::setAfterChunkForTesting(std::function<void()> hook)
{
    g_afterChunk = std::move(hook);
}
