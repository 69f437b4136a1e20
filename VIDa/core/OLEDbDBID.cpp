#include "OLEDbDBID.h"

#include "OLEDbError.h"
#include "OLEDbTaskMemory.h"

#include <oledberr.h>

#include <cwchar>

namespace {
const wchar_t* NameOrEmpty(const wchar_t* name) noexcept { return name ? name : L""; }

bool SameName(const wchar_t* a, const wchar_t* b) noexcept { return wcscmp(NameOrEmpty(a), NameOrEmpty(b)) == 0; }

bool SameGuidPointer(const GUID* a, const GUID* b) noexcept {
  if (!a || !b) return a == b;
  return IsEqualGUID(*a, *b) != FALSE;
}

bool IsNameKind(DBKIND kind) noexcept {
  return kind == DBKIND_GUID_NAME || kind == DBKIND_NAME || kind == DBKIND_PGUID_NAME;
}
}  // namespace

bool DBIDHasName(DBKIND kind) noexcept { return IsNameKind(kind); }

bool DBIDHasPropID(DBKIND kind) noexcept {
  return kind == DBKIND_GUID_PROPID || kind == DBKIND_PGUID_PROPID || kind == DBKIND_PROPID;
}

bool DBIDHasPointerGuid(DBKIND kind) noexcept { return kind == DBKIND_PGUID_NAME || kind == DBKIND_PGUID_PROPID; }

void TOleDbDBID::Clear() noexcept {
  Kind = 0;
  Guid = GUID_NULL;
  Name.clear();
  PropID = 0;
}

void TOleDbDBID::Assign(const DBID& id) {
  Clear();
  switch (id.eKind) {
    case DBKIND_GUID_NAME:
      Guid = id.uGuid.guid;
      Name = NameOrEmpty(id.uName.pwszName);
      break;
    case DBKIND_GUID_PROPID:
      Guid = id.uGuid.guid;
      PropID = id.uName.ulPropid;
      break;
    case DBKIND_PROPID:
      PropID = id.uName.ulPropid;
      break;
    case DBKIND_NAME:
      Name = NameOrEmpty(id.uName.pwszName);
      break;
    case DBKIND_PGUID_NAME:
      if (!id.uGuid.pguid) throw EOleDbException(E_INVALIDARG);
      Guid = *id.uGuid.pguid;
      Name = NameOrEmpty(id.uName.pwszName);
      break;
    case DBKIND_PGUID_PROPID:
      if (!id.uGuid.pguid) throw EOleDbException(E_INVALIDARG);
      Guid = *id.uGuid.pguid;
      PropID = id.uName.ulPropid;
      break;
    case DBKIND_GUID:
      Guid = id.uGuid.guid;
      break;
    default:
      throw EOleError(L"Invalid DBID format", E_FAIL);
  }
  Kind = static_cast<BYTE>(id.eKind + 1);
}

bool TOleDbDBID::ExportTo(DBID& id) const {
  if (IsEmpty()) return false;
  const DBKIND kind = DBKind();
  // Allocate everything before the old contents go, so a failure leaves id whole.
  TTaskMemory<GUID> guidBlock;
  if (DBIDHasPointerGuid(kind)) {
    guidBlock.reset(static_cast<GUID*>(OleDbAlloc(sizeof(GUID))));
    *guidBlock = Guid;
  }
  wchar_t* name = IsNameKind(kind) ? OleDbStrDup(Name.c_str()) : nullptr;
  DBIDRelease(id);
  if (guidBlock)
    id.uGuid.pguid = guidBlock.release();
  else if (kind == DBKIND_GUID_NAME || kind == DBKIND_GUID_PROPID || kind == DBKIND_GUID)
    id.uGuid.guid = Guid;
  if (name)
    id.uName.pwszName = name;
  else if (DBIDHasPropID(kind))
    id.uName.ulPropid = PropID;
  id.eKind = kind;
  return true;
}

bool TOleDbDBID::Equals(const DBID& id) const noexcept {
  if (IsEmpty() || id.eKind != DBKind()) return false;
  switch (id.eKind) {
    case DBKIND_GUID_NAME:
      return IsEqualGUID(Guid, id.uGuid.guid) && Name == NameOrEmpty(id.uName.pwszName);
    case DBKIND_GUID_PROPID:
      return IsEqualGUID(Guid, id.uGuid.guid) && PropID == id.uName.ulPropid;
    case DBKIND_NAME:
      return Name == NameOrEmpty(id.uName.pwszName);
    case DBKIND_PGUID_NAME:
      return id.uGuid.pguid && IsEqualGUID(Guid, *id.uGuid.pguid) && Name == NameOrEmpty(id.uName.pwszName);
    case DBKIND_PGUID_PROPID:
      return id.uGuid.pguid && IsEqualGUID(Guid, *id.uGuid.pguid) && PropID == id.uName.ulPropid;
    case DBKIND_PROPID:
      return PropID == id.uName.ulPropid;
    case DBKIND_GUID:
      return IsEqualGUID(Guid, id.uGuid.guid) != FALSE;
    default:
      return false;
  }
}

bool DBIDEquals(const DBID& a, const DBID& b) noexcept {
  if (a.eKind != b.eKind) return false;
  switch (a.eKind) {
    case DBKIND_GUID_NAME:
      return IsEqualGUID(a.uGuid.guid, b.uGuid.guid) && SameName(a.uName.pwszName, b.uName.pwszName);
    case DBKIND_GUID_PROPID:
      return IsEqualGUID(a.uGuid.guid, b.uGuid.guid) && a.uName.ulPropid == b.uName.ulPropid;
    case DBKIND_NAME:
      return SameName(a.uName.pwszName, b.uName.pwszName);
    case DBKIND_PGUID_NAME:
      return SameGuidPointer(a.uGuid.pguid, b.uGuid.pguid) && SameName(a.uName.pwszName, b.uName.pwszName);
    case DBKIND_PGUID_PROPID:
      return SameGuidPointer(a.uGuid.pguid, b.uGuid.pguid) && a.uName.ulPropid == b.uName.ulPropid;
    case DBKIND_PROPID:
      return a.uName.ulPropid == b.uName.ulPropid;
    case DBKIND_GUID:
      return IsEqualGUID(a.uGuid.guid, b.uGuid.guid) != FALSE;
    default:
      return false;
  }
}

void DBIDRelease(DBID& id) noexcept {
  if (DBIDHasPointerGuid(id.eKind)) CoTaskMemFree(id.uGuid.pguid);
  if (IsNameKind(id.eKind)) CoTaskMemFree(id.uName.pwszName);
  id = DBID{};
}

void CheckTableAndIndexID(const DBID* tableID, const DBID* indexID, std::wstring& tableName,
                          std::wstring& indexName) {
  if (!tableID && !indexID) throw EOleDbException(E_INVALIDARG);
  if (tableID && IsNameKind(tableID->eKind) && !tableID->uName.pwszName) throw EOleDbException(DB_E_NOTABLE);
  if (indexID && IsNameKind(indexID->eKind) && !indexID->uName.pwszName) throw EOleDbException(DB_E_NOINDEX);
  tableName = tableID && IsNameKind(tableID->eKind) ? tableID->uName.pwszName : L"";
  indexName = indexID && IsNameKind(indexID->eKind) ? indexID->uName.pwszName : L"";
}
