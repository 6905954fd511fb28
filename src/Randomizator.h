// File numbers 0..n-1 in random order without repetition, cycle after cycle.
#pragma once

#include <cstdint>
#include <vector>

// L'Ecuyer's combined generator with a Bays-Durham shuffle of 32 entries.
class RandomGenerator {
public:
    explicit RandomGenerator(std::int32_t seed_value = 0);
    void seed(std::int32_t s);
    // In [1/M1, (M1-1)/M1].
    double uniform();
    // In 0..a.
    std::int32_t next_int(std::int32_t a);

private:
    std::int32_t state1_ = 0;
    std::int32_t state2_ = 0;
    std::int32_t last_ = 0;
    std::int32_t table_[32] = {};
};

class Randomizator {
public:
    Randomizator() = default;

    // Sizes for 0..n-1 (n >= 1) and starts over; n < 1 is ignored.
    void init(std::int32_t n);
    // The next candidate, or -1 when there is none.
    std::int32_t try_next();
    // The verdict on the candidate handed out last.
    void set_result(bool displayable);
    // Values in play; 0 means no picture at all.
    std::int32_t get_nb_value() const { return nb_value_; }

    // Reseeds from clock_ms and shuffles the positions of the values in play.
    void make_permutation();
    // Drops the values reported not displayable.
    void update_valid();

private:
    std::vector<std::int32_t> values_;
    std::vector<std::int32_t> permutation_;
    std::int32_t position_ = 0;
    std::int32_t nb_value_ = 0;
    bool initialised_ = false;
    bool waiting_ = false;
    RandomGenerator generator_;
};
