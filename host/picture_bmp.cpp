// The BMP reader: uncompressed pictures of 1, 4 or 8 bits with a palette, and of 16, 24 or 32
// bits, with the default channel layout or plain bit-field masks; bottom-up or top-down; behind
// any of the usual header sizes. A fourth channel (32 bits, an alpha mask) is not used, as
// viewers do not use it.
//
//   0   "BM", file size (4 bytes, unused), 4 reserved bytes, offset of the pixels (4)
//   14  header size (4): 12 for the oldest (16-bit sizes, 3-byte palette entries), 40 and up
//       for the rest: width, height (negative: top row first), planes, bits a pixel,
//       compression, and after 40 bytes the red, green, blue masks
//   then the palette, then at the offset the rows, each padded to 4 bytes
#include "host/picture_formats.h"

namespace {

constexpr uint32_t kBiRgb = 0, kBiRle8 = 1, kBiRle4 = 2, kBiBitfields = 3, kBiAlphaBitfields = 6;
constexpr size_t kFileHeaderBytes = 14;
constexpr size_t kMasksAt = 54;  // after a 40-byte header, or inside a larger one

struct BmpLayout {
  uint32_t width, height;
  bool topDown;
  uint32_t bits;
  uint32_t masks[3];  // red, green, blue, for 16 and 32 bits
  size_t paletteAt, paletteEntries, entryBytes;
  size_t pixelsAt;
  uint64_t stride;
};

bool KnownHeaderSize(uint32_t size) {
  for (uint32_t known : {12u, 40u, 52u, 56u, 64u, 108u, 124u})
    if (size == known) return true;
  return false;
}

// A mask we take is one run of set bits, at most 16 of them, inside the pixel.
bool PlainMask(uint32_t mask, uint32_t bits) {
  if (mask == 0 || (bits < 32 && mask >> bits != 0)) return false;
  uint32_t low = mask & (~mask + 1);
  uint32_t run = mask / low;
  return (run & (run + 1)) == 0 && run <= 0xFFFF;
}

bool ReadMasks(const unsigned char* bytes, size_t size, uint32_t compression, BmpLayout* layout,
               std::string* why) {
  if (compression == kBiRgb) {
    bool fiveBits = layout->bits == 16;
    layout->masks[0] = fiveBits ? 0x7C00 : 0xFF0000;
    layout->masks[1] = fiveBits ? 0x03E0 : 0x00FF00;
    layout->masks[2] = fiveBits ? 0x001F : 0x0000FF;
    return true;
  }
  if (layout->bits != 16 && layout->bits != 32) {
    return Refuse(
        why, "BMP bit-field masks need 16 or 32 bits a pixel, not " + std::to_string(layout->bits));
  }
  if (size < kMasksAt + 12) return Refuse(why, "truncated BMP header: its color masks are missing");
  for (int channel = 0; channel < 3; ++channel) {
    layout->masks[channel] = LittleU32(bytes + kMasksAt + 4 * channel);
    if (!PlainMask(layout->masks[channel], layout->bits)) {
      return Refuse(why, "BMP color masks must each be one run of at most 16 set bits");
    }
  }
  return true;
}

bool ReadLayout(const unsigned char* bytes, size_t size, BmpLayout* layout, std::string* why) {
  if (size < kFileHeaderBytes + 4) {
    return Refuse(why, "truncated BMP header: " + Thousands(size) + " bytes");
  }
  const uint32_t headerSize = LittleU32(bytes + 14);
  if (!KnownHeaderSize(headerSize)) {
    return Refuse(why, "BMP header of " + Thousands(headerSize) +
                           " bytes is not one of the usual sizes (12, 40, 52, 56, 64, 108, 124)");
  }
  if (size < kFileHeaderBytes + headerSize) {
    return Refuse(why, "truncated BMP header: " + Thousands(size) + " of " +
                           Thousands(kFileHeaderBytes + headerSize) + " bytes");
  }
  int64_t width, height;
  uint32_t compression = kBiRgb;
  if (headerSize == 12) {
    width = LittleU16(bytes + 18);
    height = LittleU16(bytes + 20);
    layout->bits = LittleU16(bytes + 24);
    layout->entryBytes = 3;
  } else {
    width = int32_t(LittleU32(bytes + 18));
    height = int32_t(LittleU32(bytes + 22));
    layout->bits = LittleU16(bytes + 28);
    compression = LittleU32(bytes + 30);
    layout->entryBytes = 4;
  }
  if (compression == kBiRle8 || compression == kBiRle4) {
    return Refuse(why, "BMP is RLE-compressed, which is not read; save it uncompressed");
  }
  if (headerSize == 64 && compression == kBiBitfields) {
    return Refuse(why, "BMP uses OS/2 Huffman compression, which is not read");
  }
  if (compression != kBiRgb && compression != kBiBitfields && compression != kBiAlphaBitfields) {
    return Refuse(why, "BMP compression " + std::to_string(compression) +
                           " is not read; uncompressed pictures are");
  }
  const uint32_t bits = layout->bits;
  if (bits != 1 && bits != 4 && bits != 8 && bits != 16 && bits != 24 && bits != 32) {
    return Refuse(why, "BMP of " + std::to_string(bits) +
                           " bits a pixel is not read; 1, 4, 8, 16, 24 and 32 are");
  }
  if (width < 0) return Refuse(why, "BMP width " + std::to_string(width) + " is negative");
  layout->topDown = height < 0;
  if (height < 0) height = -height;
  if (!CheckPictureSize("BMP", uint64_t(width), uint64_t(height), why)) return false;
  layout->width = uint32_t(width);
  layout->height = uint32_t(height);
  if ((bits == 16 || bits == 32 || compression != kBiRgb) &&
      !ReadMasks(bytes, size, compression, layout, why)) {
    return false;
  }

  layout->paletteAt = kFileHeaderBytes + headerSize;
  if (headerSize == 40 && compression == kBiBitfields) layout->paletteAt += 12;
  if (headerSize == 40 && compression == kBiAlphaBitfields) layout->paletteAt += 16;
  layout->paletteEntries = 0;
  if (bits <= 8) {
    uint32_t used = headerSize == 12 ? 0 : LittleU32(bytes + 46);
    layout->paletteEntries = used == 0 || used > (1u << bits) ? size_t(1) << bits : used;
  }
  layout->pixelsAt = LittleU32(bytes + 10);
  // The oldest header has no count: its palette fills the room before the pixels.
  if (headerSize == 12 && layout->pixelsAt > layout->paletteAt) {
    size_t room = (layout->pixelsAt - layout->paletteAt) / 3;
    if (room < layout->paletteEntries) layout->paletteEntries = room;
  }
  layout->stride = (uint64_t(layout->width) * bits + 31) / 32 * 4;
  return true;
}

bool CheckExtents(size_t size, const BmpLayout& layout, std::string* why) {
  if (layout.pixelsAt < layout.paletteAt) {
    return Refuse(
        why, "BMP pixel data offset " + Thousands(layout.pixelsAt) + " lies inside its headers");
  }
  size_t paletteBytes = layout.paletteEntries * layout.entryBytes;
  if (layout.paletteAt + paletteBytes > size) {
    size_t present = size > layout.paletteAt ? (size - layout.paletteAt) / layout.entryBytes : 0;
    return Refuse(why, "truncated BMP palette: " + Thousands(present) + " of " +
                           Thousands(layout.paletteEntries) + " colors");
  }
  // At most 32768 x 4 bytes a row and 32768 rows: no overflow in 64 bits.
  const uint64_t wanted = layout.stride * layout.height;
  const uint64_t present = size > layout.pixelsAt ? size - layout.pixelsAt : 0;
  if (present < wanted) {
    return Refuse(why, "truncated BMP pixel data: " + Thousands(present) + " of " +
                           Thousands(wanted) + " bytes");
  }
  return true;
}

uint16_t MaskedSample(uint32_t pixel, uint32_t mask) {
  uint32_t low = mask & (~mask + 1);
  return WidenSample((pixel & mask) / low, mask / low);
}

bool ReadRow(const unsigned char* row, uint32_t y, const BmpLayout& layout,
             const unsigned char* palette, uint16_t* rgb, std::string* why) {
  for (uint32_t x = 0; x < layout.width; ++x, rgb += 3) {
    if (layout.bits <= 8) {
      const uint32_t bit = x * layout.bits;
      const uint32_t index =
          (row[bit / 8] >> (8 - layout.bits - bit % 8)) & ((1u << layout.bits) - 1);
      if (index >= layout.paletteEntries) {
        return Refuse(why, "BMP pixel (" + std::to_string(x) + ", " + std::to_string(y) +
                               ") uses color " + std::to_string(index) + " of a " +
                               std::to_string(layout.paletteEntries) + "-color palette");
      }
      const unsigned char* bgr = palette + index * layout.entryBytes;
      rgb[0] = WidenSample(bgr[2], 255), rgb[1] = WidenSample(bgr[1], 255);
      rgb[2] = WidenSample(bgr[0], 255);
    } else if (layout.bits == 24) {
      const unsigned char* bgr = row + 3 * size_t(x);
      rgb[0] = WidenSample(bgr[2], 255), rgb[1] = WidenSample(bgr[1], 255);
      rgb[2] = WidenSample(bgr[0], 255);
    } else {
      const uint32_t pixel =
          layout.bits == 16 ? LittleU16(row + 2 * size_t(x)) : LittleU32(row + 4 * size_t(x));
      for (int channel = 0; channel < 3; ++channel)
        rgb[channel] = MaskedSample(pixel, layout.masks[channel]);
    }
  }
  return true;
}

}  // namespace

bool ReadBmp(const unsigned char* bytes, size_t size, Picture* picture, std::string* why) {
  BmpLayout layout;
  if (!ReadLayout(bytes, size, &layout, why) || !CheckExtents(size, layout, why)) return false;
  StartPicture(layout.width, layout.height, picture);
  for (uint32_t y = 0; y < layout.height; ++y) {
    const uint32_t stored = layout.topDown ? y : layout.height - 1 - y;
    const unsigned char* row = bytes + layout.pixelsAt + stored * layout.stride;
    uint16_t* rgb = picture->rgb.data() + size_t(y) * layout.width * 3;
    if (!ReadRow(row, y, layout, bytes + layout.paletteAt, rgb, why)) {
      *picture = Picture();
      return false;
    }
  }
  return true;
}
