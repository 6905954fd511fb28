#include "Recycler.h"

#include "Shell.h"
#include "Tracer.h"
#include "WidePath.h"

#include <windows.h>

#include <shellapi.h>
#include <shobjidl.h>

#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <cwchar>

namespace {
const std::int32_t kModule = Tracer::register_module("WinMain");

bool refuse(const char* shown, const char* format, ...) __attribute__((format(printf, 2, 3)));
bool refuse(const char* shown, const char* format, ...) {
    char why[512];
    va_list arguments;
    va_start(arguments, format);
    std::vsnprintf(why, sizeof why, format, arguments);
    va_end(arguments);
    return shell::refuse_deletion(shown, why);
}

bool read_dword(HKEY hive, const wchar_t* key, const wchar_t* name, DWORD& value) {
    DWORD size = sizeof value;
    return RegGetValueW(hive, key, name, RRF_RT_REG_DWORD, nullptr, &value, &size) == ERROR_SUCCESS;
}

const wchar_t kPolicies[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\Policies\\Explorer";
const wchar_t kBitBucket[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\BitBucket";

// A policy, the user's before the machine's.
bool policy(const wchar_t* name, DWORD& value) {
    return read_dword(HKEY_CURRENT_USER, kPolicies, name, value) ||
           read_dword(HKEY_LOCAL_MACHINE, kPolicies, name, value);
}

// The bin's own settings live under the volume's GUID ("{...}").
std::wstring volume_key(const std::wstring& root) {
    wchar_t name[64];
    if (!GetVolumeNameForVolumeMountPointW(root.c_str(), name, 64)) return std::wstring();
    const wchar_t* open = std::wcschr(name, L'{');
    const wchar_t* close = open ? std::wcschr(open, L'}') : nullptr;
    if (!close) return std::wstring();
    return std::wstring(kBitBucket) + L"\\Volume\\" + std::wstring(open, close + 1);
}

// Whether the bin of the drive that holds `path` takes this file of `size` bytes; the root of
// that drive in `root`. The shell deletes outright, without a word, a file that its bin
// would not take: no bin at all (network shares, removable media), a bin set to remove files
// at once, or one too small for it.
bool bin_takes(const char* shown, const std::wstring& path, std::uint64_t size) {
    // The plain form: "\\?\N:\" reads as a local disk whatever N: is.
    const std::wstring plain = widepath::plain(path);
    wchar_t root[MAX_PATH];
    if (!GetVolumePathNameW(plain.c_str(), root, MAX_PATH))
        return refuse(shown, "no volume, %lu", static_cast<unsigned long>(GetLastError()));
    const std::string root_text = widepath::narrow(root);
    const UINT type = GetDriveTypeW(root);
    if (type != DRIVE_FIXED)
        return refuse(shown, "no recycle bin on %s, drive type %u", root_text.c_str(), type);
    SHQUERYRBINFO info;
    std::memset(&info, 0, sizeof info);
    info.cbSize = sizeof info;
    const HRESULT queried = SHQueryRecycleBinW(root, &info);
    if (FAILED(queried))
        return refuse(shown, "no recycle bin on %s, 0x%08lx", root_text.c_str(),
                      static_cast<unsigned long>(queried));

    DWORD value = 0;
    const std::wstring volume = volume_key(root);
    if ((policy(L"NoRecycleFiles", value) && value != 0) ||
        (!volume.empty() && read_dword(HKEY_CURRENT_USER, volume.c_str(), L"NukeOnDelete", value) &&
         value != 0))
        return refuse(shown, "the recycle bin of %s removes files at once", root_text.c_str());

    // The limit: the policy's share of the drive, else the bin's own size in megabytes.
    std::uint64_t limit = 0;
    bool limited = false;
    ULARGE_INTEGER total;
    if (policy(L"RecycleBinSize", value) && GetDiskFreeSpaceExW(root, nullptr, &total, nullptr)) {
        limit = total.QuadPart / 100 * (value > 100 ? 100 : value);
        limited = true;
    } else if (!volume.empty() &&
               read_dword(HKEY_CURRENT_USER, volume.c_str(), L"MaxCapacity", value)) {
        limit = static_cast<std::uint64_t>(value) << 20;
        limited = true;
    }
    const std::uint64_t used = info.i64Size > 0 ? static_cast<std::uint64_t>(info.i64Size) : 0;
    if (limited && (size > limit || used > limit - size))
        return refuse(shown,
                      "the recycle bin of %s has no room: %llu of %llu bytes used, "
                      "the file has %llu",
                      root_text.c_str(), static_cast<unsigned long long>(used),
                      static_cast<unsigned long long>(limit),
                      static_cast<unsigned long long>(size));
    return true;
}

// COM interfaces have no virtual destructor: the object is released through the interface.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wnon-virtual-dtor"
// Watches a deletion: refuses it unless it recycles, and notes when an item reached the bin.
class RecycleOnly final : public IFileOperationProgressSink {
public:
    bool recycled = false;
    bool refused = false;

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID id, void** object) override {
        if (IsEqualIID(id, IID_IUnknown) || IsEqualIID(id, IID_IFileOperationProgressSink)) {
            *object = static_cast<IFileOperationProgressSink*>(this);
            return S_OK;
        }
        *object = nullptr;
        return E_NOINTERFACE;
    }
    // Lives on the stack of the operation that it watches.
    ULONG STDMETHODCALLTYPE AddRef() override { return 1; }
    ULONG STDMETHODCALLTYPE Release() override { return 1; }

    HRESULT STDMETHODCALLTYPE PreDeleteItem(DWORD flags, IShellItem*) override {
        if (flags & TSF_DELETE_RECYCLE_IF_POSSIBLE) return S_OK;
        refused = true;
        return E_ABORT;
    }
    HRESULT STDMETHODCALLTYPE PostDeleteItem(DWORD, IShellItem*, HRESULT result,
                                             IShellItem* in_bin) override {
        recycled = recycled || (SUCCEEDED(result) && in_bin != nullptr);
        return S_OK;
    }

    HRESULT STDMETHODCALLTYPE StartOperations() override { return S_OK; }
    HRESULT STDMETHODCALLTYPE FinishOperations(HRESULT) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE PreRenameItem(DWORD, IShellItem*, LPCWSTR) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE PostRenameItem(DWORD, IShellItem*, LPCWSTR, HRESULT,
                                             IShellItem*) override {
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE PreMoveItem(DWORD, IShellItem*, IShellItem*, LPCWSTR) override {
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE PostMoveItem(DWORD, IShellItem*, IShellItem*, LPCWSTR, HRESULT,
                                           IShellItem*) override {
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE PreCopyItem(DWORD, IShellItem*, IShellItem*, LPCWSTR) override {
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE PostCopyItem(DWORD, IShellItem*, IShellItem*, LPCWSTR, HRESULT,
                                           IShellItem*) override {
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE PreNewItem(DWORD, IShellItem*, LPCWSTR) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE PostNewItem(DWORD, IShellItem*, LPCWSTR, LPCWSTR, DWORD, HRESULT,
                                          IShellItem*) override {
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE UpdateProgress(UINT, UINT) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE ResetTimer() override { return S_OK; }
    HRESULT STDMETHODCALLTYPE PauseTimer() override { return S_OK; }
    HRESULT STDMETHODCALLTYPE ResumeTimer() override { return S_OK; }
};
#pragma GCC diagnostic pop

enum class Outcome { Unavailable, Done, Failed };

template <typename T> struct Released {
    T* object = nullptr;
    ~Released() {
        if (object) object->Release();
    }
};

// The deletion through the shell's file operation, which asks the sink before it deletes:
// Unavailable where the system has no working one (Wine's is a stub), so that the caller
// guards the older call instead.
Outcome recycle_by_file_operation(const char* shown, const std::wstring& path) {
    Released<IFileOperation> operation;
    if (FAILED(CoCreateInstance(CLSID_FileOperation, nullptr, CLSCTX_ALL, IID_IFileOperation,
                                reinterpret_cast<void**>(&operation.object))))
        return Outcome::Unavailable;
    Released<IShellItem> item;
    // The shell's parser takes the plain form up to its own limit, the prefixed one beyond.
    if (FAILED(SHCreateItemFromParsingName(path.c_str(), nullptr, IID_IShellItem,
                                           reinterpret_cast<void**>(&item.object))))
        return Outcome::Unavailable;
    DWORD flags = FOF_ALLOWUNDO | FOF_NOCONFIRMATION | FOF_NOERRORUI | FOF_SILENT;
#ifdef FOFX_RECYCLEONDELETE
    flags |= FOFX_RECYCLEONDELETE;
#endif
    RecycleOnly sink;
    DWORD cookie = 0;
    HRESULT result = operation.object->SetOperationFlags(flags);
    if (result == E_NOTIMPL) return Outcome::Unavailable;
    if (SUCCEEDED(result)) result = operation.object->Advise(&sink, &cookie);
    if (result == E_NOTIMPL) return Outcome::Unavailable;
    if (SUCCEEDED(result)) result = operation.object->DeleteItem(item.object, nullptr);
    if (result == E_NOTIMPL) return Outcome::Unavailable;
    if (SUCCEEDED(result)) result = operation.object->PerformOperations();
    if (result == E_NOTIMPL) return Outcome::Unavailable;
    if (sink.refused) {
        refuse(shown, "the shell would delete it for good");
        return Outcome::Failed;
    }
    BOOL aborted = FALSE;
    operation.object->GetAnyOperationsAborted(&aborted);
    if (FAILED(result) || aborted || !sink.recycled) {
        refuse(shown, "0x%08lx%s", static_cast<unsigned long>(result),
               aborted ? ", aborted" : (sink.recycled ? "" : ", not in the recycle bin"));
        return Outcome::Failed;
    }
    return Outcome::Done;
}

std::uint32_t link_count(const std::wstring& path) {
    HANDLE handle = CreateFileW(path.c_str(), FILE_READ_ATTRIBUTES,
                                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (handle == INVALID_HANDLE_VALUE) return 0;
    BY_HANDLE_FILE_INFORMATION info;
    const bool ok = GetFileInformationByHandle(handle, &info) != FALSE;
    CloseHandle(handle);
    return ok ? info.nNumberOfLinks : 0;
}

// The older call deletes outright, silently, whenever its move into the bin fails (a full or
// unwritable bin). A second name for the file, made before and in the same folder, keeps the
// file in that case: it is then put back under its own name.
Outcome recycle_guarded(const char* shown, const std::wstring& path) {
    const std::wstring::size_type cut = path.rfind(L'\\');
    if (cut == std::wstring::npos) {
        refuse(shown, "no folder");
        return Outcome::Failed;
    }
    const std::wstring guard = path.substr(0, cut + 1) + L"~glimmerwall-keep-" +
                               std::to_wstring(GetCurrentProcessId()) + L".tmp";
    if (!CreateHardLinkW(guard.c_str(), path.c_str(), nullptr)) {
        refuse(shown, "no second name to keep it by, %lu",
               static_cast<unsigned long>(GetLastError()));
        return Outcome::Failed;
    }
    SetFileAttributesW(guard.c_str(), FILE_ATTRIBUTE_HIDDEN);

    // The shell's list: the path and two terminators. It takes no "\\?\" prefix.
    std::wstring list = widepath::plain(path);
    list.append(2, L'\0');
    SHFILEOPSTRUCTW operation;
    std::memset(&operation, 0, sizeof operation);
    operation.wFunc = FO_DELETE;
    operation.pFrom = list.c_str();
    operation.fFlags = FOF_ALLOWUNDO | FOF_NOCONFIRMATION | FOF_NOERRORUI | FOF_SILENT;
    const int result = SHFileOperationW(&operation);

    if (link_count(guard) < 2 && GetFileAttributesW(path.c_str()) == INVALID_FILE_ATTRIBUTES) {
        // Only the guard holds the file: the shell deleted it instead of recycling it.
        if (MoveFileExW(guard.c_str(), path.c_str(), 0)) {
            SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
            refuse(shown, "the recycle bin did not take it, %d; kept", result);
        } else {
            const std::string kept = widepath::narrow(guard);
            refuse(shown, "the recycle bin did not take it, %d; kept as %s", result, kept.c_str());
        }
        return Outcome::Failed;
    }
    DeleteFileW(guard.c_str());
    if (result != 0) {
        refuse(shown, "%d", result);
        return Outcome::Failed;
    }
    if (operation.fAnyOperationsAborted) {
        refuse(shown, "%d, aborted", result);
        return Outcome::Failed;
    }
    return Outcome::Done;
}

// The shell's calls need the thread in a single-threaded apartment; one that has another is
// left as it is.
struct Apartment {
    HRESULT result = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE);
    ~Apartment() {
        if (SUCCEEDED(result)) CoUninitialize();
    }
};

} // namespace

bool recycle(const char* shown, const std::wstring& path, const platform::FileId& before) {
    if (!bin_takes(shown, path, before.size)) return false;
    const Apartment apartment;
    Outcome outcome = recycle_by_file_operation(shown, path);
    if (outcome == Outcome::Unavailable) outcome = recycle_guarded(shown, path);
    if (outcome != Outcome::Done) return false;
    // Gone means: no longer this very file under this name. Another file may answer to the name
    // when the folder holds names that differ only in case.
    platform::FileId now;
    std::string why;
    const platform::Lookup found = platform::file_identity(shown, false, now, why);
    if (found == platform::Lookup::failed ||
        (found == platform::Lookup::found && now.volume == before.volume &&
         now.index == before.index))
        return refuse(shown, "still there");
    shell::trace_deleted(shown);
    return true;
}
