// Layer transactions: the one place that decides whether a property change animates.
#pragma once

#include <functional>

namespace platform::layers {

// The clock that animations run on, in seconds on the monotonic clock. Tests inject their own.
class LayerClock {
public:
    static double now();
    // Replaces the clock; an empty function restores the monotonic clock. Main thread only.
    static void setOverride(std::function<double()> clock);
};

enum class TimingFunction { linear, easeInEaseOut };

// A stack of transactions, main thread only.
//
// Implicit animations are always off: outside a transaction, or inside one without a duration, every
// change takes effect at once. Inside a transaction with a duration > 0 and actions not disabled, a
// change of a layer's position, bounds or opacity becomes an animation from the layer's current
// presentation value to the new value over that duration; it replaces any animation of the same
// property still running. A nested transaction starts with the settings of the one around it.
class Transaction {
public:
    static void begin();
    // Ends the innermost transaction. A commit without a begin is ignored (and logged).
    static void commit();

    static void setAnimationDuration(double seconds);
    static void setDisableActions(bool disable);
    static bool disableActions();
    static void setTimingFunction(TimingFunction function);
    static TimingFunction timingFunction();

    // The duration a change made now animates with; 0 when it must not animate.
    static double effectiveDuration();
    // Depth of the stack, for tests and assertions.
    static int depth();
};

// Begins a transaction on construction and commits it on destruction.
class TransactionScope {
public:
    // A transaction whose changes take effect at once.
    TransactionScope();
    // A transaction whose position, bounds and opacity changes animate over `seconds`.
    explicit TransactionScope(double seconds, TimingFunction function = TimingFunction::linear);
    ~TransactionScope();
    TransactionScope(const TransactionScope&) = delete;
    TransactionScope& operator=(const TransactionScope&) = delete;
};

} // namespace platform::layers
