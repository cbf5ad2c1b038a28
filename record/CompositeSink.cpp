#include "record/CompositeSink.h"

CompositeSink::CompositeSink(std::vector<std::unique_ptr<IReadingSink>> sinks)
    : sinks_(std::move(sinks)) {}

void CompositeSink::Begin(const SupplyIdentity& identity, const platform::LocalDateTime& started) {
    for (const auto& sink : sinks_)
        sink->Begin(identity, started);
}

void CompositeSink::Record(const CycleRecord& record) {
    for (const auto& sink : sinks_)
        sink->Record(record);
}

void CompositeSink::End() {
    for (const auto& sink : sinks_)
        sink->End();
}

std::string CompositeSink::Problem() const {
    std::string problems;
    for (const auto& sink : sinks_) {
        const std::string problem = sink->Problem();
        if (problem.empty())
            continue;
        if (!problems.empty())
            problems += '\n';
        problems += problem;
    }
    return problems;
}
