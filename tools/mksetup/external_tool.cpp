#include "external_tool.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "scratch.h"

#ifdef _WIN32
#define popen _popen
#define pclose _pclose
#else
#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

namespace fs = std::filesystem;

namespace mksetup {

namespace {

#ifdef _WIN32
// One argument for the shell, taken literally.
void AppendQuoted(std::string& line, const std::string& arg) {
    line.push_back('"');
    for (char c : arg) {
        if (c == '"') line.push_back('\\');
        line.push_back(c);
    }
    line.push_back('"');
}
#endif

}  // namespace

fs::path FindOnPath(const std::string& program) {
    const char* path = std::getenv("PATH");
    if (!path) return {};
#ifdef _WIN32
    const char separator = ';';
    const std::string suffix = ".exe";
#else
    const char separator = ':';
    const std::string suffix;
#endif
    std::string all = path;
    for (std::size_t start = 0; start <= all.size();) {
        std::size_t end = all.find(separator, start);
        if (end == std::string::npos) end = all.size();
        fs::path candidate = fs::path(all.substr(start, end - start)) / (program + suffix);
        std::error_code ec;
        if (end > start && fs::is_regular_file(candidate, ec)) return candidate;
        start = end + 1;
    }
    return {};
}

#ifdef _WIN32

int RunTool(const fs::path& program, std::vector<std::string> args, std::string& output, const ToolSecret* secret) {
    // No pipe a tool could open by name here: the secret waits in a file of a
    // folder only this user may open, and goes with the folder.
    std::unique_ptr<PrivateFolder> folder;
    std::string hidden;
    if (secret) {
        std::string error;
        folder = PrivateFolder::Create(error);
        if (!folder || !folder->AddFile("secret", secret->bytes, error)) {
            output = error;
            return -1;
        }
        args[secret->argument] = (folder->Path() / "secret").string();
        if (const char* value = std::getenv(secret->environmentVariable.c_str())) {
            hidden = value;
            _putenv((secret->environmentVariable + "=").c_str());
        }
    }
    std::string command = "\"";  // cmd.exe strips one pair of quotes around the whole line
    AppendQuoted(command, program.string());
    for (const std::string& a : args) {
        command.push_back(' ');
        AppendQuoted(command, a);
    }
    command.append(" 2>&1\"");
    std::FILE* pipe = popen(command.c_str(), "r");
    if (!hidden.empty()) _putenv((secret->environmentVariable + "=" + hidden).c_str());
    if (!pipe) return -1;
    char buffer[4096];
    std::size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) output.append(buffer, n);
    return pclose(pipe);
}

#else

namespace {

// A descriptor closed once, whatever the way out.
struct Descriptor {
    int fd = -1;
    ~Descriptor() { Close(); }
    void Close() {
        if (fd >= 0) close(fd);
        fd = -1;
    }
};

// A descriptor above 0-2: a mksetup started with one of those closed would
// otherwise get a pipe there, and the child's own 0-2 would overwrite it.
int AboveStandard(int fd) {
    if (fd < 0 || fd > 2) return fd;
    int moved = fcntl(fd, F_DUPFD_CLOEXEC, 3);
    close(fd);
    return moved;
}

// Writes what the pipe takes now; false when the reader has gone.
bool WriteSome(int fd, const std::string& bytes, std::size_t& done) {
    while (done < bytes.size()) {
        ssize_t n = write(fd, bytes.data() + done, bytes.size() - done);
        if (n > 0) done += static_cast<std::size_t>(n);
        else if (n < 0 && errno == EINTR) continue;
        else return n < 0 && errno == EAGAIN;
    }
    return true;
}

}  // namespace

int RunTool(const fs::path& program, std::vector<std::string> args, std::string& output, const ToolSecret* secret) {
    Descriptor outRead, outWrite, secretRead, secretWrite, nothing;
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0) return -1;
    outRead.fd = AboveStandard(fds[0]), outWrite.fd = AboveStandard(fds[1]);
    if (outRead.fd < 0 || outWrite.fd < 0) return -1;
    nothing.fd = AboveStandard(open("/dev/null", O_RDONLY | O_CLOEXEC));
    std::size_t written = 0;
    if (secret) {
        // Both ends close on exec; only the read end is opened up, in the
        // child, so no other program ever holds the write end and the tool
        // sees the end of the secret.
        if (pipe2(fds, O_CLOEXEC) != 0) return -1;
        secretRead.fd = AboveStandard(fds[0]), secretWrite.fd = AboveStandard(fds[1]);
        if (secretRead.fd < 0 || secretWrite.fd < 0) return -1;
        fcntl(secretWrite.fd, F_SETFL, O_NONBLOCK);
        std::string path = "/dev/fd/" + std::to_string(secretRead.fd);
        struct stat byName, byDescriptor;
        if (stat(path.c_str(), &byName) != 0 || fstat(secretRead.fd, &byDescriptor) != 0 ||
            byName.st_ino != byDescriptor.st_ino || byName.st_dev != byDescriptor.st_dev) {
            output = "cannot hand the password over: " + path + " does not name a pipe here (is /proc mounted?)";
            return -1;
        }
        args[secret->argument] = path;
        // What fits goes in now, so a tool that reads once finds it whole;
        // the rest (a secret larger than the pipe) while the tool runs.
        if (!WriteSome(secretWrite.fd, secret->bytes, written)) {
            output = "cannot hand the password over: " + std::string(std::strerror(errno));
            return -1;
        }
        if (written == secret->bytes.size()) secretWrite.Close();
    }
    std::string programText = program.string();
    std::vector<char*> argv = {programText.data()};
    for (std::string& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    std::vector<char*> envp;
    std::string hide = secret ? secret->environmentVariable + "=" : std::string();
    for (char** e = environ; *e; ++e)
        if (hide.size() <= 1 || std::strncmp(*e, hide.c_str(), hide.size()) != 0) envp.push_back(*e);
    envp.push_back(nullptr);

    // A reader that leaves early must not end mksetup with SIGPIPE.
    struct sigaction ignore {}, oldPipe;
    ignore.sa_handler = SIG_IGN;
    sigaction(SIGPIPE, &ignore, &oldPipe);
    pid_t pid;
    {
        SignalsHeld held;  // started and registered as one step
        pid = fork();
        if (pid == 0) {
            dup2(nothing.fd, 0);
            dup2(outWrite.fd, 1);
            dup2(outWrite.fd, 2);
            if (secretRead.fd >= 0) fcntl(secretRead.fd, F_SETFD, 0);
            sigaction(SIGPIPE, &oldPipe, nullptr);
            pthread_sigmask(SIG_SETMASK, &held.OldMask(), nullptr);
            execve(programText.c_str(), argv.data(), envp.data());
            _exit(127);
        }
        if (pid > 0) SetRunningTool(pid);
    }
    outWrite.Close();
    secretRead.Close();
    if (pid < 0) {
        sigaction(SIGPIPE, &oldPipe, nullptr);
        return -1;
    }
    // Output and secret together: a tool that prints much before it reads
    // must not wait on us while we wait on it.
    for (bool reading = true; reading;) {
        pollfd watch[2] = {{outRead.fd, POLLIN, 0}, {secretWrite.fd, POLLOUT, 0}};
        if (poll(watch, secretWrite.fd >= 0 ? 2 : 1, -1) < 0) {
            if (errno == EINTR) continue;
            break;
        }
        if (watch[0].revents) {
            char buffer[4096];
            ssize_t n = read(outRead.fd, buffer, sizeof buffer);
            if (n > 0) output.append(buffer, static_cast<std::size_t>(n));
            else if (n == 0 || errno != EINTR) reading = false;
        }
        if (secretWrite.fd >= 0 && watch[1].revents &&
            (!WriteSome(secretWrite.fd, secret->bytes, written) || written == secret->bytes.size()))
            secretWrite.Close();
    }
    secretWrite.Close();
    // Waited for without reaping first: until it is reaped its number is
    // not reused, so a signal meanwhile can only ever stop our tool.
    siginfo_t ended;
    while (waitid(P_PID, static_cast<id_t>(pid), &ended, WEXITED | WNOWAIT) < 0 && errno == EINTR) {
    }
    SetRunningTool(0);
    int status = 0;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    sigaction(SIGPIPE, &oldPipe, nullptr);
    if (WIFEXITED(status) && WEXITSTATUS(status) == 127 && output.empty()) output = "cannot run " + programText;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

#endif

}  // namespace mksetup
