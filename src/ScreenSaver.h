// The slideshow controller: settings, timing, and the user's commands.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

class BitMap;
class Decoder;

class ScreenSaver {
public:
    // A part of the window, in its pixels: one monitor's.
    struct Area {
        std::int32_t x = 0;
        std::int32_t y = 0;
        std::int32_t width = 0;
        std::int32_t height = 0;
    };
    // The display: draws a picture (or the no-image screen when null) and deletes files.
    class SystemWrapper {
    public:
        // `image` is borrowed for this call only.
        virtual void draw_bitmap(const BitMap* image, const std::string& caption) = 0;
        // The part of the window that the next draw_bitmap fills, the whole window until
        // called; the part drawn last holds the picture on screen.
        virtual void set_area(const Area& area) { static_cast<void>(area); }
        // True when the file went to the recycle bin or trash.
        virtual bool delete_file(const char* path) = 0;

    protected:
        ~SystemWrapper() = default;
    };
    class PrivateScreenSaver;

    ScreenSaver();
    ~ScreenSaver();
    ScreenSaver(const ScreenSaver&) = delete;
    ScreenSaver& operator=(const ScreenSaver&) = delete;

    // Names the trace file, reads the settings; false when the file cannot be read.
    bool read_config(const char* file_name);
    bool is_small() const;
    // The trace level the settings asked for (4 unless set), for a worker's records.
    std::int32_t trace_level() const;
    // True when the space around a picture is filled with the same picture, blurred.
    bool backdrop() const;
    // How long a new picture takes to fade in over the old one, in ms; 0 for a cut.
    std::int32_t fade_ms() const;
    // True when each monitor shows a picture of its own, rather than one over all of them.
    bool each_screen() const;
    // The monitors of the window (each_screen() only), taken up at the next step: each step
    // changes the next one in turn, a step after prev() the one that changed last, and timer
    // steps come `delai` / monitors apart. Without a call, or with none, the whole window.
    void set_screens(const std::vector<Area>& screens);
    // `display` is not owned and must outlive every later call but the destructor.
    void set_window_manager(SystemWrapper* display, std::int32_t width, std::int32_t height);
    // Where the pictures are decoded (not owned; outlives every later call but the
    // destructor); without one, in this process.
    void set_decoder(Decoder* decoder);
    // One step of the show; the timer's steps are not forced and wait for the delay. A step
    // whose picture is still being decoded waits for it, and the picture on screen stays
    // the one that keys act on.
    void next(bool forced);
    // The decoder has news: a step waiting for its picture carries on.
    void on_decoded();
    // True while a step waits for its picture.
    bool waiting() const;
    // Draws the last step's picture (or no-image screen) again, caption included, for a
    // window that lost its pixels; nothing before the first step.
    void redraw();
    void prev();
    void toggle_pause();
    void erase();
    void suppress_all();

    // True once every configured folder has been indexed: timer steps then only show pictures.
    bool index_complete() const;
    // The elapsed_ms reading from which a timer step is due (wrapping); false while paused,
    // when no timer step is ever due.
    bool next_due(std::int32_t& due_ms) const;

private:
    std::unique_ptr<PrivateScreenSaver> d_;
};
