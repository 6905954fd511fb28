// Builds whose FreeImage carries its own libtiff: its messages reach FreeImage's callback.
#include "DecoderMessages.h"

namespace decoder_messages {

void route_tiff(Sink) {}

} // namespace decoder_messages
