#pragma once
// Error kinds that travel up to the window's error box.

#include <stdexcept>
#include <string>

// A text that does not convert to a number; the message names the text.
class EConvertError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// A settings write that the system refused.
class EWriteError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};
