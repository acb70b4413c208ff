#include "host/files.h"

ReadResult ReadAll(Input* input, uint64_t limit, std::vector<unsigned char>* bytes,
                   std::string* why) {
  bytes->clear();
  if (input->regular && input->size > limit) return ReadResult::kTooLarge;
  if (input->regular && !RewindInput(input)) {
    *why = LastSystemError();
    return ReadResult::kFailed;
  }
  // A regular file is read at its size, and one byte more shows it grew since; a stream in
  // steps, so a short one takes little memory, to at most one byte past the limit.
  size_t step = input->regular ? static_cast<size_t>(input->size) + 1 : size_t(1) << 16;
  size_t want = static_cast<size_t>(limit) + 1;
  while (bytes->size() < want) {
    size_t have = bytes->size();
    size_t chunk = want - have < step ? want - have : step;
    bytes->resize(have + chunk);
    size_t got = 0;
    if (!ReadInput(input, bytes->data() + have, chunk, &got)) {
      *why = LastSystemError();
      bytes->clear();
      return ReadResult::kFailed;
    }
    bytes->resize(have + got);
    if (got < chunk || input->regular) break;
  }
  return bytes->size() > limit ? ReadResult::kTooLarge : ReadResult::kRead;
}

bool ReadStart(Input* input, size_t count, std::vector<unsigned char>* bytes, std::string* why) {
  bytes->assign(count, 0);
  size_t got = 0;
  if (!RewindInput(input) || !ReadInput(input, bytes->data(), count, &got)) {
    *why = LastSystemError();
    return false;
  }
  bytes->resize(got);
  return true;
}
