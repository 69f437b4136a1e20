#pragma once
// Text of the COM runtime: GUIDs in registry form; code-page conversions come
// from the common library, so that every user of the runtime has them.
#include <windows.h>

#include <string>

#include "CodePageText.h"

// With braces and upper-case digits.
std::wstring GuidToString(REFGUID guid);
std::string GuidToAnsiString(REFGUID guid);
