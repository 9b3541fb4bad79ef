// The description's HTML editor: a TinyMCE page from the program folder in a web view.
#include "editor/addarticle.h"

#include "core/descriptionlimit.h"
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
#include <limits>
#include <memory>

namespace {

int s_descriptionTimeout = 5000;
// The wait for the page's text grows by 1 ms per 100 characters it holds (5 s more at the
// marketplace's limit): some twenty times what the editor takes to hand out a long text, so
// that a slow machine still saves what it may save.
constexpr int kCharsPerMillisecond = 100;

// Runs `script` in `page` and waits at most `milliseconds` for its result; false without one.
bool askPage(QWebEnginePage *page, const QString &script, qint64 milliseconds, QVariant *result)
{
    // Shared with the callback, which may come after this wait has given up.
    auto answer = std::make_shared<QVariant>();
    auto answered = std::make_shared<bool>(false);
    QEventLoop loop;
    QPointer<QEventLoop> waiting(&loop);
    page->runJavaScript(script, [answer, answered, waiting](const QVariant &value) {
        *answer = value;
        *answered = true;
        if (waiting)
            waiting->quit();
    });
    QTimer::singleShot(int(qMin<qint64>(milliseconds, std::numeric_limits<int>::max())), &loop,
                       &QEventLoop::quit);
    // The answer may have come before the loop runs.
    if (!*answered)
        loop.exec();
    *result = *answer;
    return *answered;
}

// A description the marketplace would refuse is not saved: the seller is told how long it is.
bool withinLimit(QWidget *editor, const QString &description)
{
    const QString refusal = DescriptionLimit::refusal(description);
    if (refusal.isEmpty())
        return true;
    Statics::showMessage(editor,
                         refusal
                             + AddArticle::tr(" Es wurde nichts gespeichert; bitte kürzen Sie "
                                              "die Beschreibung."),
                         1);
    return false;
}

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
    // The HTML editor would take minutes over a text the marketplace refuses anyway.
    const QString refusal = DescriptionLimit::refusal(m_ui->PlainHtmlCode->toPlainText());
    if (!refusal.isEmpty()) {
        Statics::showMessage(this,
                             refusal
                                 + tr(" Der HTML-Editor wird dafür nicht geöffnet; bitte kürzen "
                                      "Sie die Beschreibung hier."),
                             1);
        return;
    }
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
        return withinLimit(this, m_description);
    }
    // Before its page has loaded the HTML editor holds nothing but the text it is to get.
    if (!m_webLoaded)
        return withinLimit(this, m_description);
    // First the length of what the page holds, which it tells at once, so that the wait for
    // the text grows with it (a pasted text may be far longer than the one it was given).
    QVariant length;
    bool answered = askPage(
        m_webView->page(),
        QStringLiteral(
            "window.descriptionSet ? tinyMCE.activeEditor.getBody().innerHTML.length : -1;"),
        s_descriptionTimeout, &length);
    QVariant answer;
    qint64 wait = s_descriptionTimeout;
    if (answered) {
        wait += qMax<qint64>(length.toLongLong(), m_description.size()) / kCharsPerMillisecond;
        answered = askPage(
            m_webView->page(),
            QStringLiteral("window.descriptionSet ? tinyMCE.activeEditor.getContent() : null;"),
            wait, &answer);
    }
    if (!answered) {
        // The edits are only in the page: saving anything else would lose them.
        qCWarning(lcApp) << "HTML editor: no answer within" << wait << "ms";
        Statics::showMessage(
            this,
            tr("Der HTML-Editor der Beschreibung antwortet nicht. Es wurde nichts gespeichert; "
               "Ihre Änderungen bleiben im Editor. Bitte versuchen Sie es gleich noch einmal."),
            1);
        return false;
    }
    // The editor never got its text (saved before it was ready): the text it was given stands.
    if (answer.type() == QVariant::String)
        m_description = answer.toString();
    return withinLimit(this, m_description);
}
