// GetPicture: the whole road of one decode.
//
// Header checks come first; then the two output blocks, the row buffer and (in file mode) the
// file are acquired in that order and released in reverse on every failure, so each failure
// leaves exactly what it found. The picture streams one row at a time from the file or the
// host's memory, through the row buffer, straight into its bottom-up row of the pixel block.
#include <stdlib.h>
#include <string.h>

#include "format/convert_row.h"
#include "format/qlm_bitmap.h"
#include "format/qlm_header.h"
#include "plugin/spi_exports.h"
#include "winapi/winapi.h"

namespace {

// What one decode holds; each member is null (or INVALID_HANDLE_VALUE) until acquired.
struct Decode {
  HLOCAL infoHandle;
  HLOCAL pixelHandle;
  unsigned char* info;    // non-null while the information block is locked
  unsigned char* pixels;  // non-null while the pixel block is locked
  unsigned char* rowBuffer;
  HANDLE file;
};

// Releases what the call holds for itself: the row buffer, the pixel block's lock, the
// information block's lock, then the file, the order the interface describes for completion and
// cancellation. On 0 and 1 the host keeps the blocks, unlocked; on any other result they are
// freed and the host's variables reset to null, so a host that frees them regardless does no
// harm.
int Finish(Decode* decode, int result, HLOCAL* infoHandleOut, HLOCAL* pixelHandleOut) {
  free(decode->rowBuffer);
  if (decode->pixels != nullptr) LocalUnlock(decode->pixelHandle);
  if (decode->info != nullptr) LocalUnlock(decode->infoHandle);
  if (decode->file != INVALID_HANDLE_VALUE) CloseHandle(decode->file);
  if (result == kSpiOk || result == kSpiCancelled) return result;
  // Failures come after the information block was allocated; the pixel block may not have been.
  if (decode->pixelHandle != nullptr) LocalFree(decode->pixelHandle);
  LocalFree(decode->infoHandle);
  *infoHandleOut = nullptr;
  *pixelHandleOut = nullptr;
  return result;
}

// Checks the whole file size, high part included (a file of 4 GiB + n bytes is not one of n
// bytes), and leaves the position at the first pixel word.
bool SeekToPixels(HANDLE file, int32_t fileSize) {
  LONG high = 0;
  DWORD low = SetFilePointer(file, 0, &high, FILE_END);
  if (high != 0 || low != static_cast<DWORD>(fileSize)) return false;
  return SetFilePointer(file, kQlmHeaderLength, nullptr, FILE_BEGIN) ==
         static_cast<DWORD>(kQlmHeaderLength);
}

// A read that fails or comes up short (the file shrank after the size check) ends the decode:
// the host must never be handed rows that were not read.
bool ReadRow(HANDLE file, unsigned char* row, int32_t rowBytes) {
  DWORD got = 0;
  BOOL read = ReadFile(file, row, static_cast<DWORD>(rowBytes), &got, nullptr);
  return read != FALSE && got == static_cast<DWORD>(rowBytes);
}

}  // namespace

extern "C" int WINAPI GetPicture(char* source, long length, unsigned int flags,
                                 HLOCAL* infoHandleOut, HLOCAL* pixelHandleOut,
                                 ProgressCallback progress, long lData) {
  if (source == nullptr || infoHandleOut == nullptr || pixelHandleOut == nullptr) {
    return kSpiNotQlm;
  }
  // Until the blocks are handed over the host holds no handle of ours, even after a failure.
  *infoHandleOut = nullptr;
  *pixelHandleOut = nullptr;
  const bool memory = IsMemoryMode(flags);
  QlmDimensions size;
  if (memory) {
    // Never read a header the host's buffer does not hold.
    if (length < kQlmHeaderLength) return kSpiNotQlm;
    if (ProbeHeader(nullptr, reinterpret_cast<unsigned char*>(source), &size) <= 0) {
      return kSpiNotQlm;
    }
    if (length != QlmFileSize(size)) return kSpiNotQlm;
  } else if (ProbeHeader(source, nullptr, &size) <= 0) {
    return kSpiNotQlm;
  }
  const int32_t stride = Stride(size.width);
  const int32_t rowBytes = 2 * size.width;

  Decode decode = {nullptr, nullptr, nullptr, nullptr, nullptr, INVALID_HANDLE_VALUE};
  decode.infoHandle = LocalAlloc(LMEM_MOVEABLE | LMEM_ZEROINIT, kBitmapInfoSize);
  if (decode.infoHandle == nullptr) return kSpiOutOfMemory;
  *infoHandleOut = decode.infoHandle;
  const SIZE_T pixelBytes = static_cast<SIZE_T>(stride) * static_cast<SIZE_T>(size.height);
  decode.pixelHandle = LocalAlloc(LMEM_MOVEABLE | LMEM_ZEROINIT, pixelBytes);
  if (decode.pixelHandle == nullptr) {
    return Finish(&decode, kSpiOutOfMemory, infoHandleOut, pixelHandleOut);
  }
  *pixelHandleOut = decode.pixelHandle;

  // A failed lock is a memory shortage. An empty pixel block locks to null on Windows; that is
  // not a failure, and nothing is ever written through it.
  decode.info = static_cast<unsigned char*>(LocalLock(decode.infoHandle));
  if (decode.info == nullptr) {
    return Finish(&decode, kSpiOutOfMemory, infoHandleOut, pixelHandleOut);
  }
  decode.pixels = static_cast<unsigned char*>(LocalLock(decode.pixelHandle));
  if (decode.pixels == nullptr && pixelBytes != 0) {
    return Finish(&decode, kSpiOutOfMemory, infoHandleOut, pixelHandleOut);
  }
  // malloc(0) may answer null; a picture of width 0 still gets a real (1-byte) buffer.
  decode.rowBuffer =
      static_cast<unsigned char*>(malloc(rowBytes > 0 ? static_cast<size_t>(rowBytes) : 1));
  if (decode.rowBuffer == nullptr) {
    return Finish(&decode, kSpiOutOfMemory, infoHandleOut, pixelHandleOut);
  }
  FillBitmapInfo(decode.info, size.width, size.height);

  const unsigned char* cursor = reinterpret_cast<unsigned char*>(source) + kQlmHeaderLength;
  if (!memory) {
    decode.file = OpenQlmFile(source);
    if (decode.file == INVALID_HANDLE_VALUE) {
      return Finish(&decode, kSpiCannotOpen, infoHandleOut, pixelHandleOut);
    }
    if (!SeekToPixels(decode.file, QlmFileSize(size))) {
      return Finish(&decode, kSpiNotQlm, infoHandleOut, pixelHandleOut);
    }
  }

  for (int32_t row = 0; row < size.height; ++row) {
    if (memory) {
      memcpy(decode.rowBuffer, cursor, static_cast<size_t>(rowBytes));
      cursor += rowBytes;
    } else if (!ReadRow(decode.file, decode.rowBuffer, rowBytes)) {
      return Finish(&decode, kSpiNotQlm, infoHandleOut, pixelHandleOut);
    }
    ConvertRow(decode.rowBuffer, size.width, RowAddress(decode.pixels, size.height, stride, row));
    if (progress != nullptr && progress(row, size.height, lData) != 0) {
      return Finish(&decode, kSpiCancelled, infoHandleOut, pixelHandleOut);
    }
  }
  return Finish(&decode, kSpiOk, infoHandleOut, pixelHandleOut);
}
