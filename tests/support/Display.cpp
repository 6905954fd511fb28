#include "Display.h"

#include "BitMap.h"

#include <algorithm>
#include <cstdio>
#include <unistd.h>

namespace test {

void RecordingDisplay::draw_bitmap(const BitMap* image, const std::string& caption) {
    draws.push_back(Draw{image != nullptr, image ? image->width() : 0, image ? image->height() : 0,
                         caption, area_x_});
    captions.push_back(image ? caption : std::string());
}

bool RecordingDisplay::delete_file(const char* path) {
    deletes.push_back(path);
    if (during_delete) during_delete();
    if (fail) return false;
    if (trash_.empty()) return unlink(path) == 0;
    const std::string target = trash_ + "/" + std::to_string(trashed.size());
    if (std::rename(path, target.c_str()) != 0) return false;
    trashed.push_back({path, target});
    return true;
}

int RecordingDisplay::pictures() const {
    return static_cast<int>(
        std::count_if(draws.begin(), draws.end(), [](const Draw& d) { return d.image; }));
}

} // namespace test
