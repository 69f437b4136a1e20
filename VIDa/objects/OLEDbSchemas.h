#pragma once
// The schema rowsets a session offers through IDBSchemaRowset: the known
// schema kinds, the provider's list of them and the storage that answers
// GetSchemas and GetRowset. The rows always come from the provider's
// BuildSchema handler, which the session binds to its BuildSchemaRowset.
#include <windows.h>
#include <oledb.h>

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "ComObj.h"
#include "ComPtr.h"
#include "OLEDbRowsetData.h"

// Index into the table of the 31 schema rowset kinds the toolkit knows; 0 is
// no known schema.
using TOleDbSchemaCode = std::uint8_t;
inline constexpr TOleDbSchemaCode OleDbSchemaCodeCount = 31;

// The code of a schema rowset GUID (0 for one not in the table).
TOleDbSchemaCode SchemaCodeOf(REFGUID guid) noexcept;
const GUID& SchemaGuidOf(TOleDbSchemaCode code) noexcept;
// The number of restrictions the schema rowset defines (0 for code 0).
ULONG SchemaRestrictionCount(TOleDbSchemaCode code) noexcept;

class TOleDbSchema {
public:
  TOleDbSchema(const GUID& guid, std::wstring restrictionText);

  GUID Guid;
  TOleDbSchemaCode SchemaCode;
  // One character per restriction, first restriction first: '0' is not
  // supported, anything else supported; empty keeps every defined one.
  std::wstring RestrictionText;

  // The bit mask GetSchemas reports.
  ULONG RestrictionSupport() const noexcept;
};

class TOleDbSchemas {
public:
  TOleDbSchemas() = default;
  TOleDbSchemas(const TOleDbSchemas&) = delete;
  TOleDbSchemas& operator=(const TOleDbSchemas&) = delete;
  ~TOleDbSchemas() { Clear(); }

  // Duplicates are not checked.
  TOleDbSchema& AddSchema(TOleDbSchemaCode code, std::wstring restrictionText = {});
  TOleDbSchema& AddSchema(const GUID& guid, std::wstring restrictionText = {});
  // The first schema of that GUID, or null.
  TOleDbSchema* FindSchema(REFGUID guid) const noexcept;
  std::size_t Count() const noexcept { return items_.size(); }
  TOleDbSchema& Items(std::size_t index) const { return *items_.at(index); }
  // Frees the schemas, last added first.
  void Clear() noexcept;

private:
  std::vector<std::unique_ptr<TOleDbSchema>> items_;
};

// Copies of the consumer's restriction values, cleared on destruction.
class TOleDbRestrictions {
public:
  TOleDbRestrictions(ULONG count, const VARIANT* values);
  ~TOleDbRestrictions();
  TOleDbRestrictions(const TOleDbRestrictions&) = delete;
  TOleDbRestrictions& operator=(const TOleDbRestrictions&) = delete;

  std::size_t Count() const noexcept { return values_.size(); }
  // VT_EMPTY beyond the values given: by OLE DB convention no restriction.
  const VARIANT& Value(std::size_t index) const noexcept;
  std::span<const VARIANT> Values() const noexcept { return values_; }

private:
  std::vector<VARIANT> values_;
};

// Given the schema and the restriction values, leaves the rowset data of the
// schema rows in data (nothing for none).
using TOleDbBuildSchemaHandler =
    std::function<void(const TOleDbSchema& schema, const TOleDbRestrictions& restrictions,
                       TComPtr<IOleDbRowsetData>& data)>;

// IDBSchemaRowset for a session. A provider offering other schema rowsets
// derives and overrides DefineSchemas, which runs once, before the list is
// first used:
//
//   void TMySchemaStorage::DefineSchemas() {
//     TOleDbSchemaStorage::DefineSchemas();
//     Schemas().AddSchema(DBSCHEMA_INDEXES, L"00101");
//   }
class TOleDbSchemaStorage {
public:
  // Raises E_FAIL "Schemas must be defined" without a list.
  explicit TOleDbSchemaStorage(std::unique_ptr<TOleDbSchemas> schemas);
  virtual ~TOleDbSchemaStorage() = default;
  TOleDbSchemaStorage(const TOleDbSchemaStorage&) = delete;
  TOleDbSchemaStorage& operator=(const TOleDbSchemaStorage&) = delete;

  // The list, defined on first use.
  TOleDbSchemas& Schemas();

  // DBSCHEMA_TABLES, DBSCHEMA_COLUMNS and DBSCHEMA_PROVIDER_TYPES, each with
  // every restriction defined.
  virtual void DefineSchemas();
  // IDBSchemaRowset::GetRowset; returns S_OK, DB_S_ERRORSOCCURRED (some
  // properties not set) with the rowset in *ppRowset, or raises.
  virtual HRESULT GetRowset(IUnknown* pUnkOuter, REFGUID rguidSchema, ULONG cRestrictions,
                            const VARIANT rgRestrictions[], REFIID riid, ULONG cPropertySets,
                            DBPROPSET rgPropertySets[], IUnknown** ppRowset);
  // IDBSchemaRowset::GetSchemas; raises E_OUTOFMEMORY (arrays null, count 0)
  // when the arrays cannot be allocated.
  virtual void GetSchemas(ULONG* pcSchemas, GUID** prgSchemas, ULONG** prgRestrictionSupport);

  // The class of the rowsets GetRowset returns.
  const TComClass* RowsetClass;
  TOleDbBuildSchemaHandler OnBuildSchema;

private:
  std::unique_ptr<TOleDbSchemas> schemas_;
  bool defined_ = false;
};

// Simple rowset data with the template columns of a schema (none for a schema
// without a template group), ready for rows: what a BuildSchema handler
// fills and hands out.
TComPtr<class TSimpleRowsetData> MakeSchemaRowsetData(REFGUID schema);
