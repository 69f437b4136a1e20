// bench_provider: how fast a consumer reads a large log through zellogdb.dll
// (IOpenRowset, one accessor over all columns, GetNextRows, GetData,
// ReleaseRows), against TLogFileReader::ReadRecord over the same file.
// The published OLE DB constants live in this program.
#define DBINITCONSTANTS
#include <windows.h>
#include <oledb.h>

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "BenchCom.h"
#include "BenchPlatform.h"

namespace fs = std::filesystem;

namespace {

constexpr const char* Usage =
    "Usage: bench_provider --dll PATH [--file PATH | --dir DIR] [--size N[M|G]] [--seed N] [--repeat N]\n"
    "                      [--measure all|read|held]\n"
    "Reads one synthetic log (generated when missing) through zellogdb.dll as an OLE DB\n"
    "consumer does, with native, wide-text and VARIANT bindings of all columns and with\n"
    "none, in batches of 1 and 100 rows, and prints MB/s and rows/s beside\n"
    "TLogFileReader::ReadRecord (read).\n"
    "Then fetches 10,000 to 300,000 rows in one GetNextRows and holds them, and prints\n"
    "the cost per held row beside that of 10,000 (held).\n";

struct TOptions {
  fs::path Dll;
  TBenchLogOptions Log;
  bool Read = true;
  bool Held = true;
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
      return options.Read || options.Held;
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

void PrintPass(const char* name, const TBenchPass& pass, std::uint64_t bytes, const TBenchPass& reference) {
  std::printf("%-36s %8.3f s %9.1f MB/s %8.3f Mrows/s   %5.2f of ReadRecord   peak RSS %.1f MiB\n", name,
              pass.Seconds, static_cast<double>(bytes) / 1e6 / pass.Seconds,
              static_cast<double>(pass.Count) / pass.Seconds / 1e6, reference.Seconds / pass.Seconds,
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
    TRef<IRowset> rowset = OpenRowset(table);
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
  const TBenchPass readRecord = MeasureBest(options.Log.Repeat, [&] {
    const TBenchRecords counts = ReadLogRecords(path);
    return counts.Records + counts.Errors;
  });
  PrintPass("TLogFileReader::ReadRecord", readRecord, bytes, readRecord);

  struct TMode {
    TBindAs BindAs;
    const char* Name;
  };
  for (const TMode mode : {TMode{TBindAs::Nothing, "fetch only"}, TMode{TBindAs::Native, "native"},
                           TMode{TBindAs::WideText, "WSTR"}, TMode{TBindAs::Variant, "VARIANT"}}) {
    for (const DBROWCOUNT batch : {DBROWCOUNT(1), DBROWCOUNT(100)}) {
      const TBenchPass pass = MeasureBest(options.Log.Repeat, [&] { return consumer.Read(table, mode.BindAs, batch); });
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
    return 0;
  });
}
