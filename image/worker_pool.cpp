#include "image/worker_pool.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <new>
#include <stop_token>
#include <system_error>
#include <thread>
#include <vector>

namespace velmora {

namespace {

// How long a thread that is out of work watches for more before it sleeps.
// Waking a sleeping thread costs tens of microseconds on a virtual machine,
// as much as a whole small render; a render that follows another closely
// finds its threads still awake.
constexpr std::chrono::microseconds WatchBeforeSleeping{200};

// Tells the processor that this thread only waits, so that it spends less
// on it.
inline void Pause() noexcept {
#if defined(__x86_64__) || defined(__i386__)
    __builtin_ia32_pause();
#endif
}

// Calls done() until it is true or the watch is over; whether it is true.
template <typename Done>
bool WatchFor(Done&& done) {
    const auto end = std::chrono::steady_clock::now() + WatchBeforeSleeping;
    for (int looks = 0;; ++looks) {
        if (done()) {
            return true;
        }
        Pause();
        // The clock is read only now and then.
        if (looks % 64 == 63 && std::chrono::steady_clock::now() >= end) {
            return false;
        }
    }
}

class WorkerPool {
public:
    // Runs job on the caller and up to helpers pooled threads; false, running
    // nothing, while another job holds the pool, also when that job is the
    // caller's own. However job(0) ends, it returns or throws only once every
    // helper has left the job.
    bool Run(unsigned helpers, const std::function<void(unsigned)>& job) {
        // A flag rather than a mutex: a job may call in again from its own
        // thread, and a mutex must not be tried by the thread that holds it.
        if (busy_.exchange(true, std::memory_order_acquire)) {
            return false;
        }
        const HelpersFinish finish{*this};
        {
            const std::lock_guard<std::mutex> lock(mutex_);
            Grow(helpers);
            job_ = &job;
            helpers_ = std::min<std::size_t>(helpers, workers_.size());
            running_.store(helpers_, std::memory_order_relaxed);
            // Publishes the job: a thread that sees the new generation sees it.
            generation_.fetch_add(1, std::memory_order_release);
        }
        wake_.notify_all();
        job(0);
        return true;
    }

private:
    // On the way out of Run, however it is left: waits until no helper runs
    // the job, which the caller's leaving would destroy, then frees the pool.
    class HelpersFinish {
    public:
        explicit HelpersFinish(WorkerPool& pool) : pool_(pool) {}
        HelpersFinish(const HelpersFinish&) = delete;
        HelpersFinish& operator=(const HelpersFinish&) = delete;
        ~HelpersFinish() { pool_.WaitForHelpers(); }

    private:
        WorkerPool& pool_;
    };

    void WaitForHelpers() noexcept {
        const auto done = [this] { return running_.load(std::memory_order_acquire) == 0; };
        if (!WatchFor(done)) {
            std::unique_lock<std::mutex> lock(mutex_);
            done_.wait(lock, done);
        }
        busy_.store(false, std::memory_order_release);
    }

    // Starts threads until there are helpers of them, or as many as the
    // system allows.
    void Grow(unsigned helpers) {
        if (workers_.empty() && helpers > 0) {
            // The C++ library keeps the places where atomic waits sleep
            // (stop tokens and semaphores use them) in a table it makes on
            // first use. With MinGW, making it registers its destructor with
            // the C runtime, under the lock the runtime holds while the
            // program ends and runs this pool's destructor, which waits for
            // the helpers: a helper that made the table then would never
            // finish. Made here, before the first helper starts, it is made
            // while the program runs.
            std::atomic<int> first{0};
            first.notify_all();
        }
        while (workers_.size() < helpers) {
            const auto index = static_cast<unsigned>(workers_.size());
            try {
                workers_.emplace_back([this, index](std::stop_token stop) { Work(stop, index); });
            } catch (const std::system_error&) {
                return;
            } catch (const std::bad_alloc&) {
                return;
            }
        }
    }

    void Work(std::stop_token stop, unsigned index) {
        std::uint64_t seen = 0;
        for (;;) {
            const auto fresh = [&] { return generation_.load(std::memory_order_acquire) != seen; };
            if (!WatchFor(fresh)) {
                std::unique_lock<std::mutex> lock(mutex_);
                if (!wake_.wait(lock, stop, fresh)) {
                    return;  // the program ends
                }
            }
            // The generation, the job and its helpers, as one: a later job
            // can be published between a look at the generation and this.
            std::size_t helpers = 0;
            const std::function<void(unsigned)>* job = nullptr;
            {
                const std::lock_guard<std::mutex> lock(mutex_);
                seen = generation_.load(std::memory_order_relaxed);
                helpers = helpers_;
                job = job_;
            }
            if (index >= helpers) {
                continue;
            }
            (*job)(index + 1);
            if (running_.fetch_sub(1, std::memory_order_acq_rel) == 1) {
                // The last one: the caller may be asleep on done_.
                const std::lock_guard<std::mutex> lock(mutex_);
                done_.notify_all();
            }
        }
    }

    std::atomic<bool> busy_{false};  // set for the whole of a job
    std::mutex mutex_;  // guards job_ and helpers_, and the sleeps on wake_ and done_
    std::condition_variable_any wake_;
    std::condition_variable done_;
    const std::function<void(unsigned)>* job_ = nullptr;
    std::size_t helpers_ = 0;
    std::atomic<std::size_t> running_{0};
    std::atomic<std::uint64_t> generation_{0};
    // Last, so that the threads are stopped and joined before the rest goes.
    std::vector<std::jthread> workers_;
};

}  // namespace

void RunOnThreads(unsigned threads, const std::function<void(unsigned slot)>& job) {
    static WorkerPool pool;
    if (threads <= 1 || !pool.Run(threads - 1, job)) {
        job(0);
    }
}

}  // namespace velmora
