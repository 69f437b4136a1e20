#pragma once
// What the allocation-failure sweep and the consumer fuzzer share: the test
// build of the DLL loaded by path and created through its class factory, a
// sandbox folder of logs, and reading any rowset the way a consumer does.
#include <windows.h>
#include <oledb.h>

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "ComPtr.h"
#include "ConsumerTestSupport.h"
#include "HeapHook.h"

class TProviderModule {
public:
  explicit TProviderModule(const std::wstring& path);
  ~TProviderModule();
  TProviderModule(const TProviderModule&) = delete;
  TProviderModule& operator=(const TProviderModule&) = delete;

  // A new, uninitialised data source; the factory's result in result.
  TComPtr<IDBInitialize> Create(HRESULT& result) const;
  const void* Begin() const { return module_; }
  const void* End() const { return end_; }
  TZelLogHeapHook& Heap() const { return *heap_; }

private:
  HMODULE module_ = nullptr;
  const void* end_ = nullptr;
  TComPtr<IClassFactory> factory_;
  TZelLogHeapHook* heap_ = nullptr;
};

// A folder the run creates below the working directory, with one log of
// rows data lines named Table, removed with the object. Creating one clears
// the folders of earlier runs that ended without removing theirs.
class TSandbox {
public:
  TSandbox(const std::wstring& name, int rows);
  ~TSandbox();
  TSandbox(const TSandbox&) = delete;
  TSandbox& operator=(const TSandbox&) = delete;
  std::wstring Folder() const { return path_.wstring(); }
  // Removes the folder now; why it could not be otherwise. Once every object
  // is released, a file that stays open is one the provider leaked.
  std::string Remove();
  static constexpr const wchar_t* Table = L"mail1-20100401.log";

private:
  std::filesystem::path path_;
};

// The kinds of binding a consumer reads a row with.
enum class TBindKind { Native, WideText, Bstr, Variant, ByRef, Stream, Count };

// An accessor over every column of a rowset in one binding kind, and the
// text of a row read through it (a per-column status where one failed).
class TRowReader {
public:
  TRowReader(IRowset* rowset, TBindKind kind);
  ~TRowReader();
  TRowReader(const TRowReader&) = delete;
  TRowReader& operator=(const TRowReader&) = delete;

  HRESULT Created() const { return created_; }
  HACCESSOR Handle() const { return handle_; }
  // GetData of row; hr and the row's text, every value the reader was given freed.
  std::string Read(HROW row, HRESULT& hr);

private:
  TComPtr<IRowset> rowset_;
  TComPtr<IAccessor> accessor_;
  HACCESSOR handle_ = 0;
  HRESULT created_ = E_FAIL;
  std::vector<DBBINDING> bindings_;
  std::vector<BYTE> buffer_;
};

// Every row of a rowset read with one binding kind, batch rows per fetch.
std::string ReadAllRows(IUnknown* rowset, TBindKind kind, DBROWCOUNT batch);

std::string HResultText(HRESULT hr);
