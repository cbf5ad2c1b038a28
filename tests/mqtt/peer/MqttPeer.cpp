// A publishing process for the last-will test: connects, then records a reading every 100 ms
// until it is killed.
//   mqtt-peer PORT PREFIX

#include <chrono>
#include <cstdlib>
#include <thread>

#include "publish/MqttSink.h"

int main(int argc, char** argv) {
    if (argc != 3)
        return 2;
    MqttSettings settings;
    settings.host = "127.0.0.1";
    settings.port = std::atoi(argv[1]);
    settings.prefix = argv[2];
    settings.clientId = "mqtt-peer";
    MqttSink sink(settings);
    sink.Begin({"COM5", 9600, "PEER", "SN1", "V1", 30, 5}, {});
    for (int sample = 1;; ++sample) {
        sink.Record({{2026, 12, 11, 12, 0, 0, 0, 0}, double(sample), Measurement{1, 2, 2}, ""});
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
}
