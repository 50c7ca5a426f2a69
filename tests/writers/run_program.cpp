#include "run_program.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace testing_support {

RunResult run_program(const std::string &program, const std::vector<std::string> &args, const std::string &cwd,
                      const std::vector<std::pair<std::string, std::string>> &env, const std::string &argv0,
                      int limit) {
    int out_pipe[2], err_pipe[2];
    if (pipe(out_pipe) != 0 || pipe(err_pipe) != 0) throw std::runtime_error("pipe failed");
    pid_t pid = fork();
    if (pid < 0) throw std::runtime_error("fork failed");
    if (pid == 0) {
        int null_in = open("/dev/null", O_RDONLY);
        dup2(null_in, 0);
        dup2(out_pipe[1], 1);
        dup2(err_pipe[1], 2);
        // Only 0, 1 and 2 go to the program: a pipe end left open in a
        // process that outlives it would keep the reads below waiting.
        close(out_pipe[0]);
        close(err_pipe[0]);
        close(out_pipe[1]);
        close(err_pipe[1]);
        if (null_in > 2) close(null_in);
        if (limit > 0) setpgid(0, 0);
        if (!cwd.empty() && chdir(cwd.c_str()) != 0) _exit(126);
        for (const auto &[k, v] : env) setenv(k.c_str(), v.c_str(), 1);
        std::vector<char *> argv;
        std::string a0 = argv0.empty() ? program : argv0;
        argv.push_back(a0.data());
        std::vector<std::string> copy = args;
        for (auto &a : copy) argv.push_back(a.data());
        argv.push_back(nullptr);
        execv(program.c_str(), argv.data());
        _exit(127);
    }
    close(out_pipe[1]);
    close(err_pipe[1]);
    RunResult r;
    pollfd fds[2] = {{out_pipe[0], POLLIN, 0}, {err_pipe[0], POLLIN, 0}};
    int open_count = 2;
    char buf[65536];
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(limit);
    while (open_count > 0) {
        int wait_ms = -1;
        if (limit > 0 && !r.timed_out) {
            wait_ms = int(std::chrono::ceil<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now()).count());
            if (wait_ms <= 0) {
                kill(-pid, SIGKILL);
                r.timed_out = true;
                wait_ms = -1;
            }
        }
        const int ready = poll(fds, 2, wait_ms);
        if (ready == 0) continue;
        if (ready < 0) break;
        for (int i = 0; i < 2; ++i) {
            if (fds[i].fd < 0 || !(fds[i].revents & (POLLIN | POLLHUP | POLLERR))) continue;
            ssize_t n = read(fds[i].fd, buf, sizeof buf);
            if (n <= 0) {
                close(fds[i].fd);
                fds[i].fd = -1;
                --open_count;
            } else {
                (i == 0 ? r.out : r.err).append(buf, size_t(n));
            }
        }
    }
    int wstatus = 0;
    waitpid(pid, &wstatus, 0);
    r.signal = WIFSIGNALED(wstatus) ? WTERMSIG(wstatus) : 0;
    r.status = WIFEXITED(wstatus) ? WEXITSTATUS(wstatus) : 128 + r.signal;
    return r;
}

std::string make_temp_dir() {
    const char *base = std::getenv("TMPDIR");
    std::string tmpl = std::string(base && *base ? base : "/tmp") + "/funsize-test-XXXXXX";
    if (!mkdtemp(tmpl.data())) throw std::runtime_error("mkdtemp failed");
    return tmpl;
}

void write_file(const std::string &path, const std::string &bytes) {
    std::ofstream f(path, std::ios::binary);
    f.write(bytes.data(), std::streamsize(bytes.size()));
}

std::string replace_all(std::string text, const std::string &from, const std::string &to) {
    for (size_t at = 0; (at = text.find(from, at)) != std::string::npos; at += to.size()) text.replace(at, from.size(), to);
    return text;
}

std::string read_file(const std::string &path) {
    std::ifstream f(path, std::ios::binary);
    std::stringstream ss;
    ss << f.rdbuf();
    return ss.str();
}

}  // namespace testing_support
