// bench_rowset: how fast a consumer reads a buffered rowset to the end through
// IRowset::GetNextRows and GetData, against a plain memcpy of the same row
// bytes, with the heap allocations each way makes per row.
#include <windows.h>
#include <oledb.h>
#include <oledberr.h>

#include <malloc.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <new>
#include <string>
#include <string_view>
#include <vector>

#include "BenchCom.h"
#include "BenchPlatform.h"
#include "OLEDbFactory.h"
#include "OLEDbRowset.h"
#include "OLEDbSchemaRowset.h"
#include "OLEDbSimpleRowsetData.h"

// ---- Allocation counting: every operator new of the process ------------------

namespace {
std::atomic<std::uint64_t> allocationCount{0};

void* CountedAlloc(std::size_t size) {
  ++allocationCount;
  if (void* p = std::malloc(size ? size : 1)) return p;
  throw std::bad_alloc();
}

void* CountedAlignedAlloc(std::size_t size, std::align_val_t alignment) {
  ++allocationCount;
  if (void* p = _aligned_malloc(size ? size : 1, static_cast<std::size_t>(alignment))) return p;
  throw std::bad_alloc();
}
}  // namespace

void* operator new(std::size_t size) { return CountedAlloc(size); }
void* operator new[](std::size_t size) { return CountedAlloc(size); }
void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
  ++allocationCount;
  return std::malloc(size ? size : 1);
}
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept {
  ++allocationCount;
  return std::malloc(size ? size : 1);
}
void operator delete(void* p) noexcept { std::free(p); }
void operator delete[](void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }
void operator delete[](void* p, std::size_t) noexcept { std::free(p); }
void* operator new(std::size_t size, std::align_val_t alignment) { return CountedAlignedAlloc(size, alignment); }
void* operator new[](std::size_t size, std::align_val_t alignment) { return CountedAlignedAlloc(size, alignment); }
void operator delete(void* p, std::align_val_t) noexcept { _aligned_free(p); }
void operator delete[](void* p, std::align_val_t) noexcept { _aligned_free(p); }
void operator delete(void* p, std::size_t, std::align_val_t) noexcept { _aligned_free(p); }
void operator delete[](void* p, std::size_t, std::align_val_t) noexcept { _aligned_free(p); }

namespace {

constexpr const char* Usage =
    "Usage: bench_rowset [--rows N] [--repeat N]\n"
    "Fills a buffered rowset with N rows (default 1000000) of I4, I8, R8, DATE, WSTR (20-40\n"
    "characters) and BOOL columns, then reads it to the end through IRowset::GetNextRows and\n"
    "GetData with an accessor over every column, in batches of 1 and 100 rows, next to a\n"
    "memcpy of the same row bytes. Prints rows/s and heap allocations per row; the best of\n"
    "--repeat runs (default 3) counts.\n";

enum TColumn : std::size_t { Number, Big, Real, When, Text, Flag, ColumnCount };
constexpr ULONG TextBytes = 41 * sizeof(wchar_t);

struct TOptions {
  std::int32_t Rows = 1000000;
  int Repeat = 3;
};

bool ParseOptions(int argc, char** argv, TOptions& options) {
  for (int i = 1; i < argc; ++i) {
    const std::string_view arg = argv[i];
    if (i + 1 >= argc) return false;
    char* end = nullptr;
    const long value = std::strtol(argv[++i], &end, 10);
    if (*end != '\0' || value <= 0) return false;
    if (arg == "--rows" && value <= 100000000) {
      options.Rows = static_cast<std::int32_t>(value);
    } else if (arg == "--repeat" && value < 100) {
      options.Repeat = static_cast<int>(value);
    } else {
      return false;
    }
  }
  return true;
}

TComPtr<TSimpleRowsetData> MakeData(std::int32_t rows) {
  TComPtr<TSimpleRowsetData> data = MakeComObject<TSimpleRowsetData>();
  TOleDbColumns& columns = data->GetColumns();
  columns.AddColumn(L"NUMBER", DBTYPE_I4, 0);
  columns.AddColumn(L"BIG", DBTYPE_I8, 0);
  columns.AddColumn(L"REAL", DBTYPE_R8, 0);
  columns.AddColumn(L"WHEN", DBTYPE_DATE, 0);
  columns.AddColumn(L"TEXT", DBTYPE_WSTR, TextBytes);
  columns.AddColumn(L"FLAG", DBTYPE_BOOL, 0);
  data->InitLayout();
  data->SetCapacity(rows);

  const wchar_t words[] = L"mail filter delivered message to recipient after scanning attachments";
  std::uint32_t seed = 12345;
  for (std::int32_t i = 0; i < rows; ++i) {
    std::byte* row = data->AddRow();
    const auto put = [&](TColumn column, const void* value, std::size_t size) {
      std::memcpy(row + data->ColumnOffset(column), value, size);
    };
    const LONG number = i;
    const LONGLONG big = static_cast<LONGLONG>(i) * 1000003;
    const double real = i * 0.25;
    const DATE when = 45000.0 + i / 86400.0;
    const VARIANT_BOOL flag = (i & 1) ? VARIANT_TRUE : VARIANT_FALSE;
    seed = seed * 1103515245u + 12345u;
    const std::size_t length = 20 + (seed >> 16) % 21;
    put(Number, &number, sizeof number);
    put(Big, &big, sizeof big);
    put(Real, &real, sizeof real);
    put(When, &when, sizeof when);
    put(Text, words + (seed >> 8) % 16, length * sizeof(wchar_t));
    put(Flag, &flag, sizeof flag);
  }
  return data;
}

// The consumer's row: each column in its own type with length and status.
struct TConsumerRow {
  DBSTATUS Status[ColumnCount];
  DBLENGTH Length[ColumnCount];
  LONG Number;
  LONGLONG Big;
  double Real;
  DATE When;
  VARIANT_BOOL Flag;
  wchar_t Text[TextBytes / sizeof(wchar_t)];
};

HACCESSOR CreateAccessor(IAccessor& accessor) {
  struct TCell {
    DBTYPE Type;
    DBBYTEOFFSET Value;
    DBLENGTH MaxLength;
  };
  const TCell cells[ColumnCount] = {
      {DBTYPE_I4, offsetof(TConsumerRow, Number), sizeof(LONG)},
      {DBTYPE_I8, offsetof(TConsumerRow, Big), sizeof(LONGLONG)},
      {DBTYPE_R8, offsetof(TConsumerRow, Real), sizeof(double)},
      {DBTYPE_DATE, offsetof(TConsumerRow, When), sizeof(DATE)},
      {DBTYPE_WSTR, offsetof(TConsumerRow, Text), TextBytes},
      {DBTYPE_BOOL, offsetof(TConsumerRow, Flag), sizeof(VARIANT_BOOL)},
  };
  DBBINDING bindings[ColumnCount] = {};
  for (std::size_t i = 0; i < ColumnCount; ++i) {
    bindings[i].iOrdinal = i + 1;
    bindings[i].obValue = cells[i].Value;
    bindings[i].obLength = offsetof(TConsumerRow, Length) + i * sizeof(DBLENGTH);
    bindings[i].obStatus = offsetof(TConsumerRow, Status) + i * sizeof(DBSTATUS);
    bindings[i].dwPart = DBPART_VALUE | DBPART_LENGTH | DBPART_STATUS;
    bindings[i].dwMemOwner = DBMEMOWNER_CLIENTOWNED;
    bindings[i].cbMaxLen = cells[i].MaxLength;
    bindings[i].wType = cells[i].Type;
  }
  HACCESSOR handle = 0;
  DBBINDSTATUS statuses[ColumnCount];
  CheckHr(accessor.CreateAccessor(DBACCESSOR_ROWDATA, ColumnCount, bindings, sizeof(TConsumerRow), &handle, statuses),
        "CreateAccessor");
  return handle;
}

struct TPass {
  double Seconds = 0;
  std::uint64_t Rows = 0;
  std::uint64_t Allocations = 0;
  std::uint64_t Checksum = 0;
};

// Reads every row; with readValues false only fetches and releases.
TPass ReadAll(IRowset& rowset, HACCESSOR accessor, DBROWCOUNT batch, bool readValues) {
  CheckHr(rowset.RestartPosition(DB_NULL_HCHAPTER), "RestartPosition");
  std::vector<HROW> rows(static_cast<std::size_t>(batch));
  TConsumerRow row{};
  TPass pass;
  const std::uint64_t allocationsBefore = allocationCount.load();
  const auto start = std::chrono::steady_clock::now();
  pass.Rows = FetchToEnd(rowset, rows, [&](HROW handle) {
    if (!readValues) return;
    CheckHr(rowset.GetData(handle, accessor, &row), "GetData");
    pass.Checksum += static_cast<std::uint64_t>(row.Number) + row.Length[Text];
  });
  pass.Seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  pass.Allocations = allocationCount.load() - allocationsBefore;
  return pass;
}

TPass CopyAll(const TSimpleRowsetData& data) {
  std::vector<std::byte> target(static_cast<std::size_t>(data.RowSize()));
  TPass pass;
  const std::uint64_t allocationsBefore = allocationCount.load();
  const auto start = std::chrono::steady_clock::now();
  for (std::int32_t i = 0; i < data.RowCount(); ++i) {
    std::memcpy(target.data(), data.RowBuffer(i), target.size());
    pass.Checksum += static_cast<std::uint64_t>(target[0]);
  }
  pass.Seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  pass.Allocations = allocationCount.load() - allocationsBefore;
  pass.Rows = static_cast<std::uint64_t>(data.RowCount());
  return pass;
}

void Print(const char* name, const TPass& pass, double baselineRowsPerSecond, std::size_t bytesPerRow) {
  const double rowsPerSecond = pass.Rows / pass.Seconds;
  std::printf("%-34s %12.0f rows/s %8.1f ns/row %9.1f MB/s %7.3f allocs/row", name, rowsPerSecond,
              1e9 * pass.Seconds / pass.Rows, rowsPerSecond * bytesPerRow / 1e6,
              static_cast<double>(pass.Allocations) / pass.Rows);
  if (baselineRowsPerSecond > 0) std::printf("  %5.1f%% of memcpy", 100.0 * rowsPerSecond / baselineRowsPerSecond);
  std::printf("\n");
}

int Run(const TOptions& options) {
  const auto fillStart = std::chrono::steady_clock::now();
  TComPtr<TSimpleRowsetData> data = MakeData(options.Rows);
  const double fillSeconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - fillStart).count();

  const std::unique_ptr<TComObjectFactory> factory =
      RegisterInternalClass(ComServer(), &OleDbClassOf<TOleDbSchemaRowset>());
  TComPtr<IUnknown> unknown;
  CreateRowsetOverData(data.Get(), OleDbClassOf<TOleDbSchemaRowset>(), nullptr, IID_IUnknown, unknown.Put());
  TComPtr<IRowset> rowset;
  TComPtr<IAccessor> accessorOwner;
  CheckHr(unknown.As(rowset, IID_IRowset), "QueryInterface(IRowset)");
  CheckHr(unknown.As(accessorOwner, IID_IAccessor), "QueryInterface(IAccessor)");
  const HACCESSOR accessor = CreateAccessor(*accessorOwner);

  const auto rowSize = static_cast<std::size_t>(data->RowSize());
  std::printf("bench_rowset: %d rows of I4, I8, R8, DATE, WSTR (20-40 chars), BOOL; row buffer %zu bytes; "
              "filled in %.2f s\n",
              options.Rows, rowSize, fillSeconds);
  const TPass copy = FastestOf(options.Repeat, [&] { return CopyAll(*data); });
  const double baseline = copy.Rows / copy.Seconds;
  Print("memcpy of the row buffers", copy, 0, rowSize);
  for (DBROWCOUNT batch : {DBROWCOUNT(1), DBROWCOUNT(100)}) {
    const TPass fetch = FastestOf(options.Repeat, [&] { return ReadAll(*rowset, accessor, batch, false); });
    const TPass read = FastestOf(options.Repeat, [&] { return ReadAll(*rowset, accessor, batch, true); });
    if (fetch.Rows != static_cast<std::uint64_t>(options.Rows) || read.Rows != fetch.Rows) {
      std::fprintf(stderr, "bench_rowset: read %llu rows, expected %d\n", static_cast<unsigned long long>(read.Rows),
                   options.Rows);
      return 1;
    }
    const std::string fetchName = "GetNextRows only, batch " + std::to_string(batch);
    const std::string readName = "GetNextRows+GetData, batch " + std::to_string(batch);
    Print(fetchName.c_str(), fetch, baseline, rowSize);
    Print(readName.c_str(), read, baseline, rowSize);
  }
  accessorOwner->ReleaseAccessor(accessor, nullptr);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  TOptions options;
  return BenchMain("bench_rowset", Usage, ParseOptions(argc, argv, options), [&] {
    TBenchApartment apartment;
    return Run(options);
  });
}
