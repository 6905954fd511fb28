// Pictures decoded by the worker process: the test program is its own worker, started with
// the worker's switch, and misbehaves on purpose for the paths that ask it to.
#include "BitMap.h"
#include "Bytes.h"
#include "DecodeWorker.h"
#include "Pictures.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

#include <csignal>
#include <cstring>
#include <memory>
#include <new>
#include <string>
#include <vector>

#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

std::string g_program;

// What the worker does before decoding a path whose name asks for a fault.
void misbehave(const std::string& path) {
    if (path.find("crash") != std::string::npos) std::raise(SIGSEGV);
    if (path.find("hang") != std::string::npos)
        for (;;) pause();
    if (path.find("greedy") != std::string::npos) {
        // Holds on to memory until an allocation fails.
        std::vector<std::unique_ptr<char[]>> held;
        for (;;) {
            held.emplace_back(new char[16 * 1024 * 1024]);
            std::memset(held.back().get(), 1, 16 * 1024 * 1024);
        }
    }
    if (path.find("sandboxed") != std::string::npos) {
        // What a file that took over the worker might try: each must fail, or the worker
        // crashes and the picture is refused.
        std::FILE* written = std::fopen((path + ".written").c_str(), "w");
        const int network = socket(AF_INET, SOCK_STREAM, 0);
        if (written || network >= 0 || unlink(path.c_str()) == 0) std::raise(SIGSEGV);
    }
    if (path.find("chatter") != std::string::npos) {
        // A library that prints on the standard output must not garble the answers.
        std::printf("P\x01\x02\x03\x04 noise\n");
        std::fflush(stdout);
    }
}

class DecodeWorkerTest : public testing::Test {
protected:
    // The worker's memory is limited as the show limits it, but to 256 MiB.
    static constexpr std::uint64_t kMemory = GW_SANITIZED ? 0 : 256ULL * 1024 * 1024;
    WorkerDecoder decoder{g_program, {"--decode-worker", "4"}, {kMemory, 10000}};

    // The decode of `path` at 64 x 48, waited for as the show's loop does: by polling the
    // worker's output, at most 20 s.
    std::unique_ptr<BitMap> decode(const std::string& path) {
        const Decoder::Ticket ticket = decoder.request(path, 64, 48);
        std::unique_ptr<BitMap> picture;
        for (int turns = 0; turns < 1000 && !decoder.collect(ticket, picture); ++turns) {
            struct pollfd watched = {decoder.descriptor(), POLLIN, 0};
            poll(&watched, 1, 20);
            decoder.pump();
        }
        return picture;
    }
    std::string picture(const std::string& name) {
        const std::string path = dir / name;
        EXPECT_TRUE(pictures::write(path, 320, 240, pictures::Format::Png, 10, 200, 90));
        return path;
    }

    test::TempDir dir;
    test::TraceFile trace;
};

TEST_F(DecodeWorkerTest, PicturesComeBackAsTheyAreDecodedHereWithTheirTraceLines) {
    const std::string path = picture("chatter.png");
    BitMap here;
    here.set_window_size(64, 48);
    ASSERT_TRUE(here.load(path));
    for (int round = 0; round < 2; ++round) {
        const std::unique_ptr<BitMap> there = decode(path);
        ASSERT_NE(nullptr, there) << trace.text();
        ASSERT_EQ(here.width(), there->width());
        ASSERT_EQ(here.height(), there->height());
        EXPECT_EQ(0, std::memcmp(here.bits(), there->bits(),
                                 static_cast<std::size_t>(here.pitch()) * here.height()));
    }
    // The worker's records reach the show's trace file.
    EXPECT_EQ(3, test::count(trace.text(), "load( " + path + " ) win:64x48 img:320x240"));
    EXPECT_EQ(nullptr, decode(dir / "missing.png"));

    // The date a photo was taken comes with its pixels.
    const std::string photo = dir / "photo.jpg";
    ASSERT_TRUE(pictures::write(photo, 320, 240, pictures::Format::Jpeg));
    std::string jpeg = test::read_file(photo);
    jpeg.insert(2, bytes::exif_date_segment("2021:02:03 04:05:06"));
    test::write_file(photo, jpeg);
    const std::unique_ptr<BitMap> dated = decode(photo);
    ASSERT_NE(nullptr, dated);
    EXPECT_EQ("2021:02:03 04:05:06", dated->taken());
}

// Each fault refuses its picture with a line that says why, and the next picture is decoded by
// a new worker.
TEST_F(DecodeWorkerTest, AFaultyDecodeIsRefusedAndTheNextPictureStillComes) {
    struct Case {
        const char* name;
        const char* line;
    } const cases[] = {
        {"crash.png", "refused: the decoder stopped (signal "},
        {"greedy.png", "refused: the decoder ran out of memory"},
    };
    for (const Case& c : cases) {
        if (kMemory == 0 && std::strstr(c.name, "greedy")) continue;
        const std::string path = picture(c.name);
        EXPECT_EQ(nullptr, decode(path)) << c.name;
        EXPECT_NE(std::string::npos, trace.text().find("load( " + path + " ) " + c.line))
            << trace.text();
        EXPECT_NE(nullptr, decode(picture("fine.png"))) << c.name;
    }
}

// The worker reads pictures and nothing else: no file written or removed, no network.
TEST_F(DecodeWorkerTest, TheWorkerCanNeitherWriteFilesNorReachTheNetwork) {
    if (GW_SANITIZED) GTEST_SKIP() << "the sanitizers' leak check needs what the filter denies";
    const std::string path = picture("sandboxed.png");
    EXPECT_NE(nullptr, decode(path)) << trace.text();
    EXPECT_TRUE(test::exists(path));
    EXPECT_FALSE(test::exists(path + ".written"));
}

TEST_F(DecodeWorkerTest, ADecodeOverItsTimeIsEndedAndTheQueueGoesOn) {
    test::FakeClock clock;
    const std::string slow = picture("hang.png");
    const std::string next = picture("next.png");
    const Decoder::Ticket first = decoder.request(slow, 64, 48);
    const Decoder::Ticket second = decoder.request(next, 64, 48);
    std::unique_ptr<BitMap> picture;
    decoder.pump();
    EXPECT_FALSE(decoder.collect(first, picture));
    clock.advance(9999);
    decoder.pump();
    EXPECT_FALSE(decoder.collect(first, picture));
    clock.advance(1);
    decoder.pump();
    ASSERT_TRUE(decoder.collect(first, picture));
    EXPECT_EQ(nullptr, picture);
    EXPECT_NE(
        std::string::npos,
        trace.text().find("load( " + slow + " ) refused: the decoder ran out of time (10000 ms)"));
    // The request queued behind it goes to the next worker.
    for (int turns = 0; turns < 1000 && !decoder.collect(second, picture); ++turns) {
        struct pollfd watched = {decoder.descriptor(), POLLIN, 0};
        poll(&watched, 1, 20);
        decoder.pump();
    }
    EXPECT_NE(nullptr, picture) << trace.text();
    // A dropped request's answer is read and thrown away.
    const Decoder::Ticket dropped = decoder.request(next, 64, 48);
    decoder.drop(dropped);
    EXPECT_TRUE(decoder.collect(dropped, picture));
    EXPECT_EQ(nullptr, picture);
    EXPECT_NE(nullptr, decode(next));
}

} // namespace

int main(int argc, char** argv) {
    if (argc >= 3 && std::strcmp(argv[1], "--decode-worker") == 0)
        return run_decode_worker(4, false, misbehave);
    g_program = argv[0][0] == '/' ? argv[0] : platform::executable_path(argv[0]);
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
