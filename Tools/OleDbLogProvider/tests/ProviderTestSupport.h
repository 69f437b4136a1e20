#pragma once
// The consumer's side of the provider tests: creating the provider, opening
// tables and reading rows through the published interfaces only.
#include <windows.h>
#include <oledb.h>

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "ComObj.h"
#include "ComPtr.h"
#include "ConsumerTestSupport.h"

// A path of the build machine as wine's Windows programs name it.
std::wstring WindowsPath(const std::string& unixPath);

// A fresh folder below the test's working directory, removed with the object.
class TTempFolder {
public:
  explicit TTempFolder(const std::wstring& name);
  ~TTempFolder();
  TTempFolder(const TTempFolder&) = delete;
  TTempFolder& operator=(const TTempFolder&) = delete;

  const std::filesystem::path& Path() const noexcept { return path_; }
  std::wstring Name() const { return path_.wstring(); }
  // Writes bytes as the file name in the folder.
  void Write(const std::wstring& name, const std::string& bytes) const;

private:
  std::filesystem::path path_;
};

// A data source initialised on folder and a session of it; the data source
// is created by CLSID unless one is given.
struct TSession {
  TComPtr<IDBInitialize> DataSource;
  TComPtr<IOpenRowset> Open;
};
TSession Connect(const std::wstring& folder, TComPtr<IDBInitialize> dataSource = {});

// What opening a table left: the result, the error object and the rowset.
struct TOpened {
  HRESULT Result = S_OK;
  TTestErrorInfo Error;
  TComPtr<IRowset> Rowset;
};
TOpened OpenTable(const TSession& session, const std::wstring& table);
// A command of the session executed with text.
TOpened Execute(const TSession& session, const std::wstring& text);

// The column names object's IColumnsInfo gives (a command's before Execute,
// or a rowset's); the call's result in result when asked for.
std::vector<std::wstring> ColumnNames(IUnknown* object, HRESULT* result = nullptr);

// A property as a consumer sets it: VT_BOOL when type is VT_BOOL, else VT_I4.
DBPROP MakeProperty(DBPROPID id, VARTYPE type, LONG value, DBPROPOPTIONS options = DBPROPOPTIONS_REQUIRED);

// A short current-format log with the given data lines.
std::string LogText(const std::vector<std::string>& dataLines);

// How a test reads every column of a row.
enum class TBindingKind { Native, WideText, Variant, Stream };

// One row as text, one entry per column, in a form each binding kind gives
// the same way for the same value; a column that failed carries "!" and its
// status.
using TRowText = std::vector<std::wstring>;

class TTableReader {
public:
  TTableReader(IRowset* rowset, TBindingKind kind);
  ~TTableReader();

  // Fetches up to batch rows per GetNextRows call to the end and reads every
  // held row after each call.
  std::vector<TRowText> ReadAll(DBROWCOUNT batch);
  // One GetNextRows call; the handles stay held until ReleaseHeld.
  HRESULT Fetch(DBROWCOUNT count, std::vector<HROW>& rows);
  // GetData of one row into its text; the call's result in result.
  TRowText Read(HROW row, HRESULT& result);
  void Release(const std::vector<HROW>& rows);

private:
  TComPtr<IRowset> rowset_;
  TComPtr<IAccessor> accessor_;
  HACCESSOR handle_ = 0;
  TBindingKind kind_;
  std::vector<DBBINDING> bindings_;
  std::vector<DBTYPE> columnTypes_;
  std::vector<BYTE> buffer_;
};

// The text the tests expect of a column value read with a native binding.
std::wstring BoolText(bool value);
std::wstring DateText(double value);
