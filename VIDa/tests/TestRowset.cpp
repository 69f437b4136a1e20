#include "TestRowset.h"

#include "OLEDbBase.h"

TTestRowset::TTestRowset(TOptions options)
    : options_(options),
      columnStorage_(std::make_unique<TOleDbColumns>()),
      accessorStorage_(std::make_unique<TOleDbAccessors>()) {}

HRESULT TTestRowset::GetColumnInfo(DBORDINAL* pcColumns, DBCOLUMNINFO** prgInfo, OLECHAR** ppStringsBuffer) {
  return OleDbGuard(*this, [&] { columnStorage_.GetColumnInfo(pcColumns, prgInfo, ppStringsBuffer); });
}

HRESULT TTestRowset::MapColumnIDs(DBORDINAL cColumnIDs, const DBID rgColumnIDs[], DBORDINAL rgColumns[]) {
  return OleDbGuard(*this, [&] { OleDbError(columnStorage_.MapColumnIDs(cColumnIDs, rgColumnIDs, rgColumns)); });
}

HRESULT TTestRowset::AddRefAccessor(HACCESSOR hAccessor, DBREFCOUNT* pcRefCount) {
  return OleDbGuard(*this, [&] { accessorStorage_.AddRefAccessor(hAccessor, pcRefCount); });
}

HRESULT TTestRowset::CreateAccessor(DBACCESSORFLAGS dwAccessorFlags, DBCOUNTITEM cBindings,
                                    const DBBINDING rgBindings[], DBLENGTH cbRowSize, HACCESSOR* phAccessor,
                                    DBBINDSTATUS rgStatus[]) {
  return OleDbGuard(*this, [&] {
    TAccessorRules rules;
    rules.Rowset = true;
    rules.Bookmarks = options_.Bookmarks;
    rules.ByRefAccessors = options_.ByRefAccessors;
    rules.Columns = options_.CheckConversions ? &columnStorage_.Columns() : nullptr;
    accessorStorage_.CreateAccessor(dwAccessorFlags, cBindings, rgBindings, cbRowSize, phAccessor, rgStatus, rules);
  });
}

HRESULT TTestRowset::GetBindings(HACCESSOR hAccessor, DBACCESSORFLAGS* pdwAccessorFlags, DBCOUNTITEM* pcBindings,
                                 DBBINDING** prgBindings) {
  return OleDbGuard(*this, [&] { accessorStorage_.GetBindings(hAccessor, pdwAccessorFlags, pcBindings, prgBindings); });
}

HRESULT TTestRowset::ReleaseAccessor(HACCESSOR hAccessor, DBREFCOUNT* pcRefCount) {
  return OleDbGuard(*this, [&] { accessorStorage_.ReleaseAccessor(hAccessor, pcRefCount); });
}

TComPtr<TTestRowset> MakeTestRowset(TTestRowset::TOptions options) { return MakeComObject<TTestRowset>(options); }
