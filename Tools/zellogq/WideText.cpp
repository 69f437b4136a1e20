#include "WideText.h"

#include <windows.h>

std::wstring Utf8ToWide(std::string_view text) {
  if (text.empty()) return {};
  const int size = MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
  std::wstring result(static_cast<std::size_t>(size), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), result.data(), size);
  return result;
}

std::string WideToUtf8(std::wstring_view text) {
  std::string result;
  AssignWideAsUtf8(result, text.data(), text.size());
  return result;
}

void AssignWideAsUtf8(std::string& out, const wchar_t* text, std::size_t length) {
  if (length == 0) {
    out.clear();
    return;
  }
  const int wideLength = static_cast<int>(length);
  const int size = WideCharToMultiByte(CP_UTF8, 0, text, wideLength, nullptr, 0, nullptr, nullptr);
  out.resize(static_cast<std::size_t>(size));
  WideCharToMultiByte(CP_UTF8, 0, text, wideLength, out.data(), size, nullptr, nullptr);
}
