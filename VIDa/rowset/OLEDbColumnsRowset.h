#pragma once
// IColumnsRowset::GetColumnsRowset: the column metadata of a rowset as a
// rowset of its own, one row per column, with the DBCOLUMN_* columns.
#include <windows.h>
#include <oledb.h>

#include <functional>
#include <vector>

#include "ComObj.h"
#include "ComPtr.h"
#include "OLEDbColumns.h"
#include "OLEDbRowsetData.h"

// The optional columns asked for: shallow copies of the consumer's DBIDs,
// valid for the duration of the call.
using TOleDbOptionalColumns = std::vector<DBID>;

// A provider's own metadata rowset data for the requested optional columns;
// leaving data empty lets the toolkit build the standard one.
using TOleDbBuildColumnsRowset =
    std::function<void(const TOleDbOptionalColumns& requested, TComPtr<IOleDbRowsetData>& data)>;

class TOleDbColumnsRowsetBuilder {
public:
  TOleDbColumnsRowsetBuilder();

  // The class of the rowset handed out: the schema rowset class unless set
  // otherwise.
  const TComClass* RowsetClass;
  TOleDbBuildColumnsRowset OnBuildColumnsRowset;

  // The handler's data, or the standard metadata of columns: the eleven
  // standard DBCOLUMN_* columns, then each requested optional one the
  // column template table knows (unknown, repeated and standard identifiers
  // add nothing).
  TComPtr<IOleDbRowsetData> BuildColumnsRowsetData(const TOleDbColumns& columns, DBORDINAL cOptColumns,
                                                   const DBID rgOptColumns[]) const;

  // The metadata rowset over BuildColumnsRowsetData with the consumer's
  // properties applied (required ones must succeed). Returns S_OK or
  // DB_S_ERRORSOCCURRED with *ppColRowset set; every failure, including
  // DB_E_ERRORSOCCURRED from the properties, is raised with *ppColRowset null.
  HRESULT GetColumnsRowset(const TOleDbColumns& columns, IUnknown* pUnkOuter, DBORDINAL cOptColumns,
                           const DBID rgOptColumns[], REFIID riid, ULONG cPropertySets, DBPROPSET rgPropertySets[],
                           IUnknown** ppColRowset) const;
};
