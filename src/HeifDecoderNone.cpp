// The build without libheif (Windows): HEIF and AVIF pictures are refused.
#include "HeifDecoder.h"

#include <utility>

struct HeifDecoder::State {};

HeifDecoder::HeifDecoder(std::unique_ptr<State> state) : state_(std::move(state)) {}

bool HeifDecoder::available() { return false; }

std::unique_ptr<HeifDecoder> HeifDecoder::open(const char*, std::string& error) {
    error = "no HEIF decoder in this build";
    return nullptr;
}

HeifDecoder::~HeifDecoder() = default;
std::int32_t HeifDecoder::width() const { return 0; }
std::int32_t HeifDecoder::height() const { return 0; }

bool HeifDecoder::decode(std::int32_t, std::int32_t, const Target&, std::string& error) {
    error = "no HEIF decoder in this build";
    return false;
}
