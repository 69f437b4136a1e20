#include "CodePage.h"

#include <cstring>

#ifdef _WIN32
#include <windows.h>

#include "CodePageText.h"
#endif

namespace {

// Bytes 0x80-0x9F of Windows-1252. The five bytes the code page leaves
// undefined map to the C1 controls of the same value, as the system's own
// conversion does, so that no byte of a log is lost.
constexpr char16_t Windows1252C1[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
    0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008D, 0x017D, 0x008F,
    0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
    0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

}  // namespace

TCodePage::TCodePage() { Select(Windows1252); }

void TCodePage::SetByteText(unsigned byte, char32_t codePoint) {
  TJsonWriter writer;
  writer.EscapedCodePoint(codePoint);
  const std::string& text = writer.Text();
  TByteText& entry = Table[byte];
  std::memcpy(entry.Text, text.data(), text.size());
  entry.Length = static_cast<std::uint8_t>(text.size());
  entry.Same = text.size() == 1 && static_cast<unsigned char>(text[0]) == byte;
}

bool TCodePage::Select(unsigned id) {
  if (id == Windows1252 || id == Latin1) {
    for (unsigned byte = 0; byte < 256; ++byte) {
      const bool c1 = byte >= 0x80 && byte < 0xA0;
      SetByteText(byte, id == Windows1252 && c1 ? Windows1252C1[byte - 0x80] : byte);
    }
    Kind = TKind::ByteTable;
  } else if (id == Utf8) {
    Kind = TKind::Utf8;
  } else {
#ifdef _WIN32
    CPINFO info;
    if (id > 0xFFFF || !IsValidCodePage(id) || !GetCPInfo(id, &info)) return false;
    if (info.MaxCharSize == 1) {
      for (unsigned byte = 0; byte < 256; ++byte) {
        const char c = static_cast<char>(byte);
        const std::wstring wide = WideFromCodePage(std::string_view(&c, 1), id);
        SetByteText(byte, wide.size() == 1 ? wide[0] : 0xFFFD);
      }
      Kind = TKind::ByteTable;
    } else {
      Kind = TKind::System;
    }
#else
    return false;
#endif
  }
  CodePageId = id;
  return true;
}

void TCodePage::AppendEscaped(TJsonWriter& writer, std::string_view text) const {
  switch (Kind) {
    case TKind::Utf8:
      writer.EscapedUtf8(text);
      return;
    case TKind::ByteTable: {
      std::string& out = writer.Text();
      const char* p = text.data();
      const char* end = p + text.size();
      const char* run = p;
      for (; p < end; ++p) {
        const TByteText& entry = Table[static_cast<unsigned char>(*p)];
        if (entry.Same) continue;
        out.append(run, p);
        out.append(entry.Text, entry.Length);
        run = p + 1;
      }
      out.append(run, end);
      return;
    }
    case TKind::System:
#ifdef _WIN32
      if (text.empty()) return;
      if (AssignWideFromCodePage(Scratch, text, CodePageId))
        writer.EscapedUtf16(std::u16string_view(reinterpret_cast<const char16_t*>(Scratch.data()), Scratch.size()));
      else
        writer.EscapedCodePoint(0xFFFD);
#endif
      return;
  }
}

void TCodePage::WriteString(TJsonWriter& writer, std::string_view text) const {
  writer.Raw('"');
  AppendEscaped(writer, text);
  writer.Raw('"');
}
