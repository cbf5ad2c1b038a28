#include "publish/MqttPayload.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <nlohmann/json.hpp>

#include "common/TextUtil.h"

std::string IdentityPayload(const SupplyIdentity& identity) {
    const nlohmann::ordered_json payload = {
        {"port", identity.portName},
        {"baud", identity.baudRate},
        {"model", WireBytesToUtf8(identity.model)},
        {"serial", WireBytesToUtf8(identity.serialNumber)},
        {"version", WireBytesToUtf8(identity.version)},
        {"rated_voltage_V", identity.ratedVoltage},
        {"rated_current_A", identity.ratedCurrent},
    };
    // The texts are UTF-8 already; the handler only guards against a fault of that conversion.
    return payload.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
}

std::string ReadingPayload(const CycleRecord& record) {
    nlohmann::ordered_json payload;
    payload["time"] = IsoLocalTime(record.time);
    // The sample is a whole count; written as one, not as "5.0".
    if (record.sample == std::trunc(record.sample) && std::abs(record.sample) < 9.0e15)
        payload["sample"] = static_cast<int64_t>(record.sample);
    else
        payload["sample"] = record.sample;
    payload["voltage_V"] = record.reading->volts;
    payload["current_A"] = record.reading->amperes;
    payload["power_W"] = record.reading->watts;
    if (!record.event.empty())
        payload["event"] = WireBytesToUtf8(record.event);
    return payload.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
}
