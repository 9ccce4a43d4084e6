// End-to-end test support: a temporary program folder holding a copy of the
// real Gleanwick binary and the address-database library beside it, with
// its conf folder, a registry file and a mail store; runs the binary there
// and reads back what it left.
#pragma once

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

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

    // Runs the program with the arguments and extra environment entries
    // ("NAME=value"); standard input is /dev/null. Waits at most timeout.
    // inChild, when given, runs in the child just before the program starts
    // (to set a limit, drop privileges); killAfter, when not zero, kills the
    // program with SIGKILL that long after its start.
    RunResult Run(const std::vector<std::string>& args = {},
                  const std::vector<std::string>& env = {},
                  std::chrono::seconds timeout = std::chrono::seconds(120),
                  const std::function<void()>& inChild = {},
                  std::chrono::microseconds killAfter = std::chrono::microseconds(0)) const {
        RunResult result;
        int pipeFd[2];
        if (::pipe(pipeFd) != 0)
            return result;
        const std::string program = dir_ / "Gleanwick";
        const pid_t child = ::fork();
        if (child == 0) {
            ::dup2(pipeFd[1], 1);
            ::dup2(pipeFd[1], 2);
            ::close(pipeFd[0]);
            ::close(pipeFd[1]);
            const int devnull = ::open("/dev/null", O_RDONLY);
            ::dup2(devnull, 0);
            std::vector<std::string> argStore{program};
            argStore.insert(argStore.end(), args.begin(), args.end());
            std::vector<char*> argv;
            for (std::string& a : argStore)
                argv.push_back(a.data());
            argv.push_back(nullptr);
            std::vector<std::string> envStore;
            for (char** e = environ; *e; ++e)
                envStore.emplace_back(*e);
            envStore.insert(envStore.end(), env.begin(), env.end());
            std::vector<char*> envp;
            for (std::string& e : envStore)
                envp.push_back(e.data());
            envp.push_back(nullptr);
            if (inChild)
                inChild();
            ::execve(program.c_str(), argv.data(), envp.data());
            ::_exit(127);
        }
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
