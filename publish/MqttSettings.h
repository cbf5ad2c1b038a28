#pragma once
// The [mqtt] section of config.ini: where every reading is published, read once at start and
// never written.

#include <cstdint>
#include <optional>
#include <string>

struct MqttSettings {
    std::string host;
    int32_t port = 1883;
    std::string prefix;   // empty: psu/<host name>/<port name>, known once the port is
    std::string clientId; // empty: derived from the prefix
    std::string username;
    std::string password; // never logged, never printed
    std::string caFile;   // when given: TLS with this CA
    int32_t qos = 1;
};

struct MqttSettingsRead {
    std::optional<MqttSettings> settings; // empty: no publishing
    std::string error;                    // why a present section was ignored, or empty
};

// Reads the section from the profile file. No host, or a value that does not parse, means no
// publishing; only the latter sets the error.
MqttSettingsRead ReadMqttSettings(const std::string& iniFile);

// ReadMqttSettings, with the error written once to standard error.
std::optional<MqttSettings> LoadMqttSettings(const std::string& iniFile);

// Where each new worker publishes, as AppDir's config.ini said at start-up; empty: nowhere.
extern std::optional<MqttSettings> Publishing;

// Sets Publishing from AppDir + "config.ini".
void LoadPublishSettings();

// The topic prefix in force: the configured one, or psu/<host name>/<port name> with every
// character that a topic level cannot hold replaced.
std::string EffectivePrefix(const MqttSettings& settings, const std::string& hostName,
                            const std::string& portName);

// The client id in force: the configured one, or the prefix with "/" as "-".
std::string EffectiveClientId(const MqttSettings& settings, const std::string& prefix);
