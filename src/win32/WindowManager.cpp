#include "WindowManager.h"

#include "BitMap.h"
#include "Platform.h"
#include "Recycler.h"
#include "Shell.h"
#include "Text.h"
#include "Tracer.h"
#include "WidePath.h"

#include <cstring>
#include <cwchar>

namespace {
const std::int32_t kModule = Tracer::register_module("WinMain");

const COLORREF kTextColour =
    RGB(shell::kTextColour.red, shell::kTextColour.green, shell::kTextColour.blue);
const COLORREF kBlack = RGB(0, 0, 0);

HFONT make_font(int height, const char* face) {
    return CreateFontA(height, 0, 0, 0, FW_DONTCARE, FALSE, FALSE, FALSE, ANSI_CHARSET, 0, 0, 0, 0,
                       face);
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
    const std::wstring wide = widepath::usable(path);
    if (wide.empty() || widepath::is_namespace_path(wide))
        return shell::refuse_deletion(path, "not a file on disk");
    platform::FileId before;
    std::string why;
    const platform::Lookup found = platform::file_identity(path, false, before, why);
    if (found == platform::Lookup::missing) return shell::refuse_deletion(path, "no such file");
    if (found == platform::Lookup::failed) return shell::refuse_deletion(path, why.c_str());
    if (!platform::is_regular_file(path)) return shell::refuse_deletion(path, "not a file on disk");
    return recycle(path, wide, before);
}
