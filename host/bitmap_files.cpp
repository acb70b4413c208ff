#include "host/bitmap_files.h"

#include <errno.h>
#include <stdint.h>
#include <stdio.h>
#include <string.h>

#ifdef _WIN32
#include <process.h>
#define getpid _getpid
#else
#include <unistd.h>
#endif

namespace {

uint32_t ReadU32LittleEndian(const unsigned char* at) {
  return uint32_t(at[0]) | uint32_t(at[1]) << 8 | uint32_t(at[2]) << 16 | uint32_t(at[3]) << 24;
}

void PutU32LittleEndian(std::vector<unsigned char>* out, uint32_t value) {
  for (int shift = 0; shift < 32; shift += 8)
    out->push_back(static_cast<unsigned char>(value >> shift));
}

// Writes `parts` one after another to a temporary file, then renames it to `path`.
bool WriteAtomically(const std::string& path,
                     const std::vector<std::pair<const unsigned char*, size_t>>& parts,
                     std::string* why) {
  std::string temporary = path + ".partial-" + std::to_string(getpid());
  FILE* file = fopen(temporary.c_str(), "wb");
  if (file == nullptr) {
    *why = strerror(errno);
    return false;
  }
  bool ok = true;
  for (const auto& part : parts) {
    if (part.second != 0 && fwrite(part.first, 1, part.second, file) != part.second) ok = false;
  }
  if (fclose(file) != 0) ok = false;
  if (!ok) {
    *why = strerror(errno);
    remove(temporary.c_str());
    return false;
  }
#ifdef _WIN32
  remove(path.c_str());  // rename does not replace on Windows
#endif
  if (rename(temporary.c_str(), path.c_str()) != 0) {
    *why = strerror(errno);
    remove(temporary.c_str());
    return false;
  }
  return true;
}

bool ReadBmp(const std::vector<unsigned char>& file, RgbPicture* picture, std::string* why) {
  if (file.size() < 54) {
    *why = "truncated BMP header";
    return false;
  }
  const uint32_t offset = ReadU32LittleEndian(&file[10]);
  const int32_t width = static_cast<int32_t>(ReadU32LittleEndian(&file[18]));
  const int32_t height = static_cast<int32_t>(ReadU32LittleEndian(&file[22]));
  const unsigned bitCount = static_cast<unsigned>(file[28] | file[29] << 8);
  const uint32_t compression = ReadU32LittleEndian(&file[30]);
  if (ReadU32LittleEndian(&file[14]) < 40 || bitCount != 24 || compression != 0) {
    *why = "only uncompressed 24-bit BMP pictures are read";
    return false;
  }
  // Dimensions above 65535 are refused before any size is computed from them.
  const int64_t rows = height < 0 ? -int64_t(height) : height;
  if (width < 0 || width > 65535 || rows > 65535) {
    *why = "BMP dimensions out of range";
    return false;
  }
  const int64_t stride = (int64_t(width) * 3 + 3) / 4 * 4;
  if (int64_t(offset) + stride * rows > int64_t(file.size())) {
    *why = "truncated BMP pixel data";
    return false;
  }
  picture->width = width;
  picture->height = static_cast<int>(rows);
  picture->rgb.resize(size_t(width) * size_t(rows) * 3);
  for (int64_t y = 0; y < rows; ++y) {
    // Positive heights store the bottom row first.
    int64_t stored = height < 0 ? y : rows - 1 - y;
    const unsigned char* bgr = &file[size_t(offset + stored * stride)];
    unsigned char* rgb = &picture->rgb[size_t(y * width * 3)];
    for (int32_t x = 0; x < width; ++x) {
      rgb[3 * x + 0] = bgr[3 * x + 2];
      rgb[3 * x + 1] = bgr[3 * x + 1];
      rgb[3 * x + 2] = bgr[3 * x + 0];
    }
  }
  return true;
}

// Reads one PPM header number, skipping white space and comments.
bool PpmNumber(const std::vector<unsigned char>& file, size_t* at, long* value) {
  while (*at < file.size()) {
    unsigned char c = file[*at];
    if (c == '#') {
      while (*at < file.size() && file[*at] != '\n') ++*at;
    } else if (c == ' ' || c == '\t' || c == '\n' || c == '\r') {
      ++*at;
    } else {
      break;
    }
  }
  long number = 0;
  size_t digits = 0;
  while (*at < file.size() && file[*at] >= '0' && file[*at] <= '9' && number < 1000000) {
    number = number * 10 + (file[*at] - '0');
    ++*at;
    ++digits;
  }
  *value = number;
  return digits > 0;
}

bool ReadPpm(const std::vector<unsigned char>& file, RgbPicture* picture, std::string* why) {
  size_t at = 2;
  long width, height, maxval;
  if (!PpmNumber(file, &at, &width) || !PpmNumber(file, &at, &height) ||
      !PpmNumber(file, &at, &maxval) || at >= file.size()) {
    *why = "malformed PPM header";
    return false;
  }
  ++at;  // the single white space before the samples
  if (maxval < 1 || maxval > 255) {
    *why = "only PPM pictures with at most 8 bits a sample are read";
    return false;
  }
  if (width > 65535 || height > 65535) {
    *why = "PPM dimensions out of range";
    return false;
  }
  const size_t samples = size_t(width) * size_t(height) * 3;
  if (file.size() - at < samples) {
    *why = "truncated PPM pixel data";
    return false;
  }
  picture->width = int(width);
  picture->height = int(height);
  picture->rgb.resize(samples);
  for (size_t i = 0; i < samples; ++i) {
    picture->rgb[i] = static_cast<unsigned char>((file[at + i] * 255 + maxval / 2) / maxval);
  }
  return true;
}

}  // namespace

bool ReadWholeFile(const std::string& path, size_t maxBytes, std::vector<unsigned char>* bytes) {
  bytes->clear();
  FILE* file = fopen(path.c_str(), "rb");
  if (file == nullptr) return false;
  unsigned char chunk[65536];
  bool ok = true;
  while (maxBytes == 0 || bytes->size() < maxBytes) {
    size_t want = sizeof chunk;
    if (maxBytes != 0 && maxBytes - bytes->size() < want) want = maxBytes - bytes->size();
    size_t got = fread(chunk, 1, want, file);
    bytes->insert(bytes->end(), chunk, chunk + got);
    if (got < want) {
      ok = ferror(file) == 0;
      break;
    }
  }
  fclose(file);
  return ok;
}

bool WriteBmpFile(const std::string& path, const unsigned char* header, const unsigned char* pixels,
                  size_t pixelBytes, std::string* why) {
  const uint32_t headersSize = 14 + 40;
  std::vector<unsigned char> fileHeader = {'B', 'M'};
  PutU32LittleEndian(&fileHeader, static_cast<uint32_t>(headersSize + pixelBytes));
  PutU32LittleEndian(&fileHeader, 0);  // reserved
  PutU32LittleEndian(&fileHeader, headersSize);
  return WriteAtomically(
      path, {{fileHeader.data(), fileHeader.size()}, {header, 40}, {pixels, pixelBytes}}, why);
}

bool ReadRgbPicture(const std::string& path, RgbPicture* picture, std::string* why) {
  std::vector<unsigned char> file;
  if (!ReadWholeFile(path, 0, &file)) {
    *why = "cannot read file";
    return false;
  }
  if (file.size() >= 2 && file[0] == 'B' && file[1] == 'M') return ReadBmp(file, picture, why);
  if (file.size() >= 2 && file[0] == 'P' && file[1] == '6') return ReadPpm(file, picture, why);
  *why = "not a 24-bit BMP or binary PPM (P6) picture";
  return false;
}

bool WriteQlmFile(const std::string& path, const RgbPicture& picture, std::string* why) {
  std::vector<unsigned char> bytes = {
      static_cast<unsigned char>(picture.width >> 8), static_cast<unsigned char>(picture.width),
      static_cast<unsigned char>(picture.height >> 8), static_cast<unsigned char>(picture.height)};
  bytes.reserve(4 + picture.rgb.size() / 3 * 2);
  for (size_t i = 0; i + 2 < picture.rgb.size(); i += 3) {
    uint32_t red = picture.rgb[i] >> 3, green = picture.rgb[i + 1] >> 3,
             blue = picture.rgb[i + 2] >> 3;
    uint32_t word = green << 11 | red << 6 | blue << 1;
    bytes.push_back(static_cast<unsigned char>(word >> 8));
    bytes.push_back(static_cast<unsigned char>(word));
  }
  return WriteAtomically(path, {{bytes.data(), bytes.size()}}, why);
}
