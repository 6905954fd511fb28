// The switches of a screen-saver host, as the Windows shell reads them.
#include "CommandLine.h"

#include <gtest/gtest.h>

namespace {

using command::Request;

TEST(CommandLine, SwitchesAndWindowHandles) {
    struct Row {
        const char* line;
        Request request;
        std::uint64_t window;
    };
    const Row rows[] = {
        // The show, as the host starts it, and whatever is not a switch of ours.
        {nullptr, Request::Show, 0},
        {"", Request::Show, 0},
        {"/s", Request::Show, 0},
        {"  /S  ", Request::Show, 0},
        {"/x 12", Request::Show, 0},
        {"/pause", Request::Show, 0},
        {"/c123", Request::Show, 0},
        {"p 12", Request::Show, 0},
        {"D:\\pictures", Request::Show, 0},
        // The preview: the handle after blanks or a colon; anything but a plain decimal is none.
        {"/p 1234", Request::Preview, 1234},
        {"-P\t66052", Request::Preview, 66052},
        {"/p:98", Request::Preview, 98},
        {"/p", Request::Preview, 0},
        {"/p 0x1f", Request::Preview, 0},
        {"/p -5", Request::Preview, 0},
        {"/p 12ab", Request::Preview, 0},
        {"/p 18446744073709551615", Request::Preview, 18446744073709551615ull},
        {"/p 18446744073709551616", Request::Preview, 0},
        // Settings, with or without the dialog's handle; the old password request.
        {"/c", Request::Settings, 0},
        {"/c:4660", Request::Settings, 4660},
        {"/C 77", Request::Settings, 77},
        {"/a 77", Request::Password, 77},
    };
    for (const Row& row : rows) {
        const command::Command got = command::parse(row.line);
        EXPECT_EQ(row.request, got.request) << (row.line ? row.line : "(null)");
        EXPECT_EQ(row.window, got.window) << (row.line ? row.line : "(null)");
    }
}

} // namespace
