#include "bulk/bulkeditdialog.h"

#include "bulk/bulkrun.h"
#include "bulk/bulkwriter.h"
#include "core/database.h"
#include "core/statics.h"
#include "marketplace/api_ebay.h"

#include <QComboBox>
#include <QDialogButtonBox>
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
    const Read<SqlRows> read = db->select(QStringLiteral("SELECT * FROM accounts WHERE active=1"));
    if (!read.ok()) {
        // Not "no account": the dialog can't offer its choices and stores nothing.
        Statics::showMessage(nullptr,
                             tr("Die eBay-Konten konnten nicht aus der Datenbank gelesen werden, "
                                "der Dialog kann daher nicht geöffnet werden: %1")
                                 .arg(read.error()),
                             2);
        refuseToOpen();
        return nullptr;
    }
    const SqlRows &accounts = *read;
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

bool BulkEditDialog::isWriting() const
{
    return m_run && m_run->isRunning();
}

void BulkEditDialog::startRun(int total, BulkWriter::Job job,
                              const std::function<void(const BulkWriter::Result &)> &done)
{
    m_outcomeUnknown = false;
    if (!m_run)
        m_run = new BulkRun(this, findChild<QDialogButtonBox *>(QStringLiteral("buttonBox")),
                            m_progressBar, m_progressVisible);
    m_run->start(commandName(), total, std::move(job), done);
}

void BulkEditDialog::finishRun(const BulkWriter::Result &result)
{
    if (result.stored()) {
        m_run->tellStoredAnyway(this);
        done(1);
        return;
    }
    if (result.unknown()) {
        // The opener tells the seller and shows what is stored; OK must not send it again.
        m_outcomeUnknown = true;
        done(0);
        return;
    }
    // Stopped on request: nothing was written, and the seller reads so.
    if (result.cancelled)
        BulkRun::tellCancelled(this);
    else
        Statics::showMessage(this, failureText(result), 2);
    done(0);
}

void BulkEditDialog::accept()
{
    if (isWriting())
        return;
    const QStringList ids = BulkWriter::articleIds(idList);
    // The record is the same for every article: built once, before anything is written.
    const QMap<QString, QVariant> record = changeRecord();
    startRun(
        ids.size(),
        [ids, record](Database &writer, const BulkWriter::Progress &progress,
                      const BulkWriter::Stop &stop) {
            return BulkWriter::write(
                writer, ids, [&record](const QString &) { return record; }, progress, stop);
        },
        [this](const BulkWriter::Result &result) { finishRun(result); });
}

void BulkEditDialog::reject()
{
    if (m_run && m_run->cancel())
        return;
    QDialog::reject();
}
