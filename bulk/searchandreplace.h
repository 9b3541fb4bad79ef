#pragma once

#include "bulk/bulkwriter.h"

#include <QDialog>
#include <QStringList>
#include <memory>

class BulkRun;
class Database;

namespace Ui {
class SearchAndReplace;
}

// Searches and replaces text in the ticked text columns of the selected articles: replace
// every occurrence, put text in front of or behind an empty search, or cut from the start
// up to a key ("%%%%key") or from a key to the end ("key%%%%"). Each article's new texts are
// computed from the texts read inside the run's transaction and written as values, all
// articles in that one transaction: whole or not at all, and the same when sent twice.
class SearchAndReplace : public QDialog
{
    Q_OBJECT

public:
    SearchAndReplace(const QStringList &ids, QWidget *parent = nullptr);
    ~SearchAndReplace() override;

    // Set by a run that changed a column the marketplace shows, when "Artikel sofort in
    // den Ausgang legen und aktualisieren" is ticked: the opener queues the listings.
    bool moveToOutbox = false;

    // True after an OK whose outcome is not known (the answer to the commit was lost): the
    // dialog was closed with 0, and the opener tells the seller before it may run again.
    bool outcomeUnknown() const { return m_outcomeUnknown; }

    // Running listings among the articles (`ids`): a run that sets moveToOutbox puts those
    // still running as stored into the outbox, in its own transaction, with `status` as
    // their state: the replacement and the queueing are stored together or not at all.
    void queueRunningListings(const QStringList &ids, const QString &status);
    // The listings a stored run put into the outbox.
    QList<int> queued() const { return m_queued; }

public slots:
    // Runs the replacement on the background worker; the dialog shows its progress and
    // closes once it is stored, or told why not.
    void accept() override;
    // While the run is under way: asks it to stop.
    void reject() override;

    // True while OK's run is under way; the dialog waits for it.
    bool isWriting() const;

private:
    void readSettings();
    void saveSettings();
    // Ends OK's run by its result; `queued`: the listings it put into the outbox.
    void finishRun(const BulkWriter::Result &result, const QList<int> &queued);

    std::unique_ptr<Ui::SearchAndReplace> ui;
    std::unique_ptr<Database> db;
    QStringList ids;
    // OK's run on the background worker, and how the dialog waits for it.
    BulkRun *m_run = nullptr;
    bool m_outcomeUnknown = false;
    QStringList m_running;
    QString m_queuedStatus;
    QList<int> m_queued;
};
