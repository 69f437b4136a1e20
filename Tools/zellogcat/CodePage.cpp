#include "CodePage.h"

#include <cstring>

#include "JsonWriter.h"

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
  TByteText& entry = Table[byte];
  entry.Length = static_cast<std::uint8_t>(WriteJsonEscapedCodePoint(entry.Text, codePoint) - entry.Text);
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

char* TCodePage::WriteEscaped(char* out, std::string_view text) const {
  switch (Kind) {
    case TKind::Utf8:
      return WriteJsonEscapedUtf8(out, text);
    case TKind::ByteTable:
      return WriteJsonPlainRuns(out, text.data(), text.data() + text.size(),
                                [this](char*& at, const char* p, const char*) -> std::size_t {
                                  const TByteText& entry = Table[static_cast<unsigned char>(*p)];
                                  std::memcpy(at, entry.Text, sizeof entry.Text);
                                  at += entry.Length;
                                  return 1;
                                });
    case TKind::System:
#ifdef _WIN32
      if (!text.empty()) {
        if (AssignWideFromCodePage(Scratch, text, CodePageId))
          return WriteJsonEscapedUtf16(
              out, std::u16string_view(reinterpret_cast<const char16_t*>(Scratch.data()), Scratch.size()));
        return WriteJsonEscapedCodePoint(out, 0xFFFD);
      }
#endif
      return out;
  }
  return out;
}

void TCodePage::String(TJsonWriter& writer, std::string_view text) const {
  char* out = writer.Reserve(JsonEscapedBound(text.size()) + 2);
  *out++ = '"';
  out = WriteEscaped(out, text);
  *out++ = '"';
  writer.Commit(out);
}
