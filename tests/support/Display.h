// A display for the controller that records what it is asked to draw and delete.
#pragma once

#include "ScreenSaver.h"

#include <functional>
#include <string>
#include <vector>

namespace test {

class RecordingDisplay final : public ScreenSaver::SystemWrapper {
public:
    struct Draw {
        bool image;
        int width;
        int height;
        std::string caption;
        int area_x = -1; // left of the area set before the draw; -1 when none was
    };
    struct Trashed {
        std::string original;
        std::string in_trash;
    };
    // Without `trash` a file asked to be deleted is unlinked; with it, the file is moved into
    // that folder under a number and the move recorded in `trashed`.
    explicit RecordingDisplay(std::string trash = "") : trash_(std::move(trash)) {}

    void draw_bitmap(const BitMap* image, const std::string& caption) override;
    void set_area(const ScreenSaver::Area& area) override { area_x_ = area.x; }
    // Records the path, runs `during_delete`, then deletes unless `fail` is set.
    bool delete_file(const char* path) override;
    // Draws that showed a picture, not the no-image screen.
    int pictures() const;

    std::vector<Draw> draws;
    std::vector<std::string> captions; // caption of each draw, empty for the no-image screen
    std::vector<std::string> deletes;  // every path asked for, deleted or not
    std::vector<Trashed> trashed;
    bool fail = false;
    std::function<void()> during_delete;

private:
    std::string trash_;
    int area_x_ = -1;
};

} // namespace test
