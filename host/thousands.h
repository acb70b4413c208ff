// Numbers in messages as people read sizes: 1234567 as "1,234,567". Header-only, for the host and
// its picture code alike.
#ifndef SPIQLM_HOST_THOUSANDS_H
#define SPIQLM_HOST_THOUSANDS_H

#include <stdint.h>

#include <string>

inline std::string Thousands(uint64_t value) {
  std::string digits = std::to_string(value);
  for (size_t at = digits.size(); at > 3; at -= 3) digits.insert(at - 3, ",");
  return digits;
}

#endif  // SPIQLM_HOST_THOUSANDS_H
