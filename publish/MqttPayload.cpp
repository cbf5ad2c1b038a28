#include "publish/MqttPayload.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <nlohmann/json.hpp>

std::string IsoLocalTime(const platform::LocalDateTime& time) {
    const int offset = std::abs(time.utcOffsetMinutes);
    char text[40];
    std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d.%03d%c%02d:%02d", time.year,
                  time.month, time.day, time.hour, time.minute, time.second, time.millisecond,
                  time.utcOffsetMinutes < 0 ? '-' : '+', offset / 60, offset % 60);
    return text;
}

std::string IdentityPayload(const SupplyIdentity& identity) {
    const nlohmann::ordered_json payload = {
        {"port", identity.portName},
        {"baud", identity.baudRate},
        {"model", identity.model},
        {"serial", identity.serialNumber},
        {"version", identity.version},
        {"rated_voltage_V", identity.ratedVoltage},
        {"rated_current_A", identity.ratedCurrent},
    };
    // Replacing bad UTF-8 keeps a supply's garbled identity from ending the worker.
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
        payload["event"] = record.event;
    return payload.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
}
