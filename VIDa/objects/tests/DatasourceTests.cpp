// The data source through its published interfaces, as a consumer drives it:
// states, sessions and the keep-alive chain, properties, errors, QueryInterface
// diagnostics, aggregation and the shared data conversion object.
#include <gtest/gtest.h>

#include <oledberr.h>

#include <string>
#include <vector>

#include "Diagnostics.h"
#include "OLEDbDataConvert.h"
#include "TestProvider.h"

namespace {

TComPtr<IDBInitialize> NewDataSource() {
  TComPtr<IDBInitialize> dataSource;
  EXPECT_EQ(CreateTestProvider(nullptr, IID_IDBInitialize, dataSource.PutVoid()), S_OK);
  return dataSource;
}

// The toolkit object behind an interface of a toolkit object.
template <class T>
T* ObjectOf(IUnknown* unknown) {
  TComPtr<IOleDbClass> toolkit;
  if (FAILED(unknown->QueryInterface(IID_IOleDbClass, toolkit.PutVoid()))) return nullptr;
  return dynamic_cast<T*>(toolkit->GetObject());
}

// One property as GetProperties answers it.
struct TAnswer {
  HRESULT Result = E_FAIL;
  DBPROPSTATUS Status = DBPROPSTATUS_OK;
  VARTYPE Type = VT_EMPTY;
  std::wstring Text;
  LONG Integer = 0;
};

TAnswer GetProperty(IUnknown* object, REFGUID set, DBPROPID id) {
  TAnswer answer;
  TComPtr<IDBProperties> properties;
  if (FAILED(object->QueryInterface(IID_IDBProperties, properties.PutVoid()))) return answer;
  DBPROPIDSET request{&id, 1, set};
  ULONG count = 0;
  DBPROPSET* sets = nullptr;
  answer.Result = properties->GetProperties(1, &request, &count, &sets);
  if (count == 1 && sets[0].cProperties == 1) {
    DBPROP& prop = sets[0].rgProperties[0];
    answer.Status = prop.dwStatus;
    answer.Type = V_VT(&prop.vValue);
    if (answer.Type == VT_BSTR && V_BSTR(&prop.vValue)) answer.Text = V_BSTR(&prop.vValue);
    if (answer.Type == VT_I4) answer.Integer = V_I4(&prop.vValue);
    VariantClear(&prop.vValue);
  }
  for (ULONG i = 0; i < count; ++i) CoTaskMemFree(sets[i].rgProperties);
  CoTaskMemFree(sets);
  return answer;
}

struct TSetRequest {
  GUID Set;
  DBPROPID ID;
  VARIANT Value;
};

// SetProperties with one DBPROPSET per request; the statuses land in statuses.
HRESULT SetProps(IUnknown* object, std::vector<TSetRequest> requests, std::vector<DBPROPSTATUS>* statuses = nullptr) {
  TComPtr<IDBProperties> properties;
  HRESULT result = object->QueryInterface(IID_IDBProperties, properties.PutVoid());
  if (FAILED(result)) return result;
  std::vector<DBPROP> props(requests.size());
  std::vector<DBPROPSET> sets(requests.size());
  for (size_t i = 0; i < requests.size(); ++i) {
    props[i] = DBPROP{};
    props[i].dwPropertyID = requests[i].ID;
    props[i].colid = DB_NULLID;
    props[i].vValue = requests[i].Value;
    sets[i] = DBPROPSET{&props[i], 1, requests[i].Set};
  }
  result = properties->SetProperties(static_cast<ULONG>(sets.size()), sets.data());
  for (DBPROP& prop : props) {
    if (statuses) statuses->push_back(prop.dwStatus);
    VariantClear(&prop.vValue);
  }
  return result;
}

VARIANT Text(const wchar_t* text) {
  VARIANT value;
  V_VT(&value) = VT_BSTR;
  V_BSTR(&value) = SysAllocString(text);
  return value;
}

VARIANT Integer(LONG number) {
  VARIANT value;
  V_VT(&value) = VT_I4;
  V_I4(&value) = number;
  return value;
}

class DatasourceTest : public testing::Test {
protected:
  void SetUp() override {
    SetErrorInfo(0, nullptr);
    objectsBefore = ComServer().ObjectCount();
  }
  void TearDown() override { EXPECT_EQ(ComServer().ObjectCount(), objectsBefore) << "objects leaked"; }
  LONG objectsBefore = 0;
};

TEST_F(DatasourceTest, StatesAndSessions) {
  TComPtr<IDBInitialize> dataSource = NewDataSource();
  ASSERT_TRUE(dataSource);

  TComPtr<IDBCreateSession> create;
  ASSERT_EQ(dataSource.As(create, IID_IDBCreateSession), S_OK);
  IUnknown* raw = reinterpret_cast<IUnknown*>(1);
  EXPECT_EQ(create->CreateSession(nullptr, IID_IGetDataSource, &raw), E_UNEXPECTED);
  EXPECT_EQ(raw, nullptr);
  EXPECT_EQ(dataSource->Uninitialize(), S_OK);

  ASSERT_EQ(dataSource->Initialize(), S_OK);
  EXPECT_EQ(dataSource->Initialize(), DB_E_ALREADYINITIALIZED);
  EXPECT_EQ(create->CreateSession(nullptr, IID_IGetDataSource, nullptr), E_INVALIDARG);

  // No limit at the default: several sessions, each counted.
  TComPtr<IUnknown> session, second;
  ASSERT_EQ(CreateSessionOf(dataSource.Get(), session, IID_IGetDataSource), S_OK);
  ASSERT_EQ(CreateSessionOf(dataSource.Get(), second, IID_IGetDataSource), S_OK);
  auto* object = ObjectOf<TOleDbDatasource>(dataSource.Get());
  ASSERT_NE(object, nullptr);
  EXPECT_EQ(object->ChildCount, 2);
  EXPECT_EQ(dataSource->Uninitialize(), DB_E_OBJECTOPEN);

  // A limit of one session refuses the next.
  VARIANT one = Integer(1);
  object->PropertySets().PutValue(DBPROPSET_DATASOURCEINFO, DBPROP_ACTIVESESSIONS, one);
  second = nullptr;
  TComPtr<IUnknown> refused;
  EXPECT_EQ(CreateSessionOf(dataSource.Get(), refused, IID_IGetDataSource), DB_E_OBJECTCREATIONLIMITREACHED);
  EXPECT_FALSE(refused);

  session = nullptr;
  EXPECT_EQ(object->ChildCount, 0);
  EXPECT_EQ(dataSource->Uninitialize(), S_OK);
  EXPECT_EQ(CreateSessionOf(dataSource.Get(), session, IID_IGetDataSource), E_UNEXPECTED);

  TComPtr<IPersist> persist;
  ASSERT_EQ(dataSource.As(persist, IID_IPersist), S_OK);
  CLSID classId = GUID_NULL;
  EXPECT_EQ(persist->GetClassID(&classId), S_OK);
  EXPECT_TRUE(IsEqualGUID(classId, CLSID_TestProvider));
  EXPECT_EQ(persist->GetClassID(nullptr), E_INVALIDARG);
}

TEST_F(DatasourceTest, SessionKeepsDataSourceAlive) {
  const int uninitializeCalls = TTestDataSource::UninitializeCalls;
  TComPtr<IUnknown> session;
  {
    TComPtr<IDBInitialize> dataSource = NewDataSource();
    ASSERT_EQ(dataSource->Initialize(), S_OK);
    ASSERT_EQ(CreateSessionOf(dataSource.Get(), session, IID_IGetDataSource), S_OK);
  }
  EXPECT_EQ(ComServer().ObjectCount(), objectsBefore + 2);

  // The session still reaches its data source, which is still initialised.
  TComPtr<IGetDataSource> getDataSource;
  ASSERT_EQ(session.As(getDataSource, IID_IGetDataSource), S_OK);
  TComPtr<IDBInitialize> again;
  ASSERT_EQ(getDataSource->GetDataSource(IID_IDBInitialize, reinterpret_cast<IUnknown**>(again.Put())), S_OK);
  EXPECT_EQ(again->Initialize(), DB_E_ALREADYINITIALIZED);
  EXPECT_EQ(ObjectOf<TTestSession>(session.Get())->FindDataSource(), ObjectOf<TOleDbDatasource>(again.Get()));
  again = nullptr;
  getDataSource = nullptr;

  // The last session takes the data source with it, uninitialising it.
  session = nullptr;
  EXPECT_EQ(ComServer().ObjectCount(), objectsBefore);
  EXPECT_EQ(TTestDataSource::UninitializeCalls, uninitializeCalls + 1);
}

TEST_F(DatasourceTest, PropertiesFollowTheState) {
  TComPtr<IDBInitialize> dataSource = NewDataSource();

  // Uninitialised: only the initialisation set is visible.
  TAnswer mode = GetProperty(dataSource.Get(), DBPROPSET_DBINIT, DBPROP_INIT_MODE);
  EXPECT_EQ(mode.Result, S_OK);
  EXPECT_EQ(mode.Type, VT_EMPTY);
  TAnswer hidden = GetProperty(dataSource.Get(), DBPROPSET_DATASOURCEINFO, DBPROP_PROVIDERNAME);
  EXPECT_EQ(hidden.Result, DB_E_ERRORSOCCURRED);
  EXPECT_EQ(hidden.Status, DBPROPSTATUS_NOTSUPPORTED);
  EXPECT_FALSE(TakeErrorInfo().Present);

  std::vector<DBPROPSTATUS> statuses;
  EXPECT_EQ(SetProps(dataSource.Get(), {{DBPROPSET_DBINIT, DBPROP_INIT_DATASOURCE, Text(L"C:\\logs")},
                                        {DBPROPSET_DBINIT, DBPROP_INIT_MODE, Integer(DB_MODE_READ)}},
                     &statuses),
            S_OK);
  mode = GetProperty(dataSource.Get(), DBPROPSET_DBINIT, DBPROP_INIT_MODE);
  EXPECT_EQ(mode.Type, VT_I4);
  EXPECT_EQ(mode.Integer, DB_MODE_READ);
  EXPECT_EQ(SetProps(dataSource.Get(), {{DBPROPSET_DBINIT, DBPROP_INIT_MODE, VARIANT{}}}), S_OK);
  EXPECT_EQ(GetProperty(dataSource.Get(), DBPROPSET_DBINIT, DBPROP_INIT_MODE).Type, VT_EMPTY);

  ASSERT_EQ(dataSource->Initialize(), S_OK);

  // Initialised: information readable, initialisation values frozen, the
  // current catalog settable.
  TAnswer name = GetProperty(dataSource.Get(), DBPROPSET_DATASOURCEINFO, DBPROP_PROVIDERNAME);
  EXPECT_EQ(name.Result, S_OK);
  EXPECT_EQ(name.Text, ComServer().ServerName() + L".exe");
  statuses.clear();
  EXPECT_EQ(SetProps(dataSource.Get(), {{DBPROPSET_DBINIT, DBPROP_INIT_DATASOURCE, Text(L"C:\\other")},
                                        {DBPROPSET_DBINIT, DBPROP_INIT_DATASOURCE, Text(L"C:\\logs")},
                                        {DBPROPSET_DATASOURCE, DBPROP_CURRENTCATALOG, Text(L"catalog")}},
                     &statuses),
            DB_S_ERRORSOCCURRED);
  EXPECT_EQ(statuses, (std::vector<DBPROPSTATUS>{DBPROPSTATUS_NOTSETTABLE, DBPROPSTATUS_OK, DBPROPSTATUS_OK}));
  EXPECT_FALSE(TakeErrorInfo().Present);
  EXPECT_EQ(GetProperty(dataSource.Get(), DBPROPSET_DBINIT, DBPROP_INIT_DATASOURCE).Text, L"C:\\logs");
  EXPECT_EQ(GetProperty(dataSource.Get(), DBPROPSET_DATASOURCE, DBPROP_CURRENTCATALOG).Text, L"catalog");
  statuses.clear();
  EXPECT_EQ(SetProps(dataSource.Get(), {{DBPROPSET_DBINIT, DBPROP_INIT_DATASOURCE, Text(L"C:\\other")}}, &statuses),
            DB_E_ERRORSOCCURRED);

  // Back to uninitialised: the information set hides again.
  ASSERT_EQ(dataSource->Uninitialize(), S_OK);
  EXPECT_EQ(GetProperty(dataSource.Get(), DBPROPSET_DATASOURCEINFO, DBPROP_PROVIDERNAME).Result,
            DB_E_ERRORSOCCURRED);
  EXPECT_EQ(SetProps(dataSource.Get(), {{DBPROPSET_DBINIT, DBPROP_INIT_DATASOURCE, Text(L"C:\\other")}}), S_OK);
}

TEST_F(DatasourceTest, PropertyInfoForSetsAndSingleIDs) {
  TComPtr<IDBProperties> properties;
  ASSERT_EQ(CreateTestProvider(nullptr, IID_IDBProperties, properties.PutVoid()), S_OK);

  auto describe = [&](DBPROPIDSET request, ULONG& infoCount, std::wstring& description) {
    ULONG count = 0;
    DBPROPINFOSET* sets = nullptr;
    OLECHAR* buffer = nullptr;
    HRESULT result = properties->GetPropertyInfo(1, &request, &count, &sets, &buffer);
    infoCount = count == 1 ? sets[0].cPropertyInfos : 0;
    description.clear();
    for (ULONG i = 0; i < infoCount; ++i) {
      DBPROPINFO& info = sets[0].rgPropertyInfos[i];
      if (info.dwPropertyID == DBPROP_INIT_DATASOURCE && info.pwszDescription) description = info.pwszDescription;
      VariantClear(&info.vValues);
    }
    for (ULONG i = 0; i < count; ++i) CoTaskMemFree(sets[i].rgPropertyInfos);
    CoTaskMemFree(sets);
    CoTaskMemFree(buffer);
    return result;
  };
  ULONG infoCount = 0;
  std::wstring description;
  EXPECT_EQ(describe(DBPROPIDSET{nullptr, 0, DBPROPSET_DBINITALL}, infoCount, description), S_OK);
  EXPECT_EQ(infoCount, 10u);
  EXPECT_EQ(description, L"Data Source");

  DBPROPID ids[] = {DBPROP_INIT_DATASOURCE, DBPROP_IRowsetLocate};
  EXPECT_EQ(describe(DBPROPIDSET{ids, 2, DBPROPSET_DBINIT}, infoCount, description), DB_S_ERRORSOCCURRED);
  EXPECT_EQ(infoCount, 2u);
  EXPECT_EQ(description, L"Data Source");
}

TEST_F(DatasourceTest, InitializeFailuresReachTheConsumer) {
  TComPtr<IDBInitialize> dataSource = NewDataSource();
  const std::wstring source = ComServer().ServerName() + L".testprovider";

  ASSERT_EQ(SetInitDataSource(dataSource.Get(), L"plain-error"), S_OK);
  EXPECT_EQ(dataSource->Initialize(), E_UNEXPECTED);
  TTestErrorInfo error = TakeErrorInfo();
  EXPECT_TRUE(error.Present);
  EXPECT_EQ(error.Description, L"Folder with log files cannot be found:\r\n'x'.");
  EXPECT_EQ(error.Source, source);

  ASSERT_EQ(SetInitDataSource(dataSource.Get(), L"ole-error"), S_OK);
  EXPECT_EQ(dataSource->Initialize(), DB_E_NOTABLE);
  error = TakeErrorInfo();
  EXPECT_EQ(error.Description, L"No such table");
  EXPECT_EQ(error.Source, source);

  ASSERT_EQ(SetInitDataSource(dataSource.Get(), L"code-error"), S_OK);
  EXPECT_EQ(dataSource->Initialize(), DB_SEC_E_AUTH_FAILED);
  EXPECT_FALSE(TakeErrorInfo().Present);

  // Every failure left it uninitialised with its properties settable.
  TComPtr<IUnknown> session;
  EXPECT_EQ(CreateSessionOf(dataSource.Get(), session, IID_IGetDataSource), E_UNEXPECTED);
  ASSERT_EQ(SetInitDataSource(dataSource.Get(), L"C:\\logs"), S_OK);
  EXPECT_EQ(dataSource->Initialize(), S_OK);
}

TEST_F(DatasourceTest, QueryInterfaceDiagnosticsAndOptionalInterfaces) {
  std::vector<std::string> lines;
  TDebugSink previous = SetDebugSink([&](std::string_view line) { lines.emplace_back(line); });
  TComPtr<IDBInitialize> dataSource = NewDataSource();
  ASSERT_EQ(dataSource->Initialize(), S_OK);

  TComPtr<IRowset> rowset;
  EXPECT_EQ(dataSource.As(rowset, IID_IRowset), E_NOINTERFACE);
  TComPtr<IDBProperties> properties;
  EXPECT_EQ(dataSource.As(properties, IID_IDBProperties), S_OK);
  EXPECT_EQ(lines, std::vector<std::string>{"Datasource QI Fail: {0C733A7C-2A1C-11CE-ADE5-00AA0044773D}"});

  TComPtr<IUnknown> session;
  ASSERT_EQ(CreateSessionOf(dataSource.Get(), session, IID_IGetDataSource), S_OK);
  lines.clear();
  TComPtr<IDBCreateCommand> createCommand;
  EXPECT_EQ(session.As(createCommand, IID_IDBCreateCommand), E_NOINTERFACE);
  EXPECT_TRUE(lines.empty());

  ObjectOf<TTestSession>(session.Get())->Capabilities = 0x01;
  ASSERT_EQ(session.As(createCommand, IID_IDBCreateCommand), S_OK);
  TComPtr<ISupportErrorInfo> support;
  ASSERT_EQ(session.As(support, IID_ISupportErrorInfo), S_OK);
  EXPECT_EQ(support->InterfaceSupportsErrorInfo(IID_IDBCreateCommand), S_FALSE);
  EXPECT_EQ(support->InterfaceSupportsErrorInfo(IID_IGetDataSource), S_OK);
  TComPtr<IUnknown> command;
  EXPECT_EQ(createCommand->CreateCommand(nullptr, IID_ICommand, command.Put()), E_FAIL);
  EXPECT_EQ(TakeErrorInfo().Description, L"This operation is not implemented.\rTTestSession.CreateCommand");

  EXPECT_EQ(session.As(rowset, IID_IRowset), E_NOINTERFACE);
  EXPECT_EQ(lines, std::vector<std::string>{"Session QI Fail: {0C733A7C-2A1C-11CE-ADE5-00AA0044773D}"});
  SetDebugSink(previous);
}

TEST_F(DatasourceTest, Aggregation) {
  // An aggregated data source: the outer's identity and count.
  TTestOuter* outer = new TTestOuter;
  IUnknown* inner = nullptr;
  ASSERT_EQ(CreateTestProvider(outer, IID_IUnknown, reinterpret_cast<void**>(&inner)), S_OK);
  outer->SetInner(inner);
  EXPECT_EQ(CreateTestProvider(outer, IID_IDBInitialize, reinterpret_cast<void**>(&inner)), CLASS_E_NOAGGREGATION);
  {
    TComPtr<IDBInitialize> dataSource;
    ASSERT_EQ(outer->QueryInterface(IID_IDBInitialize, dataSource.PutVoid()), S_OK);
    EXPECT_EQ(outer->RefCount(), 2);
    ASSERT_EQ(dataSource->Initialize(), S_OK);

    TComPtr<IUnknown> session;
    TTestOuter* sessionOuter = new TTestOuter;
    EXPECT_EQ(CreateSessionOf(dataSource.Get(), session, IID_IGetDataSource, sessionOuter), DB_E_NOAGGREGATION);
    ASSERT_EQ(CreateSessionOf(dataSource.Get(), session, IID_IUnknown, sessionOuter), S_OK);
    sessionOuter->SetInner(session.Detach());

    // The session's data source is the aggregate, seen through its outer.
    TComPtr<IGetDataSource> getDataSource;
    ASSERT_EQ(sessionOuter->QueryInterface(IID_IGetDataSource, getDataSource.PutVoid()), S_OK);
    EXPECT_EQ(sessionOuter->RefCount(), 2);
    TComPtr<IUnknown> identity;
    ASSERT_EQ(getDataSource->GetDataSource(IID_IUnknown, identity.Put()), S_OK);
    EXPECT_EQ(identity.Get(), static_cast<IUnknown*>(outer));
    identity = nullptr;
    getDataSource = nullptr;
    EXPECT_EQ(dataSource->Uninitialize(), DB_E_OBJECTOPEN);
    sessionOuter->Release();
    EXPECT_EQ(dataSource->Uninitialize(), S_OK);
  }
  EXPECT_EQ(outer->RefCount(), 1);
  outer->Release();
}

// Another tree may be converting on another thread: uninitialising one data
// source must not drop the object they share.
TEST_F(DatasourceTest, DataConversionObjectOutlivesUninitialize) {
  IDataConvert* first = GetDataConvert();
  ASSERT_TRUE(first) << "the conversion library is missing";
  TComPtr<IDBInitialize> dataSource = NewDataSource();
  ASSERT_EQ(dataSource->Initialize(), S_OK);
  ASSERT_EQ(dataSource->Uninitialize(), S_OK);
  EXPECT_EQ(GetDataConvert(), first);
  EXPECT_EQ(first->CanConvert(DBTYPE_I4, DBTYPE_WSTR), S_OK);
}

TEST_F(DatasourceTest, UnknownPropertySetsCountAsErrors) {
  TComPtr<IDBProperties> properties;
  ASSERT_EQ(CreateTestProvider(nullptr, IID_IDBProperties, properties.PutVoid()), S_OK);
  DBPROPID init[] = {DBPROP_INIT_DATASOURCE}, table[] = {DBPROP_TBL_TEMPTABLE};

  auto describe = [&](std::vector<DBPROPIDSET> request, std::vector<DBPROPINFO>& lastSet) {
    ULONG count = 0;
    DBPROPINFOSET* sets = nullptr;
    HRESULT result = properties->GetPropertyInfo(static_cast<ULONG>(request.size()), request.data(), &count, &sets,
                                                 nullptr);
    lastSet.clear();
    for (ULONG i = 0; i < count; ++i) {
      for (ULONG j = 0; j < sets[i].cPropertyInfos; ++j) {
        VariantClear(&sets[i].rgPropertyInfos[j].vValues);
        if (i + 1 == count) lastSet.push_back(sets[i].rgPropertyInfos[j]);
      }
      CoTaskMemFree(sets[i].rgPropertyInfos);
    }
    CoTaskMemFree(sets);
    return result;
  };
  std::vector<DBPROPINFO> infos;
  // The IDs of a set the data source lacks come back, marked as not supported.
  EXPECT_EQ(describe({{init, 1, DBPROPSET_DBINIT}, {table, 1, DBPROPSET_TABLE}}, infos), DB_S_ERRORSOCCURRED);
  ASSERT_EQ(infos.size(), 1u);
  EXPECT_EQ(infos[0].dwPropertyID, DBPROP_TBL_TEMPTABLE);
  EXPECT_EQ(infos[0].dwFlags, DBPROPFLAGS_NOTSUPPORTED);
  EXPECT_EQ(describe({{nullptr, 0, DBPROPSET_DBINIT}, {nullptr, 0, DBPROPSET_TABLE}}, infos), DB_S_ERRORSOCCURRED);
  EXPECT_TRUE(infos.empty());
  EXPECT_EQ(describe({{table, 1, DBPROPSET_TABLE}}, infos), DB_E_ERRORSOCCURRED);
  EXPECT_EQ(infos.size(), 1u);

  // GetProperties sums up the same way.
  DBPROPIDSET request[] = {{nullptr, 0, DBPROPSET_DBINIT}, {nullptr, 0, DBPROPSET_TABLE}};
  ULONG count = 0;
  DBPROPSET* sets = nullptr;
  EXPECT_EQ(properties->GetProperties(2, request, &count, &sets), DB_S_ERRORSOCCURRED);
  for (ULONG i = 0; i < count; ++i) {
    for (ULONG j = 0; j < sets[i].cProperties; ++j) VariantClear(&sets[i].rgProperties[j].vValue);
    CoTaskMemFree(sets[i].rgProperties);
  }
  CoTaskMemFree(sets);
}

}  // namespace
