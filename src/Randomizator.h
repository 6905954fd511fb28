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

// Where a round of the permutation stands, in a few numbers: enough to take it up again in
// another run. The round's order is rebuilt from the seed its cycle was shuffled with.
struct RoundState {
    // Values (file numbers) that joined the round after it was shuffled, and where it stood.
    struct Extension {
        std::int32_t position;
        std::int32_t size;
    };
    std::int32_t size = 0;             // the round's cycle was shuffled over 0..size-1 ...
    std::vector<std::int32_t> dropped; // ... without these (ascending), reported not usable
    std::int32_t seed = 0;             // the clock value the cycle was shuffled with
    std::int32_t position = -1;        // index of the candidate handed out last
    std::int32_t last_shown = -1;      // the value last reported usable, -1 for none
    std::int32_t avoided = -1;         // the value the cycle was kept from starting with
    std::vector<Extension> extensions;
};

class Randomizator {
public:
    Randomizator() = default;

    // Sizes for 0..n-1 (n >= 1) and starts over; n < 1 is ignored.
    void init(std::int32_t n);
    // Grows to 0..n-1 keeping the round: the new values are spread at random over what the
    // round has yet to hand out. Before the round's first candidate, or for an n below the
    // current size, the same as init.
    void extend(std::int32_t n);
    // The round as it stands; false when there is none to keep.
    bool save_state(RoundState& state) const;
    // Takes up a saved round over 0..n-1; false, and nothing changed, when the state does not
    // fit n or is not one that save_state could give.
    bool restore_state(const RoundState& state, std::int32_t n);
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
    // Shuffles the positions of the values in play with the generator seeded by `seed`; a
    // cycle of more than one value never starts with `avoided`.
    void shuffle(std::int32_t seed, std::int32_t avoided);
    // Appends the values size()..n-1 and spreads them over the positions after position_.
    void spread(std::int32_t n);

    std::vector<std::int32_t> values_;
    std::vector<std::int32_t> permutation_;
    std::int32_t position_ = 0;
    std::int32_t nb_value_ = 0;
    bool initialised_ = false;
    bool waiting_ = false;
    RandomGenerator generator_;
    std::int32_t size_ = 0;       // values are taken from 0..size_-1
    std::int32_t cycle_size_ = 0; // size_ when the cycle was shuffled
    std::int32_t cycle_seed_ = 0;
    std::int32_t cycle_avoided_ = -1;
    std::vector<std::int32_t> cycle_dropped_;
    std::vector<RoundState::Extension> extensions_;
    std::int32_t last_shown_ = -1;
};
