#pragma once
// The JSON payloads of the published topics. UTF-8, "." as decimal mark whatever the locale.

#include <string>

#include "worker/ReadingSink.h"

inline constexpr const char* kStatusOnline = "online";
inline constexpr const char* kStatusOffline = "offline";

// {"port", "baud", "model", "serial", "version", "rated_voltage_V", "rated_current_A"}
std::string IdentityPayload(const SupplyIdentity& identity);

// {"time", "sample", "voltage_V", "current_A", "power_W"} and "event" when the cycle sent a
// command. The record must hold a reading.
std::string ReadingPayload(const CycleRecord& record);
