// Writes the seed corpus of the picture readers' fuzz target: every picture the reader tests
// take, and a few wider than 512 so that fitting is reached from the start.
//
//   write_picture_seeds FOLDER
#include <stdio.h>
#include <sys/stat.h>

#include <string>

#include "tests/picture_cases.h"

int main(int argc, char** argv) {
  if (argc != 2) {
    fprintf(stderr, "usage: write_picture_seeds FOLDER\n");
    return 2;
  }
  const std::string folder = argv[1];
  for (size_t slash = folder.find('/', 1); slash != std::string::npos;
       slash = folder.find('/', slash + 1)) {
    mkdir(folder.substr(0, slash).c_str(), 0755);
  }
  mkdir(folder.c_str(), 0755);
  std::vector<fixture::ReadCase> cases = fixture::PictureCases();
  cases.push_back({"png 600 x 3 gray 1 bit",
                   fixture::Png(600, 3, 1, 0, fixture::Pattern(1800, 1, 1)),
                   600,
                   3,
                   {}});
  fixture::Bytes pbm = fixture::Text("P4 1000 2\n");
  pbm.resize(pbm.size() + 250, 0x5A);
  cases.push_back({"pbm 1000 x 2", pbm, 1000, 2, {}});
  int written = 0;
  for (const fixture::ReadCase& c : cases) {
    std::string name = c.name;
    for (char& ch : name) {
      if (ch == ' ' || ch == ',' || ch == '/') ch = '_';
    }
    FILE* file = fopen((folder + "/" + name).c_str(), "wb");
    if (file == nullptr || fwrite(c.file.data(), 1, c.file.size(), file) != c.file.size()) {
      fprintf(stderr, "cannot write %s/%s\n", folder.c_str(), name.c_str());
      return 1;
    }
    fclose(file);
    ++written;
  }
  printf("%d seeds written to %s\n", written, folder.c_str());
  return 0;
}
