// Measures what a huge text costs the views that show it: the article list (20 rows, at
// 1024 x 768) and the activity list (20 entries) are repainted with normal titles, then with a
// title (and result or text) of 1 and of 16 million characters in every row. Prints the time of
// one repaint, the best of five, and its ratio to the repaint with normal titles measured in the
// same run. Goal: every ratio small (a long text costs what the part a row can show costs).
// Usage (needs a display): xvfb-run -a bench_longtexts [repaints, default 5]
#include "core/newsitem.h"
#include "views/articlelistitem.h"
#include "views/itemlistdelegate.h"
#include "views/itemlistwidget.h"
#include "views/newslistdelegate.h"
#include "views/newslistitemmodel.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QListView>
#include <cstdio>

namespace {

constexpr int kRows = 20;
int g_repaints = 5;

// The best time of the repaints of `widget`, in milliseconds.
double repaintMs(QWidget *widget)
{
    double best = 1e12;
    for (int run = 0; run < g_repaints; ++run) {
        QElapsedTimer timer;
        timer.start();
        widget->repaint();
        best = qMin(best, timer.nsecsElapsed() / 1e6);
    }
    return best;
}

QString textOf(int chars)
{
    const QString words = QStringLiteral("Wanduhr aus Eiche mit Pendel, ");
    return words.repeated(chars / words.size() + 1).left(chars);
}

double articleList(const QString &title)
{
    ItemListWidget list;
    list.setItemDelegate(new ItemListDelegate(&list));
    list.setUniformRowHeights(true);
    list.resize(1024, 768);
    QList<QTreeWidgetItem *> rows;
    const QString result = QStringLiteral("(f)") + title;
    for (int i = 0; i < kRows; ++i) {
        rows << new ArticleListItem(ArticleListRow::fromMap({ { "id", i + 1 },
                                                              { "Title", title },
                                                              { "DoCheckResult", result },
                                                              { "Folder", -9 },
                                                              { "ListingDuration", "GTC" },
                                                              { "StartPrice", 12.5 } },
                                                            QString()));
    }
    list.addTopLevelItems(rows);
    list.show();
    QCoreApplication::processEvents();
    return repaintMs(list.viewport());
}

double activityList(const QString &title)
{
    QListView view;
    view.setItemDelegate(new NewsListDelegate(&view));
    NewsListItemModel model;
    QList<NewsItem *> items;
    for (int i = 0; i < kRows; ++i) {
        auto *item = new NewsItem;
        item->id = item->databaseid = i + 1;
        item->infotype = QStringLiteral("articleadd_fail");
        item->title = title;
        item->textinfo = title;
        item->indate = QDateTime::currentDateTime();
        items << item;
    }
    model.InsertNewItems(items);
    view.setModel(&model);
    view.resize(260, 768);
    view.show();
    QCoreApplication::processEvents();
    return repaintMs(view.viewport());
}

} // namespace

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    if (argc > 1 && QByteArray(argv[1]).toInt() > 0)
        g_repaints = QByteArray(argv[1]).toInt();
    const QString normal = QStringLiteral("Wanduhr aus Eiche mit Pendel, funktioniert");
    struct Case
    {
        const char *name;
        QString title;
    };
    const Case cases[] = { { "normal titles", normal },
                           { "1 MB titles", textOf(1 << 20) },
                           { "16 MB titles", textOf(1 << 24) } };
    for (const auto &[name, measure] :
         { std::pair<const char *, double (*)(const QString &)> { "article list", articleList },
           std::pair<const char *, double (*)(const QString &)> { "activity list",
                                                                  activityList } }) {
        double reference = 0;
        for (const Case &c : cases) {
            const double ms = measure(c.title);
            if (reference == 0)
                reference = ms;
            std::printf("%-14s %-14s one repaint %9.2f ms, %7.1f x normal\n", name, c.name, ms,
                        ms / reference);
            std::fflush(stdout);
        }
    }
    return 0;
}
