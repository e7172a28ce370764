#include "platform/layers/Transaction.h"

#include "dispatch/MainThreadChecker.h"

#include "base/Log.h"

#include <QCoreApplication>
#include <QThread>

#include <chrono>
#include <vector>

namespace platform::layers {

namespace {

struct Settings {
    double duration = 0;
    bool disableActions = false;
    TimingFunction timing = TimingFunction::linear;
};

std::vector<Settings>& stack() {
    static std::vector<Settings> transactions;
    return transactions;
}

std::function<double()>& clockOverride() {
    static std::function<double()> clock;
    return clock;
}

Settings current() {
    return stack().empty() ? Settings{} : stack().back();
}

} // namespace

double LayerClock::now() {
    if (const auto& clock = clockOverride()) {
        return clock();
    }
    using namespace std::chrono;
    return duration<double>(steady_clock::now().time_since_epoch()).count();
}

void LayerClock::setOverride(std::function<double()> clock) {
    clockOverride() = std::move(clock);
}

void Transaction::begin() {
    CW_DCHECK_MAIN_THREAD();
    stack().push_back(current());
}

void Transaction::commit() {
    CW_DCHECK_MAIN_THREAD();
    if (stack().empty()) {
        base::log("layer transaction committed without begin");
        return;
    }
    stack().pop_back();
}

void Transaction::setAnimationDuration(double seconds) {
    if (!stack().empty()) {
        stack().back().duration = seconds > 0 ? seconds : 0;
    }
}

void Transaction::setDisableActions(bool disable) {
    if (!stack().empty()) {
        stack().back().disableActions = disable;
    }
}

bool Transaction::disableActions() {
    return current().disableActions;
}

void Transaction::setTimingFunction(TimingFunction function) {
    if (!stack().empty()) {
        stack().back().timing = function;
    }
}

TimingFunction Transaction::timingFunction() {
    return current().timing;
}

double Transaction::effectiveDuration() {
    const Settings settings = current();
    return settings.disableActions ? 0 : settings.duration;
}

int Transaction::depth() {
    return static_cast<int>(stack().size());
}

TransactionScope::TransactionScope() {
    Transaction::begin();
    Transaction::setDisableActions(true);
}

TransactionScope::TransactionScope(double seconds, TimingFunction function) {
    Transaction::begin();
    Transaction::setAnimationDuration(seconds);
    Transaction::setTimingFunction(function);
    Transaction::setDisableActions(false);
}

TransactionScope::~TransactionScope() {
    Transaction::commit();
}

} // namespace platform::layers
