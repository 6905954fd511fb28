#include "LayerShow.h"

#include "DecodeWorker.h"
#include "ScreenSaver.h"
#include "Shell.h"
#include "TickPlan.h"
#include "Tracer.h"
#include "WindowManager.h"

#include "wlr-layer-shell-unstable-v1-client-protocol.h"
#include "xdg-shell-client-protocol.h"

#include <wayland-client.h>
#include <xkbcommon/xkbcommon.h>

#include <SDL.h>

#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdint>
#include <cstring>
#include <vector>

#include <fcntl.h>
#include <poll.h>
#include <sys/mman.h>
#include <unistd.h>

namespace layer_show {
namespace {

const std::int32_t kModule = Tracer::register_module("WinMain");

std::uint64_t now_ms() {
    using namespace std::chrono;
    return static_cast<std::uint64_t>(
        duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
}

// One output's overlay surface and the one shared-memory image it shows.
struct Screen {
    wl_output* output = nullptr;
    std::uint32_t name = 0;
    wl_surface* surface = nullptr;
    zwlr_layer_surface_v1* layer = nullptr;
    xdg_surface* window = nullptr; // the full-screen window instead of the overlay
    xdg_toplevel* toplevel = nullptr;
    int pending_width = 0; // the window's size, from its last toplevel configure
    int pending_height = 0;
    int mode_width = 0; // the output's current mode
    int mode_height = 0;
    wl_buffer* buffer = nullptr;
    void* pixels = nullptr;
    std::size_t bytes = 0;
    SDL_Surface* image = nullptr; // over `pixels`
    int width = 0;
    int height = 0;
    bool closed = false;

    ~Screen() {
        if (image) SDL_FreeSurface(image);
        if (buffer) wl_buffer_destroy(buffer);
        if (pixels) munmap(pixels, bytes);
        if (layer) zwlr_layer_surface_v1_destroy(layer);
        if (toplevel) xdg_toplevel_destroy(toplevel);
        if (window) xdg_surface_destroy(window);
        if (surface) wl_surface_destroy(surface);
        if (output) wl_output_destroy(output);
    }
};

// The client: its globals, the screens, keyboard and pointer; the first screen's image is the
// display manager's canvas, copied onto the others at each presentation.
class Client final : public Canvas {
public:
    Client(ScreenSaver& controller, Surface kind) : controller_(controller), kind_(kind) {}
    ~Client() override;

    bool connect(std::string& why);
    // Shows every screen black once configured; false (with `why`) when none is.
    bool first_frames(std::string& why);
    wl_display* display() const { return display_; }
    bool ended() const { return ended_; }
    void end() { ended_ = true; }

    void size(int& width, int& height) const override;
    SDL_Surface* frame() override;
    bool present() override;

    // Wayland's callbacks, as members.
    void global(wl_registry* registry, std::uint32_t name, const char* interface,
                std::uint32_t version);
    void configure(Screen& screen, std::uint32_t serial, std::uint32_t width, std::uint32_t height);
    void seat_capabilities(std::uint32_t capabilities);
    void keymap(std::uint32_t format, int fd, std::uint32_t size);
    void key(std::uint32_t key, std::uint32_t state);
    void modifiers(std::uint32_t depressed, std::uint32_t latched, std::uint32_t locked,
                   std::uint32_t group);
    void pointer_at(wl_surface* surface, wl_fixed_t x, wl_fixed_t y, bool entering);

    // The first screen's size changed: the next pictures are fitted to it.
    bool resized = false;
    // The display manager whose fade a key ends (not owned), once there is one.
    WindowManager* shown_by = nullptr;

private:
    void add_screen(wl_output* output, std::uint32_t name);
    bool make_buffer(Screen& screen, int width, int height);
    Screen* first() const;

    ScreenSaver& controller_;
    Surface kind_;
    wl_display* display_ = nullptr;
    xdg_wm_base* windows_ = nullptr;
    wl_registry* registry_ = nullptr;
    wl_compositor* compositor_ = nullptr;
    wl_shm* shm_ = nullptr;
    wl_seat* seat_ = nullptr;
    zwlr_layer_shell_v1* shell_ = nullptr;
    wl_keyboard* keyboard_ = nullptr;
    wl_pointer* pointer_ = nullptr;
    xkb_context* xkb_ = nullptr;
    xkb_keymap* keymap_ = nullptr;
    xkb_state* state_ = nullptr;
    std::vector<std::unique_ptr<Screen>> screens_;
    bool ended_ = false;
    wl_surface* reference_surface_ = nullptr;
    std::int32_t reference_x_ = 0;
    std::int32_t reference_y_ = 0;
};

// --- Wayland's listeners: plain functions that hand over to the client ----------------------

void on_global(void* data, wl_registry* registry, std::uint32_t name, const char* interface,
               std::uint32_t version) {
    static_cast<Client*>(data)->global(registry, name, interface, version);
}
void on_global_remove(void*, wl_registry*, std::uint32_t) {}
const wl_registry_listener kRegistry = {on_global, on_global_remove};

struct ScreenLink {
    Client* client;
    Screen* screen;
};

void on_configure(void* data, zwlr_layer_surface_v1*, std::uint32_t serial, std::uint32_t width,
                  std::uint32_t height) {
    auto* link = static_cast<ScreenLink*>(data);
    link->client->configure(*link->screen, serial, width, height);
}
void on_closed(void* data, zwlr_layer_surface_v1*) {
    auto* link = static_cast<ScreenLink*>(data);
    link->screen->closed = true;
    // The compositor took a screen away (its output went, or it ends the overlay): the show
    // ends, as it does when the saver window goes.
    link->client->end();
}
const zwlr_layer_surface_v1_listener kLayer = {on_configure, on_closed};

void on_geometry(void*, wl_output*, std::int32_t, std::int32_t, std::int32_t, std::int32_t,
                 std::int32_t, const char*, const char*, std::int32_t) {}
void on_mode(void* data, wl_output*, std::uint32_t flags, std::int32_t width, std::int32_t height,
             std::int32_t) {
    if ((flags & WL_OUTPUT_MODE_CURRENT) == 0) return;
    auto* screen = static_cast<Screen*>(data);
    screen->mode_width = width;
    screen->mode_height = height;
}
void on_output_done(void*, wl_output*) {}
void on_scale(void*, wl_output*, std::int32_t) {}
void on_output_name(void*, wl_output*, const char*) {}
void on_output_description(void*, wl_output*, const char*) {}
const wl_output_listener kOutput = {on_geometry, on_mode,        on_output_done,
                                    on_scale,    on_output_name, on_output_description};

void on_ping(void*, xdg_wm_base* windows, std::uint32_t serial) {
    xdg_wm_base_pong(windows, serial);
}
const xdg_wm_base_listener kWindows = {on_ping};
void on_window_configure(void* data, xdg_surface*, std::uint32_t serial) {
    auto* link = static_cast<ScreenLink*>(data);
    Screen& screen = *link->screen;
    // No size yet: the client's choice, the output's, until the full screen state gives one.
    int width = screen.pending_width > 0 ? screen.pending_width : screen.mode_width;
    int height = screen.pending_height > 0 ? screen.pending_height : screen.mode_height;
    if (width <= 0 || height <= 0) {
        width = 640;
        height = 480;
    }
    link->client->configure(screen, serial, static_cast<std::uint32_t>(width),
                            static_cast<std::uint32_t>(height));
}
const xdg_surface_listener kWindow = {on_window_configure};
void on_toplevel_configure(void* data, xdg_toplevel*, std::int32_t width, std::int32_t height,
                           wl_array*) {
    auto* link = static_cast<ScreenLink*>(data);
    link->screen->pending_width = width;
    link->screen->pending_height = height;
}
void on_toplevel_close(void* data, xdg_toplevel*) { static_cast<ScreenLink*>(data)->client->end(); }
void on_toplevel_bounds(void*, xdg_toplevel*, std::int32_t, std::int32_t) {}
void on_toplevel_capabilities(void*, xdg_toplevel*, wl_array*) {}
const xdg_toplevel_listener kToplevel = {on_toplevel_configure, on_toplevel_close,
                                         on_toplevel_bounds, on_toplevel_capabilities};

void on_capabilities(void* data, wl_seat*, std::uint32_t capabilities) {
    static_cast<Client*>(data)->seat_capabilities(capabilities);
}
void on_seat_name(void*, wl_seat*, const char*) {}
const wl_seat_listener kSeat = {on_capabilities, on_seat_name};

void on_keymap(void* data, wl_keyboard*, std::uint32_t format, int fd, std::uint32_t size) {
    static_cast<Client*>(data)->keymap(format, fd, size);
}
void on_keyboard_enter(void*, wl_keyboard*, std::uint32_t, wl_surface*, wl_array*) {}
void on_keyboard_leave(void*, wl_keyboard*, std::uint32_t, wl_surface*) {}
void on_key(void* data, wl_keyboard*, std::uint32_t, std::uint32_t, std::uint32_t key,
            std::uint32_t state) {
    static_cast<Client*>(data)->key(key, state);
}
void on_modifiers(void* data, wl_keyboard*, std::uint32_t, std::uint32_t depressed,
                  std::uint32_t latched, std::uint32_t locked, std::uint32_t group) {
    static_cast<Client*>(data)->modifiers(depressed, latched, locked, group);
}
void on_repeat_info(void*, wl_keyboard*, std::int32_t, std::int32_t) {}
const wl_keyboard_listener kKeyboard = {on_keymap, on_keyboard_enter, on_keyboard_leave,
                                        on_key,    on_modifiers,      on_repeat_info};

void on_pointer_enter(void* data, wl_pointer* pointer, std::uint32_t serial, wl_surface* surface,
                      wl_fixed_t x, wl_fixed_t y) {
    // No cursor over the show.
    wl_pointer_set_cursor(pointer, serial, nullptr, 0, 0);
    static_cast<Client*>(data)->pointer_at(surface, x, y, true);
}
void on_pointer_leave(void*, wl_pointer*, std::uint32_t, wl_surface*) {}
void on_motion(void* data, wl_pointer*, std::uint32_t, wl_fixed_t x, wl_fixed_t y) {
    static_cast<Client*>(data)->pointer_at(nullptr, x, y, false);
}
void on_button(void*, wl_pointer*, std::uint32_t, std::uint32_t, std::uint32_t, std::uint32_t) {}
void on_axis(void*, wl_pointer*, std::uint32_t, std::uint32_t, wl_fixed_t) {}
void on_frame(void*, wl_pointer*) {}
void on_axis_source(void*, wl_pointer*, std::uint32_t) {}
void on_axis_stop(void*, wl_pointer*, std::uint32_t, std::uint32_t) {}
void on_axis_discrete(void*, wl_pointer*, std::uint32_t, std::int32_t) {}
void on_axis_value120(void*, wl_pointer*, std::uint32_t, std::int32_t) {}
const wl_pointer_listener kPointer = {
    on_pointer_enter, on_pointer_leave, on_motion,    on_button,        on_axis,
    on_frame,         on_axis_source,   on_axis_stop, on_axis_discrete, on_axis_value120};

// The links live as long as the client: one per screen, never moved.
std::vector<std::unique_ptr<ScreenLink>> g_links;

// --- The client ------------------------------------------------------------------------------

Client::~Client() {
    screens_.clear();
    g_links.clear();
    if (state_) xkb_state_unref(state_);
    if (keymap_) xkb_keymap_unref(keymap_);
    if (xkb_) xkb_context_unref(xkb_);
    if (keyboard_) wl_keyboard_release(keyboard_);
    if (pointer_) wl_pointer_release(pointer_);
    if (seat_) wl_seat_destroy(seat_);
    if (shell_) zwlr_layer_shell_v1_destroy(shell_);
    if (windows_) xdg_wm_base_destroy(windows_);
    if (shm_) wl_shm_destroy(shm_);
    if (compositor_) wl_compositor_destroy(compositor_);
    if (registry_) wl_registry_destroy(registry_);
    if (display_) wl_display_disconnect(display_);
}

bool Client::connect(std::string& why) {
    display_ = wl_display_connect(nullptr);
    if (!display_) {
        why = "no Wayland display can be reached (WAYLAND_DISPLAY)";
        return false;
    }
    xkb_ = xkb_context_new(XKB_CONTEXT_NO_FLAGS);
    registry_ = wl_display_get_registry(display_);
    wl_registry_add_listener(registry_, &kRegistry, this);
    if (wl_display_roundtrip(display_) < 0) {
        why = "the Wayland display does not answer";
        return false;
    }
    if (kind_ == Surface::Window) {
        if (!compositor_ || !shm_ || !windows_) {
            why = "the compositor has no xdg-shell windows";
            return false;
        }
        return true;
    }
    if (!compositor_ || !shm_ || !shell_) {
        why = "the compositor has no layer shell (zwlr_layer_shell_v1); the stand-alone show "
              "runs without --layer";
        return false;
    }
    if (screens_.empty()) {
        why = "the compositor has no output";
        return false;
    }
    return true;
}

void Client::global(wl_registry* registry, std::uint32_t name, const char* interface,
                    std::uint32_t version) {
    const auto is = [interface](const wl_interface& known) {
        return std::strcmp(interface, known.name) == 0;
    };
    if (is(wl_compositor_interface)) {
        compositor_ = static_cast<wl_compositor*>(
            wl_registry_bind(registry, name, &wl_compositor_interface, 4));
    } else if (is(wl_shm_interface)) {
        shm_ = static_cast<wl_shm*>(wl_registry_bind(registry, name, &wl_shm_interface, 1));
    } else if (is(zwlr_layer_shell_v1_interface)) {
        shell_ = static_cast<zwlr_layer_shell_v1*>(wl_registry_bind(
            registry, name, &zwlr_layer_shell_v1_interface, version < 4 ? version : 4));
    } else if (is(xdg_wm_base_interface)) {
        windows_ =
            static_cast<xdg_wm_base*>(wl_registry_bind(registry, name, &xdg_wm_base_interface, 1));
        xdg_wm_base_add_listener(windows_, &kWindows, this);
    } else if (is(wl_seat_interface) && !seat_) {
        // Version 3 at least, for the release requests.
        if (version < 3) return;
        seat_ = static_cast<wl_seat*>(
            wl_registry_bind(registry, name, &wl_seat_interface, version < 5 ? version : 5));
        wl_seat_add_listener(seat_, &kSeat, this);
    } else if (is(wl_output_interface)) {
        add_screen(
            static_cast<wl_output*>(wl_registry_bind(registry, name, &wl_output_interface, 1)),
            name);
    }
}

void Client::add_screen(wl_output* output, std::uint32_t name) {
    auto screen = std::make_unique<Screen>();
    screen->output = output;
    screen->name = name;
    if (output) wl_output_add_listener(output, &kOutput, screen.get());
    g_links.push_back(std::make_unique<ScreenLink>(ScreenLink{this, screen.get()}));
    screens_.push_back(std::move(screen));
}

bool Client::first_frames(std::string& why) {
    if (kind_ == Surface::Window) {
        // One window, full screen on the output that the compositor chooses.
        if (screens_.empty()) add_screen(nullptr, 0);
        screens_.resize(1);
        Screen& screen = *screens_.front();
        ScreenLink* link = nullptr;
        for (auto& l : g_links)
            if (l->screen == &screen) link = l.get();
        screen.surface = wl_compositor_create_surface(compositor_);
        screen.window = xdg_wm_base_get_xdg_surface(windows_, screen.surface);
        xdg_surface_add_listener(screen.window, &kWindow, link);
        screen.toplevel = xdg_surface_get_toplevel(screen.window);
        xdg_toplevel_add_listener(screen.toplevel, &kToplevel, link);
        xdg_toplevel_set_title(screen.toplevel, "Glimmerwall");
        xdg_toplevel_set_app_id(screen.toplevel, "glimmerwall");
        xdg_toplevel_set_fullscreen(screen.toplevel, nullptr);
        wl_surface_commit(screen.surface);
    }
    for (auto& screen : screens_) {
        if (kind_ == Surface::Window) break;
        screen->surface = wl_compositor_create_surface(compositor_);
        screen->layer =
            zwlr_layer_shell_v1_get_layer_surface(shell_, screen->surface, screen->output,
                                                  ZWLR_LAYER_SHELL_V1_LAYER_OVERLAY, "glimmerwall");
        ScreenLink* link = nullptr;
        for (auto& l : g_links)
            if (l->screen == screen.get()) link = l.get();
        zwlr_layer_surface_v1_add_listener(screen->layer, &kLayer, link);
        zwlr_layer_surface_v1_set_anchor(screen->layer, ZWLR_LAYER_SURFACE_V1_ANCHOR_TOP |
                                                            ZWLR_LAYER_SURFACE_V1_ANCHOR_BOTTOM |
                                                            ZWLR_LAYER_SURFACE_V1_ANCHOR_LEFT |
                                                            ZWLR_LAYER_SURFACE_V1_ANCHOR_RIGHT);
        zwlr_layer_surface_v1_set_size(screen->layer, 0, 0);
        // Over panels and bars, never moved aside for them.
        zwlr_layer_surface_v1_set_exclusive_zone(screen->layer, -1);
        zwlr_layer_surface_v1_set_keyboard_interactivity(
            screen->layer, ZWLR_LAYER_SURFACE_V1_KEYBOARD_INTERACTIVITY_EXCLUSIVE);
        wl_surface_commit(screen->surface);
    }
    // The configure events come in answer to the commits; each draws its screen black.
    if (wl_display_roundtrip(display_) < 0) {
        why = "the Wayland display does not answer";
        return false;
    }
    // A window's first configure may come after the compositor's next transaction.
    const std::uint64_t until = now_ms() + 2000;
    while (!first() && now_ms() < until) {
        pollfd readable = {wl_display_get_fd(display_), POLLIN, 0};
        if (wl_display_flush(display_) < 0 && errno != EAGAIN) break;
        if (poll(&readable, 1, 50) > 0 && wl_display_dispatch(display_) < 0) break;
    }
    if (!first()) {
        why = kind_ == Surface::Window ? "the compositor did not configure the window"
                                       : "no output took the overlay";
        return false;
    }
    return true;
}

Screen* Client::first() const {
    for (const auto& screen : screens_)
        if (screen->image && !screen->closed) return screen.get();
    return nullptr;
}

bool Client::make_buffer(Screen& screen, int width, int height) {
    if (screen.image) SDL_FreeSurface(screen.image);
    if (screen.buffer) wl_buffer_destroy(screen.buffer);
    if (screen.pixels) munmap(screen.pixels, screen.bytes);
    screen.image = nullptr;
    screen.buffer = nullptr;
    screen.pixels = nullptr;
    const int stride = width * 4;
    screen.bytes = static_cast<std::size_t>(stride) * static_cast<std::size_t>(height);
    const int fd = memfd_create("glimmerwall", MFD_CLOEXEC);
    if (fd < 0) return false;
    if (ftruncate(fd, static_cast<off_t>(screen.bytes)) != 0) {
        close(fd);
        return false;
    }
    void* pixels = mmap(nullptr, screen.bytes, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
    if (pixels == MAP_FAILED) {
        close(fd);
        return false;
    }
    wl_shm_pool* pool = wl_shm_create_pool(shm_, fd, static_cast<std::int32_t>(screen.bytes));
    screen.buffer =
        wl_shm_pool_create_buffer(pool, 0, width, height, stride, WL_SHM_FORMAT_XRGB8888);
    wl_shm_pool_destroy(pool);
    close(fd);
    screen.pixels = pixels;
    screen.width = width;
    screen.height = height;
    // The same layout as X's 32-bit images: the display manager's direct copy applies.
    screen.image = SDL_CreateRGBSurfaceWithFormatFrom(pixels, width, height, 32, stride,
                                                      SDL_PIXELFORMAT_RGB888);
    return screen.image != nullptr;
}

void Client::configure(Screen& screen, std::uint32_t serial, std::uint32_t width,
                       std::uint32_t height) {
    if (screen.layer) zwlr_layer_surface_v1_ack_configure(screen.layer, serial);
    if (screen.window) xdg_surface_ack_configure(screen.window, serial);
    const int w = static_cast<int>(width);
    const int h = static_cast<int>(height);
    if (w <= 0 || h <= 0) return;
    if (w != screen.width || h != screen.height || !screen.image) {
        const bool was_first = first() == &screen;
        if (!make_buffer(screen, w, h)) {
            GW_TRACE(kModule, 1, "LayerShow : no image of %dx%d for an output", w, h);
            return;
        }
        // Black at once: a locker that hosts the show drops a client that is late.
        SDL_FillRect(screen.image, nullptr, 0);
        if (was_first || first() == &screen) resized = true;
    }
    wl_surface_attach(screen.surface, screen.buffer, 0, 0);
    wl_surface_damage(screen.surface, 0, 0, INT32_MAX, INT32_MAX);
    wl_surface_commit(screen.surface);
}

void Client::size(int& width, int& height) const {
    const Screen* screen = first();
    width = screen ? screen->width : 0;
    height = screen ? screen->height : 0;
}

SDL_Surface* Client::frame() {
    Screen* screen = first();
    if (!screen) SDL_SetError("no output shows the overlay");
    return screen ? screen->image : nullptr;
}

// Each further output shows the same frame, centred in its own size.
bool Client::present() {
    Screen* main = first();
    if (!main) return false;
    for (auto& screen : screens_) {
        if (!screen->image || screen->closed) continue;
        if (screen.get() != main) {
            SDL_FillRect(screen->image, nullptr, 0);
            SDL_Rect at = {shell::centred(screen->width, main->width),
                           shell::centred(screen->height, main->height), 0, 0};
            SDL_BlitSurface(main->image, nullptr, screen->image, &at);
        }
        wl_surface_attach(screen->surface, screen->buffer, 0, 0);
        wl_surface_damage(screen->surface, 0, 0, INT32_MAX, INT32_MAX);
        wl_surface_commit(screen->surface);
    }
    return wl_display_flush(display_) >= 0 || errno == EAGAIN;
}

void Client::seat_capabilities(std::uint32_t capabilities) {
    // A keyboard or pointer that goes (a virtual one ends) is let go: the one that comes next
    // is taken anew, its keymap with it.
    if (!(capabilities & WL_SEAT_CAPABILITY_KEYBOARD) && keyboard_) {
        wl_keyboard_release(keyboard_);
        keyboard_ = nullptr;
    }
    if (!(capabilities & WL_SEAT_CAPABILITY_POINTER) && pointer_) {
        wl_pointer_release(pointer_);
        pointer_ = nullptr;
    }
    if ((capabilities & WL_SEAT_CAPABILITY_KEYBOARD) && !keyboard_) {
        keyboard_ = wl_seat_get_keyboard(seat_);
        wl_keyboard_add_listener(keyboard_, &kKeyboard, this);
    }
    if ((capabilities & WL_SEAT_CAPABILITY_POINTER) && !pointer_) {
        pointer_ = wl_seat_get_pointer(seat_);
        wl_pointer_add_listener(pointer_, &kPointer, this);
    }
}

void Client::keymap(std::uint32_t format, int fd, std::uint32_t size) {
    if (format != WL_KEYBOARD_KEYMAP_FORMAT_XKB_V1 || !xkb_) {
        close(fd);
        return;
    }
    // Private: from version 7 of the seat the compositor may hand a read-only mapping.
    void* text = mmap(nullptr, size, PROT_READ, MAP_PRIVATE, fd, 0);
    close(fd);
    if (text == MAP_FAILED) return;
    xkb_keymap* keymap =
        xkb_keymap_new_from_buffer(xkb_, static_cast<const char*>(text), size - 1,
                                   XKB_KEYMAP_FORMAT_TEXT_V1, XKB_KEYMAP_COMPILE_NO_FLAGS);
    munmap(text, size);
    if (!keymap) return;
    if (state_) xkb_state_unref(state_);
    if (keymap_) xkb_keymap_unref(keymap_);
    keymap_ = keymap;
    state_ = xkb_state_new(keymap_);
}

void Client::modifiers(std::uint32_t depressed, std::uint32_t latched, std::uint32_t locked,
                       std::uint32_t group) {
    if (state_) xkb_state_update_mask(state_, depressed, latched, locked, 0, 0, group);
}

void Client::key(std::uint32_t key, std::uint32_t state) {
    if (state != WL_KEYBOARD_KEY_STATE_PRESSED || !state_ || ended_) return;
    // Evdev codes are 8 below XKB's.
    const xkb_keysym_t sym = xkb_state_key_get_one_sym(state_, key + 8);
    const bool alt =
        xkb_state_mod_name_is_active(state_, XKB_MOD_NAME_ALT, XKB_STATE_MODS_EFFECTIVE) > 0;
    shell::Key pressed = shell::Key::System;
    if (!alt && sym != XKB_KEY_Alt_L && sym != XKB_KEY_Alt_R && sym != XKB_KEY_F10)
        pressed = shell::key_from_code<xkb_keysym_t>(sym, XKB_KEY_space, XKB_KEY_Left,
                                                     XKB_KEY_Right, XKB_KEY_Delete);
    if (shown_by) shown_by->end_fade();
    if (!shell::on_key(controller_, pressed)) ended_ = true;
}

void Client::pointer_at(wl_surface* surface, wl_fixed_t x, wl_fixed_t y, bool entering) {
    const std::int32_t px = wl_fixed_to_int(x);
    const std::int32_t py = wl_fixed_to_int(y);
    // The reference is where the pointer first shows itself: Wayland tells nothing of it before.
    if (!reference_surface_) {
        if (entering) {
            reference_surface_ = surface;
            reference_x_ = px;
            reference_y_ = py;
        }
        return;
    }
    // Onto another output's surface: a move across screens.
    if (entering && surface != reference_surface_) {
        ended_ = true;
        return;
    }
    if (shell::mouse_moved_away(reference_x_, reference_y_, px, py)) ended_ = true;
}

// Sleeps until a Wayland event, a signal or the worker's answer, or `timeout_ms` (-1: no
// limit); false when the connection broke.
bool wait(wl_display* display, int wake, int worker, int timeout_ms) {
    while (wl_display_prepare_read(display) != 0)
        if (wl_display_dispatch_pending(display) < 0) return false;
    if (wl_display_flush(display) < 0 && errno != EAGAIN) {
        wl_display_cancel_read(display);
        return false;
    }
    pollfd descriptors[3] = {
        {wl_display_get_fd(display), POLLIN, 0}, {wake, POLLIN, 0}, {worker, POLLIN, 0}};
    const nfds_t watched = worker >= 0 ? 3 : 2;
    if (poll(descriptors, watched, timeout_ms) > 0 && (descriptors[0].revents & POLLIN) != 0) {
        if (wl_display_read_events(display) < 0) return false;
    } else {
        wl_display_cancel_read(display);
    }
    if ((descriptors[1].revents & POLLIN) != 0) {
        char bytes[16];
        while (read(wake, bytes, sizeof bytes) > 0) {}
    }
    return wl_display_dispatch_pending(display) >= 0;
}

} // namespace

Outcome run(ScreenSaver& controller, Surface kind,
            const std::function<std::unique_ptr<WorkerDecoder>()>& make_decoder,
            const volatile std::sig_atomic_t& stop, int wake_descriptor, std::string& why) {
    Client client(controller, kind);
    if (!client.connect(why) || !client.first_frames(why)) return Outcome::NotShown;
    WindowManager display(client);
    display.set_fade(controller.fade_ms());
    client.shown_by = &display;
    controller.set_window_manager(&display, display.width(), display.height());
    client.resized = false;
    std::unique_ptr<WorkerDecoder> decoder = make_decoder();
    controller.set_decoder(decoder.get());

    bool lost = false;
    const auto over = [&] { return client.ended() || stop || lost || display.cannot_draw(); };
    std::uint64_t next_tick = now_ms();
    while (!over()) {
        if (decoder->pump()) controller.on_decoded();
        if (over()) break;
        if (client.resized) {
            client.resized = false;
            int w = 0;
            int h = 0;
            client.size(w, h);
            display.resize(w, h);
            controller.set_window_manager(&display, display.width(), display.height());
            controller.redraw();
        }
        // A fade's frames come before the timer's steps, which run at every tick while a
        // decode is out.
        const std::int32_t frame_wait = tick_plan::until_fade_frame(display);
        if (frame_wait == 0) {
            display.fade_frame();
            continue;
        }
        std::uint64_t now = now_ms();
        const std::uint64_t tick =
            tick_plan::controller_tick(controller, decoder->busy(), next_tick, now);
        if (now >= tick) {
            controller.next(false);
            next_tick = tick_plan::tick_after(tick, now_ms());
            continue;
        }
        std::uint64_t left = tick - now;
        if (frame_wait > 0 && static_cast<std::uint64_t>(frame_wait) < left) left = frame_wait;
        if (!wait(client.display(), wake_descriptor, decoder->descriptor(),
                  left > INT_MAX ? -1 : static_cast<int>(left))) {
            GW_TRACE(kModule, 1, "connection to the display lost");
            lost = true;
        }
    }
    controller.set_decoder(nullptr);
    decoder.reset();
    controller.suppress_all();
    if (display.cannot_draw()) {
        why = "the overlay could not be drawn";
        return Outcome::NotShown;
    }
    return lost ? Outcome::DisplayLost : Outcome::Ended;
}

} // namespace layer_show
