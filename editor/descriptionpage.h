#pragma once

#include <QString>
#include <QUrl>
#include <QWebEnginePage>

// The page of the description's HTML editor, "index.html" of the editor's folder, served from
// there by DescriptionFiles. The description it shows is not trusted, so the page may load
// once and go nowhere else: every later navigation (links, forms, refreshes, script) is
// refused, it opens no window, and it reads no local file but the editor's own.
class DescriptionPage : public QWebEnginePage
{
    Q_OBJECT

public:
    DescriptionPage(const QString &folder, QObject *parent);

    // Loads the editor's page; only the first call does.
    void open();

protected:
    bool acceptNavigationRequest(const QUrl &url, NavigationType type, bool isMainFrame) override;
    QWebEnginePage *createWindow(WebWindowType type) override;
    void javaScriptConsoleMessage(JavaScriptConsoleMessageLevel level, const QString &message,
                                  int lineNumber, const QString &sourceId) override;

private:
    QUrl m_pageUrl;
    bool m_opened = false;
    bool m_loadAccepted = false;
};
