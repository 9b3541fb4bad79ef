// The description's HTML editor: a TinyMCE page from the program folder in a web view.
#include "editor/addarticle.h"

#include "core/logging.h"
#include "core/statics.h"
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
    m_webLoaded = ok;
    if (!ok)
        return;
    // The page is loaded before TinyMCE has made its editor: the text is set once it has.
    m_webView->page()->runJavaScript(
        QStringLiteral("(function set() { if (window.descriptionReady) {"
                       " tinyMCE.activeEditor.setContent(%1); window.descriptionSet = true; }"
                       " else { setTimeout(set, 20); } })();")
            .arg(scriptString(m_description)));
}

bool AddArticle::fetchDescription()
{
    if (!m_webEditorOpen) {
        m_description = m_ui->PlainHtmlCode->toPlainText();
        return true;
    }
    // Before its page has loaded the HTML editor holds nothing but the text it is to get.
    if (!m_webLoaded)
        return true;
    // Shared with the callback, which may come after this wait has given up.
    auto answer = std::make_shared<QVariant>();
    auto answered = std::make_shared<bool>(false);
    QEventLoop loop;
    QPointer<QEventLoop> waiting(&loop);
    m_webView->page()->runJavaScript(
        QStringLiteral("window.descriptionSet ? tinyMCE.activeEditor.getContent() : null;"),
        [answer, answered, waiting](const QVariant &result) {
            *answer = result;
            *answered = true;
            if (waiting)
                waiting->quit();
        });
    QTimer::singleShot(s_descriptionTimeout, &loop, &QEventLoop::quit);
    loop.exec();
    if (!*answered) {
        // The edits are only in the page: saving anything else would lose them.
        qCWarning(lcApp) << "HTML editor: no answer within" << s_descriptionTimeout << "ms";
        Statics::showMessage(
            this,
            tr("Der HTML-Editor der Beschreibung antwortet nicht. Es wurde nichts gespeichert; "
               "Ihre Änderungen bleiben im Editor. Bitte versuchen Sie es gleich noch einmal."),
            1);
        return false;
    }
    // The editor never got its text (saved before it was ready): the text it was given stands.
    if (answer->type() == QVariant::String)
        m_description = answer->toString();
    return true;
}
