// Included first in the WebAssembly build: Debian's emscripten ships a C++
// library from before std::bit_cast, while its compiler has the builtin that
// the standard one is made of.
#pragma once
#include <bit>

#if !defined(__cpp_lib_bit_cast)
namespace std {
template <class To, class From>
constexpr To bit_cast(const From& from) noexcept {
  static_assert(sizeof(To) == sizeof(From));
  return __builtin_bit_cast(To, from);
}
}  // namespace std
#endif
