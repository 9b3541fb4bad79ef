#include "views/itemlistdelegate.h"

#include <QAbstractScrollArea>
#include <QApplication>
#include <QDateTime>
#include <QFileInfo>
#include <QFontMetrics>
#include <QLinearGradient>
#include <QPainter>
#include <QPixmap>
#include <QPixmapCache>
#include <QScrollBar>
#include <QTextLayout>
#include <QTextOption>
#include <QWidget>
#include <QtMath>

#include "core/clock.h"
#include "core/imagelimits.h"
#include "core/logging.h"
#include "core/specialfolderid.h"
#include "core/statics.h"
#include "views/itemlistroles.h"
#include "views/paintedtext.h"
#include "workers/listingthread.h"

namespace {

const QColor kSeparator(211, 211, 211);
const QColor kStatusColour(0, 0, 255);
const QColor kFailureColour(255, 0, 0);
const QColor kResultColour(0, 10, 255);
const QColor kNoticeColour(255, 255, 0);

struct RowColours
{
    QColor top;
    QColor bottom;
};
const RowColours kErrorColours { { 255, 164, 164 }, { 255, 125, 125 } };
const RowColours kMarkerColours[] = {
    { { 255, 174, 174 }, { 255, 125, 125 } }, // 1 red
    { { 160, 213, 243 }, { 134, 201, 240 } }, // 2 blue
    { { 181, 242, 182 }, { 143, 237, 146 } }, // 3 green
    { { 227, 194, 228 }, { 206, 146, 207 } }, // 4 violet
    { { 244, 235, 113 }, { 238, 221, 17 } }, // 5 yellow
};
const int kMarkerCount = int(sizeof(kMarkerColours) / sizeof(kMarkerColours[0]));

const QString kPlaceholder = QStringLiteral(":/buttons/images/no_photo.png");
const QString kSoldIcon = QStringLiteral(":/buttons/images/price-tag.png");
const QString kWatchersIcon = QStringLiteral(":/buttons/images/binoculars.png");
const QString kQuestionsIcon = QStringLiteral(":/buttons/images/chat.png");
const QString kAuctionIcon = QStringLiteral(":/buttons/images/mace.png");
const QString kPlusIcon = QStringLiteral(":/buttons/images/plus.png");
const QString kBestOfferIcon = QStringLiteral(":/buttons/images/notes.png");
const QString kPlannedIcon = QStringLiteral(":/buttons/images/Calendar-Flat-33.png");
const QString kEndIcon = QStringLiteral(":/buttons/images/circular-clock.png");
const QString kNoticeErrorIcon = QStringLiteral(":/image32/images32/Warning.png");
const QString kNoticeQueuedIcon = QStringLiteral(":/image32/images32/Order.png");
const QString kNoticeProgressIcon = QStringLiteral(":/smallimages/images/Clock.png");

// Markers the listing worker puts into an article's last notice while it is not an error.
const QLatin1String kWillSend("WILLSEND");
const QLatin1String kWillUpdate("WILLUPDATE");
const QLatin1String kProgress("PROGRESS");
const QLatin1String kFailureMark("(f)");

QPen thinPen(const QColor &colour)
{
    return QPen(QBrush(colour), 1, Qt::SolidLine, Qt::SquareCap, Qt::BevelJoin);
}

// The list's font family at its size + `sizeDelta`; weight -1 keeps the default weight.
QFont rowFont(const QFont &listFont, int sizeDelta, int weight)
{
    QFont font(listFont.family());
    if (listFont.pointSize() > 0)
        font.setPointSize(qMax(1, listFont.pointSize() + sizeDelta));
    else if (listFont.pixelSize() > 0)
        font.setPixelSize(qMax(1, listFont.pixelSize() + sizeDelta));
    if (weight >= 0)
        font.setWeight(weight);
    return font;
}

// Half-pixel offsets put the antialiased 1-pixel lines exactly on the box's edge pixels.
void drawOutline(QPainter *painter, const QRect &box)
{
    painter->drawRect(QRectF(box).adjusted(0.5, 0.5, -0.5, -0.5));
}

void drawBottomLine(QPainter *painter, const QRect &row)
{
    painter->drawLine(QPointF(row.left() + 0.5, row.bottom() + 0.5),
                      QPointF(row.right() + 0.5, row.bottom() + 0.5));
}

// A 16 x 16 icon of the bottom row; an icon that isn't there leaves its place empty.
void drawIcon(QPainter *painter, const QString &path, int x, int y)
{
    const QPixmap icon(path);
    if (!icon.isNull())
        painter->drawPixmap(QRect(x, y, 16, 16), icon);
}

// One icon of the bottom row with its text; `fixedX` is its place in a wide row.
struct BottomItem
{
    QString icon;
    QString text;
    qreal opacity;
    int fixedX;
};
// Room kept between the items of a close-packed bottom row and before the price.
constexpr int kBottomGap = 10;

// One line of a wrapped text: where it starts below the box's top, and what it shows.
struct WrappedLine
{
    int y;
    QString text;
};

// `text` word-wrapped (or broken anywhere in a long word) to `width`, as many lines as fit
// into `height` and at least one; the last line shown ends in an ellipsis when text is left.
QVector<WrappedLine> wrappedLines(QString text, const QFont &font, QPaintDevice *device, int width,
                                  int height)
{
    text.replace(QLatin1String("\r\n"), QString(QChar::LineSeparator));
    text.replace(QLatin1Char('\n'), QChar::LineSeparator);
    text.replace(QLatin1Char('\r'), QChar::LineSeparator);
    QTextLayout layout(text, font, device);
    QTextOption option;
    option.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    layout.setTextOption(option);
    struct Line
    {
        int start;
        int length;
        int y;
    };
    QVector<Line> lines;
    int y = 0;
    bool more = false;
    layout.beginLayout();
    for (QTextLine line = layout.createLine(); line.isValid(); line = layout.createLine()) {
        line.setLineWidth(width);
        const int lineHeight = qCeil(line.height());
        if (!lines.isEmpty() && y + lineHeight > height) {
            more = true;
            break;
        }
        lines.append({ line.textStart(), line.textLength(), y });
        y += lineHeight;
    }
    layout.endLayout();

    QVector<WrappedLine> result;
    const QFontMetrics metrics(font, device);
    for (int i = 0; i < lines.size(); ++i) {
        const Line &line = lines.at(i);
        QString shown = text.mid(line.start, line.length);
        if (i == lines.size() - 1 && more) {
            shown = text.mid(line.start);
            shown.replace(QChar::LineSeparator, QLatin1Char(' '));
            shown = metrics.elidedText(shown, Qt::ElideRight, width);
        }
        shown.remove(QChar::LineSeparator);
        result.append({ line.y, shown });
    }
    return result;
}

// How long a thumbnail given up waits before it is asked for again.
constexpr int kAskAgainMs = 60 * 1000;

QRect counterBox(int iconX, int y)
{
    return QRect(QPoint(iconX + 20, y), QPoint(iconX + 75, y + 15));
}

// The placeholder of a row without picture (`fill`: enlarged or reduced to `size`) or with
// an unusable one (only reduced). Null when the placeholder itself is missing.
QPixmap placeholder(const QSize &size, bool fill)
{
    const QString key = QStringLiteral("itemlist/placeholder/%1/%2x%3")
                            .arg(fill ? 1 : 0)
                            .arg(size.width())
                            .arg(size.height());
    QPixmap pixmap;
    if (QPixmapCache::find(key, &pixmap))
        return pixmap;
    if (!pixmap.load(kPlaceholder))
        return QPixmap();
    if (fill || pixmap.width() > size.width() || pixmap.height() > size.height())
        pixmap = pixmap.scaled(size, Qt::KeepAspectRatio, Qt::SmoothTransformation);
    QPixmapCache::insert(key, pixmap);
    return pixmap;
}

} // namespace

// The picture of a row at `size`. A list of thousands of rows repaints often, so a file is
// read once and the result, placeholder included, kept in the pixmap cache; the file's time
// is part of the key, so a thumbnail written anew is read anew. The file is read by the
// picture decoder, by its content whatever its name says, reduced to `size` when larger: the
// row shows no picture until it is there, and the list is repainted then. Decodes not begun
// are withdrawn when the list scrolls (the rows still shown ask again); the ones of a
// delegate that is gone are dropped. A thumbnail given up is asked for again a minute later.
QPixmap ItemListDelegate::rowThumbnail(const QString &path, const QSize &size) const
{
    if (path.isEmpty())
        return placeholder(size, true);
    const QString key
        = QStringLiteral("itemlist/thumb/%1/%2/%3x%4")
              .arg(path, QString::number(QFileInfo(path).lastModified().toMSecsSinceEpoch()),
                   QString::number(size.width()), QString::number(size.height()));
    QPixmap pixmap;
    if (QPixmapCache::find(key, &pixmap))
        return pixmap;
    if (m_reading.contains(key))
        return QPixmap();
    const auto notRead = m_notRead.find(key);
    if (notRead != m_notRead.end()) {
        if (Clock::currentDateTime() < *notRead)
            return placeholder(size, false);
        m_notRead.erase(notRead);
    }
    m_reading.insert(key);
    auto *self = const_cast<ItemListDelegate *>(this);
    ImageLimits::decodeLater(
        self, ImageLimits::pictureFile(path, size),
        [self, key, path, size](const ImageLimits::Decoded &decoded) {
            self->m_reading.remove(key);
            QPixmap read;
            if (decoded.retry) {
                // Not read, through no fault of the picture: withdrawn or dropped ones are
                // asked for again when their row is painted again, others a minute later.
                if (!decoded.refusal.isEmpty()) {
                    qCInfo(lcApp).noquote() << "Bild nicht gelesen" << decoded.refusal << path;
                    self->m_notRead.insert(key, Clock::currentDateTime().addMSecs(kAskAgainMs));
                }
            } else if (!decoded.refusal.isEmpty())
                qCInfo(lcApp).noquote() << "Bildfehler" << decoded.refusal << path;
            else if (decoded.image.isNull())
                qCInfo(lcApp).noquote() << "Bildfehler" << decoded.error << path;
            else
                read = QPixmap::fromImage(decoded.image);
            // An unusable file is not read again until it changes.
            if (read.isNull() && !decoded.retry)
                read = placeholder(size, false);
            if (!read.isNull())
                QPixmapCache::insert(key, read);
            if (auto *view = qobject_cast<QAbstractScrollArea *>(self->m_list))
                view->viewport()->update();
            else if (self->m_list)
                self->m_list->update();
        });
    return QPixmap();
}

ItemListDelegate::ItemListDelegate(QWidget *list)
    : QAbstractItemDelegate(list)
    , m_list(list)
    , m_letterHeight(QFontMetrics(list ? list->font() : QApplication::font())
                         .boundingRect(QStringLiteral("A"))
                         .height())
{
    // The rows scrolled away no longer wait for their thumbnails.
    if (auto *view = qobject_cast<QAbstractScrollArea *>(list))
        QObject::connect(view->verticalScrollBar(), &QScrollBar::valueChanged, this,
                         [this] { ImageLimits::withdraw(this); });
}

QSize ItemListDelegate::sizeHint(const QStyleOptionViewItem &option, const QModelIndex &index) const
{
    Q_UNUSED(option)
    Q_UNUSED(index)
    return QSize(400, 6 * m_letterHeight);
}

void ItemListDelegate::paint(QPainter *painter, const QStyleOptionViewItem &option,
                             const QModelIndex &index) const
{
    using namespace ItemListRole;
    if (!index.model() || index.row() < 0 || index.column() < 0 || option.rect.isEmpty())
        return;
    auto text = [&index](int role) {
        return index.data(role).toString();
    };
    auto number = [&index](int role) {
        return index.data(role).toInt();
    };

    const QRect &row = option.rect;
    const int left = row.left();
    const int top = row.top();
    const int right = row.right();
    const int bottom = row.bottom();
    const bool selected = option.state & QStyle::State_Selected;
    const QFont listFont = m_list ? m_list->font() : QApplication::font();
    const QColor textColour = QApplication::palette().color(QPalette::Text);

    painter->save();
    painter->setRenderHint(QPainter::Antialiasing, true);
    painter->setRenderHint(QPainter::SmoothPixmapTransform, true);
    const QFont baseFont = rowFont(listFont, 0, QFont::Normal);
    painter->setFont(baseFont);

    painter->setBrush(Qt::NoBrush);
    painter->setPen(thinPen(Qt::white));
    drawOutline(painter, row);
    painter->setPen(thinPen(kSeparator));
    drawBottomLine(painter, row);
    painter->setPen(thinPen(textColour));

    // Background: an error notice wins over the marker; unmarked rows keep the view's own
    // (alternating) background. Markers above 5 have no colours and keep it too.
    const QString lastError = text(LastErrorRole).trimmed();
    const bool queued = lastError.contains(kWillSend) || lastError.contains(kWillUpdate);
    const bool inProgress = lastError.contains(kProgress);
    const bool hasError = !lastError.isEmpty() && !queued && !inProgress;
    const int marker = number(MarkerRole);
    const bool marked = !hasError && marker >= 1;
    if (hasError || marked) {
        if (hasError || marker <= kMarkerCount) {
            const RowColours &colours = hasError ? kErrorColours : kMarkerColours[marker - 1];
            QLinearGradient gradient(QPointF(left, top), QPointF(left, bottom + 1));
            gradient.setColorAt(0, colours.top);
            gradient.setColorAt(1, colours.bottom);
            painter->fillRect(row, gradient);
        }
        painter->setPen(thinPen(Qt::white));
        drawOutline(painter, row);
        painter->setPen(thinPen(kSeparator));
        drawBottomLine(painter, row);
        painter->setPen(thinPen(Qt::black));
    }

    // A marked row keeps a strip of its colour at the right edge.
    if (selected) {
        const QRect box = marked ? QRect(QPoint(left, top), QPoint(right - 6, bottom)) : row;
        const QColor highlight = option.palette.color(QPalette::Highlight);
        painter->fillRect(box, highlight);
        painter->setPen(thinPen(Qt::white));
        drawOutline(painter, box);
        painter->setPen(thinPen(highlight));
        drawBottomLine(painter, row);
        painter->setPen(thinPen(option.palette.color(QPalette::HighlightedText)));
    }

    const QSize thumbSize(150, bottom - top - 9);
    QString path = index.data(Qt::DecorationRole).toString();
    if (path.isEmpty())
        path = text(ImageThumbRole);
    const QPixmap thumb = thumbSize.isEmpty() ? QPixmap() : rowThumbnail(path, thumbSize);
    if (!thumb.isNull()) {
        const QPen pen = painter->pen();
        const QRect box(QPoint(left + 5, top + 5), QPoint(left + 155, bottom - 5));
        if (textColour.name().contains(QLatin1String("#fff"))) { // a dark palette
            painter->setPen(thinPen(Qt::white));
            drawOutline(painter, box);
        } else {
            painter->fillRect(box, Qt::white);
        }
        painter->drawPixmap(box.left() + box.width() / 2 - thumb.width() / 2,
                            box.top() + box.height() / 2 - thumb.height() / 2, thumb);
        painter->setBrush(Qt::transparent);
        painter->setPen(thinPen(selected || marked ? QColor(Qt::white) : kSeparator));
        drawOutline(painter, box);
        painter->setPen(pen);
    }

    // A text of any length costs what the part that fits costs: only a prefix is laid out.
    painter->setFont(rowFont(listFont, 2, QFont::Bold));
    const QRect titleBox(QPoint(left + 170, top + 5), QPoint(right - 20, bottom - 40));
    const int titleWidth = titleBox.right() - titleBox.left();
    painter->drawText(titleBox, Qt::AlignLeft | Qt::AlignTop,
                      painter->fontMetrics().elidedText(
                          PaintedText::prefix(text(TitleRole), PaintedText::charsFor(titleWidth)),
                          Qt::ElideRight, titleWidth));
    const int titleHeight = painter->fontMetrics().height();

    // The top of the bottom row, and of the notice line when there is one: texts above
    // them end before them.
    const int bottomRowTop = bottom
        - (QFontMetrics(baseFont, painter->device()).boundingRect(QLatin1Char('D')).height() + 12);
    const int noticeTop = top + 2 * QFontMetrics(listFont).height() + 18;
    const bool noticeShown = lastError.isEmpty()
        ? text(ListingTypeRole).trimmed().isEmpty() && !text(ExtraTextRole).isEmpty()
        : !queued || number(FolderRole) == SpecialFolderId::Outbox;

    // Status line: the listing worker's progress, else its last result; "(f)" marks a failure.
    // A queued article that no pass takes up (no developer keys, no account) says what it waits
    // for, over as many lines as the result may take.
    {
        const QPen pen = painter->pen();
        painter->setFont(rowFont(listFont, 0, 1));
        QRect box(QPoint(left + 170, top + titleHeight + 13), QPoint(right - 140, bottom - 40));
        const int doCheck = number(DoCheckRole);
        const QString waiting = ListingThread::waitingText(doCheck, number(AccountRole));
        const QString result = waiting.isEmpty() ? text(DoCheckResultRole) : waiting;
        if (waiting.isEmpty() && (doCheck == 1 || doCheck == 2)) {
            const QString status = doCheck == 1
                ? QAbstractItemDelegate::tr("Angebot wird geprüft...")
                : QAbstractItemDelegate::tr("Angebot wird eingestellt / aktualisiert...");
            if (!selected)
                painter->setPen(thinPen(kStatusColour));
            painter->drawText(box, Qt::AlignLeft | Qt::AlignTop,
                              painter->fontMetrics().elidedText(status, Qt::ElideRight,
                                                                box.right() - box.left()));
        } else if (!result.isEmpty()) {
            // As many lines as fit above what follows; never over the icons.
            box.setBottom(qMin(bottom - 20, (noticeShown ? noticeTop : bottomRowTop) - 3));
            if (!selected) {
                QColor colour = kResultColour;
                if (!waiting.isEmpty())
                    colour = kStatusColour;
                else if (result.contains(kFailureMark))
                    colour = kFailureColour;
                painter->setPen(thinPen(colour));
            }
            const int width = box.width();
            const int height = box.height();
            const int maxLines = qMax(1, height / qMax(1, painter->fontMetrics().height()));
            QString shown = PaintedText::prefix(result, PaintedText::charsFor(width, maxLines));
            shown.remove(kFailureMark);
            for (const WrappedLine &line :
                 wrappedLines(shown, painter->font(), painter->device(), width, height))
                painter->drawText(QRect(box.left(), box.top() + line.y, width + 1,
                                        painter->fontMetrics().height()),
                                  Qt::AlignLeft | Qt::AlignTop, line.text);
        }
        painter->setPen(pen);
    }

    // Notice line: the article's last notice, else an extra text for rows of no listing type.
    if (lastError.isEmpty()) {
        if (noticeShown) {
            painter->setFont(rowFont(listFont, -1, -1));
            const QRect box(QPoint(left + 170, noticeTop), QPoint(right - 20, bottom - 11));
            painter->drawText(
                box, Qt::AlignLeft | Qt::AlignTop,
                PaintedText::prefix(text(ExtraTextRole), PaintedText::charsFor(box.width())));
        }
    } else if (noticeShown) {
        const QRect box(QPoint(left + 205, noticeTop), QPoint(right - 120, bottom - 11));
        QString notice = PaintedText::prefix(lastError, PaintedText::charsFor(box.width()));
        notice.remove(kWillSend).remove(kWillUpdate).remove(kProgress);
        painter->setFont(rowFont(listFont, 0, QFont::Bold));
        const QPen pen = painter->pen();
        if (!selected && hasError)
            painter->setPen(thinPen(kNoticeColour));
        painter->drawText(box, Qt::AlignLeft | Qt::AlignTop,
                          painter->fontMetrics().elidedText(notice, Qt::ElideRight, box.width()));
        painter->setPen(pen);
        QString iconPath = kNoticeErrorIcon;
        if (queued)
            iconPath = kNoticeQueuedIcon;
        else if (inProgress)
            iconPath = kNoticeProgressIcon;
        const QPixmap icon(iconPath);
        if (!icon.isNull())
            painter->drawPixmap(left + 170, noticeTop,
                                icon.scaled(24, 24, Qt::KeepAspectRatio, Qt::SmoothTransformation));
    }

    // Bottom row: counters (listed articles only), feature icons, date slot, quantity and price.
    painter->setFont(baseFont);
    const QFontMetrics metrics = painter->fontMetrics();
    const int y = bottomRowTop;
    const int folder = number(FolderRole);
    const bool auction = text(ListingTypeRole) == QLatin1String("Chinese");
    QVector<BottomItem> items;
    if (folder < 0 && folder != SpecialFolderId::Drafts && folder != SpecialFolderId::Scheduled) {
        for (const auto &counter : { qMakePair(kSoldIcon, number(SoldCountRole)),
                                     qMakePair(kWatchersIcon, number(WatchCountRole)) }) {
            items.append(
                { counter.first,
                  counter.second == 0 ? QStringLiteral("-") : QString::number(counter.second),
                  counter.second == 0 ? 0.5 : 1.0, left + 170 + 60 * items.size() });
        }
        if (number(QuestionCountRole) > 0)
            items.append({ kQuestionsIcon, QString(), 1.0, left + 290 });
        if (auction)
            items.append({ kAuctionIcon, QString::number(number(BidCountRole)), 1.0, left + 330 });
    }
    if (!auction && number(EBayPlusRole) == 1)
        items.append({ kPlusIcon, QString(), 1.0, left + 330 });
    if (number(BestOfferEnabledRole) == 1)
        items.append({ kBestOfferIcon, QString(), 1.0, left + 360 });

    // The date slot: the planned start, else the end, else the duration.
    QString dateIcon = kEndIcon;
    QString date;
    bool dateFaded = false;
    const QString planned = text(PlannedRole);
    const QString endText = text(EndTextRole);
    if (!planned.isEmpty()) {
        const QString state = text(PlannedIntervalRole).isEmpty()
            ? QAbstractItemDelegate::tr("Wartet...")
            : QAbstractItemDelegate::tr("Geplant");
        dateIcon = kPlannedIcon;
        date = planned + QLatin1String(" (") + state + QLatin1Char(')');
    } else if (endText != QLatin1String("-")) {
        date = endText;
        dateFaded = endText == QAbstractItemDelegate::tr("BaW");
    } else {
        // Without an end date the duration is shown instead; a row without one (an imported
        // article) shows none, never a unit without its number.
        const QString duration = text(ListingDurationRole);
        const QString days = Statics::getstr(duration, QStringLiteral("_"), QString());
        bool isNumber = false;
        days.toUInt(&isNumber);
        if (duration == QLatin1String("GTC"))
            date = QStringLiteral("BaW");
        else if (days == QLatin1String("1"))
            date = QAbstractItemDelegate::tr("1 Tag");
        else if (isNumber)
            date = QAbstractItemDelegate::tr("%1 Tage").arg(days);
    }

    // The price is measured first: the date must end before it.
    const QFont priceFont = rowFont(listFont, 1, QFont::Normal);
    const QRect priceBox(QPoint(right - 139, y), QPoint(right - 20, y + 15));
    const int priceFlags = Qt::AlignRight | Qt::AlignVCenter | Qt::TextDontClip;
    const QString price = QLatin1Char('(') + QString::number(number(QuantityRole))
        + QLatin1String(") ")
        + (number(HasVariationRole) == 1
               ? QAbstractItemDelegate::tr("ab %1").arg(text(VariationMinPriceRole))
               : text(PriceTextRole));
    const int priceLeft = QFontMetrics(priceFont, painter->device())
                              .boundingRect(priceBox, priceFlags, price)
                              .left();

    // The wide layout puts every item at its own place. Where the date would not fit
    // before the price (a narrow list), the items close up from the left instead.
    const int dateWidth = metrics.horizontalAdvance(date);
    const bool wide = left + 430 + dateWidth <= priceLeft - kBottomGap;
    int x = left + 170;
    for (const BottomItem &item : qAsConst(items)) {
        const int itemX = wide ? item.fixedX : x;
        painter->setOpacity(item.opacity);
        drawIcon(painter, item.icon, itemX, y);
        if (!item.text.isEmpty())
            painter->drawText(counterBox(itemX, y), Qt::AlignLeft | Qt::AlignVCenter, item.text);
        painter->setOpacity(1.0);
        x = itemX + (item.text.isEmpty() ? 16 : 20 + metrics.horizontalAdvance(item.text))
            + kBottomGap;
    }
    const int dateX = wide ? left + 410 : x;
    if (dateFaded)
        painter->setOpacity(0.5);
    drawIcon(painter, dateIcon, dateX, y);
    const int dateRight = wide
        ? qMin(planned.isEmpty() ? left + 575 : left + 675, priceLeft - kBottomGap)
        : priceLeft - kBottomGap;
    const QRect dateBox(QPoint(dateX + 20, y), QPoint(dateRight, y + 15));
    painter->drawText(dateBox, Qt::AlignLeft | Qt::AlignVCenter,
                      metrics.elidedText(date, Qt::ElideRight, dateBox.width()));
    painter->setOpacity(1.0);

    // A long price grows to the left rather than losing its quantity.
    painter->setFont(priceFont);
    QRect priceBounds;
    painter->drawText(priceBox, priceFlags, price, &priceBounds);

    const QString shippingCost = text(ShippingCostRole);
    if (!shippingCost.isEmpty()) {
        painter->setFont(baseFont);
        const int shippingTop = priceBounds.top() - painter->fontMetrics().height() - 3;
        painter->drawText(QRect(priceBounds.left(), shippingTop, priceBounds.width(), 16),
                          Qt::AlignRight | Qt::AlignVCenter | Qt::TextDontClip, shippingCost);
    }

    painter->restore();
}
