// QLM files as the host hands them to the plug-in, and, for one it refuses, what was wrong,
// worked out by the host itself from the header and the size.
#ifndef SPIQLM_HOST_QLM_INPUT_H
#define SPIQLM_HOST_QLM_INPUT_H

#include <stdint.h>

#include <string>
#include <vector>

#include "host/files.h"
#include "host/thousands.h"

// The largest QLM file: the header and 512 x 512 pixel words. Nothing larger is ever read into
// memory or handed to the plug-in, so its 32-bit `length` can hold every size handed to it.
constexpr uint64_t kLargestQlmFile = 4 + 2 * 512 * 512;

// Why a file of `size` bytes that starts with `head` is not a QLM image ("file is 1,000 bytes;
// a 512 x 384 QLM image is 393,220 bytes (truncated)"); empty when it is one.
std::string WhyNotQlm(uint64_t size, const std::vector<unsigned char>& head);

// Why the plug-in gets the file in memory rather than by its name.
enum class InMemory {
  kNo,             // it gets the name
  kAsked,          // --memory
  kStandardInput,  // which has no name
  kStream,         // a FIFO or device, whose bytes can be read once only
  kNameNotAnsi,    // a name the system code page, which the plug-in's names use, cannot hold
};

struct QlmSource {
  Input input;
  bool memory = false;  // the plug-in gets `bytes`, else `moduleName`
  InMemory why = InMemory::kNo;
  std::vector<unsigned char> bytes;  // the whole file, in memory mode
  std::string moduleName;            // the name the plug-in opens, in file mode
  uint64_t size = 0;
  std::string tooLarge;  // why it is not a QLM image, when it is larger than any
};

// Opens a QLM input and makes what the plug-in is handed: its name, or with `memory`, for a
// stream, or for a name the plug-in cannot take, its bytes. Returns 0; or 2 for an input
// larger than any QLM file, with the reason in `tooLarge`, read from the header alone (or a
// stream's first bytes); or prints why and returns 6 for one that cannot be opened or read.
int OpenQlmSource(const std::string& name, bool memory, QlmSource* source);

// What the plug-in's calls take for the source: its name with flag 0, or its bytes, their length
// and flag 1. The length is never cut: nothing larger than kLargestQlmFile is read.
struct PluginArguments {
  char* from;
  long length;
  unsigned flags;
};
PluginArguments ArgumentsFor(QlmSource* source);

// The first `count` bytes, as far as the file has them.
std::vector<unsigned char> HeadOf(QlmSource* source, size_t count);

// What the host sees wrong with the file; empty when header and size agree.
std::string WhyRejected(QlmSource* source);

void CloseQlmSource(QlmSource* source);

#endif  // SPIQLM_HOST_QLM_INPUT_H
