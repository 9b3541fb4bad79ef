#include "core/desktopopen.h"

#include "core/logging.h"
#include "core/statics.h"

#include <QCoreApplication>
#include <QDesktopServices>
#include <QDir>
#include <QPointer>
#include <QProcess>
#include <QStandardPaths>
#include <QUrl>
#include <QWidget>

namespace {

QString tr(const char *text)
{
    return QCoreApplication::translate("DesktopOpen", text);
}

QString g_opener;

// The desktop's opener; empty when Qt chooses.
QString opener()
{
    if (!g_opener.isNull())
        return g_opener;
    return QStandardPaths::findExecutable(QStringLiteral("xdg-open"));
}

void tell(QWidget *parent, const QString &text)
{
    Statics::showMessage(parent, text, 1);
}

// Qt starts the opener detached and so never hears how it ended: a desktop without any file
// manager would say nothing at all. The opener is therefore run here and watched. It is left
// without a parent and without pipes: it may live as long as the program it started (some
// openers wait for it), and must neither be killed with this program nor block on its output.
bool open(QWidget *parent, const QUrl &url, const QString &failure)
{
    const QString program = opener();
    if (program.isEmpty()) {
        if (QDesktopServices::openUrl(url))
            return true;
        qCWarning(lcApp).noquote() << "No opener could be started for" << url.toDisplayString();
        tell(parent, failure);
        return false;
    }
    auto *process = new QProcess;
    process->setProgram(program);
    process->setArguments(
        { url.isLocalFile() ? url.toLocalFile() : url.toString(QUrl::FullyEncoded) });
    process->setStandardInputFile(QProcess::nullDevice());
    process->setStandardOutputFile(QProcess::nullDevice());
    process->setStandardErrorFile(QProcess::nullDevice());
    const QPointer<QWidget> over(parent);
    const QString shown = url.toDisplayString();
    QObject::connect(process, &QProcess::errorOccurred, process,
                     [process, over, failure, shown](QProcess::ProcessError error) {
                         if (error != QProcess::FailedToStart)
                             return;
                         qCWarning(lcApp).noquote()
                             << "The opener could not be started for" << shown;
                         process->deleteLater();
                         tell(over, failure);
                     });
    QObject::connect(process, QOverload<int, QProcess::ExitStatus>::of(&QProcess::finished),
                     process,
                     [process, over, failure, shown](int code, QProcess::ExitStatus status) {
                         process->deleteLater();
                         if (status == QProcess::NormalExit && code == 0)
                             return;
                         qCWarning(lcApp).noquote()
                             << "The opener failed for" << shown << "with exit code" << code;
                         tell(over, failure);
                     });
    process->start();
    return true;
}

} // namespace

namespace DesktopOpen {

bool webPage(QWidget *parent, const QUrl &url)
{
    return open(parent, url,
                tr("Es konnte kein Webbrowser gestartet werden. Die Seite lässt sich "
                   "von Hand in einem Browser öffnen, ihre Adresse lautet:\n%1")
                    .arg(url.toString()));
}

bool folder(QWidget *parent, const QString &path)
{
    return open(parent, QUrl::fromLocalFile(path),
                tr("Es konnte kein Dateimanager gestartet werden. Der Ordner liegt "
                   "hier:\n%1")
                    .arg(QDir::toNativeSeparators(path)));
}

void setOpenerForTesting(const QString &program)
{
    g_opener = program;
}

} // namespace DesktopOpen
