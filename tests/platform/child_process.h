// ChildProcess: runs the mereglass program (or any program) for a test, with
// extra environment variables, standard output and error captured in a
// file, and waits for it with a time limit. Kills it with SIGKILL if it is
// still running when the object goes.
#pragma once

#include <sys/types.h>

#include <string>
#include <utility>
#include <vector>

class ChildProcess {
public:
    // Starts `program` with `args` (argv[0] is the program) and the test's
    // environment plus `env` ("NAME=value" entries replace or add).
    ChildProcess(const std::string& program, const std::vector<std::string>& args,
                 const std::vector<std::string>& env = {});
    ~ChildProcess();
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    bool started() const { return pid_ > 0; }
    pid_t pid() const { return pid_; }
    // Sends a signal; false when the process has ended already.
    bool Signal(int signal);
    // Waits at most `seconds` for the process to end. True when it ended;
    // its exit status (or 128 + signal) is then in status().
    bool Wait(double seconds);
    bool running();
    int status() const { return status_; }
    // The signal that ended the process, or 0 when it exited.
    int endSignal() const { return endSignal_; }
    // What the process wrote to standard output and error so far.
    std::string Output() const;

private:
    pid_t pid_ = -1;
    int status_ = -1;
    int endSignal_ = 0;
    std::string outputPath_;
};

// The LSAN_OPTIONS entry ("LSAN_OPTIONS=...") for a child that runs as
// another user, its suppressions file copied into `dir` where that user can
// read it; empty when the test runs without LSAN_OPTIONS.
std::string LsanOptionsForOtherUser(const std::string& dir);
