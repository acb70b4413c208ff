// Benchmarks, each beside its floor in the same process, with the ratio printed at the end.
//
//   spiqlm_bench [--summary=FILE.md] [Google Benchmark flags]
//
// Every benchmark checks its output before it times anything. The figures are medians when
// --benchmark_repetitions is given (scripts/bench.sh gives 5).
#include <benchmark/benchmark.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include <map>
#include <string>
#include <vector>

#include "format/convert_row.h"
#include "plugin/spi_exports.h"
#include "winapi/winapi.h"

namespace {

constexpr int kSide = 512;
constexpr int kRowBytes = 2 * kSide;
constexpr int kStride = 3 * kSide;

std::vector<unsigned char> MakeImage() {
  std::vector<unsigned char> image = {kSide >> 8, kSide & 0xFF, kSide >> 8, kSide & 0xFF};
  uint32_t state = 12345;
  for (int i = 0; i < kSide * kSide; ++i) {
    state = state * 1103515245u + 12345u;
    image.push_back(static_cast<unsigned char>(state >> 24));
    image.push_back(static_cast<unsigned char>(state >> 16));
  }
  return image;
}

const std::vector<unsigned char>& Image() {
  static const std::vector<unsigned char> image = MakeImage();
  return image;
}

const std::string& ImagePath() {
  static const std::string path = [] {
    std::string name = "/tmp/spiqlm-bench-" + std::to_string(getpid()) + ".qlm";
    FILE* file = fopen(name.c_str(), "wb");
    if (file == nullptr || fwrite(Image().data(), 1, Image().size(), file) != Image().size()) {
      fprintf(stderr, "cannot write %s\n", name.c_str());
      exit(1);
    }
    fclose(file);
    return name;
  }();
  return path;
}

// The reference decode: the scalar kernel, row by row, bottom-up.
std::vector<unsigned char> ReferencePixels() {
  std::vector<unsigned char> pixels(static_cast<size_t>(kStride) * kSide);
  for (int row = 0; row < kSide; ++row) {
    ConvertRowScalar(&Image()[4 + static_cast<size_t>(row) * kRowBytes], kSide,
                     &pixels[static_cast<size_t>(kSide - 1 - row) * kStride]);
  }
  return pixels;
}

bool Force(benchmark::State& state, ConvertPath path) {
  if (!ForceConvertPath(path)) {
    state.SkipWithError("this CPU cannot run the path");
    return false;
  }
  return true;
}

void ConvertRowPath(benchmark::State& state, ConvertPath path) {
  if (!Force(state, path)) return;
  std::vector<unsigned char> want(kStride), got(kStride);
  const unsigned char* source = &Image()[4];
  ConvertRowScalar(source, kSide, want.data());
  ConvertRow(source, kSide, got.data());
  if (want != got) {
    state.SkipWithError("output differs from the reference");
    return;
  }
  for (auto _ : state) {
    ConvertRow(source, kSide, got.data());
    benchmark::DoNotOptimize(got.data());
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * kStride);
}

void MemcpyRow(benchmark::State& state) {
  std::vector<unsigned char> source(kStride, 7), destination(kStride);
  for (auto _ : state) {
    memcpy(destination.data(), source.data(), kStride);
    benchmark::DoNotOptimize(destination.data());
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * kStride);
}

// One whole decode; frees the blocks as the host would.
bool Decode(char* source, long length, unsigned int flags, const std::vector<unsigned char>* want) {
  HLOCAL info = nullptr, pixels = nullptr;
  if (GetPicture(source, length, flags, &info, &pixels, nullptr, 0) != 0) return false;
  bool same = true;
  if (want != nullptr) {
    const unsigned char* bits = static_cast<unsigned char*>(LocalLock(pixels));
    same = bits != nullptr && memcmp(bits, want->data(), want->size()) == 0;
    LocalUnlock(pixels);
  }
  LocalFree(info);
  LocalFree(pixels);
  return same;
}

void GetPictureMemory(benchmark::State& state, ConvertPath path) {
  if (!Force(state, path)) return;
  char* source = reinterpret_cast<char*>(const_cast<unsigned char*>(Image().data()));
  const long length = static_cast<long>(Image().size());
  std::vector<unsigned char> want = ReferencePixels();
  if (!Decode(source, length, 1, &want)) {
    state.SkipWithError("decode differs from the reference");
    return;
  }
  for (auto _ : state) benchmark::DoNotOptimize(Decode(source, length, 1, nullptr));
}

void GetPictureFile(benchmark::State& state) {
  ForceConvertPath(kConvertPathUnchosen);
  std::string path = ImagePath();
  std::vector<unsigned char> want = ReferencePixels();
  if (!Decode(&path[0], 0, 0, &want)) {
    state.SkipWithError("decode differs from the reference");
    return;
  }
  for (auto _ : state) benchmark::DoNotOptimize(Decode(&path[0], 0, 0, nullptr));
}

// The memory-mode floor: the two zero-filled blocks, and per row the copy into the row buffer
// and a copy of the output row's bytes into the pixel block.
void FloorMemory(benchmark::State& state) {
  const unsigned char* source = &Image()[4];
  std::vector<unsigned char> outputRow(kStride, 9);
  for (auto _ : state) {
    HLOCAL info = LocalAlloc(LMEM_MOVEABLE | LMEM_ZEROINIT, 44);
    HLOCAL pixels = LocalAlloc(LMEM_MOVEABLE | LMEM_ZEROINIT, size_t(kStride) * kSide);
    unsigned char* infoBits = static_cast<unsigned char*>(LocalLock(info));
    unsigned char* bits = static_cast<unsigned char*>(LocalLock(pixels));
    unsigned char* row = static_cast<unsigned char*>(malloc(kRowBytes));
    for (int y = 0; y < kSide; ++y) {
      memcpy(row, source + y * kRowBytes, kRowBytes);
      benchmark::DoNotOptimize(row);
      memcpy(bits + static_cast<size_t>(kSide - 1 - y) * kStride, outputRow.data(), kStride);
    }
    benchmark::DoNotOptimize(infoBits);
    benchmark::ClobberMemory();
    free(row);
    LocalUnlock(pixels);
    LocalUnlock(info);
    LocalFree(info);
    LocalFree(pixels);
  }
}

HANDLE OpenImage() {
  return CreateFileA(ImagePath().c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                     FILE_ATTRIBUTE_NORMAL, nullptr);
}

// The file-mode floor: open, the decode's 512 reads of one row each, close.
void FloorFile(benchmark::State& state) {
  unsigned char row[kRowBytes];
  for (auto _ : state) {
    HANDLE file = OpenImage();
    SetFilePointer(file, 4, nullptr, FILE_BEGIN);
    DWORD got = 0;
    for (int y = 0; y < kSide; ++y) ReadFile(file, row, kRowBytes, &got, nullptr);
    CloseHandle(file);
    benchmark::DoNotOptimize(row);
  }
}

void IsSupportedByName(benchmark::State& state) {
  std::string path = ImagePath();
  if (IsSupported(&path[0], 0) != 1) state.SkipWithError("not supported");
  for (auto _ : state) benchmark::DoNotOptimize(IsSupported(&path[0], 0));
}

void GetPictureInfoByName(benchmark::State& state) {
  std::string path = ImagePath();
  PictureInfo info;
  if (GetPictureInfo(&path[0], 0, 0, &info) != 0 || info.width != kSide) {
    state.SkipWithError("wrong information");
  }
  for (auto _ : state) benchmark::DoNotOptimize(GetPictureInfo(&path[0], 0, 0, &info));
}

// The probe's floor: open, one 4-byte read, close.
void FloorProbe(benchmark::State& state) {
  unsigned char header[4];
  for (auto _ : state) {
    HANDLE file = OpenImage();
    DWORD got = 0;
    ReadFile(file, header, 4, &got, nullptr);
    CloseHandle(file);
    benchmark::DoNotOptimize(header);
  }
}

struct Comparison {
  const char* name;
  const char* floor;
  const char* what;
};

// Each figure and the floor it is measured against.
const Comparison kComparisons[] = {
    {"ConvertRow/scalar", "MemcpyRow", "ConvertRow, width 512, scalar"},
    {"ConvertRow/sse2", "MemcpyRow", "ConvertRow, width 512, SSE2"},
    {"ConvertRow/ssse3", "MemcpyRow", "ConvertRow, width 512, SSSE3"},
    {"ConvertRow/avx2", "MemcpyRow", "ConvertRow, width 512, AVX2"},
    {"ConvertRow/avx512", "MemcpyRow", "ConvertRow, width 512, AVX-512 VBMI"},
    {"GetPicture/memory/scalar", "Floor/memory", "GetPicture, memory, 512 x 512, scalar"},
    {"GetPicture/memory/sse2", "Floor/memory", "GetPicture, memory, 512 x 512, SSE2"},
    {"GetPicture/memory/ssse3", "Floor/memory", "GetPicture, memory, 512 x 512, SSSE3"},
    {"GetPicture/memory/avx2", "Floor/memory", "GetPicture, memory, 512 x 512, AVX2"},
    {"GetPicture/memory/avx512", "Floor/memory", "GetPicture, memory, 512 x 512, AVX-512 VBMI"},
    {"GetPicture/file/best", "Floor/file", "GetPicture, file, 512 x 512, chosen path"},
    {"IsSupported/name", "Floor/probe", "IsSupported by name"},
    {"GetPictureInfo/name", "Floor/probe", "GetPictureInfo by name"},
};

// Keeps each benchmark's time per iteration (the median where there are repetitions).
class RatioReporter : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    ConsoleReporter::ReportRuns(runs);
    for (const Run& run : runs) {
      if (run.error_occurred || run.iterations == 0) continue;
      if (run.run_type == Run::RT_Aggregate && run.aggregate_name != "median") continue;
      std::string name = run.run_name.function_name;
      if (!run.run_name.args.empty()) name += "/" + run.run_name.args;
      if (run.run_type == Run::RT_Iteration && medians_.count(name) != 0) continue;
      nanoseconds_[name] = run.GetAdjustedRealTime() * Scale(run.time_unit);
      if (run.run_type == Run::RT_Aggregate) medians_[name] = true;
    }
  }

  std::string Table() const {
    std::string table =
        "| measured | time | floor | floor time | ratio |\n| --- | ---: | --- | ---: | ---: |\n";
    for (const Comparison& c : kComparisons) {
      auto figure = nanoseconds_.find(c.name);
      auto floor = nanoseconds_.find(c.floor);
      if (figure == nanoseconds_.end() || floor == nanoseconds_.end()) continue;
      char line[256];
      snprintf(line, sizeof line, "| %s | %s | %s | %s | %.2f |\n", c.what,
               Format(figure->second).c_str(), c.floor, Format(floor->second).c_str(),
               figure->second / floor->second);
      table += line;
    }
    auto best =
        nanoseconds_.find(std::string("GetPicture/memory/") + ConvertPathName(BestConvertPath()));
    auto plain = nanoseconds_.find("GetPicture/memory/scalar");
    if (best != nanoseconds_.end() && plain != nanoseconds_.end()) {
      char line[160];
      snprintf(line, sizeof line,
               "\nGetPicture memory mode, chosen path against scalar: %.1f x faster\n",
               plain->second / best->second);
      table += line;
    }
    return table;
  }

 private:
  static double Scale(benchmark::TimeUnit unit) {
    switch (unit) {
      case benchmark::kSecond:
        return 1e9;
      case benchmark::kMillisecond:
        return 1e6;
      case benchmark::kMicrosecond:
        return 1e3;
      default:
        return 1;
    }
  }
  static std::string Format(double nanoseconds) {
    char text[32];
    if (nanoseconds >= 1e4) {
      snprintf(text, sizeof text, "%.1f us", nanoseconds / 1e3);
    } else {
      snprintf(text, sizeof text, "%.0f ns", nanoseconds);
    }
    return text;
  }

  std::map<std::string, double> nanoseconds_;
  std::map<std::string, bool> medians_;
};

void Register() {
  const ConvertPath paths[] = {kConvertPathScalar, kConvertPathSse2, kConvertPathSsse3,
                               kConvertPathAvx2, kConvertPathAvx512};
  for (ConvertPath path : paths) {
    std::string name = std::string("ConvertRow/") + ConvertPathName(path);
    benchmark::RegisterBenchmark(name.c_str(), ConvertRowPath, path);
  }
  benchmark::RegisterBenchmark("MemcpyRow", MemcpyRow);
  for (ConvertPath path : paths) {
    std::string name = std::string("GetPicture/memory/") + ConvertPathName(path);
    benchmark::RegisterBenchmark(name.c_str(), GetPictureMemory, path)
        ->Unit(benchmark::kMicrosecond);
  }
  benchmark::RegisterBenchmark("Floor/memory", FloorMemory)->Unit(benchmark::kMicrosecond);
  benchmark::RegisterBenchmark("GetPicture/file/best", GetPictureFile)
      ->Unit(benchmark::kMicrosecond);
  benchmark::RegisterBenchmark("Floor/file", FloorFile)->Unit(benchmark::kMicrosecond);
  benchmark::RegisterBenchmark("IsSupported/name", IsSupportedByName);
  benchmark::RegisterBenchmark("GetPictureInfo/name", GetPictureInfoByName);
  benchmark::RegisterBenchmark("Floor/probe", FloorProbe);
}

}  // namespace

int main(int argc, char** argv) {
  std::string summary;
  std::vector<char*> args;
  for (int i = 0; i < argc; ++i) {
    if (strncmp(argv[i], "--summary=", 10) == 0) {
      summary = argv[i] + 10;
    } else {
      args.push_back(argv[i]);
    }
  }
  int count = static_cast<int>(args.size());
  benchmark::Initialize(&count, args.data());
  Register();
  RatioReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  ForceConvertPath(kConvertPathUnchosen);
  std::string table = reporter.Table();
  printf("\nconversion path chosen on this CPU: %s\n\n%s", ConvertPathName(BestConvertPath()),
         table.c_str());
  if (!summary.empty()) {
    FILE* file = fopen(summary.c_str(), "w");
    if (file != nullptr) {
      fprintf(file, "Conversion path chosen on this CPU: %s\n\n%s",
              ConvertPathName(BestConvertPath()), table.c_str());
      fclose(file);
    }
  }
  remove(ImagePath().c_str());
  benchmark::Shutdown();
  return 0;
}
