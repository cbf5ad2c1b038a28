#include "support/LogCount.h"

#include "support/PtyPeer.h"

namespace testsupport {

std::size_t CountOf(const std::string& haystack, const std::string& text) {
    std::size_t count = 0;
    for (std::size_t at = haystack.find(text); at != std::string::npos;
         at = haystack.find(text, at + text.size()))
        ++count;
    return count;
}

std::size_t LogCount(const std::string& appDir, const std::string& channel,
                     const std::string& text) {
    return CountOf(serialtest::LogText(appDir, channel), text);
}

} // namespace testsupport
