// Messages that a decoder library writes on its own (libtiff prints to stderr unless told
// otherwise), turned over to a sink instead.
#pragma once

namespace decoder_messages {

using Sink = void (*)(const char* text);

// Sends libtiff's warnings and errors to `sink` from now on (no effect where FreeImage
// carries its own libtiff, as on Windows).
void route_tiff(Sink sink);

} // namespace decoder_messages
