// The decode worker's process on POSIX: fork and exec of this program with pipes on its
// standard input and output, limits set between the two.
#include "Platform.h"

#include <cerrno>
#include <climits>
#include <csignal>
#include <cstring>
#include <string>
#include <vector>

#include <cstddef>

#include <fcntl.h>
#include <linux/audit.h>
#include <linux/filter.h>
#include <linux/seccomp.h>
#include <poll.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

// The sanitizers' leak check traces the process at its end: no seccomp filter under them.
#if defined(__SANITIZE_ADDRESS__)
#define GW_ADDRESS_SANITIZER 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define GW_ADDRESS_SANITIZER 1
#endif
#endif

namespace platform {

namespace {
// All of `size` bytes written to `fd`; false when it is closed or fails (SIGPIPE is ignored
// here: a reader gone makes this fail with EPIPE).
bool write_all(int fd, const void* bytes, std::size_t size) {
    const auto* p = static_cast<const char*>(bytes);
    while (size > 0) {
        const ssize_t n = write(fd, p, size);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        p += n;
        size -= static_cast<std::size_t>(n);
    }
    return true;
}
} // namespace

struct Child::State {
    pid_t pid = -1;
    int input = -1;  // the child's standard input, written here
    int output = -1; // the child's standard output, read here
};

Child::Child() : state_(std::make_unique<State>()) {}

Child::~Child() {
    ChildEnd ignored;
    stop(ignored);
}

bool Child::start(const std::string& program, const std::vector<std::string>& arguments,
                  std::uint64_t memory_bytes) {
    ChildEnd ignored;
    stop(ignored);
    // A child that has gone makes the next write to it fail, rather than end this process.
    signal(SIGPIPE, SIG_IGN);
    int to_child[2];
    int from_child[2];
    if (pipe2(to_child, O_CLOEXEC) != 0) return false;
    if (pipe2(from_child, O_CLOEXEC) != 0) {
        close(to_child[0]);
        close(to_child[1]);
        return false;
    }
    // Everything the child needs is built before fork: between fork and exec only calls that
    // are safe in a copy of a process that may have other threads.
    std::vector<char*> argv;
    argv.push_back(const_cast<char*>(program.c_str()));
    for (const std::string& argument : arguments)
        argv.push_back(const_cast<char*>(argument.c_str()));
    argv.push_back(nullptr);
    const pid_t parent = getpid();
    struct rlimit memory = {};
    memory.rlim_cur = memory.rlim_max = static_cast<rlim_t>(memory_bytes);

    const pid_t pid = fork();
    if (pid == 0) {
        // Dies with the show, however the show ends.
        prctl(PR_SET_PDEATHSIG, SIGKILL);
        if (getppid() != parent) _exit(127);
        if (memory_bytes != 0) setrlimit(RLIMIT_DATA, &memory);
        // The show ignores these or catches them; the worker keeps the defaults.
        signal(SIGPIPE, SIG_DFL);
        for (int number : {SIGTERM, SIGINT, SIGHUP, SIGQUIT, SIGUSR1, SIGUSR2, SIGALRM})
            signal(number, SIG_DFL);
        if (dup2(to_child[0], 0) < 0 || dup2(from_child[1], 1) < 0) _exit(127);
        execv(program.c_str(), argv.data());
        _exit(127);
    }
    close(to_child[0]);
    close(from_child[1]);
    if (pid < 0) {
        close(to_child[1]);
        close(from_child[0]);
        return false;
    }
    fcntl(from_child[0], F_SETFL, fcntl(from_child[0], F_GETFL) | O_NONBLOCK);
    state_->pid = pid;
    state_->input = to_child[1];
    state_->output = from_child[0];
    return true;
}

bool Child::running() const { return state_->pid > 0; }

bool Child::send(const void* bytes, std::size_t size) {
    return state_->input >= 0 && write_all(state_->input, bytes, size);
}

long Child::receive(void* buffer, std::size_t size) {
    if (state_->output < 0) return -1;
    for (;;) {
        const ssize_t n = read(state_->output, buffer, size);
        if (n > 0) return static_cast<long>(n);
        if (n == 0) return -1;
        if (errno == EINTR) continue;
        return errno == EAGAIN || errno == EWOULDBLOCK ? 0 : -1;
    }
}

int Child::descriptor() const { return state_->output; }

void Child::stop(ChildEnd& how) {
    how = ChildEnd{};
    if (state_->input >= 0) close(state_->input);
    if (state_->output >= 0) close(state_->output);
    state_->input = state_->output = -1;
    if (state_->pid <= 0) return;
    int status = 0;
    // A child that already ended is reaped as it is; one still at work is killed.
    pid_t reaped = waitpid(state_->pid, &status, WNOHANG);
    if (reaped == 0) {
        kill(state_->pid, SIGKILL);
        while ((reaped = waitpid(state_->pid, &status, 0)) < 0 && errno == EINTR) {}
    }
    state_->pid = -1;
    if (reaped <= 0) return;
    if (WIFSIGNALED(status)) {
        how.signalled = true;
        how.code = WTERMSIG(status);
    } else if (WIFEXITED(status)) {
        how.code = WEXITSTATUS(status);
    }
}

std::string executable_path(const std::string& argument0) {
    std::vector<char> buffer(PATH_MAX + 1);
    const ssize_t n = readlink("/proc/self/exe", buffer.data(), buffer.size() - 1);
    if (n <= 0 || static_cast<std::size_t>(n) >= buffer.size() - 1) return argument0;
    return std::string(buffer.data(), static_cast<std::size_t>(n));
}

namespace {
int g_to_parent = -1;
} // namespace

void take_parent_channel() {
    g_to_parent = fcntl(1, F_DUPFD_CLOEXEC, 3);
    // What a library prints goes where the show's own messages go.
    dup2(2, 1);
}

bool read_from_parent(void* buffer, std::size_t size) {
    auto* p = static_cast<char*>(buffer);
    while (size > 0) {
        const ssize_t n = read(0, p, size);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        p += n;
        size -= static_cast<std::size_t>(n);
    }
    return true;
}

bool write_to_parent(const void* bytes, std::size_t size) {
    return write_all(g_to_parent, bytes, size);
}

namespace {
// The calls a decoder has no use for, which a file that took over the worker would need to do
// harm: reach the network, start programs, trace or signal other processes, and change files
// or folders. They fail with EPERM.
const long kDenied[] = {
    SYS_socket, SYS_socketpair, SYS_connect,   SYS_bind,     SYS_listen,
    SYS_accept, SYS_accept4,    SYS_execve,    SYS_execveat, SYS_fork,
    SYS_vfork,  SYS_ptrace,     SYS_kill,      SYS_unlink,   SYS_unlinkat,
    SYS_rename, SYS_renameat,   SYS_renameat2, SYS_mkdir,    SYS_mkdirat,
    SYS_rmdir,  SYS_link,       SYS_linkat,    SYS_symlink,  SYS_symlinkat,
    SYS_chmod,  SYS_fchmod,     SYS_fchmodat,  SYS_chown,    SYS_fchown,
    SYS_lchown, SYS_fchownat,   SYS_truncate,  SYS_mknod,    SYS_mknodat,
    SYS_creat,  SYS_mount,      SYS_umount2,   SYS_openat2,  SYS_process_vm_writev};

// A file opened for writing, created or truncated.
constexpr std::uint32_t kWriteFlags = O_WRONLY | O_RDWR | O_CREAT | O_TRUNC | O_APPEND;

[[maybe_unused]] void deny_what_decoding_does_not_need() {
    std::vector<sock_filter> program;
    const auto statement = [&program](std::uint16_t code, std::uint32_t k) {
        program.push_back(BPF_STMT(code, k));
    };
    const auto jump = [&program](std::uint16_t code, std::uint32_t k, std::uint8_t yes,
                                 std::uint8_t no) {
        program.push_back(BPF_JUMP(code, k, yes, no));
    };
    const std::uint32_t eperm = SECCOMP_RET_ERRNO | (EPERM & SECCOMP_RET_DATA);
    // Another architecture's calls (or the x32 ones) would bypass the numbers below.
    statement(BPF_LD | BPF_W | BPF_ABS, offsetof(seccomp_data, arch));
    jump(BPF_JMP | BPF_JEQ | BPF_K, AUDIT_ARCH_X86_64, 1, 0);
    statement(BPF_RET | BPF_K, SECCOMP_RET_KILL_PROCESS);
    statement(BPF_LD | BPF_W | BPF_ABS, offsetof(seccomp_data, nr));
    jump(BPF_JMP | BPF_JGE | BPF_K, 0x40000000u, 0, 1);
    statement(BPF_RET | BPF_K, eperm);
    for (const long number : kDenied) {
        jump(BPF_JMP | BPF_JEQ | BPF_K, static_cast<std::uint32_t>(number), 0, 1);
        statement(BPF_RET | BPF_K, eperm);
    }
    // open(path, flags) and openat(folder, path, flags): only for reading.
    jump(BPF_JMP | BPF_JEQ | BPF_K, SYS_open, 0, 3);
    statement(BPF_LD | BPF_W | BPF_ABS, offsetof(seccomp_data, args[1]));
    jump(BPF_JMP | BPF_JSET | BPF_K, kWriteFlags, 0, 1);
    statement(BPF_RET | BPF_K, eperm);
    statement(BPF_LD | BPF_W | BPF_ABS, offsetof(seccomp_data, nr));
    jump(BPF_JMP | BPF_JEQ | BPF_K, SYS_openat, 0, 3);
    statement(BPF_LD | BPF_W | BPF_ABS, offsetof(seccomp_data, args[2]));
    jump(BPF_JMP | BPF_JSET | BPF_K, kWriteFlags, 0, 1);
    statement(BPF_RET | BPF_K, eperm);
    statement(BPF_RET | BPF_K, SECCOMP_RET_ALLOW);
    sock_fprog filter = {};
    filter.len = static_cast<unsigned short>(program.size());
    filter.filter = program.data();
    prctl(PR_SET_SECCOMP, SECCOMP_MODE_FILTER, &filter, 0, 0);
}
} // namespace

void restrict_worker() {
    prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0);
    struct rlimit none = {};
    setrlimit(RLIMIT_CORE, &none);
#if !defined(GW_ADDRESS_SANITIZER)
    deny_what_decoding_does_not_need();
#endif
}

} // namespace platform
