#include "views/elidedlabel.h"

#include "views/paintedtext.h"

#include <QPainter>
#include <QStyle>

namespace {
// The width the label asks for: enough for the time in front of a status text.
constexpr int kHintCharacters = 12;
} // namespace

ElidedLabel::ElidedLabel(QWidget *parent)
    : QLabel(parent)
{
    setTextFormat(Qt::PlainText);
    setWordWrap(false);
    setSizePolicy(QSizePolicy::Ignored, sizePolicy().verticalPolicy());
}

QSize ElidedLabel::sizeHint() const
{
    const QSize whole = QLabel::sizeHint();
    return { qMin(whole.width(), fontMetrics().averageCharWidth() * kHintCharacters),
             whole.height() };
}

QSize ElidedLabel::minimumSizeHint() const
{
    return { 0, QLabel::minimumSizeHint().height() };
}

void ElidedLabel::paintEvent(QPaintEvent *event)
{
    // The frame as QLabel draws it, then the text in one line.
    QFrame::paintEvent(event);
    const int inset = margin();
    const QRect area = contentsRect().adjusted(inset, inset, -inset, -inset);
    // Eliding lays out the whole text: only a prefix wider than the label is handed on.
    const QString shown
        = fontMetrics().elidedText(PaintedText::prefix(text(), PaintedText::charsFor(area.width())),
                                   Qt::ElideRight, area.width());
    QPainter painter(this);
    style()->drawItemText(&painter, area, QStyle::visualAlignment(layoutDirection(), alignment()),
                          palette(), isEnabled(), shown, foregroundRole());
}
