#pragma once

#include <QDialog>
#include <QMap>
#include <QString>
#include <QVariant>

#include <memory>

class Api_Ebay;
class Database;
class QComboBox;
class QLineEdit;
class QProgressBar;

// What every bulk-edit dialog shares: the selected article ids, a database connection of
// its own, the "no change" first entry of its combo boxes, a fixed size, and the write
// loop of OK, which puts the same change record into every selected article.
class BulkEditDialog : public QDialog
{
    Q_OBJECT

public:
    ~BulkEditDialog() override;

    // False when the dialog decided while it was built that it cannot be used (it has told
    // the seller why); the opener then must not run it.
    bool canOpen() const { return m_canOpen; }

public slots:
    // Writes the change record into every selected article and closes. A failed write is
    // shown with the database's error text.
    void accept() override;

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

private:
    QProgressBar *m_progressBar = nullptr;
    bool m_progressVisible = true;
    bool m_canOpen = true;
};
