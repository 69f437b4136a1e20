// The call trace as a user sends it to us: what the consumer asked for, read
// from its arguments without trusting them more than the methods do.
#include <gtest/gtest.h>

#include <oledberr.h>

#include <string>
#include <vector>

#include "ObjectsProvider.h"
#include "TraceCapture.h"

namespace {

bool Has(const std::string& line, const std::string& part) { return line.find(part) != std::string::npos; }

DBPROP TextProp(DBPROPID id, BSTR text) {
  DBPROP prop{};
  prop.dwPropertyID = id;
  prop.dwOptions = DBPROPOPTIONS_REQUIRED;
  prop.vValue.vt = VT_BSTR;
  prop.vValue.bstrVal = text;
  return prop;
}

TComPtr<IRowset> OpenTable(IOpenRowset* session, const wchar_t* name) {
  DBID table{};
  table.eKind = DBKIND_NAME;
  table.uName.pwszName = const_cast<LPOLESTR>(name);
  TComPtr<IRowset> rowset;
  EXPECT_EQ(session->OpenRowset(nullptr, &table, nullptr, IID_IRowset, 0, nullptr,
                                reinterpret_cast<IUnknown**>(rowset.Put())),
            S_OK);
  return rowset;
}

TEST(TraceArguments, ShowWhatTheConsumerAskedForAndGot) {
  TComPtr<IOpenRowset> session = CreateObjectsSession();
  TTraceCapture trace(true);
  TComPtr<IRowset> rowset = OpenTable(session.Get(), L"\x0416urnal.log");
  EXPECT_TRUE(Has(trace.LastOf("::OpenRowset("),
                  "(pUnkOuter=null, pTableID=\"\xD0\x96urnal.log\", pIndexID=null, "
                  "riid={0C733A7C-2A1C-11CE-ADE5-00AA0044773D}, rgPropertySets=[]) on TObjectsSession@"))
      << trace.LastOf("::OpenRowset(");

  TComPtr<IAccessor> accessor;
  ASSERT_EQ(rowset.As(accessor, IID_IAccessor), S_OK);
  DBBINDING binding{};
  binding.iOrdinal = 2;
  binding.wType = DBTYPE_WSTR;
  binding.dwPart = DBPART_VALUE | DBPART_STATUS;
  binding.cbMaxLen = 64;
  binding.obStatus = 64;
  HACCESSOR handle = 0;
  ASSERT_EQ(accessor->CreateAccessor(DBACCESSOR_ROWDATA, 1, &binding, 0, &handle, nullptr), S_OK);
  EXPECT_TRUE(Has(trace.LastOf("::CreateAccessor("),
                  "(dwAccessorFlags=2, rgBindings=[2:130:VS], cbRowSize=0, *phAccessor=" + std::to_string(handle) +
                      ")"))
      << trace.LastOf("::CreateAccessor(");

  DBCOUNTITEM obtained = 0;
  HROW rows[2] = {};
  HROW* rowsOut = rows;
  ASSERT_EQ(rowset->GetNextRows(DB_NULL_HCHAPTER, 1, 2, &obtained, &rowsOut), S_OK);
  const std::string fetched = "rghRows=[" + std::to_string(rows[0]) + ", " + std::to_string(rows[1]) + "]";
  EXPECT_TRUE(Has(trace.LastOf("::GetNextRows("),
                  "(hChapter=0, lRowsOffset=1, cRows=2, *pcRowsObtained=2, " + fetched + ") on TObjectsRowset@"))
      << trace.LastOf("::GetNextRows(");

  char buffer[80];
  EXPECT_EQ(rowset->GetData(rows[1], handle, buffer), S_OK);
  EXPECT_TRUE(Has(trace.LastOf("::GetData("), "(hRow=" + std::to_string(rows[1]) + ", hAccessor=" +
                                                  std::to_string(handle) + ") on TObjectsRowset@"));
  EXPECT_EQ(rowset->ReleaseRows(2, rows, nullptr, nullptr, nullptr), S_OK);
  EXPECT_TRUE(Has(trace.LastOf("::ReleaseRows("), "(" + fetched + ")"));
  EXPECT_TRUE(Has(trace.LastOf("::ReleaseRows("), " -> 0x00000000"));
}

TEST(TraceArguments, BadArgumentsAreShownNotFollowed) {
  TComPtr<IOpenRowset> session = CreateObjectsSession();
  TComPtr<IRowset> rowset = OpenTable(session.Get(), L"t");
  TTraceCapture trace(true);

  HROW* rowsOut = nullptr;
  EXPECT_EQ(rowset->GetNextRows(DB_NULL_HCHAPTER, 0, 1, nullptr, &rowsOut), E_INVALIDARG);
  EXPECT_TRUE(Has(trace.LastOf("::GetNextRows("), "cRows=1, pcRowsObtained=null) on "));
  EXPECT_NE(rowset->ReleaseRows(3, nullptr, nullptr, nullptr, nullptr), S_OK);
  EXPECT_TRUE(Has(trace.LastOf("::ReleaseRows("), "(rghRows=null) on "));

  // Long arrays and texts are cut, with the count kept.
  std::vector<HROW> many(40, 12345);
  std::vector<DBROWSTATUS> status(many.size());
  EXPECT_EQ(rowset->ReleaseRows(many.size(), many.data(), nullptr, nullptr, status.data()), DB_E_ERRORSOCCURRED);
  const std::string released = trace.LastOf("::ReleaseRows(");
  EXPECT_TRUE(Has(released, "12345, 12345, \xE2\x80\xA6 40]")) << released;
  EXPECT_LT(released.size(), 300u);

  TComPtr<ICommandText> command = CreateObjectsCommand(session.Get());
  const std::wstring text = L"SELECT * FROM " + std::wstring(300, L'x');
  ASSERT_EQ(command->SetCommandText(DBGUID_DEFAULT, text.c_str()), S_OK);
  const std::string set = trace.LastOf("::SetCommandText(");
  EXPECT_TRUE(Has(set, "pwszCommand=\"SELECT * FROM " + std::string(186, 'x') + "\xE2\x80\xA6\") on ")) << set;
  EXPECT_EQ(command->SetCommandText(DBGUID_DEFAULT, nullptr), S_OK);
  EXPECT_TRUE(Has(trace.LastOf("::SetCommandText("), "pwszCommand=null)"));
}

TEST(TraceArguments, CredentialsNeverReachTheTrace) {
  TComPtr<IDBInitialize> dataSource = CreateObjectsDataSource();
  TComPtr<IDBProperties> properties;
  ASSERT_EQ(dataSource.As(properties, IID_IDBProperties), S_OK);
  BSTR folder = SysAllocString(L"C:\\logs");
  BSTR password = SysAllocString(L"s3cret");
  BSTR providerString = SysAllocString(L"Password=s3cret");
  DBPROP props[3] = {TextProp(DBPROP_INIT_DATASOURCE, folder), TextProp(DBPROP_AUTH_PASSWORD, password),
                     TextProp(DBPROP_INIT_PROVIDERSTRING, providerString)};
  props[2].dwOptions = DBPROPOPTIONS_OPTIONAL;
  DBPROPSET set{props, 3, DBPROPSET_DBINIT};

  TTraceCapture trace(true);
  properties->SetProperties(1, &set);
  SysFreeString(folder);
  SysFreeString(password);
  SysFreeString(providerString);

  const std::string line = trace.LastOf("::SetProperties(");
  EXPECT_TRUE(Has(line, "rgPropertySets=[{C8B522BC-5CF3-11CE-ADE5-00AA0044773D}{" +
                            std::to_string(DBPROP_INIT_DATASOURCE) + "=\"C:\\logs\", " +
                            std::to_string(DBPROP_AUTH_PASSWORD) + "=(hidden), " +
                            std::to_string(DBPROP_INIT_PROVIDERSTRING) + "~=(hidden)}]"))
      << line;
  for (const std::string& traced : trace.Lines) EXPECT_FALSE(Has(traced, "s3cret")) << traced;
}

TEST(TraceArguments, NothingIsFormattedWhenOff) {
  TComPtr<IOpenRowset> session = CreateObjectsSession();
  TTraceCapture trace(false);
  TComPtr<IRowset> rowset = OpenTable(session.Get(), L"t");
  DBCOUNTITEM obtained = 0;
  HROW* rows = nullptr;
  EXPECT_EQ(rowset->GetNextRows(DB_NULL_HCHAPTER, 0, 1, &obtained, &rows), S_OK);
  EXPECT_EQ(rowset->ReleaseRows(obtained, rows, nullptr, nullptr, nullptr), S_OK);
  CoTaskMemFree(rows);
  EXPECT_TRUE(trace.Lines.empty());
}

}  // namespace
