// Sessions through their published interfaces: opening tables, the
// table-name rule, optional interfaces, children and data source links.
#include <gtest/gtest.h>

#include <oledberr.h>

#include <string>
#include <vector>

#include "ConsumerTestSupport.h"
#include "Diagnostics.h"
#include "ObjectsProvider.h"

namespace {

DBID NameID(DBKIND kind, const wchar_t* name) {
  DBID id{};
  id.eKind = kind;
  id.uName.pwszName = const_cast<LPOLESTR>(name);
  return id;
}

TComPtr<IUnknown> Open(IOpenRowset* session, const wchar_t* table, HRESULT expected = S_OK) {
  DBID id = NameID(DBKIND_NAME, table);
  TComPtr<IUnknown> rowset;
  EXPECT_EQ(session->OpenRowset(nullptr, &id, nullptr, IID_IRowset, 0, nullptr, rowset.Put()), expected) << table;
  return rowset;
}

// Captures the debugger lines written while it lives.
class TDebugLines {
public:
  TDebugLines() {
    previous_ = SetDebugSink([this](std::string_view line) { Lines.emplace_back(line); });
  }
  ~TDebugLines() { SetDebugSink(previous_); }
  std::vector<std::string> Lines;

private:
  TDebugSink previous_;
};

TEST(ExecParams, TableNameRule) {
  const TTextCase cases[] = {
      {L"select * from Apr.log", L"Apr.log"},
      {L"SELECT * FROM \"Apr 1.log\"", L"Apr 1.log"},
      {L"SELECT * FROM a.log, b.log", L"SELECT * FROM a.log, b.log"},
      {L" SELECT * FROM a.log", L" SELECT * FROM a.log"},
      {L"SELECT * FROM  a.log ", L" a.log "},
      {L"SELECT * FROM \"", L"\""},
      {L"SELECT * FROM ", L""},
      {L"SELECT *  FROM a.log", L"SELECT *  FROM a.log"},
      {L"plain.log", L"plain.log"},
  };
  for (const TTextCase& c : cases) {
    EXPECT_EQ(TOleDbExecParams(c.Text).TableName, c.Expected) << c.Text;
    const TOleDbExecParams table(c.Text, L"ix");
    EXPECT_EQ(table.TableName, c.Expected);
    EXPECT_EQ(table.Text, c.Text);
    EXPECT_EQ(table.IndexName, L"ix");
    EXPECT_EQ(table.Kind, TOleDbExecKind::Table);
  }
  const TOleDbExecParams command(L"SELECT * FROM x");
  EXPECT_EQ(command.Kind, TOleDbExecKind::Command);
  EXPECT_TRUE(command.IndexName.empty());
  EXPECT_EQ(command.RowsAffected, 0);
}

TEST(Session, OpenRowsetPassesTheTableThroughTheRule) {
  TComPtr<IOpenRowset> session = CreateObjectsSession();
  // Characters outside any ANSI code page survive.
  const std::wstring unicode = L"\x65e5\x672c-\U0001F600.log";
  for (const std::wstring& text : {std::wstring(L"SELECT * FROM x.log"), L"select * from \"" + unicode + L"\""}) {
    TComPtr<IUnknown> rowset = Open(session.Get(), text.c_str());
    ASSERT_TRUE(rowset);
    EXPECT_EQ(TObjectsRowset::LastRequest.Kind, TOleDbExecKind::Table);
    EXPECT_EQ(TObjectsRowset::LastRequest.Text, text);
    EXPECT_FALSE(TObjectsRowset::LastRequest.HasPropertySets);
  }
  EXPECT_EQ(TObjectsRowset::LastRequest.TableName, unicode);

  TComPtr<IRowset> rows;
  ASSERT_TRUE(Open(session.Get(), L"t").As(rows, IID_IRowset) == S_OK);
  DBCOUNTITEM obtained = 0;
  HROW handles[3];
  HROW* p = handles;
  EXPECT_EQ(rows->GetNextRows(DB_NULL_HCHAPTER, 0, 3, &obtained, &p), S_OK);
  EXPECT_EQ(obtained, 3u);
  rows->ReleaseRows(obtained, handles, nullptr, nullptr, nullptr);
}

TEST(Session, OpenRowsetArgumentChecks) {
  TComPtr<IOpenRowset> session = CreateObjectsSession();
  DBID table = NameID(DBKIND_NAME, L"t");
  EXPECT_EQ(session->OpenRowset(nullptr, &table, nullptr, IID_IRowset, 0, nullptr, nullptr), E_INVALIDARG);
  TComPtr<IUnknown> rowset;
  EXPECT_EQ(session->OpenRowset(nullptr, nullptr, nullptr, IID_IRowset, 0, nullptr, rowset.Put()), E_INVALIDARG);
  EXPECT_EQ(session->OpenRowset(nullptr, &table, nullptr, IID_IRowset, 1, nullptr, rowset.Put()), E_INVALIDARG);
  for (DBKIND kind : {DBKIND_NAME, DBKIND_GUID_NAME, DBKIND_PGUID_NAME}) {
    DBID nameless = NameID(kind, nullptr);
    EXPECT_EQ(session->OpenRowset(nullptr, &nameless, nullptr, IID_IRowset, 0, nullptr, rowset.Put()), DB_E_NOTABLE);
    EXPECT_EQ(session->OpenRowset(nullptr, &table, &nameless, IID_IRowset, 0, nullptr, rowset.Put()), DB_E_NOINDEX);
    EXPECT_FALSE(rowset);
  }
  // Identifiers without a name give empty names, no error.
  DBID guid{};
  guid.eKind = DBKIND_GUID;
  DBID propid{};
  propid.eKind = DBKIND_PROPID;
  EXPECT_EQ(session->OpenRowset(nullptr, &guid, &propid, IID_IRowset, 0, nullptr, rowset.Put()), S_OK);
  EXPECT_EQ(TObjectsRowset::LastRequest.TableName, L"");
  DBID index = NameID(DBKIND_NAME, L"ix");
  EXPECT_EQ(session->OpenRowset(nullptr, nullptr, &index, IID_IRowset, 0, nullptr, rowset.Put()), S_OK);
  EXPECT_EQ(TObjectsRowset::LastRequest.IndexName, L"ix");

  EXPECT_EQ(session->OpenRowset(reinterpret_cast<IUnknown*>(session.Get()), &table, nullptr, IID_IRowset, 0, nullptr,
                                rowset.Put()),
            DB_E_NOAGGREGATION);
}

TEST(Session, ChildrenComeAndGo) {
  TComPtr<IOpenRowset> session = CreateObjectsSession();
  auto& object = ObjectBehind<TOleDbSession>(session.Get());
  EXPECT_EQ(object.ChildCount, 0);
  {
    TComPtr<IUnknown> first = Open(session.Get(), L"a");
    TComPtr<IUnknown> second = Open(session.Get(), L"b");
    EXPECT_EQ(object.ChildCount, 2);
    TComPtr<ICommandText> command = CreateObjectsCommand(session.Get());
    EXPECT_EQ(object.ChildCount, 3);
    // A failed open leaves no child behind.
    Open(session.Get(), L"missing", DB_E_NOTABLE);
    EXPECT_EQ(object.ChildCount, 3);
  }
  EXPECT_EQ(object.ChildCount, 0);
}

TEST(Session, UnsettablePropertiesStillGiveARowset) {
  TComPtr<IOpenRowset> session = CreateObjectsSession();
  DBPROP props[2]{};
  props[0].dwPropertyID = DBPROP_IAccessor;
  props[0].dwOptions = DBPROPOPTIONS_OPTIONAL;
  V_VT(&props[0].vValue) = VT_BOOL;
  V_BOOL(&props[0].vValue) = VARIANT_TRUE;
  props[1].dwPropertyID = 0xFFFF;
  props[1].dwOptions = DBPROPOPTIONS_OPTIONAL;
  V_VT(&props[1].vValue) = VT_BOOL;
  V_BOOL(&props[1].vValue) = VARIANT_TRUE;
  DBPROPSET set{props, 2, DBPROPSET_ROWSET};
  DBID table = NameID(DBKIND_NAME, L"t");
  TComPtr<IUnknown> rowset;
  EXPECT_EQ(session->OpenRowset(nullptr, &table, nullptr, IID_IRowset, 1, &set, rowset.Put()), DB_S_ERRORSOCCURRED);
  EXPECT_TRUE(rowset);
  // Optional properties only warn, even when none of them could be set.
  DBPROPSET unknownOnly{&props[1], 1, DBPROPSET_ROWSET}, nothing{nullptr, 0, DBPROPSET_ROWSET};
  EXPECT_EQ(session->OpenRowset(nullptr, &table, nullptr, IID_IRowset, 1, &unknownOnly, rowset.Put()),
            DB_S_ERRORSOCCURRED);
  EXPECT_TRUE(rowset);
  EXPECT_EQ(session->OpenRowset(nullptr, &table, nullptr, IID_IRowset, 1, &nothing, rowset.Put()), S_OK);
  EXPECT_TRUE(rowset);
  props[1].dwOptions = DBPROPOPTIONS_REQUIRED;
  auto& object = ObjectBehind<TOleDbSession>(session.Get());
  const LONG children = object.ChildCount;
  EXPECT_EQ(session->OpenRowset(nullptr, &table, nullptr, IID_IRowset, 1, &set, rowset.Put()), DB_E_ERRORSOCCURRED);
  EXPECT_FALSE(rowset);
  EXPECT_EQ(object.ChildCount, children - 1);
}

TEST(Session, OptionalInterfacesByCapability) {
  TObjectsSession::NextCapabilities = 0;
  TComPtr<IOpenRowset> plain = CreateObjectsSession();
  TObjectsSession::NextCapabilities = OleDbSessionCreateCommand | OleDbSessionSchemaRowset;
  TComPtr<IOpenRowset> full = CreateObjectsSession();

  TDebugLines debug;
  TComPtr<IUnknown> answer;
  EXPECT_EQ(plain->QueryInterface(IID_IDBCreateCommand, answer.PutVoid()), E_NOINTERFACE);
  EXPECT_EQ(plain->QueryInterface(IID_IDBSchemaRowset, answer.PutVoid()), E_NOINTERFACE);
  EXPECT_TRUE(debug.Lines.empty());
  EXPECT_EQ(full->QueryInterface(IID_IDBCreateCommand, answer.PutVoid()), S_OK);
  EXPECT_EQ(full->QueryInterface(IID_IDBSchemaRowset, answer.PutVoid()), S_OK);
  for (REFIID iid : {IID_ISessionProperties, IID_IGetDataSource, IID_IOpenRowset})
    EXPECT_EQ(plain->QueryInterface(iid, answer.PutVoid()), S_OK);
  EXPECT_TRUE(debug.Lines.empty());
  EXPECT_EQ(plain->QueryInterface(IID_ITransactionLocal, answer.PutVoid()), E_NOINTERFACE);
  ASSERT_EQ(debug.Lines.size(), 1u);
  EXPECT_EQ(debug.Lines[0], "Session QI Fail: {0C733A5F-2A1C-11CE-ADE5-00AA0044773D}");

  TComPtr<IGetDataSource> getDataSource;
  ASSERT_EQ(plain.As(getDataSource, IID_IGetDataSource), S_OK);
  TComPtr<IUnknown> dataSource;
  EXPECT_EQ(getDataSource->GetDataSource(IID_IDBInitialize, dataSource.Put()), S_OK);
  EXPECT_TRUE(dataSource);
  EXPECT_EQ(getDataSource->GetDataSource(IID_IRowset, dataSource.Put()), E_NOINTERFACE);
  EXPECT_FALSE(dataSource);
  EXPECT_EQ(getDataSource->GetDataSource(IID_IUnknown, nullptr), E_INVALIDARG);
}

TEST(Session, CommandCreation) {
  TComPtr<IOpenRowset> session = CreateObjectsSession();
  TComPtr<IDBCreateCommand> create;
  ASSERT_EQ(session.As(create, IID_IDBCreateCommand), S_OK);
  EXPECT_EQ(create->CreateCommand(nullptr, IID_ICommand, nullptr), E_INVALIDARG);
  TComPtr<IUnknown> command;
  EXPECT_EQ(create->CreateCommand(reinterpret_cast<IUnknown*>(session.Get()), IID_ICommand, command.Put()),
            DB_E_NOAGGREGATION);
  EXPECT_EQ(create->CreateCommand(nullptr, IID_ICommand, command.Put()), S_OK);
  TComPtr<ICommand> asCommand;
  ASSERT_EQ(command.As(asCommand, IID_ICommand), S_OK);
  TComPtr<IUnknown> back;
  EXPECT_EQ(asCommand->GetDBSession(IID_IOpenRowset, back.Put()), S_OK);
  EXPECT_EQ(back.Get(), static_cast<IUnknown*>(session.Get()));
}

// A session class without a factory-made descriptor names no classes.
class TBareSession : public TOleDbSession {};

TEST(Session, WithoutClassesHooksAreNotImplemented) {
  TComPtr<TBareSession> session = MakeComObject<TBareSession>();
  session->Capabilities = OleDbSessionCreateCommand;
  TComPtr<IUnknown> command;
  EXPECT_EQ(session->CreateCommand(nullptr, IID_ICommand, command.Put()), E_FAIL);
  TComPtr<IErrorInfo> info;
  ASSERT_EQ(GetErrorInfo(0, info.Put()), S_OK);
  BSTR text = nullptr;
  info->GetDescription(&text);
  EXPECT_STREQ(text, L"This operation is not implemented.\rTOleDbSession.GetCommmandClass");
  SysFreeString(text);
  DBID table = NameID(DBKIND_NAME, L"t");
  EXPECT_EQ(session->OpenRowset(nullptr, &table, nullptr, IID_IRowset, 0, nullptr, command.Put()), E_FAIL);
}

// A read that fails at a later binding takes back what it allocated for the
// earlier ones: nothing is left for the consumer to free or to trip over.
TEST(Session, FailedReadLeavesNoAllocations) {
  TComPtr<IOpenRowset> session = CreateObjectsSession();
  TComPtr<IUnknown> rowset = Open(session.Get(), L"faulty");
  ASSERT_TRUE(rowset);
  struct TBuffer {
    BSTR Id;
    wchar_t* IdRef;
    VARIANT IdVariant;
    wchar_t Name[20];
  };
  DBBINDING bindings[4]{};
  const DBTYPE types[] = {DBTYPE_BSTR, DBTYPE_WSTR | DBTYPE_BYREF, DBTYPE_VARIANT, DBTYPE_WSTR};
  const DBBYTEOFFSET offsets[] = {offsetof(TBuffer, Id), offsetof(TBuffer, IdRef), offsetof(TBuffer, IdVariant),
                                  offsetof(TBuffer, Name)};
  for (int i = 0; i < 4; ++i) {
    bindings[i].iOrdinal = i < 3 ? 1 : 2;
    bindings[i].dwPart = DBPART_VALUE;
    bindings[i].wType = types[i];
    bindings[i].obValue = offsets[i];
    bindings[i].cbMaxLen = i == 3 ? sizeof(TBuffer::Name) : 0;
  }
  TComPtr<IAccessor> accessor;
  ASSERT_EQ(rowset.As(accessor, IID_IAccessor), S_OK);
  HACCESSOR ids = DB_NULL_HACCESSOR, all = DB_NULL_HACCESSOR;
  ASSERT_EQ(accessor->CreateAccessor(DBACCESSOR_ROWDATA, 3, bindings, 0, &ids, nullptr), S_OK);
  ASSERT_EQ(accessor->CreateAccessor(DBACCESSOR_ROWDATA, 4, bindings, 0, &all, nullptr), S_OK);
  TComPtr<IRowset> rows;
  ASSERT_EQ(rowset.As(rows, IID_IRowset), S_OK);
  HROW row;
  HROW* p = &row;
  DBCOUNTITEM obtained = 0;
  ASSERT_EQ(rows->GetNextRows(DB_NULL_HCHAPTER, 0, 1, &obtained, &p), S_OK);

  TBuffer buffer{};
  ASSERT_EQ(rows->GetData(row, ids, &buffer), S_OK);
  EXPECT_STREQ(buffer.Id, L"1");
  EXPECT_STREQ(buffer.IdRef, L"1");
  SysFreeString(buffer.Id);
  CoTaskMemFree(buffer.IdRef);
  VariantClear(&buffer.IdVariant);

  buffer = TBuffer{};
  EXPECT_EQ(rows->GetData(row, all, &buffer), E_FAIL);
  EXPECT_EQ(buffer.Id, nullptr);
  EXPECT_EQ(buffer.IdRef, nullptr);
  EXPECT_EQ(V_VT(&buffer.IdVariant), VT_EMPTY);
  rows->ReleaseRows(1, &row, nullptr, nullptr, nullptr);
}

}  // namespace
