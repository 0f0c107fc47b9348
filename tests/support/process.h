// Running the built programs from a test: a command to completion with its
// output captured, or a server kept running beside the test.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <future>
#include <sstream>
#include <string>
#include <thread>
#include <utility>
#include <vector>

extern char** environ;

namespace kjtest {

struct CommandResult {
    int status = -1;  // exit status, or -1 when it did not exit normally
    std::string out;
    std::string err;
    std::vector<std::string> lines() const {
        std::vector<std::string> result;
        std::istringstream in(out);
        for (std::string line; std::getline(in, line);) result.push_back(line);
        return result;
    }
};

inline std::vector<char*> argvOf(std::vector<std::string>& args) {
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    return argv;
}

inline std::string slurp(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// Runs `args` (args[0] the program) with stdin from `input` and waits for it.
inline CommandResult runCommand(std::vector<std::string> args, const char* input = "/dev/null") {
    const auto dir = std::filesystem::temp_directory_path();
    const auto tag = std::to_string(::getpid()) + "-" + std::to_string(std::rand());
    const auto outPath = dir / ("kj-out-" + tag);
    const auto errPath = dir / ("kj-err-" + tag);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, input, O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    auto argv = argvOf(args);
    pid_t pid = -1;
    CommandResult result;
    if (posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ) == 0) {
        int status = 0;
        ::waitpid(pid, &status, 0);
        if (WIFEXITED(status)) result.status = WEXITSTATUS(status);
    }
    posix_spawn_file_actions_destroy(&actions);
    result.out = slurp(outPath);
    result.err = slurp(errPath);
    std::filesystem::remove(outPath);
    std::filesystem::remove(errPath);
    return result;
}

// A program left running beside the test (killed at the end), whose standard
// output can be read line by line; its standard input is `input` when given.
class Server {
public:
    explicit Server(std::vector<std::string> args, int input = -1) {
        int out[2];
        if (::pipe(out) != 0) return;
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        if (input >= 0) posix_spawn_file_actions_adddup2(&actions, input, STDIN_FILENO);
        posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
        posix_spawn_file_actions_addclose(&actions, out[0]);
        auto argv = argvOf(args);
        if (posix_spawn(&pid_, argv[0], &actions, nullptr, argv.data(), environ) != 0) pid_ = -1;
        posix_spawn_file_actions_destroy(&actions);
        ::close(out[1]);
        out_ = out[0];
    }
    ~Server() {
        if (pid_ > 0) terminate();
        if (out_ >= 0) ::close(out_);
    }
    Server(const Server&) = delete;
    Server& operator=(const Server&) = delete;

    // The next line of its output; empty after `bound` without one, or at its end.
    std::string readLine(std::chrono::milliseconds bound = std::chrono::seconds(10)) {
        std::string line;
        const auto deadline = std::chrono::steady_clock::now() + bound;
        for (char c = 0;;) {
            const auto left =
                std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
            pollfd p{out_, POLLIN, 0};
            if (left.count() <= 0 || ::poll(&p, 1, static_cast<int>(left.count())) <= 0) break;
            if (::read(out_, &c, 1) != 1 || c == '\n') break;
            line += c;
        }
        return line;
    }
    // What is left of its output, up to its end or `bound`.
    std::string rest(std::chrono::milliseconds bound = std::chrono::seconds(10)) {
        std::string text;
        const auto deadline = std::chrono::steady_clock::now() + bound;
        char buffer[4096];
        for (;;) {
            const auto left =
                std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
            pollfd p{out_, POLLIN, 0};
            if (left.count() <= 0 || ::poll(&p, 1, static_cast<int>(left.count())) <= 0) break;
            const ssize_t n = ::read(out_, buffer, sizeof buffer);
            if (n <= 0) break;
            text.append(buffer, static_cast<size_t>(n));
        }
        return text;
    }
    // Sends SIGTERM and returns the exit status.
    int terminate() {
        signal(SIGTERM);
        return reap();
    }
    void signal(int number) const {
        if (pid_ > 0) ::kill(pid_, number);
    }
    // Waits until it catches `number` (its handler is installed); false after `bound`.
    bool awaitHandler(int number, std::chrono::milliseconds bound = std::chrono::seconds(10)) const {
        const auto deadline = std::chrono::steady_clock::now() + bound;
        const std::string status = "/proc/" + std::to_string(pid_) + "/status";
        for (; std::chrono::steady_clock::now() < deadline; std::this_thread::sleep_for(std::chrono::milliseconds(5))) {
            std::ifstream in(status);
            for (std::string line; std::getline(in, line);) {
                if (line.rfind("SigCgt:", 0) == 0 && (std::stoull(line.substr(7), nullptr, 16) >> (number - 1) & 1))
                    return true;
            }
        }
        return false;
    }
    // The reader of its standard output goes away, as `| head` does.
    void closeOutput() {
        if (out_ >= 0) ::close(std::exchange(out_, -1));
    }
    // Waits for the exit: the status, 128 + signal, or -1 when it had to be
    // killed after `bound` (only to catch a hang).
    int reap(std::chrono::milliseconds bound = std::chrono::seconds(10)) {
        if (pid_ <= 0) return -1;
        const pid_t pid = pid_;
        pid_ = -1;
        auto exited = std::async(std::launch::async, [pid] {
            int status = 0;
            ::waitpid(pid, &status, 0);
            return status;
        });
        const bool inTime = exited.wait_for(bound) == std::future_status::ready;
        if (!inTime) ::kill(pid, SIGKILL);
        const int status = exited.get();
        if (!inTime) return -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    }

private:
    pid_t pid_ = -1;
    int out_ = -1;
};

}  // namespace kjtest
