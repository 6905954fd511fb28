// Bytes given to the show as a decode worker's answers: a worker that a hostile file has taken
// over may write anything, and the show must refuse it without a fault or an allocation
// larger than what it asked for. The "worker" is cat, which writes the bytes back.
#include "BitMap.h"
#include "DecodeWorker.h"
#include "Scratch.h"

#include <poll.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>

using fuzz::check;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string path = fuzz::write_scratch("gw-worker-fuzz", data, size);
    if (path.empty()) return 0;

    WorkerDecoder decoder("/bin/cat", {path}, {0, 10000});
    const Decoder::Ticket first = decoder.request("a.png", 64, 48);
    const Decoder::Ticket second = decoder.request("b.png", 64, 48);
    std::unique_ptr<BitMap> picture;
    // cat ends once it has written the bytes: every answer is in by then, and the show's side
    // has refused the rest with the worker's end.
    for (int turns = 0; turns < 200 && decoder.busy(); ++turns) {
        struct pollfd watched = {decoder.descriptor(), POLLIN, 0};
        if (watched.fd >= 0) poll(&watched, 1, 50);
        decoder.pump();
    }
    for (const Decoder::Ticket ticket : {first, second}) {
        if (!decoder.collect(ticket, picture)) continue;
        if (picture) {
            check(picture->width() > 0 && picture->width() <= 64);
            check(picture->height() > 0 && picture->height() <= 48);
            // Every byte of it was written by the reader and can be read.
            volatile unsigned sum = 0;
            for (std::int32_t i = 0; i < picture->pitch() * picture->height(); ++i)
                sum = sum + picture->bits()[i];
        }
    }
    return 0;
}
