// The last 1000 file numbers shown, with a cursor that steps back and forward.
#pragma once

#include <cstdint>
#include <vector>

class History {
public:
    static constexpr std::int32_t kNoEntry = -1; // what current() gives on an empty history

    History();

    void add(std::int32_t value);
    bool prev();
    bool next();
    // True when the cursor stands on the latest entry: next() would fail.
    bool at_end() const { return back_ == 0; }
    // The value under the cursor; kNoEntry when that slot was never written.
    std::int32_t current();

private:
    static constexpr std::int32_t kSize = 1000;
    std::int32_t def_ = 0;
    std::int32_t pos_ = -1;
    std::int32_t back_ = 0;
    std::vector<std::int32_t> entries_;
};
