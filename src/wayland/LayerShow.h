// The show as a Wayland client of its own: full-screen overlay surfaces of the layer shell, for
// the idle daemons of the compositors that implement it (an SDL window cannot be one).
#pragma once

#include <csignal>
#include <functional>
#include <memory>
#include <string>

class ScreenSaver;
class WorkerDecoder;

namespace layer_show {

// Where the show is drawn: the layer shell's overlays on every output, or one full-screen
// window (xdg-shell) for the stand-alone show.
enum class Surface { Overlay, Window };

// What ended the show.
enum class Outcome {
    Ended,      // a key, the pointer, the compositor or a signal: ended in order
    NotShown,   // nothing could be shown, or drawn (`why` tells why)
    DisplayLost // the connection broke: ended in order, but the screen was left
};

// Shows the controller's pictures on the environment's Wayland display, in `kind` (overlays
// take the keyboard), with the stand-alone show's key and pointer
// rules. `make_decoder` gives the started decode worker; `stop`, set by a signal handler whose
// pipe `wake_descriptor` reads, ends the show. Once the show has started, the worker is ended,
// then the marked files go to the trash, before this returns.
Outcome run(ScreenSaver& controller, Surface kind,
            const std::function<std::unique_ptr<WorkerDecoder>()>& make_decoder,
            const volatile std::sig_atomic_t& stop, int wake_descriptor, std::string& why);

} // namespace layer_show
