#pragma once

#include "bulk/bulkwriter.h"

#include <QDialog>
#include <QMap>
#include <QString>
#include <QVariant>

#include <functional>
#include <memory>

class Api_Ebay;
class BulkRun;
class Database;
class QComboBox;
class QLineEdit;
class QProgressBar;

// What every bulk-edit dialog shares: the selected article ids, a database connection of
// its own, the "no change" first entry of its combo boxes, a fixed size, and the write
// loop of OK, which puts the same change record into every selected article, all of them
// in one transaction, as a job of the background worker: the dialog shows its progress and
// closes only once the job has told its result; "Abbrechen" stops it with nothing written.
//
// When the outcome of OK is not known (the answer to the commit was lost), the dialog closes
// as cancelled and outcomeUnknown() says so: the opener tells the seller, naming
// commandName(), and shows what is stored before anything may be sent again.
class BulkEditDialog : public QDialog
{
    Q_OBJECT

public:
    ~BulkEditDialog() override;

    // False when the dialog decided while it was built that it cannot be used (it has told
    // the seller why); the opener then must not run it.
    bool canOpen() const { return m_canOpen; }

    // True after an OK whose outcome is not known; the dialog was closed with 0.
    bool outcomeUnknown() const { return m_outcomeUnknown; }
    // The command in the seller's words, for "Ob %1 gespeichert wurde, ...": "die Änderung
    // der Zahlungsmethoden".
    virtual QString commandName() const = 0;

    // True while OK's write runs; the dialog waits for it.
    bool isWriting() const;

    // A progress for work in steps on the window's own thread: moves `bar` (when given) and
    // lets the window's events through at least every 30 ms, so that no step holds it long.
    static BulkWriter::Progress pacedProgress(QProgressBar *bar);
    // The seller's text for a command that stored nothing: the count of refused articles
    // or the lost connection, and the database's reason.
    static QString failureText(const BulkWriter::Result &result);

public slots:
    // Writes the change record into every selected article, whole or not at all, and
    // closes. A failed write is shown with the database's error text.
    void accept() override;
    // While OK's write runs: asks it to stop; the dialog closes once it has.
    void reject() override;

protected:
    BulkEditDialog(QWidget *parent, const QString &idList, const QString &connectionName);

    // The columns to write, built from the widgets; empty writes nothing.
    virtual QMap<QString, QVariant> changeRecord() const = 0;

    // Call at the end of the form's set-up: hides the progress bar.
    void setProgressBar(QProgressBar *bar, bool visibleWhileWriting = true);
    // Sizes the dialog to its contents and keeps it at that size.
    void fixSize();
    // The dialog will not be shown: the seller was told why.
    void refuseToOpen() { m_canOpen = false; }
    // Runs OK's write `job` over `total` articles on the background worker; `done` hears
    // its result (finishRun() ends the dialog by it).
    void startRun(int total, BulkWriter::Job job,
                  const std::function<void(const BulkWriter::Result &result)> &done);
    // Ends the run of OK by its result: 1 when stored, 0 with the failure told, 0 when it was
    // stopped, or 0 with outcomeUnknown() set.
    void finishRun(const BulkWriter::Result &result);
    // A marketplace client for the first active account, for reference data. Without an
    // active account the seller is told so and the dialog refuses to open (null).
    // The active accounts' rows go to `accounts` when given.
    std::unique_ptr<Api_Ebay> firstActiveAccountClient(QList<QMap<QString, QVariant>> *accounts
                                                       = nullptr);

    // "- keine Änderung vornehmen -" as entry 0 of `box` (item data: empty text).
    static void addNoChangeEntry(QComboBox *box);
    // Puts the chosen entry's item data into `record` unless the no-change entry is chosen.
    static void takeCombo(QMap<QString, QVariant> &record, const QComboBox *box,
                          const QString &column, bool asInteger = false);
    // Puts the edit's text into `record` when the seller typed into it.
    static void takeEdit(QMap<QString, QVariant> &record, const QLineEdit *edit,
                         const QString &column);

    std::unique_ptr<Database> db;
    QString idList;
    // The name of `db`.
    QString connectionName;

private:
    BulkRun *m_run = nullptr;
    QProgressBar *m_progressBar = nullptr;
    bool m_progressVisible = true;
    bool m_canOpen = true;
    bool m_outcomeUnknown = false;
};
