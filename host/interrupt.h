// What spihost does when it is told to stop: SIGINT (Ctrl-C), SIGTERM and SIGHUP, or a console
// Ctrl-C, Ctrl-Break or close on Windows.
//
// Outside a decode the handler removes the temporary output file being written, if there is
// one, and ends the process by the same signal, so a shell reports 128 plus its number (130 for
// Ctrl-C) and stops a loop it runs. During a decode it only records the signal: the progress
// callback then answers non-zero, the plug-in cancels through its own path and returns its
// blocks, and the command frees them, ends the progress line and ends the process the same way.
#ifndef SPIQLM_HOST_INTERRUPT_H
#define SPIQLM_HOST_INTERRUPT_H

#include <string>

void InstallInterruptHandlers();

// The temporary file to remove if the process is stopped now; empty for none.
void SetTemporaryFile(const std::string& path);

// The input being worked on: from here a stop says "spihost: NAME: interrupted; nothing
// written" (whether it cancels the decode or removes the temporary file), until NoteWriting
// says that bytes reach the output: a file renamed into place, or one written through. Empty:
// a stop says nothing (check, which writes nothing).
void SetWorkName(const std::string& name);
// Called with the signals held around the rename, so no stop falls between the two.
void NoteWriting();

// Whether standard error's last line is unfinished (the progress bar), so a stop ends it first.
void SetLineOpen(bool open);

// Between these two a signal waits, for making a temporary file and registering it as one.
void HoldInterrupts();
void ReleaseInterrupts();

// Between these two a stop is only recorded, for the progress callback to act on.
void BeginCancellable();
void EndCancellable();

// The signal received so far (0 for none).
int PendingSignal();

// Removes the temporary file, says that nothing was written of the input being worked on, and
// ends the process by the pending signal.
[[noreturn]] void EndByPendingSignal();

#endif  // SPIQLM_HOST_INTERRUPT_H
