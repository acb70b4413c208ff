// One fuzz target for every export. The input is the data, then four control bytes at its end:
//
//   last byte      which entry: GetPicture from memory or a file, GetPictureInfo from memory or
//                  a file, IsSupported by head bytes or by name, GetPluginInfo
//   second last    memory mode: the `length` argument's distance from the data's size (signed);
//                  GetPluginInfo: the buffer length (signed)
//   third last     progress: 0 never cancels, n cancels at row n - 1; GetPluginInfo: the index
//   fourth last    the bits of `flags` above the mode bits
//
// Every call is checked against an independent reading of the data: the result code, the
// blocks' sizes and bytes (which reads every byte of the pixel block, so uninitialised output
// shows up under memory checkers), and that nothing is left behind. A broken invariant aborts.
#include <stddef.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <fcntl.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "plugin/spi_exports.h"
#include "tests/conformance/qlm_fixture.h"
#include "winapi/winapi_testing.h"

namespace {

void Require(bool condition, const char* what) {
  if (condition) return;
  fprintf(stderr, "broken invariant: %s\n", what);
  abort();
}

// In memory-backed /dev/shm where there is one: the file entries write a file every run.
const std::string& ScratchPath() {
  static const std::string path = std::string(access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp") +
                                  "/spiqlm-fuzz-" + std::to_string(getpid()) + ".qlm";
  return path;
}

void WriteScratch(const uint8_t* data, size_t size) {
  int fd = open(ScratchPath().c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
  Require(fd >= 0, "scratch file opens");
  Require(size == 0 || write(fd, data, size) == ssize_t(size), "scratch file written");
  close(fd);
}

struct Header {
  bool present;  // at least 4 bytes
  int width, height;
  bool valid() const { return present && width <= 512 && height <= 512; }
  long exact() const { return 4 + 2L * width * height; }
};

Header ReadHeader(const uint8_t* data, size_t size) {
  if (size < 4) return Header{false, 0, 0};
  return Header{true, data[0] << 8 | data[1], data[2] << 8 | data[3]};
}

int cancel_at;

int WINAPI Progress(int numerator, int denominator, long lData) {
  Require(lData == 0x5EED, "lData passed through");
  Require(denominator > 0 && numerator >= 0 && numerator < denominator, "progress in range");
  return numerator == cancel_at ? 1 : 0;
}

void CheckPicture(char* source, long length, unsigned int flags, const uint8_t* data,
                  const Header& header, bool acceptable, int cancelRow) {
  cancel_at = cancelRow;
  HLOCAL info = reinterpret_cast<HLOCAL>(1), pixels = reinterpret_cast<HLOCAL>(1);
  int result = GetPicture(source, length, flags, &info, &pixels, Progress, 0x5EED);
  int expected = !acceptable ? 2 : (cancelRow >= 0 && cancelRow < header.height ? 1 : 0);
  Require(result == expected, "GetPicture result");
  if (result != 0 && result != 1) {
    Require(info == nullptr && pixels == nullptr, "no handle after a failure");
    return;
  }
  Require(LocalSize(info) == 44, "information block size");
  const size_t stride = size_t(fixture::StrideOf(header.width));
  Require(LocalSize(pixels) == stride * size_t(header.height), "pixel block size");
  const unsigned char* infoBytes = static_cast<unsigned char*>(LocalLock(info));
  std::vector<unsigned char> wantInfo = fixture::ExpectedInfo(header.width, header.height);
  Require(infoBytes != nullptr && memcmp(infoBytes, wantInfo.data(), 44) == 0, "information");
  LocalUnlock(info);
  int rows = result == 0 ? header.height : cancelRow + 1;
  std::vector<unsigned char> want =
      fixture::ExpectedPixelsOf(data, header.width, header.height, rows);
  const unsigned char* bits = static_cast<unsigned char*>(LocalLock(pixels));
  Require(want.empty() ? bits == nullptr : bits != nullptr, "pixel block locks");
  Require(want.empty() || memcmp(bits, want.data(), want.size()) == 0, "pixel bytes");
  LocalUnlock(pixels);
  Require(LocalFree(info) == nullptr && LocalFree(pixels) == nullptr, "blocks free");
}

void CheckPluginInfo(int index, int bufferLength) {
  static const char* const kTexts[] = {"00IN", "Quillmere to DIB filter", "*.QLM", "Quillmere"};
  std::vector<char> buffer(size_t(bufferLength > 0 ? bufferLength : 0));
  int result = GetPluginInfo(index, buffer.empty() ? nullptr : buffer.data(), bufferLength);
  if (bufferLength <= 0 || index < 0 || index > 3) {
    Require(result == 0, "GetPluginInfo gives 0");
    Require(buffer.empty() || buffer[0] == '\0', "empty string");
    return;
  }
  int length = int(strlen(kTexts[index]));
  Require(result == (length < bufferLength ? length : bufferLength), "GetPluginInfo length");
  Require(memcmp(buffer.data(), kTexts[index], size_t(result)) == 0, "GetPluginInfo text");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* input, size_t inputSize) {
  uint8_t control[4] = {0, 0, 0, 0};
  size_t size = inputSize >= 4 ? inputSize - 4 : 0;
  if (inputSize >= 4) memcpy(control, input + size, 4);
  const uint8_t* data = input;
  const int entry = control[3] % 7;
  const int delta = static_cast<int8_t>(control[2]);
  const int cancelRow = int(control[1]) - 1;
  const unsigned int otherFlags = unsigned(control[0]) << 3;
  const Header header = ReadHeader(data, size);
  const long files = WinLiveFiles(), blocks = WinLiveBlocks();

  // The host's memory image: exactly `length` bytes, so a read past it is caught.
  long length = static_cast<long>(size) + delta;
  if (length < 0) length = 0;
  std::vector<uint8_t> image(data, data + (size_t(length) < size ? size_t(length) : size));
  image.resize(size_t(length), 0);
  uint8_t* memory = static_cast<uint8_t*>(malloc(image.empty() ? 1 : image.size()));
  if (!image.empty()) memcpy(memory, image.data(), image.size());
  const Header memoryHeader = ReadHeader(memory, image.size());
  std::string path = ScratchPath();

  switch (entry) {
    case 0:
      CheckPicture(reinterpret_cast<char*>(memory), length, otherFlags | 1, memory, memoryHeader,
                   memoryHeader.valid() && length == memoryHeader.exact(), cancelRow);
      break;
    case 1:
      WriteScratch(data, size);
      CheckPicture(&path[0], length, otherFlags, data, header,
                   header.valid() && long(size) == header.exact(), cancelRow);
      break;
    case 2:
    case 3: {
      PictureInfo info;
      memset(&info, 0xEE, sizeof info);
      int result;
      const Header& seen = entry == 2 ? memoryHeader : header;
      if (entry == 2) {
        result = GetPictureInfo(reinterpret_cast<char*>(memory), length, otherFlags | 2, &info);
      } else {
        WriteScratch(data, size);
        result = GetPictureInfo(&path[0], length, otherFlags, &info);
      }
      Require(result == (seen.valid() ? 0 : 2), "GetPictureInfo result");
      if (result == 0) {
        Require(info.width == seen.width && info.height == seen.height && info.colorDepth == 24 &&
                    info.hInfo == nullptr,
                "PictureInfo fields");
      }
      break;
    }
    case 4: {
      // Hosts pass the file's first 2 KiB.
      std::vector<uint8_t> head(2048, 0);
      memcpy(head.data(), data, size < head.size() ? size : head.size());
      Header headHeader = ReadHeader(head.data(), head.size());
      int result = IsSupported(nullptr, reinterpret_cast<uintptr_t>(head.data()));
      Require(result == (headHeader.valid() ? 1 : 0), "IsSupported by head");
      break;
    }
    case 5:
      WriteScratch(data, size);
      Require(IsSupported(&path[0], control[0]) == (header.valid() ? 1 : 0), "IsSupported by name");
      break;
    default:
      CheckPluginInfo(static_cast<int8_t>(control[1]), delta);
      break;
  }
  free(memory);
  Require(WinLiveFiles() == files && WinLiveBlocks() == blocks, "nothing left behind");
  return 0;
}
