#pragma once
// Several sinks behind one: the worker feeds one sink whatever number of recordings and
// publishers the settings ask for.

#include <memory>
#include <vector>

#include "worker/ReadingSink.h"

class CompositeSink : public IReadingSink {
public:
    explicit CompositeSink(std::vector<std::unique_ptr<IReadingSink>> sinks);

    void Begin(const SupplyIdentity& identity, const platform::LocalDateTime& started) override;
    void Record(const CycleRecord& record) override;
    void End() override;
    // The problems of every sink that has one, one per line, in the order of the sinks.
    std::string Problem() const override;

private:
    std::vector<std::unique_ptr<IReadingSink>> sinks_;
};
