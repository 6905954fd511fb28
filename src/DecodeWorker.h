// Pictures decoded in a worker process of this program, so that a slow, enormous or hostile
// file never holds the show: the worker runs under a memory limit, a decode that takes too
// long is ended with its worker, and a worker that dies is started again for the next file.
#pragma once

#include "Decoder.h"
#include "Platform.h"

#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <string>
#include <vector>

class WorkerDecoder final : public Decoder {
public:
    struct Limits {
        std::uint64_t memory_bytes = 1024ULL * 1024 * 1024; // 0: none
        std::int32_t time_ms = 10000;                       // for one picture
    };

    // Workers run `program` with `arguments` (this program and its worker switch).
    WorkerDecoder(std::string program, std::vector<std::string> arguments, Limits limits);
    // Ends the worker, whatever it is doing.
    ~WorkerDecoder();
    WorkerDecoder(const WorkerDecoder&) = delete;
    WorkerDecoder& operator=(const WorkerDecoder&) = delete;

    Ticket request(const std::string& path, std::int32_t width, std::int32_t height) override;
    bool collect(Ticket ticket, std::unique_ptr<BitMap>& picture) override;
    void drop(Ticket ticket) override;
    bool decodes_ahead() const override { return true; }

    // Takes in what the worker wrote and ends a decode over its time; never waits. True when
    // a decode ended meanwhile.
    bool pump();
    // Starts the worker now, so that the first picture does not wait for it.
    void start();
    // Polls readable when the worker has written; -1 when there is none to watch (then pump
    // on every tick).
    int descriptor() const { return child_.descriptor(); }
    // True while a decode is out: the loop then pumps at least once a tick, for the time limit.
    bool busy() const { return !queue_.empty(); }

private:
    struct Request {
        Ticket ticket;
        std::string path;
        std::int32_t width;
        std::int32_t height;
        bool dropped; // answered, and the answer thrown away
    };
    // Starts a worker when none runs and sends it every request still waiting.
    bool ensure_worker();
    bool send(const Request& request);
    // Why a worker is let go.
    enum class Loss { gone, late, broken };
    // Ends the worker; the picture it was decoding is refused with a line that says why. The
    // rest go to the next worker.
    void lose_worker(Loss loss = Loss::gone);
    void finish_head(std::unique_ptr<BitMap> picture);
    // Consumes `n` bytes just read into the place the reader asked for; false on a broken answer.
    bool advance(std::size_t n);

    std::string program_;
    std::vector<std::string> arguments_;
    Limits limits_;
    platform::Child child_;
    Ticket last_ = 0;
    std::deque<Request> queue_;                      // sent or to send, the head being decoded
    std::map<Ticket, std::unique_ptr<BitMap>> done_; // decoded and not yet collected
    std::int32_t head_since_ = 0;                    // elapsed_ms() when the head began
    std::uint32_t finished_ = 0;                     // decodes ended, wrapping

    // The answer being read.
    enum class Part { header, trace, result, pixels, taken };
    Part part_ = Part::header;
    std::uint8_t header_[16] = {};
    std::size_t have_ = 0;   // bytes of the current part already read
    std::size_t length_ = 0; // of the current frame's body
    std::size_t pixels_ = 0; // of the current picture
    std::string trace_;
    std::unique_ptr<BitMap> incoming_;
};

// The worker's side: answers the parent's requests until the parent goes; the exit code.
// `before` (for tests) is called with each path before it is decoded.
// `backdrop`: the pictures are made with a backdrop around them (BitMap::set_backdrop).
using BeforeDecode = void (*)(const std::string& path);
int run_decode_worker(std::int32_t trace_level, bool backdrop, BeforeDecode before = nullptr);
