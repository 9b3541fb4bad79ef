// The description's HTML editor through the real web engine: a hostile description runs no
// script, reaches no server and opens no window, and what is harmless in it is saved as it
// was; a page that does not answer keeps the editor open with nothing written. SQLite and
// MariaDB.
#include "core/database.h"
#include "editor/addarticle.h"
#include "tests/editor/editorfixture.h"
#include "tests/support/dialoganswers.h"
#include "tests/support/messagecapture.h"
#include "tests/support/testdatabase.h"
#include "tests/support/testmain.h"

#include <QApplication>
#include <QFile>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QWebEnginePage>
#include <QWebEngineView>
#include <memory>

using TestSupport::FakeHttpServer;

namespace {

// What a description may hold and the editor must keep as it is: a style sheet, a heading and
// a table with styles, a picture over https, the text placeholders and umlauts. In TinyMCE's
// own form, so that it comes back character for character.
const QString kBefore = QStringLiteral(
    "<style type=\"text/css\">.kopf { color: #004080; font-family: Arial, sans-serif; }</style>\n"
    "<h2 style=\"color: #aa0000; text-align: center;\">M\u00e4rklin H0 \u2013 Gr\u00f6\u00dfe "
    "1:87</h2>\n"
    "<table style=\"width: 100%; border-collapse: collapse;\" border=\"1\">\n<tbody>\n<tr>\n"
    "<td style=\"padding: 4px;\">Zustand</td>\n<td>$frei_01$ \u2013 \u00d6l &amp; Ru\u00df "
    "frei</td>\n</tr>\n</tbody>\n</table>\n");
const QString kAfter = QStringLiteral(
    "<p><img src=\"https://127.0.0.1:9/bilder/lok.jpg\" alt=\"Lok\" width=\"400\"></p>\n"
    "<p>$notes$ Versand \u00fcber DHL, 4,90 \u20ac</p>");

// What no saved description holds: script, frames, plug-ins, event handlers, script
// addresses, TinyMCE's own attributes and comments.
const QRegularExpression
    kHarmful("(java|vb)script:|data-mce-|mce:protected|<!--|<(script|iframe|frame|object|embed)\\b"
             "|\\son[a-z]+\\s*=",
             QRegularExpression::CaseInsensitiveOption);

// Runs `script` in the page and waits for its result.
QVariant evaluate(QWebEnginePage *page, const QString &script)
{
    QVariant result;
    bool done = false;
    page->runJavaScript(script, [&](const QVariant &value) {
        result = value;
        done = true;
    });
    if (!QTest::qWaitFor([&done] { return done; }, 20000))
        return QStringLiteral("no answer");
    return result;
}

} // namespace

class TestAddArticleDescription : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void initTestCase_data();
    void init();
    void cleanup();

    void hostileDescription_data();
    void hostileDescription();
    void harmfulMarkupNeverLeaves_data();
    void harmfulMarkupNeverLeaves();
    void pageStaysPut();
    void editorNotAnswering();
    void descriptionLength_data();
    void descriptionLength();

private:
    int article(const QString &description);
    QString storedDescription(int id);
    // Opens the HTML editor of `editor` and waits until it shows its text.
    QWebEngineView *openHtmlEditor(AddArticle *editor);

    std::unique_ptr<TestSupport::TestDatabase> m_t;
    std::unique_ptr<FakeHttpServer> m_server;
    std::unique_ptr<DialogAnswers> m_answers;
    int m_alpha = 0;
};

void TestAddArticleDescription::initTestCase()
{
    QVERIFY2(QFile::exists(QCoreApplication::applicationDirPath() + "/tinymce/tinymce.min.js"),
             "TinyMCE is not next to the test: run `npm ci --prefix web`");
}

void TestAddArticleDescription::initTestCase_data()
{
    TestSupport::addBackendRows();
}

void TestAddArticleDescription::init()
{
    const auto backend = *static_cast<TestSupport::Backend *>(
        QTest::qGlobalData("backend", ::qMetaTypeId<TestSupport::Backend>()));
    APP_REQUIRE_BACKEND(backend);
    m_t = std::make_unique<TestSupport::TestDatabase>(backend);
    QVERIFY2(m_t->error().isEmpty(), qPrintable(m_t->error()));
    m_server = std::make_unique<FakeHttpServer>();
    m_server->pointConfigHere();
    EditorFixture::serveReferenceData(*m_server);
    EditorFixture::cacheGermanSite(m_t->db());
    m_alpha = EditorFixture::addAccounts(m_t->db()).first;
    m_answers = std::make_unique<DialogAnswers>();
}

void TestAddArticleDescription::cleanup()
{
    AddArticle::setDescriptionTimeout(5000);
    m_answers.reset();
    m_server.reset();
    m_t.reset();
}

int TestAddArticleDescription::article(const QString &description)
{
    const QMap<QString, QVariant> row { { "Title", "Lokomotive BR 218" },
                                        { "Folder", -10 },
                                        { "Account", m_alpha },
                                        { "Site", 77 },
                                        { "StartPrice", 12.5 },
                                        { "Quantity", 3 },
                                        { "ListingType", "FixedPriceItem" },
                                        { "Description", description },
                                        { "PrimaryCategory", "9355" },
                                        { "PrimaryCategoryText", "Modellbau:Bahn" },
                                        { "Country", "DE" },
                                        { "PostalCode", "10115" },
                                        { "Location", "Berlin" },
                                        { "ConditionID", 1000 } };
    return m_t->db()->insertSqlClean(row, "articles");
}

QString TestAddArticleDescription::storedDescription(int id)
{
    const auto rows
        = m_t->db()
              ->select("SELECT Description FROM articles WHERE id=" + QString::number(id))
              .value();
    return rows.isEmpty() ? QString() : rows.first().value("Description").toString();
}

QWebEngineView *TestAddArticleDescription::openHtmlEditor(AddArticle *editor)
{
    editor->show();
    EditorFixture::apply(editor, { "show=TabDesc" });
    editor->findChild<QPushButton *>("OpenHtmlEditor")->click();
    auto *view = editor->findChild<QWebEngineView *>();
    if (!view)
        return nullptr;
    // Asked while it loads, the page answers late and loads slowly: wait for the load first.
    QSignalSpy loaded(view, &QWebEngineView::loadFinished);
    if (!loaded.wait(20000) || !loaded.first().first().toBool())
        return nullptr;
    const bool set = QTest::qWaitFor(
        [view] { return evaluate(view->page(), "window.descriptionSet === true").toBool(); },
        20000);
    return set ? view : nullptr;
}

// Each payload would set `pwned` on the editor's page, fetch from the fake server or open a
// window if it ran. It sits between the harmless parts; `left` is what the editor keeps of it.
void TestAddArticleDescription::hostileDescription_data()
{
    QTest::addColumn<QString>("payload");
    QTest::addColumn<QString>("left");
    const QString run = "top.pwned=window.open('%1/window')?'window':'ran';fetch('%1/fetch')";
    QTest::newRow("img onerror") << "<p><img src=\"x\" onerror=\"" + run + "\"></p>\n"
                                 << "<p><img src=\"x\"></p>\n";
    QTest::newRow("details ontoggle")
        << "<details open ontoggle=\"" + run + "\"><summary>Mehr</summary><p>Text</p></details>\n"
        << "<details open=\"\">\n<summary>Mehr</summary>\n<p>Text</p>\n</details>\n";
    QTest::newRow("svg onload") << "<p><svg onload=\"" + run + "\"></svg></p>\n"
                                << "<p>\u00a0</p>\n";
    QTest::newRow("script") << "<script>" + run + "</script>\n"
                            << "";
    QTest::newRow("iframe srcdoc") << "<iframe srcdoc=\"<script>" + run + "</script>\"></iframe>\n"
                                   << "";
    QTest::newRow("iframe javascript: address")
        << "<iframe src=\"javascript:" + run + "\"></iframe>\n"
        << "";
    QTest::newRow("iframe data:text/html")
        << "<iframe src=\"data:text/html,<script>fetch('%1/data')</script>\"></iframe>\n"
        << "";
    QTest::newRow("object data:text/html")
        << "<object data=\"data:text/html,<script>fetch('%1/object')</script>\"></object>\n"
        << "";
    QTest::newRow("embed data:text/html")
        << "<embed src=\"data:text/html,<script>fetch('%1/embed')</script>\">\n"
        << "";
    QTest::newRow("link javascript:")
        << "<p><a href=\"javascript:" + run + "\">Mehr Bilder</a></p>\n"
        << "<p><a>Mehr Bilder</a></p>\n";
    QTest::newRow("link data:text/html")
        << "<p><a href=\"data:text/html,<script>fetch('%1/link')</script>\">Info</a></p>\n"
        << "<p><a>Info</a></p>\n";
    QTest::newRow("meta refresh") << "<meta http-equiv=\"refresh\" content=\"0;url=%1/refresh\">\n"
                                  << "";
    // TinyMCE's own copy of an address, which it would save in place of the checked one.
    const QString link = "<p><a href=\"https://ok.example/\" %1=\"%2\">Mehr</a></p>\n";
    const QString linkLeft = "<p><a href=\"https://ok.example/\">Mehr</a></p>\n";
    QTest::newRow("link address in data-mce-href")
        << link.arg("data-mce-href", "javascript:" + run) << linkLeft;
    QTest::newRow("entity-written address in data-mce-href")
        << link.arg("data-mce-href", "&#74;avascript&#58;" + run) << linkLeft;
    QTest::newRow("vbscript: in data-mce-href")
        << link.arg("data-mce-href", "vbscript:msgbox(1)") << linkLeft;
    QTest::newRow("upper-case DATA-MCE-HREF")
        << link.arg("DATA-MCE-HREF", "javascript:" + run) << linkLeft;
    QTest::newRow("picture address in data-mce-src")
        << "<p><img src=\"https://127.0.0.1:9/a.jpg\" data-mce-src=\"javascript:" + run
            + "\"></p>\n"
        << "<p><img src=\"https://127.0.0.1:9/a.jpg\"></p>\n";
    // TinyMCE writes such a comment back as the raw markup it names.
    QTest::newRow("protected comment") << "<!--mce:protected "
            + QString::fromLatin1(QUrl::toPercentEncoding("<script>" + run + "</script>", "%"))
            + "-->\n"
                                       << "";
    QTest::newRow("template: frame and data-mce-href")
        << "<template><iframe srcdoc=\"<script>" + run
            + "</script>\"></iframe><a href=\"https://ok.example/\" data-mce-href=\"javascript:"
            + run + "\">Mehr</a></template>\n"
        << "";
}

void TestAddArticleDescription::hostileDescription()
{
    QFETCH(QString, payload);
    QFETCH(QString, left);
    FakeHttpServer thief;
    payload.replace("%1", thief.url().toString());
    const int id = article(kBefore + payload + kAfter);
    const QList<QWidget *> windows = QApplication::topLevelWidgets();
    AddArticle editor(nullptr, id, -10, false);
    QWebEngineView *view = openHtmlEditor(&editor);
    QVERIFY(view);

    // Whatever the payload's elements would load has loaded, and what that queued has run.
    QVERIFY(QTest::qWaitFor(
        [view] {
            return evaluate(view->page(),
                            "(function () { var d = tinyMCE.activeEditor.getDoc();"
                            " var all = function (s, f) {"
                            " return Array.prototype.every.call(d.querySelectorAll(s), f); };"
                            " return d.readyState === 'complete'"
                            " && all('img', function (i) { return i.complete; })"
                            " && all('iframe', function (f) { return !f.contentDocument"
                            " || f.contentDocument.readyState === 'complete'; }); })()")
                .toBool();
        },
        20000));
    evaluate(view->page(),
             "window.settled = false; setTimeout(function () { window.settled = true; })");
    QVERIFY(QTest::qWaitFor([view] { return evaluate(view->page(), "window.settled").toBool(); },
                            20000));

    QCOMPARE(evaluate(view->page(), "String(window.pwned)").toString(), QString("undefined"));
    QCOMPARE(thief.requestCount(), 0);

    editor.accept();
    QCOMPARE(editor.result(), 1);
    QVERIFY2(!storedDescription(id).contains(kHarmful), qPrintable(storedDescription(id)));
    QCOMPARE(storedDescription(id), kBefore + left + kAfter);
    QCOMPARE(thief.requestCount(), 0);
    const auto shown = [](const QList<QWidget *> &widgets) {
        return std::count_if(widgets.cbegin(), widgets.cend(),
                             [](QWidget *w) { return w->isVisible(); });
    };
    QCOMPARE(shown(QApplication::topLevelWidgets()), shown(windows));
}

// Whatever way markup got into the editor's document, what the editor hands out is checked
// again: here it stands in a comment that TinyMCE's serializer writes out as raw markup.
void TestAddArticleDescription::harmfulMarkupNeverLeaves_data()
{
    QTest::addColumn<QString>("markup");
    const QString run = "top.pwned=1";
    QTest::newRow("script") << "<script>" + run + "</script>";
    QTest::newRow("img onerror") << "<img src=\"x\" onerror=\"" + run + "\">";
    QTest::newRow("tab in vbscript: link") << "<a href=\"vb&#9;script:msgbox(1)\">Mehr</a>";
    QTest::newRow("data:text/html link")
        << "<a href=\"data:text/html,<script>" + run + "</script>\">Mehr</a>";
    QTest::newRow("frameset") << "<frameset><frame src=\"https://127.0.0.1:9/\"></frameset>";
    QTest::newRow("svg onload") << "<svg onload=\"" + run + "\"></svg>";
    QTest::newRow("template with event handler and frame")
        << "<template><img src=\"x\" onerror=\"" + run + "\"><iframe></iframe></template>";
    QTest::newRow("comment inside") << "<p>a<!-- mce:protected %3Cscript%3E --></p>";
}

void TestAddArticleDescription::harmfulMarkupNeverLeaves()
{
    QFETCH(QString, markup);
    const int id = article("<p>Lok</p>");
    AddArticle editor(nullptr, id, -10, false);
    QWebEngineView *view = openHtmlEditor(&editor);
    QVERIFY(view);
    evaluate(view->page(),
             "(function () { var e = tinyMCE.activeEditor; e.getBody().appendChild("
             "e.getDoc().createComment('mce:protected "
                 + QString::fromLatin1(QUrl::toPercentEncoding(markup)) + "')); })()");

    editor.accept();
    QCOMPARE(editor.result(), 1);
    const QString stored = storedDescription(id);
    QVERIFY2(stored.startsWith("<p>Lok</p>"), qPrintable(stored));
    QVERIFY2(!stored.contains(kHarmful), qPrintable(stored));
    QVERIFY2(!stored.contains("pwned") && !stored.contains("msgbox"), qPrintable(stored));
}

// Should a script run in the page after all, it can load script from no local file but the
// editor's own, take the page nowhere else and open no window.
void TestAddArticleDescription::pageStaysPut()
{
    FakeHttpServer thief;
    QTemporaryDir folder;
    QFile local(folder.filePath("local.js"));
    QVERIFY(local.open(QIODevice::WriteOnly));
    local.write("window.fromLocalFile = true;");
    local.close();
    const int id = article("<p>Lok</p>");
    AddArticle editor(nullptr, id, -10, false);
    QWebEngineView *view = openHtmlEditor(&editor);
    QVERIFY(view);
    const QUrl page = view->page()->url();
    TestSupport::MessageCapture log({ "app" });

    const QString load = "(function () { var s = document.createElement('script');"
                         " s.onload = function () { window.loaded = 'loaded'; };"
                         " s.onerror = function () { window.loaded = 'refused'; };"
                         " window.loaded = null; s.src = '%1'; document.head.appendChild(s); })()";
    for (const auto &[source, outcome] :
         { std::pair<QString, QString>(QUrl::fromLocalFile(local.fileName()).toString(), "refused"),
           std::pair<QString, QString>("langs/de.js", "loaded") }) {
        evaluate(view->page(), load.arg(source));
        QTRY_VERIFY(!evaluate(view->page(), "window.loaded").isNull());
        QCOMPARE(evaluate(view->page(), "window.loaded").toString(), outcome);
    }
    QCOMPARE(evaluate(view->page(), "String(window.fromLocalFile)").toString(),
             QString("undefined"));

    QCOMPARE(evaluate(view->page(),
                      QString("String(window.open('%1/window'))").arg(thief.url().toString()))
                 .toString(),
             QString("null"));
    evaluate(view->page(), QString("location.href = '%1/away'").arg(thief.url().toString()));
    QTRY_VERIFY(log.count("navigation refused") == 1 || thief.requestCount() > 0);
    QCOMPARE(thief.requestCount(), 0);
    QCOMPARE(view->page()->url(), page);
    QCOMPARE(evaluate(view->page(), "tinyMCE.activeEditor.getContent()").toString(),
             QString("<p>Lok</p>"));
}

// The seller's edits are only in the page: when it does not answer, the editor says so and
// stays open, and nothing is written. The page is kept busy for good, so the wait cannot end
// in an answer whatever its length.
void TestAddArticleDescription::editorNotAnswering()
{
    const int id = article("<p>alt</p>");
    AddArticle editor(nullptr, id, -10, false);
    QWebEngineView *view = openHtmlEditor(&editor);
    QVERIFY(view);
    evaluate(view->page(), "tinyMCE.activeEditor.setContent('<p>neu</p>')");
    view->page()->runJavaScript("for (;;) {}");
    AddArticle::setDescriptionTimeout(50);

    editor.accept();
    QCOMPARE(editor.result(), 0);
    QVERIFY(editor.isVisible());
    QCOMPARE(m_answers->messages().size(), 1);
    QCOMPARE(m_answers->messages().first().type, 1);
    QVERIFY2(m_answers->lastMessageText().startsWith("Der HTML-Editor der Beschreibung antwortet "
                                                     "nicht. Es wurde nichts gespeichert"),
             qPrintable(m_answers->lastMessageText()));
    QCOMPARE(storedDescription(id), QString("<p>alt</p>"));
}

// The marketplace takes 500,000 characters of description: a longer one is refused however
// it came into the editor, with nothing written; one at the limit is saved, also by an HTML
// editor slower than the wait's start (its getContent held 1.5 s against a wait of 1 s).
void TestAddArticleDescription::descriptionLength_data()
{
    QTest::addColumn<int>("chars");
    QTest::addColumn<QString>("way");
    QTest::addColumn<bool>("saved");
    QTest::newRow("over the limit, loaded") << 500001 << "loaded" << false;
    QTest::newRow("over the limit, typed") << 500001 << "typed" << false;
    QTest::newRow("over the limit, pasted into the HTML editor") << 500001 << "pasted" << false;
    QTest::newRow("at the limit, typed") << 500000 << "typed" << true;
    QTest::newRow("at the limit, HTML editor slower than the wait's start")
        << 500000 << "slow" << true;
}

void TestAddArticleDescription::descriptionLength()
{
    QFETCH(int, chars);
    QFETCH(QString, way);
    QFETCH(bool, saved);
    const QString text = "<p>" + QString(chars - 7, 'x') + "</p>";
    const QString before = "<p>Lok 12345,67 \u20ac</p>";
    const int id = article(way == "loaded" ? text : before);
    AddArticle editor(nullptr, id, -10, false);
    const QString refused = QStringLiteral("Die Beschreibung ist 500.001 Zeichen lang, eBay nimmt "
                                           "höchstens 500.000 Zeichen.");
    if (way == "loaded") {
        QCOMPARE(m_answers->messages().size(), 1);
        QVERIFY2(m_answers->lastMessageText().startsWith(refused),
                 qPrintable(m_answers->lastMessageText()));
        // The HTML editor is not given it.
        editor.show();
        EditorFixture::apply(&editor, { "show=TabDesc" });
        editor.findChild<QPushButton *>("OpenHtmlEditor")->click();
        QVERIFY(!editor.findChild<QWebEngineView *>());
        QCOMPARE(m_answers->messages().size(), 2);
    } else if (way == "typed") {
        editor.findChild<QPlainTextEdit *>("PlainHtmlCode")->setPlainText(text);
    } else {
        QWebEngineView *view = openHtmlEditor(&editor);
        QVERIFY(view);
        evaluate(view->page(),
                 QString("tinyMCE.activeEditor.setContent('<p>' + 'x'.repeat(%1) + '</p>')")
                     .arg(chars - 7));
        if (way == "slow") {
            evaluate(view->page(),
                     "(function () { var e = tinyMCE.activeEditor, get = e.getContent;"
                     " e.getContent = function (a) { var end = Date.now() + 1500;"
                     " while (Date.now() < end) {} return get.call(e, a); }; })()");
            AddArticle::setDescriptionTimeout(1000);
        }
    }
    const int told = m_answers->messages().size();

    editor.accept();
    QCOMPARE(editor.result(), saved ? 1 : 0);
    QCOMPARE(storedDescription(id), saved || way == "loaded" ? text : before);
    QCOMPARE(m_answers->messages().size(), told + (saved ? 0 : 1));
    if (!saved)
        QCOMPARE(m_answers->lastMessageText(),
                 refused + " Es wurde nichts gespeichert; bitte kürzen Sie die Beschreibung.");
}

APP_TEST_MAIN(TestAddArticleDescription)
#include "test_addarticle_description.moc"
