#include "Decoder.h"

#include "BitMap.h"

Decoder::Ticket InlineDecoder::request(const std::string& path, std::int32_t width,
                                       std::int32_t height) {
    // Only one request is ever out here: the step that made it collects it at once.
    picture_ = std::make_unique<BitMap>();
    picture_->set_window_size(width, height);
    picture_->set_backdrop(backdrop_);
    if (!picture_->load(path)) picture_.reset();
    ready_ = true;
    return ++last_;
}

bool InlineDecoder::collect(Ticket ticket, std::unique_ptr<BitMap>& picture) {
    if (ticket != last_ || !ready_) {
        picture.reset();
        return true;
    }
    ready_ = false;
    picture = std::move(picture_);
    return true;
}

void InlineDecoder::drop(Ticket ticket) {
    if (ticket != last_) return;
    ready_ = false;
    picture_.reset();
}
