#pragma once

#include <QList>
#include <QMap>
#include <QString>

class QComboBox;

// Filling combo boxes from the marketplace's reference lists, as the editor and the bulk
// dialogs offer them.
namespace ChoiceLists {

// Shows the entry greyed; it cannot be chosen (a heading, a category with children).
void disableEntry(QComboBox *box, int index);

// Appends the store categories (names indented by their level) to every box; a category
// with subcategories cannot be chosen, only its leaves can.
void addStoreCategories(const QList<QComboBox *> &boxes,
                        const QList<QMap<QString, QString>> &categories);

// Appends the shipping services to the box: each category's heading (its description from
// `categories`, else its code; not selectable) followed by its services.
void addServices(QComboBox *box, const QList<QMap<QString, QString>> &services,
                 const QMap<QString, QString> &categories);

} // namespace ChoiceLists
