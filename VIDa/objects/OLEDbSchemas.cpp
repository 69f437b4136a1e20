#include "OLEDbSchemas.h"

#include <oledberr.h>

#include <algorithm>
#include <utility>

#include "OLEDbError.h"
#include "OLEDbFactory.h"
#include "OLEDbRowset.h"
#include "OLEDbSchemaDefaults.h"
#include "OLEDbSimpleRowsetData.h"
#include "OLEDbTaskMemory.h"

namespace {
struct TSchemaKind {
  const GUID* Guid;
  ULONG Restrictions;
};

const TSchemaKind SchemaKinds[OleDbSchemaCodeCount] = {
    {&GUID_NULL, 0},
    {&DBSCHEMA_TABLES, 4},
    {&DBSCHEMA_COLUMNS, 4},
    {&DBSCHEMA_PROVIDER_TYPES, 2},
    {&DBSCHEMA_ASSERTIONS, 3},
    {&DBSCHEMA_CHARACTER_SETS, 3},
    {&DBSCHEMA_CHECK_CONSTRAINTS, 3},
    {&DBSCHEMA_COLLATIONS, 3},
    {&DBSCHEMA_COLUMN_DOMAIN_USAGE, 4},
    {&DBSCHEMA_COLUMN_PRIVILEGES, 6},
    {&DBSCHEMA_CONSTRAINT_COLUMN_USAGE, 4},
    {&DBSCHEMA_CONSTRAINT_TABLE_USAGE, 3},
    {&DBSCHEMA_FOREIGN_KEYS, 6},
    {&DBSCHEMA_PRIMARY_KEYS, 3},
    {&DBSCHEMA_PROCEDURE_COLUMNS, 4},
    {&DBSCHEMA_PROCEDURE_PARAMETERS, 4},
    {&DBSCHEMA_PROCEDURES, 4},
    {&DBSCHEMA_REFERENTIAL_CONSTRAINTS, 3},
    {&DBSCHEMA_SCHEMATA, 3},
    {&DBSCHEMA_SQL_LANGUAGES, 0},
    {&DBSCHEMA_TABLE_CONSTRAINTS, 7},
    {&DBSCHEMA_TABLE_PRIVILEGES, 5},
    {&DBSCHEMA_TABLES_INFO, 4},
    {&DBSCHEMA_TRANSLATIONS, 3},
    {&DBSCHEMA_USAGE_PRIVILEGES, 6},
    {&DBSCHEMA_VIEW_COLUMN_USAGE, 3},
    {&DBSCHEMA_VIEW_TABLE_USAGE, 3},
    {&DBSCHEMA_VIEWS, 3},
    {&DBSCHEMA_CATALOGS, 1},
    {&DBSCHEMA_INDEXES, 5},
    {&DBSCHEMA_STATISTICS, 3},
};

}  // namespace

TOleDbSchemaCode SchemaCodeOf(REFGUID guid) noexcept {
  for (TOleDbSchemaCode code = 1; code < OleDbSchemaCodeCount; ++code)
    if (IsEqualGUID(guid, *SchemaKinds[code].Guid)) return code;
  return 0;
}

const GUID& SchemaGuidOf(TOleDbSchemaCode code) noexcept {
  return code < OleDbSchemaCodeCount ? *SchemaKinds[code].Guid : GUID_NULL;
}

ULONG SchemaRestrictionCount(TOleDbSchemaCode code) noexcept {
  return code < OleDbSchemaCodeCount ? SchemaKinds[code].Restrictions : 0;
}

// ---------------------------------------------------------------------------

TOleDbSchema::TOleDbSchema(const GUID& guid, std::wstring restrictionText)
    : Guid(guid), SchemaCode(SchemaCodeOf(guid)), RestrictionText(std::move(restrictionText)) {}

ULONG TOleDbSchema::RestrictionSupport() const noexcept {
  const ULONG defined = SchemaRestrictionCount(SchemaCode);
  ULONG mask = defined >= 32 ? ~0UL : (1UL << defined) - 1;
  // For an unknown schema the text alone says what is supported.
  std::size_t count = SchemaCode == 0 ? RestrictionText.size() : std::min<std::size_t>(RestrictionText.size(), defined);
  count = std::min<std::size_t>(count, 32);
  for (std::size_t i = 0; i < count; ++i) {
    if (RestrictionText[i] == L'0')
      mask &= ~(1UL << i);
    else
      mask |= 1UL << i;
  }
  return mask;
}

TOleDbSchema& TOleDbSchemas::AddSchema(TOleDbSchemaCode code, std::wstring restrictionText) {
  return AddSchema(SchemaGuidOf(code), std::move(restrictionText));
}

TOleDbSchema& TOleDbSchemas::AddSchema(const GUID& guid, std::wstring restrictionText) {
  items_.push_back(std::make_unique<TOleDbSchema>(guid, std::move(restrictionText)));
  return *items_.back();
}

TOleDbSchema* TOleDbSchemas::FindSchema(REFGUID guid) const noexcept {
  for (const auto& schema : items_)
    if (IsEqualGUID(schema->Guid, guid)) return schema.get();
  return nullptr;
}

void TOleDbSchemas::Clear() noexcept {
  while (!items_.empty()) items_.pop_back();
}

// ---------------------------------------------------------------------------

TOleDbRestrictions::TOleDbRestrictions(ULONG count, const VARIANT* values) {
  values_.reserve(count);
  for (ULONG i = 0; i < count; ++i) {
    VARIANT copy;
    VariantInit(&copy);
    const HRESULT result = VariantCopy(&copy, const_cast<VARIANT*>(&values[i]));
    if (FAILED(result)) {
      for (VARIANT& value : values_) VariantClear(&value);
      throw EOleDbException(result);
    }
    values_.push_back(copy);
  }
}

TOleDbRestrictions::~TOleDbRestrictions() {
  for (VARIANT& value : values_) VariantClear(&value);
  values_.clear();
}

const VARIANT& TOleDbRestrictions::Value(std::size_t index) const noexcept {
  static const VARIANT empty{};
  return index < values_.size() ? values_[index] : empty;
}

// ---------------------------------------------------------------------------

TOleDbSchemaStorage::TOleDbSchemaStorage(std::unique_ptr<TOleDbSchemas> schemas)
    : RowsetClass(SchemaRowsetClass()), schemas_(std::move(schemas)) {
  if (!schemas_) throw EOleError(L"Schemas must be defined", E_FAIL);
}

TOleDbSchemas& TOleDbSchemaStorage::Schemas() {
  if (!defined_) {
    defined_ = true;  // before, for the definitions that add through Schemas()
    // A list cut short by a failure is not kept: the next call defines it again.
    try {
      DefineSchemas();
    } catch (...) {
      schemas_->Clear();
      defined_ = false;
      throw;
    }
  }
  return *schemas_;
}

void TOleDbSchemaStorage::DefineSchemas() {
  schemas_->AddSchema(DBSCHEMA_TABLES);
  schemas_->AddSchema(DBSCHEMA_COLUMNS);
  schemas_->AddSchema(DBSCHEMA_PROVIDER_TYPES);
}

void TOleDbSchemaStorage::GetSchemas(ULONG* pcSchemas, GUID** prgSchemas, ULONG** prgRestrictionSupport) {
  if (pcSchemas) *pcSchemas = 0;
  if (prgSchemas) *prgSchemas = nullptr;
  if (prgRestrictionSupport) *prgRestrictionSupport = nullptr;
  if (!pcSchemas || !prgSchemas) throw EOleDbException(E_INVALIDARG);

  TOleDbSchemas& schemas = Schemas();
  const std::size_t count = schemas.Count();
  if (count == 0) return;
  TTaskMemory<GUID[]> guids = OleDbAllocArray<GUID>(count);
  TTaskMemory<ULONG[]> support;
  if (prgRestrictionSupport) support = OleDbAllocArray<ULONG>(count);
  for (std::size_t i = 0; i < count; ++i) {
    guids[i] = schemas.Items(i).Guid;
    if (support) support[i] = schemas.Items(i).RestrictionSupport();
  }
  *prgSchemas = guids.release();
  if (prgRestrictionSupport) *prgRestrictionSupport = support.release();
  *pcSchemas = static_cast<ULONG>(count);
}

HRESULT TOleDbSchemaStorage::GetRowset(IUnknown* pUnkOuter, REFGUID rguidSchema, ULONG cRestrictions,
                                       const VARIANT rgRestrictions[], REFIID riid, ULONG cPropertySets,
                                       DBPROPSET rgPropertySets[], IUnknown** ppRowset) {
  if (!ppRowset) throw EOleDbException(E_INVALIDARG);
  *ppRowset = nullptr;
  const TOleDbSchema* schema = Schemas().FindSchema(rguidSchema);
  if (!schema) throw EOleDbException(E_INVALIDARG);
  if (schema->SchemaCode != 0 && cRestrictions > SchemaRestrictionCount(schema->SchemaCode))
    throw EOleDbException(E_INVALIDARG);
  if (cRestrictions > 0 && !rgRestrictions) throw EOleDbException(E_INVALIDARG);
  if (cPropertySets > 0 && !rgPropertySets) throw EOleDbException(E_INVALIDARG);
  if (!OnBuildSchema || !RowsetClass) NotImplemented(L"BuildSchema handler must be defined");

  TComPtr<IOleDbRowsetData> data;
  {
    const TOleDbRestrictions restrictions(cRestrictions, rgRestrictions);
    OnBuildSchema(*schema, restrictions, data);
  }
  if (!data) OleDbError(E_FAIL, L"Unable to initialize Schema information");

  return OpenRowsetOverData(data.Get(), *RowsetClass, pUnkOuter, riid, cPropertySets, rgPropertySets, ppRowset);
}

TComPtr<TSimpleRowsetData> MakeSchemaRowsetData(REFGUID schema) {
  TComPtr<TSimpleRowsetData> data = MakeComObject<TSimpleRowsetData>();
  // Cells the handler leaves alone are NULL, as catalogue values go.
  data->NullByDefault = true;
  CreateSchemaColumns(schema, data->GetColumns());
  data->InitLayout();
  return data;
}
