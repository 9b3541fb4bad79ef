#include "core/confirmdialog.h"

#include <QDialogButtonBox>
#include <QFontMetrics>
#include <QLabel>
#include <QPixmap>
#include <QPushButton>

#include "ui_confirmdialog.h"

namespace {
// Widths of the text between which the dialog grows with its longest line.
constexpr int kMinTextWidth = 300;
constexpr int kMaxTextWidth = 560;
} // namespace

ConfirmDialog::ConfirmDialog(QWidget *parent)
    : QDialog(parent)
    , m_ui(new Ui::ConfirmDialog)
{
    m_ui->setupUi(this);
    connect(m_ui->buttonBox, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(m_ui->buttonBox, &QDialogButtonBox::rejected, this, &QDialog::reject);
}

ConfirmDialog::~ConfirmDialog() = default;

QString ConfirmDialog::headerForType(int type)
{
    switch (type) {
    case Warning:
        return tr("Warnung");
    case Error:
        return tr("Fehlerhinweis");
    default:
        return tr("Information");
    }
}

QString ConfirmDialog::iconForType(int type)
{
    switch (type) {
    case Warning:
        return QStringLiteral(":/buttons/images/warning.png");
    case Error:
        return QStringLiteral(":/buttons/images/error.png");
    default:
        return QStringLiteral(":/buttons/images/info.png");
    }
}

QString ConfirmDialog::questionIcon()
{
    return QStringLiteral(":/buttons/images/question.png");
}

void ConfirmDialog::setMessage(const QString &header, const QString &text, int type)
{
    setContent(header, text, iconForType(type));
    m_ui->buttonBox->clear();
    QPushButton *ok = m_ui->buttonBox->addButton(tr("OK"), QDialogButtonBox::AcceptRole);
    ok->setDefault(true);
    ok->setFocus();
}

void ConfirmDialog::setQuestion(const QString &header, const QString &text)
{
    setContent(header, text, questionIcon());
    m_ui->buttonBox->clear();
    m_ui->buttonBox->addButton(tr("Ja"), QDialogButtonBox::YesRole);
    // A stray Enter must not confirm something the user did not read.
    QPushButton *no = m_ui->buttonBox->addButton(tr("Nein"), QDialogButtonBox::NoRole);
    no->setDefault(true);
    no->setFocus();
}

void ConfirmDialog::setContent(const QString &header, const QString &text, const QString &icon)
{
    setWindowTitle(header);
    m_ui->headerLabel->setText(header);
    m_ui->textLabel->setText(text);
    m_ui->iconLabel->setPixmap(QPixmap(icon));

    // The dialog grows with its text, nothing of a message may be cut off: as wide as its
    // longest line up to a readable measure, as high as the wrapped lines need.
    QLabel *label = m_ui->textLabel;
    label->ensurePolished();
    const QFontMetrics metrics(label->font());
    int widest = 0;
    for (const QString &line : text.split(QLatin1Char('\n')))
        widest = qMax(widest, metrics.horizontalAdvance(line));
    const int width = qBound(kMinTextWidth, widest + 1, kMaxTextWidth);
    label->setMinimumSize(width, label->heightForWidth(width));
    adjustSize();
}
