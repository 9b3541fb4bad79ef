#pragma once

#include <QComboBox>
#include <QList>
#include <QVariant>
#include <QWidget>

#include <algorithm>

namespace TestSupport {

// The column boxes of the CSV import's mapping page, in the file's column order.
inline QList<QComboBox *> mappingBoxes(const QWidget *dialog)
{
    QList<QComboBox *> boxes;
    for (QComboBox *box : dialog->findChildren<QComboBox *>()) {
        if (box->property("column").isValid())
            boxes << box;
    }
    std::sort(boxes.begin(), boxes.end(), [](QComboBox *a, QComboBox *b) {
        return a->property("column").toInt() < b->property("column").toInt();
    });
    return boxes;
}

// Chooses the entry of `box` whose data is `data`, as the seller picks a field for a column.
inline void choose(QComboBox *box, const QString &data)
{
    box->setCurrentIndex(box->findData(data));
}

} // namespace TestSupport
