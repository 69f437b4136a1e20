#include "ZelLogSession_un.h"

#include <oledberr.h>

#include <algorithm>
#include <optional>

#include "LogFileReader_un.h"
#include "OLEDbSchemaDefaults.h"
#include "OLEDbSimpleRowsetData.h"
#include "ZelLogCommand_un.h"
#include "ZelLogDbRecord_un.h"
#include "ZelLogFileSequence_un.h"
#include "ZelLogFolder_un.h"
#include "ZelLogProvider_un.h"
#include "ZelLogRowsetData_un.h"

namespace {
void Set(TSimpleRowsetData& data, const wchar_t* column, const TOleDbVariant& value) {
  data.SetValueByKey(TOleDbVariant::Text(column).Get(), value.Get());
}

// The restriction's value, or null when it restricts nothing: absent,
// VT_ERROR, or by OLE DB convention VT_EMPTY and VT_NULL.
const VARIANT* RestrictionValue(const TOleDbRestrictions& restrictions, std::size_t index) {
  if (index >= restrictions.Count()) return nullptr;
  const VARIANT& value = restrictions.Value(index);
  const VARTYPE type = V_VT(&value);
  return type == VT_ERROR || type == VT_EMPTY || type == VT_NULL ? nullptr : &value;
}

// A value of a type the restriction column cannot take is an invalid
// argument; running out of memory stays what it is.
void ConvertRestriction(VARIANT& target, const VARIANT& value, VARTYPE type) {
  const HRESULT hr = VariantChangeType(&target, const_cast<VARIANT*>(&value), 0, type);
  if (hr == E_OUTOFMEMORY) throw EOleDbException(hr);
  if (FAILED(hr)) throw EOleDbException(E_INVALIDARG);
}

std::optional<std::wstring> Restriction(const TOleDbRestrictions& restrictions, std::size_t index) {
  const VARIANT* value = RestrictionValue(restrictions, index);
  if (!value) return std::nullopt;
  TOleDbVariant text;  // freed however copying it out ends
  ConvertRestriction(text.Get(), *value, VT_BSTR);
  return std::wstring(V_BSTR(&text.Get()), SysStringLen(V_BSTR(&text.Get())));
}

std::optional<LONG> NumberRestriction(const TOleDbRestrictions& restrictions, std::size_t index) {
  const VARIANT* value = RestrictionValue(restrictions, index);
  if (!value) return std::nullopt;
  VARIANT number;
  VariantInit(&number);
  ConvertRestriction(number, *value, VT_I4);
  return V_I4(&number);
}

// Restrictions never touch a file: a table name no file of the folder can
// have (one leaving the folder, a device) simply matches no table.
bool RestrictsToNoTable(const std::optional<std::wstring>& table) { return table && !IsPossibleTableName(*table); }

// The provider has no catalogs and no schemas: a non-empty restriction on
// either matches nothing.
bool RestrictsCatalogOrSchema(const TOleDbRestrictions& restrictions) {
  for (std::size_t index : {0u, 1u})
    if (std::optional<std::wstring> value = Restriction(restrictions, index); value && !value->empty()) return true;
  return false;
}

// Room for the longest file name the folder can list, and its terminator.
constexpr ULONG TableNameBytes = (MAX_PATH + 1) * sizeof(wchar_t);

TComPtr<TSimpleRowsetData> TemplateRowsetData(REFGUID schema) {
  TComPtr<TSimpleRowsetData2> data = MakeComObject<TSimpleRowsetData2>();
  CreateSchemaColumns(schema, data->GetColumns());
  // The template's 256 bytes would cut longer file names, and a cut name
  // opens no table.
  if (TOleDbColumn* tableName = data->GetColumns().FindByName(L"TABLE_NAME"))
    tableName->Size = std::max(tableName->Size, TableNameBytes);
  data->InitLayout();
  return TComPtr<TSimpleRowsetData>(data.Get());
}

bool IsTextType(DBTYPE type) { return type == DBTYPE_STR || type == DBTYPE_WSTR; }

// The tables a TABLE_NAME restriction leaves. A pattern, which no file can
// be named, is one table when it matches a log file: engines look a name up
// before they open it.
std::vector<std::wstring> RestrictedTables(const std::optional<std::wstring>& table, const std::wstring& folder) {
  if (table && IsTablePattern(*table)) {
    if (ListLogFiles(folder, *table).empty()) return {};
    return {*table};
  }
  std::vector<std::wstring> names = ListLogFiles(folder);
  if (table) std::erase_if(names, [&](const std::wstring& name) { return !SameName(*table, name); });
  return names;
}

void AddTables(TSimpleRowsetData& data, const TOleDbRestrictions& restrictions, const std::wstring& folder) {
  if (RestrictsCatalogOrSchema(restrictions)) return;
  const std::optional<std::wstring> table = Restriction(restrictions, 2);
  if (RestrictsToNoTable(table)) return;
  if (std::optional<std::wstring> type = Restriction(restrictions, 3); type && !SameName(*type, L"TABLE")) return;
  for (const std::wstring& name : RestrictedTables(table, folder)) {
    data.AppendRow();
    Set(data, L"TABLE_NAME", TOleDbVariant::Text(name));
    Set(data, L"TABLE_TYPE", TOleDbVariant::Text(L"TABLE"));
  }
}

void AddColumns(TSimpleRowsetData& data, const TOleDbRestrictions& restrictions, const std::wstring& folder) {
  if (RestrictsCatalogOrSchema(restrictions)) return;
  const std::optional<std::wstring> table = Restriction(restrictions, 2);
  if (RestrictsToNoTable(table)) return;
  const std::optional<std::wstring> columnName = Restriction(restrictions, 3);
  for (const std::wstring& name : RestrictedTables(table, folder)) {
    TOleDbExecParams params;
    params.TableName = name;
    TOleDbColumns columns;
    BuildDataColumns(&params, columns, folder);
    for (std::size_t i = 0; i < columns.Count(); ++i) {
      const TOleDbColumn& column = columns.Items(i);
      if (columnName && !SameName(*columnName, column.Name)) continue;
      const bool text = IsTextType(column.DataType);
      data.AppendRow();
      Set(data, L"TABLE_NAME", TOleDbVariant::Text(name));
      Set(data, L"COLUMN_NAME", TOleDbVariant::Text(column.Name));
      Set(data, L"ORDINAL_POSITION", TOleDbVariant::UInt(column.Ordinal));
      Set(data, L"COLUMN_HASDEFAULT", TOleDbVariant::Bool(false));
      Set(data, L"COLUMN_FLAGS", TOleDbVariant::UInt(column.Flags));
      Set(data, L"IS_NULLABLE", TOleDbVariant::Bool((column.Flags & DBCOLUMNFLAGS_ISNULLABLE) != 0));
      Set(data, L"DATA_TYPE", TOleDbVariant::UInt(column.DataType));
      Set(data, L"CHARACTER_MAXIMUM_LENGTH", text ? TOleDbVariant::UInt(column.ReportedSize()) : TOleDbVariant::Null());
      Set(data, L"CHARACTER_OCTET_LENGTH", text ? TOleDbVariant::UInt(column.Size) : TOleDbVariant::Null());
      Set(data, L"NUMERIC_PRECISION", text ? TOleDbVariant::Null() : TOleDbVariant::UInt(column.Precision));
      Set(data, L"NUMERIC_SCALE", text ? TOleDbVariant::Null() : TOleDbVariant::UInt(column.Scale));
    }
  }
}

struct TProviderType {
  const wchar_t* Name;
  DBTYPE Type;
  // Of the fixed-length types; a text type's is its longest log column's.
  ULONG FixedColumnSize;
};

// The types the log columns use.
constexpr TProviderType ProviderTypes[] = {
    {L"DBTYPE_VARCHAR", DBTYPE_STR, 0}, {L"DBTYPE_WVARCHAR", DBTYPE_WSTR, 0}, {L"DBTYPE_BOOL", DBTYPE_BOOL, 2},
    {L"DBTYPE_DATE", DBTYPE_DATE, 8},   {L"DBTYPE_I4", DBTYPE_I4, 10},
};

// In characters.
ULONG LongestTextColumn(DBTYPE type) {
  ULONG longest = 0;
  for (const TZelLogColumnDef& column : ZelLogColumns())
    if (column.Type == type) longest = std::max<ULONG>(longest, type == DBTYPE_WSTR ? column.Size / 2 : column.Size);
  return longest;
}

void AddProviderTypes(TSimpleRowsetData& data, const TOleDbRestrictions& restrictions) {
  const std::optional<LONG> dataType = NumberRestriction(restrictions, 0);
  // Each type is the best match for its own DBTYPE.
  if (const std::optional<LONG> bestMatch = NumberRestriction(restrictions, 1); bestMatch && *bestMatch == 0) return;
  for (const TProviderType& type : ProviderTypes) {
    if (dataType && *dataType != type.Type) continue;
    data.AppendRow();
    Set(data, L"TYPE_NAME", TOleDbVariant::Text(type.Name));
    Set(data, L"DATA_TYPE", TOleDbVariant::UInt(type.Type));
    const bool text = IsTextType(type.Type);
    Set(data, L"COLUMN_SIZE", TOleDbVariant::UInt(text ? LongestTextColumn(type.Type) : type.FixedColumnSize));
    Set(data, L"IS_NULLABLE", TOleDbVariant::Bool(false));
    Set(data, L"SEARCHABLE", TOleDbVariant::UInt(DB_UNSEARCHABLE));
    Set(data, L"IS_LONG", TOleDbVariant::Bool(false));
    Set(data, L"BEST_MATCH", TOleDbVariant::Bool(true));
    Set(data, L"IS_FIXEDLENGTH", TOleDbVariant::Bool(!text));
  }
}
}  // namespace

void TZelLogDbSchemaStorage::DefineSchemas() {
  TOleDbSchemaStorage::DefineSchemas();
  Schemas().AddSchema(DBSCHEMA_INDEXES);
}

const TOleDbClass* TZelLogDbSession::TClass::RowsetClass() const { return &OleDbClassOf<TZelLogDbRowset>(); }
const TOleDbClass* TZelLogDbSession::TClass::CommandClass() const { return &OleDbClassOf<TZelLogDbCommand>(); }

void TZelLogDbSession::InitializeObject() {
  TOleDbSession::InitializeObject();
  Capabilities |= OleDbSessionCreateCommand | OleDbSessionSchemaRowset;
}

void TZelLogDbSession::CreateSchemaStorage() {
  SchemaStorage = std::make_unique<TZelLogDbSchemaStorage>(std::make_unique<TOleDbSchemas>());
}

void TZelLogDbSession::BuildSchemaRowset(const TOleDbSchema& schema, const TOleDbRestrictions& restrictions,
                                         TComPtr<IOleDbRowsetData>& data) {
  if (IsEqualGUID(schema.Guid, DBSCHEMA_INDEXES)) {
    TComPtr<TSimpleRowsetData> indexes = MakeComObject<TSimpleRowsetData>();
    for (const wchar_t* name : {L"TABLE_CATALOG", L"TABLE_SCHEMA", L"INDEX_NAME", L"SCHEMA_NAME"})
      indexes->GetColumns().AddColumn(name, DBTYPE_WSTR, 256);
    indexes->InitLayout();
    data = TComPtr<IOleDbRowsetData>(indexes.Get());
    return;
  }
  TComPtr<TSimpleRowsetData> rows = TemplateRowsetData(schema.Guid);
  const std::wstring folder = TZelLogDbProvider::FolderOf(*this);
  if (IsEqualGUID(schema.Guid, DBSCHEMA_TABLES))
    AddTables(*rows, restrictions, folder);
  else if (IsEqualGUID(schema.Guid, DBSCHEMA_COLUMNS))
    AddColumns(*rows, restrictions, folder);
  else if (IsEqualGUID(schema.Guid, DBSCHEMA_PROVIDER_TYPES))
    AddProviderTypes(*rows, restrictions);
  data = TComPtr<IOleDbRowsetData>(rows.Get());
}
