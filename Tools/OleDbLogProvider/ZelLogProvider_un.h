#pragma once
// The library's front door: the provider's data source class, its published
// class factory and identity.
#include <windows.h>

#include <stdexcept>
#include <string>

#include "OLEDbDatasource.h"
#include "OLEDbFactory.h"

// The provider's identity towards consumers; stored configurations name it.
// {55EC7CF0-F505-4435-959F-3EDF8409519C}
inline constexpr CLSID CLSID_ZelLogDbProvider = {
    0x55ec7cf0, 0xf505, 0x4435, {0x95, 0x9f, 0x3e, 0xdf, 0x84, 0x09, 0x51, 0x9c}};
inline constexpr const wchar_t* ZelLogDbProviderDescription = L"Tarnvel OLE DB Provider for ZEL Log Files";

// A plain error with a message: the consumer gets E_UNEXPECTED and the
// message in the error object.
class EZelLogDbProviderError : public std::runtime_error {
public:
  using std::runtime_error::runtime_error;
};

class TZelLogDbProvider : public TOleDbDatasource {
public:
  static constexpr const wchar_t* ClassName = L"TZelLogDbProvider";
  struct TClass : TOleDbClass {
    const TOleDbClass* SessionClass() const override;
  };

  // Refuses a folder that does not exist.
  void DoInitialize() override;

  // The folder of log files of the data source above object, ending with a
  // path delimiter: derived once, when the data source is initialised.
  static std::wstring FolderOf(const TOleDbBase& object);

private:
  std::wstring folderPrefix_;
};

// The published factory, created on first use.
TOleDbDatasourceFactory& ZelLogDbFactory();
