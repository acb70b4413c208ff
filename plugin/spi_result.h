// Result codes of GetPicture, GetPictureInfo and GetPreview, and the input mode in `flags`.
#ifndef SPIQLM_PLUGIN_SPI_RESULT_H
#define SPIQLM_PLUGIN_SPI_RESULT_H

enum SpiResult {
  kSpiNotProvided = -1,  // GetPreview: the function is not provided
  kSpiOk = 0,
  kSpiCancelled = 1,    // the progress callback asked to stop; the blocks are the host's
  kSpiNotQlm = 2,       // header or size rejected (also: unusable arguments, unreadable data)
  kSpiOutOfMemory = 4,  // an allocation or a lock failed
  kSpiCannotOpen = 6,   // the file could not be opened for decoding
};

// Any of the low three bits of `flags` set: `source` is a whole image in memory and `length`
// is its size. None set: `source` is a file name. The other bits carry nothing for us.
inline bool IsMemoryMode(unsigned int flags) {
  return (flags & 7u) != 0;
}

// A line of text for each code, for hosts and tools; the module itself never prints.
inline const char* SpiResultText(int result) {
  switch (result) {
    case kSpiNotProvided:
      return "function not provided";
    case kSpiOk:
      return "success";
    case kSpiCancelled:
      return "cancelled";
    case kSpiNotQlm:
      return "not a QLM image: header or size rejected";
    case kSpiOutOfMemory:
      return "out of memory";
    case kSpiCannotOpen:
      return "cannot open file";
    default:
      return "unknown result";
  }
}

#endif  // SPIQLM_PLUGIN_SPI_RESULT_H
