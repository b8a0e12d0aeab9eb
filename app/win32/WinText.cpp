#include "app/win32/WinText.h"

#include <windows.h>

std::wstring WideFromGbk(const std::string& text) {
  if (text.empty()) return {};
  const int n = ::MultiByteToWideChar(kWindowTextCodePage, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
  if (n <= 0) return {};
  std::wstring wide(static_cast<size_t>(n), L'\0');
  ::MultiByteToWideChar(kWindowTextCodePage, 0, text.data(), static_cast<int>(text.size()), wide.data(), n);
  return wide;
}

std::string GbkFromWide(const std::wstring& text) {
  if (text.empty()) return {};
  const int n = ::WideCharToMultiByte(kWindowTextCodePage, 0, text.data(), static_cast<int>(text.size()), nullptr, 0,
                                      nullptr, nullptr);
  if (n <= 0) return {};
  std::string bytes(static_cast<size_t>(n), '\0');
  ::WideCharToMultiByte(kWindowTextCodePage, 0, text.data(), static_cast<int>(text.size()), bytes.data(), n, nullptr,
                        nullptr);
  return bytes;
}
