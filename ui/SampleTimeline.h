#pragma once
// The time at which each point of a chart arrived, kept as straight pieces. A worker's points come
// at a nearly steady pace, so one piece (a first key, its time and the milliseconds per key)
// covers many points; a new piece starts where a point strays from the line by more than the
// tolerance (a missed poll, a slow reply, a new worker). A few bytes per hundred points, where a
// time per point would be eight per point and chart.

#include <cmath>
#include <cstdint>
#include <optional>
#include <vector>

class SampleTimeline {
public:
    static constexpr double kToleranceMs = 50;

    // Points come in order of key. A point before the last one's key makes the times unknown from
    // then on: a line through points out of order would name wrong times.
    void Add(double key, int64_t msSinceEpoch) {
        if (disordered_)
            return;
        if (key < lastKey_) {
            disordered_ = true;
            pieces_.clear();
            return;
        }
        lastKey_ = key;
        if (pieces_.empty())
            return pieces_.push_back({key, msSinceEpoch, 0, false});
        Piece& last = pieces_.back();
        if (!last.paced) {
            if (key > last.key) {
                last.msPerKey = double(msSinceEpoch - last.ms) / (key - last.key);
                last.paced = true;
            }
            return;
        }
        if (std::abs(double(msSinceEpoch) - last.At(key)) > kToleranceMs)
            pieces_.push_back({key, msSinceEpoch, last.msPerKey, false});
    }

    // The time of the point at key, within the tolerance; none before the first point or once
    // the points came out of order.
    std::optional<int64_t> TimeAt(double key) const {
        if (pieces_.empty() || key < pieces_.front().key)
            return std::nullopt;
        std::size_t low = 0, high = pieces_.size();
        while (high - low > 1) {
            const std::size_t middle = (low + high) / 2;
            (pieces_[middle].key <= key ? low : high) = middle;
        }
        return static_cast<int64_t>(std::llround(pieces_[low].At(key)));
    }

    std::size_t PieceCount() const { return pieces_.size(); }

private:
    struct Piece {
        double key;
        int64_t ms;
        double msPerKey;
        bool paced; // msPerKey measured from a second point
        double At(double k) const { return double(ms) + (k - key) * msPerKey; }
    };
    std::vector<Piece> pieces_;
    double lastKey_ = -INFINITY;
    bool disordered_ = false;
};
