#include "views/choicelists.h"

#include <QComboBox>
#include <QStandardItemModel>

namespace ChoiceLists {

namespace {

int leadingBlanks(const QString &text)
{
    int count = 0;
    while (count < text.size() && text.at(count) == QLatin1Char(' '))
        ++count;
    return count;
}

} // namespace

void disableEntry(QComboBox *box, int index)
{
    if (auto *model = qobject_cast<QStandardItemModel *>(box->model())) {
        if (QStandardItem *item = model->item(index))
            item->setFlags(item->flags() & ~(Qt::ItemIsEnabled | Qt::ItemIsSelectable));
    }
}

void addStoreCategories(const QList<QComboBox *> &boxes,
                        const QList<QMap<QString, QString>> &categories)
{
    for (int i = 0; i < categories.size(); ++i) {
        const auto &category = categories.at(i);
        if (category.isEmpty())
            continue;
        const bool hasChildren = i + 1 < categories.size() && !categories.at(i + 1).isEmpty()
            && leadingBlanks(categories.at(i + 1).first()) > leadingBlanks(category.first());
        for (QComboBox *box : boxes) {
            box->addItem(category.first(), category.firstKey());
            if (hasChildren)
                disableEntry(box, box->count() - 1);
        }
    }
}

void addServices(QComboBox *box, const QList<QMap<QString, QString>> &services,
                 const QMap<QString, QString> &categories)
{
    for (const auto &service : services) {
        if (service.isEmpty())
            continue;
        if (service.firstKey() == QLatin1String("-1")) {
            box->addItem(categories.value(service.first(), service.first()), QStringLiteral("-1"));
            disableEntry(box, box->count() - 1);
        } else {
            box->addItem(service.first(), service.firstKey());
        }
    }
}

} // namespace ChoiceLists
