// Measures saving in the article editor and building its item-specifics page:
//  - OK on an article with 12 pictures and 50 variations (the variation pictures page built
//    with one picture per variation), its pictures already in the picture folder; then the
//    same with 12 new picture files (800 x 600) that the save copies;
//  - the item-specifics page of a category with 40 specifics (20 single-valued, 20 with 6
//    values each), its reply cached by a first run.
// Each figure is the median and the slowest of 20 runs; the editor is opened outside the
// measured time.
#include "core/database.h"
#include "editor/addarticle.h"
#include "editor/companions/picturewidget.h"
#include "tests/editor/editorfixture.h"
#include "tests/support/dialoganswers.h"
#include "tests/support/temphome.h"

#include <QApplication>
#include <QComboBox>
#include <QElapsedTimer>
#include <QImage>
#include <QTabWidget>
#include <algorithm>
#include <cstdio>
#include <functional>
#include <memory>

namespace {

constexpr int kRuns = 20;

void report(const char *what, QVector<double> times)
{
    std::sort(times.begin(), times.end());
    std::printf("%s (%d runs): median %.1f ms, slowest %.1f ms\n", what, int(times.size()),
                times.at(times.size() / 2), times.last());
}

double measure(const std::function<void()> &work)
{
    QElapsedTimer timer;
    timer.start();
    work();
    return timer.nsecsElapsed() / 1e6;
}

QByteArray specificsReply(int count)
{
    QByteArray xml = "<?xml version=\"1.0\" encoding=\"UTF-8\"?><GetCategorySpecificsResponse "
                     "xmlns=\"urn:ebay:apis:eBLBaseComponents\"><Ack>Success</Ack>"
                     "<Recommendations><CategoryID>9355</CategoryID>";
    for (int i = 0; i < count; ++i) {
        const QByteArray n = QByteArray::number(i);
        xml += "<NameRecommendation><Name>Merkmal " + n + "</Name><ValidationRules>"
            + (i % 2 ? "<MaxValues>1</MaxValues><SelectionMode>SelectionOnly</SelectionMode>"
                     : "<MaxValues>6</MaxValues><SelectionMode>FreeText</SelectionMode>")
            + "</ValidationRules><HelpText>Hilfe zu " + n + "</HelpText>";
        for (int v = 0; v < 6; ++v)
            xml += "<ValueRecommendation><Value>Wert " + n + "." + QByteArray::number(v)
                + " &amp; mehr</Value></ValueRecommendation>";
        xml += "</NameRecommendation>";
    }
    return xml + "</Recommendations></GetCategorySpecificsResponse>";
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
    server.setCallReply(QStringLiteral("GetCategorySpecifics"),
                        TestSupport::FakeReply::ok(specificsReply(40)));
    DialogAnswers answers;

    QMap<QString, QVariant> row { { "Title", "Lokomotive BR 218" }, { "Folder", -10 },
                                  { "Account", account }, { "Site", 77 }, { "StartPrice", 12.5 },
                                  { "Quantity", 3 }, { "ListingType", "FixedPriceItem" },
                                  { "Country", "DE" }, { "PostalCode", "10115" },
                                  { "ShippingService_1", "DE_DHLPaket" },
                                  { "ShippingService_1_Cost", 4.99 },
                                  { "Description", "<p>Lok</p>" }, { "SKU", "BR" },
                                  { "PrimaryCategory", "9355" }, { "ConditionID", 1000 },
                                  { "VariantImageOption", "Farbe" } };
    const int article = db.insertSqlClean(row, QStringLiteral("articles"));
    const QString folder = db.getCurrentAdImageDir();
    QImage picture(800, 600, QImage::Format_RGB32);
    picture.fill(Qt::darkRed);
    QStringList outside;
    for (int i = 0; i < 12; ++i) {
        const QString name = QStringLiteral("bild%1.jpg").arg(i);
        picture.save(folder + name, "JPG");
        picture.save(dir.path() + QLatin1Char('/') + name, "PNG");
        outside << dir.path() + QLatin1Char('/') + name;
        db.insertSqlClean({ { "article_id", article }, { "image", name }, { "sort", i } },
                          QStringLiteral("articles_images"));
    }
    for (int i = 0; i < 50; ++i) {
        const QString value = QStringLiteral("Farbe %1").arg(i);
        db.insertSqlClean({ { "article_id", article }, { "SKU", QStringLiteral("BR-%1").arg(i) },
                            { "StartPrice", 10 + i }, { "Quantity", 2 },
                            { "VariantXml", QStringLiteral("<NameValueList><Name>Farbe</Name><Value>")
                                  + value + QStringLiteral("</Value></NameValueList>") } },
                          QStringLiteral("articles_variations"));
        db.insertSqlClean({ { "article_id", article }, { "image", QStringLiteral("bild0.jpg") },
                            { "variant_name", value } },
                          QStringLiteral("articles_images"));
    }

    const auto save = [&](bool copies) {
        AddArticle editor(nullptr, article, -10, false);
        EditorFixture::apply(&editor, { QStringLiteral("show=TabPics"),
                                        QStringLiteral("show=TabVars") });
        if (copies) {
            const auto pictureSlots = editor.findChildren<PictureWidget *>();
            for (int i = 0; i < pictureSlots.size(); ++i)
                pictureSlots.at(i)->imagePath = outside.at(i);
        }
        const double time = measure([&editor] { editor.accept(); });
        if (editor.result() != 1)
            std::printf("The save was refused: %s\n", qPrintable(answers.lastMessageText()));
        return time;
    };
    save(false); // fills the cache
    QVector<double> plain, copied;
    for (int i = 0; i < kRuns; ++i) {
        plain << save(false);
        copied << save(true);
    }
    report("Save: 12 pictures in place, 50 variations with pictures", plain);
    report("Save: the same with 12 picture copies", copied);

    QVector<double> page;
    for (int i = 0; i < kRuns + 1; ++i) {
        AddArticle editor(nullptr, article, -10, false);
        const double time = measure([&editor] {
            EditorFixture::apply(&editor, { QStringLiteral("show=TabMerkmale") });
        });
        if (i > 0) // the first run fills the cache
            page << time;
    }
    report("Item-specifics page, 40 specifics from the cache", page);
    const auto rows = db.select(QStringLiteral("SELECT COUNT(*) AS n FROM articles_images WHERE "
                                               "article_id=%1")
                                    .arg(article))
                          .value();
    std::printf("Picture rows after the runs: %s (12 main + 50 variation expected)\n",
                qPrintable(rows.value(0).value(QStringLiteral("n")).toString()));
    return 0;
}
