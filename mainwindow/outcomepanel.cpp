#include "mainwindow/outcomepanel.h"

#include "core/clock.h"

#include <QHBoxLayout>
#include <QIcon>
#include <QLabel>
#include <QStyle>
#include <QToolButton>

namespace {

constexpr int kIconSize = 16;

// `text` with a break opportunity (a zero-width space) after every path separator.
QString breakablePaths(QString text)
{
    const QChar zeroWidthSpace(0x200B);
    text.replace(QLatin1Char('/'), QString(QLatin1Char('/')) + zeroWidthSpace);
    text.replace(QLatin1Char('\\'), QString(QLatin1Char('\\')) + zeroWidthSpace);
    return text;
}

} // namespace

OutcomePanel::OutcomePanel(QWidget *parent)
    : QFrame(parent)
    , m_icon(new QLabel(this))
    , m_text(new QLabel(this))
    , m_close(new QToolButton(this))
{
    setObjectName(QStringLiteral("OutcomePanel"));
    setFrameShape(QFrame::StyledPanel);
    m_icon->setObjectName(QStringLiteral("OutcomeIcon"));
    m_icon->setAlignment(Qt::AlignTop);
    m_text->setObjectName(QStringLiteral("OutcomeLabel"));
    // Paths and reasons come from outside: never read as markup.
    m_text->setTextFormat(Qt::PlainText);
    m_text->setWordWrap(true);
    m_text->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    m_close->setObjectName(QStringLiteral("OutcomeCloseButton"));
    m_close->setAutoRaise(true);
    m_close->setIcon(style()->standardIcon(QStyle::SP_TitleBarCloseButton));
    m_close->setToolTip(tr("Schließen"));
    m_close->setAccessibleName(tr("Schließen"));
    connect(m_close, &QToolButton::clicked, this, &QWidget::hide);

    auto *layout = new QHBoxLayout(this);
    layout->setContentsMargins(8, 6, 4, 6);
    layout->addWidget(m_icon, 0, Qt::AlignTop);
    layout->addWidget(m_text, 1);
    layout->addWidget(m_close, 0, Qt::AlignTop);
    hide();
}

void OutcomePanel::showOutcome(const QString &text, bool ok)
{
    m_icon->setPixmap(QIcon(ok ? QStringLiteral(":/buttons/images/checked.png")
                               : QStringLiteral(":/buttons/images/error.png"))
                          .pixmap(kIconSize, kIconSize));
    m_text->setText(Clock::currentDateTime().toString(QStringLiteral("HH:mm"))
                    + QStringLiteral(" Uhr - ") + breakablePaths(text));
    show();
}
