// Decodes on several threads at once give the bytes one thread gives. Each export works from
// the dimensions its own probe read, so overlapping calls cannot mix up their pictures; run
// under ThreadSanitizer this also shows the module shares no unguarded state.

#include <memory>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "host/plugin_loader.h"
#include "tests/conformance/qlm_fixture.h"
#include "tests/scratch_file.h"

namespace {

struct Picture {
  int width, height;
  std::vector<unsigned char> image;
  std::unique_ptr<ScratchFile> file;
  std::vector<unsigned char> pixels;  // what one thread decodes
};

// Decodes one picture; returns the pixel block's bytes, or nothing on failure.
std::vector<unsigned char> Decode(const SpiPlugin& plugin, Picture* picture, bool memory) {
  HLOCAL info = nullptr, pixels = nullptr;
  char* source = memory ? reinterpret_cast<char*>(picture->image.data()) : picture->file->name();
  int result = plugin.GetPicture(source, static_cast<long>(picture->image.size()), memory ? 1 : 0,
                                 &info, &pixels, nullptr, 0);
  std::vector<unsigned char> bytes;
  if (result != 0) return bytes;
  const unsigned char* bits = static_cast<unsigned char*>(plugin.LocalLock(pixels));
  if (bits != nullptr) bytes.assign(bits, bits + plugin.LocalSize(pixels));
  plugin.LocalUnlock(pixels);
  plugin.LocalFree(info);
  plugin.LocalFree(pixels);
  return bytes;
}

TEST(Concurrency, ThreadsDecodingDifferentPicturesGetTheSingleThreadBytes) {
  SpiPlugin plugin;
  std::string error;
  ASSERT_TRUE(LoadPlugin(SPIQLM_MODULE, Lookup::kByName, &plugin, &error)) << error;
  const int shapes[][2] = {{512, 3}, {3, 200}, {97, 61}, {256, 256}, {1, 1}, {0, 9}};
  std::vector<Picture> pictures;
  for (const auto& shape : shapes) {
    Picture picture{shape[0], shape[1], fixture::MakeQlm(shape[0], shape[1]), nullptr, {}};
    picture.file = std::make_unique<ScratchFile>(picture.image);
    pictures.push_back(std::move(picture));
  }
  for (Picture& picture : pictures) {
    picture.pixels = Decode(plugin, &picture, true);
    ASSERT_EQ(picture.pixels,
              fixture::ExpectedPixels(picture.width, picture.height, picture.height));
  }
  const int kThreads = 4, kRounds = 12;
  std::vector<int> mismatches(kThreads, 0);
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      for (int round = 0; round < kRounds; ++round) {
        // Each thread walks the pictures in its own order, by file and from memory in turn.
        Picture& picture = pictures[static_cast<size_t>(t * 5 + round) % pictures.size()];
        bool memory = (t + round) % 2 == 0;
        if (Decode(plugin, &picture, memory) != picture.pixels) ++mismatches[size_t(t)];
        PictureInfo info;
        int result = plugin.GetPictureInfo(picture.file->name(), 0, 0, &info);
        if (result != 0 || info.width != picture.width || info.height != picture.height) {
          ++mismatches[size_t(t)];
        }
        if (plugin.IsSupported(picture.file->name(), 0) != 1) ++mismatches[size_t(t)];
      }
    });
  }
  for (std::thread& thread : threads) thread.join();
  for (int t = 0; t < kThreads; ++t) EXPECT_EQ(mismatches[size_t(t)], 0) << "thread " << t;
  UnloadPlugin(&plugin);
}

}  // namespace
