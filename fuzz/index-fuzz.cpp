// Reads any bytes as a saved index. What the reader accepts must be an index the show can use
// as it stands: counts that add up within 32 bits, and a round that the permutation either
// refuses or takes up and serves within range; saving it again gives the same bytes.
#include "IndexStore.h"
#include "Randomizator.h"
#include "Tracer.h"

#include <sys/mman.h>
#include <unistd.h>

#include <climits>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>

namespace {

void check(bool condition) {
    if (!condition) __builtin_trap();
}

// An anonymous file in memory, read through its /proc name: a crash leaves nothing behind.
const std::string& temp_file(int& fd) {
    static const int file = memfd_create("gw-index-fuzz", 0);
    static const std::string name = "/proc/self/fd/" + std::to_string(file);
    if (file < 0) std::abort();
    fd = file;
    return name;
}

std::string read_back(const std::string& name) {
    std::ifstream in(name, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const bool quiet = (Tracer::instance().all_module_level(-1), true);
    (void)quiet;
    int fd = -1;
    const std::string& name = temp_file(fd);
    if (ftruncate(fd, 0) != 0) std::abort();
    if (size != 0 && pwrite(fd, data, size, 0) != static_cast<ssize_t>(size)) std::abort();

    SavedIndex index;
    std::string why;
    if (!IndexStore::load(name, index, why)) {
        check(!why.empty());
        return 0;
    }
    std::int64_t total = 0;
    for (const SavedFolder& folder : index.folders) {
        check(folder.files >= 1 && !folder.path.empty());
        total += folder.files;
    }
    check(total <= INT32_MAX);

    if (index.has_round && total > 0) {
        Randomizator round;
        if (round.restore_state(index.round, static_cast<std::int32_t>(total))) {
            for (int i = 0; i < 64; ++i) {
                const std::int32_t v = round.try_next();
                check(v >= -1 && v < total);
                round.set_result(i % 5 != 0);
            }
        }
    }

    // What was read is written back byte for byte, beside the memory file.
    const std::string copy = "/tmp/gw-index-fuzz-" + std::to_string(getpid());
    check(IndexStore::save(copy, index));
    const std::string again = read_back(copy);
    std::remove(copy.c_str());
    check(again == std::string(reinterpret_cast<const char*>(data), size));
    return 0;
}
