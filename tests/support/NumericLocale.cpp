#include "support/NumericLocale.h"

#include <clocale>

namespace testsupport {

NumericLocale::NumericLocale(const std::vector<std::string>& names, char decimalMark)
    : previousC_(std::setlocale(LC_NUMERIC, nullptr)) {
    for (const std::string& name : names) {
        if (std::setlocale(LC_NUMERIC, name.c_str()) &&
            *std::localeconv()->decimal_point == decimalMark) {
            previousCpp_ = std::locale::global(std::locale(name));
            name_ = name;
            return;
        }
    }
    std::setlocale(LC_NUMERIC, previousC_.c_str());
}

NumericLocale::~NumericLocale() {
    std::setlocale(LC_NUMERIC, previousC_.c_str());
    if (active())
        std::locale::global(previousCpp_);
}

} // namespace testsupport
