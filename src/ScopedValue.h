// A variable holds a value for as long as the guard lives, then the value it had before,
// whichever way the scope is left.
#pragma once

template <typename T> class ScopedValue {
public:
    ScopedValue(T& variable, T value) : variable_(variable), previous_(variable) {
        variable_ = value;
    }
    ~ScopedValue() { variable_ = previous_; }
    ScopedValue(const ScopedValue&) = delete;
    ScopedValue& operator=(const ScopedValue&) = delete;

private:
    T& variable_;
    T previous_;
};
