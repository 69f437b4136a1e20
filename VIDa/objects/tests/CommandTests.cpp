// Commands through their published interfaces: text, states, execution
// into rowsets and statements, inherited accessors and column information.
#include <gtest/gtest.h>

#include <oledberr.h>

#include <cstdint>
#include <string>
#include <vector>

#include "ConsumerTestSupport.h"
#include "Diagnostics.h"
#include "ObjectsProvider.h"

namespace {

template <class I>
TComPtr<I> Ask(IUnknown* object, REFIID riid) {
  TComPtr<I> result;
  object->QueryInterface(riid, result.PutVoid());
  return result;
}

std::wstring CommandTextOf(ICommandText* command, GUID* dialect = nullptr) {
  LPOLESTR text = nullptr;
  EXPECT_EQ(command->GetCommandText(dialect, &text), S_OK);
  std::wstring result = text ? text : L"<null>";
  CoTaskMemFree(text);
  return result;
}

struct TFixture {
  TComPtr<IOpenRowset> Session = CreateObjectsSession();
  TComPtr<ICommandText> Text;
  TComPtr<ICommand> Command;
  explicit TFixture(const wchar_t* text = nullptr, std::uint8_t capabilities = 0) {
    TObjectsCommand::NextCapabilities = capabilities;
    Text = CreateObjectsCommand(Session.Get(), text);
    TObjectsCommand::NextCapabilities = 0;
    Command = Ask<ICommand>(Text.Get(), IID_ICommand);
  }
  TOleDbCommand& Object() { return ObjectBehind<TOleDbCommand>(Text.Get()); }
};

TEST(Command, TextIsKeptAsGiven) {
  TFixture f;
  LPOLESTR text = reinterpret_cast<LPOLESTR>(1);
  EXPECT_EQ(f.Text->GetCommandText(nullptr, &text), DB_E_NOCOMMAND);
  EXPECT_EQ(text, nullptr);
  EXPECT_EQ(f.Text->GetCommandText(nullptr, nullptr), E_INVALIDARG);

  const std::wstring unicode = L"SELECT * FROM \"\x0416\x65e5-\U0001F600.log\"";
  ASSERT_EQ(f.Text->SetCommandText(DBGUID_DEFAULT, unicode.c_str()), S_OK);
  GUID dialect = GUID_NULL;
  EXPECT_EQ(CommandTextOf(f.Text.Get(), &dialect), unicode);
  EXPECT_TRUE(IsEqualGUID(dialect, DBGUID_DEFAULT));
  TComPtr<IUnknown> rowset;
  ASSERT_EQ(f.Command->Execute(nullptr, IID_IRowset, nullptr, nullptr, rowset.Put()), S_OK);
  EXPECT_EQ(TObjectsRowset::LastRequest.TableName, L"\x0416\x65e5-\U0001F600.log");
  EXPECT_EQ(TObjectsRowset::LastRequest.Text, unicode);
  EXPECT_EQ(TObjectsRowset::LastRequest.Kind, TOleDbExecKind::Command);

  rowset.Reset();
  EXPECT_EQ(f.Text->SetCommandText(DBGUID_DEFAULT, nullptr), S_OK);
  EXPECT_EQ(CommandTextOf(f.Text.Get()), L"");
}

TEST(Command, StatesAndTheirRefusals) {
  TFixture f;
  TComPtr<IUnknown> rowset;
  EXPECT_EQ(f.Command->Execute(nullptr, IID_IRowset, nullptr, nullptr, rowset.Put()), DB_E_NOCOMMAND);
  TComPtr<IColumnsInfo> info = Ask<IColumnsInfo>(f.Text.Get(), IID_IColumnsInfo);
  DBORDINAL count = 0;
  DBCOLUMNINFO* columns = nullptr;
  OLECHAR* names = nullptr;
  EXPECT_EQ(info->GetColumnInfo(&count, &columns, &names), DB_E_NOCOMMAND);

  // Cancel leaves a command with an empty text.
  EXPECT_EQ(f.Command->Cancel(), S_OK);
  EXPECT_EQ(f.Object().State, TOleDbCommandState::TextSet);
  GUID dialect = GUID_NULL;
  EXPECT_EQ(CommandTextOf(f.Text.Get(), &dialect), L"");
  EXPECT_TRUE(IsEqualGUID(dialect, DBGUID_DEFAULT));

  // Without the preparation bit column information needs no Prepare.
  f.Text->SetCommandText(DBGUID_DEFAULT, L"t");
  ASSERT_EQ(info->GetColumnInfo(&count, &columns, &names), S_OK);
  EXPECT_EQ(count, 2u);
  EXPECT_STREQ(columns[1].pwszName, L"NAME");
  CoTaskMemFree(columns);
  CoTaskMemFree(names);

  ASSERT_EQ(f.Command->Execute(nullptr, IID_IRowset, nullptr, nullptr, rowset.Put()), S_OK);
  EXPECT_EQ(f.Object().State, TOleDbCommandState::Executed);
  EXPECT_EQ(f.Text->SetCommandText(DBGUID_DEFAULT, L"u"), DB_E_OBJECTOPEN);
  TComPtr<ICommandProperties> properties = Ask<ICommandProperties>(f.Text.Get(), IID_ICommandProperties);
  EXPECT_EQ(properties->SetProperties(0, nullptr), DB_E_OBJECTOPEN);
  EXPECT_EQ(f.Object().ChildCount, 1);
  rowset.Reset();
  EXPECT_EQ(f.Object().ChildCount, 0);
  EXPECT_EQ(f.Object().State, TOleDbCommandState::Executed) << "releasing the rowset changes no state";
  EXPECT_EQ(properties->SetProperties(0, nullptr), S_OK);
  EXPECT_EQ(f.Text->SetCommandText(DBGUID_DEFAULT, L"u"), S_OK);
  EXPECT_EQ(f.Object().State, TOleDbCommandState::TextSet);
}

TEST(Command, PreparationStates) {
  TFixture f(nullptr, OleDbCommandPrepare);
  TComPtr<ICommandPrepare> prepare = Ask<ICommandPrepare>(f.Text.Get(), IID_ICommandPrepare);
  ASSERT_TRUE(prepare);
  EXPECT_EQ(prepare->Prepare(1), DB_E_NOCOMMAND);
  f.Text->SetCommandText(DBGUID_DEFAULT, L"t");
  TComPtr<IColumnsInfo> info = Ask<IColumnsInfo>(f.Text.Get(), IID_IColumnsInfo);
  DBORDINAL count = 0;
  DBCOLUMNINFO* columns = nullptr;
  OLECHAR* names = nullptr;
  EXPECT_EQ(info->GetColumnInfo(&count, &columns, &names), DB_E_NOTPREPARED);
  const DBID id{};
  DBORDINAL ordinal = 0;
  EXPECT_EQ(info->MapColumnIDs(1, &id, &ordinal), DB_E_NOTPREPARED);
  const int before = TObjectsCommand::PrepareCalls;
  ASSERT_EQ(prepare->Prepare(1), S_OK);
  EXPECT_EQ(TObjectsCommand::PrepareCalls, before + 1);
  ASSERT_EQ(info->GetColumnInfo(&count, &columns, &names), S_OK);
  CoTaskMemFree(columns);
  CoTaskMemFree(names);

  TComPtr<IUnknown> rowset;
  ASSERT_EQ(f.Command->Execute(nullptr, IID_IRowset, nullptr, nullptr, rowset.Put()), S_OK);
  EXPECT_EQ(info->GetColumnInfo(&count, &columns, &names), DB_E_NOTPREPARED) << "executed, not prepared";
  EXPECT_EQ(prepare->Prepare(1), DB_E_OBJECTOPEN);
  EXPECT_EQ(prepare->Unprepare(), DB_E_OBJECTOPEN);
  rowset.Reset();
  EXPECT_EQ(prepare->Unprepare(), S_OK);
  EXPECT_EQ(f.Object().State, TOleDbCommandState::TextSet);
}

TEST(Command, OptionalInterfacesByCapability) {
  TFixture plain(L"t");
  TFixture full(L"t", OleDbCommandPrepare | OleDbCommandParameters);
  std::vector<std::string> lines;
  TDebugSink previous = SetDebugSink([&](std::string_view line) { lines.emplace_back(line); });
  TComPtr<IUnknown> answer;
  EXPECT_EQ(plain.Text->QueryInterface(IID_ICommandPrepare, answer.PutVoid()), E_NOINTERFACE);
  EXPECT_EQ(plain.Text->QueryInterface(IID_ICommandWithParameters, answer.PutVoid()), E_NOINTERFACE);
  EXPECT_EQ(full.Text->QueryInterface(IID_ICommandPrepare, answer.PutVoid()), S_OK);
  EXPECT_EQ(full.Text->QueryInterface(IID_ICommandWithParameters, answer.PutVoid()), S_OK);
  for (REFIID iid : {IID_ICommand, IID_ICommandText, IID_ICommandProperties, IID_IConvertType, IID_IColumnsInfo,
                     IID_IAccessor, IID_ISupportErrorInfo})
    EXPECT_EQ(plain.Text->QueryInterface(iid, answer.PutVoid()), S_OK);
  EXPECT_TRUE(lines.empty());
  EXPECT_EQ(plain.Text->QueryInterface(IID_IRowset, answer.PutVoid()), E_NOINTERFACE);
  SetDebugSink(previous);
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_EQ(lines[0], "Command QI Fail: {0C733A7C-2A1C-11CE-ADE5-00AA0044773D}");

  TComPtr<IConvertType> plainConvert = Ask<IConvertType>(plain.Text.Get(), IID_IConvertType);
  TComPtr<IConvertType> fullConvert = Ask<IConvertType>(full.Text.Get(), IID_IConvertType);
  EXPECT_EQ(plainConvert->CanConvert(DBTYPE_I4, DBTYPE_WSTR, DBCONVERTFLAGS_PARAMETER), DB_E_BADCONVERTFLAG);
  EXPECT_EQ(fullConvert->CanConvert(DBTYPE_I4, DBTYPE_WSTR, DBCONVERTFLAGS_PARAMETER), S_OK);
  EXPECT_EQ(plainConvert->CanConvert(DBTYPE_I4, DBTYPE_WSTR, DBCONVERTFLAGS_FROMVARIANT), DB_E_BADTYPE);
  EXPECT_EQ(plainConvert->CanConvert(DBTYPE_I4, DBTYPE_WSTR, DBCONVERTFLAGS_COLUMN), S_OK);
}

TEST(Command, StatementsAndRowsetTexts) {
  struct TCase {
    const wchar_t* Text;
    bool Rowset;
  } cases[] = {{L"  \t update t set a=1 ", false}, {L"INSERT INTO t VALUES (1)", false}, {L"delete from x", false},
               {L"UPDATEX t", true},               {L"UPDATE\tt", true},                 {L"DELETE", true},
               {L"SELECT * FROM t", true}};
  for (const TCase& c : cases) {
    TFixture f(c.Text);
    EXPECT_EQ(f.Object().IsRowsetCommand(), c.Rowset) << c.Text;
  }

  TFixture f(L"DELETE FROM x");
  DBROWCOUNT affected = 42;
  TComPtr<IUnknown> rowset;
  EXPECT_EQ(f.Command->Execute(nullptr, IID_IRowset, nullptr, &affected, rowset.Put()), E_FAIL);
  EXPECT_EQ(TakeErrorInfo().Description,
            L"This operation is not implemented.\rTOleDbCommand.ExecuteCommand\r\"DELETE FROM x\"");
  EXPECT_EQ(affected, 42) << "a failed call writes nothing";
  EXPECT_EQ(f.Object().State, TOleDbCommandState::TextSet);
}

TEST(Command, ExecuteIntoARowset) {
  TFixture f(L"SELECT * FROM t");
  DBROWCOUNT affected = -5;
  // Without an out-pointer the rowset is opened and gone again.
  ASSERT_EQ(f.Command->Execute(nullptr, IID_IRowset, nullptr, &affected, nullptr), S_OK);
  EXPECT_EQ(affected, 7);
  EXPECT_EQ(f.Object().ChildCount, 0);

  TComPtr<IUnknown> rowset;
  EXPECT_EQ(f.Command->Execute(reinterpret_cast<IUnknown*>(f.Session.Get()), IID_IRowset, nullptr, nullptr,
                               rowset.Put()),
            DB_E_NOAGGREGATION);
  f.Text->SetCommandText(DBGUID_DEFAULT, L"missing");
  EXPECT_EQ(f.Command->Execute(nullptr, IID_IRowset, nullptr, &affected, rowset.Put()), DB_E_NOTABLE);
  EXPECT_FALSE(rowset);
  EXPECT_EQ(f.Object().ChildCount, 0) << "the failed rowset is gone";

  // A property the rowset cannot take: the warning, a rowset and the count.
  DBPROP prop{};
  prop.dwPropertyID = DBPROP_COMMANDTIMEOUT;
  prop.dwOptions = DBPROPOPTIONS_OPTIONAL;
  V_VT(&prop.vValue) = VT_I4;
  V_I4(&prop.vValue) = 30;
  DBPROPSET set{&prop, 1, DBPROPSET_ROWSET};
  auto properties = Ask<ICommandProperties>(f.Text.Get(), IID_ICommandProperties);
  ASSERT_EQ(properties->SetProperties(1, &set), S_OK);
  f.Text->SetCommandText(DBGUID_DEFAULT, L"t");
  affected = -5;
  EXPECT_EQ(f.Command->Execute(nullptr, IID_IRowset, nullptr, &affected, rowset.Put()), DB_S_ERRORSOCCURRED);
  EXPECT_TRUE(rowset);
  EXPECT_EQ(affected, 7);
  EXPECT_EQ(f.Object().State, TOleDbCommandState::Executed);
}

struct TCell {
  DBSTATUS Status;
  DWORD Pad;
  DBLENGTH Length;
  LONG Id;
  DWORD Pad2;
  wchar_t Name[20];
};

DBBINDING CellBinding(DBORDINAL ordinal) {
  DBBINDING binding{};
  binding.iOrdinal = ordinal;
  binding.dwPart = DBPART_VALUE | DBPART_STATUS;
  binding.obStatus = offsetof(TCell, Status);
  binding.obLength = offsetof(TCell, Length);
  if (ordinal == 1) {
    binding.wType = DBTYPE_I4;
    binding.obValue = offsetof(TCell, Id);
  } else {
    binding.wType = DBTYPE_WSTR;
    binding.obValue = offsetof(TCell, Name);
    binding.cbMaxLen = sizeof(TCell::Name);
  }
  return binding;
}

TEST(Command, AccessorConversionsAreCheckedAgainstTheCurrentText) {
  // The test command's rowset texts have an I4 column 1, which no GUID
  // binding can read; a statement has no columns.
  DBBINDING asGuid = CellBinding(1);
  asGuid.wType = DBTYPE_GUID;
  struct TCase {
    const wchar_t* Earlier;  // text whose columns were asked for first
    const wchar_t* Current;
    std::uint8_t Capabilities;
    HRESULT Expected;
  } cases[] = {
      {nullptr, L"SELECT * FROM t", 0, DB_E_ERRORSOCCURRED},
      {L"SELECT * FROM t", L"UPDATE t SET a = 1", 0, S_OK},
      {nullptr, nullptr, 0, S_OK},
      // Not prepared: the columns are not known yet; the rowset checks.
      {nullptr, L"SELECT * FROM t", OleDbCommandPrepare, S_OK},
  };
  for (const TCase& c : cases) {
    TFixture f(c.Earlier ? c.Earlier : c.Current, c.Capabilities);
    if (c.Earlier) {
      DBORDINAL count = 0;
      DBCOLUMNINFO* infos = nullptr;
      OLECHAR* names = nullptr;
      ASSERT_EQ(Ask<IColumnsInfo>(f.Text.Get(), IID_IColumnsInfo)->GetColumnInfo(&count, &infos, &names), S_OK);
      CoTaskMemFree(infos);
      CoTaskMemFree(names);
      ASSERT_EQ(f.Text->SetCommandText(DBGUID_DEFAULT, c.Current), S_OK);
    }
    HACCESSOR accessor = DB_NULL_HACCESSOR;
    DBBINDSTATUS status = DBBINDSTATUS_OK;
    EXPECT_EQ(Ask<IAccessor>(f.Text.Get(), IID_IAccessor)
                  ->CreateAccessor(DBACCESSOR_ROWDATA, 1, &asGuid, sizeof(TCell), &accessor, &status),
              c.Expected)
        << (c.Current ? c.Current : L"no text");
  }
}

TEST(Command, AccessorsCreatedBeforeExecuteReadTheRowset) {
  TFixture f(L"t");
  TComPtr<IAccessor> commandAccessors = Ask<IAccessor>(f.Text.Get(), IID_IAccessor);
  const DBBINDING bindings[] = {CellBinding(1), CellBinding(2)};
  HACCESSOR rowAccessor = DB_NULL_HACCESSOR, parameterAccessor = DB_NULL_HACCESSOR;
  ASSERT_EQ(commandAccessors->CreateAccessor(DBACCESSOR_ROWDATA, 2, bindings, sizeof(TCell), &rowAccessor, nullptr),
            S_OK);
  ASSERT_EQ(commandAccessors->CreateAccessor(DBACCESSOR_PARAMETERDATA, 1, bindings, 0, &parameterAccessor, nullptr),
            S_OK);

  TComPtr<IUnknown> first, second;
  ASSERT_EQ(f.Command->Execute(nullptr, IID_IRowset, nullptr, nullptr, first.Put()), S_OK);
  ASSERT_EQ(f.Command->Execute(nullptr, IID_IRowset, nullptr, nullptr, second.Put()), S_OK);
  EXPECT_EQ(f.Object().ChildCount, 2);
  for (IUnknown* rowset : {first.Get(), second.Get()}) {
    auto rows = Ask<IRowset>(rowset, IID_IRowset);
    HROW handles[3];
    HROW* p = handles;
    DBCOUNTITEM obtained = 0;
    ASSERT_EQ(rows->GetNextRows(DB_NULL_HCHAPTER, 0, 3, &obtained, &p), S_OK);
    TCell cell{};
    ASSERT_EQ(rows->GetData(handles[2], rowAccessor, &cell), S_OK);
    EXPECT_EQ(cell.Id, 3);
    EXPECT_STREQ(cell.Name, L"three");
    EXPECT_EQ(rows->GetData(handles[2], parameterAccessor, &cell), DB_E_BADACCESSORHANDLE) << "not inherited";
    rows->ReleaseRows(obtained, handles, nullptr, nullptr, nullptr);

    // The copy answers to the command's handle and is the rowset's own.
    auto rowsetAccessors = Ask<IAccessor>(rowset, IID_IAccessor);
    DBACCESSORFLAGS flags = 0;
    DBCOUNTITEM count = 0;
    DBBINDING* copies = nullptr;
    ASSERT_EQ(rowsetAccessors->GetBindings(rowAccessor, &flags, &count, &copies), S_OK);
    EXPECT_EQ(count, 2u);
    CoTaskMemFree(copies);
  }
  auto firstAccessors = Ask<IAccessor>(first.Get(), IID_IAccessor);
  DBREFCOUNT left = 9;
  EXPECT_EQ(firstAccessors->ReleaseAccessor(rowAccessor, &left), S_OK);
  EXPECT_EQ(left, 0u);
  DBACCESSORFLAGS flags = 0;
  DBCOUNTITEM count = 0;
  DBBINDING* copies = nullptr;
  EXPECT_EQ(commandAccessors->GetBindings(rowAccessor, &flags, &count, &copies), S_OK) << "the command's stays";
  CoTaskMemFree(copies);
}

TEST(Command, AccessorHandlesAreKnownOnlyWhereIssued) {
  TFixture f(L"t");
  TComPtr<IUnknown> rowset;
  ASSERT_EQ(f.Command->Execute(nullptr, IID_IRowset, nullptr, nullptr, rowset.Put()), S_OK);
  auto commandAccessors = Ask<IAccessor>(f.Text.Get(), IID_IAccessor);
  auto rowsetAccessors = Ask<IAccessor>(rowset.Get(), IID_IAccessor);
  const DBBINDING binding = CellBinding(1);
  HACCESSOR onCommand = DB_NULL_HACCESSOR, onRowset = DB_NULL_HACCESSOR;
  ASSERT_EQ(commandAccessors->CreateAccessor(DBACCESSOR_ROWDATA, 1, &binding, 0, &onCommand, nullptr), S_OK);
  ASSERT_EQ(rowsetAccessors->CreateAccessor(DBACCESSOR_ROWDATA, 1, &binding, 0, &onRowset, nullptr), S_OK);
  EXPECT_NE(onCommand, onRowset);
  DBACCESSORFLAGS flags = 0;
  DBCOUNTITEM count = 0;
  DBBINDING* bindings = nullptr;
  EXPECT_EQ(rowsetAccessors->GetBindings(onCommand, &flags, &count, &bindings), DB_E_BADACCESSORHANDLE);
  EXPECT_EQ(commandAccessors->ReleaseAccessor(onRowset, nullptr), DB_E_BADACCESSORHANDLE);
  EXPECT_EQ(rowsetAccessors->ReleaseAccessor(onRowset, nullptr), S_OK);
  EXPECT_EQ(rowsetAccessors->ReleaseAccessor(onRowset, nullptr), DB_E_BADACCESSORHANDLE) << "stale";
  EXPECT_EQ(commandAccessors->AddRefAccessor(onCommand, nullptr), S_OK);
}

TEST(Command, SessionLinkAndChildren) {
  TFixture f(L"t");
  auto& session = ObjectBehind<TOleDbSession>(f.Session.Get());
  EXPECT_EQ(session.ChildCount, 1);
  TComPtr<IUnknown> back;
  EXPECT_EQ(f.Command->GetDBSession(IID_IOpenRowset, back.Put()), S_OK);
  EXPECT_EQ(back.Get(), static_cast<IUnknown*>(f.Session.Get()));
  EXPECT_EQ(f.Command->GetDBSession(IID_IOpenRowset, nullptr), E_INVALIDARG);
  // The rowset keeps its command, the command its session.
  TComPtr<IUnknown> rowset;
  ASSERT_EQ(f.Command->Execute(nullptr, IID_IRowset, nullptr, nullptr, rowset.Put()), S_OK);
  f.Text.Reset();
  f.Command.Reset();
  EXPECT_EQ(session.ChildCount, 1);
  rowset.Reset();
  EXPECT_EQ(session.ChildCount, 0);
}

// What ICommandProperties::GetProperties answers for one request; freed by
// the published rules.
struct TCommandProperties {
  ULONG Count = 0;
  DBPROPSET* Sets = nullptr;
  TCommandProperties(ICommandText* command, DBPROPIDSET request) {
    EXPECT_EQ(Ask<ICommandProperties>(command, IID_ICommandProperties)->GetProperties(1, &request, &Count, &Sets),
              S_OK);
  }
  ~TCommandProperties() {
    for (ULONG i = 0; Sets && i < Count; ++i) {
      for (ULONG j = 0; j < Sets[i].cProperties; ++j) VariantClear(&Sets[i].rgProperties[j].vValue);
      CoTaskMemFree(Sets[i].rgProperties);
    }
    CoTaskMemFree(Sets);
  }
  const DBPROP& First() const { return Sets[0].rgProperties[0]; }
};

TEST(Command, RequiredPropertiesReachTheRowsetAsRequired) {
  TFixture f(L"t");
  auto properties = Ask<ICommandProperties>(f.Text.Get(), IID_ICommandProperties);
  // The objects provider's rowset refuses any command timeout but 0.
  DBPROP prop{};
  prop.dwPropertyID = DBPROP_COMMANDTIMEOUT;
  prop.dwOptions = DBPROPOPTIONS_REQUIRED;
  V_VT(&prop.vValue) = VT_I4;
  V_I4(&prop.vValue) = 30;
  DBPROPSET set{&prop, 1, DBPROPSET_ROWSET};
  ASSERT_EQ(properties->SetProperties(1, &set), S_OK);
  DBPROPID id = DBPROP_COMMANDTIMEOUT;
  EXPECT_EQ(TCommandProperties(f.Text.Get(), {&id, 1, DBPROPSET_ROWSET}).First().dwOptions, DBPROPOPTIONS_REQUIRED);

  DBROWCOUNT affected = -5;
  TComPtr<IUnknown> rowset;
  EXPECT_EQ(f.Command->Execute(nullptr, IID_IRowset, nullptr, &affected, rowset.Put()), DB_E_ERRORSOCCURRED);
  EXPECT_FALSE(rowset);
  EXPECT_EQ(affected, -5);
  EXPECT_EQ(f.Object().ChildCount, 0);
  EXPECT_EQ(f.Object().State, TOleDbCommandState::TextSet);
  {
    TCommandProperties errors(f.Text.Get(), {nullptr, 0, DBPROPSET_PROPERTIESINERROR});
    ASSERT_EQ(errors.Count, 1u);
    ASSERT_EQ(errors.Sets[0].cProperties, 1u);
    EXPECT_EQ(errors.First().dwPropertyID, DBPROP_COMMANDTIMEOUT);
    EXPECT_EQ(errors.First().dwStatus, DBPROPSTATUS_NOTSETTABLE);
    EXPECT_EQ(errors.First().dwOptions, DBPROPOPTIONS_REQUIRED);
  }
  DBPROPSET inError{&prop, 1, DBPROPSET_PROPERTIESINERROR};
  EXPECT_EQ(properties->SetProperties(1, &inError), DB_E_ERRORSOCCURRED) << "the error set is not settable";
  EXPECT_EQ(prop.dwStatus, DBPROPSTATUS_NOTSUPPORTED);

  // An option that is neither required nor optional is refused and changes nothing.
  prop.dwOptions = 7;
  EXPECT_EQ(properties->SetProperties(1, &set), DB_E_ERRORSOCCURRED);
  EXPECT_EQ(prop.dwStatus, DBPROPSTATUS_BADOPTION);
  EXPECT_EQ(TCommandProperties(f.Text.Get(), {&id, 1, DBPROPSET_ROWSET}).First().dwOptions, DBPROPOPTIONS_REQUIRED);

  // Set again as optional, the same value only warns.
  prop.dwOptions = DBPROPOPTIONS_OPTIONAL;
  ASSERT_EQ(properties->SetProperties(1, &set), S_OK);
  EXPECT_EQ(f.Command->Execute(nullptr, IID_IRowset, nullptr, &affected, rowset.Put()), DB_S_ERRORSOCCURRED);
  EXPECT_TRUE(rowset);
}

TEST(Command, FailedExecuteLeavesNoRowsetPointer) {
  auto execute = [](TFixture& f, IUnknown* outer = nullptr) {
    // A stale pointer left in *ppRowset is what a consumer releases after a failure.
    IUnknown* rowset = reinterpret_cast<IUnknown*>(static_cast<std::uintptr_t>(0xDEADBEEF));
    HRESULT result = f.Command->Execute(outer, IID_IRowset, nullptr, nullptr, &rowset);
    EXPECT_EQ(rowset, nullptr) << std::hex << result;
    return result;
  };
  TFixture fresh;
  EXPECT_EQ(execute(fresh), DB_E_NOCOMMAND);
  TFixture missing(L"missing");
  EXPECT_EQ(execute(missing), DB_E_NOTABLE);
  EXPECT_EQ(execute(missing, reinterpret_cast<IUnknown*>(missing.Session.Get())), DB_E_NOAGGREGATION);
  TFixture statement(L"DELETE FROM x");
  EXPECT_EQ(execute(statement), E_FAIL);
}

}  // namespace
