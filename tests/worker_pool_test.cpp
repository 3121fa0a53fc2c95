// The pool of rendering threads: every slot once, callers that find it busy
// served on their own thread, and no return while a helper still runs the job.
#include "image/worker_pool.h"

#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>
#include <utility>
#include <vector>

using namespace velmora;

namespace {

// Many rounds, so that a job published twice or to a helper still busy with
// the one before shows up.
TEST(RunOnThreads, RunsEverySlotOnceAndSlotZeroOnTheCaller) {
    for (const unsigned threads : {1u, 2u, 3u, 7u}) {
        SCOPED_TRACE(std::to_string(threads) + " threads");
        for (int round = 0; round < 200; ++round) {
            std::vector<std::atomic<int>> calls(threads);
            std::atomic<int> outOfRange{0};
            std::thread::id slotZeroThread;
            RunOnThreads(threads, [&](unsigned slot) {
                if (slot >= threads) {
                    ++outOfRange;
                    return;
                }
                ++calls[slot];
                if (slot == 0) {
                    slotZeroThread = std::this_thread::get_id();
                }
            });
            ASSERT_EQ(outOfRange.load(), 0);
            for (unsigned slot = 0; slot < threads; ++slot) {
                ASSERT_EQ(calls[slot].load(), 1) << "slot " << slot << ", round " << round;
            }
            ASSERT_EQ(slotZeroThread, std::this_thread::get_id());
        }
    }
}

// While a job holds the pool, a call from inside it, or from another thread,
// runs slot 0 alone on its own thread instead of waiting for the pool.
TEST(RunOnThreads, CallersThatFindThePoolBusyRunAloneOnTheirThread) {
    struct Call {
        unsigned slot;
        std::thread::id thread;
    };
    std::mutex mutex;
    std::vector<std::pair<std::thread::id, std::vector<Call>>> callers;  // each caller's thread and its calls
    const auto callAgain = [&] {
        std::vector<Call> calls;
        std::mutex callsMutex;
        RunOnThreads(3, [&](unsigned slot) {
            const std::lock_guard<std::mutex> lock(callsMutex);
            calls.push_back({slot, std::this_thread::get_id()});
        });
        const std::lock_guard<std::mutex> lock(mutex);
        callers.emplace_back(std::this_thread::get_id(), calls);
    };
    RunOnThreads(3, [&](unsigned slot) {
        if (slot == 0) {
            callAgain();                      // nested, on the caller's thread
            std::thread(callAgain).join();    // from a thread outside the pool
        } else if (slot == 1) {
            callAgain();                      // nested, on a pooled thread
        }
    });
    ASSERT_EQ(callers.size(), 3u);
    for (const auto& [thread, calls] : callers) {
        ASSERT_EQ(calls.size(), 1u);
        EXPECT_EQ(calls[0].slot, 0u);
        EXPECT_EQ(calls[0].thread, thread);
    }
}

// Slot 0 ends at once, by returning or by throwing; the helpers linger after
// it. The caller must not go on while they still run the job it owns.
TEST(RunOnThreads, ReturnsOnlyAfterEveryHelperHasFinished) {
    constexpr unsigned Threads = 7;
    for (const bool slotZeroThrows : {false, true}) {
        SCOPED_TRACE(slotZeroThrows ? "slot 0 throws" : "slot 0 returns");
        std::atomic<bool> slotZeroDone{false};
        std::atomic<unsigned> started{0};
        std::atomic<unsigned> finished{0};
        // Kept here rather than made for the call, so that a caller that left
        // too early leaves a failed count, not helpers in freed memory.
        const std::function<void(unsigned)> job = [&](unsigned slot) {
            ++started;
            if (slot == 0) {
                slotZeroDone = true;
                if (slotZeroThrows) {
                    throw std::runtime_error("slot 0");
                }
                return;
            }
            while (!slotZeroDone) {
                std::this_thread::yield();
            }
            for (int i = 0; i < 1000; ++i) {
                std::this_thread::yield();
            }
            ++finished;
        };
        bool thrown = false;
        try {
            RunOnThreads(Threads, job);
        } catch (const std::runtime_error&) {
            thrown = true;
        }
        EXPECT_EQ(thrown, slotZeroThrows);
        EXPECT_EQ(started.load(), Threads);
        EXPECT_EQ(finished.load(), Threads - 1);
    }
}

}  // namespace
