// Which reader a picture goes to, from its first bytes, and what the readers share.
#include <stdio.h>
#include <string.h>

#include "host/picture_formats.h"

namespace {

const unsigned char kPngSignature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};

bool StartsWith(const unsigned char* bytes, size_t size, const char* prefix, size_t length) {
  return size >= length && memcmp(bytes, prefix, length) == 0;
}

// Formats people may hand us that we do not read, so the message can name them.
const char* KnownOtherFormat(const unsigned char* bytes, size_t size) {
  if (StartsWith(bytes, size, "GIF87a", 6) || StartsWith(bytes, size, "GIF89a", 6)) return "GIF";
  if (StartsWith(bytes, size, "\xFF\xD8\xFF", 3)) return "JPEG";
  if (StartsWith(bytes, size, "II*\0", 4) || StartsWith(bytes, size, "MM\0*", 4)) return "TIFF";
  if (size >= 12 && StartsWith(bytes, size, "RIFF", 4) && memcmp(bytes + 8, "WEBP", 4) == 0) {
    return "WebP";
  }
  if (StartsWith(bytes, size, "P7", 2)) return "PAM (P7)";
  if (size >= 4) {
    // A QLM file has no signature; its exact size is the best sign of one.
    uint64_t width = uint64_t(bytes[0]) << 8 | bytes[1];
    uint64_t height = uint64_t(bytes[2]) << 8 | bytes[3];
    if (width <= uint64_t(kQlmMaxSide) && height <= uint64_t(kQlmMaxSide) &&
        size == 4 + 2 * width * height) {
      return "QLM";
    }
  }
  return nullptr;
}

std::string FirstBytes(const unsigned char* bytes, size_t size) {
  if (size == 0) return "the file is empty";
  std::string text = "its first bytes are";
  for (size_t i = 0; i < size && i < 4; ++i) {
    char hex[4];
    snprintf(hex, sizeof hex, " %02X", bytes[i]);
    text += hex;
  }
  return text;
}

enum class Reader { kPng, kBmp, kPnm, kNone };

// The reader a picture's first bytes call for.
Reader ReaderFor(const unsigned char* bytes, size_t size) {
  if (size >= sizeof kPngSignature && memcmp(bytes, kPngSignature, sizeof kPngSignature) == 0) {
    return Reader::kPng;
  }
  if (size >= 2 && bytes[0] == 'B' && bytes[1] == 'M') return Reader::kBmp;
  if (size >= 2 && bytes[0] == 'P' && bytes[1] >= '1' && bytes[1] <= '6') return Reader::kPnm;
  return Reader::kNone;
}

// Why bytes of no format read here are refused.
std::string NotRead(const unsigned char* bytes, size_t size) {
  if (const char* other = KnownOtherFormat(bytes, size)) {
    return std::string("a ") + other + " picture, which is not read here; PNG, BMP and PNM are";
  }
  return "not a PNG, BMP or PNM picture (" + FirstBytes(bytes, size) + ")";
}

}  // namespace

bool ReadPicture(const unsigned char* bytes, size_t size, Picture* picture, std::string* why) {
  *picture = Picture();
  switch (ReaderFor(bytes, size)) {
    case Reader::kPng:
      return CheckPngHeader(bytes, size, why) && ReadPng(bytes, size, picture, why);
    case Reader::kBmp:
      return ReadBmp(bytes, size, picture, why);
    case Reader::kPnm:
      return ReadPnm(bytes, size, picture, why);
    case Reader::kNone:
      break;
  }
  *why = NotRead(bytes, size);
  return false;
}

bool MayBePicture(const unsigned char* bytes, size_t size, bool ended, std::string* why) {
  if (ended || size < sizeof kPngSignature || ReaderFor(bytes, size) != Reader::kNone) return true;
  *why = NotRead(bytes, size);
  return false;
}

bool CheckPictureSize(const char* format, uint64_t width, uint64_t height, std::string* why) {
  if (width <= kMaxPictureSide && height <= kMaxPictureSide &&
      width * height <= kMaxPicturePixels) {
    return true;
  }
  *why = std::string(format) + " picture is " + Thousands(width) + " x " + Thousands(height) +
         "; pictures of at most " + Thousands(kMaxPictureSide) + " pixels a side and " +
         Thousands(kMaxPicturePixels) + " pixels in all are read";
  return false;
}

bool CheckPngHeader(const unsigned char* bytes, size_t size, std::string* why) {
  // Deflate expands at most about 1,032 times.
  const uint64_t kMostInflation = 1100;
  if (size < 33 || memcmp(bytes + 12, "IHDR", 4) != 0) return true;
  const uint64_t width = BigU32(bytes + 16), height = BigU32(bytes + 20);
  if (!CheckPictureSize("PNG", width, height, why)) return false;
  const uint64_t depth = bytes[24];
  if (depth != 1 && depth != 2 && depth != 4 && depth != 8 && depth != 16) return true;
  uint64_t channels;
  switch (bytes[25]) {
    case 0:  // gray
    case 3:  // palette indexes
      channels = 1;
      break;
    case 2:
      channels = 3;
      break;
    case 4:
      channels = 2;
      break;
    case 6:
      channels = 4;
      break;
    default:
      return true;
  }
  // Each row starts with a filter byte.
  const uint64_t rawBytes = height * (1 + (width * depth * channels + 7) / 8);
  if (rawBytes / kMostInflation <= size) return true;
  *why = "truncated PNG: " + Thousands(size) + " bytes cannot hold the image data of a " +
         Thousands(width) + " x " + Thousands(height) + " picture";
  return false;
}

void StartPicture(uint32_t width, uint32_t height, Picture* picture) {
  picture->width = static_cast<int>(width);
  picture->height = static_cast<int>(height);
  picture->rgb.assign(size_t(width) * height * 3, 0);
}
