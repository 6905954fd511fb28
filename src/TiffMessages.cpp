// libtiff's process-wide handlers: FreeImage as built by Debian installs none, so every
// unknown tag of a camera's TIFF would be printed to stderr.
#include "DecoderMessages.h"

#include <tiffio.h>

#include <cstdarg>
#include <cstdio>

namespace {

decoder_messages::Sink g_sink = nullptr;

void forward(const char* module, const char* format, va_list arguments) {
    if (!g_sink) return;
    char text[512];
    const int used = module ? std::snprintf(text, sizeof text, "%s: ", module) : 0;
    if (used >= 0 && static_cast<std::size_t>(used) < sizeof text)
        std::vsnprintf(text + used, sizeof text - static_cast<std::size_t>(used), format,
                       arguments);
    g_sink(text);
}

} // namespace

namespace decoder_messages {

void route_tiff(Sink sink) {
    g_sink = sink;
    TIFFSetErrorHandler(forward);
    TIFFSetWarningHandler(forward);
}

} // namespace decoder_messages
