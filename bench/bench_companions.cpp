// Measures two editor companions. The category chooser against a fake marketplace serving
// a whole site's category tree (about 13,000 categories; each answer made once and then
// sent as it is): opening the chooser in tree mode, and expanding a top-level category with
// 500 children, each once warmed up, as the median and the slowest of 10 runs. The variant
// generator with 5 options of 6 values: 7,776 combinations generated and written on SQLite.
#include "core/database.h"
#include "editor/companions/addarticlecategories.h"
#include "editor/companions/variantgenerator.h"
#include "tests/support/dialoganswers.h"
#include "tests/support/fakecategorytree.h"
#include "tests/support/fakehttpserver.h"
#include "tests/support/temphome.h"

#include <QApplication>
#include <QCheckBox>
#include <QDoubleSpinBox>
#include <QElapsedTimer>
#include <QPushButton>
#include <QTreeWidget>
#include <algorithm>
#include <cstdio>
#include <memory>

using TestSupport::FakeCategoryTree;

namespace {

constexpr int kRuns = 10;

// 30 top-level categories: the first with 500 leaves below it, the others with 20 children
// of 21 leaves each.
FakeCategoryTree siteTree()
{
    FakeCategoryTree tree;
    int next = 1000;
    for (int top = 0; top < 30; ++top) {
        const QString topId = QString::number(next++);
        tree.add(topId, QString(), QStringLiteral("Hauptkategorie %1").arg(top), false);
        if (top == 0) {
            for (int i = 0; i < 500; ++i)
                tree.add(QString::number(next++), topId,
                         QStringLiteral("Unterkategorie %1 & Zubehör").arg(i), true);
            continue;
        }
        for (int i = 0; i < 20; ++i) {
            const QString midId = QString::number(next++);
            tree.add(midId, topId, QStringLiteral("Bereich %1").arg(i), false);
            for (int j = 0; j < 21; ++j)
                tree.add(QString::number(next++), midId, QStringLiteral("Blatt %1").arg(j), true);
        }
    }
    return tree;
}

struct Figures
{
    QVector<double> open;
    QVector<double> expand;
};

double median(QVector<double> values)
{
    std::sort(values.begin(), values.end());
    return values.at(values.size() / 2);
}

double slowest(const QVector<double> &values)
{
    return *std::max_element(values.begin(), values.end());
}

void measureChooser(Database &db, int account, Figures &figures, bool record)
{
    QElapsedTimer timer;
    timer.start();
    auto chooser = std::make_unique<AddArticleCategories>(nullptr, &db, account,
                                                          QStringLiteral("77"), QString(),
                                                          QString(), QString());
    chooser->show();
    chooser->findChild<QCheckBox *>(QStringLiteral("CatBoxChecker"))->setChecked(true);
    QCoreApplication::processEvents();
    const double opened = timer.nsecsElapsed() / 1e6;
    auto *tree = chooser->findChild<QTreeWidget *>(QStringLiteral("CatBox"));
    timer.restart();
    tree->topLevelItem(0)->setExpanded(true);
    QCoreApplication::processEvents();
    const double expanded = timer.nsecsElapsed() / 1e6;
    if (tree->topLevelItemCount() != 30 || tree->topLevelItem(0)->childCount() != 500)
        std::printf("unexpected tree: %d top-level, %d children\n", tree->topLevelItemCount(),
                    tree->topLevelItem(0)->childCount());
    if (record) {
        figures.open.append(opened);
        figures.expand.append(expanded);
    }
}

} // namespace

int main(int argc, char *argv[])
{
    const TestSupport::TempHome home;
    qputenv("QT_LOGGING_RULES", "*.debug=false;*.info=false");
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    // The figures only: the offscreen platform's notes would bury them.
    qInstallMessageHandler([](QtMsgType, const QMessageLogContext &, const QString &) {});

    Database db(home.path() + QStringLiteral("/daten/"));
    const int account = db.insertSqlClean({ { QStringLiteral("accountname"), QStringLiteral("a") },
                                            { QStringLiteral("token"), QStringLiteral("T") },
                                            { QStringLiteral("active"), 1 } },
                                          QStringLiteral("accounts"));

    TestSupport::FakeHttpServer server;
    server.pointConfigHere();
    const FakeCategoryTree tree = siteTree();
    tree.serve(server);

    Figures figures;
    measureChooser(db, account, figures, false);
    for (int i = 0; i < kRuns; ++i)
        measureChooser(db, account, figures, true);
    std::printf("Category tree of %d categories\n", tree.size());
    std::printf("  open chooser in tree mode (30 top-level): median %.1f ms, slowest %.1f ms\n",
                median(figures.open), slowest(figures.open));
    std::printf("  expand a category of 500 children:       median %.1f ms, slowest %.1f ms\n",
                median(figures.expand), slowest(figures.expand));

    DialogAnswers answers;
    VariantGenerator generator(nullptr, QStringLiteral("1"), QStringLiteral("ART"), {});
    for (const char *name : { "Farbe", "Größe", "Material", "Muster", "Länge" }) {
        answers.pushText(QString::fromUtf8(name));
        answers.pushText(QStringLiteral("w1, w2, w3, w4, w5, w6"));
        generator.findChild<QPushButton *>(QStringLiteral("NewOption"))->click();
    }
    generator.findChild<QDoubleSpinBox *>(QStringLiteral("PriceStart"))->setValue(9.99);
    QElapsedTimer timer;
    timer.start();
    generator.accept();
    const double generated = timer.nsecsElapsed() / 1e6;
    std::printf("Variant generator, 5 options of 6 values: %d rows written in %.0f ms\n",
                db.selectCount(QStringLiteral("SELECT id FROM articles_variations")).value(),
                generated);
    return 0;
}
