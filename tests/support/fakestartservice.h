#pragma once

// The start-time service of the maker's server, as a test sees it: on a FakeHttpServer it
// tells the seller's credit and keeps the jobs it holds, so that a test can ask afterwards
// which jobs it still holds and which it was told to withdraw.
#include "tests/support/fakehttpserver.h"

#include <QMutex>
#include <QMutexLocker>
#include <QSet>
#include <QStringList>
#include <memory>

namespace TestSupport {

class FakeStartService
{
public:
    static QString creditPath() { return QStringLiteral("/zaruvovezira/planning.php"); }
    static QString withdrawPath() { return QStringLiteral("/zaruvovezira/listing_delete.php"); }

    // Answers on `server` from now on: the credit `credit`, and a job it holds is withdrawn
    // ("success"), one it does not hold is refused.
    explicit FakeStartService(FakeHttpServer &server, const QByteArray &credit = "25,00 €")
    {
        server.setReply(creditPath(), FakeReply::ok(credit));
        std::shared_ptr<State> state = m_state;
        server.setHandler(withdrawPath(), [state](const RecordedRequest &request) {
            const QString job = request.queryItem(QStringLiteral("id"));
            QMutexLocker lock(&state->mutex);
            state->asked << job;
            if (!state->jobs.remove(job))
                return FakeReply::ok("FAIL: Auftrag unbekannt");
            state->withdrawn << job;
            return FakeReply::ok("success");
        });
    }

    // The service holds the job `job` from now on (uploaded by the listing worker before).
    void hold(const QString &job)
    {
        QMutexLocker lock(&m_state->mutex);
        m_state->jobs.insert(job);
    }
    // The jobs it holds now, sorted.
    QStringList jobs() const
    {
        QMutexLocker lock(&m_state->mutex);
        QStringList held = m_state->jobs.values();
        held.sort();
        return held;
    }
    // The jobs it withdrew, in the order asked.
    QStringList withdrawn() const
    {
        QMutexLocker lock(&m_state->mutex);
        return m_state->withdrawn;
    }
    // Every withdrawal it was asked for, withdrawn or not.
    QStringList asked() const
    {
        QMutexLocker lock(&m_state->mutex);
        return m_state->asked;
    }

private:
    struct State
    {
        mutable QMutex mutex;
        QSet<QString> jobs;
        QStringList withdrawn;
        QStringList asked;
    };
    std::shared_ptr<State> m_state = std::make_shared<State>();
};

} // namespace TestSupport
