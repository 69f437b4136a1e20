#pragma once
// What the toolkit's and a provider's tests do as consumers: COM on the main
// thread, taking the error object a failed call left, pointing a data source
// at its data, creating sessions and commands, and accounting for every block
// of task memory a test was handed.
#include <windows.h>
#include <oledb.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "ComPtr.h"

// The calling thread's error object, taken (and so cleared).
struct TTestErrorInfo {
  bool Present = false;
  std::wstring Description, Source;
  GUID Guid = GUID_NULL;
};
TTestErrorInfo TakeErrorInfo();

// Text value of a DBPROP_INIT_DATASOURCE SetProperties call.
HRESULT SetInitDataSource(IUnknown* dataSource, const std::wstring& value);

// A session of a data source, asked for riid, aggregated by outer when given.
template <class I>
HRESULT CreateSessionOf(IUnknown* dataSource, TComPtr<I>& session, REFIID riid, IUnknown* outer = nullptr) {
  TComPtr<IDBCreateSession> create;
  const HRESULT result = dataSource->QueryInterface(IID_IDBCreateSession, create.PutVoid());
  if (FAILED(result)) return result;
  return create->CreateSession(outer, riid, reinterpret_cast<IUnknown**>(session.PutVoid()));
}

// A command of a session, with text set unless it is null.
HRESULT CreateCommandOf(IUnknown* session, TComPtr<ICommandText>& command, const wchar_t* text = nullptr);

// One row of a case table: a command text and what is expected of it.
struct TTextCase {
  const wchar_t* Text;
  const wchar_t* Expected;
};

// The process's malloc spy. Every test program that links the test support
// runs each test under it, with the BSTR cache off, and fails a test that
// ends with task memory it allocated still unfreed. It also makes a chosen
// task allocation fail, counting only allocations whose call stack passes
// through one module.
class TTaskMemorySpy {
public:
  struct TBlock {
    void* Address = nullptr;
    std::size_t Size = 0;
    std::uint64_t Serial = 0;
    std::string Caller;  // the call stack's frames as module+offset
  };

  static TTaskMemorySpy& Instance();
  // Registers the spy (once) after the platform's caches are settled.
  void Start();

  // Serial of the next allocation; the blocks from serial on still unfreed
  // (only those the given thread allocated, unless thread is 0).
  std::uint64_t Mark() const;
  std::vector<TBlock> Unfreed(std::uint64_t since, DWORD thread = 0) const;

  // Counts allocations made through [begin, end) from now on and fails the
  // failAt-th of them (1-based; 0 fails none).
  void InjectFailure(const void* begin, const void* end, std::uint64_t failAt);
  void StopInjecting();
  std::uint64_t CountedAllocations() const;
  bool Injected() const;
  // The call stack of the allocation that was made to fail.
  std::string InjectedAt() const;
  static std::string StackText(void* const* frames, unsigned count);

  // The running test's unfreed blocks are printed, not failed: for a
  // platform component known to keep a reference it should have released.
  void ExcuseTest(const char* why);

private:
  TTaskMemorySpy() = default;
};

// Settles what the platform's components allocate once and keep (conversion
// library, service components, error objects, OLE Automation), so that the
// first test is counted like every other.
void WarmUpPlatform();
