#include "FileManager.h"

#include "Tracer.h"

namespace {
const std::int32_t kModule = Tracer::register_module("FileManager");
}
