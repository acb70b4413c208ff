#include "host/interrupt.h"

#include <signal.h>
#include <stdlib.h>
#include <string.h>

#ifdef _WIN32
#include <windows.h>
#else
#include <unistd.h>
#endif

#include "host/exit_codes.h"
#include "host/files.h"

namespace {

volatile sig_atomic_t pending_signal = 0;
volatile sig_atomic_t cancellable = 0;

// Read by the handler, so it is a fixed buffer written only with the signals held back.
#ifdef _WIN32
wchar_t temporary_path[32768];
#else
char temporary_path[4096];
#endif

// The stop's message, made before any stop can come, since a handler cannot build strings.
char stop_message[4096];
volatile sig_atomic_t line_open = 0;

void SayStopped() {
  size_t length = strlen(stop_message);
  if (length == 0) return;
#ifdef _WIN32
  HANDLE error = GetStdHandle(STD_ERROR_HANDLE);
  DWORD written;
  if (line_open != 0) WriteFile(error, "\n", 1, &written, nullptr);
  WriteFile(error, stop_message, static_cast<DWORD>(length), &written, nullptr);
#else
  if (line_open != 0 && write(2, "\n", 1) < 0) return;
  if (write(2, stop_message, length) < 0) return;
#endif
  line_open = 0;
  stop_message[0] = 0;
}

void RemoveTemporary() {
#ifdef _WIN32
  if (temporary_path[0] != 0) DeleteFileW(temporary_path);
#else
  if (temporary_path[0] != 0) unlink(temporary_path);
#endif
  temporary_path[0] = 0;
}

#ifdef _WIN32
CRITICAL_SECTION guard;

int SignalFor(DWORD event) {
  return event == CTRL_C_EVENT || event == CTRL_BREAK_EVENT ? SIGINT : 1 /* SIGHUP */;
}

BOOL WINAPI OnConsoleEvent(DWORD event) {
  if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT && event != CTRL_CLOSE_EVENT) {
    return FALSE;
  }
  EnterCriticalSection(&guard);
  if (pending_signal == 0) pending_signal = SignalFor(event);
  bool wait = cancellable != 0;
  if (!wait) {
    RemoveTemporary();
    SayStopped();
  }
  LeaveCriticalSection(&guard);
  if (!wait) ExitProcess(static_cast<UINT>(kExitSignalBase + pending_signal));
  return TRUE;
}
#else
const int kSignals[] = {SIGINT, SIGTERM, SIGHUP};

sigset_t before_hold;

void Hold(sigset_t* previous) {
  sigset_t held;
  sigemptyset(&held);
  for (int number : kSignals) sigaddset(&held, number);
  sigprocmask(SIG_BLOCK, &held, previous);
}

[[noreturn]] void EndBy(int number) {
  RemoveTemporary();
  SayStopped();
  signal(number, SIG_DFL);
  sigset_t just;
  sigemptyset(&just);
  sigaddset(&just, number);
  raise(number);
  sigprocmask(SIG_UNBLOCK, &just, nullptr);
  _exit(kExitSignalBase + number);  // only if the signal did not end the process
}

void OnSignal(int number) {
  if (pending_signal == 0) pending_signal = number;
  if (cancellable == 0) EndBy(pending_signal);
}
#endif

// Runs `write` with the handler held back, for what the handler reads.
template <typename Write>
void WhileHandlerHeld(Write write) {
#ifdef _WIN32
  EnterCriticalSection(&guard);
  write();
  LeaveCriticalSection(&guard);
#else
  sigset_t previous;
  Hold(&previous);
  write();
  sigprocmask(SIG_SETMASK, &previous, nullptr);
#endif
}

}  // namespace

void InstallInterruptHandlers() {
#ifdef _WIN32
  InitializeCriticalSection(&guard);
  SetConsoleCtrlHandler(OnConsoleEvent, TRUE);
#else
  struct sigaction action;
  memset(&action, 0, sizeof action);
  action.sa_handler = OnSignal;
  sigemptyset(&action.sa_mask);
  for (int number : kSignals) sigaddset(&action.sa_mask, number);
  for (int number : kSignals) {
    struct sigaction old;
    // A signal ignored by whoever started us (nohup) stays ignored.
    if (sigaction(number, nullptr, &old) == 0 && old.sa_handler == SIG_IGN) continue;
    sigaction(number, &action, nullptr);
  }
#endif
}

void SetTemporaryFile(const std::string& path) {
#ifdef _WIN32
  const std::wstring name = Widen(path);
#else
  const std::string& name = path;
#endif
  // A name too long for the buffer cannot be one the system made a file of.
  const size_t count =
      name.size() < sizeof temporary_path / sizeof temporary_path[0] ? name.size() : 0;
  WhileHandlerHeld([&] {
    memcpy(temporary_path, name.c_str(), count * sizeof temporary_path[0]);
    temporary_path[count] = 0;
  });
}

void SetWorkName(const std::string& name) {
  std::string message = name.empty() ? "" : "spihost: " + name + ": interrupted; nothing written\n";
  if (message.size() >= sizeof stop_message) message.clear();
  WhileHandlerHeld([&] { memcpy(stop_message, message.c_str(), message.size() + 1); });
}

void NoteWriting() {
  stop_message[0] = 0;
}

void SetLineOpen(bool open) {
  line_open = open ? 1 : 0;
}

void HoldInterrupts() {
#ifdef _WIN32
  EnterCriticalSection(&guard);
#else
  Hold(&before_hold);
#endif
}

void ReleaseInterrupts() {
#ifdef _WIN32
  LeaveCriticalSection(&guard);
#else
  sigprocmask(SIG_SETMASK, &before_hold, nullptr);
#endif
}

void BeginCancellable() {
  cancellable = 1;
}

void EndCancellable() {
  WhileHandlerHeld([] { cancellable = 0; });
}

int PendingSignal() {
  return pending_signal;
}

void EndByPendingSignal() {
#ifdef _WIN32
  EnterCriticalSection(&guard);
  RemoveTemporary();
  SayStopped();
  LeaveCriticalSection(&guard);
  ExitProcess(static_cast<UINT>(kExitSignalBase + pending_signal));
#else
  EndBy(pending_signal != 0 ? pending_signal : SIGINT);
#endif
}
