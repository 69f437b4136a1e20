// The rowset reader against a rowset of the project's OLE DB toolkit, reached
// only through the published interfaces: every type zellogq binds natively,
// NULLs, batches, limits and column choice.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>

#include "OLEDbFactory.h"
#include "OLEDbRowset.h"
#include "OLEDbSchemaRowset.h"
#include "OLEDbSimpleRowsetData.h"
#include "RowsetReader.h"

namespace {

VARIANT Index(LONG column) {
  VARIANT v{};
  V_VT(&v) = VT_I4;
  V_I4(&v) = column;
  return v;
}

// FLAG, N, AMOUNT, WHEN, NAME (NULL on every third row), CODE.
TComPtr<IRowset> SampleRowset(int rows) {
  static const std::unique_ptr<TComObjectFactory> factory =
      RegisterInternalClass(ComServer(), &OleDbClassOf<TOleDbSchemaRowset>());
  TComPtr<TSimpleRowsetData> data = MakeComObject<TSimpleRowsetData>();
  TOleDbColumns& columns = data->GetColumns();
  columns.AddColumn(L"FLAG", DBTYPE_BOOL, 2);
  columns.AddColumn(L"N", DBTYPE_I4, 4);
  columns.AddColumn(L"AMOUNT", DBTYPE_R8, 8);
  columns.AddColumn(L"WHEN", DBTYPE_DATE, 8);
  columns.AddColumn(L"NAME", DBTYPE_WSTR, 24, DBCOLUMNFLAGS_MAYBENULL);
  columns.AddColumn(L"CODE", DBTYPE_STR, 10);
  data->NullByDefault = true;
  data->InitLayout();
  for (int id = 1; id <= rows; ++id) {
    data->AppendRow();
    *static_cast<VARIANT_BOOL*>(data->ValuePointerForWriteByKey(Index(0))) = id % 2 ? VARIANT_TRUE : VARIANT_FALSE;
    *static_cast<LONG*>(data->ValuePointerForWriteByKey(Index(1))) = -id;
    *static_cast<double*>(data->ValuePointerForWriteByKey(Index(2))) = id * 1.5;
    *static_cast<double*>(data->ValuePointerForWriteByKey(Index(3))) = 40269.0 + id / 86400.0;
    if (id % 3) {
      const std::wstring name = L"n\u00e9" + std::to_wstring(id);
      std::wcscpy(static_cast<wchar_t*>(data->ValuePointerForWriteByKey(Index(4))), name.c_str());
    }
    std::strcpy(static_cast<char*>(data->ValuePointerForWriteByKey(Index(5))), ("c," + std::to_string(id)).c_str());
  }
  TComPtr<IUnknown> unknown;
  CreateRowsetOverData(data.Get(), OleDbClassOf<TOleDbSchemaRowset>(), nullptr, IID_IUnknown, unknown.Put());
  TComPtr<IRowset> rowset;
  unknown.As(rowset, IID_IRowset);
  return rowset;
}

std::string Read(TComPtr<IRowset> rowset, TOutputFormat format, std::uint64_t limit,
                 const std::vector<std::string>& only = {}) {
  std::string written;
  const TQuerySink sink = [&](std::string_view text) { return written.append(text), true; };
  TQueryOutput output(sink);
  const auto writer = MakeRowWriter(format, output, {});
  TRowsetReader reader(std::move(rowset), only);
  const TReadResult result =
      reader.Read(*writer, limit, [](std::uint64_t, const EQueryFailure& failure) { ADD_FAILURE() << failure.what(); },
                  nullptr);
  EXPECT_EQ(result.RowsUnreadable, 0u);
  output.Flush();
  return written;
}

class RowsetReaderTests : public ::testing::Test {
protected:
  void SetUp() override { ASSERT_TRUE(SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED))); }
  void TearDown() override { CoUninitialize(); }
};

TEST_F(RowsetReaderTests, EveryRowOfSeveralBatchesArrivesTyped) {
  const std::string lines = Read(SampleRowset(250), TOutputFormat::JsonLines, UINT64_MAX);
  EXPECT_EQ(std::count(lines.begin(), lines.end(), '\n'), 250);
  EXPECT_TRUE(lines.starts_with(
      "{\"FLAG\":true,\"N\":-1,\"AMOUNT\":1.5,\"WHEN\":\"2010-04-01T00:00:01\",\"NAME\":\"n\xC3\xA9" "1\","
      "\"CODE\":\"c,1\"}\n"
      "{\"FLAG\":false,\"N\":-2,\"AMOUNT\":3,\"WHEN\":\"2010-04-01T00:00:02\",\"NAME\":\"n\xC3\xA9" "2\","
      "\"CODE\":\"c,2\"}\n"
      "{\"FLAG\":true,\"N\":-3,\"AMOUNT\":4.5,\"WHEN\":\"2010-04-01T00:00:03\",\"NAME\":null,\"CODE\":\"c,3\"}\n"))
      << lines.substr(0, 400);
  EXPECT_TRUE(lines.ends_with("{\"FLAG\":false,\"N\":-250,\"AMOUNT\":375,\"WHEN\":\"2010-04-01T00:04:10\","
                              "\"NAME\":\"n\xC3\xA9" "250\",\"CODE\":\"c,250\"}\n"))
      << lines.substr(lines.size() - 200);
}

TEST_F(RowsetReaderTests, ALimitAndAChoiceOfColumnsShapeTheRows) {
  EXPECT_EQ(Read(SampleRowset(250), TOutputFormat::Csv, 3, {"code", "N"}),
            "CODE,N\r\n\"c,1\",-1\r\n\"c,2\",-2\r\n\"c,3\",-3\r\n");
  EXPECT_EQ(Read(SampleRowset(5), TOutputFormat::Csv, 0, {"N"}), "N\r\n");
  EXPECT_EQ(Read(SampleRowset(0), TOutputFormat::Table, UINT64_MAX, {"N", "NAME"}), "N  NAME\n-  ----\n(0 rows)\n");
  try {
    TRowsetReader reader(SampleRowset(1), {"N", "MISSING"});
    ADD_FAILURE() << "an unknown column was accepted";
  } catch (const EQueryFailure& failure) {
    EXPECT_EQ(failure.Code, DB_E_BADCOLUMNID);
    EXPECT_EQ(failure.Action, "no column named \"MISSING\"");
  }
}

TEST_F(RowsetReaderTests, ReadingStopsWhenTheOutputCannotBeWritten) {
  const TQuerySink closed = [](std::string_view) { return false; };
  TQueryOutput output(closed);
  const auto writer = MakeRowWriter(TOutputFormat::JsonLines, output, {});
  TRowsetReader reader(SampleRowset(3000), {});
  const TReadResult result = reader.Read(*writer, UINT64_MAX, [](std::uint64_t, const EQueryFailure&) {}, nullptr);
  EXPECT_GT(result.RowsShown, 0u);
  EXPECT_LT(result.RowsShown, 3000u);
  EXPECT_TRUE(output.Failed());
}

TEST_F(RowsetReaderTests, ColumnsAreDescribedWithTheirTypes) {
  const std::vector<TColumnDescription> columns = DescribeColumns(*SampleRowset(0));
  ASSERT_EQ(columns.size(), 6u);
  EXPECT_EQ(columns[0].Name, "FLAG");
  EXPECT_EQ(TypeName(columns[0].Type), "BOOL");
  EXPECT_EQ(TypeName(columns[3].Type), "DATE");
  EXPECT_EQ(columns[4].Size, 12u);  // characters of a WSTR column
  EXPECT_EQ(TypeName(columns[5].Type), "STR");
  EXPECT_EQ(TypeName(DBTYPE_BYREF | DBTYPE_WSTR), "BYREF|WSTR");
}

}  // namespace
