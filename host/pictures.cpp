// The first cut of the picture code: 24-bit BMP and P6 PPM in, BMP out, each channel cut to its
// top 5 bits. The readers and writers for the pictures people have replace it.
#include "host/pictures.h"

#include <string.h>

namespace {

uint32_t ReadU32LittleEndian(const unsigned char* at) {
  return uint32_t(at[0]) | uint32_t(at[1]) << 8 | uint32_t(at[2]) << 16 | uint32_t(at[3]) << 24;
}

void PutU32LittleEndian(std::vector<unsigned char>* out, uint32_t value) {
  for (int shift = 0; shift < 32; shift += 8)
    out->push_back(static_cast<unsigned char>(value >> shift));
}

uint16_t Widen8(unsigned value) {
  return static_cast<uint16_t>(value * 257u);
}

bool ReadBmp(const unsigned char* file, size_t size, Picture* picture, std::string* why) {
  if (size < 54) {
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
  const int64_t rows = height < 0 ? -int64_t(height) : height;
  if (width < 0 || width > 65535 || rows > 65535) {
    *why = "BMP dimensions out of range";
    return false;
  }
  const int64_t stride = (int64_t(width) * 3 + 3) / 4 * 4;
  if (int64_t(offset) + stride * rows > int64_t(size)) {
    *why = "truncated BMP pixel data";
    return false;
  }
  picture->width = width;
  picture->height = static_cast<int>(rows);
  picture->rgb.resize(size_t(width) * size_t(rows) * 3);
  for (int64_t y = 0; y < rows; ++y) {
    int64_t stored = height < 0 ? y : rows - 1 - y;
    const unsigned char* bgr = &file[size_t(offset + stored * stride)];
    uint16_t* rgb = &picture->rgb[size_t(y * width * 3)];
    for (int32_t x = 0; x < width; ++x) {
      rgb[3 * x + 0] = Widen8(bgr[3 * x + 2]);
      rgb[3 * x + 1] = Widen8(bgr[3 * x + 1]);
      rgb[3 * x + 2] = Widen8(bgr[3 * x + 0]);
    }
  }
  return true;
}

bool PpmNumber(const unsigned char* file, size_t size, size_t* at, long* value) {
  while (*at < size) {
    unsigned char c = file[*at];
    if (c == '#') {
      while (*at < size && file[*at] != '\n') ++*at;
    } else if (c == ' ' || c == '\t' || c == '\n' || c == '\r') {
      ++*at;
    } else {
      break;
    }
  }
  long number = 0;
  size_t digits = 0;
  while (*at < size && file[*at] >= '0' && file[*at] <= '9' && number < 1000000) {
    number = number * 10 + (file[*at] - '0');
    ++*at;
    ++digits;
  }
  *value = number;
  return digits > 0;
}

bool ReadPpm(const unsigned char* file, size_t size, Picture* picture, std::string* why) {
  size_t at = 2;
  long width, height, maxval;
  if (!PpmNumber(file, size, &at, &width) || !PpmNumber(file, size, &at, &height) ||
      !PpmNumber(file, size, &at, &maxval) || at >= size) {
    *why = "malformed PPM header";
    return false;
  }
  ++at;
  if (maxval < 1 || maxval > 255) {
    *why = "only PPM pictures with at most 8 bits a sample are read";
    return false;
  }
  if (width > 65535 || height > 65535) {
    *why = "PPM dimensions out of range";
    return false;
  }
  const size_t samples = size_t(width) * size_t(height) * 3;
  if (size - at < samples) {
    *why = "truncated PPM pixel data";
    return false;
  }
  picture->width = int(width);
  picture->height = int(height);
  picture->rgb.resize(samples);
  for (size_t i = 0; i < samples; ++i) {
    picture->rgb[i] =
        static_cast<uint16_t>((file[at + i] * 65535u + unsigned(maxval) / 2) / unsigned(maxval));
  }
  return true;
}

}  // namespace

bool ReadPicture(const unsigned char* bytes, size_t size, Picture* picture, std::string* why) {
  if (size >= 2 && bytes[0] == 'B' && bytes[1] == 'M') return ReadBmp(bytes, size, picture, why);
  if (size >= 2 && bytes[0] == 'P' && bytes[1] == '6') return ReadPpm(bytes, size, picture, why);
  *why = "not a 24-bit BMP or binary PPM (P6) picture";
  return false;
}

void FitWithin(int /*maxSide*/, Picture* /*picture*/) {}

std::vector<unsigned char> EncodeQlm(const Picture& picture, bool /*dither*/) {
  std::vector<unsigned char> bytes = {
      static_cast<unsigned char>(picture.width >> 8), static_cast<unsigned char>(picture.width),
      static_cast<unsigned char>(picture.height >> 8), static_cast<unsigned char>(picture.height)};
  for (size_t i = 0; i + 2 < picture.rgb.size(); i += 3) {
    uint32_t red = picture.rgb[i] >> 11u, green = picture.rgb[i + 1] >> 11u,
             blue = picture.rgb[i + 2] >> 11u;
    uint32_t word = green << 11 | red << 6 | blue << 1;
    bytes.push_back(static_cast<unsigned char>(word >> 8));
    bytes.push_back(static_cast<unsigned char>(word));
  }
  return bytes;
}

bool FormatForName(const std::string& /*name*/, ImageFormat* format) {
  *format = ImageFormat::kBmp;
  return true;
}

bool FormatForWord(const std::string& word, ImageFormat* format) {
  *format = ImageFormat::kBmp;
  return word == "bmp";
}

const char* FormatWord(ImageFormat /*format*/) {
  return "bmp";
}

bool PngAvailable(std::string* why) {
  *why = "PNG is not available yet";
  return false;
}

bool EncodeBitmap(const DecodedBitmap& bitmap, ImageFormat format, std::vector<unsigned char>* file,
                  std::string* why) {
  if (format != ImageFormat::kBmp) {
    *why = "only BMP is written";
    return false;
  }
  const uint32_t headersSize = 14 + 40;
  file->assign({'B', 'M'});
  PutU32LittleEndian(file, static_cast<uint32_t>(headersSize + bitmap.pixelBytes));
  PutU32LittleEndian(file, 0);  // reserved
  PutU32LittleEndian(file, headersSize);
  file->insert(file->end(), bitmap.header, bitmap.header + 40);
  file->insert(file->end(), bitmap.pixels, bitmap.pixels + bitmap.pixelBytes);
  return true;
}
