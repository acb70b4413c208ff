// A decoded bitmap as a BMP, PNG or PPM file. The blocks come from a plug-in, so nothing in
// them is trusted until checked: they must describe a 24-bit bottom-up BI_RGB bitmap whose
// pixel block holds exactly its rows.
#include <ctype.h>
#include <string.h>

#include "host/picture_formats.h"

namespace {

constexpr size_t kInfoHeaderBytes = 40;
constexpr size_t kFileHeaderBytes = 14;

void PutU32(uint32_t value, std::vector<unsigned char>* out) {
  for (int shift = 0; shift < 32; shift += 8)
    out->push_back(static_cast<unsigned char>(value >> shift));
}

struct Layout {
  uint32_t width, height;
  size_t stride;
};

bool CheckBlocks(const DecodedBitmap& bitmap, Layout* layout, std::string* why) {
  const unsigned char* header = bitmap.header;
  if (header == nullptr) return Refuse(why, "the plug-in returned no bitmap header");
  const int32_t width = int32_t(LittleU32(header + 4)), height = int32_t(LittleU32(header + 8));
  if (LittleU32(header) != kInfoHeaderBytes || LittleU16(header + 12) != 1 ||
      LittleU16(header + 14) != 24 || LittleU32(header + 16) != 0) {
    return Refuse(why, "the plug-in's bitmap is not the 24-bit uncompressed kind it must return");
  }
  if (width < 0 || height < 0 || uint32_t(width) > kMaxPictureSide ||
      uint32_t(height) > kMaxPictureSide) {
    return Refuse(why, "the plug-in's bitmap has impossible dimensions " + std::to_string(width) +
                           " x " + std::to_string(height));
  }
  layout->width = uint32_t(width);
  layout->height = uint32_t(height);
  layout->stride = (size_t(layout->width) * 3 + 3) / 4 * 4;
  const size_t expected = layout->stride * layout->height;
  if (bitmap.pixelBytes != expected || (bitmap.pixels == nullptr && expected != 0)) {
    return Refuse(why, "the plug-in's pixel block is " + Thousands(bitmap.pixelBytes) +
                           " bytes; a " + std::to_string(width) + " x " + std::to_string(height) +
                           " bitmap needs " + Thousands(expected));
  }
  return true;
}

void WriteBmp(const DecodedBitmap& bitmap, std::vector<unsigned char>* file) {
  const size_t headers = kFileHeaderBytes + kInfoHeaderBytes;
  file->assign({'B', 'M'});
  PutU32(static_cast<uint32_t>(headers + bitmap.pixelBytes), file);
  PutU32(0, file);  // reserved
  PutU32(static_cast<uint32_t>(headers), file);
  file->insert(file->end(), bitmap.header, bitmap.header + kInfoHeaderBytes);
  file->insert(file->end(), bitmap.pixels, bitmap.pixels + bitmap.pixelBytes);
}

// Top row first, red-green-blue, unpadded: what PPM and PNG want.
std::vector<unsigned char> RgbRows(const DecodedBitmap& bitmap, const Layout& layout) {
  std::vector<unsigned char> rgb(size_t(layout.width) * layout.height * 3);
  unsigned char* out = rgb.data();
  for (uint32_t y = 0; y < layout.height; ++y) {
    const unsigned char* bgr = bitmap.pixels + (layout.height - 1 - y) * layout.stride;
    for (uint32_t x = 0; x < layout.width; ++x, bgr += 3, out += 3) {
      out[0] = bgr[2], out[1] = bgr[1], out[2] = bgr[0];
    }
  }
  return rgb;
}

}  // namespace

bool EncodeBitmap(const DecodedBitmap& bitmap, ImageFormat format, std::vector<unsigned char>* file,
                  std::string* why) {
  Layout layout;
  if (!CheckBlocks(bitmap, &layout, why)) return false;
  switch (format) {
    case ImageFormat::kBmp:
      WriteBmp(bitmap, file);
      return true;
    case ImageFormat::kPpm: {
      const std::string header =
          "P6\n" + std::to_string(layout.width) + " " + std::to_string(layout.height) + "\n255\n";
      std::vector<unsigned char> rgb = RgbRows(bitmap, layout);
      file->assign(header.begin(), header.end());
      file->insert(file->end(), rgb.begin(), rgb.end());
      return true;
    }
    case ImageFormat::kPng:
      if (!PngAvailable(why)) return false;
      if (layout.width == 0 || layout.height == 0) {
        return Refuse(why, "a PNG cannot hold a picture of no pixels (" +
                               std::to_string(layout.width) + " x " +
                               std::to_string(layout.height) + "); write BMP or PPM instead");
      }
      return EncodePng(RgbRows(bitmap, layout).data(), layout.width, layout.height, file, why);
  }
  return Refuse(why, "unknown output format");
}

bool FormatForWord(const std::string& word, ImageFormat* format) {
  std::string lower = word;
  for (char& c : lower) c = static_cast<char>(tolower(static_cast<unsigned char>(c)));
  if (lower == "bmp") {
    *format = ImageFormat::kBmp;
  } else if (lower == "png") {
    *format = ImageFormat::kPng;
  } else if (lower == "ppm" || lower == "pnm") {
    *format = ImageFormat::kPpm;
  } else {
    return false;
  }
  return true;
}

bool FormatForName(const std::string& name, ImageFormat* format) {
  const size_t slash = name.find_last_of("/\\");
  const size_t dot = name.find_last_of('.');
  if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return false;
  return FormatForWord(name.substr(dot + 1), format);
}

const char* FormatWord(ImageFormat format) {
  switch (format) {
    case ImageFormat::kBmp:
      return "bmp";
    case ImageFormat::kPng:
      return "png";
    case ImageFormat::kPpm:
      return "ppm";
  }
  return "bmp";
}
