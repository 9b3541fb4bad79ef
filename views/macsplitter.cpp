#include "views/macsplitter.h"

#include <QLinearGradient>
#include <QPainter>
#include <QToolBar>

MacSplitter::MacSplitter(QWidget *parent)
    : QSplitter(parent)
{
    setHandleWidth(1);
}

MacSplitter::MacSplitter(Qt::Orientation orientation, QWidget *parent)
    : QSplitter(orientation, parent)
{
    setHandleWidth(1);
}

QSize MacSplitter::sizeHint() const
{
    if (orientation() == Qt::Horizontal)
        return QSize(2, height());
    return QSize(0, 3);
}

QSplitterHandle *MacSplitter::createHandle()
{
    return new MacSplitterHandle(orientation(), this);
}

MacSplitterHandle::MacSplitterHandle(Qt::Orientation orientation, QSplitter *parent)
    : QSplitterHandle(orientation, parent)
    , m_toolBar(std::make_unique<QToolBar>())
{
    // Paint only the contents rectangle, but let the mouse reach the whole handle.
    setMask(QRegion(contentsRect()));
    setAttribute(Qt::WA_MouseNoMask, true);
}

MacSplitterHandle::~MacSplitterHandle() = default;

QSize MacSplitterHandle::sizeHint() const
{
    QSize size = QSplitterHandle::sizeHint();
    if (orientation() == Qt::Horizontal)
        size.setWidth(1);
    else
        size.setHeight(size.height() + 3);
    return size;
}

void MacSplitterHandle::resizeEvent(QResizeEvent *event)
{
    QSplitterHandle::resizeEvent(event);
}

void MacSplitterHandle::paintEvent(QPaintEvent *)
{
    const QColor window = m_toolBar->palette().color(QPalette::Window);
    const QColor light = window.lighter(150);
    const QColor dark = window.darker(110);
    const int w = width();
    const int h = height();

    QPainter painter(this);
    if (orientation() == Qt::Horizontal) {
        painter.fillRect(0, 0, w, h, dark);
        return;
    }

    painter.setPen(QColor(145, 145, 145));
    painter.drawLine(0, 0, w, 0);
    painter.setPen(QColor(142, 142, 142));
    painter.drawLine(0, h - 1, w, h - 1);

    QLinearGradient gradient(0, 0, 0, h - 3);
    gradient.setColorAt(0, light);
    gradient.setColorAt(1, dark);
    painter.fillRect(QRect(QPoint(0, 1), QPoint(w - 1, h - 2)), gradient);
}
