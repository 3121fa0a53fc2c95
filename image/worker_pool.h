// Threads kept waiting between renders, so that a short render does not pay
// for starting threads each time.
#pragma once

#include <functional>

namespace velmora {

// Calls job(slot) once on each of threads threads and returns when every call
// has returned: slot 0 runs on the calling thread, slots 1 ... threads - 1 on
// pooled threads, started the first time they are needed and kept until the
// program ends. A job must not depend on how many slots really run: while
// another job holds the pool, or where threads cannot be started, fewer slots
// run (at least slot 0), so jobs should share out their work as they go. A
// call from inside a job, or from another thread while a job runs, runs its
// slot 0 alone on its own thread. When job(0) throws, the exception leaves
// only after every other slot has returned; a job that throws on a pooled
// thread ends the program.
void RunOnThreads(unsigned threads, const std::function<void(unsigned slot)>& job);

}  // namespace velmora
