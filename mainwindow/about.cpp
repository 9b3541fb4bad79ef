#include "mainwindow/about.h"

#include "core/config.h"
#include "ui_about.h"

#include <QLabel>

namespace {

const QString kVersion = QStringLiteral("3.1.8");
const QString kProduct = QStringLiteral("Zerire3");

// Turns the label's text into a link to `path` on the maker's site; without a configured
// address the text stays plain.
void linkTo(QLabel *label, const QString &path)
{
    const QString address = Config::serverAddress(path);
    const QString text = label->text().toHtmlEscaped();
    label->setTextFormat(Qt::RichText);
    label->setOpenExternalLinks(true);
    label->setText(
        address.isEmpty()
            ? text
            : QStringLiteral("<a href=\"%1\">%2</a>").arg(address.toHtmlEscaped(), text));
}

} // namespace

About::About(QWidget *parent)
    : QDialog(parent)
    , ui(std::make_unique<Ui::About>())
{
    ui->setupUi(this);
    // The Qt the program runs on: the libraries loaded, which may be newer than those it was
    // built with.
    ui->QTVersionLabel->setText(tr("Basierend auf Qt %1").arg(QString::fromLatin1(qVersion())));
    ui->AppNameVersionLabel->setText(tr("Zerire") + QLatin1Char(' ') + kVersion);
    setWindowTitle(tr("Über Zerire3"));
    ui->WebLabel->setText(ui->WebLabel->text().replace(QLatin1String("%1"), kProduct));

    linkTo(ui->label_2, QStringLiteral("/"));
    linkTo(ui->WebLabel, QStringLiteral("/"));
    linkTo(ui->label_4, QStringLiteral("/dsgvo"));
    linkTo(ui->label_3, QStringLiteral("/support"));

    adjustSize();
    setFixedSize(size());
}

About::~About() = default;
