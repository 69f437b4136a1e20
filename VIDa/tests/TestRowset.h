#pragma once
// A small COM object answering IColumnsInfo and IAccessor through the
// toolkit's column and accessor storages, for tests at the consumer's side.
#include <windows.h>
#include <oledb.h>

#include "ComObj.h"
#include "ComPtr.h"
#include "OLEDbAccessor.h"
#include "OLEDbColumnStorage.h"

class TTestRowset : public TComImpl<TComObject, IColumnsInfo, IAccessor> {
public:
  // The rowset properties binding validation depends on.
  struct TOptions {
    bool Bookmarks = false;
    bool ByRefAccessors = false;
    // Check row data bindings against the columns' types.
    bool CheckConversions = true;
  };

  explicit TTestRowset(TOptions options);

  TOleDbColumns& Columns() const noexcept { return columnStorage_.Columns(); }
  TOleDbAccessors& Accessors() const noexcept { return accessorStorage_.Accessors(); }

  // IColumnsInfo
  HRESULT STDMETHODCALLTYPE GetColumnInfo(DBORDINAL* pcColumns, DBCOLUMNINFO** prgInfo,
                                          OLECHAR** ppStringsBuffer) override;
  HRESULT STDMETHODCALLTYPE MapColumnIDs(DBORDINAL cColumnIDs, const DBID rgColumnIDs[],
                                         DBORDINAL rgColumns[]) override;
  // IAccessor
  HRESULT STDMETHODCALLTYPE AddRefAccessor(HACCESSOR hAccessor, DBREFCOUNT* pcRefCount) override;
  HRESULT STDMETHODCALLTYPE CreateAccessor(DBACCESSORFLAGS dwAccessorFlags, DBCOUNTITEM cBindings,
                                           const DBBINDING rgBindings[], DBLENGTH cbRowSize,
                                           HACCESSOR* phAccessor, DBBINDSTATUS rgStatus[]) override;
  HRESULT STDMETHODCALLTYPE GetBindings(HACCESSOR hAccessor, DBACCESSORFLAGS* pdwAccessorFlags,
                                        DBCOUNTITEM* pcBindings, DBBINDING** prgBindings) override;
  HRESULT STDMETHODCALLTYPE ReleaseAccessor(HACCESSOR hAccessor, DBREFCOUNT* pcRefCount) override;

private:
  TOptions options_;
  mutable TOleDbColumnStorage columnStorage_;
  mutable TOleDbAccessorStorage accessorStorage_;
};

// A rowset with the given options, handed out with one reference.
TComPtr<TTestRowset> MakeTestRowset(TTestRowset::TOptions options = {});

// The interface a consumer would hold.
template <class I>
TComPtr<I> ConsumerInterface(const TComPtr<TTestRowset>& rowset) {
  TComPtr<I> result;
  rowset.As(result, TComInterfaceId<I>::Get());
  return result;
}
