#include "QueryConnection.h"

#include <memory>

#include <msdasc.h>

#include "QueryFailure.h"
#include "CodePageText.h"

namespace {

std::string Quoted(const std::string& text) { return "\"" + text + "\""; }

struct TTaskMemFree {
  void operator()(void* p) const noexcept { CoTaskMemFree(p); }
};

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
