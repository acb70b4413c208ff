// Input and output files of the host: whole inputs read into memory, outputs written to a
// temporary name beside the target and renamed into place, so a failure never leaves a
// half-made file behind.
#ifndef SPIQLM_HOST_FILES_H
#define SPIQLM_HOST_FILES_H

#include <stddef.h>

#include <string>
#include <vector>

// Reads at most `maxBytes` bytes of `path` (0: all of it).
bool ReadWholeFile(const std::string& path, size_t maxBytes, std::vector<unsigned char>* bytes);

// Writes `bytes` as the file `path`; on failure says why and leaves no file behind.
bool WriteFileAtomically(const std::string& path, const std::vector<unsigned char>& bytes,
                         std::string* why);

#endif  // SPIQLM_HOST_FILES_H
