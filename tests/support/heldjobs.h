#pragma once

#include <QSemaphore>

#include <memory>

namespace TestSupport {

// Holds each job of the background worker before it starts until it is let go: what the
// window does while a job waits or runs, without a job that really takes long. When it goes,
// the hook is undone and held jobs are let go.
class HeldJobs
{
public:
    HeldJobs();
    ~HeldJobs();
    HeldJobs(const HeldJobs &) = delete;
    HeldJobs &operator=(const HeldJobs &) = delete;

    // Waits until one more job is held, `ms` at most.
    bool entered(int ms = 10000);
    // Holds no further jobs and lets the held one go on.
    void letGo();

private:
    struct State
    {
        QSemaphore entered;
        QSemaphore goOn;
    };
    std::shared_ptr<State> m_state;
};

} // namespace TestSupport
