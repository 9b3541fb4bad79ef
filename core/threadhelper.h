#pragma once

// The interruptible wait of the worker loops.
class ThreadHelper
{
public:
    // Waits in one-second steps, delivering the thread's queued calls after each.
    // Before each step: returns with `stop` = true when the application property
    // "AppDown" is 1; returns after resetting `skip` when it is true. Returns after
    // `seconds` + 1 steps; a negative `seconds` returns at once.
    static void WaitSeconds(int seconds, bool &stop, bool &skip);
};
