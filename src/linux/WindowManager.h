// The display manager: draws pictures and the no-image screen, moves files to the trash.
#pragma once

#include "ScreenSaver.h"

#include <SDL.h>
#include <SDL_ttf.h>

#include <cstdint>
#include <string>

// The image that the display manager draws into, and its way to the screen.
class Canvas {
public:
    virtual ~Canvas() = default;
    // Width and height of the image, in pixels.
    virtual void size(int& width, int& height) const = 0;
    // The image to draw into; null (SDL_GetError tells why) when there is none.
    virtual SDL_Surface* frame() = 0;
    // Puts the image on screen; false when it could not.
    virtual bool present() = 0;
};

// An SDL window's own image (not owned).
class WindowCanvas final : public Canvas {
public:
    explicit WindowCanvas(SDL_Window* window) : window_(window) {}
    void size(int& width, int& height) const override {
        SDL_GetWindowSize(window_, &width, &height);
    }
    SDL_Surface* frame() override { return SDL_GetWindowSurface(window_); }
    bool present() override { return SDL_UpdateWindowSurface(window_) == 0; }

private:
    SDL_Window* window_;
};

class WindowManager final : public ScreenSaver::SystemWrapper {
public:
    // Measures the canvas and makes the fonts; the canvas is not owned.
    explicit WindowManager(Canvas& canvas);
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
    Canvas& canvas_;
    TTF_Font* caption_font_ = nullptr;
    TTF_Font* symbol_font_ = nullptr;
    std::int32_t width_ = 0;
    std::int32_t height_ = 0;
    bool cannot_draw_ = false;
};
