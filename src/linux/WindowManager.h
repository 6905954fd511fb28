// The display manager: draws pictures and the no-image screen, moves files to the trash.
#pragma once

#include "Fade.h"
#include "ScreenSaver.h"
#include "Tracer.h"

#include <SDL.h>
#include <SDL_ttf.h>

#include <cstdint>
#include <string>
#include <vector>

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
    // Puts the part `area` of the image on screen (the whole of it unless the canvas can do
    // less); false when it could not.
    virtual bool present(const SDL_Rect& area) {
        static_cast<void>(area);
        return present();
    }
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
    bool present(const SDL_Rect& area) override {
        return SDL_UpdateWindowSurfaceRects(window_, &area, 1) == 0;
    }

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
    // In the area set last, if any, else the whole window; with a fade, the first frame of it.
    void draw_bitmap(const BitMap* image, const std::string& caption) override;
    // The next drawings fill `area`; the caption of the area drawn before is dimmed then.
    void set_area(const ScreenSaver::Area& area) override;
    // New pictures fade in over `ms` milliseconds (0: a cut).
    void set_fade(std::int32_t ms) { fade_ms_ = ms; }
    // The elapsed_ms reading at which the running fade's next frame is due; false when none runs.
    bool fade_due(std::int32_t& due_ms) const { return fade_.next_frame(due_ms); }
    // Shows the running fade's frame of now; its last frame is the new picture exactly.
    void fade_frame();
    // Shows the running fade's last frame at once: a key acts on the picture in full view.
    void end_fade() { show_fade(true); }
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
    // The area to draw in: the one set, or the whole window.
    SDL_Rect area() const;
    // Copies the area of the frame into `pixels`, or back; false when the frame is not xRGB.
    bool keep_area(SDL_Surface* frame, const SDL_Rect& area, std::vector<Uint32>& pixels) const;
    // The running fade's frame of now, or its last frame when `at_end`.
    void show_fade(bool at_end);
    // The caption of the area drawn last, again, in the dim colour.
    void dim_last_caption(SDL_Surface* frame);

    Canvas& canvas_;
    TTF_Font* caption_font_ = nullptr;
    TTF_Font* symbol_font_ = nullptr;
    std::int32_t width_ = 0;
    std::int32_t height_ = 0;
    bool cannot_draw_ = false;
    bool area_set_ = false;
    ScreenSaver::Area area_;
    // The area drawn last and its caption, to dim once another area holds the picture on screen.
    SDL_Rect last_area_ = {0, 0, 0, 0};
    std::string last_caption_;
    std::int32_t fade_ms_ = 0;
    Fade fade_;
    std::int32_t fade_frames_ = 0;
    std::int32_t fade_started_ = 0;
    SDL_Rect fade_area_ = {0, 0, 0, 0};
    std::vector<Uint32> fade_from_; // the area as it was, then as the new picture has it
    std::vector<Uint32> fade_to_;
};
