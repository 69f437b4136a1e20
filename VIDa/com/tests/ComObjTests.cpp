// The COM runtime layer seen from a consumer: reference counting, identity,
// aggregation, the factory's creation rules, server counts and the guard.
#include <gtest/gtest.h>

#include <oledberr.h>

#include <new>
#include <stdexcept>
#include <string>
#include <vector>

#include "ComObj.h"
#include "Diagnostics.h"
#include "OLEDbBase.h"
#include "TestProvider.h"

namespace {

// {3E9D7A55-0B1C-4E2F-8A6D-5C4B3A291801}
constexpr CLSID CLSID_TestPersist = {0x3e9d7a55, 0x0b1c, 0x4e2f, {0x8a, 0x6d, 0x5c, 0x4b, 0x3a, 0x29, 0x18, 0x01}};
// {3E9D7A55-0B1C-4E2F-8A6D-5C4B3A291802}
constexpr CLSID CLSID_TestBroken = {0x3e9d7a55, 0x0b1c, 0x4e2f, {0x8a, 0x6d, 0x5c, 0x4b, 0x3a, 0x29, 0x18, 0x02}};

class TPersistObject : public TComImpl<TComObject, IPersist> {
public:
  static constexpr const wchar_t* ClassName = L"TPersistObject";
  TPersistObject() { ++Alive; }
  ~TPersistObject() override { --Alive; }
  HRESULT STDMETHODCALLTYPE GetClassID(CLSID* id) override {
    *id = CLSID_TestPersist;
    return S_OK;
  }
  static inline int Alive = 0;
};

class TBrokenObject : public TComImpl<TComObject, IPersist> {
public:
  static constexpr const wchar_t* ClassName = L"TBrokenObject";
  void InitializeObject() override { throw std::runtime_error(Message); }
  HRESULT STDMETHODCALLTYPE GetClassID(CLSID*) override { return E_FAIL; }
  static inline std::string Message;
};

// Construction raises whatever Raise does.
class TRaisingObject : public TComImpl<TComObject, IPersist> {
public:
  static constexpr const wchar_t* ClassName = L"TRaisingObject";
  void InitializeObject() override { Raise(); }
  HRESULT STDMETHODCALLTYPE GetClassID(CLSID*) override { return E_FAIL; }
  static inline void (*Raise)() = nullptr;
};

class ComObjTest : public testing::Test {
protected:
  void SetUp() override { SetErrorInfo(0, nullptr); }
  TComObjectFactory persistFactory{ComServer(),          ComClassOf<TPersistObject>(), CLSID_TestPersist,
                                   L"persist",            L"Persist test object",       TComInstancing::MultiInstance,
                                   TThreadingModel::Apartment};
};

TEST_F(ComObjTest, ReferenceCountingAndIdentity) {
  LONG objectsBefore = ComServer().ObjectCount();
  TComPtr<TPersistObject> object = MakeComObject<TPersistObject>();
  EXPECT_EQ(ComServer().ObjectCount(), objectsBefore + 1);
  EXPECT_EQ(object->RefCount(), 1);

  TComPtr<IPersist> persist;
  ASSERT_EQ(object.As(persist, IID_IPersist), S_OK);
  EXPECT_EQ(object->RefCount(), 2);
  TComPtr<IUnknown> unknownA, unknownB;
  ASSERT_EQ(persist.As(unknownA, IID_IUnknown), S_OK);
  TComPtr<ISupportErrorInfo> support;
  ASSERT_EQ(persist.As(support, IID_ISupportErrorInfo), S_OK);
  ASSERT_EQ(support.As(unknownB, IID_IUnknown), S_OK);
  EXPECT_EQ(unknownA.Get(), unknownB.Get());

  void* none = reinterpret_cast<void*>(1);
  EXPECT_EQ(persist->QueryInterface(IID_IRowset, &none), E_NOINTERFACE);
  EXPECT_EQ(none, nullptr);
  EXPECT_EQ(persist->QueryInterface(IID_IRowset, nullptr), E_POINTER);

  EXPECT_EQ(support->InterfaceSupportsErrorInfo(IID_IPersist), S_OK);
  EXPECT_EQ(support->InterfaceSupportsErrorInfo(IID_IRowset), S_FALSE);

  persist = nullptr;
  unknownA = nullptr;
  unknownB = nullptr;
  support = nullptr;
  EXPECT_EQ(TPersistObject::Alive, 1);
  object = nullptr;
  EXPECT_EQ(TPersistObject::Alive, 0);
  EXPECT_EQ(ComServer().ObjectCount(), objectsBefore);
}

TEST_F(ComObjTest, FactoryCreationRules) {
  EXPECT_EQ(persistFactory.CreateInstance(nullptr, IID_IPersist, nullptr), E_POINTER);

  TTestOuter* outer = new TTestOuter;
  void* object = reinterpret_cast<void*>(1);
  EXPECT_EQ(persistFactory.CreateInstance(outer, IID_IPersist, &object), CLASS_E_NOAGGREGATION);
  EXPECT_EQ(object, nullptr);
  outer->Release();

  // A refused interface destroys the unreferenced object again.
  object = reinterpret_cast<void*>(1);
  EXPECT_EQ(persistFactory.CreateInstance(nullptr, IID_IRowset, &object), E_NOINTERFACE);
  EXPECT_EQ(object, nullptr);
  EXPECT_EQ(TPersistObject::Alive, 0);

  TComPtr<IPersist> persist;
  ASSERT_EQ(persistFactory.CreateInstance(nullptr, IID_IPersist, persist.PutVoid()), S_OK);
  auto* created = static_cast<TPersistObject*>(persist.Get());
  EXPECT_EQ(created->RefCount(), 1);
  EXPECT_EQ(created->Factory(), &persistFactory);
  EXPECT_EQ(created->ProgID(), ComServer().ServerName() + L".persist");
}

TEST_F(ComObjTest, AggregatedObjectDelegatesToItsOuter) {
  TTestOuter* outer = new TTestOuter;
  IUnknown* inner = nullptr;
  ASSERT_EQ(persistFactory.CreateInstance(outer, IID_IUnknown, reinterpret_cast<void**>(&inner)), S_OK);
  outer->SetInner(inner);
  TPersistObject* object = nullptr;
  {
    // The outer hands out the inner's interfaces; their counts are the outer's.
    TComPtr<IPersist> persist;
    ASSERT_EQ(outer->QueryInterface(IID_IPersist, persist.PutVoid()), S_OK);
    object = static_cast<TPersistObject*>(persist.Get());
    EXPECT_EQ(object->RefCount(), 1);
    EXPECT_EQ(outer->RefCount(), 2);
    persist->AddRef();
    EXPECT_EQ(outer->RefCount(), 3);
    persist->Release();
    EXPECT_EQ(object->RefCount(), 1);

    // Identity through any inner interface is the outer's.
    TComPtr<IUnknown> identity;
    ASSERT_EQ(persist.As(identity, IID_IUnknown), S_OK);
    EXPECT_EQ(identity.Get(), static_cast<IUnknown*>(outer));
    EXPECT_EQ(object->Controller(), static_cast<IUnknown*>(outer));
    EXPECT_EQ(object->Outer(), static_cast<IUnknown*>(outer));
  }
  EXPECT_EQ(outer->RefCount(), 1);
  EXPECT_EQ(TPersistObject::Alive, 1);
  outer->Release();
  EXPECT_EQ(TPersistObject::Alive, 0);
}

TEST_F(ComObjTest, ServerCountsAndClassLookup) {
  // Objects of other suites may still be alive: the unload answer is only
  // checked from a clean start, the counts always.
  const bool clean = ComServer().CanUnloadNow() == S_OK;
  const LONG factoryRefs = ComServer().FactoryRefCount(), locks = ComServer().LockCount();

  TComPtr<IClassFactory> factory;
  ASSERT_EQ(ComServer().GetClassObject(CLSID_TestPersist, IID_IClassFactory, factory.PutVoid()), S_OK);
  EXPECT_EQ(factory.Get(), static_cast<IClassFactory*>(&persistFactory));
  EXPECT_EQ(ComServer().FactoryRefCount(), factoryRefs + 1);
  EXPECT_EQ(ComServer().CanUnloadNow(), S_FALSE);
  factory = nullptr;
  EXPECT_EQ(ComServer().FactoryRefCount(), factoryRefs);
  if (clean) {
    EXPECT_EQ(ComServer().CanUnloadNow(), S_OK);
  }

  persistFactory.LockServer(TRUE);
  EXPECT_EQ(ComServer().LockCount(), locks + 1);
  EXPECT_EQ(ComServer().CanUnloadNow(), S_FALSE);
  persistFactory.LockServer(FALSE);
  EXPECT_EQ(ComServer().LockCount(), locks);
  {
    TComPtr<TPersistObject> object = MakeComObject<TPersistObject>();
    EXPECT_EQ(ComServer().CanUnloadNow(), S_FALSE);
  }
  if (clean) {
    EXPECT_EQ(ComServer().CanUnloadNow(), S_OK);
  }

  void* object = reinterpret_cast<void*>(1);
  EXPECT_EQ(ComServer().GetClassObject(CLSID_TestBroken, IID_IClassFactory, &object), CLASS_E_CLASSNOTAVAILABLE);
  EXPECT_EQ(object, nullptr);

  // Internal factories are found by class, never by class ID.
  TComObjectFactory internal(ComServer(), ComClassOf<TBrokenObject>(), CLSID_TestBroken, L"TBrokenObject",
                             L"TBrokenObject", TComInstancing::Internal, TThreadingModel::Single);
  EXPECT_EQ(ComServer().GetClassObject(CLSID_TestBroken, IID_IClassFactory, &object), CLASS_E_CLASSNOTAVAILABLE);
  EXPECT_EQ(ComClassManager().FindByClass(ComClassOf<TBrokenObject>()), &internal);
}

TEST_F(ComObjTest, ConstructionFailureReportsWithoutDialog) {
  TComObjectFactory broken(ComServer(), ComClassOf<TBrokenObject>(), CLSID_TestBroken, L"broken", L"Broken",
                           TComInstancing::MultiInstance, TThreadingModel::Apartment);
  std::vector<std::string> lines;
  TDebugSink previous = SetDebugSink([&](std::string_view line) { lines.emplace_back(line); });
  LONG objectsBefore = ComServer().ObjectCount();

  struct TCase {
    const char* message;
    const wchar_t* reported;
  } cases[] = {{"Broken construction", L"Broken construction."},
               {"Already ends.", L"Already ends."},
               {"Ends with a bang!", L"Ends with a bang!"}};
  for (const TCase& c : cases) {
    TBrokenObject::Message = c.message;
    lines.clear();
    void* object = reinterpret_cast<void*>(1);
    EXPECT_EQ(broken.CreateInstance(nullptr, IID_IPersist, &object), E_UNEXPECTED);
    EXPECT_EQ(object, nullptr);
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0], "VIZ Error: " + Utf8FromWide(c.reported));
    TTestErrorInfo error = TakeErrorInfo();
    EXPECT_TRUE(error.Present);
    EXPECT_EQ(error.Description, c.reported);
    EXPECT_EQ(error.Source, ComServer().ServerName() + L".broken");
  }
  SetDebugSink(previous);
  EXPECT_EQ(ComServer().ObjectCount(), objectsBefore);
}

TEST_F(ComObjTest, ConstructionFailureKeepsTheRaisedCode) {
  TComObjectFactory raising(ComServer(), ComClassOf<TRaisingObject>(), CLSID_TestBroken, L"raising", L"Raising",
                            TComInstancing::MultiInstance, TThreadingModel::Apartment);
  std::vector<std::string> lines;
  TDebugSink previous = SetDebugSink([&](std::string_view line) { lines.emplace_back(line); });
  void* object = nullptr;

  TRaisingObject::Raise = [] { throw EOleDbException(DB_SEC_E_PERMISSIONDENIED); };
  EXPECT_EQ(raising.CreateInstance(nullptr, IID_IPersist, &object), DB_SEC_E_PERMISSIONDENIED);
  EXPECT_TRUE(lines.empty());
  EXPECT_FALSE(TakeErrorInfo().Present);

  TRaisingObject::Raise = [] { throw EOleError(L"No such table", DB_E_NOTABLE); };
  EXPECT_EQ(raising.CreateInstance(nullptr, IID_IPersist, &object), DB_E_NOTABLE);
  EXPECT_EQ(lines, std::vector<std::string>{"VIZ Error: No such table."});
  EXPECT_EQ(TakeErrorInfo().Description, L"No such table.");

  TRaisingObject::Raise = [] { throw EOleError(L"Only a warning", DB_S_ERRORSOCCURRED); };
  EXPECT_EQ(raising.CreateInstance(nullptr, IID_IPersist, &object), E_UNEXPECTED);
  TRaisingObject::Raise = [] { throw std::bad_alloc(); };
  EXPECT_EQ(raising.CreateInstance(nullptr, IID_IPersist, &object), E_OUTOFMEMORY);
  EXPECT_EQ(object, nullptr);
  SetDebugSink(previous);
}

TEST_F(ComObjTest, GuardConvertsEveryException) {
  TComPtr<IPersist> persist;
  ASSERT_EQ(persistFactory.CreateInstance(nullptr, IID_IPersist, persist.PutVoid()), S_OK);
  const TComObject& self = *static_cast<TPersistObject*>(persist.Get());
  const std::wstring progId = ComServer().ServerName() + L".persist";

  EXPECT_EQ(OleDbGuard(self, [] {}), S_OK);
  EXPECT_EQ(OleDbGuard(self, [] { return S_FALSE; }), S_FALSE);

  // Bare codes, warnings included, leave no error object and keep an old one.
  ComSetErrorInfo(IID_IUnknown, L"earlier", L"earlier error");
  EXPECT_EQ(OleDbGuard(self, [] { throw EOleDbException(DB_E_BADACCESSORHANDLE); }), DB_E_BADACCESSORHANDLE);
  EXPECT_EQ(OleDbGuard(self, [] { OleDbError(DB_S_ERRORSOCCURRED); }), DB_S_ERRORSOCCURRED);
  EXPECT_EQ(TakeErrorInfo().Description, L"earlier error");

  EXPECT_EQ(OleDbGuard(self, [] { OleDbError(DB_E_NOTABLE, L"No such table"); }), DB_E_NOTABLE);
  TTestErrorInfo error = TakeErrorInfo();
  EXPECT_TRUE(error.Present);
  EXPECT_EQ(error.Description, L"No such table");
  EXPECT_EQ(error.Source, progId);
  EXPECT_TRUE(IsEqualGUID(error.Guid, IID_IUnknown));

  EXPECT_EQ(OleDbGuard(self, [] { NotImplemented(L"TOleDbCommand.PrepareCommand"); }), E_FAIL);
  EXPECT_EQ(TakeErrorInfo().Description, L"This operation is not implemented.\rTOleDbCommand.PrepareCommand");

  // A message exception that is no failure code still fails.
  EXPECT_EQ(OleDbGuard(self, [] { OleDbError(S_FALSE, L"odd warning"); }), E_UNEXPECTED);
  EXPECT_EQ(TakeErrorInfo().Description, L"odd warning");

  EXPECT_EQ(OleDbGuard(self, [] { throw std::runtime_error("Gr\xC3\xB6\xC3\x9F" "e fehlt"); }), E_UNEXPECTED);
  error = TakeErrorInfo();
  EXPECT_EQ(error.Description, L"Gr\u00F6\u00DFe fehlt");
  EXPECT_EQ(error.Source, progId);

  EXPECT_EQ(OleDbGuard(self, [] { throw 42; }), E_UNEXPECTED);
  EXPECT_TRUE(TakeErrorInfo().Present);

  EXPECT_EQ(OleDbGuard(self, [] { throw std::bad_alloc(); }), E_OUTOFMEMORY);
  EXPECT_FALSE(TakeErrorInfo().Present);
}

}  // namespace
