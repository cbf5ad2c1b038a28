#include "record/SinkFactory.h"

#include <vector>

#include "common/uCheckAll.h"
#include "publish/MqttSink.h"
#include "record/CompositeSink.h"
#include "record/CsvRecordingSink.h"

std::unique_ptr<IReadingSink> MakeReadingSink() {
    std::vector<std::unique_ptr<IReadingSink>> sinks;
    if (Recording.enabled)
        sinks.push_back(std::make_unique<CsvRecordingSink>(RecordingBase()));
    if (Publishing)
        if (std::unique_ptr<IReadingSink> publisher = MakeMqttSink(*Publishing))
            sinks.push_back(std::move(publisher));
    if (sinks.empty())
        return nullptr;
    if (sinks.size() == 1)
        return std::move(sinks.front());
    return std::make_unique<CompositeSink>(std::move(sinks));
}
