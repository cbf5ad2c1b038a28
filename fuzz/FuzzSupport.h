#pragma once
// What the fuzz targets share: how a broken property ends the run, and small text helpers that
// the properties are stated with (written here, not taken from the code under test).

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <string>
#include <string_view>
#include <vector>

namespace fuzz {

// A broken property ends the run as a crash does, so that libFuzzer keeps the input.
inline void Check(bool holds, const char* property) {
    if (holds)
        return;
    std::fprintf(stderr, "property broken: %s\n", property);
    std::abort();
}

// Whether the error says `expected`; what() is a C string, so both are compared up to their first
// NUL (a NUL in the offending text ends the message there).
inline bool MessageIs(const std::exception& error, const std::string& expected) {
    return std::strcmp(error.what(), expected.c_str()) == 0;
}

inline std::string AsText(const uint8_t* data, size_t size) {
    return std::string(reinterpret_cast<const char*>(data), size);
}

// No character of code 0 to 32 at either end.
inline bool IsTrimmed(std::string_view text) {
    auto isControl = [](char c) { return static_cast<unsigned char>(c) <= 32; };
    return text.empty() || (!isControl(text.front()) && !isControl(text.back()));
}

// The parts between the commas; n commas give n + 1 parts.
inline std::vector<std::string> SplitAtCommas(std::string_view text) {
    std::vector<std::string> parts;
    for (;;) {
        const size_t comma = text.find(',');
        parts.emplace_back(text.substr(0, comma));
        if (comma == std::string_view::npos)
            return parts;
        text.remove_prefix(comma + 1);
    }
}

// The parts from index `first` on, joined again with their commas.
inline std::string JoinFrom(const std::vector<std::string>& parts, size_t first) {
    std::string joined;
    for (size_t i = first; i < parts.size(); ++i)
        joined += (i > first ? "," : "") + parts[i];
    return joined;
}

} // namespace fuzz
