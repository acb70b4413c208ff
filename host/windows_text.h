// The Windows system's texts as the host prints them: in UTF-8, like every name and message of
// the host, and without the full stop and line break that end them. Header-only, so the plug-in
// loader, the host and its picture code, which are separate libraries, share one of each.
#ifndef SPIQLM_HOST_WINDOWS_TEXT_H
#define SPIQLM_HOST_WINDOWS_TEXT_H

#include <windows.h>

#include <string>

inline std::string Narrow(const std::wstring& wide) {
  int length = WideCharToMultiByte(CP_UTF8, 0, wide.c_str(), -1, nullptr, 0, nullptr, nullptr);
  if (length <= 0) return std::string();
  std::string utf8(static_cast<size_t>(length), '\0');
  WideCharToMultiByte(CP_UTF8, 0, wide.c_str(), -1, &utf8[0], length, nullptr, nullptr);
  utf8.resize(static_cast<size_t>(length - 1));
  return utf8;
}

// The system's text for an error code or an HRESULT; empty when it has none.
inline std::string SystemText(DWORD code) {
  wchar_t* text = nullptr;
  DWORD length = FormatMessageW(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
      nullptr, code, 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
  std::string message = length > 0 && text != nullptr ? Narrow(std::wstring(text, length)) : "";
  if (text != nullptr) LocalFree(text);
  // Ours go on after the system's sentence.
  while (!message.empty() && (message.back() == '\n' || message.back() == '\r' ||
                              message.back() == ' ' || message.back() == '.')) {
    message.pop_back();
  }
  return message;
}

// The same, or the bare number when the system has no text for it.
inline std::string SystemError(DWORD code) {
  std::string text = SystemText(code);
  return text.empty() ? "error " + std::to_string(code) : text;
}

#endif  // SPIQLM_HOST_WINDOWS_TEXT_H
