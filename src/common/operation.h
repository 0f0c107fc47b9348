// A window's operation name and the self-freeing worker that runs a long
// operation beside the window thread.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <string_view>

namespace kj {

inline constexpr const char* kIdle = "NONE";

class OperationName {
public:
    const char* get() const { return name_.load(); }
    bool isIdle() const { return std::string_view(get()) == kIdle; }
    bool is(std::string_view name) const { return std::string_view(get()) == name; }
    void set(const char* name);
    void setIdle() { set(kIdle); }
    // Blocks until the name reads "NONE" and no worker of this window is left
    // running, or `timeout` passes.
    bool waitIdle(std::chrono::milliseconds timeout) const;

private:
    friend void startWorker(OperationName&, std::function<void()>);
    void workerFinished();

    std::atomic<const char*> name_{kIdle};
    int workers_ = 0;
    mutable std::mutex mutex_;
    mutable std::condition_variable idle_;
};

// Starts `body` on a detached thread that frees itself when it returns. The
// body's last steps set the name back to "NONE".
void startWorker(OperationName& operation, std::function<void()> body);

}  // namespace kj
