#include "WindowManager.h"

#include "BitMap.h"
#include "Platform.h"
#include "Shell.h"
#include "Text.h"
#include "Tracer.h"

#include <shellapi.h>

#include <cstring>
#include <cwchar>

namespace {
const std::int32_t kModule = Tracer::register_module("WinMain");

const COLORREF kTextColour =
    RGB(shell::kTextColour.red, shell::kTextColour.green, shell::kTextColour.blue);
const COLORREF kBlack = RGB(0, 0, 0);
// The shell's file list is the path followed by two zero bytes in this buffer: a longer path
// would lose its terminators, so it is refused rather than cut to another file's name.
constexpr std::size_t kListSize = shell::kPathLimit + 1;

HFONT make_font(int height, const char* face) {
    return CreateFontA(height, 0, 0, 0, FW_DONTCARE, FALSE, FALSE, FALSE, ANSI_CHARSET, 0, 0, 0, 0,
                       face);
}

// Whether the volume that holds `path` keeps deleted files: a fixed drive whose recycle bin the
// shell can query. Network shares and removable media have none; the reason is traced.
bool has_recycle_bin(const char* path) {
    char root[MAX_PATH];
    if (!GetVolumePathNameA(path, root, sizeof root)) {
        GW_TRACE(kModule, 1, "WindowManager::delete_file : <%s> deletion failed (no volume, %lu)",
                 path, static_cast<unsigned long>(GetLastError()));
        return false;
    }
    const UINT type = GetDriveTypeA(root);
    if (type != DRIVE_FIXED) {
        GW_TRACE(kModule, 1,
                 "WindowManager::delete_file : <%s> deletion failed "
                 "(no recycle bin on %s, drive type %u)",
                 path, root, type);
        return false;
    }
    SHQUERYRBINFO info;
    std::memset(&info, 0, sizeof info);
    info.cbSize = sizeof info;
    const HRESULT queried = SHQueryRecycleBinA(root, &info);
    if (FAILED(queried)) {
        GW_TRACE(kModule, 1,
                 "WindowManager::delete_file : <%s> deletion failed "
                 "(no recycle bin on %s, 0x%08lx)",
                 path, root, static_cast<unsigned long>(queried));
        return false;
    }
    return true;
}

// Only a definite "not found" counts: a path that cannot be examined may still be there.
bool is_gone(const char* path) {
    if (GetFileAttributesA(path) != INVALID_FILE_ATTRIBUTES) return false;
    const DWORD error = GetLastError();
    return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
}
} // namespace

WindowManager::WindowManager(HWND window) : window_(window) {
    RECT rect;
    if (GetWindowRect(window_, &rect)) {
        width_ = rect.right - rect.left;
        height_ = rect.bottom - rect.top;
    }
    device_context_ = GetWindowDC(window_);
    caption_font_ = make_font(shell::caption_height(height_), "Tahoma");
    symbol_font_ = make_font(48, "Arial Unicode MS");
    background_brush_ = CreateSolidBrush(kBlack);
}

WindowManager::~WindowManager() {
    // The DC first: releasing it deselects the fonts and the brush, which can then be deleted.
    ReleaseDC(window_, device_context_);
    DeleteObject(caption_font_);
    DeleteObject(background_brush_);
    DeleteObject(symbol_font_);
}

void WindowManager::draw_bitmap(const BitMap* image, const std::string& caption) {
    PAINTSTRUCT paint;
    BeginPaint(window_, &paint);
    HDC dc = device_context_;
    SetTextColor(dc, kTextColour);
    SetBkColor(dc, kBlack);
    SelectObject(dc, background_brush_);
    Rectangle(dc, 0, 0, width_, height_);

    if (image) {
        const std::int32_t w = image->width();
        const std::int32_t h = image->height();
        const int x = shell::centred(width_, w);
        const int y = shell::centred(height_, h);
        BITMAPINFO info;
        std::memset(&info, 0, sizeof info);
        info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
        info.bmiHeader.biWidth = w;
        info.bmiHeader.biHeight = h; // positive: bottom-up rows, as the picture holds them
        info.bmiHeader.biPlanes = 1;
        info.bmiHeader.biBitCount = 24;
        info.bmiHeader.biCompression = BI_RGB;
        SetStretchBltMode(dc, COLORONCOLOR);
        StretchDIBits(dc, x, y, w, h, 0, 0, w, h, image->bits(), &info, DIB_RGB_COLORS, SRCCOPY);

        SelectObject(dc, caption_font_);
        // GDI keeps the system's code page whatever the process's is: the caption goes out wide.
        const std::wstring text = widen(caption);
        TextOutW(dc, 0, 0, text.c_str(), static_cast<int>(text.size()));
        shell::trace_drawn(caption);
    } else {
        SelectObject(dc, symbol_font_);
        wchar_t text[50];
        // %lc: MinGW's ISO printf reads a plain %c as a narrow character, where the Microsoft
        // run time reads it as a wide one; %lc means the wide character to both.
        int length = std::swprintf(text, 50, L"Pas d'image %lc",
                                   static_cast<wint_t>(shell::no_image_symbol()));
        if (length < 0) length = 0;
        SIZE extent = {0, 0};
        GetTextExtentPoint32W(dc, text, length, &extent);
        std::int32_t x = 0;
        std::int32_t y = 0;
        shell::no_image_position(width_, height_, extent.cx, extent.cy, x, y);
        TextOutW(dc, x, y, text, length);
        shell::trace_no_image();
    }
    EndPaint(window_, &paint);
}

bool WindowManager::delete_file(const char* path) {
    if (shell::deletion_refused(path)) return false;
    // The shell would send a whole folder, with everything in it, to the recycle bin, and the
    // Win32 layer would take a device name or a name with a trailing dot for something else.
    // A path that names nothing goes on to the shell, which reports the failure itself.
    const DWORD attributes = GetFileAttributesA(path);
    if (attributes != INVALID_FILE_ATTRIBUTES && !platform::is_regular_file(path))
        return shell::refuse_deletion(path, "not a file on disk");
    // Without a recycle bin the shell deletes for good, silently: the file is kept instead.
    if (attributes != INVALID_FILE_ATTRIBUTES && !has_recycle_bin(path)) return false;

    // strncpy zero-fills the rest: the list's double terminator.
    char list[kListSize];
    list[kListSize - 1] = '\0';
    std::strncpy(list, path, kListSize - 1);
    SHFILEOPSTRUCTA operation;
    std::memset(&operation, 0, sizeof operation);
    operation.wFunc = FO_DELETE;
    operation.pFrom = list;
    operation.fFlags = FOF_ALLOWUNDO | FOF_NOCONFIRMATION | FOF_NOERRORUI;
    const int result = SHFileOperationA(&operation);
    if (result != 0) {
        GW_TRACE(kModule, 1, "WindowManager::delete_file : <%s> deletion failed (%d)", list,
                 result);
        return false;
    }
    // A zero result is no proof: the shell reports success for files that it could not move.
    if (operation.fAnyOperationsAborted) {
        GW_TRACE(kModule, 1, "WindowManager::delete_file : <%s> deletion failed (%d, aborted)",
                 list, result);
        return false;
    }
    if (!is_gone(path)) {
        GW_TRACE(kModule, 1, "WindowManager::delete_file : <%s> deletion failed (%d, still there)",
                 list, result);
        return false;
    }
    shell::trace_deleted(list);
    return true;
}
