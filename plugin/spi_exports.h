// The five exports of the import-filter plug-in ("00IN") and the records they share with the
// host. The host loads the module, finds these by name or ordinal and calls them one at a time;
// all use the Windows API calling convention (the callee removes the arguments).
//
//   @1 GetPicture      decode a picture into two movable blocks the host then owns
//   @2 GetPreview      not provided: always -1
//   @3 GetPictureInfo  width, height and depth, from the header alone
//   @4 GetPluginInfo   the fixed information strings
//   @5 IsSupported     whether a file is a QLM image
#ifndef SPIQLM_PLUGIN_SPI_EXPORTS_H
#define SPIQLM_PLUGIN_SPI_EXPORTS_H

#include <stddef.h>
#include <stdint.h>

#include "plugin/spi_result.h"
#include "winapi/winapi.h"

#if defined(_WIN32)
#define SPI_EXPORT  // exported through the definition file, with ordinals
#else
#define SPI_EXPORT __attribute__((visibility("default")))
#endif

// Called after each decoded row with (rows done before this one, row count, lData); a non-zero
// result cancels the decode.
typedef int(WINAPI* ProgressCallback)(int numerator, int denominator, long lData);

#pragma pack(push, 1)
struct PictureInfo {
  int32_t left;
  int32_t top;
  int32_t width;
  int32_t height;
  uint16_t x_density;
  uint16_t y_density;
  int16_t colorDepth;
  HLOCAL hInfo;  // text information; this format has none
};
#pragma pack(pop)

static_assert(offsetof(PictureInfo, width) == 8, "host record layout");
static_assert(offsetof(PictureInfo, x_density) == 16, "host record layout");
static_assert(offsetof(PictureInfo, colorDepth) == 20, "host record layout");
static_assert(offsetof(PictureInfo, hInfo) == 22, "host record layout");
static_assert(sizeof(PictureInfo) == 22 + sizeof(void*), "host record layout");

extern "C" {

// Decodes the picture at `source` (a file name, or with a memory mode in `flags` a whole image
// of `length` bytes) into a 44-byte bitmap information block and a pixel block, and stores
// their handles through `infoHandleOut` and `pixelHandleOut`.
// Returns 0, or 1 when `progress` cancelled; in both cases both handles are live, unlocked and
// owned by the host, which frees them with LocalFree. Any other result (2, 4, 6) leaves nothing
// allocated and both variables null (when the pointers themselves are null: nothing written).
SPI_EXPORT int WINAPI GetPicture(char* source, long length, unsigned int flags,
                                 HLOCAL* infoHandleOut, HLOCAL* pixelHandleOut,
                                 ProgressCallback progress, long lData);

// Previews are not provided: returns -1 and touches none of its arguments.
SPI_EXPORT int WINAPI GetPreview(char* source, long length, unsigned int flags,
                                 HLOCAL* infoHandleOut, HLOCAL* pixelHandleOut,
                                 ProgressCallback progress, long lData);

// Fills `*info` from the header alone and returns 0; returns 2 and leaves `*info` untouched
// when the header is rejected or the file cannot be read. Allocates nothing.
SPI_EXPORT int WINAPI GetPictureInfo(char* source, long length, unsigned int flags,
                                     PictureInfo* info);

// Copies information string `infoNo` (0 to 3) into `buffer` as strncpy does and returns its
// length there, at most `bufferLength`. Other indexes give an empty string and 0.
SPI_EXPORT int WINAPI GetPluginInfo(int infoNo, char* buffer, int bufferLength);

// Returns 1 when the file is a QLM image, else 0. A `handleOrHead` with any bit above the low
// 16 set is the address of the file's first bytes; a smaller value is a host file handle,
// which is not used: the file is then opened by name.
SPI_EXPORT int WINAPI IsSupported(char* fileName, uintptr_t handleOrHead);

}  // extern "C"

#endif  // SPIQLM_PLUGIN_SPI_EXPORTS_H
