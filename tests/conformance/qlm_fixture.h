// Test pictures and their expected decodes, computed here from the format's pixel rule and
// never from the module's own functions, so a fault there cannot hide itself.
#ifndef SPIQLM_TESTS_CONFORMANCE_QLM_FIXTURE_H
#define SPIQLM_TESTS_CONFORMANCE_QLM_FIXTURE_H

#include <stdint.h>

#include <sstream>
#include <string>
#include <vector>

namespace fixture {

// The pixel word at column x, row y (0 = top) of a generated width x height picture.
inline uint32_t PatternWord(int x, int y, int width, int height) {
  return static_cast<uint32_t>(x * 40503 + y * 9973 + width * 7 + height * 13) & 0xFFFFu;
}

// A whole QLM file: header, then the pattern's words big-endian.
inline std::vector<unsigned char> MakeQlm(int width, int height) {
  std::vector<unsigned char> bytes = {
      static_cast<unsigned char>(width >> 8), static_cast<unsigned char>(width),
      static_cast<unsigned char>(height >> 8), static_cast<unsigned char>(height)};
  for (int y = 0; y < height && width <= 512 && height <= 512; ++y) {
    for (int x = 0; x < width; ++x) {
      uint32_t word = PatternWord(x, y, width, height);
      bytes.push_back(static_cast<unsigned char>(word >> 8));
      bytes.push_back(static_cast<unsigned char>(word));
    }
  }
  return bytes;
}

inline int StrideOf(int width) {
  return (width * 3 + 3) / 4 * 4;
}

// The 24-bit pixel block a decode of the QLM file `image` gives once it has converted the top
// `rowsDone` rows: bottom-up, blue green red, zero padding, rows not reached left zero.
inline std::vector<unsigned char> ExpectedPixelsOf(const unsigned char* image, int width,
                                                   int height, int rowsDone) {
  const size_t stride = static_cast<size_t>(StrideOf(width));
  std::vector<unsigned char> pixels(stride * static_cast<size_t>(height));
  for (int y = 0; y < rowsDone && !pixels.empty(); ++y) {
    unsigned char* row = pixels.data() + static_cast<size_t>(height - 1 - y) * stride;
    for (int x = 0; x < width; ++x) {
      const unsigned char* at =
          image + 4 +
          2 * (static_cast<size_t>(y) * static_cast<size_t>(width) + static_cast<size_t>(x));
      uint32_t word = static_cast<uint32_t>(at[0] << 8 | at[1]);
      uint32_t green = word >> 11, red = (word >> 6) & 31, blue = (word >> 1) & 31;
      row[3 * x + 0] = static_cast<unsigned char>(blue << 3 | blue >> 2);
      row[3 * x + 1] = static_cast<unsigned char>(green << 3 | green >> 2);
      row[3 * x + 2] = static_cast<unsigned char>(red << 3 | red >> 2);
    }
  }
  return pixels;
}

// The same for the generated width x height picture.
inline std::vector<unsigned char> ExpectedPixels(int width, int height, int rowsDone) {
  return ExpectedPixelsOf(MakeQlm(width, height).data(), width, height, rowsDone);
}

// The 44-byte information block: BITMAPINFOHEADER for a 24-bit bottom-up picture, then zeros.
inline std::vector<unsigned char> ExpectedInfo(int width, int height) {
  std::vector<unsigned char> info(44, 0);
  auto put32 = [&](int at, uint32_t value) {
    for (int i = 0; i < 4; ++i) {
      info[static_cast<size_t>(at + i)] = static_cast<unsigned char>(value >> (8 * i));
    }
  };
  put32(0, 40);
  put32(4, static_cast<uint32_t>(width));
  put32(8, static_cast<uint32_t>(height));
  info[12] = 1;
  info[14] = 24;
  put32(20, static_cast<uint32_t>(StrideOf(width) * height));
  return info;
}

struct Case {
  std::string name;
  std::string mode;  // "file" or "memory"
  int width, height, delta;
  int cancel;  // -1: never
  int picture, info, supported;
};

// Parses the case table; lines starting with '#' and blank lines are skipped.
inline std::vector<Case> ParseCases(const std::string& text) {
  std::vector<Case> cases;
  std::istringstream lines(text);
  std::string line;
  while (std::getline(lines, line)) {
    if (line.empty() || line[0] == '#') continue;
    std::istringstream fields(line);
    Case c;
    std::string cancel;
    if (fields >> c.name >> c.mode >> c.width >> c.height >> c.delta >> cancel >> c.picture >>
        c.info >> c.supported) {
      c.cancel = cancel == "-" ? -1 : std::stoi(cancel);
      cases.push_back(c);
    }
  }
  return cases;
}

}  // namespace fixture

#endif  // SPIQLM_TESTS_CONFORMANCE_QLM_FIXTURE_H
