#include "ConsumerTestSupport.h"

#include "ComPtr.h"

TTestErrorInfo TakeErrorInfo() {
  TTestErrorInfo result;
  TComPtr<IErrorInfo> info;
  if (GetErrorInfo(0, info.Put()) != S_OK || !info) return result;
  result.Present = true;
  BSTR text = nullptr;
  if (SUCCEEDED(info->GetDescription(&text)) && text) result.Description = text;
  SysFreeString(text);
  text = nullptr;
  if (SUCCEEDED(info->GetSource(&text)) && text) result.Source = text;
  SysFreeString(text);
  info->GetGUID(&result.Guid);
  return result;
}

HRESULT SetInitDataSource(IUnknown* dataSource, const std::wstring& value) {
  TComPtr<IDBProperties> properties;
  HRESULT result = dataSource->QueryInterface(IID_IDBProperties, properties.PutVoid());
  if (FAILED(result)) return result;
  DBPROP prop{};
  prop.dwPropertyID = DBPROP_INIT_DATASOURCE;
  prop.dwOptions = DBPROPOPTIONS_REQUIRED;
  prop.colid = DB_NULLID;
  V_VT(&prop.vValue) = VT_BSTR;
  V_BSTR(&prop.vValue) = SysAllocString(value.c_str());
  DBPROPSET set{&prop, 1, DBPROPSET_DBINIT};
  result = properties->SetProperties(1, &set);
  VariantClear(&prop.vValue);
  return result;
}
