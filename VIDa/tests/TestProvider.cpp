#include "TestProvider.h"

#include <oledberr.h>

#include <gtest/gtest.h>

#include <stdexcept>

// {6B0F4C1E-2D57-4A8B-B3C9-7E15A0D4F202}
const IID IID_TestSessionCreateCommand = {0x6b0f4c1e, 0x2d57, 0x4a8b, {0xb3, 0xc9, 0x7e, 0x15, 0xa0, 0xd4, 0xf2, 0x02}};

namespace {
const TOleDbOptionalInterface sessionOptionalInterfaces[] = {
    {&IID_IDBCreateCommand, &IID_TestSessionCreateCommand, 0x01},
};
}  // namespace

HRESULT TTestOuter::QueryInterface(REFIID riid, void** ppv) {
  if (!ppv) return E_POINTER;
  if (IsEqualGUID(riid, IID_IUnknown)) {
    *ppv = static_cast<IUnknown*>(this);
    AddRef();
    return S_OK;
  }
  if (inner_) return inner_->QueryInterface(riid, ppv);
  *ppv = nullptr;
  return E_NOINTERFACE;
}

ULONG TTestOuter::Release() {
  LONG count = InterlockedDecrement(&refCount_);
  if (count == 0) delete this;
  return static_cast<ULONG>(count);
}

TTestOuter::~TTestOuter() {
  if (inner_) inner_->Release();
}

HRESULT TTestSession::GetDataSource(REFIID riid, IUnknown** ppDataSource) {
  return Guard([&] {
    if (!ppDataSource) throw EOleDbException(E_INVALIDARG);
    *ppDataSource = nullptr;
    TOleDbDatasource* dataSource = FindDataSource();
    if (!dataSource) throw EOleDbException(E_FAIL);
    return dataSource->Controller()->QueryInterface(riid, reinterpret_cast<void**>(ppDataSource));
  });
}

HRESULT TTestSession::CreateCommand(IUnknown*, REFIID, IUnknown** ppCommand) {
  return Guard([&] {
    if (ppCommand) *ppCommand = nullptr;
    NotImplemented(L"TTestSession.CreateCommand");
  });
}

std::span<const TOleDbOptionalInterface> TTestSession::OptionalInterfaces() const noexcept {
  return sessionOptionalInterfaces;
}

void TTestDataSource::DoInitialize() {
  VARIANT value;
  VariantInit(&value);
  PropertySets().GetValue(DBPROPSET_DBINIT, DBPROP_INIT_DATASOURCE, value);
  std::wstring text = V_VT(&value) == VT_BSTR && V_BSTR(&value) ? V_BSTR(&value) : L"";
  VariantClear(&value);
  if (text == L"plain-error") throw std::runtime_error("Folder with log files cannot be found:\r\n'x'.");
  if (text == L"code-error") throw EOleDbException(DB_SEC_E_AUTH_FAILED);
  if (text == L"ole-error") OleDbError(DB_E_NOTABLE, L"No such table");
}

TOleDbDatasourceFactory& TestProviderFactory() {
  static TOleDbDatasourceFactory factory(ComServer(), OleDbClassOf<TTestDataSource>(), CLSID_TestProvider,
                                         L"testprovider", L"Test OLE DB Provider", TThreadingModel::Both);
  return factory;
}

HRESULT CreateTestProvider(IUnknown* outer, REFIID riid, void** object) {
  TestProviderFactory();
  TComPtr<IClassFactory> classFactory;
  HRESULT result = ComServer().GetClassObject(CLSID_TestProvider, IID_IClassFactory, classFactory.PutVoid());
  if (FAILED(result)) return result;
  return classFactory->CreateInstance(outer, riid, object);
}
