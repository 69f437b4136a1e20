#include "OLEDbFactory.h"

#include "OLEDbSchemaRowset.h"

namespace {
TThreadingModel NarrowedThreadingModel(TThreadingModel model) {
  return model == TThreadingModel::Single ? TThreadingModel::Single : TThreadingModel::Apartment;
}
}  // namespace

const TOleDbClass* SchemaRowsetClass() { return &OleDbClassOf<TOleDbSchemaRowset>(); }

std::unique_ptr<TComObjectFactory> RegisterInternalClass(TComServer& server, const TComClass* cls) {
  if (!cls) return nullptr;
  GUID classId;
  OleDbCheck(CoCreateGuid(&classId));
  return std::make_unique<TComObjectFactory>(server, *cls, classId, cls->Name, cls->Name, TComInstancing::Internal,
                                             TThreadingModel::Single);
}

TOleDbDatasourceFactory::TOleDbDatasourceFactory(TComServer& comServer, const TOleDbClass& comClass,
                                                 const CLSID& classId, std::wstring className,
                                                 std::wstring description, TThreadingModel threadingModel)
    : TComObjectFactory(comServer, comClass, classId, std::move(className), std::move(description),
                        TComInstancing::MultiInstance, NarrowedThreadingModel(threadingModel)) {
  RegisterInternalClasses(comServer);
}

TOleDbDatasourceFactory::~TOleDbDatasourceFactory() = default;

void TOleDbDatasourceFactory::AddInternalClass(TComServer& comServer, const TComClass* cls) {
  if (auto factory = RegisterInternalClass(comServer, cls)) internalFactories_.push_back(std::move(factory));
}

void TOleDbDatasourceFactory::RegisterInternalClasses(TComServer& comServer) {
  AddInternalClass(comServer, SchemaRowsetClass());
  const auto& dataSourceClass = static_cast<const TOleDbClass&>(ComClass());
  const TOleDbClass* sessionClass = dataSourceClass.GetSessionClass();
  const TOleDbClass* commandClass = sessionClass ? sessionClass->GetCommmandClass() : nullptr;
  const TOleDbClass* rowsetClass = sessionClass ? sessionClass->GetRowsetClass() : nullptr;
  AddInternalClass(comServer, sessionClass);
  AddInternalClass(comServer, rowsetClass);
  AddInternalClass(comServer, commandClass);
  if (commandClass && commandClass->GetRowsetClass() != rowsetClass)
    AddInternalClass(comServer, commandClass->GetRowsetClass());
}

void TOleDbDatasourceFactory::UpdateRegistry(bool doRegister) {
  const std::wstring classKey = L"CLSID\\" + GuidToString(ClassID());
  if (doRegister) {
    TComObjectFactory::UpdateRegistry(true);
    ComRegisterValue(classKey + L"\\OLE DB Provider", L"", Description());
    ComRegisterDWord(classKey, L"OLEDB_SERVICES", 0xFFFFFFFF);
  } else {
    ComDeleteRegKey(classKey + L"\\OLE DB Provider");
    TComObjectFactory::UpdateRegistry(false);
  }
}
