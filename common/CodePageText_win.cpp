#include "CodePageText.h"

#include <windows.h>

#include <climits>

bool AssignWideFromCodePage(std::wstring& out, std::string_view text, unsigned codePage) {
  out.clear();
  if (text.empty()) return true;
  if (text.size() > INT_MAX) return false;
  const int length = static_cast<int>(text.size());
  const int size = MultiByteToWideChar(codePage, 0, text.data(), length, nullptr, 0);
  if (size <= 0) return false;
  out.resize(static_cast<std::size_t>(size));
  const int written = MultiByteToWideChar(codePage, 0, text.data(), length, out.data(), size);
  out.resize(written > 0 ? static_cast<std::size_t>(written) : 0);
  return written > 0;
}

bool AssignCodePageFromWide(std::string& out, std::wstring_view text, unsigned codePage) {
  out.clear();
  if (text.empty()) return true;
  if (text.size() > INT_MAX) return false;
  const int length = static_cast<int>(text.size());
  const int size = WideCharToMultiByte(codePage, 0, text.data(), length, nullptr, 0, nullptr, nullptr);
  if (size <= 0) return false;
  out.resize(static_cast<std::size_t>(size));
  const int written = WideCharToMultiByte(codePage, 0, text.data(), length, out.data(), size, nullptr, nullptr);
  out.resize(written > 0 ? static_cast<std::size_t>(written) : 0);
  return written > 0;
}

std::wstring WideFromCodePage(std::string_view text, unsigned codePage) {
  std::wstring result;
  AssignWideFromCodePage(result, text, codePage);
  return result;
}

std::string CodePageFromWide(std::wstring_view text, unsigned codePage) {
  std::string result;
  AssignCodePageFromWide(result, text, codePage);
  return result;
}
