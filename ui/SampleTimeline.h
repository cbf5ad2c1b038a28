#pragma once
// The time at which each point of a chart arrived, kept as straight pieces. A worker's points come
// at a nearly steady pace, so one piece (its first point's key and time, and the range of paces
// that keep every later point of the piece within the tolerance) covers many points; a new piece
// starts where no pace fits any more (a missed poll, a slow reply, a new worker). That is a few
// pieces per hour where a time per point would be eight bytes per point and chart.

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>
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
        if (!pieces_.empty() && Extend(pieces_.back(), key, double(msSinceEpoch)))
            return;
        pieces_.push_back({key, msSinceEpoch, -kAnyPace, kAnyPace});
    }

    // The time of the point at key, within the tolerance; none before the first point or once
    // the points came out of order.
    std::optional<int64_t> TimeAt(double key) const {
        if (pieces_.empty() || key < pieces_.front().key)
            return std::nullopt;
        const auto after = std::upper_bound(pieces_.begin(), pieces_.end(), key,
                                            [](double k, const Piece& p) { return k < p.key; });
        return static_cast<int64_t>(std::llround((after - 1)->At(key)));
    }

    std::size_t PieceCount() const { return pieces_.size(); }

private:
    static constexpr double kAnyPace = std::numeric_limits<double>::infinity();

    struct Piece {
        double key;
        int64_t ms;
        double slowest, fastest; // milliseconds per key that keep every point within tolerance
        double Pace() const { return std::isinf(slowest) ? 0 : (slowest + fastest) / 2; }
        double At(double k) const { return double(ms) + (k - key) * Pace(); }
    };

    // Narrows the piece's paces to those that also fit this point; false when none would.
    static bool Extend(Piece& piece, double key, double ms) {
        if (key == piece.key)
            return std::abs(ms - double(piece.ms)) <= kToleranceMs;
        const double span = key - piece.key;
        const double slowest = std::max(piece.slowest, (ms - kToleranceMs - piece.ms) / span);
        const double fastest = std::min(piece.fastest, (ms + kToleranceMs - piece.ms) / span);
        if (slowest > fastest)
            return false;
        piece.slowest = slowest;
        piece.fastest = fastest;
        return true;
    }

    std::vector<Piece> pieces_;
    double lastKey_ = -kAnyPace;
    bool disordered_ = false;
};
