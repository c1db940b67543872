#pragma once
// Shared pieces of the header suites: the shipped dictionary loaded from the build's
// installation folder, and small dictionaries written from text.
#include <string>

#include "base/log.h"
#include "header/dictionary.h"

namespace velmo::test {

// The dictionary staged into the build's bin/Config (the shipped Tag.csv and VR.csv).
inline const Dictionaries& ShippedDictionaries() {
  static const Dictionaries dict = [] {
    Dictionaries d;
    LoadDictionaries(std::string(VELMO_BIN_DIR) + "/", d, Log::Null(), nullptr);
    return d;
  }();
  return dict;
}

// A dictionary from the given file images (bytes as they stand).
inline Dictionaries MakeDictionaries(std::string tagCsv, std::string vrCsv) {
  Dictionaries d;
  d.tags.bytes = std::move(tagCsv);
  d.vrs.bytes = std::move(vrCsv);
  IndexDictionaries(d);
  return d;
}

}  // namespace velmo::test
