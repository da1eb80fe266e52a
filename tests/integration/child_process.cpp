#include "tests/integration/child_process.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <deque>
#include <fstream>
#include <stdexcept>
#include <thread>

namespace zrn::integration {

namespace {

int decodeStatus(int raw) {
    if (WIFEXITED(raw)) {
        return WEXITSTATUS(raw);
    }
    return WIFSIGNALED(raw) ? -WTERMSIG(raw) : -1;
}

// The child's report to the parent: a stage name and errno, written before
// _exit; nothing arrives when exec succeeds (the pipe closes on exec).
void reportAndExit(int pipeFd, const char* stage, int error) {
    const std::size_t length = std::strlen(stage);
    (void)!write(pipeFd, &error, sizeof error);
    (void)!write(pipeFd, stage, length);
    _exit(127);
}

}  // namespace

ChildProcess::ChildProcess(const std::vector<std::string>& argv, const std::string& logPath,
                           const BeforeExec& beforeExec) {
    std::vector<char*> args;
    for (const std::string& a : argv) {
        args.push_back(const_cast<char*>(a.c_str()));
    }
    args.push_back(nullptr);

    int report[2];
    if (pipe2(report, O_CLOEXEC) != 0) {
        throw std::runtime_error(std::string("pipe: ") + std::strerror(errno));
    }
    const int log = open(logPath.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
    if (log < 0) {
        close(report[0]);
        close(report[1]);
        throw std::runtime_error("cannot write " + logPath + ": " + std::strerror(errno));
    }
    pid_ = fork();
    if (pid_ == 0) {
        close(report[0]);
        // Should the test program die without stopping it, the child goes too.
        prctl(PR_SET_PDEATHSIG, SIGTERM);
        if (dup2(log, STDOUT_FILENO) < 0 || dup2(log, STDERR_FILENO) < 0) {
            reportAndExit(report[1], "dup2", errno);
        }
        const int devNull = open("/dev/null", O_RDONLY);
        if (devNull >= 0) {
            dup2(devNull, STDIN_FILENO);
        }
        if (beforeExec) {
            if (const char* failure = beforeExec(); failure != nullptr && *failure != '\0') {
                reportAndExit(report[1], failure, errno);
            }
        }
        execv(args[0], args.data());
        reportAndExit(report[1], "exec", errno);
    }
    const int forkError = errno;
    close(report[1]);
    close(log);
    if (pid_ < 0) {
        close(report[0]);
        throw std::runtime_error(std::string("fork: ") + std::strerror(forkError));
    }
    int childError = 0;
    char stage[128] = {};
    const ssize_t got = read(report[0], &childError, sizeof childError);
    const ssize_t stageLength = got > 0 ? read(report[0], stage, sizeof stage - 1) : 0;
    close(report[0]);
    if (got > 0) {
        int raw = 0;
        waitpid(pid_, &raw, 0);
        status_ = decodeStatus(raw);
        stage[stageLength > 0 ? stageLength : 0] = '\0';
        throw std::runtime_error(argv[0] + ": " + stage + ": " + std::strerror(childError));
    }
}

ChildProcess::~ChildProcess() {
    if (pid_ > 0 && !status_) {
        stop();
    }
}

std::optional<int> ChildProcess::poll() {
    if (!status_ && pid_ > 0) {
        int raw = 0;
        if (waitpid(pid_, &raw, WNOHANG) == pid_) {
            status_ = decodeStatus(raw);
        }
    }
    return status_;
}

int ChildProcess::stop(std::chrono::milliseconds grace) {
    if (poll()) {
        return *status_;
    }
    kill(pid_, SIGTERM);
    const auto deadline = std::chrono::steady_clock::now() + grace;
    while (!poll() && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    if (!status_) {
        kill(pid_, SIGKILL);
        int raw = 0;
        waitpid(pid_, &raw, 0);
        status_ = decodeStatus(raw);
    }
    return *status_;
}

std::string tailOf(const std::string& path, std::size_t lines) {
    std::ifstream in(path);
    std::deque<std::string> last;
    for (std::string line; std::getline(in, line);) {
        last.push_back(line);
        if (last.size() > lines) {
            last.pop_front();
        }
    }
    std::string out;
    for (const std::string& line : last) {
        out += "    | " + line + "\n";
    }
    return out;
}

}  // namespace zrn::integration
