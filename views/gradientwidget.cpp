#include "views/gradientwidget.h"

#include <QPainter>
#include <QToolBar>

GradientWidget::GradientWidget(QWidget *parent)
    : QWidget(parent)
    , m_toolBar(std::make_unique<QToolBar>())
{ }

GradientWidget::~GradientWidget() = default;

void GradientWidget::paintEvent(QPaintEvent *)
{
    const QColor window = m_toolBar->palette().color(QPalette::Window);
    const int w = width();
    const int h = height();

    QPainter painter(this);
    painter.fillRect(0, 0, w, h, window);
    painter.setPen(window.darker(110));
    painter.drawLine(0, h - 1, w - 1, h - 1);
}
