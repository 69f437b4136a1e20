// Parameter descriptions through ICommandWithParameters, and the marker scan.
#include <gtest/gtest.h>

#include <oledberr.h>

#include <string>
#include <vector>

#include "ObjectsProvider.h"

namespace {

std::vector<std::wstring> MarkerNames(const wchar_t* text) {
  TOleDbParameters list;
  list.ScanMarkers(text);
  std::vector<std::wstring> names;
  for (std::size_t i = 0; i < list.Count(); ++i) {
    EXPECT_EQ(list.Items(i).DataType, DBTYPE_VARIANT);
    EXPECT_EQ(list.Items(i).Size, sizeof(VARIANT));
    names.push_back(list.Items(i).Name);
  }
  return names;
}

TEST(ParameterMarkers, OutsideQuotedLiteralsOnly) {
  using Names = std::vector<std::wstring>;
  EXPECT_EQ(MarkerNames(L"SELECT * FROM t WHERE a = ? AND b = '?' AND c = ?"), (Names{L"Parameter0", L"Parameter1"}));
  // One flag for every quote kind: the single quote closes the double quote's literal.
  EXPECT_EQ(MarkerNames(L"WHERE a = \"x ' ? \" ?"), (Names{L"Parameter0"}));
  EXPECT_EQ(MarkerNames(L"`?` ? '?' \"?\" ??"), (Names{L"Parameter0", L"Parameter1", L"Parameter2"}));
  EXPECT_TRUE(MarkerNames(L"").empty());
}

struct TCommand {
  TComPtr<IOpenRowset> Session = CreateObjectsSession();
  TComPtr<ICommandText> Text;
  TComPtr<ICommandWithParameters> Parameters;

  explicit TCommand(const wchar_t* text, std::uint8_t capabilities = OleDbCommandParameters) {
    TObjectsCommand::NextCapabilities = capabilities;
    Text = CreateObjectsCommand(Session.Get(), text);
    TObjectsCommand::NextCapabilities = 0;
    Text.As(Parameters, IID_ICommandWithParameters);
  }
};

DBPARAMBINDINFO BindInfo(const wchar_t* type, const wchar_t* name, DBLENGTH size = 0, DBPARAMFLAGS flags = 0) {
  DBPARAMBINDINFO info{};
  info.pwszDataSourceType = const_cast<LPOLESTR>(type);
  info.pwszName = const_cast<LPOLESTR>(name);
  info.ulParamSize = size;
  info.dwFlags = flags;
  return info;
}

struct TParamInfo {
  DB_UPARAMS Count = 0;
  DBPARAMINFO* Infos = nullptr;
  OLECHAR* Names = nullptr;
  ~TParamInfo() {
    CoTaskMemFree(Infos);
    CoTaskMemFree(Names);
  }
  HRESULT Get(ICommandWithParameters* parameters) {
    CoTaskMemFree(Infos);
    CoTaskMemFree(Names);
    return parameters->GetParameterInfo(&Count, &Infos, &Names);
  }
};

TEST(CommandParameters, DescribedByTheConsumer) {
  TCommand command(L"SELECT * FROM t WHERE a = ? AND b = ?");
  TParamInfo info;
  EXPECT_EQ(info.Get(command.Parameters.Get()), DB_E_PARAMUNAVAILABLE);
  EXPECT_EQ(command.Parameters->GetParameterInfo(nullptr, &info.Infos, nullptr), E_INVALIDARG);

  const DB_UPARAMS ordinals[] = {1, 2};
  const DBPARAMBINDINFO infos[] = {BindInfo(L"DBTYPE_I4", L"id"), BindInfo(L"DBTYPE_WVARCHAR", L"NAME", 50)};
  ASSERT_EQ(command.Parameters->SetParameterInfo(2, ordinals, infos), S_OK);
  ASSERT_EQ(info.Get(command.Parameters.Get()), S_OK);
  ASSERT_EQ(info.Count, 2u);
  EXPECT_EQ(info.Infos[0].ulParamSize, 4u);
  EXPECT_EQ(info.Infos[0].wType, DBTYPE_I4);
  EXPECT_EQ(info.Infos[1].ulParamSize, 50u);
  EXPECT_EQ(info.Infos[1].wType, DBTYPE_WSTR);
  EXPECT_EQ(info.Infos[1].iOrdinal, 2u);
  EXPECT_STREQ(info.Infos[0].pwszName, L"id");
  EXPECT_STREQ(info.Infos[1].pwszName, L"NAME");
  EXPECT_EQ(info.Infos[0].pwszName, info.Names) << "names share one buffer";

  const OLECHAR* names[] = {L"name", L"ID", L"other", nullptr};
  DB_LPARAMS found[4] = {9, 9, 9, 9};
  EXPECT_EQ(command.Parameters->MapParameterNames(4, names, found), DB_S_ERRORSOCCURRED);
  EXPECT_EQ(found[0], 2);
  EXPECT_EQ(found[1], 1);
  EXPECT_EQ(found[2], 0);
  EXPECT_EQ(found[3], 0);
  EXPECT_EQ(command.Parameters->MapParameterNames(1, names + 2, found), DB_E_ERRORSOCCURRED);
  EXPECT_EQ(command.Parameters->MapParameterNames(1, names, nullptr), E_INVALIDARG);
  EXPECT_EQ(command.Parameters->MapParameterNames(0, nullptr, nullptr), S_OK);

  // Update: the description is replaced.
  const DBPARAMBINDINFO longText = BindInfo(L"DBTYPE_WLONGVARCHAR", L"text", 10, DBPARAMFLAGS_ISLONG);
  EXPECT_EQ(command.Parameters->SetParameterInfo(1, ordinals + 1, &longText), DB_S_TYPEINFOOVERRIDDEN);
  ASSERT_EQ(info.Get(command.Parameters.Get()), S_OK);
  EXPECT_EQ(info.Infos[1].ulParamSize, ~static_cast<DBLENGTH>(0));
  EXPECT_STREQ(info.Infos[1].pwszName, L"text");

  // Discarding all: nothing to answer any more.
  EXPECT_EQ(command.Parameters->SetParameterInfo(0, nullptr, nullptr), S_OK);
  EXPECT_EQ(info.Get(command.Parameters.Get()), DB_E_PARAMUNAVAILABLE);
}

TEST(CommandParameters, RefusedDescriptionsChangeNothing) {
  TCommand command(L"x");
  const DB_UPARAMS ordinals[] = {1, 2, 3};
  const DBPARAMBINDINFO named[] = {BindInfo(L"DBTYPE_I4", L"a"), BindInfo(L"DBTYPE_I4", nullptr),
                                   BindInfo(L"DBTYPE_I4", L"c")};
  EXPECT_EQ(command.Parameters->SetParameterInfo(2, ordinals, named), DB_E_BADPARAMETERNAME);
  const DBPARAMBINDINFO integer = BindInfo(L"INTEGER", L"a");
  EXPECT_EQ(command.Parameters->SetParameterInfo(1, ordinals, &integer), DB_E_BADTYPENAME);
  const DBPARAMBINDINFO untyped = BindInfo(nullptr, L"a");
  EXPECT_EQ(command.Parameters->SetParameterInfo(1, ordinals, &untyped), E_INVALIDARG);
  const DBPARAMBINDINFO badFlags = BindInfo(L"DBTYPE_I4", L"a", 0, 0x200);
  EXPECT_EQ(command.Parameters->SetParameterInfo(1, ordinals, &badFlags), E_INVALIDARG);
  const DB_UPARAMS zero = 0;
  EXPECT_EQ(command.Parameters->SetParameterInfo(1, &zero, named), E_INVALIDARG);
  EXPECT_EQ(command.Parameters->SetParameterInfo(1, nullptr, named), E_INVALIDARG);
  // New parameters are numbered 1, 2, 3 in order.
  const DB_UPARAMS gap[] = {1, 3};
  const DBPARAMBINDINFO two[] = {BindInfo(L"DBTYPE_I4", L"a"), BindInfo(L"DBTYPE_I4", L"b")};
  EXPECT_EQ(command.Parameters->SetParameterInfo(2, gap, two), E_UNEXPECTED);
  TParamInfo info;
  EXPECT_EQ(info.Get(command.Parameters.Get()), DB_E_PARAMUNAVAILABLE) << "nothing was created";

  ASSERT_EQ(command.Parameters->SetParameterInfo(3, ordinals, named + 0), DB_E_BADPARAMETERNAME);
  const DBPARAMBINDINFO three[] = {BindInfo(L"DBTYPE_I4", L"a"), BindInfo(L"DBTYPE_I2", L"b"),
                                   BindInfo(L"DBTYPE_R8", L"c")};
  ASSERT_EQ(command.Parameters->SetParameterInfo(3, ordinals, three), S_OK);
  // An existing named parameter not being set must agree with the entries.
  const DBPARAMBINDINFO nameless = BindInfo(L"DBTYPE_I4", nullptr);
  EXPECT_EQ(command.Parameters->SetParameterInfo(1, ordinals, &nameless), DB_E_BADPARAMETERNAME);
  const DB_UPARAMS beyond[] = {2, 4};
  EXPECT_EQ(command.Parameters->SetParameterInfo(2, beyond, nullptr), DB_E_BADORDINAL);
  ASSERT_EQ(info.Get(command.Parameters.Get()), S_OK);
  EXPECT_EQ(info.Count, 3u) << "a refused deletion deletes nothing";
}

TEST(CommandParameters, DeletionsUseTheNumberingBeforeTheCall) {
  TCommand command(L"x");
  const DB_UPARAMS ordinals[] = {1, 2, 3};
  const DBPARAMBINDINFO three[] = {BindInfo(L"DBTYPE_I4", L"a"), BindInfo(L"DBTYPE_I2", L"b"),
                                   BindInfo(L"DBTYPE_R8", L"c")};
  ASSERT_EQ(command.Parameters->SetParameterInfo(3, ordinals, three), S_OK);
  const DB_UPARAMS doomed[] = {1, 3, 1};
  EXPECT_EQ(command.Parameters->SetParameterInfo(3, doomed, nullptr), S_OK);
  TParamInfo info;
  ASSERT_EQ(info.Get(command.Parameters.Get()), S_OK);
  ASSERT_EQ(info.Count, 1u);
  EXPECT_STREQ(info.Infos[0].pwszName, L"b");
  EXPECT_EQ(info.Infos[0].iOrdinal, 1u);
}

TEST(CommandParameters, StateChecksBeforeAnyDescription) {
  TCommand fresh(nullptr, OleDbCommandParameters | OleDbCommandPrepare);
  TParamInfo info;
  EXPECT_EQ(info.Get(fresh.Parameters.Get()), DB_E_NOCOMMAND);
  const OLECHAR* names[] = {L"a"};
  DB_LPARAMS found[1];
  EXPECT_EQ(fresh.Parameters->MapParameterNames(1, names, found), DB_E_NOCOMMAND);
  fresh.Text->SetCommandText(DBGUID_DEFAULT, L"x ?");
  EXPECT_EQ(info.Get(fresh.Parameters.Get()), DB_E_NOTPREPARED);
  TComPtr<ICommandPrepare> prepare;
  ASSERT_EQ(fresh.Text.As(prepare, IID_ICommandPrepare), S_OK);
  EXPECT_EQ(prepare->Prepare(1), S_OK);
  EXPECT_EQ(info.Get(fresh.Parameters.Get()), DB_E_PARAMUNAVAILABLE);

  // Once described, the answers come whatever the state.
  const DB_UPARAMS ordinal = 1;
  const DBPARAMBINDINFO one = BindInfo(L"DBTYPE_I4", L"a");
  ASSERT_EQ(fresh.Parameters->SetParameterInfo(1, &ordinal, &one), S_OK);
  fresh.Text->SetCommandText(DBGUID_DEFAULT, L"y ?");
  EXPECT_EQ(info.Get(fresh.Parameters.Get()), S_OK);

  // Described as none, with or without text or preparation: there are no
  // parameters to answer with, and no names to find.
  for (const wchar_t* text : {static_cast<const wchar_t*>(nullptr), L"z ?"}) {
    TCommand none(text, OleDbCommandParameters | OleDbCommandPrepare);
    ASSERT_EQ(none.Parameters->SetParameterInfo(0, nullptr, nullptr), S_OK);
    EXPECT_EQ(info.Get(none.Parameters.Get()), DB_E_PARAMUNAVAILABLE) << (text ? text : L"no text");
    EXPECT_EQ(none.Parameters->MapParameterNames(1, names, found), DB_E_ERRORSOCCURRED) << (text ? text : L"no text");
  }
}

TEST(CommandParameters, ExecutionCarriesTheValues) {
  TCommand command(L"SELECT * FROM t WHERE a = ? AND b = '?' AND c = ?");
  TComPtr<IAccessor> accessor;
  ASSERT_EQ(command.Text.As(accessor, IID_IAccessor), S_OK);
  DBBINDING binding{};
  binding.iOrdinal = 1;
  binding.dwPart = DBPART_VALUE;
  binding.wType = DBTYPE_I4;
  binding.eParamIO = DBPARAMIO_INPUT;
  HACCESSOR parameterAccessor = DB_NULL_HACCESSOR, rowAccessor = DB_NULL_HACCESSOR;
  ASSERT_EQ(accessor->CreateAccessor(DBACCESSOR_PARAMETERDATA, 1, &binding, 0, &parameterAccessor, nullptr), S_OK);
  ASSERT_EQ(accessor->CreateAccessor(DBACCESSOR_ROWDATA, 1, &binding, 0, &rowAccessor, nullptr), S_OK);
  LONG value = 5;
  TComPtr<ICommand> execute;
  command.Text.As(execute, IID_ICommand);
  TComPtr<IUnknown> rowset;
  DBPARAMS params{&value, 1, rowAccessor};
  EXPECT_EQ(execute->Execute(nullptr, IID_IRowset, &params, nullptr, rowset.Put()), DB_E_BADACCESSORTYPE);
  params.hAccessor = parameterAccessor + 1000;
  EXPECT_EQ(execute->Execute(nullptr, IID_IRowset, &params, nullptr, rowset.Put()), DB_E_BADACCESSORHANDLE);
  params.hAccessor = parameterAccessor;
  params.pData = nullptr;
  EXPECT_EQ(execute->Execute(nullptr, IID_IRowset, &params, nullptr, rowset.Put()), E_INVALIDARG);
  params.pData = &value;
  ASSERT_EQ(execute->Execute(nullptr, IID_IRowset, &params, nullptr, rowset.Put()), S_OK);
  EXPECT_TRUE(TObjectsRowset::LastRequest.HasParamData);
  EXPECT_EQ(TObjectsRowset::LastRequest.ParameterCount, 2u) << "found by the marker scan";
  EXPECT_TRUE(TObjectsRowset::LastRequest.HasPropertySets);
  rowset.Reset();
  ASSERT_EQ(execute->Execute(nullptr, IID_IRowset, nullptr, nullptr, rowset.Put()), S_OK);
  EXPECT_FALSE(TObjectsRowset::LastRequest.HasParamData);
}

}  // namespace
