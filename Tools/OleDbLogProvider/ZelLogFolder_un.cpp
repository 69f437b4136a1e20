#include "ZelLogFolder_un.h"

#include <oledberr.h>

#include "OLEDbBase.h"
#include "OLEDbDatasource.h"

std::wstring TrimFolderName(std::wstring_view name) {
  std::size_t begin = 0;
  std::size_t end = name.size();
  while (begin < end && name[begin] <= L' ') ++begin;
  while (end > begin && name[end - 1] <= L' ') --end;
  return std::wstring(name.substr(begin, end - begin));
}

std::wstring DataSourceFolderName(const TOleDbBase& object) {
  const TOleDbBase* source = object.FindDataSource();
  if (!source) source = &object;
  TOleDbVariant value;
  std::wstring folder;
  if (source->PropertySets().GetValue(DBPROPSET_DBINIT, DBPROP_INIT_DATASOURCE, value.Get())) {
    // A conversion that runs out of memory must not read as an empty name:
    // that would be the root of the current drive.
    const HRESULT converted = VariantChangeType(&value.Get(), &value.Get(), 0, VT_BSTR);
    if (converted == E_OUTOFMEMORY) throw EOleDbException(E_OUTOFMEMORY);
    if (SUCCEEDED(converted) && V_BSTR(&value.Get()))
      folder.assign(V_BSTR(&value.Get()), SysStringLen(V_BSTR(&value.Get())));
  }
  return TrimFolderName(folder);
}

std::wstring FolderPrefix(std::wstring folder) {
  if (folder.empty() || (folder.back() != L'\\' && folder.back() != L'/')) folder.push_back(L'\\');
  return folder;
}

bool IsTableNameInsideFolder(std::wstring_view name) noexcept {
  if (name.empty()) return true;
  if (name.front() == L'\\' || name.front() == L'/') return false;
  std::size_t start = 0;
  while (start <= name.size()) {
    std::size_t end = name.find_first_of(L"\\/", start);
    if (end == std::wstring_view::npos) end = name.size();
    const std::wstring_view part = name.substr(start, end - start);
    // Windows drops trailing dots and blanks from a path component, so "..."
    // and ". ." name the parent as ".." does.
    std::size_t dots = 0;
    bool onlyDotsAndBlanks = !part.empty();
    for (wchar_t c : part) {
      if (c == L'.')
        ++dots;
      else if (c != L' ')
        onlyDotsAndBlanks = false;
    }
    if (onlyDotsAndBlanks && dots >= 2) return false;
    start = end + 1;
  }
  // A colon selects a drive, a device or an alternate stream; no character
  // below a blank belongs in a file name.
  for (wchar_t c : name)
    if (c == L':' || c < L' ') return false;
  return true;
}

bool SameName(std::wstring_view a, std::wstring_view b) noexcept {
  return CompareStringOrdinal(a.data(), static_cast<int>(a.size()), b.data(), static_cast<int>(b.size()), TRUE) ==
         CSTR_EQUAL;
}

namespace {
constexpr std::wstring_view Wildcards = L"*?";
std::size_t LastComponentStart(std::wstring_view name) noexcept {
  const std::size_t slash = name.find_last_of(L"\\/");
  return slash == std::wstring_view::npos ? 0 : slash + 1;
}
}  // namespace

std::wstring_view FolderPart(std::wstring_view name) noexcept { return name.substr(0, LastComponentStart(name)); }
std::wstring_view FilePart(std::wstring_view name) noexcept { return name.substr(LastComponentStart(name)); }

bool IsDeviceName(std::wstring_view name) noexcept {
  std::wstring_view base = FilePart(name);
  // Windows ignores what follows the first dot, and the blanks before it.
  base = base.substr(0, base.find(L'.'));
  while (!base.empty() && base.back() == L' ') base.remove_suffix(1);
  for (std::wstring_view device : {L"CON", L"PRN", L"AUX", L"NUL", L"CONIN$", L"CONOUT$"})
    if (SameName(base, device)) return true;
  if (base.size() != 4) return false;
  const wchar_t digit = base[3];
  const bool port = (digit >= L'1' && digit <= L'9') || digit == L'\u00B9' || digit == L'\u00B2' || digit == L'\u00B3';
  return port && (SameName(base.substr(0, 3), L"COM") || SameName(base.substr(0, 3), L"LPT"));
}

bool IsTablePattern(std::wstring_view name) noexcept {
  return FilePart(name).find_first_of(Wildcards) != std::wstring_view::npos;
}

bool HasFolderWildcard(std::wstring_view name) noexcept {
  return FolderPart(name).find_first_of(Wildcards) != std::wstring_view::npos;
}

bool MatchesPattern(std::wstring_view name, std::wstring_view pattern) noexcept {
  // Greedy with one step back to the last star: each star only ever moves
  // forward, so the match takes at most name × pattern steps.
  std::size_t n = 0, p = 0;
  std::size_t starAt = std::wstring_view::npos, resumeAt = 0;
  while (n < name.size()) {
    if (p < pattern.size() && pattern[p] == L'*') {
      starAt = p++;
      resumeAt = n;
    } else if (p < pattern.size() && (pattern[p] == L'?' || SameName(name.substr(n, 1), pattern.substr(p, 1)))) {
      ++n;
      ++p;
    } else if (starAt != std::wstring_view::npos) {
      p = starAt + 1;
      n = ++resumeAt;
    } else {
      return false;
    }
  }
  while (p < pattern.size() && pattern[p] == L'*') ++p;
  return p == pattern.size();
}

bool IsPossibleTableName(std::wstring_view name) noexcept {
  return IsTableNameInsideFolder(name) && !IsDeviceName(name) && !HasFolderWildcard(name);
}

std::wstring TableRefusal(std::wstring_view name, std::wstring_view reason) {
  return L"The table '" + std::wstring(name) + L"' " + std::wstring(reason) + L".";
}

void RefuseTable(std::wstring_view name, std::wstring_view reason) { OleDbError(DB_E_NOTABLE, TableRefusal(name, reason)); }

void CheckTableName(std::wstring_view name) {
  if (!IsTableNameInsideFolder(name)) RefuseTable(name, L"is not a file of the data source folder");
  if (IsDeviceName(name)) RefuseTable(name, L"names a device, not a file");
  if (HasFolderWildcard(name))
    RefuseTable(name, L"has a wildcard in a folder name; only the file name may hold * or ?");
}
