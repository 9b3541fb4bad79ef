#include "bulk/bulkeditdialog.h"

#include "bulk/bulkwriter.h"
#include "core/database.h"
#include "core/statics.h"
#include "marketplace/api_ebay.h"

#include <QComboBox>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QPointer>
#include <QProgressBar>

#include <memory>

namespace {

// The window's events are let through at least this often while the articles are written:
// with the step after it, no pause of the window is much longer.
constexpr int kStepMs = 30;

} // namespace

BulkEditDialog::BulkEditDialog(QWidget *parent, const QString &idList,
                               const QString &connectionName)
    : QDialog(parent)
    , db(std::make_unique<Database>(true, connectionName))
    , idList(idList)
    , connectionName(connectionName)
{ }

BulkEditDialog::~BulkEditDialog() = default;

void BulkEditDialog::setProgressBar(QProgressBar *bar, bool visibleWhileWriting)
{
    m_progressBar = bar;
    m_progressVisible = visibleWhileWriting;
    bar->setVisible(false);
}

void BulkEditDialog::fixSize()
{
    adjustSize();
    setMinimumSize(size());
    setMaximumSize(size());
}

std::unique_ptr<Api_Ebay>
BulkEditDialog::firstActiveAccountClient(QList<QMap<QString, QVariant>> *activeAccounts)
{
    const auto accounts
        = db->select(QStringLiteral("SELECT * FROM accounts WHERE active=1")).legacyValue();
    if (activeAccounts)
        *activeAccounts = accounts;
    if (accounts.isEmpty()) {
        Statics::showMessage(nullptr, tr("Es wurde kein aktives eBay Konto gefunden"), 2);
        refuseToOpen();
        return nullptr;
    }
    const auto &account = accounts.first();
    return std::make_unique<Api_Ebay>(account.value(QStringLiteral("token")).toString(), this,
                                      account.value(QStringLiteral("sandbox")).toInt());
}

void BulkEditDialog::addNoChangeEntry(QComboBox *box)
{
    box->addItem(QStringLiteral("- ") + tr("keine Änderung vornehmen") + QStringLiteral(" -"),
                 QString());
}

void BulkEditDialog::takeCombo(QMap<QString, QVariant> &record, const QComboBox *box,
                               const QString &column, bool asInteger)
{
    if (box->currentIndex() < 1)
        return;
    const QVariant data = box->currentData();
    record.insert(column, asInteger ? QVariant(data.toInt()) : QVariant(data.toString()));
}

void BulkEditDialog::takeEdit(QMap<QString, QVariant> &record, const QLineEdit *edit,
                              const QString &column)
{
    if (edit && edit->isModified())
        record.insert(column, edit->text());
}

BulkWriter::Progress BulkEditDialog::barProgress(QProgressBar *bar)
{
    QPointer<QProgressBar> shown(bar);
    return [shown](int done) {
        if (shown)
            shown->setValue(done);
    };
}

BulkWriter::Progress BulkEditDialog::pacedProgress(QProgressBar *bar)
{
    auto sinceEvents = std::make_shared<QElapsedTimer>();
    sinceEvents->start();
    QPointer<QProgressBar> shown(bar);
    return [sinceEvents, shown](int done) {
        if (shown)
            shown->setValue(done);
        if (sinceEvents->elapsed() >= kStepMs) {
            // The seller's input waits: the dialog is disabled and its write must not be
            // started a second time.
            QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
            sinceEvents->restart();
        }
    };
}

QString BulkEditDialog::failureText(const BulkWriter::Result &result)
{
    if (result.outcome == Database::Outcome::Refused && result.failed > 0) {
        const QString of
            = result.total == 1 ? tr("1 Artikel") : tr("%1 Artikeln").arg(result.total);
        const QString failed = result.failed == 1
            ? tr("1 von %1 konnte nicht geändert werden.").arg(of)
            : tr("%1 von %2 konnten nicht geändert werden.").arg(result.failed).arg(of);
        return failed + QLatin1Char('\n') + tr("Keiner der Artikel wurde geändert.")
            + QStringLiteral("\n\n") + tr("Fehler der Datenbank: %1").arg(result.error);
    }
    return tr("Die Änderung wurde nicht gespeichert; keiner der Artikel wurde geändert.")
        + QStringLiteral("\n\n") + result.error;
}

void BulkEditDialog::finishRun(const BulkWriter::Result &result)
{
    setEnabled(true);
    if (m_progressBar)
        m_progressBar->setVisible(false);
    if (result.stored()) {
        done(1);
        return;
    }
    if (result.unknown()) {
        // The opener tells the seller and shows what is stored; OK must not send it again.
        m_outcomeUnknown = true;
        done(0);
        return;
    }
    Statics::showMessage(this, failureText(result), 2);
    done(0);
}

void BulkEditDialog::accept()
{
    setEnabled(false);
    m_outcomeUnknown = false;
    const QStringList ids = BulkWriter::articleIds(idList);
    if (m_progressBar) {
        m_progressBar->setMaximum(ids.size());
        m_progressBar->setValue(0);
        m_progressBar->setVisible(m_progressVisible);
    }
    // The record is the same for every article: built once, before anything is written.
    const QMap<QString, QVariant> record = changeRecord();
    finishRun(BulkWriter::runInThread(
        connectionName,
        [&](Database &writer, const BulkWriter::Progress &progress) {
            return BulkWriter::write(
                writer, ids, [&record](const QString &) { return record; }, progress);
        },
        barProgress(m_progressBar)));
}
