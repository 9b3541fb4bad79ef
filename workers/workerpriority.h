#pragma once

// The workers' share of the processor. They run below the window and below ordinary
// programs, yet are never starved: a busy machine slows a round down, it never stops it.
namespace WorkerPriority {

// The nice value of a worker thread (0 is normal, 19 the lowest).
constexpr int kNice = 10;

// Gives the calling thread the workers' nice value, unless it already runs lower (a program
// started with `nice`); its scheduling policy stays as it is
// (normal: an idle-scheduled thread would run only when nothing else wants to).
// Linux keeps a nice value per thread: the rest of the process is untouched, and threads the
// caller starts afterwards (such as the network thread of its HTTP requests) inherit it.
// False when the system refused.
bool lowerCurrentThread();

} // namespace WorkerPriority
