#include "host/console.h"

#include <errno.h>
#include <stdarg.h>
#include <stdio.h>
#include <string.h>

#include "host/interrupt.h"

namespace {

int stdout_error = 0;  // errno of the first failed write, or -1 when unknown
bool bar_visible = false;
bool bar_open = false;  // a bar is on the screen and its line is not ended
int bar_shown = -1;     // the percentage on screen; redrawn only when it changes

void NoteStdoutError() {
  if (stdout_error == 0) stdout_error = errno != 0 ? errno : -1;
}

}  // namespace

void Print(const char* format, ...) {
  va_list arguments;
  va_start(arguments, format);
  errno = 0;
  if (vprintf(format, arguments) < 0) NoteStdoutError();
  va_end(arguments);
}

bool FinishStandardOutput() {
  errno = 0;
  if (fflush(stdout) != 0 || ferror(stdout)) NoteStdoutError();
  if (stdout_error == 0) return true;
  fprintf(stderr, "spihost: standard output: cannot write: %s\n",
          stdout_error > 0 ? strerror(stdout_error) : "write error");
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
