#pragma once
// An owned copy of an OLE DB identifier (DBID) of any kind, and the helpers
// that compare and release the published structure.
#include <windows.h>
#include <oledb.h>

#include <string>

class TOleDbDBID {
public:
  // 0 = no identifier; otherwise the published DBKIND value + 1.
  BYTE Kind = 0;
  // Held inline for the two PGUID kinds as well.
  GUID Guid = GUID_NULL;
  std::wstring Name;
  ULONG PropID = 0;

  bool IsEmpty() const noexcept { return Kind == 0; }
  DBKIND DBKind() const noexcept { return static_cast<DBKIND>(Kind - 1); }

  void Clear() noexcept;
  // Raises E_FAIL "Invalid DBID format" for an unknown eKind and E_INVALIDARG
  // for a PGUID kind without its GUID; the wrapper is cleared either way.
  void Assign(const DBID& id);
  // Releases what id holds and fills it with task-memory copies; false (and
  // id untouched) when this wrapper is empty.
  bool ExportTo(DBID& id) const;
  // An empty wrapper equals nothing.
  bool Equals(const DBID& id) const noexcept;
};

bool DBIDHasName(DBKIND kind) noexcept;
bool DBIDHasPropID(DBKIND kind) noexcept;
bool DBIDHasPointerGuid(DBKIND kind) noexcept;

// Equal kinds and equal fields of that kind; names case-sensitive, a null
// name equal to an empty one, a missing GUID pointer equal only to another.
bool DBIDEquals(const DBID& a, const DBID& b) noexcept;
// Frees the GUID block and the name a consumer-owned DBID holds, then zeroes it.
void DBIDRelease(DBID& id) noexcept;

// Validates the table and index identifiers of an open request and yields
// their names (empty for identifiers that are not of a name kind).
void CheckTableAndIndexID(const DBID* tableID, const DBID* indexID, std::wstring& tableName,
                          std::wstring& indexName);
