#pragma once

#include <QDialog>
#include <QStringList>
#include <memory>

class Database;

namespace Ui {
class SearchAndReplace;
}

// Searches and replaces text in the ticked text columns of the selected articles: replace
// every occurrence, put text in front of or behind an empty search, or cut from the start
// up to a key ("%%%%key") or from a key to the end ("key%%%%").
class SearchAndReplace : public QDialog
{
    Q_OBJECT

public:
    SearchAndReplace(const QStringList &ids, QWidget *parent = nullptr);
    ~SearchAndReplace() override;

    // Set by a run that changed a column the marketplace shows, when "Artikel sofort in
    // den Ausgang legen und aktualisieren" is ticked: the opener queues the listings.
    bool moveToOutbox = false;

public slots:
    void accept() override;
    void reject() override;

private:
    void readSettings();
    void saveSettings();
    // Runs one statement; a failure is kept for the closing message.
    void run(const QString &sql);

    std::unique_ptr<Ui::SearchAndReplace> ui;
    std::unique_ptr<Database> db;
    QStringList ids;
    int m_written = 0;
    int m_failed = 0;
    QString m_error;
};
