#include "QueryConnection.h"

#include <memory>

#include <msdasc.h>
#include <oledberr.h>

#include "QueryFailure.h"
#include "CodePageText.h"

namespace {

std::string Quoted(const std::string& text) { return "\"" + text + "\""; }

struct TTaskMemFree {
  void operator()(void* p) const noexcept { CoTaskMemFree(p); }
};

// The property sets and descriptions a provider hands out, freed as the
// consumer must: every value, every array, then the outer array.
struct TPropertyAnswer {
  ULONG SetCount = 0;
  DBPROPSET* Sets = nullptr;
  ULONG InfoSetCount = 0;
  DBPROPINFOSET* InfoSets = nullptr;
  OLECHAR* Descriptions = nullptr;

  ~TPropertyAnswer() {
    for (ULONG i = 0; i < SetCount; ++i) {
      for (ULONG j = 0; j < Sets[i].cProperties; ++j) VariantClear(&Sets[i].rgProperties[j].vValue);
      CoTaskMemFree(Sets[i].rgProperties);
    }
    CoTaskMemFree(Sets);
    for (ULONG i = 0; i < InfoSetCount; ++i) {
      for (ULONG j = 0; j < InfoSets[i].cPropertyInfos; ++j) VariantClear(&InfoSets[i].rgPropertyInfos[j].vValues);
      CoTaskMemFree(InfoSets[i].rgPropertyInfos);
    }
    CoTaskMemFree(InfoSets);
    CoTaskMemFree(Descriptions);
  }
};

TQueryCell PropertyCell(VARIANT& value) {
  TQueryCell cell;
  switch (value.vt) {
    case VT_EMPTY:
    case VT_NULL: break;
    case VT_BOOL:
      cell.Kind = TCellKind::Bool;
      cell.Bool = value.boolVal != VARIANT_FALSE;
      break;
    case VT_I2:
    case VT_I4:
      cell.Kind = TCellKind::Integer;
      cell.Integer = value.vt == VT_I2 ? value.iVal : value.lVal;
      break;
    default:
      if (FAILED(VariantChangeTypeEx(&value, &value, LOCALE_INVARIANT, 0, VT_BSTR))) {
        cell.Kind = TCellKind::Error;
        cell.Text = "unconvertible";
        break;
      }
      cell.Kind = TCellKind::Text;
      if (value.bstrVal) cell.Text = Utf8FromWide(value.bstrVal);
  }
  return cell;
}

}  // namespace

TQueryConnection::TQueryConnection(const std::string& connectionString) {
  TComPtr<IDataInitialize> services;
  CheckOleDb(CoCreateInstance(CLSID_MSDAINITIALIZE, nullptr, CLSCTX_INPROC_SERVER, IID_IDataInitialize,
                              services.PutVoid()),
             "cannot load the OLE DB service components");
  const std::wstring wide = WideFromUtf8(connectionString);
  TComPtr<IUnknown> source;
  CheckOleDb(services->GetDataSource(nullptr, CLSCTX_INPROC_SERVER, wide.c_str(), IID_IDBInitialize, source.Put()),
             "cannot create the data source of " + Quoted(connectionString));
  CheckOleDb(source.As(DataSource, IID_IDBInitialize), "the data source has no IDBInitialize");
  CheckOleDb(DataSource->Initialize(), "cannot connect with " + Quoted(connectionString));
  TComPtr<IDBCreateSession> creator;
  CheckOleDb(DataSource.As(creator, IID_IDBCreateSession), "the data source has no IDBCreateSession");
  TComPtr<IUnknown> session;
  CheckOleDb(creator->CreateSession(nullptr, IID_IOpenRowset, session.Put()), "cannot open a session");
  CheckOleDb(session.As(Session, IID_IOpenRowset), "the session has no IOpenRowset");
}

TComPtr<IRowset> TQueryConnection::OpenTable(const std::string& name) {
  std::wstring wide = WideFromUtf8(name);
  DBID table{};
  table.eKind = DBKIND_NAME;
  table.uName.pwszName = wide.data();
  TComPtr<IUnknown> rowset;
  CheckOleDb(Session->OpenRowset(nullptr, &table, nullptr, IID_IRowset, 0, nullptr, rowset.Put()),
             "cannot open table " + Quoted(name));
  TComPtr<IRowset> result;
  CheckOleDb(rowset.As(result, IID_IRowset), "table " + Quoted(name) + " gave no IRowset");
  return result;
}

TComPtr<IRowset> TQueryConnection::Execute(const std::string& text) {
  const std::string action = "cannot execute " + Quoted(text);
  TComPtr<IDBCreateCommand> creator;
  CheckOleDb(Session.As(creator, IID_IDBCreateCommand), action + " (the provider has no commands)");
  TComPtr<IUnknown> command;
  CheckOleDb(creator->CreateCommand(nullptr, IID_ICommandText, command.Put()), action);
  TComPtr<ICommandText> commandText;
  CheckOleDb(command.As(commandText, IID_ICommandText), action);
  const std::wstring wide = WideFromUtf8(text);
  CheckOleDb(commandText->SetCommandText(DBGUID_DEFAULT, wide.c_str()), action);
  TComPtr<IUnknown> rowset;
  CheckOleDb(commandText->Execute(nullptr, IID_IRowset, nullptr, nullptr, rowset.Put()), action);
  if (!rowset) throw EQueryFailure(action + " (it gave no rows)", S_OK, {});
  TComPtr<IRowset> result;
  CheckOleDb(rowset.As(result, IID_IRowset), action);
  return result;
}

TComPtr<IRowset> TQueryConnection::Schema(REFGUID schema, std::span<VARIANT> restrictions) {
  TComPtr<IDBSchemaRowset> schemas;
  if (FAILED(Session.As(schemas, IID_IDBSchemaRowset))) return {};
  ULONG count = 0;
  GUID* guids = nullptr;
  ULONG* masks = nullptr;
  if (FAILED(schemas->GetSchemas(&count, &guids, &masks))) return {};
  const std::unique_ptr<GUID, TTaskMemFree> ownedGuids(guids);
  const std::unique_ptr<ULONG, TTaskMemFree> ownedMasks(masks);
  bool offered = false;
  for (ULONG i = 0; i < count && !offered; ++i) offered = IsEqualGUID(guids[i], schema);
  if (!offered) return {};
  TComPtr<IUnknown> rowset;
  CheckOleDb(schemas->GetRowset(nullptr, schema, static_cast<ULONG>(restrictions.size()), restrictions.data(),
                                IID_IRowset, 0, nullptr, rowset.Put()),
             "cannot read a schema rowset");
  TComPtr<IRowset> result;
  CheckOleDb(rowset.As(result, IID_IRowset), "cannot read a schema rowset");
  return result;
}

std::vector<std::pair<std::string, TQueryCell>> TQueryConnection::DataSourceInfo() {
  TComPtr<IDBProperties> properties;
  CheckOleDb(DataSource.As(properties, IID_IDBProperties), "the data source has no IDBProperties");
  DBPROPIDSET all{nullptr, 0, DBPROPSET_DATASOURCEINFO};
  TPropertyAnswer answer;
  const HRESULT got = properties->GetProperties(1, &all, &answer.SetCount, &answer.Sets);
  if (got != DB_S_ERRORSOCCURRED) CheckOleDb(got, "cannot read the data source information");
  // Descriptions are a courtesy: without them the property's number stands in.
  properties->GetPropertyInfo(1, &all, &answer.InfoSetCount, &answer.InfoSets, &answer.Descriptions);
  std::vector<std::pair<std::string, TQueryCell>> result;
  for (ULONG i = 0; i < answer.SetCount; ++i) {
    for (ULONG j = 0; j < answer.Sets[i].cProperties; ++j) {
      DBPROP& property = answer.Sets[i].rgProperties[j];
      if (property.dwStatus != DBPROPSTATUS_OK) continue;
      std::string name = "property " + std::to_string(property.dwPropertyID);
      for (ULONG k = 0; k < answer.InfoSetCount; ++k)
        for (ULONG m = 0; m < answer.InfoSets[k].cPropertyInfos; ++m) {
          const DBPROPINFO& info = answer.InfoSets[k].rgPropertyInfos[m];
          if (info.dwPropertyID == property.dwPropertyID && info.pwszDescription)
            name = Utf8FromWide(info.pwszDescription);
        }
      result.emplace_back(std::move(name), PropertyCell(property.vValue));
    }
  }
  return result;
}
