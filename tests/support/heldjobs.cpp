#include "tests/support/heldjobs.h"

#include "core/backgroundworker.h"

namespace TestSupport {

HeldJobs::HeldJobs()
    : m_state(std::make_shared<State>())
{
    // The hook holds the state itself: a test that ended early leaves nothing dangling.
    const std::shared_ptr<State> state = m_state;
    BackgroundWorker::setBeforeJobForTesting([state](const QString &) {
        state->entered.release();
        state->goOn.acquire();
    });
}

HeldJobs::~HeldJobs()
{
    letGo();
}

bool HeldJobs::entered(int ms)
{
    return m_state->entered.tryAcquire(1, ms);
}

void HeldJobs::letGo()
{
    BackgroundWorker::setBeforeJobForTesting({});
    // More than any test holds: a job held from now on goes on at once as well.
    m_state->goOn.release(1000);
}

} // namespace TestSupport
