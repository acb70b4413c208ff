#include "host/files.h"

ReadResult ReadAll(Input* input, uint64_t limit, std::vector<unsigned char>* bytes,
                   std::string* why, const HeadCheck& check) {
  bytes->clear();
  if (input->regular && input->size > limit) return ReadResult::kTooLarge;
  if (input->regular && !RewindInput(input)) {
    *why = LastSystemError();
    return ReadResult::kFailed;
  }
  size_t want = static_cast<size_t>(limit) + 1;
  if (input->regular) {
    // Read at its size, and one byte more shows it grew since.
    size_t count = static_cast<size_t>(input->size) + 1 < want ? size_t(input->size) + 1 : want;
    bytes->resize(count);
    size_t got = 0;
    if (!ReadInput(input, bytes->data(), count, &got)) {
      *why = LastSystemError();
      bytes->clear();
      return ReadResult::kFailed;
    }
    bytes->resize(got);
    return got > limit ? ReadResult::kTooLarge : ReadResult::kRead;
  }
  // A stream in blocks: a short one takes little memory, a long one is never copied while it
  // grows, as one growing buffer would be (its old and new copies held at once).
  const size_t kBlock = size_t(1) << 20;
  std::vector<std::vector<unsigned char>> blocks;
  size_t total = 0;
  bool ended = false;
  while (!ended && total < want) {
    size_t count = want - total < kBlock ? want - total : kBlock;
    blocks.emplace_back(count);
    size_t got = 0;
    if (!ReadInput(input, blocks.back().data(), count, &got)) {
      *why = LastSystemError();
      return ReadResult::kFailed;
    }
    blocks.back().resize(got);
    total += got;
    ended = got < count;
    if (blocks.size() == 1 && check && !check(blocks[0].data(), got, ended, why)) {
      return ReadResult::kRefused;
    }
  }
  if (total > limit) {
    // The first bytes stay, for what a caller says of them.
    bytes->swap(blocks[0]);
    return ReadResult::kTooLarge;
  }
  // Each block is freed once copied, so the two together stay near the stream's size.
  bytes->reserve(total);
  for (std::vector<unsigned char>& block : blocks) {
    bytes->insert(bytes->end(), block.begin(), block.end());
    std::vector<unsigned char>().swap(block);
  }
  return ReadResult::kRead;
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
