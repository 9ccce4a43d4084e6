// Starts tests/strings/local_servers.py (HTTP, FTP, a silent port and an
// unreachable one on 127.0.0.1) in a temporary folder for the lifetime of the object, and
// stops it by its process id. The script ends by itself after five minutes
// should a test die before stopping it.
#pragma once

#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <stdexcept>
#include <string>
#include <thread>

#include "tests/support/TempFolder.h"

extern char** environ;

namespace qb::test {

class LocalServers {
  public:
    LocalServers() {
        int fds[2];
        if (::pipe(fds) != 0)
            throw std::runtime_error("pipe failed");
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, fds[1], 1);
        posix_spawn_file_actions_addclose(&actions, fds[0]);
        const std::string script = QB_LOCAL_SERVERS_SCRIPT;
        const std::string root = folder_.Path();
        const char* argv[] = {"/usr/bin/python3", script.c_str(), root.c_str(), nullptr};
        const int rc = ::posix_spawn(&pid_, argv[0], &actions, nullptr,
                                     const_cast<char* const*>(argv), environ);
        posix_spawn_file_actions_destroy(&actions);
        ::close(fds[1]);
        if (rc != 0) {
            ::close(fds[0]);
            throw std::runtime_error("cannot start the local servers");
        }
        std::string line;
        pollfd p{fds[0], POLLIN, 0};
        while (line.find('\n') == std::string::npos && ::poll(&p, 1, 15000) > 0) {
            char buf[256];
            const ssize_t n = ::read(fds[0], buf, sizeof buf);
            if (n <= 0)
                break;
            line.append(buf, static_cast<size_t>(n));
        }
        ::close(fds[0]);
        if (std::sscanf(line.c_str(), "http=%d ftp=%d silent=%d full=%d", &http_, &ftp_, &silent_,
                        &full_) != 4) {
            Stop();
            throw std::runtime_error("the local servers did not start: " + line);
        }
    }
    ~LocalServers() { Stop(); }
    LocalServers(const LocalServers&) = delete;
    LocalServers& operator=(const LocalServers&) = delete;

    std::string Http() const { return "127.0.0.1:" + std::to_string(http_); }
    std::string Ftp() const { return "127.0.0.1:" + std::to_string(ftp_); }
    std::string Silent() const { return "127.0.0.1:" + std::to_string(silent_); }
    // A port that never completes a connection, as an unreachable host.
    std::string Unreachable() const { return "127.0.0.1:" + std::to_string(full_); }
    const TempFolder& Root() const { return folder_; }

  private:
    void Stop() {
        if (pid_ <= 0)
            return;
        ::kill(pid_, SIGTERM);
        for (int i = 0; i < 50; ++i) {
            if (::waitpid(pid_, nullptr, WNOHANG) == pid_) {
                pid_ = 0;
                return;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        ::kill(pid_, SIGKILL);
        ::waitpid(pid_, nullptr, 0);
        pid_ = 0;
    }

    TempFolder folder_;
    pid_t pid_ = 0;
    int http_ = 0, ftp_ = 0, silent_ = 0, full_ = 0;
};

}  // namespace qb::test
