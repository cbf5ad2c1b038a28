#pragma once
// A locale whose decimal mark is a comma, for tests that numbers keep their ".".

#include <clocale>
#include <locale>
#include <string>

namespace testsupport {

// Switches C and C++ numeric formatting to a locale whose decimal mark is a comma, if one is
// installed, and restores the previous ones.
class CommaLocale {
public:
    CommaLocale() : previousC_(std::setlocale(LC_NUMERIC, nullptr)) {
        for (const char* name : {"de_DE.UTF-8", "de_DE.utf8", "de_DE", "fr_FR.UTF-8"}) {
            if (std::setlocale(LC_NUMERIC, name) && *std::localeconv()->decimal_point == ',') {
                previousCpp_ = std::locale::global(std::locale(name));
                active_ = true;
                return;
            }
        }
        std::setlocale(LC_NUMERIC, previousC_.c_str());
    }
    ~CommaLocale() {
        std::setlocale(LC_NUMERIC, previousC_.c_str());
        if (active_)
            std::locale::global(previousCpp_);
    }
    bool active() const { return active_; }

private:
    std::string previousC_;
    std::locale previousCpp_;
    bool active_ = false;
};

} // namespace testsupport
