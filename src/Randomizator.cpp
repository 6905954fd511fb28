#include "Randomizator.h"

#include "Tracer.h"

#include <numeric>

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
    // With position -1 the first try_next starts a cycle that reseeds and shuffles anew, so a
    // shuffle here could never be observed: only its trace line is kept.
    GW_TRACE(kModule, 3, "make_permutation : nb_value=%d", nb_value_);
}

void Randomizator::make_permutation() {
    if (!initialised_) return;
    generator_.seed(clock_ms());
    std::int32_t* const perm = permutation_.data();
    std::iota(perm, perm + nb_value_, 0);
    // r over the whole range, not 0..i: the order handed out depends on it.
    for (std::int32_t i = nb_value_ - 1; i >= 0; --i) {
        const std::int32_t r = generator_.next_int(nb_value_ - 1);
        const std::int32_t swapped = perm[r];
        perm[r] = perm[i];
        perm[i] = swapped;
    }
    GW_TRACE(kModule, 3, "make_permutation : nb_value=%d", nb_value_);
}

void Randomizator::update_valid() {
    if (!initialised_) return;
    GW_TRACE(kModule, 4, "update_valid : nb_value=%d", nb_value_);
    std::int32_t kept = 0;
    for (std::int32_t i = 0; i < nb_value_; ++i)
        if (values_[i] >= 0) values_[kept++] = values_[i];
    nb_value_ = kept;
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
    if (initialised_ && !displayable && waiting_ && position_ >= 0 && position_ < nb_value_)
        values_[permutation_[position_]] = -1;
    waiting_ = false;
}
