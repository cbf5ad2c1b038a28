// The identity reply and the rated values taken from its model text: the split never fails and
// gives the fields between the commas; ModelRatings throws nothing but EConvertError.

#include <algorithm>
#include <cctype>

#include "common/Errors.h"
#include "common/TextUtil.h"
#include "fuzz/FuzzSupport.h"
#include "protocol/Protocol.h"

namespace {

void CheckSplit(const std::string& reply) {
    const IdentityFields fields = SplitIdentityReply(reply);
    // Fields 1 to 3 are skipped; a field whose comma is missing stays empty and the model takes
    // what is left after the last comma taken.
    const std::vector<std::string> parts = fuzz::SplitAtCommas(TrimControl(reply));
    const size_t commas = parts.size() - 1;
    fuzz::Check(fields.serialNumber == (commas >= 4 ? parts[3] : ""), "wrong serial number");
    fuzz::Check(fields.version == (commas >= 5 ? parts[4] : ""), "wrong version");
    fuzz::Check(fields.model == fuzz::JoinFrom(parts, std::min<size_t>(commas, 5)), "wrong model");
}

void CheckRatings(const std::string& model) {
    try {
        const ModelRating rating = ModelRatings(model);
        const bool endsInA =
            model.size() > 3 && std::toupper(static_cast<unsigned char>(model.back())) == 'A';
        fuzz::Check(rating.singlePreset == endsInA, "single-preset mark is not the final A");
        // The current is at most two characters of a whole number.
        fuzz::Check(rating.ratedCurrent >= -9 && rating.ratedCurrent <= 99,
                    "rated current out of what two characters can hold");
    } catch (const EConvertError&) {
        // A model text without whole numbers where the ratings go; anything else escapes and
        // ends the run.
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string reply = fuzz::AsText(data, size);
    CheckSplit(reply);
    CheckRatings(SplitIdentityReply(reply).model);
    CheckRatings(reply);
    return 0;
}
