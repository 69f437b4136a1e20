// The rowset's metadata interfaces: IAccessor, IColumnsInfo, IColumnsRowset,
// IRowsetInfo, IConvertType and IConnectionPointContainer.
#include "OLEDbRowset.h"

#include <oledberr.h>


#include "OLEDbDataConvert.h"
#include "OLEDbDBID.h"
#include "OLEDbTaskMemory.h"

namespace {
bool RowsetFlag(const TOleDbPropertySets& sets, DBPROPID id) {
  VARIANT value;
  VariantInit(&value);
  const bool found = sets.GetValue(DBPROPSET_ROWSET, id, value);
  const bool on = found && V_VT(&value) == VT_BOOL && V_BOOL(&value) != VARIANT_FALSE;
  VariantClear(&value);
  return on;
}

// A consumer-owned copy of ids: one task-memory block; names and GUIDs
// pointed to are blocks of their own.
DBID* CopyColumnIDs(const std::vector<TOleDbDBID>& ids) {
  TTaskMemory<DBID[]> block = OleDbAllocArray<DBID>(ids.size());
  try {
    for (std::size_t i = 0; i < ids.size(); ++i) ids[i].ExportTo(block[i]);
  } catch (...) {
    for (std::size_t i = 0; i < ids.size(); ++i) DBIDRelease(block[i]);
    throw;
  }
  return block.release();
}
}  // namespace

// ---- IAccessor

HRESULT TOleDbRowset::AddRefAccessor(HACCESSOR hAccessor, DBREFCOUNT* pcRefCount) {
  return Guard([&] { accessorStorage_->AddRefAccessor(hAccessor, pcRefCount); },
               [&](TOleDbTraceArgs& t) { t("hAccessor", hAccessor).Out("pcRefCount", pcRefCount); });
}

HRESULT TOleDbRowset::CreateAccessor(DBACCESSORFLAGS dwAccessorFlags, DBCOUNTITEM cBindings,
                                     const DBBINDING rgBindings[], DBLENGTH cbRowSize, HACCESSOR* phAccessor,
                                     DBBINDSTATUS rgStatus[]) {
  return Guard([&] {
    const TOleDbPropertySets& sets = PropertySets();
    TAccessorRules rules;
    rules.Rowset = true;
    rules.ByRefAccessors = RowsetFlag(sets, DBPROP_BYREFACCESSORS);
    rules.Bookmarks = RowsetFlag(sets, DBPROP_BOOKMARKS);
    rules.Columns = &columnStorage_->Columns();
    accessorStorage_->CreateAccessor(dwAccessorFlags, cBindings, rgBindings, cbRowSize, phAccessor, rgStatus, rules);
  }, [&](TOleDbTraceArgs& t) {
    t("dwAccessorFlags", dwAccessorFlags).Items("rgBindings", cBindings, rgBindings)("cbRowSize", cbRowSize);
    t.Out("phAccessor", phAccessor);
  });
}

HRESULT TOleDbRowset::GetBindings(HACCESSOR hAccessor, DBACCESSORFLAGS* pdwAccessorFlags, DBCOUNTITEM* pcBindings,
                                  DBBINDING** prgBindings) {
  return Guard([&] { accessorStorage_->GetBindings(hAccessor, pdwAccessorFlags, pcBindings, prgBindings); },
               [&](TOleDbTraceArgs& t) { t("hAccessor", hAccessor); });
}

HRESULT TOleDbRowset::ReleaseAccessor(HACCESSOR hAccessor, DBREFCOUNT* pcRefCount) {
  return Guard([&] { accessorStorage_->ReleaseAccessor(hAccessor, pcRefCount); },
               [&](TOleDbTraceArgs& t) { t("hAccessor", hAccessor).Out("pcRefCount", pcRefCount); });
}

// ---- IColumnsInfo

HRESULT TOleDbRowset::GetColumnInfo(DBORDINAL* pcColumns, DBCOLUMNINFO** prgInfo, OLECHAR** ppStringsBuffer) {
  return Guard([&] { columnStorage_->GetColumnInfo(pcColumns, prgInfo, ppStringsBuffer); },
               [&](TOleDbTraceArgs& t) { t.Out("pcColumns", pcColumns); });
}

HRESULT TOleDbRowset::MapColumnIDs(DBORDINAL cColumnIDs, const DBID rgColumnIDs[], DBORDINAL rgColumns[]) {
  return Guard([&] { OleDbError(columnStorage_->MapColumnIDs(cColumnIDs, rgColumnIDs, rgColumns)); },
               [&](TOleDbTraceArgs& t) { t.Items("rgColumnIDs", cColumnIDs, rgColumnIDs); });
}

// ---- IColumnsRowset

HRESULT TOleDbRowset::GetAvailableColumns(DBORDINAL* pcOptColumns, DBID** prgOptColumns) {
  return Guard([&] {
    if (pcOptColumns) *pcOptColumns = 0;
    if (prgOptColumns) *prgOptColumns = nullptr;
    if (!pcOptColumns || !prgOptColumns) throw EOleDbException(E_INVALIDARG);
    std::vector<TOleDbDBID> ids;
    Data().GetAvailableColumns(ids);
    if (ids.empty()) return;
    *prgOptColumns = CopyColumnIDs(ids);
    *pcOptColumns = ids.size();
  }, [&](TOleDbTraceArgs& t) { t.Out("pcOptColumns", pcOptColumns); });
}

HRESULT TOleDbRowset::GetColumnsRowset(IUnknown* pUnkOuter, DBORDINAL cOptColumns, const DBID rgOptColumns[],
                                       REFIID riid, ULONG cPropertySets, DBPROPSET rgPropertySets[],
                                       IUnknown** ppColRowset) {
  return Guard([&] {
    if (ppColRowset) *ppColRowset = nullptr;
    if (!ppColRowset) throw EOleDbException(E_INVALIDARG);
    OleDbError(columnsRowset_.GetColumnsRowset(columnStorage_->Columns(), pUnkOuter, cOptColumns, rgOptColumns, riid,
                                               cPropertySets, rgPropertySets, ppColRowset));
  }, [&](TOleDbTraceArgs& t) {
    t("pUnkOuter", pUnkOuter).Items("rgOptColumns", cOptColumns, rgOptColumns)("riid", riid);
    t.Items("rgPropertySets", cPropertySets, rgPropertySets);
  });
}

// ---- IRowsetInfo

HRESULT TOleDbRowset::GetProperties(const ULONG cPropertyIDSets, const DBPROPIDSET rgPropertyIDSets[],
                                    ULONG* pcPropertySets, DBPROPSET** prgPropertySets) {
  return Guard([&] {
    if (pcPropertySets) *pcPropertySets = 0;
    if (prgPropertySets) *prgPropertySets = nullptr;
    if (!pcPropertySets || !prgPropertySets) throw EOleDbException(E_INVALIDARG);
    OleDbError(PropertyStorage->GetProperties(cPropertyIDSets, rgPropertyIDSets, pcPropertySets, prgPropertySets));
  }, [&](TOleDbTraceArgs& t) { t.Items("rgPropertyIDSets", cPropertyIDSets, rgPropertyIDSets); });
}

HRESULT TOleDbRowset::GetReferencedRowset(DBORDINAL iOrdinal, REFIID riid, IUnknown** ppReferencedRowset) {
  return Guard([&] {
    if (!ppReferencedRowset) throw EOleDbException(E_INVALIDARG);
    *ppReferencedRowset = nullptr;
    throw EOleDbException(DB_E_NOTAREFERENCECOLUMN);
  }, [&](TOleDbTraceArgs& t) { t("iOrdinal", iOrdinal)("riid", riid); });
}

HRESULT TOleDbRowset::GetSpecification(REFIID riid, IUnknown** ppSpecification) {
  return Guard([&]() -> HRESULT {
    if (!ppSpecification) throw EOleDbException(E_INVALIDARG);
    *ppSpecification = nullptr;
    if (!Parent) return S_FALSE;
    return Parent->QueryInterface(riid, reinterpret_cast<void**>(ppSpecification));
  }, [&](TOleDbTraceArgs& t) { t("riid", riid); });
}

// ---- IConvertType

HRESULT TOleDbRowset::CanConvert(DBTYPE wFromType, DBTYPE wToType, DBCONVERTFLAGS dwConvertFlags) {
  return Guard([&] {
    CheckConvert(wFromType, wToType, dwConvertFlags);
    if (IDataConvert* convert = GetDataConvert()) OleDbError(convert->CanConvert(wFromType, wToType));
  }, [&](TOleDbTraceArgs& t) { t("wFromType", wFromType)("wToType", wToType)("dwConvertFlags", dwConvertFlags); });
}

// ---- IConnectionPointContainer

HRESULT TOleDbRowset::EnumConnectionPoints(IEnumConnectionPoints** ppEnum) {
  return Guard([&] { EnsureEvents().EnumConnectionPoints(ppEnum); });
}

HRESULT TOleDbRowset::FindConnectionPoint(REFIID riid, IConnectionPoint** ppCP) {
  return Guard([&] { EnsureEvents().FindConnectionPoint(riid, ppCP); },
               [&](TOleDbTraceArgs& t) { t("riid", riid); });
}
