#pragma once
// UTF-8 inside zellogq, UTF-16 at the OLE DB boundary.
#include <string>
#include <string_view>

std::wstring Utf8ToWide(std::string_view text);
std::string WideToUtf8(std::wstring_view text);
// Replaces out's content, keeping its capacity.
void AssignWideAsUtf8(std::string& out, const wchar_t* text, std::size_t length);
