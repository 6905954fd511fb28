// The display manager: draws pictures and the no-image screen, moves files to the recycle bin.
#pragma once

#include "Fade.h"
#include "ScreenSaver.h"

#include <windows.h>

#include <cstdint>
#include <string>

class WindowManager final : public ScreenSaver::SystemWrapper {
public:
    // The timer of a fade's frames, set on the window only while a fade runs.
    static constexpr UINT_PTR kFadeTimer = 2;

    // Measures the window, makes the fonts, the brush and the window's copy; the window is
    // not owned. Registers itself with the window for its paint and fade messages.
    explicit WindowManager(HWND window);
    ~WindowManager();
    WindowManager(const WindowManager&) = delete;
    WindowManager& operator=(const WindowManager&) = delete;

    // The manager registered with `window`, or null.
    static WindowManager* of(HWND window);

    // Each new picture fades in over `ms` milliseconds; 0 (the default) for a cut.
    void set_fade_ms(std::int32_t ms) { fade_ms_ = ms; }
    void set_area(const ScreenSaver::Area& area) override;
    // Black, the picture centred one to one, the caption at the top left, all in the current
    // area (the whole window until set_area); or the no-image text. The caption of the area
    // drawn before is dimmed.
    void draw_bitmap(const BitMap* image, const std::string& caption) override;
    // Sends a file (never a folder, device or name the Win32 layer alters) to the recycle bin,
    // silently; true only when the file left its place for a recycle bin. Without a recycle bin
    // on its volume the file is kept, as the shell would delete it for good.
    bool delete_file(const char* path) override;

    // The fade timer's tick: the frame of the moment, or the last one once the fade is over.
    void fade_frame();
    // Shows a running fade's last frame at once; nothing when none runs.
    void finish_fade();
    bool fading() const { return fade_.running(); }
    // Copies what the window shows onto the part `paint` asks for.
    void paint(const PAINTSTRUCT& paint) const;
    // Answers the window's WM_PAINT from the copy of its display manager, if it has one.
    static void paint_window(HWND window);

    std::int32_t width() const { return width_; }
    std::int32_t height() const { return height_; }

private:
    // A memory DC holding a 32-bit top-down DIB of its own.
    struct Surface {
        HDC dc = nullptr;
        HBITMAP bitmap = nullptr;
        HGDIOBJ old = nullptr;
        std::int32_t width = 0;
        std::int32_t height = 0;
    };
    static bool make(Surface& surface, HDC like, std::int32_t width, std::int32_t height);
    static void free(Surface& surface);
    // The picture (or no-image text) and its caption in `dc`, whose (0, 0) is the area's corner.
    void compose(HDC dc, const ScreenSaver::Area& area, const BitMap* image,
                 const std::string& caption);
    // The area's part of the window's copy, put on the window.
    void show(const ScreenSaver::Area& area) const;
    // The fade timer, due at `due` (an elapsed_ms reading).
    void arm_timer(std::int32_t due, std::int32_t now);
    // The fade's last frame on screen, its timer killed.
    void land();

    HWND window_;
    HDC device_context_ = nullptr; // the window's DC, held for the object's whole life
    HFONT caption_font_ = nullptr;
    HFONT symbol_font_ = nullptr;
    HBRUSH background_brush_ = nullptr;
    std::int32_t width_ = 0;
    std::int32_t height_ = 0;
    // What the window shows, kept for WM_PAINT and as the old side of a fade.
    Surface canvas_;
    ScreenSaver::Area area_;
    // The area drawn last and its caption, dimmed once another area is drawn.
    ScreenSaver::Area shown_area_;
    std::string shown_caption_;
    bool shown_ = false;
    std::int32_t fade_ms_ = 0;
    Fade fade_;
    ScreenSaver::Area fade_area_;
    Surface outgoing_; // the area as it was before the fade
    Surface incoming_; // the area as it is once the fade is over
};
