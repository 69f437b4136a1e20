#include "RowsetReader.h"

#include <algorithm>
#include <cstring>
#include <memory>

#include "ValueText.h"
#include "CodePageText.h"

namespace {

constexpr DBCOUNTITEM BatchRows = 100;
constexpr DBLENGTH MaxTextCharacters = 1u << 16;  // longer values arrive cut, and are marked so
// Declared sizes are not promises: a provider may hand out longer values (an
// IPv6 address in a column declared for IPv4), so texts get at least this.
constexpr DBLENGTH MinTextCharacters = 1u << 12;

struct TTaskMemFree {
  void operator()(void* p) const noexcept { CoTaskMemFree(p); }
};

DBLENGTH AlignUp(DBLENGTH offset) { return (offset + 7) & ~DBLENGTH(7); }

std::size_t FixedSize(DBTYPE type) {
  switch (type) {
    case DBTYPE_BOOL: return sizeof(VARIANT_BOOL);
    case DBTYPE_I1:
    case DBTYPE_UI1: return 1;
    case DBTYPE_I2:
    case DBTYPE_UI2: return 2;
    case DBTYPE_I4:
    case DBTYPE_UI4:
    case DBTYPE_R4: return 4;
    case DBTYPE_I8:
    case DBTYPE_UI8:
    case DBTYPE_R8:
    case DBTYPE_DATE: return 8;
    case DBTYPE_DBDATE: return sizeof(DBDATE);
    case DBTYPE_DBTIME: return sizeof(DBTIME);
    case DBTYPE_DBTIMESTAMP: return sizeof(DBTIMESTAMP);
    case DBTYPE_GUID: return sizeof(GUID);
    default: return 0;
  }
}

const char* StatusWord(DBSTATUS status) {
  switch (status) {
    case DBSTATUS_E_BADACCESSOR: return "#BADACCESSOR";
    case DBSTATUS_E_CANTCONVERTVALUE: return "#CANTCONVERTVALUE";
    case DBSTATUS_E_CANTCREATE: return "#CANTCREATE";
    case DBSTATUS_E_DATAOVERFLOW: return "#DATAOVERFLOW";
    case DBSTATUS_E_SIGNMISMATCH: return "#SIGNMISMATCH";
    case DBSTATUS_E_UNAVAILABLE: return "#UNAVAILABLE";
    default: return "#ERROR";
  }
}

template <class T>
T Load(const unsigned char* p) {
  T value;
  std::memcpy(&value, p, sizeof value);
  return value;
}

}  // namespace

struct TRowsetReader::TBound {
  DBTYPE Type;  // as bound
  DBLENGTH ValueOffset;
  DBLENGTH LengthOffset;
  DBLENGTH StatusOffset;
  DBLENGTH MaxLength;
  bool Exact;  // a number bound as text (DECIMAL, NUMERIC, CY)
  bool CutSeen;
};

std::vector<TColumnDescription> DescribeColumns(IRowset& rowset) {
  TComPtr<IColumnsInfo> info;
  CheckOleDb(rowset.QueryInterface(IID_IColumnsInfo, info.PutVoid()), "the rowset has no IColumnsInfo");
  DBORDINAL count = 0;
  DBCOLUMNINFO* infos = nullptr;
  OLECHAR* names = nullptr;
  CheckOleDb(info->GetColumnInfo(&count, &infos, &names), "cannot read the columns");
  const std::unique_ptr<DBCOLUMNINFO, TTaskMemFree> ownedInfos(infos);
  const std::unique_ptr<OLECHAR, TTaskMemFree> ownedNames(names);
  std::vector<TColumnDescription> columns;
  for (DBORDINAL i = 0; i < count; ++i) {
    const DBCOLUMNINFO& column = infos[i];
    if (column.iOrdinal == 0 || (column.dwFlags & DBCOLUMNFLAGS_ISBOOKMARK)) continue;
    TColumnDescription description;
    description.Ordinal = column.iOrdinal;
    description.Name = column.pwszName ? Utf8FromWide(column.pwszName) : "#" + std::to_string(column.iOrdinal);
    description.Type = column.wType;
    description.Size = column.ulColumnSize;
    description.Flags = column.dwFlags;
    columns.push_back(std::move(description));
  }
  return columns;
}

std::string TypeName(DBTYPE type) {
  std::string prefix;
  if (type & DBTYPE_BYREF) prefix += "BYREF|";
  if (type & DBTYPE_ARRAY) prefix += "ARRAY|";
  if (type & DBTYPE_VECTOR) prefix += "VECTOR|";
  switch (type & ~(DBTYPE_BYREF | DBTYPE_ARRAY | DBTYPE_VECTOR)) {
    case DBTYPE_EMPTY: return prefix + "EMPTY";
    case DBTYPE_NULL: return prefix + "NULL";
    case DBTYPE_I1: return prefix + "I1";
    case DBTYPE_I2: return prefix + "I2";
    case DBTYPE_I4: return prefix + "I4";
    case DBTYPE_I8: return prefix + "I8";
    case DBTYPE_UI1: return prefix + "UI1";
    case DBTYPE_UI2: return prefix + "UI2";
    case DBTYPE_UI4: return prefix + "UI4";
    case DBTYPE_UI8: return prefix + "UI8";
    case DBTYPE_R4: return prefix + "R4";
    case DBTYPE_R8: return prefix + "R8";
    case DBTYPE_CY: return prefix + "CY";
    case DBTYPE_DATE: return prefix + "DATE";
    case DBTYPE_BSTR: return prefix + "BSTR";
    case DBTYPE_IDISPATCH: return prefix + "IDISPATCH";
    case DBTYPE_ERROR: return prefix + "ERROR";
    case DBTYPE_BOOL: return prefix + "BOOL";
    case DBTYPE_VARIANT: return prefix + "VARIANT";
    case DBTYPE_IUNKNOWN: return prefix + "IUNKNOWN";
    case DBTYPE_DECIMAL: return prefix + "DECIMAL";
    case DBTYPE_GUID: return prefix + "GUID";
    case DBTYPE_BYTES: return prefix + "BYTES";
    case DBTYPE_STR: return prefix + "STR";
    case DBTYPE_WSTR: return prefix + "WSTR";
    case DBTYPE_NUMERIC: return prefix + "NUMERIC";
    case DBTYPE_UDT: return prefix + "UDT";
    case DBTYPE_DBDATE: return prefix + "DBDATE";
    case DBTYPE_DBTIME: return prefix + "DBTIME";
    case DBTYPE_DBTIMESTAMP: return prefix + "DBTIMESTAMP";
    case DBTYPE_FILETIME: return prefix + "FILETIME";
    case DBTYPE_VARNUMERIC: return prefix + "VARNUMERIC";
    default: return prefix + "TYPE" + std::to_string(type & ~(DBTYPE_BYREF | DBTYPE_ARRAY | DBTYPE_VECTOR));
  }
}

TRowsetReader::TRowsetReader(TComPtr<IRowset> rowset, const std::vector<std::string>& only)
    : Rowset(std::move(rowset)) {
  std::vector<TColumnDescription> columns = DescribeColumns(*Rowset);
  if (!only.empty()) {
    std::vector<TColumnDescription> chosen;
    for (const std::string& name : only) {
      const auto found = std::find_if(columns.begin(), columns.end(), [&](const TColumnDescription& c) {
        return CompareStringOrdinal(WideFromUtf8(c.Name).c_str(), -1, WideFromUtf8(name).c_str(), -1, TRUE) ==
               CSTR_EQUAL;
      });
      if (found == columns.end()) throw EQueryFailure("no column named \"" + name + "\"", DB_E_BADCOLUMNID, {});
      chosen.push_back(*found);
    }
    columns = std::move(chosen);
  }
  Bind(columns);
}

TRowsetReader::~TRowsetReader() {
  if (Accessor && AccessorHandle != DB_NULL_HACCESSOR) Accessor->ReleaseAccessor(AccessorHandle, nullptr);
}

void TRowsetReader::Bind(const std::vector<TColumnDescription>& columns) {
  std::vector<DBBINDING> bindings(columns.size());
  DBLENGTH offset = 0;
  for (std::size_t i = 0; i < columns.size(); ++i) {
    const TColumnDescription& column = columns[i];
    ColumnNames.push_back(column.Name);
    TBound bound{};
    const DBTYPE plain = column.Type;
    if (const std::size_t size = FixedSize(plain)) {
      bound.Type = plain;
      bound.MaxLength = size;
    } else if (plain == DBTYPE_BYTES) {
      bound.Type = DBTYPE_BYTES;
      bound.MaxLength = column.Size > 0 && column.Size < MaxTextCharacters ? column.Size : MaxTextCharacters;
    } else {
      bound.Type = DBTYPE_WSTR;
      bound.Exact = plain == DBTYPE_DECIMAL || plain == DBTYPE_NUMERIC || plain == DBTYPE_VARNUMERIC ||
                    plain == DBTYPE_CY;
      const DBLENGTH characters = std::clamp(column.Size, MinTextCharacters, MaxTextCharacters);
      bound.MaxLength = (bound.Exact ? 64 : characters + 1) * sizeof(wchar_t);
    }
    bound.ValueOffset = offset;
    bound.LengthOffset = AlignUp(offset + bound.MaxLength);
    bound.StatusOffset = bound.LengthOffset + sizeof(DBLENGTH);
    offset = AlignUp(bound.StatusOffset + sizeof(DBSTATUS));
    Bound.push_back(bound);

    DBBINDING& binding = bindings[i];
    binding.iOrdinal = column.Ordinal;
    binding.obValue = bound.ValueOffset;
    binding.obLength = bound.LengthOffset;
    binding.obStatus = bound.StatusOffset;
    binding.dwPart = DBPART_VALUE | DBPART_LENGTH | DBPART_STATUS;
    binding.dwMemOwner = DBMEMOWNER_CLIENTOWNED;
    binding.eParamIO = DBPARAMIO_NOTPARAM;
    binding.cbMaxLen = bound.MaxLength;
    binding.wType = bound.Type;
  }
  Buffer.assign(offset, 0);
  Cells.assign(columns.size(), TQueryCell{});

  CheckOleDb(Rowset.As(Accessor, IID_IAccessor), "the rowset has no IAccessor");
  std::vector<DBBINDSTATUS> statuses(bindings.size());
  const HRESULT created = Accessor->CreateAccessor(DBACCESSOR_ROWDATA, bindings.size(), bindings.data(), offset,
                                                   &AccessorHandle, statuses.data());
  if (FAILED(created)) {
    std::vector<TErrorRecord> records = TakeErrorRecords();
    for (std::size_t i = 0; i < statuses.size(); ++i)
      if (statuses[i] != DBBINDSTATUS_OK)
        records.push_back({"zellogq", "column \"" + ColumnNames[i] + "\" (" + TypeName(columns[i].Type) +
                                          ") cannot be bound as " + TypeName(Bound[i].Type),
                           S_OK});
    AccessorHandle = DB_NULL_HACCESSOR;
    throw EQueryFailure("cannot bind the columns", created, std::move(records));
  }
}

void TRowsetReader::ReadCells(TReadResult& result) {
  for (std::size_t i = 0; i < Bound.size(); ++i) {
    TBound& bound = Bound[i];
    TQueryCell& cell = Cells[i];
    const unsigned char* value = Buffer.data() + bound.ValueOffset;
    const DBSTATUS status = Load<DBSTATUS>(Buffer.data() + bound.StatusOffset);
    const DBLENGTH length = Load<DBLENGTH>(Buffer.data() + bound.LengthOffset);
    cell.Truncated = status == DBSTATUS_S_TRUNCATED;
    if (cell.Truncated && !bound.CutSeen) {
      bound.CutSeen = true;
      result.CutColumns.push_back(ColumnNames[i]);
    }
    if (status == DBSTATUS_S_ISNULL) {
      cell.Kind = TCellKind::Null;
      continue;
    }
    if (status != DBSTATUS_S_OK && status != DBSTATUS_S_TRUNCATED) {
      cell.Kind = TCellKind::Error;
      cell.Text = StatusWord(status);
      continue;
    }
    switch (bound.Type) {
      case DBTYPE_BOOL:
        cell.Kind = TCellKind::Bool;
        cell.Bool = Load<VARIANT_BOOL>(value) != VARIANT_FALSE;
        break;
      case DBTYPE_I1: cell.Kind = TCellKind::Integer; cell.Integer = Load<signed char>(value); break;
      case DBTYPE_I2: cell.Kind = TCellKind::Integer; cell.Integer = Load<SHORT>(value); break;
      case DBTYPE_I4: cell.Kind = TCellKind::Integer; cell.Integer = Load<LONG>(value); break;
      case DBTYPE_I8: cell.Kind = TCellKind::Integer; cell.Integer = Load<LONGLONG>(value); break;
      case DBTYPE_UI1: cell.Kind = TCellKind::Unsigned; cell.Unsigned = Load<BYTE>(value); break;
      case DBTYPE_UI2: cell.Kind = TCellKind::Unsigned; cell.Unsigned = Load<USHORT>(value); break;
      case DBTYPE_UI4: cell.Kind = TCellKind::Unsigned; cell.Unsigned = Load<ULONG>(value); break;
      case DBTYPE_UI8: cell.Kind = TCellKind::Unsigned; cell.Unsigned = Load<ULONGLONG>(value); break;
      case DBTYPE_R4: cell.Kind = TCellKind::Real; cell.Real = Load<float>(value); break;
      case DBTYPE_R8: cell.Kind = TCellKind::Real; cell.Real = Load<double>(value); break;
      case DBTYPE_DATE:
        if (AutomationDateToDateTime(Load<DATE>(value), cell.DateTime)) {
          cell.Kind = TCellKind::DateTime;
        } else {
          cell.Kind = TCellKind::Error;
          cell.Text = "#BADDATE";
        }
        break;
      case DBTYPE_DBDATE: {
        const auto date = Load<DBDATE>(value);
        cell.Kind = TCellKind::Date;
        cell.DateTime = {date.year, date.month, date.day, 0, 0, 0, 0};
        break;
      }
      case DBTYPE_DBTIME: {
        const auto time = Load<DBTIME>(value);
        cell.Kind = TCellKind::Time;
        cell.DateTime = {0, 1, 1, time.hour, time.minute, time.second, 0};
        break;
      }
      case DBTYPE_DBTIMESTAMP: {
        const auto stamp = Load<DBTIMESTAMP>(value);
        cell.Kind = TCellKind::DateTime;
        cell.DateTime = {stamp.year, stamp.month, stamp.day, stamp.hour, stamp.minute, stamp.second, stamp.fraction};
        break;
      }
      case DBTYPE_GUID: {
        const auto guid = Load<GUID>(value);
        wchar_t text[40];
        const int characters = StringFromGUID2(guid, text, 40);
        const std::size_t shown = characters > 0 ? static_cast<std::size_t>(characters - 1) : 0;
        AssignCodePageFromWide(cell.Text, std::wstring_view(text, shown), Utf8CodePage);
        cell.Kind = TCellKind::Text;
        break;
      }
      case DBTYPE_BYTES: {
        static constexpr char Hex[] = "0123456789ABCDEF";
        const DBLENGTH bytes = std::min(length, bound.MaxLength);
        cell.Kind = TCellKind::Text;
        cell.Text.clear();
        for (DBLENGTH b = 0; b < bytes; ++b) {
          cell.Text.push_back(Hex[value[b] >> 4]);
          cell.Text.push_back(Hex[value[b] & 15]);
        }
        break;
      }
      default: {
        // The terminator counts against the buffer: a cut value fills all but it.
        const DBLENGTH bytes = std::min(length, bound.MaxLength - sizeof(wchar_t));
        const auto* text = reinterpret_cast<const wchar_t*>(value);
        AssignCodePageFromWide(cell.Text, std::wstring_view(text, bytes / sizeof(wchar_t)), Utf8CodePage);
        cell.Kind = bound.Exact ? TCellKind::Decimal : TCellKind::Text;
        break;
      }
    }
  }
}

TReadResult TRowsetReader::Read(TRowWriter& writer, std::uint64_t limit, const TRowFailureSink& onRowFailure,
                                TReadProgress* progress) {
  TReadResult result;
  writer.Begin(ColumnNames);
  std::vector<HROW> rows(BatchRows);
  std::uint64_t rowNumber = 0;
  bool ended = false;
  while (!ended && rowNumber < limit && !writer.Stopped()) {
    const DBCOUNTITEM wanted = static_cast<DBCOUNTITEM>(std::min<std::uint64_t>(BatchRows, limit - rowNumber));
    DBCOUNTITEM obtained = 0;
    HROW* handles = rows.data();
    const HRESULT fetched = Rowset->GetNextRows(DB_NULL_HCHAPTER, 0, wanted, &obtained, &handles);
    CheckOleDb(fetched, "cannot fetch row " + std::to_string(rowNumber + 1));
    ended = fetched == DB_S_ENDOFROWSET || obtained == 0;
    for (DBCOUNTITEM i = 0; i < obtained; ++i) {
      ++rowNumber;
      const HRESULT read = Rowset->GetData(rows[i], AccessorHandle, Buffer.data());
      if (FAILED(read) && read != DB_E_ERRORSOCCURRED) {
        ++result.RowsUnreadable;
        onRowFailure(rowNumber, EQueryFailure("row " + std::to_string(rowNumber) + " cannot be read", read,
                                              TakeErrorRecords()));
        continue;
      }
      ReadCells(result);
      writer.Row(Cells);
      ++result.RowsShown;
    }
    Rowset->ReleaseRows(obtained, rows.data(), nullptr, nullptr, nullptr);
    if (progress) progress->Rows(rowNumber);
  }
  if (progress) progress->Done();
  writer.End(result.RowsShown);
  return result;
}
