// spihost.exe's pictures as Windows builds them, where PNG goes through the Windows Imaging
// Component: every picture the reader tests take, read to the same 16-bit samples; a PNG
// written and read back; damaged PNGs refused with a reason. Ends with "N passed, N failed".
#include <stdio.h>

#include <string>
#include <vector>

#include "host/pictures.h"
#include "tests/picture_cases.h"

namespace {

int passed = 0, failed = 0;

void Check(bool ok, const std::string& what, const std::string& detail = std::string()) {
  if (ok) {
    ++passed;
    return;
  }
  ++failed;
  printf("FAILED: %s%s%s\n", what.c_str(), detail.empty() ? "" : ": ", detail.c_str());
}

// A 5 x 3 bitmap as a plug-in returns it: rows of 15 bytes padded to 16, bottom-up.
void CheckPngWrittenAndReadBack() {
  unsigned char header[40] = {40, 0, 0, 0, 5, 0, 0, 0, 3, 0, 0, 0, 1, 0, 24};
  std::vector<unsigned char> pixels(48);
  for (size_t i = 0; i < pixels.size(); ++i) pixels[i] = static_cast<unsigned char>(i * 37 + 5);
  std::vector<unsigned char> file;
  std::string why;
  const bool written = EncodeBitmap(DecodedBitmap{header, pixels.data(), pixels.size()},
                                    ImageFormat::kPng, &file, &why);
  Check(written, "PNG written", why);
  Picture back;
  const bool read = written && ReadPicture(file.data(), file.size(), &back, &why);
  Check(read, "written PNG read back", why);
  if (!read) return;
  bool same = back.width == 5 && back.height == 3;
  for (size_t y = 0; same && y < 3; ++y) {
    for (size_t x = 0; x < 5; ++x) {
      const unsigned char* bgr = &pixels[(2 - y) * 16 + 3 * x];
      for (size_t c = 0; c < 3; ++c)
        same = same && back.rgb[(y * 5 + x) * 3 + c] == bgr[2 - c] * 257;
    }
  }
  Check(same, "written PNG holds the bitmap's pixels");
}

}  // namespace

int main() {
  std::string why;
  Check(PngAvailable(&why), "PNG available", why);
  for (const fixture::ReadCase& c : fixture::PictureCases()) {
    Picture picture;
    const bool read = ReadPicture(c.file.data(), c.file.size(), &picture, &why);
    Check(read, c.name, why);
    if (!read) continue;
    Check(picture.width == c.width && picture.height == c.height, c.name + ": size");
    Check(picture.rgb == c.rgb, c.name + ": samples");
  }
  CheckPngWrittenAndReadBack();
  const fixture::Bytes png = fixture::Png(3, 2, 8, 2, std::vector<uint32_t>(18, 9));
  fixture::Bytes truncated(png.begin(), png.end() - 20), damaged = png;
  if (damaged.size() > 43) damaged[43] = 0x07;  // the deflate block's type: reserved
  for (const fixture::Bytes* bad : {&truncated, &damaged}) {
    Picture picture;
    const bool read = ReadPicture(bad->data(), bad->size(), &picture, &why);
    Check(!read && why.find("PNG") != std::string::npos && picture.rgb.empty(),
          bad == &truncated ? "truncated PNG refused" : "damaged PNG refused", why);
  }
  printf("%d passed, %d failed\n", passed, failed);
  return failed == 0 ? 0 : 1;
}
