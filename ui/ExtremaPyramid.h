#pragma once
// Minimum and maximum of any index range of a growing sequence of values, without visiting every
// value: level 0 stores the extremes of blocks of kBlockSize values, each higher level those of
// kFanOut blocks of the level below. Only whole blocks are stored, so appending costs O(1)
// amortised, and a range is answered from the coarsest blocks that fit inside it plus at most
// two partial groups at each level.

#include <algorithm>
#include <cstddef>
#include <limits>
#include <vector>

class ExtremaPyramid {
public:
    static constexpr std::size_t kBlockSize = 32;
    static constexpr std::size_t kFanOut = 16;

    struct Extrema {
        double min = std::numeric_limits<double>::infinity();
        double max = -std::numeric_limits<double>::infinity();

        void Merge(double value) {
            if (value < min)
                min = value;
            if (value > max)
                max = value;
        }
        void Merge(const Extrema& other) {
            Merge(other.min);
            Merge(other.max);
        }
    };

    // The number of leading values that stored blocks describe.
    std::size_t covered() const { return levels_.empty() ? 0 : levels_[0].size() * kBlockSize; }

    // Stores the blocks that values [0, count) complete beyond those already stored; valueAt(i)
    // gives value i.
    template <class ValueAt> void Extend(std::size_t count, const ValueAt& valueAt) {
        if (levels_.empty())
            levels_.emplace_back();
        while (covered() + kBlockSize <= count) {
            const std::size_t first = covered();
            Extrema block;
            for (std::size_t i = first; i < first + kBlockSize; ++i)
                block.Merge(valueAt(i));
            levels_[0].push_back(block);
            PromoteCompletedGroups();
        }
    }

    // Forgets every block that holds value index or a later one: those values changed.
    void Truncate(std::size_t index) {
        std::size_t kept = index / kBlockSize;
        for (std::vector<Extrema>& level : levels_) {
            level.resize(std::min(kept, level.size()));
            kept /= kFanOut;
        }
    }

    // Extremes of values [first, last); valueAt covers at least [covered(), last).
    template <class ValueAt>
    Extrema Query(std::size_t first, std::size_t last, const ValueAt& valueAt) const {
        Extrema result;
        // Cells of level -1 are the values themselves; a cell of level k + 1 groups `width`
        // cells of level k.
        int level = -1;
        std::size_t width = kBlockSize;
        while (true) {
            const std::size_t cellsAbove =
                level + 1 < int(levels_.size()) ? levels_[level + 1].size() : 0;
            const std::size_t aboveFirst = (first + width - 1) / width;
            const std::size_t aboveLast = std::min(last / width, cellsAbove);
            if (aboveFirst >= aboveLast) {
                MergeCells(result, level, first, last, valueAt);
                return result;
            }
            MergeCells(result, level, first, aboveFirst * width, valueAt);
            MergeCells(result, level, aboveLast * width, last, valueAt);
            first = aboveFirst;
            last = aboveLast;
            ++level;
            width = kFanOut;
        }
    }

private:
    void PromoteCompletedGroups() {
        for (std::size_t k = 0; levels_[k].size() % kFanOut == 0; ++k) {
            if (k + 1 == levels_.size())
                levels_.emplace_back();
            Extrema group;
            for (auto it = levels_[k].end() - kFanOut; it != levels_[k].end(); ++it)
                group.Merge(*it);
            levels_[k + 1].push_back(group);
        }
    }

    template <class ValueAt>
    void MergeCells(Extrema& result, int level, std::size_t first, std::size_t last,
                    const ValueAt& valueAt) const {
        if (level < 0) {
            for (std::size_t i = first; i < last; ++i)
                result.Merge(valueAt(i));
            return;
        }
        for (std::size_t i = first; i < last; ++i)
            result.Merge(levels_[level][i]);
    }

    std::vector<std::vector<Extrema>> levels_;
};
