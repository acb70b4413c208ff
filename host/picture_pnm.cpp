// The PNM reader: bitmaps (P1 plain, P4 raw), gray maps (P2, P5) and pixel maps (P3, P6), with
// any maxval from 1 to 65535; raw samples of a maxval above 255 take two bytes, big-endian.
//
//   "P6", whitespace, width, height, maxval (none in a bitmap), each a decimal number after
//   whitespace, with "#" comments to the end of a line; then one whitespace byte and the
//   samples, top row first. Plain formats write each sample as a decimal number instead.
//
// Only the first picture of a file is read.
#include "host/picture_formats.h"

namespace {

struct PnmHeader {
  const char* name;  // PBM, PGM or PPM
  bool plain, bitmap;
  uint32_t channels;
  uint32_t width, height, maxValue;
  size_t dataAt;
};

bool IsSpace(unsigned char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f';
}

bool IsDigit(unsigned char c) {
  return c >= '0' && c <= '9';
}

void SkipSpaceAndComments(const unsigned char* bytes, size_t size, size_t* at) {
  while (*at < size) {
    if (bytes[*at] == '#') {
      while (*at < size && bytes[*at] != '\n' && bytes[*at] != '\r') ++*at;
    } else if (IsSpace(bytes[*at])) {
      ++*at;
    } else {
      return;
    }
  }
}

// A decimal number at `*at`; values past 2^32 are kept at 2^32, which every check refuses.
bool ReadNumber(const unsigned char* bytes, size_t size, size_t* at, uint64_t* value) {
  if (*at >= size || !IsDigit(bytes[*at])) return false;
  uint64_t number = 0;
  for (; *at < size && IsDigit(bytes[*at]); ++*at) {
    number = number * 10 + (bytes[*at] - '0');
    if (number > 0xFFFFFFFFu) number = uint64_t(1) << 32;
  }
  *value = number;
  return true;
}

bool ReadHeader(const unsigned char* bytes, size_t size, PnmHeader* header, std::string* why) {
  const int kind = bytes[1] - '0';  // 1 to 6
  header->name = kind % 3 == 1 ? "PBM" : kind % 3 == 2 ? "PGM" : "PPM";
  header->plain = kind <= 3;
  header->bitmap = kind % 3 == 1;
  header->channels = kind % 3 == 0 ? 3 : 1;
  const std::string name = header->name;
  size_t at = 2;
  if (at < size && !IsSpace(bytes[at]) && bytes[at] != '#') {
    return Refuse(why, "malformed " + name + " header: no space after its magic number");
  }
  const char* fields[] = {"width", "height", "maxval"};
  uint64_t values[3] = {0, 0, 1};
  for (int field = 0; field < (header->bitmap ? 2 : 3); ++field) {
    SkipSpaceAndComments(bytes, size, &at);
    if (!ReadNumber(bytes, size, &at, &values[field])) {
      return Refuse(
          why, at >= size
                   ? "truncated " + name + " header: the " + fields[field] + " is missing"
                   : "malformed " + name + " header: its " + fields[field] + " is not a number");
    }
  }
  if (values[2] < 1 || values[2] > 65535) {
    return Refuse(why, name + " maxval " + Thousands(values[2]) + " is out of range (1 to 65535)");
  }
  if (!CheckPictureSize(header->name, values[0], values[1], why)) return false;
  // One whitespace byte ends the header; a plain format's numbers may be spaced as they like.
  if (at >= size || !IsSpace(bytes[at])) {
    return Refuse(why, at >= size
                           ? "truncated " + name + " data: no samples follow the header"
                           : "malformed " + name + " header: no space after its last number");
  }
  header->width = uint32_t(values[0]);
  header->height = uint32_t(values[1]);
  header->maxValue = uint32_t(values[2]);
  header->dataAt = at + 1;
  return true;
}

// Stores the `index`th sample of the picture, in file order.
void Place(const PnmHeader& header, size_t index, uint32_t value, Picture* picture) {
  if (header.channels == 3) {
    picture->rgb[index] = WidenSample(value, header.maxValue);
    return;
  }
  // A bitmap's 1 is black.
  uint16_t level = header.bitmap ? (value != 0 ? 0 : 65535) : WidenSample(value, header.maxValue);
  picture->rgb[3 * index] = picture->rgb[3 * index + 1] = picture->rgb[3 * index + 2] = level;
}

bool TooLarge(const PnmHeader& header, uint64_t value, std::string* why) {
  if (value <= header.maxValue) return false;
  *why = std::string(header.name) + " sample " + Thousands(value) + " exceeds its maxval " +
         Thousands(header.maxValue);
  return true;
}

bool ReadRaw(const unsigned char* bytes, size_t size, const PnmHeader& header, Picture* picture,
             std::string* why) {
  const uint64_t pixels = uint64_t(header.width) * header.height;
  const uint64_t rowBytes =
      header.bitmap ? (uint64_t(header.width) + 7) / 8
                    : uint64_t(header.width) * header.channels * (header.maxValue > 255 ? 2 : 1);
  const uint64_t wanted = rowBytes * header.height;
  const uint64_t present = size - header.dataAt;
  if (present < wanted) {
    return Refuse(why, "truncated " + std::string(header.name) + " pixel data: " +
                           Thousands(present) + " of " + Thousands(wanted) + " bytes");
  }
  StartPicture(header.width, header.height, picture);
  const unsigned char* data = bytes + header.dataAt;
  if (header.bitmap) {
    for (uint64_t i = 0; i < pixels; ++i) {
      const uint64_t x = i % header.width, y = i / header.width;
      Place(header, size_t(i), (data[y * rowBytes + x / 8] >> (7 - x % 8)) & 1u, picture);
    }
    return true;
  }
  const uint64_t samples = pixels * header.channels;
  const bool wide = header.maxValue > 255;
  for (uint64_t i = 0; i < samples; ++i) {
    const uint32_t value = wide ? uint32_t(data[2 * i]) << 8 | data[2 * i + 1] : data[i];
    if (TooLarge(header, value, why)) return false;
    Place(header, size_t(i), value, picture);
  }
  return true;
}

bool ReadPlain(const unsigned char* bytes, size_t size, const PnmHeader& header, Picture* picture,
               std::string* why) {
  const uint64_t samples = uint64_t(header.width) * header.height * header.channels;
  const std::string name = header.name;
  // Every sample takes at least one byte, so what is kept never outgrows the file.
  std::vector<uint32_t> values;
  values.reserve(size_t(samples < size ? samples : size));
  size_t at = header.dataAt;
  while (values.size() < samples) {
    SkipSpaceAndComments(bytes, size, &at);
    if (at >= size) break;
    uint64_t value = 0;
    if (header.bitmap && (bytes[at] == '0' || bytes[at] == '1')) {
      value = bytes[at++] - '0';  // a bitmap's digits need no spaces between them
    } else if (header.bitmap || !ReadNumber(bytes, size, &at, &value)) {
      return Refuse(why, name + " data has a byte " + std::to_string(bytes[at]) +
                             " where a sample should be");
    }
    if (TooLarge(header, value, why)) return false;
    values.push_back(uint32_t(value));
  }
  if (values.size() < samples) {
    return Refuse(why, "truncated " + name + " data: " + Thousands(values.size()) + " of " +
                           Thousands(samples) + " samples");
  }
  StartPicture(header.width, header.height, picture);
  for (size_t i = 0; i < values.size(); ++i) Place(header, i, values[i], picture);
  return true;
}

}  // namespace

bool ReadPnm(const unsigned char* bytes, size_t size, Picture* picture, std::string* why) {
  PnmHeader header;
  if (!ReadHeader(bytes, size, &header, why)) return false;
  bool read = header.plain ? ReadPlain(bytes, size, header, picture, why)
                           : ReadRaw(bytes, size, header, picture, why);
  if (!read) *picture = Picture();
  return read;
}
