#pragma once
// The class factory that publishes a provider's data source class, registers
// it as an OLE DB provider and creates the internal factories through which
// the toolkit creates sessions, rowsets, commands and schema rowsets.
//
//   static TOleDbDatasourceFactory factory(ComServer(), OleDbClassOf<TMyProvider>(), CLSID_MyProvider,
//                                          L"provider", L"My OLE DB Provider", TThreadingModel::Both);
#include <memory>
#include <vector>

#include "OLEDbBase.h"

// The schema rowset class every provider gets an internal factory for.
const TOleDbClass* SchemaRowsetClass();

// A plain factory for cls under a fresh GUID (CoCreateGuid; a failure
// raises), internal instancing, single threading model, the class name as
// class name and description; null for an empty class. The caller owns it.
std::unique_ptr<TComObjectFactory> RegisterInternalClass(TComServer& server, const TComClass* cls);

class TOleDbDatasourceFactory : public TComObjectFactory {
public:
  // Any threading model but single and apartment becomes apartment.
  TOleDbDatasourceFactory(TComServer& comServer, const TOleDbClass& comClass, const CLSID& classId,
                          std::wstring className, std::wstring description, TThreadingModel threadingModel);
  ~TOleDbDatasourceFactory() override;

  // The COM entries, then "OLE DB Provider" and OLEDB_SERVICES; removal in
  // the reverse order.
  void UpdateRegistry(bool doRegister) override;
  // Schema rowset, session, the session's rowset, command and (when it
  // differs) the command's rowset class; run by the constructor.
  void RegisterInternalClasses(TComServer& comServer);

  const std::vector<std::unique_ptr<TComObjectFactory>>& InternalFactories() const noexcept {
    return internalFactories_;
  }

protected:
  void AddInternalClass(TComServer& comServer, const TComClass* cls);

private:
  std::vector<std::unique_ptr<TComObjectFactory>> internalFactories_;
};
