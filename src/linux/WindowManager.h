// The display manager: draws pictures and the no-image screen, moves files to the trash.
#pragma once

#include "ScreenSaver.h"

#include <SDL.h>
#include <SDL_ttf.h>

#include <cstdint>
#include <string>

class WindowManager final : public ScreenSaver::SystemWrapper {
public:
    // Measures the window and makes the fonts; the window is not owned.
    explicit WindowManager(SDL_Window* window);
    ~WindowManager();
    WindowManager(const WindowManager&) = delete;
    WindowManager& operator=(const WindowManager&) = delete;

    // Black, the picture centred one to one, the caption at the top left; or the no-image text.
    void draw_bitmap(const BitMap* image, const std::string& caption) override;
    // Moves a file or link (never a folder) to the freedesktop trash; true when it went there.
    bool delete_file(const char* path) override;
    // Shows the last frame again, for a window that was uncovered; false when the window lost
    // it (a new size) and the picture must be drawn anew.
    bool repaint();
    // The window's new size: later pictures are centred in it (the fonts keep their size).
    void resize(std::int32_t width, std::int32_t height);

    // True once a drawing found no window image: the show must end, as nothing reaches the screen.
    bool cannot_draw() const { return cannot_draw_; }
    std::int32_t width() const { return width_; }
    std::int32_t height() const { return height_; }

private:
    SDL_Window* window_;
    TTF_Font* caption_font_ = nullptr;
    TTF_Font* symbol_font_ = nullptr;
    std::int32_t width_ = 0;
    std::int32_t height_ = 0;
    bool cannot_draw_ = false;
};
