#include "DecodeWorker.h"

#include "BitMap.h"
#include "Tracer.h"

#include <cstdlib>
#include <cstring>
#include <new>
#include <utility>

namespace {
const std::int32_t kModule = Tracer::register_module("BitMap");
const std::int32_t kDecoderModule = Tracer::register_module("Decoder");

// Each frame on the channel: a type byte and the length of the body (32 bits, little-endian).
constexpr std::size_t kFrameHeader = 5;
constexpr char kRequest = 'R'; // ticket, width, height, then the path
constexpr char kTrace = 'T';   // trace records as the worker's tracer wrote them
constexpr char kResult = 'P';  // ticket, verdict, width, height, then the rows and the date
                               // taken if shown
constexpr std::size_t kResultHead = 16;
constexpr std::size_t kMaxText = 64 * 1024; // of a path or of a trace frame
constexpr std::size_t kMaxTaken = 64;       // of the date a photo was taken
// The worker's exit code when memory ran out.
constexpr int kOutOfMemoryExit = 3;

void put32(std::uint8_t* p, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) p[i] = static_cast<std::uint8_t>(v >> (8 * i));
}
std::uint32_t get32(const std::uint8_t* p) {
    return static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
           static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}
void frame_header(std::uint8_t* p, char type, std::uint64_t length) {
    p[0] = static_cast<std::uint8_t>(type);
    put32(p + 1, static_cast<std::uint32_t>(length));
}
// Bytes of one row of a fitted picture: 3 a pixel, padded to a multiple of 4.
std::uint64_t row_bytes(std::int32_t width) {
    return (static_cast<std::uint64_t>(width) * 3 + 3) / 4 * 4;
}
} // namespace

WorkerDecoder::WorkerDecoder(std::string program, std::vector<std::string> arguments, Limits limits)
    : program_(std::move(program)), arguments_(std::move(arguments)), limits_(limits) {}

WorkerDecoder::~WorkerDecoder() = default; // the child ends with child_

Decoder::Ticket WorkerDecoder::request(const std::string& path, std::int32_t width,
                                       std::int32_t height) {
    const Ticket ticket = ++last_;
    GW_TRACE(kDecoderModule, 4, "request( %s ) %dx%d", path.c_str(), width, height);
    queue_.push_back(Request{ticket, path, width, height, false});
    if (queue_.size() == 1) head_since_ = elapsed_ms();
    if (child_.running() && !send(queue_.back())) lose_worker();
    ensure_worker();
    return ticket;
}

bool WorkerDecoder::collect(Ticket ticket, std::unique_ptr<BitMap>& picture) {
    const auto found = done_.find(ticket);
    if (found != done_.end()) {
        picture = std::move(found->second);
        done_.erase(found);
        return true;
    }
    for (const Request& request : queue_)
        if (request.ticket == ticket && !request.dropped) return false;
    picture.reset(); // never asked for, or dropped
    return true;
}

void WorkerDecoder::drop(Ticket ticket) {
    done_.erase(ticket);
    // The worker answers in order: a request already sent is read and thrown away.
    for (Request& request : queue_)
        if (request.ticket == ticket) request.dropped = true;
}

void WorkerDecoder::start() {
    if (!child_.running() && child_.start(program_, arguments_, limits_.memory_bytes))
        head_since_ = elapsed_ms();
}

bool WorkerDecoder::ensure_worker() {
    while (!queue_.empty() && !child_.running()) {
        if (!child_.start(program_, arguments_, limits_.memory_bytes)) {
            GW_TRACE(kModule, 1, "load( %s ) refused: the decoder could not be started",
                     queue_.front().path.c_str());
            finish_head(nullptr);
            continue;
        }
        head_since_ = elapsed_ms();
        for (const Request& request : queue_) {
            if (!send(request)) {
                lose_worker();
                break;
            }
        }
    }
    return child_.running();
}

bool WorkerDecoder::send(const Request& request) {
    const std::size_t length = 12 + request.path.size();
    std::vector<std::uint8_t> frame(kFrameHeader + length);
    frame_header(frame.data(), kRequest, length);
    put32(&frame[5], request.ticket);
    put32(&frame[9], static_cast<std::uint32_t>(request.width));
    put32(&frame[13], static_cast<std::uint32_t>(request.height));
    std::memcpy(&frame[17], request.path.data(), request.path.size());
    return child_.send(frame.data(), frame.size());
}

void WorkerDecoder::lose_worker(Loss loss) {
    platform::ChildEnd how;
    child_.stop(how);
    part_ = Part::header;
    have_ = 0;
    incoming_.reset();
    if (queue_.empty()) return;
    const char* path = queue_.front().path.c_str();
    if (loss == Loss::late)
        GW_TRACE(kModule, 1, "load( %s ) refused: the decoder ran out of time (%d ms)", path,
                 limits_.time_ms);
    else if (loss == Loss::broken)
        GW_TRACE(kModule, 1, "load( %s ) refused: the decoder sent a broken answer", path);
    else if (how.signalled)
        GW_TRACE(kModule, 1, "load( %s ) refused: the decoder stopped (signal %d)", path, how.code);
    else if (how.code == kOutOfMemoryExit)
        GW_TRACE(kModule, 1, "load( %s ) refused: the decoder ran out of memory", path);
    else
        GW_TRACE(kModule, 1, "load( %s ) refused: the decoder stopped (exit code %d)", path,
                 how.code);
    finish_head(nullptr);
}

void WorkerDecoder::finish_head(std::unique_ptr<BitMap> picture) {
    if (queue_.empty()) return;
    const Request head = std::move(queue_.front());
    queue_.pop_front();
    if (!head.dropped) done_[head.ticket] = std::move(picture);
    head_since_ = elapsed_ms();
    ++finished_;
}

bool WorkerDecoder::pump() {
    const std::uint32_t before = finished_;
    while (child_.running()) {
        void* place = nullptr;
        std::size_t wanted = 0;
        switch (part_) {
        case Part::header:
            place = header_ + have_;
            wanted = kFrameHeader - have_;
            break;
        case Part::trace:
            place = &trace_[have_];
            wanted = length_ - have_;
            break;
        case Part::result:
            place = header_ + have_;
            wanted = kResultHead - have_;
            break;
        case Part::pixels:
            place = incoming_->writable_bits() + have_;
            wanted = pixels_ - have_;
            break;
        case Part::taken:
            place = &trace_[have_];
            wanted = trace_.size() - have_;
            break;
        }
        const long n = child_.receive(place, wanted);
        if (n == 0) break;
        // Gone (killed by the system, crashed, or out of memory), or it sent nonsense.
        if (n < 0) {
            lose_worker();
            break;
        }
        if (!advance(static_cast<std::size_t>(n))) {
            lose_worker(Loss::broken);
            break;
        }
    }
    const std::int32_t now = elapsed_ms();
    if (!queue_.empty() && child_.running() &&
        static_cast<std::uint32_t>(now) - static_cast<std::uint32_t>(head_since_) >=
            static_cast<std::uint32_t>(limits_.time_ms))
        lose_worker(Loss::late);
    ensure_worker();
    return finished_ != before;
}

bool WorkerDecoder::advance(std::size_t n) {
    have_ += n;
    switch (part_) {
    case Part::header:
        if (have_ < kFrameHeader) return true;
        length_ = get32(header_ + 1);
        have_ = 0;
        if (header_[0] == static_cast<std::uint8_t>(kTrace) && length_ <= kMaxText) {
            trace_.assign(length_, '\0');
            part_ = Part::trace;
            return length_ > 0 || advance(0);
        }
        if (header_[0] == static_cast<std::uint8_t>(kResult) && length_ >= kResultHead &&
            !queue_.empty()) {
            part_ = Part::result;
            return true;
        }
        return false;
    case Part::trace:
        if (have_ < length_) return true;
        Tracer::instance().relay(trace_.data(), trace_.size());
        part_ = Part::header;
        have_ = 0;
        return true;
    case Part::result: {
        if (have_ < kResultHead) return true;
        have_ = 0;
        const Request& head = queue_.front();
        const bool shown = get32(header_ + 4) != 0;
        const auto width = static_cast<std::int32_t>(get32(header_ + 8));
        const auto height = static_cast<std::int32_t>(get32(header_ + 12));
        if (get32(header_) != head.ticket) return false;
        if (!shown) {
            if (length_ != kResultHead) return false;
            part_ = Part::header;
            finish_head(nullptr);
            return true;
        }
        // Never more than was asked for: the answer's size decides what is allocated here.
        if (width <= 0 || height <= 0 || width > head.width || height > head.height) return false;
        const std::uint64_t pixels = row_bytes(width) * static_cast<std::uint64_t>(height);
        if (length_ < kResultHead + pixels || length_ > kResultHead + pixels + kMaxTaken)
            return false;
        pixels_ = static_cast<std::size_t>(pixels);
        incoming_ = std::make_unique<BitMap>();
        if (!incoming_->allocate(width, height) ||
            static_cast<std::uint64_t>(incoming_->pitch()) != row_bytes(width))
            return false;
        part_ = Part::pixels;
        return true;
    }
    case Part::pixels:
        if (have_ < pixels_) return true;
        have_ = 0;
        trace_.assign(length_ - kResultHead - pixels_, '\0');
        part_ = Part::taken;
        return advance(0);
    case Part::taken:
        if (have_ < trace_.size()) return true;
        incoming_->set_taken(trace_);
        part_ = Part::header;
        have_ = 0;
        finish_head(std::move(incoming_));
        return true;
    }
    return false;
}

namespace {
void write_trace(const char* bytes, std::size_t size) {
    std::uint8_t header[kFrameHeader];
    frame_header(header, kTrace, size);
    if (!platform::write_to_parent(header, sizeof header) ||
        !platform::write_to_parent(bytes, size))
        std::_Exit(0); // the show is gone
}

[[noreturn]] void out_of_memory() { std::_Exit(kOutOfMemoryExit); }
} // namespace

int run_decode_worker(std::int32_t trace_level, bool backdrop, BeforeDecode before) {
    platform::take_parent_channel();
    platform::restrict_worker();
    Tracer& tracer = Tracer::instance();
    tracer.all_module_level(trace_level);
    tracer.set_writer(write_trace);
    // An allocation that fails ends the worker with a code the show names.
    std::set_new_handler(out_of_memory);
    for (;;) {
        std::uint8_t header[kFrameHeader];
        if (!platform::read_from_parent(header, sizeof header)) return 0;
        const std::uint32_t length = get32(header + 1);
        if (header[0] != static_cast<std::uint8_t>(kRequest) || length < 12 ||
            length > 12 + kMaxText)
            return 2;
        std::vector<std::uint8_t> body(length);
        if (!platform::read_from_parent(body.data(), body.size())) return 0;
        const std::uint32_t ticket = get32(&body[0]);
        const auto width = static_cast<std::int32_t>(get32(&body[4]));
        const auto height = static_cast<std::int32_t>(get32(&body[8]));
        const std::string path(reinterpret_cast<const char*>(&body[12]), length - 12);

        if (before) before(path);
        BitMap picture;
        picture.set_window_size(width, height);
        picture.set_backdrop(backdrop);
        const bool shown =
            width > 0 && height > 0 && picture.load(path) &&
            static_cast<std::uint64_t>(picture.pitch()) == row_bytes(picture.width());
        const std::uint64_t pixels =
            shown ? row_bytes(picture.width()) * static_cast<std::uint64_t>(picture.height()) : 0;
        const std::string taken = shown ? picture.taken().substr(0, kMaxTaken) : std::string();
        std::uint8_t answer[kFrameHeader + kResultHead];
        frame_header(answer, kResult, kResultHead + pixels + taken.size());
        put32(answer + 5, ticket);
        put32(answer + 9, shown ? 1 : 0);
        put32(answer + 13, static_cast<std::uint32_t>(shown ? picture.width() : 0));
        put32(answer + 17, static_cast<std::uint32_t>(shown ? picture.height() : 0));
        if (!platform::write_to_parent(answer, sizeof answer)) return 0;
        if (shown && (!platform::write_to_parent(picture.bits(), pixels) ||
                      !platform::write_to_parent(taken.data(), taken.size())))
            return 0;
    }
}
