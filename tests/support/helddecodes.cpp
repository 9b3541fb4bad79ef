#include "tests/support/helddecodes.h"

#include "core/imagelimits.h"

namespace TestSupport {

namespace {
constexpr int kLongestHoldMs = 10000;
constexpr int kAll = 1000;
} // namespace

HeldDecodes::HeldDecodes(int timeoutMs, int holds)
    : m_state(std::make_shared<State>())
{
    // The decode thread keeps the state alive: it may still leave the hook after this goes.
    const std::shared_ptr<State> state = m_state;
    ImageLimits::setDecodeHook([state, holds] {
        if (holds >= 0 && ++state->calls > holds)
            return;
        ++state->holding;
        state->entered.release();
        state->release.tryAcquire(1, kLongestHoldMs);
        --state->holding;
    });
    if (timeoutMs >= 0) {
        m_savedTimeout = ImageLimits::decodeTimeout();
        ImageLimits::setDecodeTimeout(timeoutMs);
    }
}

HeldDecodes::~HeldDecodes()
{
    undo();
    m_state->release.release(kAll);
}

bool HeldDecodes::entered(int count, int ms)
{
    return m_state->entered.tryAcquire(count, ms);
}

int HeldDecodes::waiting() const
{
    return m_state->entered.available();
}

int HeldDecodes::holding() const
{
    return m_state->holding.load();
}

void HeldDecodes::letGo(int count)
{
    undo();
    m_state->release.release(count);
}

void HeldDecodes::undo()
{
    if (m_undone)
        return;
    m_undone = true;
    ImageLimits::setDecodeHook({});
    if (m_savedTimeout >= 0)
        ImageLimits::setDecodeTimeout(m_savedTimeout);
}

} // namespace TestSupport
