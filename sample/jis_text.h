// Encodes the sample's Japanese texts for the character set "\ISO 2022 IR 87":
// ASCII stays as it is, runs of Japanese characters are JIS X 0208 bytes
// between ESC $ B and ESC ( B.
#pragma once

#include <string>
#include <string_view>

namespace velmo_sample {

// Converts UTF-8 text made of ASCII and the characters of the sample's own
// table. Throws std::invalid_argument for any other character.
std::string ToIso2022Jp(std::string_view utf8);

}  // namespace velmo_sample
