#pragma once
// What the toolkit's and a provider's tests do as consumers: taking the error
// object a failed call left and pointing a data source at its data.
#include <windows.h>
#include <oledb.h>

#include <string>

// The calling thread's error object, taken (and so cleared).
struct TTestErrorInfo {
  bool Present = false;
  std::wstring Description, Source;
  GUID Guid = GUID_NULL;
};
TTestErrorInfo TakeErrorInfo();

// Text value of a DBPROP_INIT_DATASOURCE SetProperties call.
HRESULT SetInitDataSource(IUnknown* dataSource, const std::wstring& value);
