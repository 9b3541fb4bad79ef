#include "views/noticelabel.h"

#include <QLabel>

QLabel *createNoticeLabel(QWidget *parent, const QString &objectName)
{
    auto *notice = new QLabel(parent);
    notice->setObjectName(objectName);
    notice->setTextFormat(Qt::PlainText);
    notice->setWordWrap(true);
    notice->setTextInteractionFlags(Qt::TextSelectableByMouse);
    notice->setStyleSheet(
        QStringLiteral("QLabel { border: 1px solid #D8B840; background-color: #FFF6D0; "
                       "color: #000000; padding: 4px; }"));
    return notice;
}

QLabel *createPlainLabel(const QString &text, QWidget *parent)
{
    auto *label = new QLabel(parent);
    label->setTextFormat(Qt::PlainText);
    label->setText(text);
    return label;
}
