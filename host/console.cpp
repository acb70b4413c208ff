#include "host/console.h"

#include <errno.h>
#include <stdarg.h>
#include <stdio.h>
#include <string.h>

#include "host/files.h"
#include "host/interrupt.h"

namespace {

std::string stdout_error;  // the system's text for the first failed write
bool bar_visible = false;
bool bar_open = false;  // a bar is on the screen and its line is not ended
int bar_shown = -1;     // the percentage on screen; redrawn only when it changes

// Clears what the system last said, so a failure's own text is known.
void StartWrite() {
  errno = 0;
#ifdef _WIN32
  SetLastError(0);
#endif
}

void NoteStdoutError() {
  if (!stdout_error.empty()) return;
#ifdef _WIN32
  // The C library keeps no errno for some failed writes; the system's own error is there.
  if (GetLastError() != 0) {
    stdout_error = LastSystemError();
    return;
  }
#endif
  stdout_error = errno != 0 ? strerror(errno) : "write error";
}

}  // namespace

void Print(const char* format, ...) {
  va_list arguments;
  va_start(arguments, format);
#ifdef _WIN32
  // Through the system's own call, whose failure says why: the C library's keeps no reason
  // for a full disk. Whatever the library holds goes first.
  va_list again;
  va_copy(again, arguments);
  int length = vsnprintf(nullptr, 0, format, arguments);
  std::string text(length > 0 ? static_cast<size_t>(length) + 1 : 1, '\0');
  if (length > 0) vsnprintf(&text[0], text.size(), format, again);
  va_end(again);
  fflush(stdout);
  DWORD written = 0;
  SetLastError(0);
  if (length > 0 && (!WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), text.data(),
                                static_cast<DWORD>(length), &written, nullptr) ||
                     written != static_cast<DWORD>(length))) {
    NoteStdoutError();
  }
#else
  StartWrite();
  if (vprintf(format, arguments) < 0) NoteStdoutError();
#endif
  va_end(arguments);
}

bool FinishStandardOutput() {
  StartWrite();
  if (fflush(stdout) != 0 || ferror(stdout)) NoteStdoutError();
  if (stdout_error.empty()) return true;
  fprintf(stderr, "spihost: standard output: cannot write: %s\n", stdout_error.c_str());
  return false;
}

int Fail(int code, const std::string& file, const std::string& message) {
  EndProgress();
  fprintf(stderr, "spihost: %s: %s\n", file.c_str(), message.c_str());
  return code;
}

int WINAPI OnProgress(int numerator, int denominator, long /*lData*/) {
  if (PendingSignal() != 0) return 1;
  if (!bar_visible) return 0;
  const int kWidth = 40;
  int percent = denominator > 0 ? (numerator + 1) * 100 / denominator : 100;
  if (percent != bar_shown) {
    int done = percent * kWidth / 100;
    fprintf(stderr, "\r[%.*s%*s] %3d%%", done, "########################################",
            kWidth - done, "", percent);
    bar_shown = percent;
    bar_open = true;
    SetLineOpen(true);
  }
  if (numerator + 1 >= denominator) EndProgress();
  return 0;
}

void StartProgress(bool visible) {
  bar_visible = visible;
  bar_open = false;
  bar_shown = -1;
}

void EndProgress() {
  if (bar_open) fputc('\n', stderr);
  bar_open = false;
  SetLineOpen(false);
}
