// The display manager: draws pictures and the no-image screen, moves files to the recycle bin.
#pragma once

#include "ScreenSaver.h"

#include <windows.h>

#include <cstdint>
#include <string>

class WindowManager final : public ScreenSaver::SystemWrapper {
public:
    // Measures the window and makes the fonts and the brush; the window is not owned.
    explicit WindowManager(HWND window);
    ~WindowManager();
    WindowManager(const WindowManager&) = delete;
    WindowManager& operator=(const WindowManager&) = delete;

    // Black, the picture centred one to one, the caption at the top left; or the no-image text.
    void draw_bitmap(const BitMap* image, const std::string& caption) override;
    // Sends a file (never a folder, device or name the Win32 layer alters) to the recycle bin,
    // silently; true only when the file left its place for a recycle bin. Without a recycle bin
    // on its volume the file is kept, as the shell would delete it for good.
    bool delete_file(const char* path) override;

    std::int32_t width() const { return width_; }
    std::int32_t height() const { return height_; }

private:
    HWND window_;
    HDC device_context_ = nullptr; // the window's DC, held for the object's whole life
    HFONT caption_font_ = nullptr;
    HFONT symbol_font_ = nullptr;
    HBRUSH background_brush_ = nullptr;
    std::int32_t width_ = 0;
    std::int32_t height_ = 0;
};
