#pragma once

#include <QDialog>
#include <QList>
#include <QMap>
#include <QString>
#include <memory>

class Database;
class QCheckBox;

namespace Ui {
class AddArticleSelectCountries;
}

// The ship-to locations of one international shipping service: one check box per location
// of the marketplace site, the ones chosen so far checked.
class AddArticleSelectCountries : public QDialog
{
    Q_OBJECT

public:
    // `chosen`: location codes joined by ","; `siteId`: the site number as decimal text.
    AddArticleSelectCountries(QWidget *parent, Database *db, const QString &chosen,
                              const QString &siteId);
    ~AddArticleSelectCountries() override;

    // The texts of the checked boxes in display order joined by ","; "Weltweit" when none.
    QString getCheckedAsText() const;
    // Their location codes joined by ","; "Worldwide" when none.
    QString getCheckedAdIds() const;

    // The site's locations in the order shown: Americas, US and CA first, Asia, JP and AU
    // last, the others as the marketplace gave them.
    static QList<QMap<QString, QString>> ordered(QList<QMap<QString, QString>> rows);

private:
    void addSeparator(int position);

    std::unique_ptr<Ui::AddArticleSelectCountries> m_ui;
    QList<QCheckBox *> m_boxes;
};
