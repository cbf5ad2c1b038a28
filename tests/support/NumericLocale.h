#pragma once
// Switches the C and C++ numeric formatting of the process to another locale for a test.

#include <locale>
#include <string>
#include <vector>

namespace testsupport {

// Names under which a locale with a decimal comma may be installed.
inline const std::vector<std::string> kCommaLocaleNames = {"de_DE.UTF-8", "de_DE.utf8", "de_DE",
                                                           "fr_FR.UTF-8"};

// Takes the first of the named locales that is installed and whose decimal mark is the one given,
// and restores the previous ones when destroyed. Inactive when none of them is installed.
class NumericLocale {
public:
    NumericLocale(const std::vector<std::string>& names, char decimalMark);
    ~NumericLocale();
    NumericLocale(const NumericLocale&) = delete;
    NumericLocale& operator=(const NumericLocale&) = delete;

    bool active() const { return !name_.empty(); }
    // The name of the locale taken, empty when inactive.
    const std::string& name() const { return name_; }

private:
    std::string previousC_;
    std::locale previousCpp_;
    std::string name_;
};

} // namespace testsupport
