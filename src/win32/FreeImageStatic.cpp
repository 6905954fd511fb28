// The statically linked FreeImage: its plugin list is made once, before anything decodes.
#include <FreeImage.h>

namespace {
// A FreeImage library in a program has no loader that calls its initialisation, as the DLL's
// entry point would. TRUE: no plugin DLL (*.fip) is looked for beside the program, so nothing
// planted in a folder can join the decoders. The list is left to the end of the process, as
// pictures in the cache live until static destruction.
const bool g_initialised = (FreeImage_Initialise(TRUE), true);
} // namespace
