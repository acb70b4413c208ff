// Tiny picture files made in the tests, written from the formats' descriptions and nothing of
// the code under test: PNG (stored deflate blocks, our own CRC and Adler sums, Adam7 if asked),
// BMP with any header size, and the expected 16-bit samples of what they hold. No test
// framework here, so the Windows checks use it too.
#ifndef SPIQLM_TESTS_PICTURE_FIXTURES_H
#define SPIQLM_TESTS_PICTURE_FIXTURES_H

#include <stdint.h>
#include <string.h>

#include <string>
#include <vector>

namespace fixture {

using Bytes = std::vector<unsigned char>;

inline void Put32Be(uint32_t value, Bytes* out) {
  for (int shift = 24; shift >= 0; shift -= 8) out->push_back(uint8_t(value >> shift));
}

inline void Put32Le(uint32_t value, Bytes* out) {
  for (int shift = 0; shift < 32; shift += 8) out->push_back(uint8_t(value >> shift));
}

inline void Put16Le(uint32_t value, Bytes* out) {
  out->push_back(uint8_t(value));
  out->push_back(uint8_t(value >> 8));
}

inline uint32_t Crc32(const unsigned char* bytes, size_t size) {
  uint32_t crc = 0xFFFFFFFFu;
  for (size_t i = 0; i < size; ++i) {
    crc ^= bytes[i];
    for (int bit = 0; bit < 8; ++bit) crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
  }
  return ~crc;
}

inline Bytes Chunk(const char* type, const Bytes& data) {
  Bytes chunk;
  Put32Be(uint32_t(data.size()), &chunk);
  chunk.insert(chunk.end(), type, type + 4);
  chunk.insert(chunk.end(), data.begin(), data.end());
  Put32Be(Crc32(chunk.data() + 4, chunk.size() - 4), &chunk);
  return chunk;
}

// A zlib stream of stored (uncompressed) blocks.
inline Bytes StoredZlib(const Bytes& raw) {
  Bytes out = {0x78, 0x01};
  size_t at = 0;
  do {
    const size_t length = raw.size() - at < 65535 ? raw.size() - at : 65535;
    out.push_back(at + length == raw.size() ? 1 : 0);
    Put16Le(uint32_t(length), &out);
    Put16Le(uint32_t(~length & 0xFFFF), &out);
    out.insert(out.end(), raw.begin() + long(at), raw.begin() + long(at + length));
    at += length;
  } while (at < raw.size());
  uint32_t a = 1, b = 0;
  for (unsigned char byte : raw) a = (a + byte) % 65521, b = (b + a) % 65521;
  Put32Be(b << 16 | a, &out);
  return out;
}

inline int Channels(int colorType) {
  return colorType == 2 ? 3 : colorType == 4 ? 2 : colorType == 6 ? 4 : 1;
}

// Filter-0 scanlines of the pixels of `samples` (channels per pixel, row-major) in the given
// columns and rows, packed at `depth` bits, 16-bit samples big-endian.
inline Bytes Scanlines(const std::vector<uint32_t>& samples, uint32_t width, int depth,
                       int channels, uint32_t x0, uint32_t dx, uint32_t y0, uint32_t dy,
                       uint32_t height) {
  Bytes raw;
  for (uint32_t y = y0; y < height; y += dy) {
    if (x0 >= width) break;
    raw.push_back(0);
    uint32_t bits = 0, filled = 0;
    for (uint32_t x = x0; x < width; x += dx) {
      for (int c = 0; c < channels; ++c) {
        const uint32_t value = samples[(size_t(y) * width + x) * size_t(channels) + size_t(c)];
        if (depth == 16) {
          raw.push_back(uint8_t(value >> 8));
          raw.push_back(uint8_t(value));
        } else if (depth == 8) {
          raw.push_back(uint8_t(value));
        } else {
          bits = bits << depth | value, filled += uint32_t(depth);
          if (filled == 8) raw.push_back(uint8_t(bits)), bits = filled = 0;
        }
      }
    }
    if (filled != 0) raw.push_back(uint8_t(bits << (8 - filled)));
  }
  return raw;
}

// A PNG of `samples`; `beforeData` holds chunks such as PLTE and tRNS.
inline Bytes Png(uint32_t width, uint32_t height, int depth, int colorType,
                 const std::vector<uint32_t>& samples, const Bytes& beforeData = Bytes(),
                 bool interlaced = false) {
  Bytes png = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
  Bytes ihdr;
  Put32Be(width, &ihdr);
  Put32Be(height, &ihdr);
  ihdr.insert(ihdr.end(), {uint8_t(depth), uint8_t(colorType), 0, 0, uint8_t(interlaced)});
  Bytes chunk = Chunk("IHDR", ihdr);
  png.insert(png.end(), chunk.begin(), chunk.end());
  png.insert(png.end(), beforeData.begin(), beforeData.end());
  const int channels = Channels(colorType);
  Bytes raw;
  if (!interlaced) {
    raw = Scanlines(samples, width, depth, channels, 0, 1, 0, 1, height);
  } else {
    const uint32_t passes[7][4] = {{0, 8, 0, 8}, {4, 8, 0, 8}, {0, 4, 4, 8}, {2, 4, 0, 4},
                                   {0, 2, 2, 4}, {1, 2, 0, 2}, {0, 1, 1, 2}};
    for (const auto& p : passes) {
      Bytes pass = Scanlines(samples, width, depth, channels, p[0], p[1], p[2], p[3], height);
      raw.insert(raw.end(), pass.begin(), pass.end());
    }
  }
  chunk = Chunk("IDAT", StoredZlib(raw));
  png.insert(png.end(), chunk.begin(), chunk.end());
  chunk = Chunk("IEND", Bytes());
  png.insert(png.end(), chunk.begin(), chunk.end());
  return png;
}

struct BmpFields {
  uint32_t headerSize = 40;
  int32_t width = 0, height = 0;  // height < 0: top row first
  uint32_t bits = 24, compression = 0, colorsUsed = 0;
  Bytes palette;                // as stored: 4 bytes an entry (3 with a 12-byte header)
  std::vector<uint32_t> masks;  // written after the header, or inside it when it is larger
  std::vector<Bytes> rows;      // as stored, first row first, without padding
};

inline Bytes Bmp(const BmpFields& fields) {
  Bytes header;
  Put32Le(fields.headerSize, &header);
  if (fields.headerSize == 12) {
    Put16Le(uint32_t(fields.width), &header);
    Put16Le(uint32_t(fields.height), &header);
    Put16Le(1, &header);
    Put16Le(fields.bits, &header);
  } else {
    Put32Le(uint32_t(fields.width), &header);
    Put32Le(uint32_t(fields.height), &header);
    Put16Le(1, &header);
    Put16Le(fields.bits, &header);
    Put32Le(fields.compression, &header);
    for (uint32_t field : {0u, 2835u, 2835u, fields.colorsUsed, 0u}) Put32Le(field, &header);
    for (uint32_t mask : fields.masks) Put32Le(mask, &header);
    header.resize(fields.headerSize > header.size() ? fields.headerSize : header.size(), 0);
  }
  Bytes pixels;
  for (const Bytes& row : fields.rows) {
    pixels.insert(pixels.end(), row.begin(), row.end());
    pixels.resize((pixels.size() + 3) / 4 * 4, 0);
  }
  Bytes file = {'B', 'M'};
  const uint32_t offset = uint32_t(14 + header.size() + fields.palette.size());
  Put32Le(uint32_t(offset + pixels.size()), &file);
  Put32Le(0, &file);
  Put32Le(offset, &file);
  file.insert(file.end(), header.begin(), header.end());
  file.insert(file.end(), fields.palette.begin(), fields.palette.end());
  file.insert(file.end(), pixels.begin(), pixels.end());
  return file;
}

inline Bytes Text(const std::string& text) {
  return Bytes(text.begin(), text.end());
}

}  // namespace fixture

#endif  // SPIQLM_TESTS_PICTURE_FIXTURES_H
