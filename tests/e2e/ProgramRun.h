// End-to-end test support: a temporary program folder holding a copy of the
// real Gleanwick binary and the address-database library beside it, with
// its conf folder, a registry file and a mail store; runs the binary there
// and reads back what it left.
#pragma once

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <filesystem>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/TempFolder.h"

namespace qb::test {

struct RunResult {
    int exitCode = -1;
    std::string output;  // standard output and standard error together
};

class ProgramFolder {
  public:
    // Copies the program and the library (copies, not links: the program
    // finds its folder through its own file).
    ProgramFolder(const std::string& program, const std::string& library) {
        namespace fs = std::filesystem;
        fs::copy_file(program, dir_ / "Gleanwick");
        if (!library.empty()) {
            fs::copy_file(library, dir_ / fs::path(library).filename().string());
        }
        fs::create_directories(dir_ / "conf");
    }

    const TempFolder& Dir() const { return dir_; }
    std::string operator/(const std::string& name) const { return dir_ / name; }
    void Write(const std::string& name, const std::string& content) const {
        dir_.Write(name, content);
    }
    std::string Read(const std::string& name) const { return dir_.Read(name); }
    bool Exists(const std::string& name) const { return dir_.Exists(name); }

    // Starts the program with the arguments and environment changes: "NAME=value"
    // sets a variable, a bare "NAME" removes it. Standard input is /dev/null,
    // standard output and error go to outFd; inChild runs in the child just
    // before the program starts (limits, another user). Returns the child's id.
    pid_t Start(const std::vector<std::string>& args, const std::vector<std::string>& env,
                int outFd, const std::function<void()>& inChild = {}) const {
        const std::string program = dir_ / "Gleanwick";
        std::vector<std::string> argStore{program};
        argStore.insert(argStore.end(), args.begin(), args.end());
        std::vector<std::string> envStore;
        for (char** e = environ; *e; ++e) {
            const std::string entry = *e;
            const std::string name = entry.substr(0, entry.find('='));
            const bool changed = std::any_of(env.begin(), env.end(), [&](const std::string& c) {
                return c.substr(0, c.find('=')) == name;
            });
            if (!changed)
                envStore.push_back(entry);
        }
        for (const std::string& c : env) {
            if (c.find('=') != std::string::npos)
                envStore.push_back(c);
        }
        std::vector<char*> argv, envp;
        for (std::string& a : argStore)
            argv.push_back(a.data());
        argv.push_back(nullptr);
        for (std::string& e : envStore)
            envp.push_back(e.data());
        envp.push_back(nullptr);
        const pid_t child = ::fork();
        if (child == 0) {
            ::dup2(outFd, 1);
            ::dup2(outFd, 2);
            const int devnull = ::open("/dev/null", O_RDONLY);
            ::dup2(devnull, 0);
            if (inChild)
                inChild();
            ::execve(program.c_str(), argv.data(), envp.data());
            ::_exit(127);
        }
        return child;
    }

    // Runs the program (see Start) and waits at most timeout for it;
    // killAfter, when not zero, kills the program with SIGKILL that long
    // after its start.
    RunResult Run(const std::vector<std::string>& args = {},
                  const std::vector<std::string>& env = {},
                  std::chrono::seconds timeout = std::chrono::seconds(120),
                  const std::function<void()>& inChild = {},
                  std::chrono::microseconds killAfter = std::chrono::microseconds(0)) const {
        RunResult result;
        int pipeFd[2];
        if (::pipe2(pipeFd, O_CLOEXEC) != 0)
            return result;
        const pid_t child = Start(args, env, pipeFd[1], inChild);
        ::close(pipeFd[1]);
        ::fcntl(pipeFd[0], F_SETFL, O_NONBLOCK);
        const auto started = std::chrono::steady_clock::now();
        const auto deadline = started + timeout;
        bool killed = false;
        int status = 0;
        for (;;) {
            if (killAfter.count() > 0 && !killed) {
                std::this_thread::sleep_until(started + killAfter);
                ::kill(child, SIGKILL);
                killed = true;
            }
            char buf[4096];
            ssize_t n;
            while ((n = ::read(pipeFd[0], buf, sizeof buf)) > 0)
                result.output.append(buf, n);
            const pid_t done = ::waitpid(child, &status, WNOHANG);
            if (done == child)
                break;
            if (std::chrono::steady_clock::now() > deadline) {
                ::kill(child, SIGKILL);
                ::waitpid(child, &status, 0);
                result.output += "\n<killed after timeout>";
                break;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        char buf[4096];
        ssize_t n;
        while ((n = ::read(pipeFd[0], buf, sizeof buf)) > 0)
            result.output.append(buf, n);
        ::close(pipeFd[0]);
        result.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        return result;
    }

    // The console log's lines without their "date : " prefix. A line that
    // does not start with a date (a continuation line) is kept whole.
    std::vector<std::string> ConsoleLines() const {
        std::vector<std::string> lines;
        const std::string log = Read("console.txt");
        if (log == "<missing>")
            return lines;
        size_t start = 0;
        while (start < log.size()) {
            size_t end = log.find("\r\n", start);
            if (end == std::string::npos)
                end = log.size();
            std::string line = log.substr(start, end - start);
            const size_t sep = line.find(" : ");
            if (sep != std::string::npos && line.find('/') < sep && line.find(':') < sep &&
                (line.compare(sep - 2, 2, "AM") == 0 || line.compare(sep - 2, 2, "PM") == 0)) {
                line = line.substr(sep + 3);
            }
            lines.push_back(line);
            start = end + 2;
        }
        return lines;
    }

  private:
    TempFolder dir_;
};

}  // namespace qb::test
