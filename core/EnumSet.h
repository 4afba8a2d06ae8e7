// EnumSet: a set of the values of a small enumeration (at most 32 values, numbered from 0),
// as the flag properties of the mail stack hold them (the TLS versions, the certificate
// checks to ignore).
#pragma once

#include <initializer_list>

namespace kz {

template <class E>
class EnumSet {
 public:
  constexpr EnumSet() = default;
  constexpr EnumSet(std::initializer_list<E> values) {
    for (const E value : values)
      bits_ |= Bit(value);
  }
  constexpr bool Contains(E value) const { return (bits_ & Bit(value)) != 0; }
  constexpr void Include(E value) { bits_ |= Bit(value); }
  constexpr void Exclude(E value) { bits_ &= ~Bit(value); }
  constexpr bool Empty() const { return bits_ == 0; }
  constexpr bool operator==(const EnumSet&) const = default;

 private:
  static constexpr unsigned Bit(E value) { return 1u << static_cast<unsigned>(value); }
  unsigned bits_ = 0;
};

}  // namespace kz
