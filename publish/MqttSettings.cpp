#include "publish/MqttSettings.h"

#include <algorithm>

#include "common/TextUtil.h"
#include "common/uCheckAll.h"

namespace {

const char* const kSection = "mqtt";

bool IsWholeNumber(const std::string& text) {
    return !text.empty() &&
           std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
}

// A topic the broker accepts for publishing: no wildcards, no NUL.
bool IsPublishableTopic(const std::string& topic) {
    return topic.find_first_of(std::string("+#\0", 3)) == std::string::npos;
}

std::string ReplaceTopicWildcards(std::string level) {
    std::replace_if(
        level.begin(), level.end(), [](char c) { return c == '+' || c == '#' || c == '/'; }, '_');
    return level;
}

// Fills settings from the values; the first value that does not parse is the error.
std::string ParseValues(const std::string& iniFile, MqttSettings& settings) {
    const auto value = [&](const char* key) { return IniReadString(iniFile, kSection, key, ""); };
    settings.username = value("username");
    settings.password = value("password");
    settings.caFile = value("cafile");
    settings.prefix = value("prefix");
    settings.clientId = value("client_id");

    const std::string port = value("port");
    if (port.empty()) {
        settings.port = settings.caFile.empty() ? 1883 : 8883;
    } else {
        // Digits only, so that "0x50" or "+80" are refused rather than read some other way.
        int32_t number = 0;
        if (!IsWholeNumber(port) || !TryTextToInt(port, number) || number < 1 || number > 65535)
            return "port=" + port + " 不是 1 到 65535 之间的端口号";
        settings.port = number;
    }
    const std::string qos = value("qos");
    if (!qos.empty() && qos != "0" && qos != "1")
        return "qos=" + qos + " 只能是 0 或 1";
    settings.qos = qos == "0" ? 0 : 1;
    if (!IsPublishableTopic(settings.prefix))
        return "prefix=" + settings.prefix + " 含有通配符 + 或 #";
    if (!settings.password.empty() && settings.username.empty())
        return "有 password 而没有 username";
    return "";
}

} // namespace

MqttSettingsRead ReadMqttSettings(const std::string& iniFile) {
    MqttSettings settings;
    settings.host = IniReadString(iniFile, kSection, "host", "");
    if (settings.host.empty())
        return {};
    const std::string error = ParseValues(iniFile, settings);
    if (!error.empty())
        return {std::nullopt, "config.ini [mqtt]: " + error + "，不发布 MQTT 消息。"};
    return {settings, ""};
}

std::optional<MqttSettings> LoadMqttSettings(const std::string& iniFile) {
    MqttSettingsRead read = ReadMqttSettings(iniFile);
    if (!read.error.empty())
        WriteConsoleLine(read.error);
    return read.settings;
}

std::optional<MqttSettings> Publishing;

void LoadPublishSettings() {
    Publishing = LoadMqttSettings(AppDir + "config.ini");
}

std::string EffectivePrefix(const MqttSettings& settings, const std::string& hostName,
                            const std::string& portName) {
    if (!settings.prefix.empty())
        return settings.prefix;
    return "psu/" + ReplaceTopicWildcards(hostName) + "/" + ReplaceTopicWildcards(portName);
}

std::string EffectiveClientId(const MqttSettings& settings, const std::string& prefix) {
    if (!settings.clientId.empty())
        return settings.clientId;
    std::string id = prefix;
    std::replace(id.begin(), id.end(), '/', '-');
    return id;
}
