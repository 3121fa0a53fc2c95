#include "image/worker_pool.h"

#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <stop_token>
#include <system_error>
#include <thread>
#include <vector>

namespace {

class WorkerPool {
public:
    // Runs job on the caller and up to helpers pooled threads; false, running
    // nothing, while another job holds the pool.
    bool Run(unsigned helpers, const std::function<void(unsigned)>& job) {
        std::unique_lock<std::mutex> busy(busy_, std::try_to_lock);
        if (!busy.owns_lock()) {
            return false;
        }
        {
            const std::lock_guard<std::mutex> lock(mutex_);
            Grow(helpers);
            job_ = &job;
            helpers_ = std::min<std::size_t>(helpers, workers_.size());
            running_ = helpers_;
            ++generation_;
        }
        wake_.notify_all();
        job(0);
        std::unique_lock<std::mutex> lock(mutex_);
        done_.wait(lock, [this] { return running_ == 0; });
        job_ = nullptr;
        return true;
    }

private:
    // Starts threads until there are helpers of them, or as many as the
    // system allows.
    void Grow(unsigned helpers) {
        while (workers_.size() < helpers) {
            const auto index = static_cast<unsigned>(workers_.size());
            try {
                workers_.emplace_back([this, index](std::stop_token stop) { Work(stop, index); });
            } catch (const std::system_error&) {
                return;
            }
        }
    }

    void Work(std::stop_token stop, unsigned index) {
        std::uint64_t seen = 0;
        std::unique_lock<std::mutex> lock(mutex_);
        for (;;) {
            if (!wake_.wait(lock, stop, [&] { return generation_ != seen; })) {
                return;  // the program ends
            }
            seen = generation_;
            if (index >= helpers_) {
                continue;
            }
            const std::function<void(unsigned)>* job = job_;
            lock.unlock();
            (*job)(index + 1);
            lock.lock();
            if (--running_ == 0) {
                done_.notify_all();
            }
        }
    }

    std::mutex busy_;  // held for the whole of a job
    std::mutex mutex_;
    std::condition_variable_any wake_;
    std::condition_variable done_;
    const std::function<void(unsigned)>* job_ = nullptr;
    std::size_t helpers_ = 0;
    std::size_t running_ = 0;
    std::uint64_t generation_ = 0;
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
