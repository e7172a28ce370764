// How much of a long piece of work one turn of the event loop takes.
#pragma once

#include <algorithm>
#include <chrono>
#include <cstdint>

namespace cw::editor {

// Sized from the time the last piece took, so the next takes about `target`: a text whose
// characters cost a hundred times as much as others (a letter under a thousand marks) goes by
// smaller pieces. Growth is at most twofold a turn, so that a cheap stretch never lets the next
// piece run far past the target; a slow piece shrinks the next at once.
class PieceSize {
public:
    PieceSize(int least, int most, std::chrono::milliseconds target)
        : least_(least)
        , most_(most)
        , target_(target)
        , characters_(least) {}

    int characters() const { return characters_; }

    void took(std::chrono::steady_clock::duration spent) {
        const auto nanoseconds = std::max<std::int64_t>(
            1, std::chrono::duration_cast<std::chrono::nanoseconds>(spent).count());
        const auto target = std::chrono::duration_cast<std::chrono::nanoseconds>(target_).count();
        const std::int64_t next = std::min<std::int64_t>(std::int64_t(characters_) * target / nanoseconds,
                                                         std::int64_t(characters_) * 2);
        characters_ = int(std::clamp<std::int64_t>(next, least_, most_));
    }

    // The cost of what comes next is not known (a new text): start small again.
    void restart() { characters_ = least_; }

private:
    int least_;
    int most_;
    std::chrono::milliseconds target_;
    int characters_;
};

} // namespace cw::editor
