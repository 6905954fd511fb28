// Which trace file the Windows side of the platform names.
#pragma once

namespace platform {

// From now on the trace goes to "d:\Glimmerwall-preview.txt", so that a preview in the
// host's dialog leaves the trace of the last full show alone.
void use_preview_trace_file();

} // namespace platform
