// The few things that differ between Windows and POSIX. One implementation per
// platform folder (src/win32/Platform.cpp, src/linux/Platform.cpp); the build picks it.
#pragma once

#include <cstdint>
#include <cstdio>
#include <ctime>
#include <memory>
#include <string>
#include <vector>

namespace platform {

// Attribute bits of a listed entry, as Windows reports them; POSIX maps onto the same bits.
constexpr std::uint32_t kAttributeDirectory = 0x10;
constexpr std::uint32_t kAttributeReparsePoint = 0x400; // a link (symbolic link, junction)

// The separator between a folder and an entry name: '\\' on Windows, '/' elsewhere.
extern const char kSeparator;

// Identity of the folder a path leads to (links followed): volume and file number.
struct FolderId {
    std::uint64_t volume = 0;
    std::uint64_t index = 0;
    bool operator<(const FolderId& other) const {
        return volume != other.volume ? volume < other.volume : index < other.index;
    }
};

// Receives one entry of a listing; returns false to stop the listing. `id` is the identity of
// a sub-folder (not a link) when the listing gives it for free, else null.
class EntryVisitor {
public:
    virtual bool visit(std::uint32_t attributes, const char* name, const FolderId* id) = 0;

protected:
    ~EntryVisitor() = default;
};

// Lists the entries that `pattern` (folder + separator + "*.*") selects, in the order the
// file system yields them, "." and ".." left out. False when the listing cannot be opened.
bool list_folder(const std::string& pattern, EntryVisitor& visitor);

// False when the path cannot be examined or is not a folder.
bool folder_id(const std::string& path, FolderId& id);

// True when the path leads, through links, to a regular file: reading a pipe or a device
// could block the show or never end.
bool is_regular_file(const std::string& path);

// Current directory; changing it reports success.
bool change_directory(const std::string& path);
std::string current_directory();

// Local broken-down time of a count of seconds since 1970 (UTC).
std::tm local_time(std::int64_t seconds);

// Wall clock: whole seconds since 1970 (UTC) and the milliseconds of that second.
void wall_clock(std::int64_t& seconds, std::int32_t& milliseconds);

// Why open_shared gave no stream.
enum class OpenFailure { None, CannotOpen, NotRegular, Link };

// Opens a regular file, letting other processes read and write it meanwhile: "r" reads (links
// followed), "w" creates or empties and never follows a link in the last part of the name; a
// "b" in the mode gives a binary stream, else text. A folder, device or pipe is never opened;
// `failure` says why, if asked.
std::FILE* open_shared(const char* name, const char* mode, OpenFailure* failure = nullptr);

// The checks open_shared makes on both systems before it opens anything: `why` becomes
// CannotOpen; false for a null name or a mode that starts with neither 'r' nor 'w', and
// `write` says which it is.
inline bool open_request(const char* name, const char* mode, OpenFailure& why, bool& write) {
    why = OpenFailure::CannotOpen;
    write = mode && mode[0] == 'w';
    return name && mode && (write || mode[0] == 'r');
}

// Where the trace file lives; creates its folder where needed. Empty when it cannot be named.
std::string trace_file_path();

// Milliseconds on a clock that only moves forwards (not the wall clock), from any origin.
std::int64_t monotonic_ms();

// How a child process ended.
struct ChildEnd {
    bool signalled = false; // ended by a signal (POSIX) or terminated (Windows)
    int code = 0;           // that signal's number, else the exit code
};

// A copy of this program run with other arguments, spoken to through its standard input and
// output, never outliving this process. Not copied; destroying it ends the child.
class Child {
public:
    Child();
    ~Child();
    Child(const Child&) = delete;
    Child& operator=(const Child&) = delete;

    // Starts `program` with `arguments`, its memory held to `memory_bytes` (0: no limit);
    // false when it cannot be started. From then on a write to a closed pipe fails in this
    // process (SIGPIPE is ignored) instead of ending it.
    bool start(const std::string& program, const std::vector<std::string>& arguments,
               std::uint64_t memory_bytes);
    bool running() const;
    // Writes all of `bytes` to the child's input; false when the child is gone.
    bool send(const void* bytes, std::size_t size);
    // Reads what the child wrote, without waiting: the count read, 0 when nothing is there,
    // -1 once its output is closed (it ended).
    long receive(void* buffer, std::size_t size);
    // A descriptor that polls readable when output arrives; -1 where the platform has none
    // (the caller then calls receive on each timer tick).
    int descriptor() const;
    // Ends the child at once (if it still runs) and waits for it; `how` says how it ended.
    void stop(ChildEnd& how);

private:
    struct State;
    std::unique_ptr<State> state_;
};

// The path of this program's executable, `argument0` when the system will not say.
std::string executable_path(const std::string& argument0);

// In a child, takes over the channel to its parent (the standard input and output) and points
// the standard output elsewhere, so that nothing a library prints can garble it. Then reads
// exactly `size` bytes (false at the end or on an error) and writes them all.
void take_parent_channel();
bool read_from_parent(void* buffer, std::size_t size);
bool write_to_parent(const void* bytes, std::size_t size);
// Limits a decode worker to what decoding needs, where the platform can (no new privileges,
// no core file); called by the worker itself before its first decode.
void restrict_worker();

// Text in UTF-8 turned into the narrow encoding that file names and the trace use here.
std::string narrow_from_utf8(const std::string& utf8);
// What a file is: its volume, its file number there, its size and its last write time. Two
// identities are equal only when all four are: a file edited in place is another picture.
struct FileId {
    std::uint64_t volume = 0;
    std::uint64_t index = 0;
    std::uint64_t size = 0;
    std::int64_t modified = 0; // in the platform's own unit
    bool operator==(const FileId& o) const {
        return volume == o.volume && index == o.index && size == o.size && modified == o.modified;
    }
    bool operator!=(const FileId& o) const { return !(*this == o); }
};

enum class Lookup { found, missing, failed };
// Identity of what `path` names; a link at its end is followed only when `follow` is true
// (without it, the link itself is examined). `missing` when nothing is there; `failed` with
// the system's reason in `why` otherwise.
Lookup file_identity(const std::string& path, bool follow, FileId& id, std::string& why);

// True for a folder that belongs to the recycle bin or the system (the user's trash,
// another volume's trash, the system's own folders), which is never shown. `id` is the
// folder's identity when known, else null.
bool is_reserved_folder(const std::string& path, const FolderId* id);

// The last write time of an identity, in milliseconds since 1970 (UTC).
std::int64_t modified_ms(const FileId& id);

// Why the folder at `path` cannot be listed, in the system's words ("No such file or
// directory", "Not a directory", "Permission denied", ...).
std::string folder_problem(const std::string& path);

// Where the saved file index lives, in the user's cache folder; creates that folder where
// needed. Empty when it cannot be named.
std::string index_file_path();

// Puts the file `from` in the place of `to` in one step: a reader sees the old file or the
// new one, never a mix. False when it could not.
bool replace_file(const std::string& from, const std::string& to);

} // namespace platform
