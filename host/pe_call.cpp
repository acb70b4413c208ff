#include "host/pe_call.h"

#include <stdio.h>
#include <stdlib.h>

#include <string>

uint32_t PeCheckedCallOrAbort(const char* dll, uint32_t stackOffset, uint32_t target,
                              const char* what, const uint32_t* args, uint32_t count) {
  PeCallFrame frame = {};
  frame.target = target;
  frame.args = args;
  frame.count = count;
  frame.offset = stackOffset;
  PeCheckedCall(&frame);
  std::string broken;
  if (frame.stack % 16 != stackOffset) {
    broken += " the call was made at stack offset " + std::to_string(frame.stack % 16) + ";";
  }
  if (frame.removed != 4 * count) {
    broken += " it removed " + std::to_string(frame.removed) + " bytes of arguments, not " +
              std::to_string(4 * count) + ";";
  }
  for (int i = 0; i < 4; ++i) {
    if (frame.kept[i] != kPeSentinels[i]) {
      char values[64];
      snprintf(values, sizeof values, " (0x%08X became 0x%08X);", kPeSentinels[i], frame.kept[i]);
      broken += std::string(" it did not keep ") + kPeKeptNames[i] + values;
    }
  }
  if (!broken.empty()) {
    fprintf(stderr, "calling convention broken by %s!%s at stack offset %u:%s\n", dll, what,
            stackOffset, broken.c_str());
    abort();
  }
  return frame.result;
}
