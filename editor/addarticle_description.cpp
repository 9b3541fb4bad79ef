// The description's HTML editor: a TinyMCE page from the program folder in a web view.
#include "editor/addarticle.h"

#include "core/logging.h"
#include "editor/descriptionpage.h"

#include "ui_addarticle.h"

#include <QEventLoop>
#include <QJsonArray>
#include <QJsonDocument>
#include <QPointer>
#include <QTimer>
#include <QWebEnginePage>
#include <QWebEngineView>
#include <memory>

namespace {

int s_descriptionTimeout = 5000;

// `text` as a JavaScript string literal.
QString scriptString(const QString &text)
{
    const QByteArray array = QJsonDocument(QJsonArray { text }).toJson(QJsonDocument::Compact);
    return QString::fromUtf8(array.mid(1, array.size() - 2));
}

} // namespace

void AddArticle::setDescriptionTimeout(int milliseconds)
{
    s_descriptionTimeout = milliseconds;
}

void AddArticle::on_OpenHtmlEditor_clicked()
{
    m_ui->OpenHtmlEditor->hide();
    m_ui->PlainHtmlCode->hide();
    m_description = m_ui->PlainHtmlCode->toPlainText();
    m_webEditorOpen = true;
    const QString folder = QCoreApplication::applicationDirPath() + QStringLiteral("/tinymce");
    qCInfo(lcApp) << "Create HTML Editor at" << folder;
    m_webView = new QWebEngineView(this);
    auto *page = new DescriptionPage(folder, m_webView);
    m_webView->setPage(page);
    connect(m_webView, &QWebEngineView::loadFinished, this, &AddArticle::finishLoading);
    page->open();
    m_ui->htmlLayout->addWidget(m_webView);
}

void AddArticle::finishLoading(bool ok)
{
    m_webFailed = !ok;
    if (!ok)
        return;
    // The page is loaded before TinyMCE has made its editor: the text is set once it has.
    m_webView->page()->runJavaScript(
        QStringLiteral("(function set() { if (window.descriptionReady) {"
                       " tinyMCE.activeEditor.setContent(%1); window.descriptionSet = true; }"
                       " else { setTimeout(set, 20); } })();")
            .arg(scriptString(m_description)));
}

QString AddArticle::fetchDescription()
{
    if (!m_webEditorOpen)
        return m_ui->PlainHtmlCode->toPlainText();
    if (m_webFailed)
        return m_description;
    // Shared with the callback, which may come after this wait has given up.
    auto answer = std::make_shared<QVariant>();
    QEventLoop loop;
    QPointer<QEventLoop> waiting(&loop);
    m_webView->page()->runJavaScript(
        QStringLiteral("window.descriptionSet ? tinyMCE.activeEditor.getContent() : null;"),
        [answer, waiting](const QVariant &result) {
            *answer = result;
            if (waiting)
                waiting->quit();
        });
    QTimer::singleShot(s_descriptionTimeout, &loop, &QEventLoop::quit);
    loop.exec();
    // No answer, or the editor never got its text: the text it was given stands.
    if (answer->type() != QVariant::String)
        return m_description;
    return answer->toString();
}
