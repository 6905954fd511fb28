#include "Randomizator.h"

#include "Tracer.h"

#include <numeric>
#include <utility>

namespace {
const std::int32_t kModule = Tracer::register_module("Randomizator");

constexpr std::int32_t kM1 = 2147483563;
constexpr std::int32_t kA1 = 40014;
constexpr std::int32_t kQ1 = 53668;
constexpr std::int32_t kR1 = 12211;
constexpr std::int32_t kM2 = 2147483399;
constexpr std::int32_t kA2 = 40692;
constexpr std::int32_t kQ2 = 52774;
constexpr std::int32_t kR2 = 3791;
constexpr std::int32_t kM1Minus1 = kM1 - 1;
constexpr std::int32_t kTableSize = 32;
constexpr std::int32_t kDivisor = 1 + kM1Minus1 / kTableSize;
constexpr double kScale = 1.0 / kM1;

static_assert(kA1 * kQ1 + kR1 == kM1, "first component constants");
static_assert(kA2 * kQ2 + kR2 == kM2, "second component constants");
static_assert(kDivisor == 67108862, "table index divisor");

// A × state mod M by Schrage's split: every intermediate fits in 32 bits, even for the
// out-of-range states that the seeding rule can produce (INT32_MIN, -INT32_MAX).
std::int32_t advance(std::int32_t state, std::int32_t a, std::int32_t q, std::int32_t r,
                     std::int32_t m) {
    const std::int32_t k = state / q;
    std::int32_t next = a * (state - k * q) - r * k;
    if (next < 0) next += m;
    return next;
}

// The seed of the values that join a round: a function of the round and of the moment they
// joined, so that a saved round is rebuilt exactly. Wrapping unsigned arithmetic.
std::int32_t spread_seed(std::int32_t cycle_seed, std::int32_t position, std::int32_t size) {
    const std::uint32_t mixed = static_cast<std::uint32_t>(cycle_seed) * 2654435761u ^
                                static_cast<std::uint32_t>(position) * 40503u ^
                                static_cast<std::uint32_t>(size);
    return static_cast<std::int32_t>(mixed);
}
} // namespace

RandomGenerator::RandomGenerator(std::int32_t seed_value) { seed(seed_value); }

void RandomGenerator::seed(std::int32_t s) {
    // 1 - s wraps for the two most negative seeds; the wrapped value is kept.
    const std::int32_t v =
        s > 0 ? s : static_cast<std::int32_t>(1u - static_cast<std::uint32_t>(s));
    state1_ = v;
    state2_ = v;
    for (std::int32_t j = kTableSize + 7; j >= 0; --j) {
        state1_ = advance(state1_, kA1, kQ1, kR1, kM1);
        if (j < kTableSize) table_[j] = state1_;
    }
    last_ = table_[0];
}

double RandomGenerator::uniform() {
    for (;;) {
        state1_ = advance(state1_, kA1, kQ1, kR1, kM1);
        state2_ = advance(state2_, kA2, kQ2, kR2, kM2);
        const std::int32_t j = last_ / kDivisor;
        last_ = table_[j] - state2_;
        table_[j] = state1_;
        if (last_ < 1) last_ += kM1Minus1;
        const double u = last_ * kScale;
        if (u < 1.0) return u;
    }
}

std::int32_t RandomGenerator::next_int(std::int32_t a) {
    // a + 1 in double: no overflow for a = INT32_MAX.
    return static_cast<std::int32_t>(uniform() * (static_cast<double>(a) + 1.0));
}

void Randomizator::init(std::int32_t n) {
    if (n < 1) return;
    // resize keeps the capacity: the file index re-inits after every scanning step.
    values_.resize(static_cast<std::size_t>(n));
    permutation_.resize(static_cast<std::size_t>(n));
    nb_value_ = n;
    position_ = -1;
    std::iota(values_.begin(), values_.end(), 0);
    initialised_ = true;
    size_ = n;
    cycle_size_ = n;
    cycle_dropped_.clear();
    extensions_.clear();
    last_shown_ = -1; // a start over: every value may come first
    // With position -1 the first try_next starts a cycle that reseeds and shuffles anew, so a
    // shuffle here could never be observed: only its trace line is kept.
    GW_TRACE(kModule, 3, "make_permutation : nb_value=%d", nb_value_);
}

void Randomizator::make_permutation() {
    if (!initialised_) return;
    shuffle(clock_ms(), last_shown_);
    GW_TRACE(kModule, 3, "make_permutation : nb_value=%d", nb_value_);
}

void Randomizator::shuffle(std::int32_t seed, std::int32_t avoided) {
    cycle_seed_ = seed;
    cycle_avoided_ = avoided;
    cycle_size_ = size_;
    extensions_.clear();
    generator_.seed(seed);
    std::int32_t* const perm = permutation_.data();
    std::iota(perm, perm + nb_value_, 0);
    // r over the whole range, not 0..i: the order handed out depends on it.
    for (std::int32_t i = nb_value_ - 1; i >= 0; --i) {
        const std::int32_t r = generator_.next_int(nb_value_ - 1);
        const std::int32_t swapped = perm[r];
        perm[r] = perm[i];
        perm[i] = swapped;
    }
    // Where one cycle ends and the next begins, the picture on screen must not come again.
    if (nb_value_ > 1 && values_[perm[0]] == avoided) std::swap(perm[0], perm[nb_value_ - 1]);
}

void Randomizator::update_valid() {
    if (!initialised_) return;
    GW_TRACE(kModule, 4, "update_valid : nb_value=%d", nb_value_);
    std::int32_t kept = 0;
    for (std::int32_t i = 0; i < nb_value_; ++i)
        if (values_[i] >= 0) values_[kept++] = values_[i];
    nb_value_ = kept;
    // The values in play stay ascending: what they lack of 0..size_-1 is what was dropped.
    cycle_dropped_.clear();
    std::int32_t next = 0;
    for (std::int32_t i = 0; i <= nb_value_; ++i) {
        const std::int32_t upto = i < nb_value_ ? values_[i] : size_;
        for (; next < upto; ++next) cycle_dropped_.push_back(next);
        next = upto + 1;
    }
    GW_TRACE(kModule, 4, "~-->%d", nb_value_);
}

std::int32_t Randomizator::try_next() {
    if (!initialised_ || nb_value_ <= 0) return -1;
    if (waiting_) GW_TRACE(kModule, 2, "try_next : still waiting result of previous try");
    for (;;) {
        position_ = (position_ + 1) % nb_value_;
        if (position_ == 0) {
            update_valid();
            if (nb_value_ <= 0) {
                GW_TRACE(kModule, 1, "try_next no displayable file found => exit");
                return -1;
            }
            make_permutation();
        }
        const std::int32_t v = values_[permutation_[position_]];
        if (v >= 0) {
            waiting_ = true;
            return v;
        }
    }
}

void Randomizator::set_result(bool displayable) {
    // Only a candidate actually handed out is marked: right after init (position -1) or once
    // the values ran out there is none, and the arrays must not be touched.
    if (initialised_ && waiting_ && position_ >= 0 && position_ < nb_value_) {
        std::int32_t& value = values_[permutation_[position_]];
        if (displayable)
            last_shown_ = value;
        else
            value = -1;
    }
    waiting_ = false;
}

void Randomizator::extend(std::int32_t n) {
    if (!initialised_ || position_ < 0 || n < size_) {
        init(n);
        return;
    }
    if (n == size_) return;
    extensions_.push_back(RoundState::Extension{position_, n});
    spread(n);
    GW_TRACE(kModule, 3, "extend : nb_value=%d", nb_value_);
}

void Randomizator::spread(std::int32_t n) {
    values_.resize(static_cast<std::size_t>(nb_value_));
    permutation_.resize(static_cast<std::size_t>(nb_value_));
    RandomGenerator generator(spread_seed(cycle_seed_, position_, n));
    // Each new value takes a random place among those not yet handed out, the place's value
    // moving to the end: an inside-out shuffle of the rest of the round.
    const std::int32_t first = position_ + 1;
    for (std::int32_t v = size_; v < n; ++v) {
        const std::int32_t k = nb_value_++;
        values_.push_back(v);
        permutation_.push_back(k);
        const std::int32_t r = first + generator.next_int(k - first);
        std::swap(permutation_[r], permutation_[k]);
    }
    size_ = n;
}

bool Randomizator::save_state(RoundState& state) const {
    if (!initialised_ || position_ < 0 || nb_value_ <= 0) return false;
    state.size = cycle_size_;
    state.dropped = cycle_dropped_;
    state.seed = cycle_seed_;
    // A candidate handed out and not yet judged (a picture decoded ahead, never shown) is
    // handed out again by the next run.
    state.position = waiting_ && position_ > 0 ? position_ - 1 : position_;
    state.last_shown = last_shown_;
    state.avoided = cycle_avoided_;
    state.extensions = extensions_;
    return true;
}

bool Randomizator::restore_state(const RoundState& state, std::int32_t n) {
    // Everything is checked before anything changes: the numbers may come from a damaged file.
    if (state.size < 1 || state.size > n || state.dropped.size() >= std::size_t(state.size))
        return false;
    for (std::size_t i = 0; i < state.dropped.size(); ++i)
        if (state.dropped[i] < 0 || state.dropped[i] >= state.size ||
            (i > 0 && state.dropped[i] <= state.dropped[i - 1]))
            return false;
    std::int32_t count = state.size - static_cast<std::int32_t>(state.dropped.size());
    std::int32_t size = state.size;
    for (const RoundState::Extension& e : state.extensions) {
        if (e.position < 0 || e.position >= count || e.size <= size || e.size > n) return false;
        count += e.size - size;
        size = e.size;
    }
    if (state.position < 0 || state.position >= count || state.last_shown < -1 ||
        state.last_shown >= n || state.avoided < -1 || state.avoided >= n)
        return false;

    values_.clear();
    std::size_t d = 0;
    for (std::int32_t v = 0; v < state.size; ++v) {
        if (d < state.dropped.size() && state.dropped[d] == v)
            ++d;
        else
            values_.push_back(v);
    }
    nb_value_ = static_cast<std::int32_t>(values_.size());
    permutation_.resize(values_.size());
    initialised_ = true;
    waiting_ = false;
    size_ = state.size;
    shuffle(state.seed, state.avoided);
    cycle_dropped_ = state.dropped;
    for (const RoundState::Extension& e : state.extensions) {
        position_ = e.position;
        extensions_.push_back(e);
        spread(e.size);
    }
    position_ = state.position;
    last_shown_ = state.last_shown;
    GW_TRACE(kModule, 3, "restore : candidate %d of %d", position_ + 1, nb_value_);
    extend(n);
    return true;
}
