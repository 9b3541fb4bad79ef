#pragma once

#include <QSemaphore>

#include <atomic>
#include <memory>

namespace TestSupport {

// Holds picture decodes at their start until they are let go (or 10 s have passed), and gives
// decodes a time-out of their own meanwhile: what a decode that takes too long does to its
// caller, without a picture that really takes long. Only the first `holds` decodes are held
// (-1: all). When it goes, the hook and the time-out are undone and held decodes let go.
class HeldDecodes
{
public:
    explicit HeldDecodes(int timeoutMs = -1, int holds = -1);
    ~HeldDecodes();
    HeldDecodes(const HeldDecodes &) = delete;
    HeldDecodes &operator=(const HeldDecodes &) = delete;

    // Waits until `count` more decodes are held, `ms` at most.
    bool entered(int count = 1, int ms = 10000);
    // Decodes held and not yet waited for by entered().
    int waiting() const;
    // Decodes held at this moment (not yet let go).
    int holding() const;
    // Holds no further decodes, restores the time-out and lets `count` held decodes go on.
    void letGo(int count = 1);

private:
    struct State
    {
        QSemaphore entered;
        QSemaphore release;
        std::atomic<int> calls { 0 };
        std::atomic<int> holding { 0 };
    };
    void undo();

    std::shared_ptr<State> m_state;
    int m_savedTimeout = -1;
    bool m_undone = false;
};

} // namespace TestSupport
