#include "editor/descriptionpage.h"

#include "core/logging.h"
#include "editor/descriptionfiles.h"

#include <QWebEngineSettings>

namespace {

// A refused address for the log: a data: address may carry a whole document.
QString shortUrl(const QUrl &url)
{
    const QString text = url.toDisplayString();
    return text.size() > 120 ? text.left(120) + QStringLiteral("...") : text;
}

} // namespace

DescriptionPage::DescriptionPage(const QString &folder, QObject *parent)
    : QWebEnginePage(parent)
    , m_pageUrl(DescriptionFiles::url(QStringLiteral("index.html")))
{
    DescriptionFiles::installInto(profile(), folder);
    QWebEngineSettings *s = settings();
    s->setAttribute(QWebEngineSettings::LocalContentCanAccessFileUrls, false);
    s->setAttribute(QWebEngineSettings::LocalContentCanAccessRemoteUrls, false);
    s->setAttribute(QWebEngineSettings::JavascriptCanOpenWindows, false);
    s->setAttribute(QWebEngineSettings::JavascriptCanAccessClipboard, false);
    s->setAttribute(QWebEngineSettings::PluginsEnabled, false);
    s->setAttribute(QWebEngineSettings::AllowRunningInsecureContent, false);
}

void DescriptionPage::open()
{
    if (m_opened)
        return;
    m_opened = true;
    load(m_pageUrl);
}

bool DescriptionPage::acceptNavigationRequest(const QUrl &url, NavigationType type,
                                              bool isMainFrame)
{
    if (isMainFrame && !m_loadAccepted && url == m_pageUrl) {
        m_loadAccepted = true;
        return true;
    }
    qCWarning(lcApp) << "HTML editor: navigation refused:" << shortUrl(url) << "type" << type
                     << (isMainFrame ? "page" : "frame");
    return false;
}

QWebEnginePage *DescriptionPage::createWindow(WebWindowType type)
{
    qCWarning(lcApp) << "HTML editor: new window refused, type" << type;
    return nullptr;
}

void DescriptionPage::javaScriptConsoleMessage(JavaScriptConsoleMessageLevel level,
                                               const QString &message, int lineNumber,
                                               const QString &sourceId)
{
    // Refusals of the content security policy arrive here.
    qCDebug(lcApp) << "HTML editor console:" << level << message.left(300)
                   << sourceId.section('/', -1) << lineNumber;
}
