// The decode worker's process on Windows: this program started again with pipes on its
// standard input and output, inside a job that holds its memory and ends it with the show.
#include "Platform.h"

#include <windows.h>

#include <string>
#include <vector>

namespace platform {

struct Child::State {
    HANDLE process = nullptr;
    HANDLE job = nullptr;
    HANDLE input = nullptr;  // the child's standard input, written here
    HANDLE output = nullptr; // the child's standard output, read here
};

namespace {
void close_handle(HANDLE& handle) {
    if (handle) CloseHandle(handle);
    handle = nullptr;
}

// One argument as the C run-time parses it back: quoted when it holds a blank or a quote
// (or is empty), backslashes then doubled before a quote.
void append_argument(std::string& line, const std::string& argument) {
    if (!argument.empty() && argument.find_first_of(" \t\"") == std::string::npos) {
        line += argument;
        return;
    }
    line += '"';
    std::size_t backslashes = 0;
    for (char c : argument) {
        if (c == '\\') {
            ++backslashes;
            continue;
        }
        line.append(c == '"' ? backslashes * 2 + 1 : backslashes, '\\');
        backslashes = 0;
        line += c;
    }
    line.append(backslashes * 2, '\\');
    line += '"';
}
// All of `size` bytes through `handle` (written, or read into `buffer`), 64 KiB a call; false
// when the other end is gone.
bool write_all(HANDLE handle, const void* bytes, std::size_t size) {
    const auto* p = static_cast<const char*>(bytes);
    while (size > 0) {
        DWORD written = 0;
        const DWORD chunk = size > 0x10000 ? 0x10000 : static_cast<DWORD>(size);
        if (!WriteFile(handle, p, chunk, &written, nullptr) || written == 0) return false;
        p += written;
        size -= written;
    }
    return true;
}
bool read_all(HANDLE handle, void* buffer, std::size_t size) {
    auto* p = static_cast<char*>(buffer);
    while (size > 0) {
        DWORD read = 0;
        const DWORD chunk = size > 0x10000 ? 0x10000 : static_cast<DWORD>(size);
        if (!ReadFile(handle, p, chunk, &read, nullptr) || read == 0) return false;
        p += read;
        size -= read;
    }
    return true;
}
} // namespace

Child::Child() : state_(std::make_unique<State>()) {}

Child::~Child() {
    ChildEnd ignored;
    stop(ignored);
}

bool Child::start(const std::string& program, const std::vector<std::string>& arguments,
                  std::uint64_t memory_bytes) {
    ChildEnd ignored;
    stop(ignored);
    SECURITY_ATTRIBUTES inherited = {sizeof inherited, nullptr, TRUE};
    HANDLE child_input = nullptr;
    HANDLE child_output = nullptr;
    if (!CreatePipe(&child_input, &state_->input, &inherited, 0)) return false;
    if (!CreatePipe(&state_->output, &child_output, &inherited, 0)) {
        close_handle(child_input);
        close_handle(state_->input);
        return false;
    }
    // Only the child's ends are inherited.
    SetHandleInformation(state_->input, HANDLE_FLAG_INHERIT, 0);
    SetHandleInformation(state_->output, HANDLE_FLAG_INHERIT, 0);

    // Closing the job's last handle (the show ending in any way) ends the worker.
    state_->job = CreateJobObjectA(nullptr, nullptr);
    if (state_->job) {
        JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits = {};
        limits.BasicLimitInformation.LimitFlags =
            JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE | JOB_OBJECT_LIMIT_DIE_ON_UNHANDLED_EXCEPTION;
        if (memory_bytes != 0) {
            limits.BasicLimitInformation.LimitFlags |= JOB_OBJECT_LIMIT_PROCESS_MEMORY;
            limits.ProcessMemoryLimit = static_cast<SIZE_T>(memory_bytes);
        }
        SetInformationJobObject(state_->job, JobObjectExtendedLimitInformation, &limits,
                                sizeof limits);
    }

    std::string line;
    append_argument(line, program);
    for (const std::string& argument : arguments) {
        line += ' ';
        append_argument(line, argument);
    }
    std::vector<char> writable(line.begin(), line.end());
    writable.push_back('\0');
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = child_input;
    startup.hStdOutput = child_output;
    startup.hStdError = GetStdHandle(STD_ERROR_HANDLE);
    PROCESS_INFORMATION process = {};
    const BOOL created =
        CreateProcessA(program.c_str(), writable.data(), nullptr, nullptr, TRUE,
                       CREATE_SUSPENDED | CREATE_NO_WINDOW, nullptr, nullptr, &startup, &process);
    close_handle(child_input);
    close_handle(child_output);
    if (!created) {
        close_handle(state_->input);
        close_handle(state_->output);
        close_handle(state_->job);
        return false;
    }
    if (state_->job) AssignProcessToJobObject(state_->job, process.hProcess);
    ResumeThread(process.hThread);
    CloseHandle(process.hThread);
    state_->process = process.hProcess;
    return true;
}

bool Child::running() const { return state_->process != nullptr; }

bool Child::send(const void* bytes, std::size_t size) {
    return state_->input && write_all(state_->input, bytes, size);
}

long Child::receive(void* buffer, std::size_t size) {
    if (!state_->output) return -1;
    // An anonymous pipe cannot be waited on beside the message queue: what has arrived is
    // looked at first, so that the read never blocks.
    DWORD available = 0;
    if (!PeekNamedPipe(state_->output, nullptr, 0, nullptr, &available, nullptr)) return -1;
    if (available == 0) return 0;
    const DWORD wanted = size < available ? static_cast<DWORD>(size) : available;
    DWORD read = 0;
    if (!ReadFile(state_->output, buffer, wanted, &read, nullptr)) return -1;
    return static_cast<long>(read);
}

int Child::descriptor() const { return -1; }

void Child::stop(ChildEnd& how) {
    how = ChildEnd{};
    close_handle(state_->input);
    close_handle(state_->output);
    if (state_->process) {
        DWORD code = 0;
        if (WaitForSingleObject(state_->process, 0) == WAIT_TIMEOUT) {
            TerminateProcess(state_->process, 1);
            WaitForSingleObject(state_->process, INFINITE);
            how.signalled = true;
            how.code = 9;
        } else if (GetExitCodeProcess(state_->process, &code)) {
            // An exception that ended it shows as its NTSTATUS code.
            how.signalled = code >= 0xC0000000u;
            how.code = static_cast<int>(code & 0x7fffffffu);
        }
    }
    close_handle(state_->process);
    close_handle(state_->job);
}

std::string executable_path(const std::string& argument0) {
    char module[MAX_PATH + 1] = {};
    const DWORD length = GetModuleFileNameA(nullptr, module, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) return argument0;
    return std::string(module, length);
}

namespace {
HANDLE g_from_parent = nullptr;
HANDLE g_to_parent = nullptr;
} // namespace

void take_parent_channel() {
    g_from_parent = GetStdHandle(STD_INPUT_HANDLE);
    g_to_parent = GetStdHandle(STD_OUTPUT_HANDLE);
    // What a library prints goes where the show's own messages go.
    SetStdHandle(STD_OUTPUT_HANDLE, GetStdHandle(STD_ERROR_HANDLE));
}

bool read_from_parent(void* buffer, std::size_t size) {
    return read_all(g_from_parent, buffer, size);
}

bool write_to_parent(const void* bytes, std::size_t size) {
    return write_all(g_to_parent, bytes, size);
}

void restrict_worker() {
    // No error dialog box may wait for a click that no one can give.
    SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX | SEM_NOOPENFILEERRORBOX);
}

} // namespace platform
