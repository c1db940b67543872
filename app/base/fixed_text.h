#pragma once
// FixedText<N>: a text field of at most N bytes plus a terminating zero, as the
// records of the system keep them. Longer values are cut at N bytes.
#include <array>
#include <cstddef>
#include <cstring>
#include <string>
#include <string_view>

namespace velmo {

template <size_t N>
class FixedText {
 public:
  static constexpr size_t kCapacity = N;
  FixedText() { bytes_.fill(0); }
  FixedText(std::string_view s) { Assign(s); }  // NOLINT: implicit by design
  FixedText& operator=(std::string_view s) { Assign(s); return *this; }

  // Copies at most N bytes of s; the rest of the field is zero.
  void Assign(std::string_view s) {
    bytes_.fill(0);
    const size_t n = s.size() < N ? s.size() : N;
    if (n) std::memcpy(bytes_.data(), s.data(), n);
  }
  // Copies at most N bytes, stopping at the first NUL like a C string copy.
  void AssignCString(const char* p, size_t maxBytes) {
    size_t n = 0;
    while (n < maxBytes && n < N && p[n] != 0) ++n;
    Assign(std::string_view(p, n));
  }
  void Clear() { bytes_.fill(0); }

  const char* c_str() const { return bytes_.data(); }
  char* data() { return bytes_.data(); }
  size_t size() const { return std::strlen(bytes_.data()); }
  bool empty() const { return bytes_[0] == 0; }
  std::string_view view() const { return std::string_view(bytes_.data(), size()); }
  std::string str() const { return std::string(view()); }
  bool operator==(const FixedText& o) const { return view() == o.view(); }
  bool operator==(std::string_view o) const { return view() == o; }
  bool StartsWith(std::string_view p) const { return view().substr(0, p.size()) == p; }

 private:
  std::array<char, N + 1> bytes_;
};

}  // namespace velmo
