#pragma once
// Accessors: the bindings a consumer describes its buffers with, the list a
// rowset or command keeps them in and the IAccessor answers over that list.
#include "OLEDbHandleMap.h"

#include <windows.h>
#include <oledb.h>

#include <cstddef>
#include <memory>
#include <unordered_map>

class TOleDbColumns;

// Binding copies: byte for byte, pBindExt dropped, the DBOBJECT of a
// DBTYPE_IUNKNOWN binding copied into its own task-memory block. A failed
// copy frees the blocks it made and raises. Copying n > 0 bindings from or
// to nowhere raises E_INVALIDARG.
void CopyBindings(DBBINDING* target, const DBBINDING* source, DBCOUNTITEM count);
// Frees the pObject and pBindExt blocks of count bindings.
void FreeBindingBlocks(DBBINDING* bindings, DBCOUNTITEM count) noexcept;

// Frees a task-memory binding array together with its blocks.
struct TBindingArrayDeleter {
  DBCOUNTITEM Count = 0;
  void operator()(DBBINDING* bindings) const noexcept;
};

class TOleDbAccessor {
public:
  TOleDbAccessor(DBACCESSORFLAGS flags, DBLENGTH rowSize, DBCOUNTITEM bindingCount, const DBBINDING* bindings);
  ~TOleDbAccessor();
  TOleDbAccessor(const TOleDbAccessor&) = delete;
  TOleDbAccessor& operator=(const TOleDbAccessor&) = delete;

  DBACCESSORFLAGS Flags() const noexcept { return flags_; }
  // Stored and reported; nothing is checked against it.
  DBLENGTH RowSize() const noexcept { return rowSize_; }
  DBCOUNTITEM BindingCount() const noexcept { return bindingCount_; }
  const DBBINDING* Bindings() const noexcept { return bindings_.get(); }
  const DBBINDING& Binding(DBCOUNTITEM index) const noexcept { return bindings_[index]; }
  // The handle the owning list issued; 0 while the accessor is in no list.
  HACCESSOR Handle() const noexcept { return handle_; }
  LONG RefCount() const noexcept { return refCount_; }

  bool IsNullAccessor() const noexcept { return bindingCount_ == 0; }
  bool IsRowData() const noexcept { return (flags_ & DBACCESSOR_ROWDATA) != 0; }

  // Replaces the bindings with a copy; on failure the accessor has none.
  void SetBindings(DBCOUNTITEM count, const DBBINDING* bindings);
  // Flags, row size and a copy of the bindings; the reference count stays.
  void CopyFrom(const TOleDbAccessor& source);

  LONG AddRef() noexcept { return InterlockedIncrement(&refCount_); }
  // Never below 0: releasing an accessor without references leaves it at 0.
  LONG Release() noexcept;

private:
  friend class TOleDbAccessors;

  DBACCESSORFLAGS flags_;
  DBLENGTH rowSize_;
  DBCOUNTITEM bindingCount_ = 0;
  std::unique_ptr<DBBINDING[], TBindingArrayDeleter> bindings_;
  HACCESSOR handle_ = 0;
  volatile LONG refCount_ = 0;
};

// The accessors of one rowset or command, known by numbers of one
// process-wide sequence (see THandleSequence): a handle issued by one object
// is unknown to every other, except to the rowsets that inherited the
// accessor from the command that issued it.
class TOleDbAccessors {
public:
  TOleDbAccessors() = default;
  TOleDbAccessors(const TOleDbAccessors&) = delete;
  TOleDbAccessors& operator=(const TOleDbAccessors&) = delete;
  ~TOleDbAccessors() { Clear(); }

  // A new registered accessor without references.
  TOleDbAccessor& CreateAccessor(DBACCESSORFLAGS flags, DBLENGTH rowSize, const DBBINDING* bindings,
                                 DBCOUNTITEM count);
  // A registered copy of source under a new handle, without references.
  TOleDbAccessor& CreateCopy(const TOleDbAccessor& source);
  // A registered copy of source under source's own handle, with one
  // reference: what a rowset keeps of its command's row-data accessor.
  TOleDbAccessor& CreateInheritedCopy(const TOleDbAccessor& source);
  // O(log n); null for 0, stale, foreign and never issued handles.
  TOleDbAccessor* FindAccessor(HACCESSOR handle) const noexcept { return map_.FindHandle(handle); }
  std::size_t Count() const noexcept { return map_.Count(); }
  // In the order of the handles' decimal texts.
  TOleDbAccessor& AccessorAt(std::size_t index) const { return *map_.ObjectAt(index); }
  TOleDbAccessor* FindNullAccessor() const noexcept;

  // Drops one reference and destroys the accessor at 0; returns the new count.
  LONG ReleaseAccessor(TOleDbAccessor& accessor);
  void Clear() noexcept;

private:
  TOleDbAccessor& Register(std::unique_ptr<TOleDbAccessor> accessor);
  TOleDbAccessor& Own(std::unique_ptr<TOleDbAccessor> accessor, HACCESSOR handle);

  THandleMap<TOleDbAccessor> map_;
  std::unordered_map<HACCESSOR, std::unique_ptr<TOleDbAccessor>> owned_;
};

// What the object behind IAccessor contributes to binding validation.
struct TAccessorRules {
  // The rowset rules: row data only, by-reference accessors on request.
  bool Rowset = false;
  // DBPROP_BYREFACCESSORS of the rowset.
  bool ByRefAccessors = false;
  // DBPROP_BOOKMARKS of the rowset: only then may ordinal 0 be bound.
  bool Bookmarks = false;
  // When given, row data bindings to these columns are checked for a
  // conversion the data conversion library can make.
  const TOleDbColumns* Columns = nullptr;
};

// Implements IAccessor for the rowset or command that owns it.
class TOleDbAccessorStorage {
public:
  // Raises E_FAIL "Accessors must be defined" without a list.
  explicit TOleDbAccessorStorage(std::unique_ptr<TOleDbAccessors> accessors);

  TOleDbAccessors& Accessors() const noexcept { return *accessors_; }

  // Validates flags and every binding; failed bindings get their status
  // (when rgStatus is given) and the call raises DB_E_ERRORSOCCURRED after
  // all were examined. Passing bindings get DBBINDSTATUS_OK.
  void CheckCreateAccessor(DBACCESSORFLAGS flags, DBCOUNTITEM cBindings, const DBBINDING* rgBindings,
                           DBBINDSTATUS* rgStatus, const TAccessorRules& rules) const;
  // Creation after validation: a request without bindings reuses the first
  // null accessor; the accessor gains one reference.
  void CreateAccessor(DBACCESSORFLAGS flags, DBCOUNTITEM cBindings, HACCESSOR* phAccessor, DBLENGTH cbRowSize,
                      const DBBINDING* rgBindings);
  // IAccessor::CreateAccessor: argument checks, validation and creation.
  void CreateAccessor(DBACCESSORFLAGS flags, DBCOUNTITEM cBindings, const DBBINDING* rgBindings,
                      DBLENGTH cbRowSize, HACCESSOR* phAccessor, DBBINDSTATUS* rgStatus,
                      const TAccessorRules& rules);
  void AddRefAccessor(HACCESSOR hAccessor, DBREFCOUNT* pcRefCount);
  void ReleaseAccessor(HACCESSOR hAccessor, DBREFCOUNT* pcRefCount);
  // A consumer-owned copy of the bindings (null for a null accessor).
  void GetBindings(HACCESSOR hAccessor, DBACCESSORFLAGS* pdwFlags, DBCOUNTITEM* pcBindings,
                   DBBINDING** prgBindings) const;

private:
  TOleDbAccessor& Find(HACCESSOR hAccessor) const;

  std::unique_ptr<TOleDbAccessors> accessors_;
};
