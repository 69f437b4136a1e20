#include "ObjectsProvider.h"

#include <oledberr.h>

#include "ConsumerTestSupport.h"
#include "OLEDbSimpleRowsetData.h"

namespace {
VARIANT Text(const wchar_t* text) {
  VARIANT v;
  VariantInit(&v);
  V_VT(&v) = VT_BSTR;
  V_BSTR(&v) = SysAllocString(text);
  return v;
}

VARIANT Int(LONG value) {
  VARIANT v;
  VariantInit(&v);
  V_VT(&v) = VT_I4;
  V_I4(&v) = value;
  return v;
}

void SetCell(TSimpleRowsetData& data, const wchar_t* column, VARIANT value) {
  VARIANT key = Text(column);
  data.SetValueByKey(key, value);
  VariantClear(&key);
  VariantClear(&value);
}

// Reading NAME fails, as a data source that breaks mid-row would.
class TFaultyNameData : public TSimpleRowsetData {
public:
  void GetColumnReadBuffer(TOleDbDataMode mode, std::int32_t rowValue, const TOleDbColumn& column, void*& data,
                           DBLENGTH& length, bool& isNull) override {
    if (column.Name == L"NAME") OleDbError(E_FAIL, L"NAME is unreadable");
    TSimpleRowsetData::GetColumnReadBuffer(mode, rowValue, column, data, length, isNull);
  }
};

TOleDbDatasourceFactory& ObjectsFactory() {
  static TOleDbDatasourceFactory factory(ComServer(), OleDbClassOf<TObjectsDataSource>(), CLSID_ObjectsTestProvider,
                                         L"objectsprovider", L"Objects Test Provider", TThreadingModel::Apartment);
  return factory;
}
}  // namespace

void TObjectsRowset::CreateRowsetData(TOleDbExecParams& params) {
  LastRequest = {params.Kind,
                 params.TableName,
                 params.IndexName,
                 params.Text,
                 params.Parameters ? params.Parameters->Count() : 0,
                 params.Parameters && params.Parameters->HasParamData,
                 params.PropertySets != nullptr};
  if (params.TableName == L"missing") throw EOleDbException(DB_E_NOTABLE);
  if (params.Kind == TOleDbExecKind::Command) params.RowsAffected = 7;
  TComPtr<TSimpleRowsetData> data(params.TableName == L"faulty" ? MakeComObject<TFaultyNameData>().Get()
                                                                : MakeComObject<TSimpleRowsetData>().Get());
  data->GetColumns().AddColumn(L"ID", DBTYPE_I4, 4);
  data->GetColumns().AddColumn(L"NAME", DBTYPE_WSTR, 40);
  data->InitLayout();
  const wchar_t* names[] = {L"one", L"two", L"three"};
  for (LONG id = 1; id <= 3; ++id) {
    data->AppendRow();
    SetCell(*data, L"ID", Int(id));
    SetCell(*data, L"NAME", Text(names[id - 1]));
  }
  AttachData(data.Get());
}

void TObjectsRowset::CheckPropertyValue(TOleDbProperty& property, const VARIANT& value, DBPROPSTATUS& status) {
  if (property.PropID == DBPROP_COMMANDTIMEOUT && V_VT(&value) == VT_I4 && V_I4(&value) != 0)
    status = DBPROPSTATUS_NOTSETTABLE;
}

void TObjectsCommand::InitializeObject() {
  TOleDbCommand::InitializeObject();
  Capabilities = NextCapabilities;
}

void TObjectsCommand::DescribeColumns(TOleDbExecParams&, TOleDbColumns& columns) {
  columns.AddColumn(L"ID", DBTYPE_I4, 4);
  columns.AddColumn(L"NAME", DBTYPE_WSTR, 40);
}

void TObjectsSession::InitializeObject() {
  TOleDbSession::InitializeObject();
  Capabilities = NextCapabilities;
}

void TObjectsSession::BuildSchemaRowset(const TOleDbSchema& schema, const TOleDbRestrictions& restrictions,
                                        TComPtr<IOleDbRowsetData>& data) {
  LastRestrictionCount = restrictions.Count();
  if (BuildNothing) return;
  TComPtr<TSimpleRowsetData> rows = MakeSchemaRowsetData(schema.Guid);
  if (IsEqualGUID(schema.Guid, DBSCHEMA_TABLES)) {
    const VARIANT& wanted = restrictions.Value(2);
    for (const wchar_t* name : {L"one.tbl", L"two.tbl"}) {
      if (V_VT(&wanted) == VT_BSTR && std::wstring(V_BSTR(&wanted)) != name) continue;
      rows->AppendRow();
      SetCell(*rows, L"TABLE_NAME", Text(name));
      SetCell(*rows, L"TABLE_TYPE", Text(L"TABLE"));
    }
  } else if (IsEqualGUID(schema.Guid, DBSCHEMA_COLUMNS)) {
    rows->AppendRow();
    SetCell(*rows, L"TABLE_NAME", Text(L"one.tbl"));
    SetCell(*rows, L"COLUMN_NAME", Text(L"ID"));
  } else {
    rows->AppendRow();
    SetCell(*rows, L"TYPE_NAME", Text(L"DBTYPE_I4"));
  }
  data = TComPtr<IOleDbRowsetData>(rows.Get());
}

TComPtr<IDBInitialize> CreateObjectsDataSource() {
  ObjectsFactory();
  TComPtr<IClassFactory> classFactory;
  ComServer().GetClassObject(CLSID_ObjectsTestProvider, IID_IClassFactory, classFactory.PutVoid());
  TComPtr<IDBInitialize> dataSource;
  classFactory->CreateInstance(nullptr, IID_IDBInitialize, dataSource.PutVoid());
  dataSource->Initialize();
  return dataSource;
}

TComPtr<IOpenRowset> CreateObjectsSession() {
  TComPtr<IOpenRowset> session;
  CreateSessionOf(CreateObjectsDataSource().Get(), session, IID_IOpenRowset);
  return session;
}

TComPtr<ICommandText> CreateObjectsCommand(IOpenRowset* session, const wchar_t* text) {
  TComPtr<ICommandText> command;
  CreateCommandOf(session, command, text);
  return command;
}
