#include "bulk/bulkeditdialog.h"

#include "bulk/bulkwriter.h"
#include "core/database.h"
#include "core/statics.h"
#include "marketplace/api_ebay.h"

#include <QComboBox>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QProgressBar>

namespace {

// The window is repainted at least this often while the articles are written.
constexpr int kRepaintMs = 100;

} // namespace

BulkEditDialog::BulkEditDialog(QWidget *parent, const QString &idList,
                               const QString &connectionName)
    : QDialog(parent)
    , db(std::make_unique<Database>(true, connectionName))
    , idList(idList)
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
    const auto accounts = db->select(QStringLiteral("SELECT * FROM accounts WHERE active=1"));
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

void BulkEditDialog::accept()
{
    setEnabled(false);
    const QStringList ids = BulkWriter::articleIds(idList);
    if (m_progressBar) {
        m_progressBar->setMaximum(ids.size());
        m_progressBar->setValue(0);
        m_progressBar->setVisible(m_progressVisible);
    }
    QElapsedTimer sinceRepaint;
    sinceRepaint.start();
    const BulkWriter::Result result = BulkWriter::write(
        *db, ids, [this](const QString &) { return changeRecord(); },
        [this, &sinceRepaint](int done) {
            if (m_progressBar)
                m_progressBar->setValue(done);
            if (sinceRepaint.elapsed() >= kRepaintMs) {
                QCoreApplication::processEvents();
                sinceRepaint.restart();
            }
        });
    setEnabled(true);
    if (result.failed > 0) {
        const QString of
            = result.total == 1 ? tr("1 Artikel") : tr("%1 Artikeln").arg(result.total);
        const QString failed = result.failed == 1
            ? tr("1 von %1 konnte nicht geändert werden.").arg(of)
            : tr("%1 von %2 konnten nicht geändert werden.").arg(result.failed).arg(of);
        Statics::showMessage(
            this,
            failed + QStringLiteral("\n\n") + tr("Fehler der Datenbank: %1").arg(result.error), 2);
    }
    // The opener refreshes its rows on 1: that is right whenever anything was written.
    done(result.failed > 0 && result.written == 0 ? 0 : 1);
}
