// GetPluginInfo, IsSupported and GetPreview: how the host lists the plug-in and picks it.
#include <string.h>

#include "format/qlm_header.h"
#include "plugin/spi_exports.h"

namespace {

struct InfoText {
  const char* text;
  int length;  // known here, so the DLL needs no strlen
};

#define SPIQLM_INFO_TEXT(text) \
  { text, sizeof(text) - 1 }

constexpr int kInfoCount = 4;
// Index 0: interface version and kind (an import filter); 1: the plug-in's name; then one
// pattern and name pair per format, and there is one format.
const InfoText kInfoTexts[kInfoCount] = {SPIQLM_INFO_TEXT("00IN"),
                                         SPIQLM_INFO_TEXT("Quillmere to DIB filter"),
                                         SPIQLM_INFO_TEXT("*.QLM"), SPIQLM_INFO_TEXT("Quillmere")};

// Values with any bit above the low 16 are addresses; below that they are host file handles.
constexpr uintptr_t kHandleMask = 0xFFFFu;

}  // namespace

extern "C" int WINAPI GetPluginInfo(int infoNo, char* buffer, int bufferLength) {
  // Nothing is ever written past the buffer, nor to a buffer of no bytes.
  if (buffer == nullptr || bufferLength <= 0) return 0;
  if (static_cast<unsigned int>(infoNo) >= static_cast<unsigned int>(kInfoCount)) {
    buffer[0] = '\0';
    return 0;
  }
  const InfoText& info = kInfoTexts[infoNo];
  strncpy(buffer, info.text, static_cast<size_t>(bufferLength));
  // A text that does not fit arrives cut to bufferLength bytes, without a terminator.
  return info.length < bufferLength ? info.length : bufferLength;
}

extern "C" int WINAPI IsSupported(char* fileName, uintptr_t handleOrHead) {
  const unsigned char* head = nullptr;
  if ((handleOrHead & ~kHandleMask) != 0) head = reinterpret_cast<unsigned char*>(handleOrHead);
  return ProbeHeader(fileName, head, nullptr) > 0 ? 1 : 0;
}

extern "C" int WINAPI GetPreview(char* /*source*/, long /*length*/, unsigned int /*flags*/,
                                 HLOCAL* /*infoHandleOut*/, HLOCAL* /*pixelHandleOut*/,
                                 ProgressCallback /*progress*/, long /*lData*/) {
  return kSpiNotProvided;
}
