// Windows builds have no libmosquitto package to link: [mqtt] is read, and said to be unused.

#include "publish/MqttSink.h"

#include "common/uCheckAll.h"

std::unique_ptr<IReadingSink> MakeMqttSink(const MqttSettings& settings) {
    static bool told = false;
    if (!told)
        WriteConsoleLine("MQTT：此版本不含 MQTT 发布，[mqtt] host=" + settings.host + " 未使用");
    told = true;
    return nullptr;
}
