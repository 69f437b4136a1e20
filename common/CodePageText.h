#pragma once
// Text between a Windows code page and UTF-16, through the system. Without a
// code page the system's ANSI code page is meant, the one log text and
// narrow file names are written in.
#include <string>
#include <string_view>

inline constexpr unsigned AnsiCodePage = 0;  // CP_ACP
inline constexpr unsigned Utf8CodePage = 65001;  // CP_UTF8

// Replace out's content and keep its capacity, for loops that convert one
// text after another. False when the system converts nothing; out is empty
// then.
bool AssignWideFromCodePage(std::wstring& out, std::string_view text, unsigned codePage = AnsiCodePage);
bool AssignCodePageFromWide(std::string& out, std::wstring_view text, unsigned codePage = AnsiCodePage);

std::wstring WideFromCodePage(std::string_view text, unsigned codePage = AnsiCodePage);
std::string CodePageFromWide(std::wstring_view text, unsigned codePage = AnsiCodePage);

inline std::wstring WideFromUtf8(std::string_view text) { return WideFromCodePage(text, Utf8CodePage); }
inline std::string Utf8FromWide(std::wstring_view text) { return CodePageFromWide(text, Utf8CodePage); }
