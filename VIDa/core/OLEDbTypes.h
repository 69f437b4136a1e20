#pragma once
// Fixed byte sizes of the DBTYPEs, the byte/character view of text sizes and
// the type names consumers use for parameters.
#include <windows.h>
#include <oledb.h>

#include <string_view>

// The fixed size of exactly this type code, or -1 when its size is declared
// per column (text, bytes, any type combined with a modifier).
int TypeSize(DBTYPE type) noexcept;

// Types whose value is its bytes, of the fixed size TypeSize gives: a copy
// is the conversion to the same type.
bool IsPlainValueType(DBTYPE type) noexcept;

// Wide text sizes are bytes inside the toolkit and characters for consumers.
ULONG BytesToChars(DBTYPE type, ULONG bytes) noexcept;
ULONG CharsToBytes(DBTYPE type, ULONG chars) noexcept;

// "DBTYPE_WVARCHAR" and the like, blanks around it and case ignored.
bool TypeFromName(std::wstring_view text, DBTYPE& type);
