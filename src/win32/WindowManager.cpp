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
const COLORREF kDimTextColour =
    RGB(shell::kDimTextColour.red, shell::kDimTextColour.green, shell::kDimTextColour.blue);
const COLORREF kBlack = RGB(0, 0, 0);

HFONT make_font(int height, const char* face) {
    return CreateFontA(height, 0, 0, 0, FW_DONTCARE, FALSE, FALSE, FALSE, ANSI_CHARSET, 0, 0, 0, 0,
                       face);
}

bool same(const ScreenSaver::Area& a, const ScreenSaver::Area& b) {
    return a.x == b.x && a.y == b.y && a.width == b.width && a.height == b.height;
}

// `area` cut to a window of `width` x `height`; empty when it lies outside.
ScreenSaver::Area clipped(const ScreenSaver::Area& area, std::int32_t width, std::int32_t height) {
    const std::int64_t left = area.x < 0 ? 0 : area.x;
    const std::int64_t top = area.y < 0 ? 0 : area.y;
    std::int64_t right = std::int64_t{area.x} + area.width;
    std::int64_t bottom = std::int64_t{area.y} + area.height;
    if (right > width) right = width;
    if (bottom > height) bottom = height;
    ScreenSaver::Area result;
    if (right <= left || bottom <= top) return result;
    result.x = static_cast<std::int32_t>(left);
    result.y = static_cast<std::int32_t>(top);
    result.width = static_cast<std::int32_t>(right - left);
    result.height = static_cast<std::int32_t>(bottom - top);
    return result;
}

} // namespace

WindowManager::WindowManager(HWND window) : window_(window) {
    RECT rect;
    if (GetWindowRect(window_, &rect)) {
        width_ = rect.right - rect.left;
        height_ = rect.bottom - rect.top;
    }
    area_.width = width_;
    area_.height = height_;
    device_context_ = GetWindowDC(window_);
    caption_font_ = make_font(shell::caption_height(height_), "Tahoma");
    symbol_font_ = make_font(48, "Arial Unicode MS");
    background_brush_ = CreateSolidBrush(kBlack);
    make(canvas_, device_context_, width_, height_);
    SetWindowLongPtrA(window_, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
}

WindowManager::~WindowManager() {
    SetWindowLongPtrA(window_, GWLP_USERDATA, 0);
    if (fade_.running()) KillTimer(window_, kFadeTimer);
    // The DCs first: deleting or releasing them deselects the fonts and the brush, which can
    // then be deleted.
    free(incoming_);
    free(outgoing_);
    free(canvas_);
    ReleaseDC(window_, device_context_);
    DeleteObject(caption_font_);
    DeleteObject(background_brush_);
    DeleteObject(symbol_font_);
}

WindowManager* WindowManager::of(HWND window) {
    return reinterpret_cast<WindowManager*>(GetWindowLongPtrA(window, GWLP_USERDATA));
}

bool WindowManager::make(Surface& surface, HDC like, std::int32_t width, std::int32_t height) {
    if (surface.dc && surface.width == width && surface.height == height) return true;
    free(surface);
    if (width <= 0 || height <= 0) return false;
    BITMAPINFO info;
    std::memset(&info, 0, sizeof info);
    info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = -height; // top-down
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    void* bits = nullptr;
    surface.bitmap = CreateDIBSection(like, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    surface.dc = surface.bitmap ? CreateCompatibleDC(like) : nullptr;
    if (!surface.dc) {
        free(surface);
        return false;
    }
    surface.old = SelectObject(surface.dc, surface.bitmap);
    surface.width = width;
    surface.height = height;
    return true;
}

void WindowManager::free(Surface& surface) {
    if (surface.dc) {
        SelectObject(surface.dc, surface.old);
        DeleteDC(surface.dc);
    }
    if (surface.bitmap) DeleteObject(surface.bitmap);
    surface = Surface{};
}

void WindowManager::set_area(const ScreenSaver::Area& area) {
    // Only what lies inside the window: a monitor beyond it has nothing to draw on.
    area_ = clipped(area, width_, height_);
}

void WindowManager::compose(HDC dc, const ScreenSaver::Area& area, const BitMap* image,
                            const std::string& caption) {
    const RECT whole = {0, 0, area.width, area.height};
    FillRect(dc, &whole, background_brush_);
    SetTextColor(dc, kTextColour);
    SetBkColor(dc, kBlack);
    SetBkMode(dc, OPAQUE);
    if (image) {
        const std::int32_t w = image->width();
        const std::int32_t h = image->height();
        const int x = shell::centred(area.width, w);
        const int y = shell::centred(area.height, h);
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
        ExtTextOutW(dc, 0, 0, ETO_CLIPPED, &whole, text.c_str(), static_cast<UINT>(text.size()),
                    nullptr);
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
        shell::no_image_position(area.width, area.height, extent.cx, extent.cy, x, y);
        ExtTextOutW(dc, x, y, ETO_CLIPPED, &whole, text, static_cast<UINT>(length), nullptr);
    }
}

void WindowManager::show(const ScreenSaver::Area& area) const {
    BitBlt(device_context_, area.x, area.y, area.width, area.height, canvas_.dc, area.x, area.y,
           SRCCOPY);
}

void WindowManager::paint_window(HWND window) {
    PAINTSTRUCT paint;
    BeginPaint(window, &paint);
    if (const WindowManager* display = of(window)) display->paint(paint);
    EndPaint(window, &paint);
}

void WindowManager::paint(const PAINTSTRUCT& paint) const {
    const RECT& r = paint.rcPaint;
    BitBlt(paint.hdc, r.left, r.top, r.right - r.left, r.bottom - r.top, canvas_.dc, r.left, r.top,
           SRCCOPY);
}

void WindowManager::draw_bitmap(const BitMap* image, const std::string& caption) {
    finish_fade();
    const ScreenSaver::Area area = area_;
    if (!canvas_.dc || area.width <= 0 || area.height <= 0) return;

    // The caption of the picture that was on screen, dimmed where it stands: the bright one
    // is the picture that the keys act on.
    if (shown_ && !same(shown_area_, area) && !shown_caption_.empty()) {
        HDC dc = canvas_.dc;
        SelectObject(dc, caption_font_);
        SetTextColor(dc, kDimTextColour);
        SetBkColor(dc, kBlack);
        SetBkMode(dc, OPAQUE);
        const std::wstring text = widen(shown_caption_);
        const RECT clip = {shown_area_.x, shown_area_.y, shown_area_.x + shown_area_.width,
                           shown_area_.y + shown_area_.height};
        ExtTextOutW(dc, shown_area_.x, shown_area_.y, ETO_CLIPPED, &clip, text.c_str(),
                    static_cast<UINT>(text.size()), nullptr);
        SIZE extent = {0, 0};
        GetTextExtentPoint32W(dc, text.c_str(), static_cast<int>(text.size()), &extent);
        ScreenSaver::Area line = shown_area_;
        line.width = extent.cx < line.width ? extent.cx : line.width;
        line.height = extent.cy < line.height ? extent.cy : line.height;
        show(line);
    }

    if (fade_ms_ > 0 && make(incoming_, canvas_.dc, area.width, area.height) &&
        make(outgoing_, canvas_.dc, area.width, area.height)) {
        compose(incoming_.dc, area, image, caption);
        BitBlt(outgoing_.dc, 0, 0, area.width, area.height, canvas_.dc, area.x, area.y, SRCCOPY);
        fade_area_ = area;
        const std::int32_t now = elapsed_ms();
        fade_.start(now, fade_ms_);
        std::int32_t due = now;
        if (fade_.next_frame(due)) arm_timer(due, now);
    } else {
        // Composed at the area's corner, inside it only.
        const int saved = SaveDC(canvas_.dc);
        IntersectClipRect(canvas_.dc, area.x, area.y, area.x + area.width, area.y + area.height);
        SetViewportOrgEx(canvas_.dc, area.x, area.y, nullptr);
        compose(canvas_.dc, area, image, caption);
        RestoreDC(canvas_.dc, saved);
        show(area);
    }
    shown_ = true;
    shown_area_ = area;
    shown_caption_ = image ? caption : std::string();
    if (image)
        shell::trace_drawn(caption);
    else
        shell::trace_no_image();
}

void WindowManager::arm_timer(std::int32_t due, std::int32_t now) {
    const auto wait = static_cast<std::uint32_t>(due) - static_cast<std::uint32_t>(now);
    SetTimer(window_, kFadeTimer, wait < USER_TIMER_MINIMUM ? USER_TIMER_MINIMUM : wait, nullptr);
}

void WindowManager::fade_frame() {
    if (!fade_.running()) {
        KillTimer(window_, kFadeTimer);
        return;
    }
    const std::int32_t now = elapsed_ms();
    const std::uint32_t weight = fade_.weight(now);
    if (!fade_.running()) {
        land();
        return;
    }
    const ScreenSaver::Area& a = fade_area_;
    BitBlt(canvas_.dc, a.x, a.y, a.width, a.height, outgoing_.dc, 0, 0, SRCCOPY);
    BLENDFUNCTION blend = {AC_SRC_OVER, 0, static_cast<BYTE>(weight > 255 ? 255 : weight), 0};
    AlphaBlend(canvas_.dc, a.x, a.y, a.width, a.height, incoming_.dc, 0, 0, a.width, a.height,
               blend);
    show(a);
    std::int32_t due = now;
    if (fade_.next_frame(due)) arm_timer(due, now);
}

void WindowManager::finish_fade() {
    if (!fade_.running()) return;
    fade_.stop();
    land();
}

void WindowManager::land() {
    KillTimer(window_, kFadeTimer);
    const ScreenSaver::Area& a = fade_area_;
    BitBlt(canvas_.dc, a.x, a.y, a.width, a.height, incoming_.dc, 0, 0, SRCCOPY);
    show(a);
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
