#include "editor/descriptionfiles.h"

#include "core/logging.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMimeDatabase>
#include <QWebEngineProfile>
#include <QWebEngineUrlRequestJob>
#include <QWebEngineUrlScheme>

namespace {

const char kScheme[] = "zerire-editor";
const char kHost[] = "description";

QByteArray contentType(const QFileInfo &file)
{
    const QString suffix = file.suffix().toLower();
    if (suffix == QLatin1String("html"))
        return QByteArrayLiteral("text/html");
    if (suffix == QLatin1String("js"))
        return QByteArrayLiteral("text/javascript");
    if (suffix == QLatin1String("css"))
        return QByteArrayLiteral("text/css");
    return QMimeDatabase().mimeTypeForFile(file, QMimeDatabase::MatchExtension).name().toUtf8();
}

// The scheme is registered when the program is loaded, before any application object exists.
void registerDescriptionScheme()
{
    DescriptionFiles::registerScheme();
}
Q_CONSTRUCTOR_FUNCTION(registerDescriptionScheme)

} // namespace

QUrl DescriptionFiles::url(const QString &file)
{
    QUrl address;
    address.setScheme(QString::fromLatin1(kScheme));
    address.setHost(QString::fromLatin1(kHost));
    address.setPath(QLatin1Char('/') + file);
    return address;
}

void DescriptionFiles::registerScheme()
{
    QWebEngineUrlScheme scheme(kScheme);
    scheme.setSyntax(QWebEngineUrlScheme::Syntax::Host);
    scheme.setFlags(QWebEngineUrlScheme::SecureScheme);
    QWebEngineUrlScheme::registerScheme(scheme);
}

void DescriptionFiles::installInto(QWebEngineProfile *profile, const QString &folder)
{
    if (!profile->urlSchemeHandler(kScheme))
        profile->installUrlSchemeHandler(kScheme, new DescriptionFiles(folder, profile));
}

DescriptionFiles::DescriptionFiles(const QString &folder, QObject *parent)
    : QWebEngineUrlSchemeHandler(parent)
    , m_folder(QFileInfo(folder).canonicalFilePath())
{ }

void DescriptionFiles::requestStarted(QWebEngineUrlRequestJob *job)
{
    const QUrl address = job->requestUrl();
    const QFileInfo file(m_folder + QDir::cleanPath(address.path()));
    // Only the editor's own files, also when a link inside the folder points elsewhere.
    const QString path = file.canonicalFilePath();
    if (m_folder.isEmpty() || address.host() != QLatin1String(kHost)
        || job->requestMethod() != "GET" || !path.startsWith(m_folder + QLatin1Char('/'))
        || !file.isFile()) {
        qCDebug(lcApp) << "HTML editor: file refused:" << address.path();
        job->fail(QWebEngineUrlRequestJob::UrlNotFound);
        return;
    }
    auto *device = new QFile(path, job);
    if (!device->open(QIODevice::ReadOnly)) {
        job->fail(QWebEngineUrlRequestJob::RequestFailed);
        return;
    }
    job->reply(contentType(file), device);
}
