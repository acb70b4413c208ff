// PNG through libspng: every color type and bit depth, palettes and tRNS transparency, plain or
// interlaced. Transparent pixels are composited on black; 16-bit samples keep all 16 bits;
// gamma and color-space chunks are not applied (QLM has no notion of them).
#include <stdlib.h>
#include <string.h>

#include <memory>

#include <spng.h>
#include <zlib.h>

#include "host/picture_formats.h"

namespace {

// No chunk this reader needs is larger: image data may come in any number of chunks, and
// text, profiles and other ancillary data are not used.
constexpr size_t kChunkLimit = size_t(64) << 20;
constexpr size_t kCacheLimit = size_t(64) << 20;
struct ContextFree {
  void operator()(spng_ctx* context) const { spng_ctx_free(context); }
};
using Context = std::unique_ptr<spng_ctx, ContextFree>;

// libspng says a CRC failed but not where; people find a chunk's name more useful.
std::string ChunkWithBadCrc(const unsigned char* bytes, size_t size) {
  for (size_t at = 8; size - at >= 12;) {
    const uint32_t length = BigU32(bytes + at);
    if (length > size - at - 12) break;
    const uLong crc = crc32(crc32(0, nullptr, 0), bytes + at + 4, uInt(length) + 4);
    if (crc != BigU32(bytes + at + 8 + length)) return std::string(bytes + at + 4, bytes + at + 8);
    at += size_t(length) + 12;
  }
  return "a critical";
}

bool Fail(int error, const unsigned char* bytes, size_t size, std::string* why) {
  switch (error) {
    case SPNG_ECHUNK_CRC:
      *why = "PNG: CRC error in the " + ChunkWithBadCrc(bytes, size) + " chunk";
      break;
    case SPNG_EUSER_WIDTH:
    case SPNG_EUSER_HEIGHT:
      CheckPictureSize("PNG", BigU32(bytes + 16), BigU32(bytes + 20), why);
      break;
    case SPNG_IO_EOF:
    case SPNG_EOF:
      *why = "truncated PNG: the file ends before the picture does";
      break;
    case SPNG_EIDAT_TOO_SHORT:
      *why = "truncated PNG image data: it ends before the last row";
      break;
    case SPNG_EZLIB:
    case SPNG_EIDAT_STREAM:
      *why = "PNG image data is corrupt: its compressed stream is broken";
      break;
    case SPNG_EFILTER:
      *why = "PNG image data is corrupt: a row has an unknown filter type";
      break;
    case SPNG_ECHUNK_LIMITS:
      *why = "PNG has a chunk larger than the 64 MiB read here";
      break;
    case SPNG_EMEM:
      *why = "out of memory reading the PNG";
      break;
    default:
      *why = std::string("PNG: ") + spng_strerror(error);
  }
  return false;
}

// One decoded row of RGBA samples of 8 or 16 bits, composited on black.
template <typename Sample>
void StoreRow(const Sample* rgba, uint32_t width, uint16_t* rgb) {
  const uint32_t max = sizeof(Sample) == 1 ? 255 : 65535;
  for (uint32_t x = 0; x < width; ++x, rgba += 4, rgb += 3) {
    const uint32_t alpha = rgba[3];
    for (int channel = 0; channel < 3; ++channel) {
      // Each sample widened to 16 bits first, so opaque pixels keep every bit they had.
      const uint64_t wide = uint64_t(rgba[channel]) * (65535 / max);
      rgb[channel] = static_cast<uint16_t>((wide * alpha + max / 2) / max);
    }
  }
}

// A row as spng_decode_row gives it in `format`: RGBA of 8 or of 16 bits.
void StoreDecodedRow(int format, const unsigned char* row, uint32_t width, uint16_t* rgb) {
  if (format == SPNG_FMT_RGBA8) {
    StoreRow(row, width, rgb);
  } else {
    StoreRow(reinterpret_cast<const uint16_t*>(row), width, rgb);
  }
}

}  // namespace

bool ReadPng(const unsigned char* bytes, size_t size, Picture* picture, std::string* why) {
  Context context(spng_ctx_new(0));
  if (!context) return Fail(SPNG_EMEM, bytes, size, why);
  spng_ctx* png = context.get();
  spng_set_image_limits(png, kMaxPictureSide, kMaxPictureSide);
  spng_set_chunk_limits(png, kChunkLimit, kCacheLimit);
  spng_set_png_buffer(png, bytes, size);
  spng_ihdr ihdr;
  if (int error = spng_get_ihdr(png, &ihdr)) return Fail(error, bytes, size, why);
  const int format = ihdr.bit_depth == 16 ? SPNG_FMT_RGBA16 : SPNG_FMT_RGBA8;
  size_t imageBytes = 0;
  if (int error = spng_decoded_image_size(png, format, &imageBytes)) {
    return Fail(error, bytes, size, why);
  }
  if (int error =
          spng_decode_image(png, nullptr, 0, format, SPNG_DECODE_TRNS | SPNG_DECODE_PROGRESSIVE)) {
    return Fail(error, bytes, size, why);
  }
  const size_t rowBytes = imageBytes / ihdr.height;
  // Interlaced rows arrive in seven passes, each filling some pixels of a row: they are
  // gathered in a whole image first.
  const bool interlaced = ihdr.interlace_method != SPNG_INTERLACE_NONE;
  std::vector<uint16_t> decoded((interlaced ? imageBytes : rowBytes) / 2 + 1);
  unsigned char* buffer = reinterpret_cast<unsigned char*>(decoded.data());
  StartPicture(ihdr.width, ihdr.height, picture);
  const size_t rowSamples = size_t(ihdr.width) * 3;
  int error;
  do {
    spng_row_info row;
    if ((error = spng_get_row_info(png, &row)) != 0) break;
    unsigned char* target = interlaced ? buffer + row.row_num * rowBytes : buffer;
    error = spng_decode_row(png, target, rowBytes);
    if ((error == 0 || error == SPNG_EOI) && !interlaced) {
      StoreDecodedRow(format, target, ihdr.width, picture->rgb.data() + row.row_num * rowSamples);
    }
  } while (error == 0);
  // The chunks after the image data, to its end, are read for their checksums.
  if (error == SPNG_EOI) error = spng_decode_chunks(png);
  if (error != 0) {
    *picture = Picture();
    return Fail(error, bytes, size, why);
  }
  for (uint32_t y = 0; interlaced && y < ihdr.height; ++y) {
    StoreDecodedRow(format, buffer + y * rowBytes, ihdr.width,
                    picture->rgb.data() + y * rowSamples);
  }
  return true;
}

bool EncodePng(const unsigned char* rgb, uint32_t width, uint32_t height,
               std::vector<unsigned char>* file, std::string* why) {
  Context context(spng_ctx_new(SPNG_CTX_ENCODER));
  if (!context) return Fail(SPNG_EMEM, nullptr, 0, why);
  spng_ctx* png = context.get();
  spng_set_option(png, SPNG_ENCODE_TO_BUFFER, 1);
  spng_ihdr ihdr = {width, height, 8, SPNG_COLOR_TYPE_TRUECOLOR, 0, 0, SPNG_INTERLACE_NONE};
  int error = spng_set_ihdr(png, &ihdr);
  if (error == 0) {
    error =
        spng_encode_image(png, rgb, size_t(width) * 3 * height, SPNG_FMT_PNG, SPNG_ENCODE_FINALIZE);
  }
  size_t length = 0;
  void* written = error == 0 ? spng_get_png_buffer(png, &length, &error) : nullptr;
  if (written == nullptr) {
    *why = std::string("cannot encode PNG: ") + spng_strerror(error);
    return false;
  }
  const unsigned char* start = static_cast<unsigned char*>(written);
  file->assign(start, start + length);
  free(written);
  return true;
}

bool PngAvailable(std::string* /*why*/) {
  return true;
}
