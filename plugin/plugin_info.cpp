// GetPluginInfo, IsSupported and GetPreview: how the host lists the plug-in and picks it.
#include <string.h>

#include "format/qlm_header.h"
#include "plugin/spi_exports.h"

namespace {

constexpr int kInfoCount = 4;
// Index 0: interface version and kind (an import filter); 1: the plug-in's name; then one
// pattern and name pair per format, and there is one format.
const char* const kInfoTexts[kInfoCount] = {"00IN", "Quillmere to DIB filter", "*.QLM",
                                            "Quillmere"};

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
  const char* text = kInfoTexts[infoNo];
  strncpy(buffer, text, static_cast<size_t>(bufferLength));
  // A text that does not fit arrives cut to bufferLength bytes, without a terminator.
  const size_t length = strlen(text);
  return length < static_cast<size_t>(bufferLength) ? static_cast<int>(length) : bufferLength;
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
