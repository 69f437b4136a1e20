#include "ComErrorInfo.h"

#include <oaidl.h>

#include "ComPtr.h"

void ComSetErrorInfo(REFGUID guid, const std::wstring& source, const std::wstring& description,
                     const std::wstring& helpFile, DWORD helpContext) noexcept {
  TComPtr<ICreateErrorInfo> create;
  if (FAILED(CreateErrorInfo(create.Put())) || !create) return;
  create->SetGUID(guid);
  if (!source.empty()) create->SetSource(const_cast<LPOLESTR>(source.c_str()));
  if (!helpFile.empty()) create->SetHelpFile(const_cast<LPOLESTR>(helpFile.c_str()));
  create->SetDescription(const_cast<LPOLESTR>(description.c_str()));
  create->SetHelpContext(helpContext);
  TComPtr<IErrorInfo> info;
  if (SUCCEEDED(create.As(info, IID_IErrorInfo))) SetErrorInfo(0, info.Get());
}
