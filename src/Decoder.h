// Where the show's pictures are decoded: in this process, or in a worker process that the
// show's event loop never waits on.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

class BitMap;

class Decoder {
public:
    using Ticket = std::uint32_t;

    // Asks for `path` decoded and fitted to width x height; the ticket names the answer.
    virtual Ticket request(const std::string& path, std::int32_t width, std::int32_t height) = 0;
    // True once the decode of `ticket` has ended, `picture` then holding it (null when the
    // file cannot be shown) and the ticket used up; false while it is still being decoded.
    virtual bool collect(Ticket ticket, std::unique_ptr<BitMap>& picture) = 0;
    // Forgets a request whose picture is no longer wanted.
    virtual void drop(Ticket ticket) = 0;
    // True when decodes run beside the show, so that a picture is worth asking for before
    // its step comes.
    virtual bool decodes_ahead() const = 0;

protected:
    ~Decoder() = default;
};

// Decodes at once, in this process: each request is ready to collect when it returns.
class InlineDecoder final : public Decoder {
public:
    Ticket request(const std::string& path, std::int32_t width, std::int32_t height) override;
    bool collect(Ticket ticket, std::unique_ptr<BitMap>& picture) override;
    void drop(Ticket ticket) override;
    bool decodes_ahead() const override { return false; }
    // Whether the pictures are made with a backdrop around them (BitMap::set_backdrop).
    void set_backdrop(bool backdrop) { backdrop_ = backdrop; }

private:
    bool backdrop_ = false;
    Ticket last_ = 0;
    bool ready_ = false; // the picture of ticket last_ waits to be collected
    std::unique_ptr<BitMap> picture_;
};
