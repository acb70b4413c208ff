// PNG in a build without a PNG codec (no libspng for the target, as for i386 Linux): it says
// so instead of reading or writing anything.
#include "host/picture_formats.h"

bool ReadPng(const unsigned char* /*bytes*/, size_t /*size*/, Picture* /*picture*/,
             std::string* why) {
  PngAvailable(why);
  *why = "a PNG picture, but " + *why;
  return false;
}

bool EncodePng(const unsigned char* /*rgb*/, uint32_t /*width*/, uint32_t /*height*/,
               std::vector<unsigned char>* /*file*/, std::string* why) {
  return PngAvailable(why);
}

bool PngAvailable(std::string* why) {
  *why = "PNG is not available in this build of spihost (built without libspng); use BMP or PNM";
  return false;
}
