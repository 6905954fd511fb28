// Entry of the Linux shell: command line, start-up, the event loop with its 20 ms timer,
// orderly shutdown.
#include "DecodeWorker.h"
#include "LayerShow.h"
#include "Platform.h"
#include "ScreenSaver.h"
#include "ScreenWindow.h"
#include "Shell.h"
#include "TickPlan.h"
#include "Tracer.h"
#include "UserFolders.h"
#include "WindowManager.h"

#include <SDL.h>

#include <cerrno>
#include <climits>
#include <clocale>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#ifndef GW_VERSION
#define GW_VERSION "0"
#endif

namespace {
// The one controller of the process, for its whole life.
ScreenSaver g_screen_saver;

volatile std::sig_atomic_t g_signalled = 0;
// Written by the signal handler so that a loop asleep in poll wakes at once.
int g_wake_pipe[2] = {-1, -1};

extern "C" void on_signal(int) {
    g_signalled = 1;
    if (g_wake_pipe[1] >= 0) {
        const int saved = errno;
        const char byte = 1;
        ssize_t ignored = write(g_wake_pipe[1], &byte, 1);
        (void)ignored;
        errno = saved;
    }
}

void install_signal_handlers() {
    if (pipe2(g_wake_pipe, O_CLOEXEC | O_NONBLOCK) != 0) g_wake_pipe[0] = g_wake_pipe[1] = -1;
    struct sigaction action = {};
    action.sa_handler = on_signal;
    sigemptyset(&action.sa_mask);
    // Each signal whose default would end the process ends the show in order instead, so that
    // the marked files still go to the trash.
    for (int number : {SIGTERM, SIGINT, SIGHUP, SIGQUIT, SIGUSR1, SIGUSR2, SIGALRM})
        sigaction(number, &action, nullptr);
    // A closed pipe (stderr, the worker's) is a failed write where it happens.
    signal(SIGPIPE, SIG_IGN);
}

const char kHelp[] =
    "Usage: glimmerwall [--layer | --window-id ID | -window-id ID | -root] [--help] [--version]\n"
    "\n"
    "A full-screen slideshow of pictures drawn at random, without repetition, from the\n"
    "folders that its configuration names; for use as a screen saver.\n"
    "\n"
    "Configuration: the first of these files that can be read:\n"
    "  Glimmerwall.cfg in the program's own folder, then in the folder above it,\n"
    "  then $XDG_CONFIG_HOME/glimmerwall/Glimmerwall.cfg (~/.config/glimmerwall/...).\n"
    "One key and value a line, '#' starts a comment; keys:\n"
    "  path FOLDER      a folder whose whole tree is shown (one line each)\n"
    "  dossier FOLDER   the same, after every path folder\n"
    "  sauf TEXT        a file whose path contains TEXT (any letter case) is not shown\n"
    "  exclude TEXT     the same as sauf\n"
    "  delai MS         milliseconds between pictures (default 5000)\n"
    "  cache N          fitted pictures kept in memory (default 32)\n"
    "  cachemb MB       megabytes of pictures kept in memory (default 128, 0: no limit)\n"
    "  small            a 400 x 200 window at the top right, the cursor visible\n"
    "  caption WHAT     path (the default), date (taken, else the file's), date+path, none\n"
    "  background HOW   black (the default) or blur: the picture itself, blurred, around it\n"
    "  screens HOW      span (the default): one picture over all monitors; each: a picture\n"
    "                   on each monitor, one changing after the other\n"
    "  fade MS          milliseconds a new picture takes to fade in (default 0: a cut)\n"
    "  trace LEVEL      trace level, 0 (gravest only) to 4 (everything, the default)\n"
    "\n"
    "Keys: Space pauses and resumes, Right shows the next picture, Left the one before,\n"
    "Delete marks the picture on screen for the trash (five pictures later, or at the end);\n"
    "any other key, or moving the mouse more than 40 pixels, ends the show.\n"
    "\n"
    "Trace: $XDG_STATE_HOME/glimmerwall/Glimmerwall.txt (~/.local/state/glimmerwall/...),\n"
    "emptied at each start.\n"
    "\n"
    "Index: $XDG_CACHE_HOME/glimmerwall/index (~/.cache/glimmerwall/index) keeps the\n"
    "folders, their file counts and where the random round stands, so that a later show\n"
    "draws from the whole library at once and shows every picture before any comes again.\n"
    "It is used while the configured folders and exclusions stay the same; deleting it is\n"
    "always safe (the next show lists the folders again).\n"
    "\n"
    "Saver-window mode: when XSCREENSAVER_WINDOW names a window (decimal or 0x-hex), or\n"
    "with --window-id ID, -window-id ID or -root (the root window), the show is drawn into\n"
    "that window of a saver daemon or screen locker, which keeps keyboard and mouse: no key\n"
    "ends the show and nothing is marked. It ends on SIGTERM or when that window goes.\n"
    "\n"
    "Layer mode (--layer): on a Wayland compositor with the layer shell (sway, Hyprland and\n"
    "others), the show covers every output above all windows and takes the keyboard, with\n"
    "the keys and mouse rule above; for an idle daemon: swayidle timeout 600 'glimmerwall "
    "--layer'.\n"
    "The stand-alone full-screen show does not lock the session.\n";

// A window id as the daemons write it: decimal or 0x-hex, nothing else; 0 when not one.
unsigned long parse_window_id(const char* text) {
    if (!text || !*text) return 0;
    const bool hex = text[0] == '0' && (text[1] == 'x' || text[1] == 'X');
    const char* digits = hex ? text + 2 : text;
    if (!*digits || *digits == '-' || *digits == '+' || *digits == ' ') return 0;
    char* end = nullptr;
    const unsigned long id = std::strtoul(digits, &end, hex ? 16 : 10);
    return end && *end == '\0' ? id : 0;
}

struct Options {
    std::string error; // the saver window is named wrongly: the show must not start
    bool help = false;
    bool version = false;
    bool layer = false;     // overlay surfaces of the Wayland layer shell
    bool saver = false;     // draw into a host's window
    unsigned long host = 0; // that window; 0 with `saver`: the root window
};

Options parse_options(int argc, char** argv) {
    Options options;
    unsigned long named = 0;
    bool root = false;
    for (int i = 1; i < argc; ++i) {
        const char* a = argv[i];
        if (!a) continue;
        if (std::strcmp(a, "--help") == 0)
            options.help = true;
        else if (std::strcmp(a, "--version") == 0)
            options.version = true;
        else if (std::strcmp(a, "--layer") == 0)
            options.layer = true;
        else if (std::strcmp(a, "-root") == 0 || std::strcmp(a, "--root") == 0)
            root = true;
        else if (std::strcmp(a, "--window-id") == 0 || std::strcmp(a, "-window-id") == 0) {
            // A daemon that means saver-window mode must never get the stand-alone show,
            // whose keys end it and mark files.
            if (i + 1 >= argc || !argv[i + 1]) {
                options.error = std::string(a) + " needs a window id";
                continue;
            }
            named = parse_window_id(argv[++i]);
            if (named == 0) options.error = std::string("not a window id: <") + argv[i] + ">";
        }
    }
    // The daemons name their window in the environment, with -root on the command line.
    const char* environment = std::getenv("XSCREENSAVER_WINDOW");
    const unsigned long from_environment = parse_window_id(environment);
    if (environment && from_environment == 0 && named == 0 && options.error.empty())
        options.error =
            std::string("XSCREENSAVER_WINDOW is not a window id: <") + environment + ">";
    if (named != 0) {
        options.saver = true;
        options.host = named;
    } else if (from_environment != 0) {
        options.saver = true;
        options.host = from_environment;
    } else if (root) {
        options.saver = true;
    }
    return options;
}

// SDL falls back on drivers that show nothing (offscreen, dummy): only a named one is taken.
bool choose_video_driver(std::string& why) {
    const char* named = std::getenv("SDL_VIDEODRIVER");
    if (named && *named) return true;
    const char* x11 = std::getenv("DISPLAY");
    const char* wayland = std::getenv("WAYLAND_DISPLAY");
    std::string drivers;
    if (x11 && *x11) drivers = "x11";
    if (wayland && *wayland) drivers += drivers.empty() ? "wayland" : ",wayland";
    if (drivers.empty()) {
        why = "no X11 or Wayland display can be reached (DISPLAY and WAYLAND_DISPLAY are unset)";
        return false;
    }
    SDL_SetHint(SDL_HINT_VIDEODRIVER, drivers.c_str());
    return true;
}

// Xlib ends the process on a lost display: the marked files go first.
void end_after_display_lost() { g_screen_saver.suppress_all(); }

// Sleeps until an X event or a signal arrives, or `timeout_ms` pass (-1: no limit); true
// when `waited` holds an event taken meanwhile. SDL's own wait resumes after a signal, so on
// X11 the loop polls the connection itself, with the signal handler's pipe beside it.
// The decode worker's output is watched beside them.
bool wait_for_events(int x_descriptor, int worker_descriptor, int timeout_ms, SDL_Event& waited) {
    if (x_descriptor < 0 || g_wake_pipe[0] < 0) {
        // Elsewhere a signal is seen at the next wake-up, at most a quarter of a second later,
        // and the worker's answers at the next tick.
        int capped = timeout_ms < 0 || timeout_ms > 250 ? 250 : timeout_ms;
        if (worker_descriptor >= 0 && capped > static_cast<int>(shell::kTimerPeriodMs))
            capped = static_cast<int>(shell::kTimerPeriodMs);
        return SDL_WaitEventTimeout(&waited, capped) != 0;
    }
    SDL_PumpEvents();
    if (SDL_PeepEvents(nullptr, 0, SDL_PEEKEVENT, SDL_FIRSTEVENT, SDL_LASTEVENT) > 0) return false;
    struct pollfd descriptors[3] = {
        {x_descriptor, POLLIN, 0}, {g_wake_pipe[0], POLLIN, 0}, {worker_descriptor, POLLIN, 0}};
    const nfds_t watched = worker_descriptor >= 0 ? 3 : 2;
    if (poll(descriptors, watched, timeout_ms) > 0 && (descriptors[1].revents & POLLIN) != 0) {
        char bytes[16];
        while (read(g_wake_pipe[0], bytes, sizeof bytes) > 0) {}
    }
    return false;
}

// The decode worker of `controller`'s settings, started: this program (`program`) with its
// worker switch.
std::unique_ptr<WorkerDecoder> make_decoder(const std::string& program,
                                            const ScreenSaver& controller) {
    WorkerDecoder::Limits limits;
    limits.memory_bytes = static_cast<std::uint64_t>(GW_WORKER_MEMORY_MB) * 1024 * 1024;
    auto decoder = std::make_unique<WorkerDecoder>(
        program,
        std::vector<std::string>{"--decode-worker", std::to_string(controller.trace_level()),
                                 controller.backdrop() ? "blur" : "black"},
        limits);
    decoder->start();
    return decoder;
}

// The running show: its window, the display manager that draws into it, and the controller
// that both serve. main owns it from the window's opening to the end.
class Show {
public:
    explicit Show(ScreenSaver& controller) : controller_(controller) {}

    // Opens the window that the options ask for (full screen, small, or a host's) and connects
    // its display manager to the controller, with the decode worker that `program` (this
    // program) runs; false, with the reason in `why`, when it cannot.
    bool open(const Options& options, const std::string& program, std::string& why);
    // Events as they come and the controller's timer steps, until the show ends or a
    // termination signal arrives.
    void run();
    // The worker is stopped, whatever it decodes; the files still marked go to the trash.
    void end();
    // True when the display manager could not draw: nothing of the show is on screen.
    bool failed() const { return cannot_draw(); }

private:
    bool over() const { return window_.ended() || g_signalled || cannot_draw(); }
    bool cannot_draw() const { return display_ && display_->cannot_draw(); }
    void handle_queued(const SDL_Event* first);
    void dispatch(const SDL_Event& event);
    // Takes in the worker's answers; a step that waited for one carries on.
    void take_decoded();

    ScreenSaver& controller_;
    std::unique_ptr<WorkerDecoder> decoder_;
    ScreenWindow window_;
    std::unique_ptr<WindowCanvas> canvas_;
    std::unique_ptr<WindowManager> display_;
    bool each_screen_ = false;
};

bool Show::open(const Options& options, const std::string& program, std::string& why) {
    SDL_SetHint(SDL_HINT_NO_SIGNAL_HANDLERS, "1");
    // SDL holds off the desktop's screen saver and display power saving while a window is
    // open; a screen saver must let the screen blank and the locker's idle timers run.
    SDL_SetHint(SDL_HINT_VIDEO_ALLOW_SCREENSAVER, "1");
    if (!options.saver && !choose_video_driver(why)) return false;
    const bool opened = options.saver ? window_.create_in_host(options.host)
                                      : window_.create(controller_.is_small());
    if (!opened) {
        why = SDL_GetError();
        return false;
    }
    // SDL reads this at the first drawing. On X11 the server's own image transfer: a GL
    // framebuffer would start threads of its own. Wayland has no other way to a window's image.
    if (SDL_strcmp(SDL_GetCurrentVideoDriver(), "x11") == 0) {
        SDL_SetHint(SDL_HINT_FRAMEBUFFER_ACCELERATION, "0");
        watch_display(end_after_display_lost);
    }
    canvas_ = std::make_unique<WindowCanvas>(window_.sdl());
    display_ = std::make_unique<WindowManager>(*canvas_);
    display_->set_fade(controller_.fade_ms());
    controller_.set_window_manager(display_.get(), display_->width(), display_->height());
    // Monitors of their own only for the show over the whole screen.
    each_screen_ = controller_.each_screen() && !options.saver && !controller_.is_small();
    if (each_screen_) controller_.set_screens(monitor_areas());
    decoder_ = make_decoder(program, controller_);
    controller_.set_decoder(decoder_.get());
    if (!controller_.is_small() && !options.saver) SDL_ShowCursor(SDL_DISABLE);
    return true;
}

void Show::end() {
    controller_.set_decoder(nullptr);
    decoder_.reset();
    controller_.suppress_all();
}

void Show::take_decoded() {
    if (decoder_ && decoder_->pump()) controller_.on_decoded();
}

void Show::dispatch(const SDL_Event& event) {
    const bool resized =
        event.type == SDL_WINDOWEVENT && event.window.event == SDL_WINDOWEVENT_SIZE_CHANGED;
    const bool shown_again =
        event.type == SDL_WINDOWEVENT && (event.window.event == SDL_WINDOWEVENT_EXPOSED || resized);
    if (resized && window_.saver_mode()) {
        // A host's window sets the size of the show: the next pictures are fitted to it.
        display_->resize(event.window.data1, event.window.data2);
        controller_.set_window_manager(display_.get(), display_->width(), display_->height());
    }
    // A monitor that comes or goes is taken up at the next change.
    if (event.type == SDL_DISPLAYEVENT && each_screen_) controller_.set_screens(monitor_areas());
    if (event.type == SDL_KEYDOWN) display_->end_fade();
    if (!shown_again)
        window_.handle(controller_, event);
    else if (!display_->repaint())
        controller_.redraw();
}

// Handles every event queued now. A held Right or Left steps at most once per turn, and a
// key that ends the show goes before any further step: the steps queued ahead of it are
// dropped (a mark made ahead of it still counts).
void Show::handle_queued(const SDL_Event* first) {
    std::vector<SDL_Event> events;
    if (first) events.push_back(*first);
    SDL_PumpEvents();
    SDL_Event buffer[64];
    for (;;) {
        const int n = SDL_PeepEvents(buffer, 64, SDL_GETEVENT, SDL_FIRSTEVENT, SDL_LASTEVENT);
        if (n <= 0) break;
        events.insert(events.end(), buffer, buffer + n);
    }
    std::size_t end = events.size();
    for (std::size_t i = 0; i < events.size() && end == events.size(); ++i)
        if (window_.ends_show(events[i])) end = i;
    bool repeat_stepped = false;
    for (std::size_t i = 0; i < events.size() && !window_.ended(); ++i) {
        bool repeat = false;
        if (i < end && window_.is_step_key(events[i], repeat)) {
            if (end < events.size()) continue;
            if (repeat && repeat_stepped) continue;
            if (repeat) repeat_stepped = true;
        }
        dispatch(events[i]);
        if (i == end) break;
    }
}

// The controller's timer step runs on a 20 ms grid. As with a window timer, the first tick
// comes at once and a late tick is not repeated to catch up. Once the index is complete, the
// loop sleeps through the ticks at which no step can be due.
void Show::run() {
    const int x_descriptor = window_.x_event_descriptor();
    std::uint64_t next_tick = SDL_GetTicks64();
    SDL_Event waited;
    bool have_waited = false;
    while (!over()) {
        handle_queued(have_waited ? &waited : nullptr);
        have_waited = false;
        if (over()) break;
        take_decoded();
        if (over()) break;

        // A fade's frames come before the timer's steps, which run at every tick while a
        // decode is out.
        const std::int32_t frame_wait = tick_plan::until_fade_frame(*display_);
        if (frame_wait == 0) {
            display_->fade_frame();
            continue;
        }
        std::uint64_t now = SDL_GetTicks64();
        const std::uint64_t tick =
            tick_plan::controller_tick(controller_, decoder_->busy(), next_tick, now);
        if (now >= tick) {
            controller_.next(false);
            next_tick = tick_plan::tick_after(tick, SDL_GetTicks64());
            continue;
        }
        std::uint64_t wait = tick - now;
        if (frame_wait > 0 && static_cast<std::uint64_t>(frame_wait) < wait) wait = frame_wait;
        have_waited = wait_for_events(x_descriptor, decoder_->descriptor(),
                                      wait > INT_MAX ? -1 : static_cast<int>(wait), waited);
    }
}

int fail(const std::string& why) {
    shell::trace_no_window("create_screen_window", why);
    std::fprintf(stderr, "glimmerwall: cannot open the screen window: %s\n", why.c_str());
    SDL_Quit();
    return 1;
}
// True when the show goes to a Wayland display: SDL's Wayland driver named, or a Wayland
// display without an X one.
bool on_wayland() {
    const char* named = std::getenv("SDL_VIDEODRIVER");
    if (named && *named) return std::strcmp(named, "wayland") == 0;
    const char* x11 = std::getenv("DISPLAY");
    const char* wayland = std::getenv("WAYLAND_DISPLAY");
    return (!x11 || !*x11) && wayland && *wayland;
}

// The show in the layer shell's overlay surfaces, for a compositor's idle daemon, or in a
// full-screen window of the Wayland client: SDL's Wayland driver draws only through a GL
// renderer, at four times the X11 path's time per picture under a software GL.
int run_layer_show(const std::string& program, layer_show::Surface kind) {
    std::string why;
    const layer_show::Outcome outcome = layer_show::run(
        g_screen_saver, kind, [&] { return make_decoder(program, g_screen_saver); }, g_signalled,
        g_wake_pipe[0], why);
    if (outcome == layer_show::Outcome::NotShown) {
        shell::trace_no_window("layer shell", why);
        std::fprintf(stderr, "glimmerwall: cannot show the %s: %s\n",
                     kind == layer_show::Surface::Overlay ? "overlay" : "screen window",
                     why.c_str());
    }
    return outcome == layer_show::Outcome::Ended ? 0 : 1;
}
} // namespace

int main(int argc, char** argv) {
    // The decode worker: the same program, started by the show with a switch of its own.
    if (argc >= 3 && std::strcmp(argv[1], "--decode-worker") == 0)
        return run_decode_worker(static_cast<std::int32_t>(std::strtol(argv[2], nullptr, 10)),
                                 argc >= 4 && std::strcmp(argv[3], "blur") == 0);
    // Dates in captions are written in the user's own format.
    std::setlocale(LC_TIME, "");
    const Options options = parse_options(argc, argv);
    if (options.help) {
        std::fputs(kHelp, stdout);
        return 0;
    }
    if (options.version) {
        std::printf("glimmerwall %s\n", GW_VERSION);
        return 0;
    }
    install_signal_handlers();
    const std::string argument0 = argc > 0 && argv[0] ? argv[0] : "";
    shell::enter_program_folder(platform::executable_path(argument0));
    shell::read_configuration(g_screen_saver, platform::user_config_file());
    shell::trace_start(__DATE__, __TIME__, shell::join_arguments(argc, argv), argument0);

    if (!options.error.empty()) {
        shell::trace_no_window("saver window", options.error);
        std::fprintf(stderr, "glimmerwall: %s\n", options.error.c_str());
        return 1;
    }
    if (options.layer)
        return run_layer_show(platform::executable_path(argument0), layer_show::Surface::Overlay);
    // Small mode places its window, which only SDL's driver asks of the compositor.
    if (!options.saver && !g_screen_saver.is_small() && on_wayland())
        return run_layer_show(platform::executable_path(argument0), layer_show::Surface::Window);
    Show show(g_screen_saver);
    std::string why;
    if (!show.open(options, platform::executable_path(argument0), why)) return fail(why);
    show.run();
    show.end();
    if (show.failed()) {
        std::fprintf(stderr, "glimmerwall: the show cannot be drawn on this display\n");
        return 1;
    }
    // The window ends with the process, unclosed: SDL 2.26 may still have a wake-up message
    // for it in flight on its second X connection, and closing that connection after the
    // window is gone turns the server's error into exit code 1.
    return 0;
}
