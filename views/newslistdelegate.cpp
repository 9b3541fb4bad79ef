#include "views/newslistdelegate.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QFontMetrics>
#include <QHelpEvent>
#include <QLinearGradient>
#include <QPainter>
#include <QPixmap>
#include <QTextDocument>
#include <QTextLayout>
#include <QToolTip>
#include <QWidget>

#include "core/newsitem.h"
#include "views/newslistitemmodel.h"
#include "views/paintedtext.h"

namespace {

const QColor kLineGrey(211, 211, 211);
const QColor kMessageTop(227, 194, 228);
const QColor kMessageBottom(206, 146, 207);
const int kIconSize = 28;
// A tool tip holds a few pages at most.
const int kToolTipChars = 4000;

QPen thinPen(const QColor &color)
{
    return QPen(QBrush(color), 1, Qt::SolidLine, Qt::SquareCap, Qt::BevelJoin);
}

QFont sizedFont(const QFont &base, int pointSize, bool bold)
{
    QFont font(base.family());
    if (pointSize > 0)
        font.setPointSize(pointSize);
    font.setBold(bold);
    return font;
}

QString oneLineTitle(const QString &title)
{
    QString text = title;
    text.replace(QLatin1Char('\r'), QLatin1Char(' '));
    text.replace(QLatin1Char('\n'), QLatin1Char(' '));
    text.replace(QLatin1String("  "), QLatin1String(" "));
    return text;
}

// `text` word-wrapped into at most `lines` lines of `width`; the last line is `lastWidth`
// wide and ends in an ellipsis when text is left over.
QStringList wrappedLines(const QString &text, const QFont &font, int width, int lines,
                         int lastWidth)
{
    QStringList result;
    QTextLayout layout(text, font);
    QTextOption option;
    option.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    layout.setTextOption(option);
    layout.beginLayout();
    for (int i = 0; i < lines; ++i) {
        QTextLine line = layout.createLine();
        if (!line.isValid())
            break;
        const bool last = i == lines - 1;
        line.setLineWidth(last ? lastWidth : width);
        const QString part = text.mid(line.textStart(), last ? -1 : line.textLength());
        result << (last ? QFontMetrics(font).elidedText(part.trimmed(), Qt::ElideRight, lastWidth)
                        : part.trimmed());
    }
    layout.endLayout();
    return result;
}

} // namespace

NewsListDelegate::NewsListDelegate(QWidget *parent)
    : QAbstractItemDelegate(parent)
    , m_view(parent)
    , lineHeight(QFontMetrics(parent ? parent->font() : QApplication::font())
                     .boundingRect(QStringLiteral("A"))
                     .height())
{ }

QSize NewsListDelegate::sizeHint(const QStyleOptionViewItem &option, const QModelIndex &index) const
{
    Q_UNUSED(option)
    Q_UNUSED(index)
    return QSize(200, 5 * lineHeight + 5);
}

void NewsListDelegate::paint(QPainter *painter, const QStyleOptionViewItem &option,
                             const QModelIndex &index) const
{
    const auto *model = qobject_cast<const NewsListItemModel *>(index.model());
    const NewsItem *item = model ? model->GetItem(index) : nullptr;
    if (!item)
        return;

    painter->save();
    painter->setRenderHint(QPainter::Antialiasing, true);
    painter->setRenderHint(QPainter::SmoothPixmapTransform, true);

    const QRect r = option.rect;
    const int left = r.left();
    const int top = r.top();
    const int right = r.right();
    const int bottom = r.bottom();
    const QFont viewFont = m_view ? m_view->font() : QApplication::font();
    const int pointSize = viewFont.pointSize();

    // Background, outline, bottom line and text colour.
    const bool selected = option.state & QStyle::State_Selected;
    const bool focused = option.state & QStyle::State_HasFocus;
    QColor outline;
    QColor bottomLine;
    QColor textColor;
    if (selected && focused) {
        painter->fillRect(r, option.palette.color(QPalette::Highlight));
        outline = option.palette.color(QPalette::HighlightedText);
        bottomLine = option.palette.color(QPalette::Base);
        textColor = option.palette.color(QPalette::HighlightedText);
    } else if (selected) {
        const QColor inactiveHighlight
            = option.palette.color(QPalette::Inactive, QPalette::Highlight);
        painter->fillRect(r, inactiveHighlight);
        outline = inactiveHighlight;
        bottomLine = option.palette.color(QPalette::Base);
        textColor = option.palette.color(QPalette::Inactive, QPalette::HighlightedText);
    } else if (item->infotype == QLatin1String("newmessage")) {
        QLinearGradient gradient(QPointF(left, top), QPointF(left, bottom + 1));
        gradient.setColorAt(0, kMessageTop);
        gradient.setColorAt(1, kMessageBottom);
        painter->fillRect(r, QBrush(gradient));
        outline = Qt::white;
        bottomLine = kLineGrey;
        textColor = Qt::black;
    } else {
        outline = Qt::white;
        bottomLine = kLineGrey;
        textColor = QApplication::palette().color(QPalette::Text);
    }
    painter->setBrush(Qt::NoBrush);
    painter->setPen(thinPen(outline));
    // Half-pixel offsets keep the antialiased 1-pixel lines on the edge pixels.
    painter->drawRect(QRectF(r).adjusted(0.5, 0.5, -0.5, -0.5));
    painter->setPen(thinPen(bottomLine));
    painter->drawLine(QPointF(left, bottom + 0.5), QPointF(right + 1, bottom + 0.5));

    // Icon; the negative variants are drawn half transparent.
    const QString iconPath = item->GetImageUrl();
    const QPixmap icon = iconPath.isEmpty() ? QPixmap() : QPixmap(iconPath);
    if (!icon.isNull()) {
        const bool faded = item->infotype == QLatin1String("bidneg")
            || item->infotype == QLatin1String("watcherneg");
        int height = kIconSize;
        if (icon.width() > icon.height())
            height = qRound(double(kIconSize) * icon.height() / icon.width());
        if (faded)
            painter->setOpacity(0.5);
        painter->drawPixmap(QRect(left + 5, top + 5, kIconSize, height), icon);
        if (faded)
            painter->setOpacity(1.0);
    }

    painter->setPen(thinPen(textColor));

    // Title on one line. A long title or text costs no more than what fits in the row.
    const QFont titleFont = sizedFont(viewFont, pointSize + 2, true);
    painter->setFont(titleFont);
    const QRect titleBox(QPoint(left + 48, top + 5), QPoint(right, bottom - 5));
    const int titleWidth = right - left - 53;
    const QString title = QFontMetrics(titleFont).elidedText(
        oneLineTitle(PaintedText::prefix(item->title, PaintedText::charsFor(titleWidth))),
        Qt::ElideRight, titleWidth);
    painter->drawText(titleBox, Qt::AlignLeft | Qt::AlignTop, title);

    // Text, two or three lines.
    const QFont textFont = sizedFont(viewFont, pointSize, false);
    painter->setFont(textFont);
    const QRect textBox(QPoint(left + 48, top + 30), QPoint(right - 20, bottom - 15));
    const int lines = textBox.height() >= 3 * lineHeight ? 3 : 2;
    const QString time = item->indate.toString(QStringLiteral("HH:mm"));
    // The last line leaves room for the time at its right end.
    const int timeRoom = QFontMetrics(textFont).horizontalAdvance(time) + 8;
    const QString text = NewsItem::cleanText(
        PaintedText::prefix(item->textinfo, PaintedText::charsFor(textBox.width(), lines)));
    const QStringList shown
        = wrappedLines(text, textFont, textBox.width(), lines, textBox.width() - timeRoom);
    for (int i = 0; i < shown.size(); ++i) {
        painter->drawText(
            QRect(textBox.left(), textBox.top() + i * lineHeight, textBox.width(), lineHeight),
            Qt::AlignLeft | Qt::AlignTop, shown.at(i));
    }

    // Time.
    const QRect timeBox(QPoint(left + 48, top + 30), QPoint(right - 20, bottom - 10));
    painter->drawText(timeBox, Qt::AlignRight | Qt::AlignBottom, time);

    painter->restore();
}

bool NewsListDelegate::helpEvent(QHelpEvent *event, QAbstractItemView *view,
                                 const QStyleOptionViewItem &option, const QModelIndex &index)
{
    const auto *model = qobject_cast<const NewsListItemModel *>(index.model());
    const NewsItem *item = model ? model->GetItem(index) : nullptr;
    if (!event || !view || event->type() != QEvent::ToolTip || !item)
        return QAbstractItemDelegate::helpEvent(event, view, option, index);
    // Outside text stays text: escaped, a title such as "<img src=...>" shows as it is
    // written instead of being loaded as a picture.
    QToolTip::showText(event->globalPos(),
                       Qt::convertFromPlainText(toolTipText(*item), Qt::WhiteSpaceNormal),
                       view->viewport(), option.rect);
    return true;
}

QString NewsListDelegate::toolTipText(const NewsItem &item)
{
    QString text = PaintedText::prefix(item.title, kToolTipChars);
    const QString info = PaintedText::prefix(item.textinfo, kToolTipChars);
    if (!info.isEmpty())
        text += (text.isEmpty() ? QString() : QStringLiteral("\n")) + info;
    return text;
}
