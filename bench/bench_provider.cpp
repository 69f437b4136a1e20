// bench_provider: how fast a consumer reads a large log through zellogdb.dll
// (IOpenRowset, one accessor over all columns, GetNextRows, GetData,
// ReleaseRows), against TLogFileReader::ReadRecord over the same file.
// The published OLE DB constants live in this program.
#define DBINITCONSTANTS
#include <windows.h>
#include <oledb.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "BenchCom.h"
#include "BenchPlatform.h"
#include "LogFileReader_un.h"

namespace fs = std::filesystem;

namespace {

constexpr const char* Usage =
    "Usage: bench_provider --dll PATH [--file PATH | --dir DIR] [--size N[M|G]] [--seed N] [--repeat N]\n"
    "                      [--measure all|read|held|query] [--bind all|read|none|native|wstr|variant]\n"
    "Reads one synthetic log (generated when missing) through zellogdb.dll as an OLE DB\n"
    "consumer does, with native, wide-text and VARIANT bindings of all columns and with\n"
    "none, in batches of 1 and 100 rows, and prints MB/s and rows/s beside\n"
    "TLogFileReader::ReadRecord (read).\n"
    "Then fetches 10,000 to 300,000 rows in one GetNextRows and holds them, and prints\n"
    "the cost per held row beside that of 10,000 (held).\n"
    "Then reads command texts with native bindings: SELECT * beside a column list and a\n"
    "time window that keeps about 1% of the rows (query).\n"
    "--bind limits the read passes to ReadRecord and one way of binding, or to ReadRecord\n"
    "alone (read), for a profile.\n";

struct TOptions {
  fs::path Dll;
  TBenchLogOptions Log;
  bool Read = true;
  bool Held = true;
  bool Query = true;
  std::string_view Bind = "all";
};

bool ParseOptions(int argc, char** argv, TOptions& options) {
  const bool parsed = ParseBenchLogOptions(argc, argv, options.Log, [&](std::string_view name, const char* value) {
    if (name == "--dll") {
      options.Dll = fs::path(value);
      return true;
    }
    if (name == "--measure") {
      const std::string_view measure = value;
      options.Read = measure == "all" || measure == "read";
      options.Held = measure == "all" || measure == "held";
      options.Query = measure == "all" || measure == "query";
      return options.Read || options.Held || options.Query;
    }
    if (name == "--bind") {
      options.Bind = value;
      return options.Bind == "all" || options.Bind == "read" || options.Bind == "none" || options.Bind == "native" || options.Bind == "wstr" ||
             options.Bind == "variant";
    }
    return false;
  });
  return parsed && !options.Dll.empty();
}

// Releases an interface pointer when it goes.
template <class I>
struct TRef {
  I* Ptr = nullptr;
  TRef() = default;
  TRef(TRef&& other) noexcept : Ptr(std::exchange(other.Ptr, nullptr)) {}
  TRef& operator=(TRef&&) = delete;
  ~TRef() {
    if (Ptr) Ptr->Release();
  }
  I* operator->() const { return Ptr; }
  void** Out() { return reinterpret_cast<void**>(&Ptr); }
};

// A pass with the processor time it took: the whole process's, and the
// calling thread's alone, which is what the consumer waits for when the
// provider reads ahead on another processor.
struct TCpuPass : TBenchPass {
  double ProcessCpu = 0;
  double ThreadCpu = 0;
};

double Seconds(const FILETIME& kernel, const FILETIME& user) {
  const auto ticks = [](const FILETIME& time) {
    return static_cast<double>((static_cast<std::uint64_t>(time.dwHighDateTime) << 32) | time.dwLowDateTime);
  };
  return (ticks(kernel) + ticks(user)) / 1e7;
}

void CpuNow(double& process, double& thread) {
  FILETIME created, exited, kernel, user;
  process = GetProcessTimes(GetCurrentProcess(), &created, &exited, &kernel, &user) ? Seconds(kernel, user) : 0;
  thread = GetThreadTimes(GetCurrentThread(), &created, &exited, &kernel, &user) ? Seconds(kernel, user) : 0;
}

TCpuPass MeasureBestCpu(int repeat, const std::function<std::uint64_t()>& run) {
  return FastestOf(repeat, [&] {
    double process = 0, thread = 0;
    CpuNow(process, thread);
    TCpuPass pass;
    static_cast<TBenchPass&>(pass) = MeasureBest(1, run);
    double processAfter = 0, threadAfter = 0;
    CpuNow(processAfter, threadAfter);
    pass.ProcessCpu = processAfter - process;
    pass.ThreadCpu = threadAfter - thread;
    return pass;
  });
}

void PrintPass(const char* name, const TCpuPass& pass, std::uint64_t bytes, const TCpuPass& reference) {
  std::printf("%-36s %8.3f s %9.1f MB/s %8.3f Mrows/s   %5.2f of ReadRecord   CPU %.3f s, consumer thread %.3f s"
              " (%4.2f of ReadRecord)   peak RSS %.1f MiB\n",
              name, pass.Seconds, static_cast<double>(bytes) / 1e6 / pass.Seconds,
              static_cast<double>(pass.Count) / pass.Seconds / 1e6, reference.Seconds / pass.Seconds,
              pass.ProcessCpu, pass.ThreadCpu, pass.ThreadCpu > 0 ? reference.ThreadCpu / pass.ThreadCpu : 0.0,
              MiB(PeakResidentBytes()));
}

// How the columns are bound; Nothing fetches and releases rows without
// reading them, which shows what GetData adds.
enum class TBindAs { Nothing, Native, WideText, Variant };

// A data source, session and rowset factory over one folder, through the DLL.
class TConsumer {
public:
  TConsumer(const fs::path& dll, const fs::path& folder) {
    library_ = LoadLibraryW(dll.wstring().c_str());
    if (!library_) throw std::runtime_error("cannot load " + dll.string());
    using TGetClassObject = HRESULT(STDAPICALLTYPE*)(REFCLSID, REFIID, void**);
    const auto getClassObject =
        reinterpret_cast<TGetClassObject>(reinterpret_cast<void*>(GetProcAddress(library_, "DllGetClassObject")));
    CLSID clsid;
    CheckHr(CLSIDFromString(L"{55EC7CF0-F505-4435-959F-3EDF8409519C}", &clsid), "CLSIDFromString");
    TRef<IClassFactory> factory;
    CheckHr(getClassObject(clsid, IID_IClassFactory, factory.Out()), "DllGetClassObject");
    CheckHr(factory->CreateInstance(nullptr, IID_IDBInitialize, init_.Out()), "CreateInstance");
    TRef<IDBProperties> properties;
    CheckHr(init_->QueryInterface(IID_IDBProperties, properties.Out()), "IDBProperties");
    DBPROP prop{};
    prop.dwPropertyID = DBPROP_INIT_DATASOURCE;
    prop.colid = DB_NULLID;
    V_VT(&prop.vValue) = VT_BSTR;
    V_BSTR(&prop.vValue) = SysAllocString(folder.wstring().c_str());
    DBPROPSET set{&prop, 1, DBPROPSET_DBINIT};
    CheckHr(properties->SetProperties(1, &set), "SetProperties");
    VariantClear(&prop.vValue);
    CheckHr(init_->Initialize(), "Initialize");
    TRef<IDBCreateSession> create;
    CheckHr(init_->QueryInterface(IID_IDBCreateSession, create.Out()), "IDBCreateSession");
    CheckHr(create->CreateSession(nullptr, IID_IOpenRowset, reinterpret_cast<IUnknown**>(open_.Out())),
          "CreateSession");
  }

  // Reads every row of table with every column bound as its own type or as
  // wide text; returns the rows read.
  std::uint64_t Read(const std::wstring& table, TBindAs bindAs, DBROWCOUNT batch) {
    return ReadRowset(OpenRowset(table), bindAs, batch);
  }

  // The same for the rowset a command text gives.
  std::uint64_t Query(const std::wstring& text, TBindAs bindAs, DBROWCOUNT batch) {
    TRef<IDBCreateCommand> create;
    CheckHr(open_->QueryInterface(IID_IDBCreateCommand, create.Out()), "IDBCreateCommand");
    TRef<ICommandText> command;
    CheckHr(create->CreateCommand(nullptr, IID_ICommandText, reinterpret_cast<IUnknown**>(command.Out())),
          "CreateCommand");
    CheckHr(command->SetCommandText(DBGUID_DEFAULT, text.c_str()), "SetCommandText");
    TRef<IRowset> rowset;
    CheckHr(command->Execute(nullptr, IID_IRowset, nullptr, nullptr, reinterpret_cast<IUnknown**>(rowset.Out())),
          "Execute");
    return ReadRowset(std::move(rowset), bindAs, batch);
  }

  // Fetches rows rows in one GetNextRows and releases them in one
  // ReleaseRows; returns the rows obtained.
  std::uint64_t FetchHeld(const std::wstring& table, DBROWCOUNT rows) {
    TRef<IRowset> rowset = OpenRowset(table);
    DBCOUNTITEM obtained = 0;
    HROW* held = nullptr;
    CheckHr(rowset->GetNextRows(DB_NULL_HCHAPTER, 0, rows, &obtained, &held), "GetNextRows");
    if (obtained > 0) CheckHr(rowset->ReleaseRows(obtained, held, nullptr, nullptr, nullptr), "ReleaseRows");
    CoTaskMemFree(held);
    return obtained;
  }

private:
  std::uint64_t ReadRowset(TRef<IRowset> rowset, TBindAs bindAs, DBROWCOUNT batch) {
    TRef<IColumnsInfo> info;
    CheckHr(rowset->QueryInterface(IID_IColumnsInfo, info.Out()), "IColumnsInfo");
    DBORDINAL count = 0;
    DBCOLUMNINFO* columns = nullptr;
    OLECHAR* names = nullptr;
    CheckHr(info->GetColumnInfo(&count, &columns, &names), "GetColumnInfo");
    std::vector<DBBINDING> bindings(count);
    DBBYTEOFFSET offset = 0;
    for (DBORDINAL i = 0; i < count; ++i) {
      DBBINDING& binding = bindings[i];
      const bool text = columns[i].wType == DBTYPE_STR || columns[i].wType == DBTYPE_WSTR;
      binding.iOrdinal = columns[i].iOrdinal;
      binding.dwPart = DBPART_VALUE | DBPART_LENGTH | DBPART_STATUS;
      binding.dwMemOwner = DBMEMOWNER_CLIENTOWNED;
      binding.wType = bindAs == TBindAs::WideText  ? static_cast<DBTYPE>(DBTYPE_WSTR)
                      : bindAs == TBindAs::Variant ? static_cast<DBTYPE>(DBTYPE_VARIANT)
                                                   : columns[i].wType;
      binding.cbMaxLen = bindAs == TBindAs::Variant ? sizeof(VARIANT) : text ? 4096 : (bindAs == TBindAs::WideText ? 128 : 8);
      binding.obStatus = offset;
      binding.obLength = offset + 8;
      binding.obValue = offset + 16;
      offset += 16 + (binding.cbMaxLen + 7) / 8 * 8;
    }
    CoTaskMemFree(columns);
    CoTaskMemFree(names);
    std::vector<BYTE> buffer(offset);
    TRef<IAccessor> accessor;
    CheckHr(rowset->QueryInterface(IID_IAccessor, accessor.Out()), "IAccessor");
    HACCESSOR handle = 0;
    CheckHr(accessor->CreateAccessor(DBACCESSOR_ROWDATA, bindings.size(), bindings.data(), buffer.size(), &handle,
                                   nullptr),
          "CreateAccessor");
    std::vector<HROW> rows(static_cast<std::size_t>(batch));
    const std::uint64_t total = FetchToEnd(*rowset.Ptr, rows, [&](HROW row) {
      if (bindAs == TBindAs::Nothing) return;
      rowset->GetData(row, handle, buffer.data());
      if (bindAs == TBindAs::Variant)
        for (const DBBINDING& binding : bindings) VariantClear(reinterpret_cast<VARIANT*>(&buffer[binding.obValue]));
    });
    accessor->ReleaseAccessor(handle, nullptr);
    return total;
  }

  TRef<IRowset> OpenRowset(const std::wstring& table) {
    DBID id{};
    id.eKind = DBKIND_NAME;
    id.uName.pwszName = const_cast<wchar_t*>(table.c_str());
    TRef<IRowset> rowset;
    CheckHr(open_->OpenRowset(nullptr, &id, nullptr, IID_IRowset, 0, nullptr, reinterpret_cast<IUnknown**>(rowset.Out())),
          "OpenRowset");
    return rowset;
  }

  HMODULE library_ = nullptr;
  TRef<IDBInitialize> init_;
  TRef<IOpenRowset> open_;
};


void MeasureReading(const TOptions& options, const fs::path& path, std::uint64_t bytes, TConsumer& consumer,
                    const std::wstring& table) {
  const TCpuPass readRecord = MeasureBestCpu(options.Log.Repeat, [&] {
    const TBenchRecords counts = ReadLogRecords(path);
    return counts.Records + counts.Errors;
  });
  PrintPass("TLogFileReader::ReadRecord", readRecord, bytes, readRecord);

  struct TMode {
    TBindAs BindAs;
    const char* Name;
    std::string_view Option;
  };
  for (const TMode mode : {TMode{TBindAs::Nothing, "fetch only", "none"}, TMode{TBindAs::Native, "native", "native"},
                           TMode{TBindAs::WideText, "WSTR", "wstr"}, TMode{TBindAs::Variant, "VARIANT", "variant"}}) {
    if (options.Bind != "all" && options.Bind != mode.Option) continue;
    for (const DBROWCOUNT batch : {DBROWCOUNT(1), DBROWCOUNT(100)}) {
      const TCpuPass pass = MeasureBestCpu(options.Log.Repeat, [&] { return consumer.Read(table, mode.BindAs, batch); });
      const std::string name = std::string("OLE DB, ") + mode.Name + (mode.BindAs == TBindAs::Nothing ? "" : " bindings") +
                               ", batch " + std::to_string(batch);
      PrintPass(name.c_str(), pass, bytes, readRecord);
      if (pass.Count != readRecord.Count)
        std::printf("warning: %llu rows through OLE DB, %llu records and errors read directly\n",
                    static_cast<unsigned long long>(pass.Count), static_cast<unsigned long long>(readRecord.Count));
    }
  }
}

// A consumer that holds what it fetched must pay the same per row however
// many it holds.
void MeasureHeldRows(const TOptions& options, TConsumer& consumer, const std::wstring& table) {
  std::printf("\nrows held at once (one GetNextRows, one ReleaseRows)\n");
  double reference = 0;
  for (const DBROWCOUNT rows : {DBROWCOUNT(10000), DBROWCOUNT(30000), DBROWCOUNT(100000), DBROWCOUNT(300000)}) {
    const TBenchPass pass = MeasureBest(options.Log.Repeat, [&] { return consumer.FetchHeld(table, rows); });
    if (pass.Count < static_cast<std::uint64_t>(rows)) {
      std::printf("%8lld rows: the log has only %llu rows\n", static_cast<long long>(rows),
                  static_cast<unsigned long long>(pass.Count));
      break;
    }
    const double perRow = pass.Seconds / static_cast<double>(pass.Count);
    if (reference == 0) reference = perRow;
    std::printf("%8lld rows held %8.3f s %8.3f us/row   %5.2f x per row of 10000   peak RSS %.1f MiB\n",
                static_cast<long long>(rows), pass.Seconds, perRow * 1e6, perRow / reference,
                MiB(PeakResidentBytes()));
  }
}

// Whole local seconds since 1899-12-30 as the ISO text a query compares.
std::wstring IsoTime(std::int64_t seconds) {
  const std::int64_t days = seconds / 86400 - 25569;  // to the Unix epoch
  // Civil date of a day count (Howard Hinnant's days_from_civil inverse).
  const std::int64_t z = days + 719468, era = (z >= 0 ? z : z - 146096) / 146097;
  const std::int64_t doe = z - era * 146097, yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const std::int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100), mp = (5 * doy + 2) / 153;
  const std::int64_t day = doy - (153 * mp + 2) / 5 + 1, month = mp < 10 ? mp + 3 : mp - 9;
  const std::int64_t year = yoe + era * 400 + (month <= 2);
  const std::int64_t second = seconds % 86400;
  wchar_t text[32];
  swprintf(text, 32, L"%04lld-%02lld-%02lldT%02lld:%02lld:%02lld", static_cast<long long>(year),
           static_cast<long long>(month), static_cast<long long>(day), static_cast<long long>(second / 3600),
           static_cast<long long>(second / 60 % 60), static_cast<long long>(second % 60));
  return text;
}

// Column lists and conditions must make reads cheaper, not only shorter.
void MeasureQueries(const TOptions& options, const fs::path& path, std::uint64_t bytes, TConsumer& consumer,
                    const std::wstring& table) {
  // A window around the middle of the log's times that holds about 1% of them.
  std::vector<std::int64_t> times;
  {
    TLogFileReader reader;
    std::string errorText;
    if (!reader.Open(path.u16string(), errorText)) throw std::runtime_error(errorText);
    TLogRecord record;
    while (!reader.Eof())
      if (reader.ReadRecord(record, errorText)) times.push_back(std::llround(record.Time * 86400));
    reader.Close(errorText);
  }
  if (times.empty()) throw std::runtime_error("the log has no rows");
  std::sort(times.begin(), times.end());
  const std::wstring from = IsoTime(times[times.size() / 2]), to = IsoTime(times[times.size() / 2 + times.size() / 100]);

  std::printf("\ncommand texts, native bindings, batch 100\n");
  const TBenchPass all = MeasureBest(options.Log.Repeat, [&] {
    return consumer.Query(L"SELECT * FROM " + table, TBindAs::Native, 100);
  });
  const struct {
    const char* Name;
    std::wstring Text;
  } queries[] = {
      {"SELECT *", L"SELECT * FROM " + table},
      {"SELECT Time, Class", L"SELECT Time, Class FROM " + table},
      {"SELECT * WHERE Time BETWEEN (1%)", L"SELECT * FROM " + table + L" WHERE Time BETWEEN '" + from + L"' AND '" + to + L"'"},
      {"SELECT Time, Class WHERE Time (1%)", L"SELECT Time, Class FROM " + table + L" WHERE Time >= '" + from +
                                               L"' AND Time <= '" + to + L"'"},
  };
  for (const auto& query : queries) {
    const TBenchPass pass = query.Text == queries[0].Text ? all : MeasureBest(options.Log.Repeat, [&] {
      return consumer.Query(query.Text, TBindAs::Native, 100);
    });
    std::printf("%-36s %8.3f s %9.1f MB/s %10llu rows   %5.2f x faster than SELECT *\n", query.Name, pass.Seconds,
                static_cast<double>(bytes) / 1e6 / pass.Seconds, static_cast<unsigned long long>(pass.Count),
                all.Seconds / pass.Seconds);
  }
}

}  // namespace

int main(int argc, char** argv) {
  TOptions options;
  return BenchMain("bench_provider", Usage, ParseOptions(argc, argv, options), [&] {
    TBenchApartment apartment;
    const fs::path path = PrepareBenchLog(options.Log);
    const std::uint64_t bytes = fs::file_size(path);
    std::printf("best of %d runs each\n", options.Log.Repeat);
    std::printf("peak RSS after preparing the log: %.1f MiB\n\n", MiB(PeakResidentBytes()));

    TConsumer consumer(options.Dll, path.parent_path());
    const std::wstring table = path.filename().wstring();
    if (options.Read) MeasureReading(options, path, bytes, consumer, table);
    if (options.Held) MeasureHeldRows(options, consumer, table);
    if (options.Query) MeasureQueries(options, path, bytes, consumer, table);
    return 0;
  });
}
