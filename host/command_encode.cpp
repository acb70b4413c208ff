// encode: the pictures people have (PNG, BMP, PNM) as QLM files.
#include "host/commands.h"
#include "host/console.h"
#include "host/exit_codes.h"
#include "host/files.h"
#include "host/interrupt.h"
#include "host/pictures.h"
#include "host/qlm_input.h"

namespace {

// The largest picture file encode reads (256 MiB): a 16-bit PPM of 8,000 x 5,000 fits, and
// it bounds what a mistaken input (a disk image, /dev/zero) can take before it is refused.
constexpr uint64_t kLargestPictureFile = uint64_t(256) << 20;

std::string Size(int width, int height) {
  return std::to_string(width) + " x " + std::to_string(height);
}

bool NamedQlm(const std::string& name) {
  std::string extension = ExtensionOf(name);
  for (char& c : extension) c = static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
  return extension.empty() || extension == "qlm";
}

int ReadOrSay(const std::string& name, Picture* picture) {
  Input input;
  std::string why;
  if (!OpenInput(name, &input, &why)) return Fail(kExitCannotOpen, name, why);
  std::vector<unsigned char> bytes;
  ReadResult read = ReadAll(&input, kLargestPictureFile, &bytes, &why, MayBePicture);
  uint64_t size = input.size;
  CloseInput(&input);
  if (read == ReadResult::kFailed) return Fail(kExitCannotOpen, name, "cannot read: " + why);
  if (read == ReadResult::kRefused) return Fail(kExitBadPicture, name, why);
  if (read == ReadResult::kTooLarge) {
    return Fail(kExitBadPicture, name,
                (input.regular ? "file is " + Thousands(size)
                               : "input is more than " + Thousands(kLargestPictureFile)) +
                    " bytes; encode reads pictures of at most " + Thousands(kLargestPictureFile) +
                    " bytes");
  }
  if (!ReadPicture(bytes.data(), bytes.size(), picture, &why)) {
    return Fail(kExitBadPicture, name, why);
  }
  return kExitOk;
}

int EncodeOne(const Options& options, const std::string& input, std::vector<Guarded>* guarded) {
  SetWorkName(input);
  std::string why;
  std::string output = OutputNameFor(options, input, ".qlm", true, &why);
  if (output.empty()) return Fail(kExitUsage, input, why);
  if (output != "-" && !NamedQlm(output)) {
    return Fail(kExitUsage, output, "encode writes QLM files; name the output .qlm");
  }
  Picture picture;
  int code = ReadOrSay(input, &picture);
  OutputPlan plan;
  if (code == kExitOk) code = PlanOrSay(options, output, *guarded, &plan);
  if (code != kExitOk) return code;
  std::string fitted;
  if (picture.width > kQlmMaxSide || picture.height > kQlmMaxSide) {
    if (!options.fit) {
      return Fail(kExitBadPicture, input,
                  "picture is " + Size(picture.width, picture.height) +
                      "; a QLM image holds at most 512 x 512 (--fit scales it down)");
    }
    fitted = ", scaled down from " + Size(picture.width, picture.height);
    FitWithin(kQlmMaxSide, &picture);
  }
  code = WriteOrSay(plan, EncodeQlm(picture, options.dither), input, guarded);
  if (code != kExitOk) return code;
  if (!options.quiet && plan.way != OutputWay::kStandardOutput) {
    Print("%s: wrote %s (%s%s)\n", input.c_str(), output.c_str(),
          Size(picture.width, picture.height).c_str(), fitted.c_str());
  }
  return kExitOk;
}

}  // namespace

int RunEncode(const Options& options) {
  std::vector<Guarded> guarded = GuardInputs(options.inputs);
  int first = kExitOk;
  for (const std::string& input : options.inputs) {
    int code = EncodeOne(options, input, &guarded);
    if (first == kExitOk) first = code;
  }
  return first;
}
