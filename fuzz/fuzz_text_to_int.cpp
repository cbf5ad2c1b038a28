// The integer conversion: never crashes, throws only EConvertError naming the text, agrees with
// its non-throwing twin, and a converted value written back in decimal converts to itself.

#include "common/Errors.h"
#include "common/TextUtil.h"
#include "fuzz/FuzzSupport.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string text = fuzz::AsText(data, size);
    int32_t tried = 0;
    const bool converts = TryTextToInt(text, tried);
    try {
        const int32_t value = TextToInt(text);
        fuzz::Check(converts, "TextToInt converts a text TryTextToInt refuses");
        fuzz::Check(value == tried, "TextToInt and TryTextToInt give different values");
    } catch (const EConvertError& error) {
        fuzz::Check(!converts, "TextToInt refuses a text TryTextToInt converts");
        fuzz::Check(fuzz::MessageIs(error, "'" + text + "' is not a valid integer value"),
                    "the conversion error does not name the text");
    }
    if (converts)
        fuzz::Check(TextToInt(std::to_string(tried)) == tried,
                    "a value written back in decimal converts to another value");
    return 0;
}
