// What spihost says: results on standard output, every write checked, and failures and the
// progress bar on standard error.
#ifndef SPIQLM_HOST_CONSOLE_H
#define SPIQLM_HOST_CONSOLE_H

#include <string>

#include "winapi/winapi.h"

// printf to standard output; a failed write is remembered for FinishStandardOutput.
void Print(const char* format, ...) __attribute__((format(printf, 1, 2)));

// Flushes standard output. False, with a message on standard error, when anything written to
// it was lost (a full disk, a closed pipe).
bool FinishStandardOutput();

// "spihost: FILE: MESSAGE" on standard error; returns `code`.
int Fail(int code, const std::string& file, const std::string& message);

// The progress callback handed to the plug-in. It draws a bar on standard error when
// StartProgress asked for one, and answers non-zero once a stop signal has arrived.
int WINAPI OnProgress(int numerator, int denominator, long lData);
void StartProgress(bool visible);
// Ends the bar's line if one was drawn.
void EndProgress();

#endif  // SPIQLM_HOST_CONSOLE_H
