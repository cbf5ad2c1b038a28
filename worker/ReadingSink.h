#pragma once
// Where a worker hands every reading and event besides the window: recordings, publishers. A sink
// is called on the worker's thread and must neither block for long nor throw; it keeps what it
// cannot do as its Problem, for the window to show.

#include <cstdint>
#include <optional>
#include <string>

#include "platform/Platform.h"

// The supply a worker talks to, as the connect identified it.
struct SupplyIdentity {
    std::string portName; // "COM9"
    int32_t baudRate = 0;
    std::string model;
    std::string serialNumber;
    std::string version;
    int32_t ratedVoltage = 0; // whole volts
    int32_t ratedCurrent = 0; // whole amperes
};

// The three values of one reading, as parsed.
struct Measurement {
    double volts = 0;
    double amperes = 0;
    double watts = 0;
};

// One cycle of a worker that brought a reading, sent a command line, or both.
struct CycleRecord {
    platform::LocalDateTime time;       // when the cycle's reading (or its absence) was known
    double sample = 0;                  // the x of the cycle's point on the charts
    std::optional<Measurement> reading; // empty: the poll brought no usable reading
    std::string event;                  // "SOUR:VOLT 12.50 -> OK", or empty
};

class IReadingSink {
public:
    virtual ~IReadingSink() = default;
    // Once, on the worker's thread, before its first cycle.
    virtual void Begin(const SupplyIdentity& identity, const platform::LocalDateTime& started) = 0;
    virtual void Record(const CycleRecord& record) = 0;
    // Once, when the worker's loop has ended.
    virtual void End() = 0;
    // What the operator should know of (a file that cannot be written, a broker that refuses),
    // or empty. May be asked from the worker's thread at any time.
    virtual std::string Problem() const = 0;
};
