// Many consumers in one process at once, as a database engine or a web
// server runs them: each thread with its own data source, in its own
// single-threaded apartment or in the multithreaded one.
#include <gtest/gtest.h>
#include <windows.h>

#include <atomic>
#include <cstdlib>
#include <map>
#include <mutex>
#include <thread>

#include "ProviderTestSupport.h"
#include "ZelLogProvider_un.h"

namespace {
// ZELLOGDB_STRESS_SECONDS runs the loop longer (or shorter) than the minute
// the test command gives it.
int StressSeconds() {
  const char* text = std::getenv("ZELLOGDB_STRESS_SECONDS");
  const int seconds = text ? std::atoi(text) : 0;
  return seconds > 0 ? seconds : 60;
}

constexpr int ThreadCount = 8;
constexpr int MultithreadedCount = 3;

const wchar_t* const Tables[] = {L"mail1-20100401.log", L"mail1-20100402-damaged.log", L"mail2-20090315.log"};
// DATE and BOOL columns bound as wide text still go through the conversion
// library; native and variant bindings take the toolkit's own paths.
const TBindingKind Kinds[] = {TBindingKind::Native, TBindingKind::WideText, TBindingKind::Variant};

std::wstring ExampleFolder() { return WindowsPath(ZELLOG_EXAMPLE_LOGS); }

using TExpected = std::map<std::pair<std::wstring, TBindingKind>, std::vector<TRowText>>;

// Memory the process has committed for itself (wine leaves the process
// memory counters empty, so the address space is walked).
SIZE_T PrivateBytes() {
  SIZE_T total = 0;
  MEMORY_BASIC_INFORMATION region{};
  for (const BYTE* address = nullptr; VirtualQuery(address, &region, sizeof region) == sizeof region;
       address = static_cast<const BYTE*>(region.BaseAddress) + region.RegionSize)
    if (region.State == MEM_COMMIT && region.Type == MEM_PRIVATE) total += region.RegionSize;
  return total;
}

class TStress {
public:
  explicit TStress(const TExpected& expected) : expected_(expected) {}

  // Runs the consumers for the given time and waits for them; false when they
  // stop making progress (a deadlock), after which the process cannot go on.
  bool Run(int seconds) {
    stop_ = false;
    finished_ = 0;
    std::vector<std::thread> threads;
    for (int i = 0; i < ThreadCount; ++i) threads.emplace_back([this, i] { Consume(i, i < MultithreadedCount); });
    const auto abandon = [&] {
      for (std::thread& thread : threads) thread.detach();
      return false;
    };
    long last = -1;
    for (int elapsed = 0, stalled = 0; elapsed < seconds; ++elapsed) {
      Sleep(1000);
      const long now = rounds_.load();
      stalled = now == last ? stalled + 1 : 0;
      last = now;
      if (stalled >= 30) return abandon();
    }
    stop_ = true;
    for (int waited = 0; finished_.load() < ThreadCount; ++waited) {
      if (waited >= 300) return abandon();
      Sleep(100);
    }
    for (std::thread& thread : threads) thread.join();
    return true;
  }

  long Rounds() const { return rounds_.load(); }
  std::vector<std::wstring> Failures() {
    std::lock_guard<std::mutex> lock(failuresLock_);
    return failures_;
  }

private:
  void Fail(int thread, const std::wstring& what) {
    std::lock_guard<std::mutex> lock(failuresLock_);
    if (failures_.size() < 20) failures_.push_back(L"thread " + std::to_wstring(thread) + L": " + what);
  }

  void Consume(int thread, bool multithreaded) {
    if (FAILED(CoInitializeEx(nullptr, multithreaded ? COINIT_MULTITHREADED : COINIT_APARTMENTTHREADED))) {
      Fail(thread, L"CoInitializeEx");
      ++finished_;
      return;
    }
    for (unsigned round = thread; !stop_; ++round) {
      Round(thread, multithreaded, round);
      ++rounds_;
    }
    CoUninitialize();
    ++finished_;
  }

  // One consumer's life: connect, read every table through OpenRowset and a
  // command with one kind of binding each, disconnect.
  void Round(int thread, bool multithreaded, unsigned round) {
    if (multithreaded) ProxiedRound(thread);
    TSession session = Connect(ExampleFolder(), multithreaded ? CreateInThisApartment() : TComPtr<IDBInitialize>());
    if (!session.Open) return Fail(thread, L"no session");
    for (std::size_t t = 0; t < std::size(Tables); ++t) {
      const TBindingKind kind = Kinds[(round + t) % std::size(Kinds)];
      const std::wstring table = Tables[t];
      TOpened opened = (round + t) % 2 ? Execute(session, L"SELECT * FROM " + table) : OpenTable(session, table);
      if (opened.Result != S_OK) return Fail(thread, table + L" not opened: " + opened.Error.Description);
      if (TTableReader(opened.Rowset.Get(), kind).ReadAll(1 + round % 7) != expected_.at({table, kind}))
        Fail(thread, table + L" read differently with binding kind " + std::to_wstring(static_cast<int>(kind)));
    }
    Disconnect(thread, session);
  }

  // Created by CLSID in the multithreaded apartment, the provider lives in
  // COM's host apartment and is reached through proxies. Wine's OLE DB
  // proxies refuse IOpenRowset and leak every rowset a command returns, so
  // this consumer goes as far as the command's columns.
  void ProxiedRound(int thread) {
    TSession session = Connect(ExampleFolder());
    if (!session.Open) return Fail(thread, L"no proxied session");
    TComPtr<IDBCreateCommand> create;
    TComPtr<ICommandText> command;
    if (FAILED(session.Open.As(create, IID_IDBCreateCommand)) ||
        FAILED(create->CreateCommand(nullptr, IID_ICommandText, reinterpret_cast<IUnknown**>(command.Put()))) ||
        FAILED(command->SetCommandText(DBGUID_DEFAULT, Tables[0])))
      return Fail(thread, L"no proxied command");
    command = nullptr;
    create = nullptr;
    Disconnect(thread, session);
  }

  // A consumer in the multithreaded apartment that loads the library itself
  // gets its objects in its own apartment.
  static TComPtr<IDBInitialize> CreateInThisApartment() {
    using TDllGetClassObject = HRESULT(STDAPICALLTYPE*)(REFCLSID, REFIID, void**);
    static const auto getClassObject = reinterpret_cast<TDllGetClassObject>(reinterpret_cast<void*>(
        GetProcAddress(LoadLibraryW(WindowsPath(ZELLOGDB_DLL_PATH).c_str()), "DllGetClassObject")));
    TComPtr<IClassFactory> factory;
    TComPtr<IDBInitialize> dataSource;
    if (getClassObject && SUCCEEDED(getClassObject(CLSID_ZelLogDbProvider, IID_IClassFactory, factory.PutVoid())))
      factory->CreateInstance(nullptr, IID_IDBInitialize, dataSource.PutVoid());
    return dataSource;
  }

  void Disconnect(int thread, TSession& session) {
    session.Open = nullptr;
    if (const HRESULT hr = session.DataSource->Uninitialize(); hr != S_OK)
      Fail(thread, L"Uninitialize gave " + std::to_wstring(hr));
  }

  const TExpected& expected_;
  std::atomic<bool> stop_{false};
  std::atomic<long> rounds_{0};
  std::atomic<int> finished_{0};
  std::mutex failuresLock_;
  std::vector<std::wstring> failures_;
};
}  // namespace

TEST(Concurrency, EightConsumersReadWhatOneReadsAndGiveTheirMemoryBack) {
  TExpected expected;
  {
    TSession session = Connect(ExampleFolder());
    ASSERT_TRUE(session.Open);
    for (const wchar_t* table : Tables)
      for (TBindingKind kind : Kinds) {
        TOpened opened = OpenTable(session, table);
        ASSERT_EQ(S_OK, opened.Result);
        std::vector<TRowText>& rows = expected[{table, kind}];
        rows = TTableReader(opened.Rowset.Get(), kind).ReadAll(100);
        ASSERT_FALSE(rows.empty());
      }
  }
  TStress stress(expected);
  // The first run brings every heap and cache to its working size.
  const int seconds = StressSeconds();
  ASSERT_TRUE(stress.Run(std::max(2, seconds / 6))) << "the consumers stopped making progress";
  const SIZE_T level = PrivateBytes();
  const long warmRounds = stress.Rounds();
  if (!stress.Run(seconds - seconds / 6)) {
    ADD_FAILURE() << "the consumers stopped making progress";
    std::fflush(nullptr);
    TerminateProcess(GetCurrentProcess(), 3);
  }
  const SIZE_T after = PrivateBytes();
  for (const std::wstring& failure : stress.Failures()) ADD_FAILURE() << std::string(failure.begin(), failure.end());
  const long rounds = stress.Rounds() - warmRounds;
  EXPECT_GT(rounds, ThreadCount);
  // A leak of even a few bytes a round would show over thousands of rounds.
  EXPECT_LT(static_cast<double>(after), static_cast<double>(level) + 4.0 * 1024 * 1024)
      << "grew from " << level << " to " << after << " bytes over " << rounds << " rounds";
  std::printf("%ld rounds in %d s; private bytes %zu -> %zu\n", rounds, seconds - seconds / 6,
              static_cast<size_t>(level), static_cast<size_t>(after));
}
