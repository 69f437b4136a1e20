#include "OLEDbAccessor.h"

#include "Diagnostics.h"
#include "OLEDbColumns.h"
#include "OLEDbDataConvert.h"
#include "OLEDbError.h"
#include "OLEDbTaskMemory.h"

#include <oledberr.h>

#include <cstdio>
#include <cstring>

namespace {
constexpr DBTYPE ByRefArray = DBTYPE_BYREF | DBTYPE_ARRAY;
constexpr DBTYPE ByRefVector = DBTYPE_BYREF | DBTYPE_VECTOR;
constexpr DBTYPE ArrayVector = DBTYPE_ARRAY | DBTYPE_VECTOR;
// STGM_WRITE | STGM_READWRITE: no access mode has both bits.
constexpr DWORD InvalidAccessMode = 0x3;

bool HasBoth(DBTYPE type, DBTYPE bits) noexcept { return (type & bits) == bits; }

bool IsBadBindInfo(const DBBINDING& binding) noexcept {
  const DBTYPE type = binding.wType;
  return binding.dwPart == 0 || HasBoth(type, ByRefArray) || HasBoth(type, ByRefVector) ||
         HasBoth(type, ArrayVector) || type == DBTYPE_EMPTY || type == DBTYPE_NULL || (type & DBTYPE_RESERVED) != 0 ||
         binding.dwMemOwner == DBMEMOWNER_PROVIDEROWNED;
}

// Storage objects are handed out as the BLOB stream, which answers only
// these two interfaces.
bool IsStreamInterface(REFIID iid) noexcept {
  return IsEqualGUID(iid, IID_ISequentialStream) || IsEqualGUID(iid, IID_IUnknown);
}

DBBINDSTATUS BindingStatus(const DBBINDING& binding, const TAccessorRules& rules, IDataConvert* convert) {
  if (binding.iOrdinal == 0 && !(rules.Rowset && rules.Bookmarks)) return DBBINDSTATUS_BADORDINAL;
  if (IsBadBindInfo(binding)) return DBBINDSTATUS_BADBINDINFO;
  if (binding.wType == DBTYPE_IUNKNOWN) {
    if (binding.pObject) {
      if ((binding.pObject->dwFlags & InvalidAccessMode) == InvalidAccessMode) return DBBINDSTATUS_BADSTORAGEFLAGS;
      if (!IsStreamInterface(binding.pObject->iid)) return DBBINDSTATUS_NOINTERFACE;
    }
    return DBBINDSTATUS_OK;
  }
  // Long columns and storage objects go through BLOB readers, not conversions.
  if (convert && (binding.dwPart & DBPART_VALUE)) {
    const TOleDbColumn* column = rules.Columns->FindByOrdinal(binding.iOrdinal);
    if (column && !column->IsLong() &&
        convert->CanConvert(column->DataType, static_cast<DBTYPE>(binding.wType & ~DBTYPE_BYREF)) != S_OK)
      return DBBINDSTATUS_UNSUPPORTEDCONVERSION;
  }
  return DBBINDSTATUS_OK;
}

void WriteCreationDiagnostic(DBACCESSORFLAGS flags) {
  char line[48];
  snprintf(line, sizeof line, "Creating accessor.Flags: 0x%08lX", static_cast<unsigned long>(flags));
  OleDbDebugOutput(line);
}
}  // namespace

void CopyBindings(DBBINDING* target, const DBBINDING* source, DBCOUNTITEM count) {
  if (count == 0) return;
  if (!target || !source) throw EOleDbException(E_INVALIDARG);
  memcpy(target, source, count * sizeof(DBBINDING));
  for (DBCOUNTITEM i = 0; i < count; ++i) {
    target[i].pObject = nullptr;
    target[i].pBindExt = nullptr;
  }
  try {
    for (DBCOUNTITEM i = 0; i < count; ++i) {
      if (source[i].wType != DBTYPE_IUNKNOWN || !source[i].pObject) continue;
      auto* object = static_cast<DBOBJECT*>(OleDbAlloc(sizeof(DBOBJECT)));
      *object = *source[i].pObject;
      target[i].pObject = object;
    }
  } catch (...) {
    FreeBindingBlocks(target, count);
    throw;
  }
}

void FreeBindingBlocks(DBBINDING* bindings, DBCOUNTITEM count) noexcept {
  if (!bindings) return;
  for (DBCOUNTITEM i = 0; i < count; ++i) {
    CoTaskMemFree(bindings[i].pObject);
    CoTaskMemFree(bindings[i].pBindExt);
    bindings[i].pObject = nullptr;
    bindings[i].pBindExt = nullptr;
  }
}

// ---------------------------------------------------------------------------

void TBindingArrayDeleter::operator()(DBBINDING* bindings) const noexcept {
  FreeBindingBlocks(bindings, Count);
  CoTaskMemFree(bindings);
}

TOleDbAccessor::TOleDbAccessor(DBACCESSORFLAGS flags, DBLENGTH rowSize, DBCOUNTITEM bindingCount,
                               const DBBINDING* bindings)
    : flags_(flags), rowSize_(rowSize) {
  SetBindings(bindingCount, bindings);
}

TOleDbAccessor::~TOleDbAccessor() = default;

void TOleDbAccessor::SetBindings(DBCOUNTITEM count, const DBBINDING* bindings) {
  bindings_.reset();
  bindingCount_ = 0;
  if (count == 0) return;
  if (!bindings) throw EOleDbException(E_INVALIDARG);
  TTaskMemory<DBBINDING[]> copy = OleDbAllocArray<DBBINDING>(count);
  CopyBindings(copy.get(), bindings, count);
  bindings_ = std::unique_ptr<DBBINDING[], TBindingArrayDeleter>(copy.release(), TBindingArrayDeleter{count});
  bindingCount_ = count;
}

void TOleDbAccessor::CopyFrom(const TOleDbAccessor& source) {
  if (&source == this) return;
  SetBindings(source.bindingCount_, source.bindings_.get());
  flags_ = source.flags_;
  rowSize_ = source.rowSize_;
}

LONG TOleDbAccessor::Release() noexcept {
  LONG count = refCount_;
  while (count > 0) {
    const LONG seen = InterlockedCompareExchange(&refCount_, count - 1, count);
    if (seen == count) return count - 1;
    count = seen;
  }
  return 0;
}

// ---------------------------------------------------------------------------

namespace {
// One sequence for every rowset and command, so that an accessor handle is
// known only where it was issued.
THandleSequence& AccessorHandleSequence() {
  static THandleSequence sequence;
  return sequence;
}
}  // namespace

TOleDbAccessor& TOleDbAccessors::Register(std::unique_ptr<TOleDbAccessor> accessor) {
  const HACCESSOR handle = map_.AddNew(AccessorHandleSequence(), accessor.get());
  return Own(std::move(accessor), handle);
}

TOleDbAccessor& TOleDbAccessors::Own(std::unique_ptr<TOleDbAccessor> accessor, HACCESSOR handle) {
  try {
    accessor->handle_ = handle;
    TOleDbAccessor& registered = *accessor;
    owned_.emplace(handle, std::move(accessor));
    return registered;
  } catch (...) {
    std::int32_t key;
    if (HandleKeyFromValue(handle, key)) map_.Remove(key);
    throw;
  }
}

TOleDbAccessor& TOleDbAccessors::CreateAccessor(DBACCESSORFLAGS flags, DBLENGTH rowSize, const DBBINDING* bindings,
                                                DBCOUNTITEM count) {
  return Register(std::make_unique<TOleDbAccessor>(flags, rowSize, count, bindings));
}

TOleDbAccessor& TOleDbAccessors::CreateCopy(const TOleDbAccessor& source) {
  auto copy = std::make_unique<TOleDbAccessor>(source.Flags(), source.RowSize(), 0, nullptr);
  copy->CopyFrom(source);
  return Register(std::move(copy));
}

TOleDbAccessor& TOleDbAccessors::CreateInheritedCopy(const TOleDbAccessor& source) {
  std::int32_t key;
  if (!HandleKeyFromValue(source.Handle(), key)) throw EOleDbException(DB_E_BADACCESSORHANDLE);
  auto copy = std::make_unique<TOleDbAccessor>(source.Flags(), source.RowSize(), 0, nullptr);
  copy->CopyFrom(source);
  copy->AddRef();
  map_.Add(key, copy.get());
  return Own(std::move(copy), source.Handle());
}

TOleDbAccessor* TOleDbAccessors::FindNullAccessor() const noexcept {
  for (std::size_t i = 0; i < map_.Count(); ++i)
    if (map_.ObjectAt(i)->IsNullAccessor()) return map_.ObjectAt(i);
  return nullptr;
}

LONG TOleDbAccessors::ReleaseAccessor(TOleDbAccessor& accessor) {
  const LONG count = accessor.Release();
  if (count == 0) {
    const HACCESSOR handle = accessor.Handle();
    std::int32_t key;
    if (HandleKeyFromValue(handle, key)) map_.Remove(key);
    owned_.erase(handle);
  }
  return count;
}

void TOleDbAccessors::Clear() noexcept {
  map_.Clear();
  owned_.clear();
}

// ---------------------------------------------------------------------------

TOleDbAccessorStorage::TOleDbAccessorStorage(std::unique_ptr<TOleDbAccessors> accessors)
    : accessors_(std::move(accessors)) {
  if (!accessors_) throw EOleError(L"Accessors must be defined", E_FAIL);
}

TOleDbAccessor& TOleDbAccessorStorage::Find(HACCESSOR hAccessor) const {
  TOleDbAccessor* accessor = accessors_->FindAccessor(hAccessor);
  if (!accessor) throw EOleDbException(DB_E_BADACCESSORHANDLE);
  return *accessor;
}

void TOleDbAccessorStorage::CheckCreateAccessor(DBACCESSORFLAGS flags, DBCOUNTITEM cBindings,
                                                const DBBINDING* rgBindings, DBBINDSTATUS* rgStatus,
                                                const TAccessorRules& rules) const {
  if (cBindings > 0 && !rgBindings) throw EOleDbException(E_INVALIDARG);
  if (flags == 0 || flags > DBACCESSOR_INHERITED) throw EOleDbException(DB_E_BADACCESSORFLAGS);
  if (rules.Rowset) {
    if (!(flags & DBACCESSOR_ROWDATA)) throw EOleDbException(DB_E_BADACCESSORFLAGS);
    if ((flags & DBACCESSOR_PASSBYREF) && !rules.ByRefAccessors)
      throw EOleDbException(DB_E_BYREFACCESSORNOTSUPPORTED);
  }
  IDataConvert* convert = nullptr;
  if (rules.Columns && cBindings > 0 && (flags & DBACCESSOR_ROWDATA) && !(flags & DBACCESSOR_PASSBYREF))
    convert = GetDataConvert();
  DBCOUNTITEM failed = 0;
  for (DBCOUNTITEM i = 0; i < cBindings; ++i) {
    const DBBINDSTATUS status = BindingStatus(rgBindings[i], rules, convert);
    if (rgStatus) rgStatus[i] = status;
    if (status != DBBINDSTATUS_OK) ++failed;
  }
  if (failed > 0) throw EOleDbException(DB_E_ERRORSOCCURRED);
}

void TOleDbAccessorStorage::CreateAccessor(DBACCESSORFLAGS flags, DBCOUNTITEM cBindings, HACCESSOR* phAccessor,
                                           DBLENGTH cbRowSize, const DBBINDING* rgBindings) {
  if (!phAccessor) throw EOleDbException(E_INVALIDARG);
  TOleDbAccessor* accessor = cBindings == 0 ? accessors_->FindNullAccessor() : nullptr;
  if (!accessor) {
    WriteCreationDiagnostic(flags);
    accessor = &accessors_->CreateAccessor(flags, cbRowSize, rgBindings, cBindings);
  }
  accessor->AddRef();
  *phAccessor = accessor->Handle();
}

void TOleDbAccessorStorage::CreateAccessor(DBACCESSORFLAGS flags, DBCOUNTITEM cBindings, const DBBINDING* rgBindings,
                                           DBLENGTH cbRowSize, HACCESSOR* phAccessor, DBBINDSTATUS* rgStatus,
                                           const TAccessorRules& rules) {
  if (!phAccessor) throw EOleDbException(E_INVALIDARG);
  *phAccessor = DB_NULL_HACCESSOR;
  CheckCreateAccessor(flags, cBindings, rgBindings, rgStatus, rules);
  CreateAccessor(flags, cBindings, phAccessor, cbRowSize, rgBindings);
}

void TOleDbAccessorStorage::AddRefAccessor(HACCESSOR hAccessor, DBREFCOUNT* pcRefCount) {
  const LONG count = Find(hAccessor).AddRef();
  if (pcRefCount) *pcRefCount = static_cast<DBREFCOUNT>(count);
}

void TOleDbAccessorStorage::ReleaseAccessor(HACCESSOR hAccessor, DBREFCOUNT* pcRefCount) {
  const LONG count = accessors_->ReleaseAccessor(Find(hAccessor));
  if (pcRefCount) *pcRefCount = static_cast<DBREFCOUNT>(count);
}

void TOleDbAccessorStorage::GetBindings(HACCESSOR hAccessor, DBACCESSORFLAGS* pdwFlags, DBCOUNTITEM* pcBindings,
                                        DBBINDING** prgBindings) const {
  if (pcBindings) *pcBindings = 0;
  if (prgBindings) *prgBindings = nullptr;
  const TOleDbAccessor& accessor = Find(hAccessor);
  if (!pdwFlags || !pcBindings || !prgBindings) throw EOleDbException(E_INVALIDARG);
  if (!accessor.IsNullAccessor()) {
    const DBCOUNTITEM count = accessor.BindingCount();
    TTaskMemory<DBBINDING[]> copy = OleDbAllocArray<DBBINDING>(count);
    CopyBindings(copy.get(), accessor.Bindings(), count);
    *prgBindings = copy.release();
    *pcBindings = count;
  }
  *pdwFlags = accessor.Flags();
}
