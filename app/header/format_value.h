#pragma once
// The short value texts the image-information overlay writes over a pane: dates with
// an optional Japanese era, ages with Japanese units, person names by the configured
// priorities, decimal strings without trailing zeros, numbers of binary VRs, and
// words for sex, laterality and frame rate.
#include <string>
#include <string_view>

#include "base/log.h"
#include "dicom/dicom_image.h"
#include "header/dictionary.h"

namespace velmo {

struct FormatSettings {
  bool japaneseEra = false;       // "画像情報" "年号" is "和暦"
  std::string nameKeywords[3];    // "患者名" "１位".."３位" as "IR 6", "IR 87", "IR 13" or ""
};

// Appends the value text of element (group, element) of `image` to *out. The texts
// are four upper-case hexadecimal digits. Returns false, leaving *out unchanged, when
// there is no loaded image, when `blocked` (the right pane shows MPR or MIP), when
// the element is absent, or when a date gives no date.
bool FormatTagValue(const DicomImage* image, bool blocked, const Dictionaries& dict, const FormatSettings& settings,
                    std::string_view group, std::string_view element, std::string* out,
                    const Log& log = Log::Null());

// Pieces of the rules, exposed for the tests and the header list.
// DS values cleaned and joined with two spaces.
std::string FormatDecimalStrings(std::string_view raw);
// AS "012Y" -> "12 才"; another unit letter leaves the value unchanged.
std::string FormatAge(std::string_view raw);
// DA of 8 or 10 characters; false when it gives no date (other lengths, D = 0).
bool FormatDate(std::string_view raw, bool japaneseEra, std::string* out);

}  // namespace velmo
