// The data source factory: internal factories for the related classes,
// threading model narrowing and the provider's registry entries.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "OLEDbFactory.h"
#include "TestProvider.h"

namespace {

class TRowsetA : public TOleDbBase {
public:
  static constexpr const wchar_t* ClassName = L"TRowsetA";
};
class TRowsetB : public TOleDbBase {
public:
  static constexpr const wchar_t* ClassName = L"TRowsetB";
};
class TCommandX : public TOleDbBase {
public:
  static constexpr const wchar_t* ClassName = L"TCommandX";
  struct TClass : TOleDbClass {
    const TOleDbClass* RowsetClass() const override { return &OleDbClassOf<TRowsetB>(); }
  };
};
class TCommandY : public TOleDbBase {
public:
  static constexpr const wchar_t* ClassName = L"TCommandY";
  struct TClass : TOleDbClass {
    const TOleDbClass* RowsetClass() const override { return &OleDbClassOf<TRowsetA>(); }
  };
};
template <class Command>
class TSessionWith : public TOleDbBase {
public:
  static constexpr const wchar_t* ClassName = L"TSessionWith";
  struct TClass : TOleDbClass {
    const TOleDbClass* RowsetClass() const override { return &OleDbClassOf<TRowsetA>(); }
    const TOleDbClass* CommandClass() const override { return &OleDbClassOf<Command>(); }
  };
};
template <class Session>
class TDataSourceWith : public TOleDbDatasource {
public:
  static constexpr const wchar_t* ClassName = L"TDataSourceWith";
  struct TClass : TOleDbClass {
    const TOleDbClass* SessionClass() const override { return &OleDbClassOf<Session>(); }
  };
};
class TOrphan : public TOleDbBase {
public:
  static constexpr const wchar_t* ClassName = L"TOrphan";
};

// {9A41C2E7-55D0-4B3A-8E61-2F7C0B9D4E01}
constexpr CLSID CLSID_FactoryTest = {0x9a41c2e7, 0x55d0, 0x4b3a, {0x8e, 0x61, 0x2f, 0x7c, 0x0b, 0x9d, 0x4e, 0x01}};
// {9A41C2E7-55D0-4B3A-8E61-2F7C0B9D4E02}
constexpr CLSID CLSID_RegistryTest = {0x9a41c2e7, 0x55d0, 0x4b3a, {0x8e, 0x61, 0x2f, 0x7c, 0x0b, 0x9d, 0x4e, 0x02}};

std::vector<std::wstring> InternalNames(const TOleDbDatasourceFactory& factory) {
  std::vector<std::wstring> names;
  for (const auto& internal : factory.InternalFactories()) names.push_back(internal->ClassName());
  return names;
}

TEST(DatasourceFactory, RegistersInternalClassesOfRelatedClasses) {
  using TDataSourceX = TDataSourceWith<TSessionWith<TCommandX>>;
  std::vector<CLSID> classIds;
  {
    TOleDbDatasourceFactory factory(ComServer(), OleDbClassOf<TDataSourceX>(), CLSID_FactoryTest, L"x", L"X",
                                    TThreadingModel::Both);
    EXPECT_EQ(InternalNames(factory),
              (std::vector<std::wstring>{L"TOleDbSchemaRowset", L"TSessionWith", L"TRowsetA", L"TCommandX", L"TRowsetB"}));
    for (const auto& internal : factory.InternalFactories()) {
      EXPECT_EQ(internal->Instancing(), TComInstancing::Internal);
      EXPECT_EQ(internal->ThreadingModel(), TThreadingModel::Single);
      EXPECT_EQ(internal->Description(), internal->ClassName());
      EXPECT_FALSE(IsEqualGUID(internal->ClassID(), GUID_NULL));
      for (const CLSID& other : classIds) EXPECT_FALSE(IsEqualGUID(internal->ClassID(), other));
      classIds.push_back(internal->ClassID());
    }
    EXPECT_EQ(factory.InternalFactories()[2]->GetProgID(), ComServer().ServerName() + L".TRowsetA");

    // The toolkit creates related objects through them, by class.
    TComPtr<IUnknown> rowset;
    CreateOleDbObject(OleDbClassOf<TRowsetB>(), nullptr, IID_IUnknown, rowset.PutVoid());
    ASSERT_TRUE(rowset);
    TComPtr<IOleDbClass> toolkit;
    ASSERT_EQ(rowset.As(toolkit, IID_IOleDbClass), S_OK);
    EXPECT_EQ(toolkit->GetObject()->ProgID(), ComServer().ServerName() + L".TRowsetB");
  }
  // They leave with the data source factory.
  EXPECT_EQ(ComClassManager().FindByClass(OleDbClassOf<TRowsetB>()), nullptr);

  using TDataSourceY = TDataSourceWith<TSessionWith<TCommandY>>;
  TOleDbDatasourceFactory same(ComServer(), OleDbClassOf<TDataSourceY>(), CLSID_FactoryTest, L"y", L"Y",
                               TThreadingModel::Apartment);
  EXPECT_EQ(InternalNames(same), (std::vector<std::wstring>{L"TOleDbSchemaRowset", L"TSessionWith", L"TRowsetA", L"TCommandY"}));

  // Empty related classes are skipped.
  EXPECT_EQ(InternalNames(TestProviderFactory()), (std::vector<std::wstring>{L"TOleDbSchemaRowset", L"TTestSession"}));
}

TEST(DatasourceFactory, MissingFactoryIsReportedByClassName) {
  void* object = nullptr;
  try {
    CreateOleDbObject(OleDbClassOf<TOrphan>(), nullptr, IID_IUnknown, &object);
    FAIL() << "created without a factory";
  } catch (const EOleError& e) {
    EXPECT_EQ(e.Message(), L"Object factory for class TOrphan missing");
  }
  EXPECT_EQ(object, nullptr);
}

TEST(DatasourceFactory, NarrowsThreadingModel) {
  for (TThreadingModel asked : {TThreadingModel::Single, TThreadingModel::Apartment, TThreadingModel::Free,
                                 TThreadingModel::Both, TThreadingModel::Neutral}) {
    TOleDbDatasourceFactory factory(ComServer(), OleDbClassOf<TTestDataSource>(), CLSID_FactoryTest, L"t", L"T",
                                    asked);
    EXPECT_EQ(factory.ThreadingModel(),
              asked == TThreadingModel::Single ? TThreadingModel::Single : TThreadingModel::Apartment);
  }
}

// ---------------------------------------------------------------------------
// Registry, in the test prefix's HKEY_CLASSES_ROOT.

bool KeyExists(const std::wstring& key) {
  HKEY handle = nullptr;
  if (RegOpenKeyExW(HKEY_CLASSES_ROOT, key.c_str(), 0, KEY_READ, &handle) != ERROR_SUCCESS) return false;
  RegCloseKey(handle);
  return true;
}

// The value's data, or "<missing>"; "<type>" when it is not REG_SZ.
std::wstring ReadString(const std::wstring& key, const wchar_t* name) {
  wchar_t data[1024];
  DWORD size = sizeof data, type = 0;
  if (RegGetValueW(HKEY_CLASSES_ROOT, key.c_str(), name, RRF_RT_ANY, &type, data, &size) != ERROR_SUCCESS)
    return L"<missing>";
  return type == REG_SZ ? std::wstring(data) : L"<type>";
}

class RegistryTest : public testing::Test {
protected:
  void TearDown() override {
    for (const wchar_t* suffix : {L"\\OLE DB Provider", L"\\ProgID", L"\\InprocServer32", L""})
      RegDeleteKeyW(HKEY_CLASSES_ROOT, (classKey + suffix).c_str());
    RegDeleteKeyW(HKEY_CLASSES_ROOT, (progId + L"\\Clsid").c_str());
    RegDeleteKeyW(HKEY_CLASSES_ROOT, progId.c_str());
  }
  const std::wstring classKey = L"CLSID\\" + GuidToString(CLSID_RegistryTest);
  const std::wstring progId = ComServer().ServerName() + L".regprovider";
};

TEST_F(RegistryTest, RegisterThenUnregisterLeavesNothing) {
  TOleDbDatasourceFactory factory(ComServer(), OleDbClassOf<TTestDataSource>(), CLSID_RegistryTest,
                                  L"regprovider", L"Registry Test Provider", TThreadingModel::Both);
  ASSERT_EQ(ComServer().UpdateRegistry(true), S_OK);

  EXPECT_EQ(ReadString(classKey, nullptr), L"Registry Test Provider");
  DWORD services = 0, size = sizeof services;
  EXPECT_EQ(RegGetValueW(HKEY_CLASSES_ROOT, classKey.c_str(), L"OLEDB_SERVICES", RRF_RT_REG_DWORD, nullptr,
                         &services, &size),
            ERROR_SUCCESS);
  EXPECT_EQ(services, 0xFFFFFFFFu);
  EXPECT_EQ(ReadString(classKey + L"\\InprocServer32", nullptr), ComServer().ModuleFileName());
  EXPECT_EQ(ReadString(classKey + L"\\InprocServer32", L"ThreadingModel"), L"Apartment");
  EXPECT_EQ(ReadString(classKey + L"\\ProgID", nullptr), progId);
  EXPECT_EQ(ReadString(progId, nullptr), L"Registry Test Provider");
  EXPECT_EQ(ReadString(progId + L"\\Clsid", nullptr), GuidToString(CLSID_RegistryTest));
  EXPECT_EQ(ReadString(classKey + L"\\OLE DB Provider", nullptr), L"Registry Test Provider");
  // Internal factories stay out of the registry.
  for (const auto& internal : factory.InternalFactories())
    EXPECT_FALSE(KeyExists(L"CLSID\\" + GuidToString(internal->ClassID())));

  ASSERT_EQ(ComServer().UpdateRegistry(false), S_OK);
  EXPECT_FALSE(KeyExists(classKey));
  EXPECT_FALSE(KeyExists(progId));
}

TEST_F(RegistryTest, SingleThreadedClassHasNoThreadingModel) {
  TOleDbDatasourceFactory factory(ComServer(), OleDbClassOf<TTestDataSource>(), CLSID_RegistryTest,
                                  L"regprovider", L"Registry Test Provider", TThreadingModel::Single);
  factory.UpdateRegistry(true);
  EXPECT_TRUE(KeyExists(classKey + L"\\InprocServer32"));
  EXPECT_EQ(ReadString(classKey + L"\\InprocServer32", L"ThreadingModel"), L"<missing>");
  factory.UpdateRegistry(false);
  EXPECT_FALSE(KeyExists(classKey));
}

}  // namespace
