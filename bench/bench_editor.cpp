// Measures opening the article editor on a saved fixed-price article with shipping, returns
// and payment choices, while every piece of reference data comes from the cache (after a
// first run filled it from a fake marketplace): from the constructor until the dialog is
// shown and its events are handled, as the median and the slowest of 20 runs. The
// description's web engine is not part of that; its start (a web view made and an empty
// page loaded) is measured apart, first and second time.
#include "core/database.h"
#include "editor/addarticle.h"
#include "tests/editor/editorfixture.h"
#include "tests/support/dialoganswers.h"
#include "tests/support/temphome.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QWebEngineView>
#include <algorithm>
#include <cstdio>
#include <memory>

namespace {

constexpr int kRuns = 20;

double openEditor(int article)
{
    QElapsedTimer timer;
    timer.start();
    auto editor = std::make_unique<AddArticle>(nullptr, article, -10, false);
    editor->show();
    QCoreApplication::processEvents();
    return timer.nsecsElapsed() / 1e6;
}

double startWebEngine()
{
    QElapsedTimer timer;
    timer.start();
    QWebEngineView view;
    QEventLoop loop;
    QObject::connect(&view, &QWebEngineView::loadFinished, &loop, &QEventLoop::quit);
    view.setHtml(QStringLiteral("<html><body></body></html>"));
    view.show();
    loop.exec();
    return timer.nsecsElapsed() / 1e6;
}

} // namespace

int main(int argc, char *argv[])
{
    TestSupport::TempHome dir;
    qputenv("QT_LOGGING_RULES", "*.debug=false;*.info=false");
    QApplication app(argc, argv);
    qInstallMessageHandler([](QtMsgType, const QMessageLogContext &, const QString &) {});

    Database db(dir.path() + QStringLiteral("/daten/"));
    const int account = EditorFixture::addAccounts(&db).first;
    TestSupport::FakeHttpServer server;
    server.pointConfigHere();
    EditorFixture::serveReferenceData(server);
    DialogAnswers answers;

    QMap<QString, QVariant> row { { "Title", "Lokomotive BR 218" },
                                  { "Folder", -10 },
                                  { "Account", account },
                                  { "Site", 77 },
                                  { "StartPrice", 12.5 },
                                  { "Quantity", 3 },
                                  { "ListingType", "FixedPriceItem" },
                                  { "Country", "DE" },
                                  { "PostalCode", "10115" },
                                  { "ShippingService_1", "DE_DHLPaket" },
                                  { "ShippingService_1_Cost", 4.99 },
                                  { "RP_ReturnsAcceptedOption", "ReturnsAccepted" },
                                  { "RP_ReturnsWithinOption", "Days_30" },
                                  { "PaymentMethods", "MoneyXferAcceptedInCheckout" },
                                  { "StoreCategoryID", "2210" },
                                  { "PrimaryCategory", "9355" },
                                  { "PrimaryCategoryText", "Modellbau:Modellbahn" } };
    const int article = db.insertSqlClean(row, QStringLiteral("articles"));

    openEditor(article); // fills the cache
    const int requests = server.requestCount();
    QVector<double> times;
    for (int i = 0; i < kRuns; ++i)
        times << openEditor(article);
    std::sort(times.begin(), times.end());
    std::printf("Open the editor on a saved article, reference data cached (%d runs):\n", kRuns);
    std::printf("  median %.1f ms, slowest %.1f ms; marketplace requests meanwhile: %d\n",
                times.at(times.size() / 2), times.last(), server.requestCount() - requests);
    const double first = startWebEngine();
    const double second = startWebEngine();
    std::printf("Description web engine start: first %.0f ms, again %.0f ms\n", first, second);
    return 0;
}
