#include "OLEDbTypes.h"

#include <propidl.h>

#include <string>

namespace {
struct TDBTypeNameMap {
  const wchar_t* Name;
  DBTYPE Type;
};

// Looked up in order: the first match gives the type.
constexpr TDBTypeNameMap TypeNames[] = {
    {L"DBTYPE_I1", DBTYPE_I1},
    {L"DBTYPE_I2", DBTYPE_I2},
    {L"DBTYPE_I4", DBTYPE_I4},
    {L"DBTYPE_I8", DBTYPE_I8},
    {L"DBTYPE_UI1", DBTYPE_UI1},
    {L"DBTYPE_UI2", DBTYPE_UI2},
    {L"DBTYPE_UI4", DBTYPE_UI4},
    {L"DBTYPE_UI8", DBTYPE_UI8},
    {L"DBTYPE_R4", DBTYPE_R4},
    {L"DBTYPE_R8", DBTYPE_R8},
    {L"DBTYPE_CY", DBTYPE_CY},
    {L"DBTYPE_DECIMAL", DBTYPE_DECIMAL},
    {L"DBTYPE_NUMERIC", DBTYPE_NUMERIC},
    {L"DBTYPE_BOOL", DBTYPE_BOOL},
    {L"DBTYPE_ERROR", DBTYPE_ERROR},
    {L"DBTYPE_UDT", DBTYPE_UDT},
    {L"DBTYPE_VARIANT", DBTYPE_VARIANT},
    {L"DBTYPE_IDISPATCH", DBTYPE_IDISPATCH},
    {L"DBTYPE_IUNKNOWN", DBTYPE_IUNKNOWN},
    {L"DBTYPE_GUID", DBTYPE_GUID},
    {L"DBTYPE_DATE", DBTYPE_DATE},
    {L"DBTYPE_DBDATE", DBTYPE_DBDATE},
    {L"DBTYPE_DBTIME", DBTYPE_DBTIME},
    {L"DBTYPE_DBTIMESTAMP", DBTYPE_DBTIMESTAMP},
    {L"DBTYPE_BSTR", DBTYPE_BSTR},
    {L"DBTYPE_CHAR", DBTYPE_STR},
    {L"DBTYPE_VARCHAR", DBTYPE_STR},
    {L"DBTYPE_LONGVARCHAR", DBTYPE_STR},
    {L"DBTYPE_WCHAR", DBTYPE_WSTR},
    {L"DBTYPE_WVARCHAR", DBTYPE_WSTR},
    {L"DBTYPE_WLONGVARCHAR", DBTYPE_WSTR},
    {L"DBTYPE_BINARY", DBTYPE_BYTES},
    {L"DBTYPE_VARBINARY", DBTYPE_BYTES},
    {L"DBTYPE_LONGVARBINARY", DBTYPE_BYTES},
    {L"DBTYPE_VARNUMERIC", DBTYPE_VARNUMERIC},
    {L"DBTYPE_PROPVARIANT", DBTYPE_PROPVARIANT},
};

// Type 137 has no name in the headers; it is eight bytes wide.
constexpr DBTYPE UnnamedEightByteType = 137;

// Pointer-valued types (BSTR, interfaces, chapters, arrays, by-reference
// values) and the variants grow with the platform's pointers.
constexpr int PointerSize = static_cast<int>(sizeof(void*));

bool IsBlank(wchar_t c) noexcept { return c <= L' '; }
}  // namespace

int TypeSize(DBTYPE type) noexcept {
  switch (type) {
    case DBTYPE_I1:
    case DBTYPE_UI1:
      return 1;
    case DBTYPE_I2:
    case DBTYPE_BOOL:
    case DBTYPE_UI2:
      return 2;
    case DBTYPE_I4:
    case DBTYPE_R4:
    case DBTYPE_ERROR:
    case DBTYPE_UI4:
      return 4;
    case DBTYPE_BSTR:
    case DBTYPE_IDISPATCH:
    case DBTYPE_IUNKNOWN:
    case DBTYPE_HCHAPTER:
    case DBTYPE_ARRAY:
    case DBTYPE_BYREF:
      return PointerSize;
    case DBTYPE_DBDATE:
    case DBTYPE_DBTIME:
      return 6;
    case DBTYPE_VARNUMERIC:
      return 7;
    case DBTYPE_R8:
    case DBTYPE_CY:
    case DBTYPE_DATE:
    case DBTYPE_I8:
    case DBTYPE_UI8:
    case DBTYPE_FILETIME:
    case UnnamedEightByteType:
      return 8;
    case DBTYPE_VARIANT:
      return static_cast<int>(sizeof(VARIANT));
    case DBTYPE_PROPVARIANT:
      return static_cast<int>(sizeof(PROPVARIANT));
    case DBTYPE_DECIMAL:
    case DBTYPE_GUID:
    case DBTYPE_DBTIMESTAMP:
      return 16;
    case DBTYPE_NUMERIC:
      return 19;
    default:
      return -1;
  }
}

ULONG BytesToChars(DBTYPE type, ULONG bytes) noexcept { return type == DBTYPE_WSTR ? bytes / 2 : bytes; }

ULONG CharsToBytes(DBTYPE type, ULONG chars) noexcept { return type == DBTYPE_WSTR ? chars * 2 : chars; }

bool TypeFromName(std::wstring_view text, DBTYPE& type) {
  while (!text.empty() && IsBlank(text.front())) text.remove_prefix(1);
  while (!text.empty() && IsBlank(text.back())) text.remove_suffix(1);
  std::wstring upper(text);
  for (wchar_t& c : upper)
    if (c >= L'a' && c <= L'z') c = static_cast<wchar_t>(c - L'a' + L'A');
  for (const auto& entry : TypeNames) {
    if (upper == entry.Name) {
      type = entry.Type;
      return true;
    }
  }
  return false;
}

bool IsPlainValueType(DBTYPE type) noexcept {
  switch (type) {
    case DBTYPE_I1:
    case DBTYPE_UI1:
    case DBTYPE_I2:
    case DBTYPE_UI2:
    case DBTYPE_BOOL:
    case DBTYPE_I4:
    case DBTYPE_UI4:
    case DBTYPE_R4:
    case DBTYPE_ERROR:
    case DBTYPE_I8:
    case DBTYPE_UI8:
    case DBTYPE_R8:
    case DBTYPE_CY:
    case DBTYPE_DATE:
    case DBTYPE_FILETIME:
    case DBTYPE_GUID:
    case DBTYPE_DECIMAL:
    case DBTYPE_DBDATE:
    case DBTYPE_DBTIME:
    case DBTYPE_DBTIMESTAMP:
      return true;
    default:
      return false;
  }
}
