// ChildProcess: fork and exec with a captured output file; waitpid polled
// until a deadline.
#include "child_process.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>

extern char** environ;

namespace {

double Now() {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) * 1e-9;
}

}  // namespace

ChildProcess::ChildProcess(const std::string& program, const std::vector<std::string>& args,
                           const std::vector<std::string>& env) {
    char path[] = "/tmp/mereglass-child-XXXXXX";
    const int out = mkstemp(path);
    if (out < 0) return;
    outputPath_ = path;

    // Everything the child needs is made before fork.
    std::vector<std::string> environment;
    for (char** e = environ; *e != nullptr; ++e) {
        const char* eq = std::strchr(*e, '=');
        const std::string name(*e, eq != nullptr ? static_cast<size_t>(eq - *e) : std::strlen(*e));
        bool replaced = false;
        for (const std::string& extra : env) {
            if (extra.compare(0, name.size() + 1, name + "=") == 0) replaced = true;
        }
        if (!replaced) environment.emplace_back(*e);
    }
    environment.insert(environment.end(), env.begin(), env.end());
    std::vector<char*> envp;
    for (std::string& e : environment) envp.push_back(e.data());
    envp.push_back(nullptr);
    std::vector<std::string> argStrings = args;
    std::vector<char*> argv;
    for (std::string& a : argStrings) argv.push_back(a.data());
    argv.push_back(nullptr);

    pid_ = fork();
    if (pid_ == 0) {
        dup2(out, 1);
        dup2(out, 2);
        const int devnull = open("/dev/null", O_RDONLY);
        if (devnull >= 0) dup2(devnull, 0);
        // The test may block signals; the program starts with none blocked.
        sigset_t none;
        sigemptyset(&none);
        sigprocmask(SIG_SETMASK, &none, nullptr);
        execve(program.c_str(), argv.data(), envp.data());
        _exit(127);
    }
    close(out);
}

ChildProcess::~ChildProcess() {
    if (pid_ > 0 && status_ < 0) {
        kill(pid_, SIGKILL);
        int st = 0;
        waitpid(pid_, &st, 0);
    }
    if (!outputPath_.empty()) unlink(outputPath_.c_str());
}

bool ChildProcess::Signal(int signal) {
    if (pid_ <= 0 || status_ >= 0) return false;
    return kill(pid_, signal) == 0;
}

bool ChildProcess::Wait(double seconds) {
    if (pid_ <= 0) return false;
    if (status_ >= 0) return true;
    const double end = Now() + seconds;
    for (;;) {
        int st = 0;
        const pid_t r = waitpid(pid_, &st, WNOHANG);
        if (r == pid_) {
            endSignal_ = WIFSIGNALED(st) ? WTERMSIG(st) : 0;
            status_ = WIFEXITED(st) ? WEXITSTATUS(st) : 128 + WTERMSIG(st);
            return true;
        }
        if (Now() >= end) return false;
        usleep(10000);
    }
}

bool ChildProcess::running() { return !Wait(0.0); }

std::string ChildProcess::Output() const {
    std::ifstream in(outputPath_);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

std::string LsanOptionsForOtherUser(const std::string& dir) {
    const char* lsan = std::getenv("LSAN_OPTIONS");
    if (lsan == nullptr) return {};
    // The suppressions file named there may lie where the user cannot read it.
    std::string options = lsan;
    const size_t at = options.find("suppressions=");
    if (at != std::string::npos) {
        const size_t begin = at + sizeof "suppressions=" - 1;
        const size_t end = options.find(':', begin);
        const std::string copy = dir + "/lsan.supp";
        std::filesystem::copy_file(options.substr(begin, end - begin), copy,
                                   std::filesystem::copy_options::overwrite_existing);
        chmod(copy.c_str(), 0644);
        options.replace(begin, end == std::string::npos ? end : end - begin, copy);
    }
    return "LSAN_OPTIONS=" + options;
}
