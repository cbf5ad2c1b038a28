#pragma once
// Small text helpers shared by the settings, log and protocol code.

#include <cstdint>
#include <string>
#include <string_view>

#include "platform/Platform.h"

// Drops every character of code 0 to 32 from both ends.
std::string TrimControl(std::string_view text);

// True when the texts are the same but for the letter case of ASCII letters.
bool SameIgnoringCase(std::string_view a, std::string_view b);

// The value of a hexadecimal digit of either case, or -1.
int HexDigitValue(char c);

// Whole-number conversion: leading blanks, an optional sign, then decimal digits or hexadecimal
// digits after "$", "x", "X", "0x" or "0X"; nothing may follow; the value must fit 32 bits signed.
// Throws EConvertError "'<text>' is not a valid integer value".
int32_t TextToInt(const std::string& text);

// Same rule without throwing.
bool TryTextToInt(const std::string& text, int32_t& value);

// "2026-12-11T14:03:28.512+08:00": local time, milliseconds, offset from UTC.
std::string IsoLocalTime(const platform::LocalDateTime& time);

// Bytes off the wire as UTF-8, one character per byte as the window shows them; control
// characters become U+FFFD, which every spreadsheet and JSON reader can show.
std::string WireBytesToUtf8(std::string_view bytes);
