#include "ScreenSaver.h"

#include "BitMap.h"
#include "Configurator.h"
#include "Decoder.h"
#include "FileManager.h"
#include "Platform.h"
#include "ScopedValue.h"
#include "Suppressor.h"
#include "Tracer.h"

#include <climits>
#include <cstdlib>
#include <ctime>

namespace {
const std::int32_t kModule = Tracer::register_module("ScreenSaver");
constexpr std::int32_t kDefaultCache = 32;
constexpr std::int32_t kDeletionWait = 5;
constexpr int kFirstStepIndexSteps = 5;

// The keys read_config reads; any other key in the file is most likely a misspelling.
const char* const kKnownKeys[] = {"path",       "dossier", "sauf",  "exclude", "delai",
                                  "cache",      "cachemb", "small", "trace",   "caption",
                                  "background", "screens", "fade"};
// The longest fade taken, in ms: a minute, far beyond any delay that a show would use.
constexpr std::int32_t kLongestFade = 60000;

// What a picture's caption shows.
enum class Caption { path, date, date_and_path, none };
const struct {
    const char* value;
    Caption caption;
} kCaptions[] = {{"path", Caption::path},
                 {"date", Caption::date},
                 {"date+path", Caption::date_and_path},
                 {"none", Caption::none}};

// The date a photo was taken ("YYYY:MM:DD HH:MM:SS" from its EXIF data), else its file's last
// write, in the user's own date format; empty when neither can be read.
std::string date_of(const BitMap& image, const std::string& path) {
    std::tm when = {};
    const std::string& taken = image.taken();
    if (taken.size() >= 19) {
        when.tm_year = std::atoi(taken.substr(0, 4).c_str()) - 1900;
        when.tm_mon = std::atoi(taken.substr(5, 2).c_str()) - 1;
        when.tm_mday = std::atoi(taken.substr(8, 2).c_str());
        when.tm_hour = std::atoi(taken.substr(11, 2).c_str());
        when.tm_min = std::atoi(taken.substr(14, 2).c_str());
        when.tm_sec = std::atoi(taken.substr(17, 2).c_str());
    } else {
        platform::FileId id;
        std::string why;
        if (platform::file_identity(path, true, id, why) != platform::Lookup::found) return {};
        const std::int64_t ms = platform::modified_ms(id);
        when = platform::local_time(ms >= 0 ? ms / 1000 : (ms - 999) / 1000);
    }
    // A month or day of 0 (cameras without a set clock write "0000:00:00") is no date.
    if (when.tm_mon < 0 || when.tm_mon > 11 || when.tm_mday < 1 || when.tm_mday > 31) return {};
    char text[64] = "";
    return std::strftime(text, sizeof text, "%x", &when) > 0 ? text : std::string();
}

bool is_known_key(const std::string& key) {
    for (const char* known : kKnownKeys)
        if (Configurator::same_key(key, known)) return true;
    return false;
}

// A folder pasted with the quotes that a file manager's "copy as path" puts around it.
std::string unquoted(const std::string& value) {
    if (value.size() >= 2 && value.front() == '"' && value.back() == '"')
        return value.substr(1, value.size() - 2);
    return value;
}

// True when a step is due `delay` ms after the last one. The difference is taken as unsigned:
// on the monotonic clock it only grows, so a delay up to INT32_MAX is waited for and not
// mistaken for a step in the future.
bool delay_passed(std::int32_t now, std::int32_t last, std::int32_t delay) {
    if (delay <= 0) return true;
    const std::uint32_t since = static_cast<std::uint32_t>(now) - static_cast<std::uint32_t>(last);
    return since >= static_cast<std::uint32_t>(delay);
}
} // namespace

class ScreenSaver::PrivateScreenSaver {
public:
    // Hands the suppressor's deletions to the display.
    class Eraser final : public DelayedSuppressor::Eraser {
    public:
        bool erase(const std::string& path) override {
            return display && display->delete_file(path.c_str());
        }
        SystemWrapper* display = nullptr;
    };

    FileManager file_manager;
    SystemWrapper* display = nullptr;
    DelayedSuppressor suppressor;
    Eraser eraser;
    std::int32_t screen_width = 0;
    std::int32_t screen_height = 0;
    bool running = false;
    bool small = false;
    bool paused = false;
    std::int32_t trace_level = 4;
    Caption caption = Caption::path;
    bool backdrop = false; // the space around a picture filled with the same picture, blurred
    std::int32_t fade_ms = 0;
    bool each_screen = false;
    // The monitors when each shows its own picture; empty: the whole window.
    std::vector<Area> screens;
    // The monitor that changed last (an index into `screens`), and the one the step under way
    // fills; a step after prev() fills the one that changed last again.
    std::size_t last_screen = 0;
    bool screen_shown = false;
    bool back_step = false;
    Area step_area;
    Area shown_area; // the monitor of the picture on screen
    // The monitor after the one that changed last, or that one again after prev().
    std::size_t screen_after() const;
    // The delay between timer steps: each monitor changes once per `delay`.
    std::int32_t step_delay() const;
    // The caption of a picture of `path` as the settings ask for it.
    std::string caption_of(const BitMap& image, const std::string& path) const;
    std::int32_t delay = 5000;
    std::int32_t last_step_time = -1000000000;
    std::int32_t step_count = 0;
    // What the last step showed; the file manager keeps the picture until its next decode.
    BitMap* shown_image = nullptr;
    std::string shown_caption;
    // A step waits for its picture.
    bool waiting = false;
    // Right pressed while a step waited: each brings one more step once it is done.
    int queued_steps = 0;

    // Carries on the step that waits, fitted to its monitor (or the window).
    FileManager::Step continue_step(std::string& path, BitMap*& image) {
        if (screens.empty())
            return file_manager.continueImage(screen_width, screen_height, path, image);
        return file_manager.continueImage(step_area.width, step_area.height, path, image);
    }
    // Begins a step at `now`: the next picture, or the wait for it.
    void begin_step(bool forced, std::int32_t now);

    // Ends the step that the file manager's `step` answered, unless it waits.
    void end_step(FileManager::Step step, BitMap* image, const std::string& path, std::int32_t now);
};

void ScreenSaver::PrivateScreenSaver::end_step(FileManager::Step step, BitMap* image,
                                               const std::string& path, std::int32_t now) {
    if (step == FileManager::Step::waiting) {
        waiting = true;
        return;
    }
    const bool waited = waiting;
    waiting = false;
    if (!screens.empty()) {
        last_screen = screen_after();
        screen_shown = true;
        back_step = false;
        shown_area = step_area;
        if (display) display->set_area(shown_area);
    }
    shown_image = step == FileManager::Step::shown ? image : nullptr;
    if (!shown_image)
        shown_caption.clear();
    else if (paused)
        shown_caption = caption_of(*shown_image, path) + "   pause";
    else
        shown_caption = caption_of(*shown_image, path);
    if (display) display->draw_bitmap(shown_image, shown_caption);

    // A picture that had to be waited for still gets its whole delay on screen.
    last_step_time = waited ? elapsed_ms() : now;
    suppressor.suppress();
    if (step_count < INT32_MAX) ++step_count;
    if (screens.empty()) {
        file_manager.prepareNext(screen_width, screen_height);
    } else {
        const Area& next = screens[screen_after()];
        file_manager.prepareNext(next.width, next.height);
    }
    if (queued_steps > 0) {
        --queued_steps;
        begin_step(true, elapsed_ms());
    }
}

std::string ScreenSaver::PrivateScreenSaver::caption_of(const BitMap& image,
                                                        const std::string& path) const {
    switch (caption) {
    case Caption::path:
        return path;
    case Caption::none:
        return {};
    case Caption::date:
    case Caption::date_and_path: {
        const std::string date = date_of(image, path);
        if (caption == Caption::date) return date;
        return date.empty() ? path : date + "   " + path;
    }
    }
    return path;
}

std::size_t ScreenSaver::PrivateScreenSaver::screen_after() const {
    if (screens.empty() || !screen_shown) return 0;
    // The list may have shrunk since that monitor changed.
    const std::size_t last = last_screen < screens.size() ? last_screen : screens.size() - 1;
    return back_step ? last : (last + 1) % screens.size();
}

std::int32_t ScreenSaver::PrivateScreenSaver::step_delay() const {
    const auto count = static_cast<std::int32_t>(screens.size());
    return count > 1 && delay > 0 ? delay / count : delay;
}

void ScreenSaver::PrivateScreenSaver::begin_step(bool forced, std::int32_t now) {
    GW_TRACE(kModule, 4, "--------------------------------------------");
    GW_TRACE(kModule, 4, "next( %sforced ) [%d:%dms]", forced ? "" : "not ", step_count, now);
    std::int32_t width = screen_width;
    std::int32_t height = screen_height;
    if (!screens.empty()) {
        // The monitor is chosen now: a step that waits for its picture keeps it.
        step_area = screens[screen_after()];
        width = step_area.width;
        height = step_area.height;
        GW_TRACE(kModule, 4, "next : screen %d at %d,%d (%dx%d)", static_cast<int>(screen_after()),
                 step_area.x, step_area.y, width, height);
    }
    std::string path;
    BitMap* image = nullptr;
    const FileManager::Step step = file_manager.beginImage(width, height, path, image);
    end_step(step, image, path, now);
}

ScreenSaver::ScreenSaver() : d_(std::make_unique<PrivateScreenSaver>()) {}

ScreenSaver::~ScreenSaver() = default;

bool ScreenSaver::read_config(const char* file_name) {
    Configurator config;
    Tracer& tracer = Tracer::instance();
    const std::string trace_file = platform::trace_file_path();
    tracer.set_file(trace_file.c_str());
    tracer.all_module_level(4);
    if (!ReadConfigFile(file_name, config)) return false;

    std::int32_t level = 0;
    if (config.get_int("trace", level, 0)) {
        tracer.all_module_level(level);
        d_->trace_level = level;
    }
    GW_TRACE(kModule, 3, "read config from <%s>", file_name);
    for (const std::string& key : config.keys())
        if (!is_known_key(key)) GW_TRACE(kModule, 1, "unknown key <%s>", key.c_str());

    d_->small = config.contains("small");
    std::string caption;
    if (config.get_string("caption", caption, 0)) {
        bool known = false;
        for (const auto& c : kCaptions) {
            if (Configurator::same_key(caption, c.value)) {
                d_->caption = c.caption;
                known = true;
            }
        }
        if (!known)
            GW_TRACE(kModule, 1, "read_config : unknown caption <%s>, path kept", caption.c_str());
    }
    std::string background;
    if (config.get_string("background", background, 0)) {
        if (Configurator::same_key(background, "blur"))
            d_->backdrop = true;
        else if (!Configurator::same_key(background, "black"))
            GW_TRACE(kModule, 1, "read_config : unknown background <%s>, black kept",
                     background.c_str());
        d_->file_manager.setBackdrop(d_->backdrop);
    }
    std::string screens;
    if (config.get_string("screens", screens, 0)) {
        if (Configurator::same_key(screens, "each"))
            d_->each_screen = true;
        else if (!Configurator::same_key(screens, "span"))
            GW_TRACE(kModule, 1, "read_config : unknown screens <%s>, span kept", screens.c_str());
    }
    std::int32_t fade = 0;
    if (config.get_int("fade", fade, 0)) {
        if (fade >= 0 && fade <= kLongestFade)
            d_->fade_ms = fade;
        else
            GW_TRACE(kModule, 1, "read_config : fade %d outside 0 to %d ms, no fade kept", fade,
                     kLongestFade);
    }
    // A value such as "3000ms" still sets the delay: the leading number is kept.
    config.get_int("delai", d_->delay, 0);
    std::int32_t cache = 0;
    d_->file_manager.setCacheSize(config.get_int("cache", cache, 0) ? cache : kDefaultCache);
    if (config.get_int("cachemb", cache, 0)) d_->file_manager.setCacheMegabytes(cache);

    std::string value;
    for (const char* key : {"path", "dossier"}) {
        for (int i = 0; config.get_string(key, value, i); ++i) {
            // An empty folder would be joined into "/" and the whole disk shown.
            const std::string folder = unquoted(value);
            if (folder.empty())
                GW_TRACE(kModule, 1, "read_config : empty folder of <%s> skipped", key);
            else
                d_->file_manager.addPath(folder);
        }
    }
    for (const char* key : {"sauf", "exclude"})
        for (int i = 0; config.get_string(key, value, i); ++i)
            d_->file_manager.addExcludePattern(value);
    // The index of a library is kept between runs, so that a show starts from all of it.
    const std::string index_file = platform::index_file_path();
    if (index_file.empty())
        GW_TRACE(kModule, 2, "read_config : no cache folder, the index is not kept");
    d_->file_manager.useIndexFile(index_file);
    return true;
}

bool ScreenSaver::is_small() const { return d_->small; }

std::int32_t ScreenSaver::trace_level() const { return d_->trace_level; }

bool ScreenSaver::backdrop() const { return d_->backdrop; }

std::int32_t ScreenSaver::fade_ms() const { return d_->fade_ms; }

bool ScreenSaver::each_screen() const { return d_->each_screen; }

void ScreenSaver::set_screens(const std::vector<Area>& screens) {
    std::vector<Area> usable;
    for (const Area& area : screens)
        if (area.width > 0 && area.height > 0) usable.push_back(area);
    if (!d_->each_screen || usable.size() < 2) usable.clear();
    GW_TRACE(kModule, 3, "set_screens ( %d monitors, %s )", static_cast<int>(screens.size()),
             usable.empty() ? "one picture" : "a picture on each");
    d_->screens = std::move(usable);
}

void ScreenSaver::set_window_manager(SystemWrapper* display, std::int32_t width,
                                     std::int32_t height) {
    d_->display = display;
    d_->eraser.display = display;
    d_->screen_width = width;
    d_->screen_height = height;
    d_->suppressor.init(kDeletionWait, &d_->eraser);
    GW_TRACE(kModule, 3, "set_window_manager ( %dx%d )", width, height);
}

void ScreenSaver::next(bool forced) {
    PrivateScreenSaver& d = *d_;
    if (d.running) {
        GW_TRACE(kModule, 2, "next already running");
        return;
    }
    const ScopedValue<bool> running(d.running, true); // cleared on every way out

    const int index_steps = d.step_count == 0 ? kFirstStepIndexSteps : 1;
    for (int i = 0; i < index_steps; ++i) d.file_manager.constructPath();

    const std::int32_t now = elapsed_ms();
    if (d.waiting) {
        // Right while the picture is decoded: one more step once that picture is shown, as
        // many as were pressed (a held key's repeats are coalesced by the shells).
        constexpr int kMostQueued = 16;
        if (forced && d.queued_steps < kMostQueued) ++d.queued_steps;
        std::string path;
        BitMap* image = nullptr;
        const FileManager::Step step = d.continue_step(path, image);
        d.end_step(step, image, path, now);
        return;
    }
    // The first step is due at once whatever the delay, also one longer than the distance
    // from last_step_time's start value to the clock's origin.
    if (!forced &&
        (d.paused || (d.step_count > 0 && !delay_passed(now, d.last_step_time, d.step_delay()))))
        return;

    d.begin_step(forced, now);
}

void ScreenSaver::set_decoder(Decoder* decoder) { d_->file_manager.setDecoder(decoder); }

void ScreenSaver::on_decoded() {
    PrivateScreenSaver& d = *d_;
    if (!d.waiting || d.running) return;
    const ScopedValue<bool> running(d.running, true);
    std::string path;
    BitMap* image = nullptr;
    const FileManager::Step step = d.continue_step(path, image);
    d.end_step(step, image, path, elapsed_ms());
}

bool ScreenSaver::waiting() const { return d_->waiting; }

void ScreenSaver::redraw() {
    if (!d_->display || d_->step_count == 0) return;
    if (!d_->screens.empty()) d_->display->set_area(d_->shown_area);
    d_->display->draw_bitmap(d_->shown_image, d_->shown_caption);
}

void ScreenSaver::prev() {
    GW_TRACE(kModule, 3, "prev");
    // The step that waited is given up: the one that follows goes back in the history.
    d_->waiting = false;
    d_->queued_steps = 0;
    d_->back_step = true;
    d_->file_manager.rewindToPrevious();
}

void ScreenSaver::toggle_pause() {
    d_->waiting = false;
    d_->queued_steps = 0;
    d_->paused = !d_->paused;
    if (d_->paused) {
        // The picture on screen comes again where it is, not on the next monitor.
        d_->file_manager.rewindToCurrent();
        d_->back_step = true;
    }
    GW_TRACE(kModule, 3, "toggle_pause : now %spaused", d_->paused ? "" : "not ");
}

void ScreenSaver::erase() {
    std::string path;
    platform::FileId id;
    // With nothing on screen there is nothing the user could mean.
    if (!d_->file_manager.currentPicture(path, id)) {
        GW_TRACE(kModule, 3, "erase : no picture on screen");
        return;
    }
    GW_TRACE(kModule, 4, "erase <%s>", path.c_str());
    d_->suppressor.add(path, id);
}

void ScreenSaver::suppress_all() {
    GW_TRACE(kModule, 3, "done");
    d_->suppressor.suppress_all();
    d_->file_manager.saveIndex();
}

bool ScreenSaver::index_complete() const { return d_->file_manager.indexComplete(); }

bool ScreenSaver::next_due(std::int32_t& due_ms) const {
    if (d_->paused) return false;
    // As in next: the first step is due at once, whatever the delay.
    if (d_->step_count == 0) {
        due_ms = elapsed_ms();
        return true;
    }
    // A delay below 0 is due as soon as one of 0: the wrapping sum then never lands far ahead.
    const std::int32_t delay = d_->step_delay() > 0 ? d_->step_delay() : 0;
    due_ms = static_cast<std::int32_t>(static_cast<std::uint32_t>(d_->last_step_time) +
                                       static_cast<std::uint32_t>(delay));
    return true;
}
