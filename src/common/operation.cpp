#include "common/operation.h"

#include <thread>

namespace kj {

void OperationName::set(const char* name) {
    std::lock_guard lock(mutex_);
    name_.store(name);
    idle_.notify_all();
}

bool OperationName::waitIdle(std::chrono::milliseconds timeout) const {
    std::unique_lock lock(mutex_);
    return idle_.wait_for(lock, timeout, [this] { return isIdle() && workers_ == 0; });
}

void OperationName::workerFinished() {
    std::lock_guard lock(mutex_);
    --workers_;
    // Under the lock: a waiter may free this object as soon as it can see the count.
    idle_.notify_all();
}

void startWorker(OperationName& operation, std::function<void()> body) {
    {
        std::lock_guard lock(operation.mutex_);
        ++operation.workers_;
    }
    std::thread([&operation, body = std::move(body)] {
        body();
        operation.workerFinished();
    }).detach();
}

}  // namespace kj
