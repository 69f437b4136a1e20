// What GetData delivers for a binding of another type than the column's must
// be what the platform's conversion library makes of the column's value, to
// the byte: every column of generated logs, bound as text at a spread of
// buffer sizes and as every other type, against IDataConvert applied to the
// value read with a native binding.
#include <gtest/gtest.h>
#include <msdadc.h>
#include <msdaguid.h>
#include <oledberr.h>

#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "LogGenerator.h"
#include "ProviderTestSupport.h"
#include "ZelLogProvider_un.h"

namespace {
constexpr DBTYPE TextTypes[] = {DBTYPE_STR, DBTYPE_WSTR};
// Around the terminators, odd and even, and enough for any value.
constexpr DBLENGTH TextSizes[] = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 11, 16, 17, 22, 23, 24, 25, 40, 41, 64, 255, 40000};
constexpr DBTYPE OtherTypes[] = {DBTYPE_BSTR, DBTYPE_VARIANT, DBTYPE_I1,  DBTYPE_UI1,  DBTYPE_I2,
                                 DBTYPE_UI2,  DBTYPE_I4,      DBTYPE_UI4, DBTYPE_I8,   DBTYPE_UI8,
                                 DBTYPE_R8,   DBTYPE_BOOL,    DBTYPE_DATE, DBTYPE_DBTIMESTAMP};
constexpr BYTE Fill = 0xCC;

struct TTarget {
  DBTYPE Type;
  DBLENGTH MaxLen;
  DBLENGTH Slot() const { return MaxLen > 64 ? MaxLen : 64; }
};

std::vector<TTarget> Targets() {
  std::vector<TTarget> targets;
  for (DBTYPE type : TextTypes)
    for (DBLENGTH size : TextSizes) targets.push_back({type, size});
  for (DBTYPE type : OtherTypes) targets.push_back({type, 0});
  return targets;
}

// An accessor binding every column as one type, each value in a slot of its
// own behind its status and length.
struct TBound {
  TTarget Target{};
  HACCESSOR Handle = 0;
  std::vector<DBBINDING> Bindings;
  std::vector<BYTE> Buffer;
};

TBound Bind(IAccessor* accessor, const std::vector<DBCOLUMNINFO>& columns, const TTarget& target, bool native) {
  TBound bound;
  bound.Target = target;
  DBBYTEOFFSET offset = 0;
  for (const DBCOLUMNINFO& column : columns) {
    DBBINDING binding{};
    binding.iOrdinal = column.iOrdinal;
    binding.dwPart = DBPART_VALUE | DBPART_LENGTH | DBPART_STATUS;
    binding.dwMemOwner = DBMEMOWNER_CLIENTOWNED;
    binding.wType = native ? column.wType : target.Type;
    binding.cbMaxLen = native ? 70000 : target.MaxLen;
    binding.obStatus = offset;
    binding.obLength = offset + 8;
    binding.obValue = offset + 16;
    offset += 16 + (native ? 70000 : target.Slot());
    bound.Bindings.push_back(binding);
  }
  bound.Buffer.resize(offset);
  // Pairs the provider refuses at binding time are not read.
  std::vector<DBBINDSTATUS> statuses(bound.Bindings.size());
  HRESULT hr = accessor->CreateAccessor(DBACCESSOR_ROWDATA, bound.Bindings.size(), bound.Bindings.data(), 0,
                                        &bound.Handle, statuses.data());
  if (hr == DB_E_ERRORSOCCURRED && !native) {
    std::vector<DBBINDING> accepted;
    for (std::size_t i = 0; i < statuses.size(); ++i) {
      EXPECT_TRUE(statuses[i] == DBBINDSTATUS_OK || statuses[i] == DBBINDSTATUS_UNSUPPORTEDCONVERSION) << i;
      if (statuses[i] == DBBINDSTATUS_OK) accepted.push_back(bound.Bindings[i]);
    }
    bound.Bindings = accepted;
    hr = accessor->CreateAccessor(DBACCESSOR_ROWDATA, bound.Bindings.size(), bound.Bindings.data(), 0,
                                  &bound.Handle, nullptr);
  }
  EXPECT_EQ(S_OK, hr);
  return bound;
}

std::wstring BstrText(BSTR value) { return value ? std::wstring(value, SysStringLen(value)) : L"(null)"; }

// Compares what GetData stored for one binding with what the library made of
// the same value; frees what either handed out.
void ExpectSameValue(DBTYPE type, BYTE* actual, BYTE* expected, DBLENGTH slot, const std::string& where) {
  if (type == DBTYPE_BSTR) {
    BSTR a, e;
    std::memcpy(&a, actual, sizeof a);
    std::memcpy(&e, expected, sizeof e);
    EXPECT_EQ(BstrText(a), BstrText(e)) << where;
    SysFreeString(a);
    SysFreeString(e);
    return;
  }
  if (type == DBTYPE_VARIANT) {
    EXPECT_EQ(0, std::memcmp(actual, expected, 8)) << where << ": type and reserved words";
    VARIANT a, e;
    std::memcpy(&a, actual, sizeof a);
    std::memcpy(&e, expected, sizeof e);
    if (V_VT(&e) == VT_BSTR && V_VT(&a) == VT_BSTR)
      EXPECT_EQ(BstrText(V_BSTR(&a)), BstrText(V_BSTR(&e))) << where;
    else
      EXPECT_EQ(0, std::memcmp(actual + 8, expected + 8, sizeof(VARIANT) - 8)) << where << ": value";
    VariantClear(&a);
    VariantClear(&e);
    return;
  }
  EXPECT_EQ(0, std::memcmp(actual, expected, slot)) << where << ": value bytes";
}

class TDifferential {
public:
  TDifferential() {
    EXPECT_EQ(S_OK, CoCreateInstance(CLSID_OLEDB_CONVERSIONLIBRARY, nullptr, CLSCTX_INPROC_SERVER, IID_IDataConvert,
                                     convert_.PutVoid()));
    TComPtr<IDCInfo> info;
    if (convert_ && SUCCEEDED(convert_.As(info, IID_IDCInfo)) && info) {
      DCINFO version{};
      version.eInfoType = DCINFOTYPE_VERSION;
      V_VT(&version.vData) = VT_UI4;
      V_UI4(&version.vData) = 0x200;
      info->SetInfo(1, &version);
    }
  }

  // Reads every row of table through every target; answers the rows read.
  std::size_t CompareTable(IOpenRowset* open, const std::wstring& table) {
    DBID id{};
    id.eKind = DBKIND_NAME;
    id.uName.pwszName = const_cast<wchar_t*>(table.c_str());
    TComPtr<IRowset> rowset;
    EXPECT_EQ(S_OK, open->OpenRowset(nullptr, &id, nullptr, IID_IRowset, 0, nullptr,
                                     reinterpret_cast<IUnknown**>(rowset.Put())));
    if (!rowset) return 0;
    TComPtr<IColumnsInfo> info;
    TComPtr<IAccessor> accessor;
    EXPECT_EQ(S_OK, rowset.As(info, IID_IColumnsInfo));
    EXPECT_EQ(S_OK, rowset.As(accessor, IID_IAccessor));
    DBORDINAL count = 0;
    DBCOLUMNINFO* infos = nullptr;
    OLECHAR* names = nullptr;
    EXPECT_EQ(S_OK, info->GetColumnInfo(&count, &infos, &names));
    columns_.assign(infos, infos + count);
    CoTaskMemFree(infos);

    TBound native = Bind(accessor.Get(), columns_, {}, true);
    std::vector<TBound> converted;
    for (const TTarget& target : Targets()) converted.push_back(Bind(accessor.Get(), columns_, target, false));

    std::size_t rows = 0;
    for (;;) {
      HROW row = 0;
      HROW* rowArray = &row;
      DBCOUNTITEM obtained = 0;
      const HRESULT fetched = rowset->GetNextRows(DB_NULL_HCHAPTER, 0, 1, &obtained, &rowArray);
      if (FAILED(fetched) || obtained == 0) break;
      ++rows;
      EXPECT_EQ(S_OK, rowset->GetData(row, native.Handle, native.Buffer.data()));
      for (TBound& bound : converted) {
        std::fill(bound.Buffer.begin(), bound.Buffer.end(), Fill);
        rowset->GetData(row, bound.Handle, bound.Buffer.data());
        for (std::size_t b = 0; b < bound.Bindings.size(); ++b) CompareBinding(native, bound, b, table, rows);
      }
      rowset->ReleaseRows(1, &row, nullptr, nullptr, nullptr);
    }
    CoTaskMemFree(names);
    for (TBound& bound : converted) accessor->ReleaseAccessor(bound.Handle, nullptr);
    accessor->ReleaseAccessor(native.Handle, nullptr);
    return rows;
  }

  std::size_t Compared() const { return compared_; }
  std::size_t LibraryGaps() const { return libraryGaps_; }

private:
  void CompareBinding(TBound& native, TBound& bound, std::size_t b, const std::wstring& table, std::size_t row) {
    const DBBINDING& binding = bound.Bindings[b];
    const std::size_t c = binding.iOrdinal - 1;
    const DBBINDING& source = native.Bindings[c];
    DBLENGTH sourceLength;
    std::memcpy(&sourceLength, native.Buffer.data() + source.obLength, sizeof sourceLength);
    BYTE* value = native.Buffer.data() + source.obValue;
    const DBLENGTH slot = bound.Target.Slot();
    std::vector<BYTE> expected(slot, Fill);
    DBLENGTH length = 0;
    DBSTATUS status = DBSTATUS_S_OK;
    const HRESULT hr = convert_->DataConvert(columns_[c].wType, binding.wType, sourceLength, &length, value,
                                             expected.data(), binding.cbMaxLen, DBSTATUS_S_OK, &status, 0, 0, 0);
    BYTE* actual = bound.Buffer.data() + binding.obValue;
    if (hr == E_NOTIMPL) {
      // The library lacks the pair altogether; nothing to compare with.
      ++libraryGaps_;
      return;
    }
    // A refused value fails the binding with the status the library gave,
    // or with one that says why.
    DBSTATUS expectedStatus = status;
    if (FAILED(hr) || status == DBSTATUS_E_BADACCESSOR) {
      if (status != DBSTATUS_E_DATAOVERFLOW && status != DBSTATUS_E_SIGNMISMATCH)
        expectedStatus = hr == DISP_E_OVERFLOW ? DBSTATUS_E_DATAOVERFLOW : DBSTATUS_E_CANTCONVERTVALUE;
    }
    DBSTATUS actualStatus;
    DBLENGTH actualLength;
    std::memcpy(&actualStatus, bound.Buffer.data() + binding.obStatus, sizeof actualStatus);
    std::memcpy(&actualLength, bound.Buffer.data() + binding.obLength, sizeof actualLength);
    const std::string where = std::string(table.begin(), table.end()) + " row " + std::to_string(row) + " column " +
                              std::to_string(c) + " as type " + std::to_string(binding.wType) + " in " +
                              std::to_string(binding.cbMaxLen) + " bytes";
    EXPECT_EQ(expectedStatus, actualStatus) << where;
    EXPECT_EQ(length, actualLength) << where;
    const bool handedOut = SUCCEEDED(hr) && (status == DBSTATUS_S_OK || status == DBSTATUS_S_TRUNCATED);
    if (handedOut || (binding.wType != DBTYPE_BSTR && binding.wType != DBTYPE_VARIANT))
      ExpectSameValue(binding.wType, actual, expected.data(), slot, where);
    ++compared_;
  }

  TComPtr<IDataConvert> convert_;
  std::vector<DBCOLUMNINFO> columns_;
  std::size_t compared_ = 0;
  std::size_t libraryGaps_ = 0;
};

TEST(Conversion, GetDataConvertsAsTheConversionLibrary) {
  struct TLogCase {
    const wchar_t* Name;
    std::uint64_t Seed;
    unsigned LegacyPercent;
    int Year, Month, Day;
  };
  // Both formats, dates either side of the automation epoch and across the
  // daylight-saving changes of both halves of the year.
  const TLogCase cases[] = {
      {L"current.log", 3, 0, 2021, 3, 27},  {L"legacy.log", 5, 100, 2019, 10, 26},
      {L"mixed.log", 7, 50, 1899, 12, 29}, {L"early.log", 11, 30, 1899, 12, 20},
  };
  TTempFolder folder(L"conversion");
  for (const TLogCase& c : cases) {
    TLogGenOptions options;
    options.Seed = c.Seed;
    options.TargetBytes = 48 * 1024;
    options.LegacyBlockPercent = c.LegacyPercent;
    options.MinBlockLines = 20;
    options.MaxBlockLines = 60;
    options.StartYear = c.Year;
    options.StartMonth = c.Month;
    options.StartDay = c.Day;
    WriteLogFile(folder.Path() / c.Name, options);
  }

  // Text widened in blocks of 8 and 16 bytes: lengths around the blocks,
  // with a byte beyond ASCII first, in the middle, last, or nowhere.
  std::vector<std::string> blockLines;
  for (const std::size_t length : {1, 7, 8, 9, 15, 16, 17, 24, 31, 32, 33, 47}) {
    for (const std::size_t at : {length, std::size_t{0}, length / 2, length - 1}) {
      std::string text(length, 'm');
      if (at < length) text[at] = static_cast<char>(at % 2 ? 0xE9 : 0x80);
      blockLines.push_back("2021-03-27T10:00:00 Pass - OnArrival Info 10.0.0.1 " + text + " r@example.com Hi " + text);
    }
  }
  // A zero byte ends a text: a byte beyond ASCII after it must not count.
  for (const std::size_t length : {5, 6, 9, 13, 20, 40}) {
    for (const auto& [zero, other] : {std::pair<std::size_t, std::size_t>{length / 3, 2 * length / 3},
                                      {2 * length / 3, length / 3},
                                      {length - 1, 0}}) {
      std::string text(length, 'z');
      text[zero] = '\0';
      text[other] = static_cast<char>(0xE9);
      blockLines.push_back("2021-03-27T10:00:00 Pass - OnArrival Info 10.0.0.1 " + text + " r@example.com Hi " + text);
    }
  }
  folder.Write(L"blocks.log", LogText(blockLines));

  TComPtr<IDBInitialize> dataSource;
  ASSERT_EQ(S_OK, CoCreateInstance(CLSID_ZelLogDbProvider, nullptr, CLSCTX_INPROC_SERVER, IID_IDBInitialize,
                                   dataSource.PutVoid()));
  ASSERT_EQ(S_OK, SetInitDataSource(dataSource.Get(), folder.Name()));
  ASSERT_EQ(S_OK, dataSource->Initialize());
  TComPtr<IDBCreateSession> create;
  ASSERT_EQ(S_OK, dataSource.As(create, IID_IDBCreateSession));
  TComPtr<IOpenRowset> open;
  ASSERT_EQ(S_OK, create->CreateSession(nullptr, IID_IOpenRowset, reinterpret_cast<IUnknown**>(open.Put())));

  TDifferential differential;
  for (const TLogCase& c : cases) EXPECT_GT(differential.CompareTable(open.Get(), c.Name), 50u) << c.Name;
  EXPECT_EQ(blockLines.size(), differential.CompareTable(open.Get(), L"blocks.log"));
  EXPECT_GT(differential.Compared(), 100000u);
  // Only the pairs this platform's library does not make at all are skipped.
  EXPECT_LT(differential.LibraryGaps(), differential.Compared() / 10);
}
}  // namespace
