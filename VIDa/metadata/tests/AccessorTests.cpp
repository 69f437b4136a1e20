#include <gtest/gtest.h>

#include <oledberr.h>

#include <string>
#include <vector>

#include "Diagnostics.h"
#include "OLEDbDataConvert.h"
#include "TestRowset.h"

namespace {
DBBINDING ValueBinding(DBORDINAL ordinal, DBTYPE type, DBBYTEOFFSET offset = 0) {
  DBBINDING binding{};
  binding.iOrdinal = ordinal;
  binding.obValue = offset;
  binding.dwPart = DBPART_VALUE;
  binding.cbMaxLen = 64;
  binding.wType = type;
  return binding;
}

// A consumer's copy of the bindings, freed by the consumer rules.
struct TConsumerBindings {
  DBACCESSORFLAGS Flags = 0;
  DBCOUNTITEM Count = 99;
  DBBINDING* Bindings = reinterpret_cast<DBBINDING*>(1);
  HRESULT Result;

  TConsumerBindings(IAccessor* accessor, HACCESSOR handle)
      : Result(accessor->GetBindings(handle, &Flags, &Count, &Bindings)) {}
  ~TConsumerBindings() {
    if (Result != S_OK) return;
    for (DBCOUNTITEM i = 0; i < Count; ++i) CoTaskMemFree(Bindings[i].pObject);
    CoTaskMemFree(Bindings);
  }
};

class Accessor : public ::testing::Test {
protected:
  void SetUp() override {
    ASSERT_TRUE(SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)));
    MakeRowset({});
  }
  void TearDown() override {
    accessor = nullptr;
    rowset = nullptr;
    CoUninitialize();
  }

  void MakeRowset(TTestRowset::TOptions options) {
    rowset = MakeTestRowset(options);
    accessor = ConsumerInterface<IAccessor>(rowset);
    TOleDbColumns& columns = rowset->Columns();
    columns.AddColumn(L"Server", DBTYPE_WSTR, 200);
    columns.AddColumn(L"Severity", DBTYPE_I4, 0);
    columns.AddColumn(L"MessageID", DBTYPE_GUID, 0);
    columns.AddColumn(L"Text", DBTYPE_WSTR, 0, DBCOLUMNFLAGS_ISLONG);
  }

  HRESULT TryCreate(DBACCESSORFLAGS flags, const std::vector<DBBINDING>& bindings, DBBINDSTATUS* status = nullptr) {
    handle = 12345;
    return accessor->CreateAccessor(flags, bindings.size(), bindings.data(), 0, &handle, status);
  }
  HACCESSOR Create(const std::vector<DBBINDING>& bindings, DBACCESSORFLAGS flags = DBACCESSOR_ROWDATA) {
    EXPECT_EQ(TryCreate(flags, bindings), S_OK);
    return handle;
  }
  DBREFCOUNT Release(HACCESSOR h) {
    DBREFCOUNT count = 999;
    EXPECT_EQ(accessor->ReleaseAccessor(h, &count), S_OK);
    return count;
  }

  TComPtr<TTestRowset> rowset;
  TComPtr<IAccessor> accessor;
  HACCESSOR handle = 0;
};
}  // namespace

TEST_F(Accessor, FlagsAndPointersAreCheckedBeforeBindings) {
  const std::vector<DBBINDING> one = {ValueBinding(1, DBTYPE_WSTR)};
  EXPECT_EQ(TryCreate(0, one), DB_E_BADACCESSORFLAGS);
  EXPECT_EQ(handle, DB_NULL_HACCESSOR);
  EXPECT_EQ(TryCreate(DBACCESSOR_INHERITED | DBACCESSOR_PASSBYREF, one), DB_E_BADACCESSORFLAGS);
  EXPECT_EQ(TryCreate(DBACCESSOR_INHERITED, one), DB_E_BADACCESSORFLAGS);  // in range, but no row data
  EXPECT_EQ(TryCreate(DBACCESSOR_ROWDATA | DBACCESSOR_PASSBYREF, one), DB_E_BYREFACCESSORNOTSUPPORTED);
  EXPECT_EQ(accessor->CreateAccessor(DBACCESSOR_ROWDATA, 2, nullptr, 0, &handle, nullptr), E_INVALIDARG);
  EXPECT_EQ(accessor->CreateAccessor(DBACCESSOR_ROWDATA, 1, one.data(), 0, nullptr, nullptr), E_INVALIDARG);
  EXPECT_EQ(rowset->Accessors().Count(), 0u);

  MakeRowset({.Bookmarks = true, .ByRefAccessors = true});
  EXPECT_EQ(TryCreate(DBACCESSOR_ROWDATA | DBACCESSOR_PASSBYREF, one), S_OK);
  EXPECT_EQ(TryCreate(DBACCESSOR_ROWDATA, {ValueBinding(0, DBTYPE_BYTES)}), S_OK);  // the bookmark column
}

TEST_F(Accessor, EveryBindingGetsItsStatus) {
  DBOBJECT stream{STGM_READ, IID_ISequentialStream};
  DBOBJECT storage{STGM_READ, IID_IStream};
  DBOBJECT badFlags{STGM_WRITE | STGM_READWRITE, IID_ISequentialStream};
  std::vector<DBBINDING> bindings = {
      ValueBinding(1, DBTYPE_WSTR),                               // ok
      ValueBinding(0, DBTYPE_I4),                                 // bookmark column without bookmarks
      ValueBinding(2, DBTYPE_I4),                                 // no parts (below)
      ValueBinding(2, DBTYPE_EMPTY),
      ValueBinding(1, DBTYPE_WSTR | DBTYPE_BYREF | DBTYPE_ARRAY),
      ValueBinding(2, DBTYPE_I4),                                 // provider-owned memory (below)
      ValueBinding(4, DBTYPE_IUNKNOWN),                           // ok: a stream
      ValueBinding(4, DBTYPE_IUNKNOWN),                           // an interface the stream lacks
      ValueBinding(4, DBTYPE_IUNKNOWN),                           // write and read-write at once
      ValueBinding(99, DBTYPE_I4),                                // ok: checked when data moves
  };
  bindings[2].dwPart = 0;
  bindings[5].dwMemOwner = DBMEMOWNER_PROVIDEROWNED;
  bindings[6].pObject = &stream;
  bindings[7].pObject = &storage;
  bindings[8].pObject = &badFlags;
  std::vector<DBBINDSTATUS> status(bindings.size(), 0xBAD);

  EXPECT_EQ(TryCreate(DBACCESSOR_ROWDATA, bindings, status.data()), DB_E_ERRORSOCCURRED);
  EXPECT_EQ(handle, DB_NULL_HACCESSOR);
  EXPECT_EQ(rowset->Accessors().Count(), 0u);
  EXPECT_EQ(status, (std::vector<DBBINDSTATUS>{DBBINDSTATUS_OK, DBBINDSTATUS_BADORDINAL, DBBINDSTATUS_BADBINDINFO,
                                               DBBINDSTATUS_BADBINDINFO, DBBINDSTATUS_BADBINDINFO,
                                               DBBINDSTATUS_BADBINDINFO, DBBINDSTATUS_OK, DBBINDSTATUS_NOINTERFACE,
                                               DBBINDSTATUS_BADSTORAGEFLAGS, DBBINDSTATUS_OK}));
  EXPECT_EQ(TryCreate(DBACCESSOR_ROWDATA, {bindings[0], bindings[6], bindings[9]}), S_OK);
}

TEST_F(Accessor, ConversionsTheLibraryCannotMakeAreRefused) {
  IDataConvert* convert = GetDataConvert();
  if (!convert) GTEST_SKIP() << "no data conversion library";
  ASSERT_EQ(convert->CanConvert(DBTYPE_GUID, DBTYPE_DATE), S_FALSE);
  std::vector<DBBINDING> bindings = {
      ValueBinding(3, DBTYPE_DATE),                 // GUID column as a date
      ValueBinding(3, DBTYPE_WSTR | DBTYPE_BYREF),  // GUID column as text, by reference
      ValueBinding(4, DBTYPE_BYTES),                // long column: read through a BLOB reader
      ValueBinding(2, DBTYPE_I2),
  };
  std::vector<DBBINDSTATUS> status(bindings.size(), 0xBAD);
  EXPECT_EQ(TryCreate(DBACCESSOR_ROWDATA, bindings, status.data()), DB_E_ERRORSOCCURRED);
  EXPECT_EQ(status, (std::vector<DBBINDSTATUS>{DBBINDSTATUS_UNSUPPORTEDCONVERSION, DBBINDSTATUS_OK, DBBINDSTATUS_OK,
                                               DBBINDSTATUS_OK}));
  bindings[0].dwPart = DBPART_LENGTH | DBPART_STATUS;  // only the value part converts anything
  EXPECT_EQ(TryCreate(DBACCESSOR_ROWDATA, bindings, status.data()), S_OK);
}

TEST_F(Accessor, HandlesAreNumbersThatGoStale) {
  const HACCESSOR first = Create({ValueBinding(1, DBTYPE_WSTR)});
  const HACCESSOR second = Create({ValueBinding(2, DBTYPE_I4)});
  // One process-wide sequence: consecutive numbers, whatever object issued the ones before.
  EXPECT_NE(first, DB_NULL_HACCESSOR);
  EXPECT_EQ(second, first + 1);
  DBREFCOUNT count = 0;
  EXPECT_EQ(accessor->AddRefAccessor(first, &count), S_OK);
  EXPECT_EQ(count, 2u);
  EXPECT_EQ(Release(first), 1u);
  EXPECT_EQ(Release(first), 0u);

  count = 77;
  EXPECT_EQ(accessor->ReleaseAccessor(first, &count), DB_E_BADACCESSORHANDLE);
  EXPECT_EQ(count, 77u);
  for (HACCESSOR never : {first, HACCESSOR(0), second + 999, (HACCESSOR(1) << 32) | second}) {
    SCOPED_TRACE(never);
    EXPECT_EQ(accessor->AddRefAccessor(never, nullptr), DB_E_BADACCESSORHANDLE);
    TConsumerBindings got(accessor.Get(), never);
    EXPECT_EQ(got.Result, DB_E_BADACCESSORHANDLE);
    EXPECT_EQ(got.Count, 0u);
    EXPECT_EQ(got.Bindings, nullptr);
  }
  EXPECT_EQ(Create({ValueBinding(1, DBTYPE_WSTR)}), second + 1);  // released numbers are not reissued
  EXPECT_EQ(rowset->Accessors().FindAccessor(second)->RefCount(), 1);
}

TEST_F(Accessor, NullAccessorsAreShared) {
  std::vector<std::string> lines;
  TDebugSink previous = SetDebugSink([&](std::string_view line) { lines.emplace_back(line); });
  const HACCESSOR a = Create({});
  const HACCESSOR b = Create({}, DBACCESSOR_ROWDATA | DBACCESSOR_OPTIMIZED);
  SetDebugSink(previous);
  EXPECT_EQ(a, b);
  EXPECT_EQ(lines, (std::vector<std::string>{"Creating accessor.Flags: 0x00000002"}));

  TConsumerBindings got(accessor.Get(), a);
  EXPECT_EQ(got.Result, S_OK);
  EXPECT_EQ(got.Count, 0u);
  EXPECT_EQ(got.Bindings, nullptr);
  EXPECT_EQ(got.Flags, static_cast<DBACCESSORFLAGS>(DBACCESSOR_ROWDATA));
  EXPECT_EQ(Release(a), 1u);
  EXPECT_EQ(Release(a), 0u);
  EXPECT_EQ(accessor->AddRefAccessor(a, nullptr), DB_E_BADACCESSORHANDLE);
}

TEST_F(Accessor, GetBindingsHandsOutDeepCopies) {
  DBOBJECT object{STGM_READ, IID_ISequentialStream};
  DBBINDEXT extension{};
  std::vector<DBBINDING> bindings = {ValueBinding(1, DBTYPE_WSTR, 8), ValueBinding(4, DBTYPE_IUNKNOWN, 16),
                                     ValueBinding(4, DBTYPE_IUNKNOWN, 24)};
  bindings[0].pBindExt = &extension;
  bindings[0].pObject = &object;  // ignored: not a storage object binding
  bindings[1].pObject = &object;
  bindings[1].pTypeInfo = reinterpret_cast<ITypeInfo*>(0x1234);
  bindings[2].pObject = &object;
  bindings[2].dwPart = DBPART_LENGTH;  // the object still says what is measured
  const HACCESSOR h = Create(bindings);
  object.dwFlags = STGM_WRITE;  // the accessor holds its own copy

  TConsumerBindings got(accessor.Get(), h);
  ASSERT_EQ(got.Result, S_OK);
  ASSERT_EQ(got.Count, 3u);
  EXPECT_EQ(got.Bindings[0].obValue, 8u);
  EXPECT_EQ(got.Bindings[0].pBindExt, nullptr);
  EXPECT_EQ(got.Bindings[0].pObject, nullptr);
  EXPECT_EQ(got.Bindings[1].pTypeInfo, reinterpret_cast<ITypeInfo*>(0x1234));
  for (int i : {1, 2}) {
    ASSERT_NE(got.Bindings[i].pObject, nullptr);
    EXPECT_NE(got.Bindings[i].pObject, rowset->Accessors().FindAccessor(h)->Binding(i).pObject);
    EXPECT_EQ(got.Bindings[i].pObject->dwFlags, static_cast<DWORD>(STGM_READ));
    EXPECT_TRUE(IsEqualGUID(got.Bindings[i].pObject->iid, IID_ISequentialStream));
  }
}

TEST_F(Accessor, CopiesForRowsetsStartWithoutReferences) {
  TOleDbAccessors& accessors = rowset->Accessors();
  const HACCESSOR h = Create({ValueBinding(2, DBTYPE_I4, 4)}, DBACCESSOR_ROWDATA | DBACCESSOR_OPTIMIZED);
  TOleDbAccessor& copy = accessors.CreateCopy(*accessors.FindAccessor(h));
  const HACCESSOR copied = copy.Handle();
  EXPECT_NE(copied, h);
  EXPECT_EQ(copy.RefCount(), 0);
  EXPECT_EQ(copy.Flags(), static_cast<DBACCESSORFLAGS>(DBACCESSOR_ROWDATA | DBACCESSOR_OPTIMIZED));
  ASSERT_EQ(copy.BindingCount(), 1u);
  EXPECT_EQ(copy.Binding(0).obValue, 4u);
  // Releasing an accessor nobody referenced ends it instead of counting below zero.
  EXPECT_EQ(Release(copied), 0u);
  EXPECT_EQ(accessors.FindAccessor(copied), nullptr);
  accessors.Clear();
  EXPECT_EQ(accessor->ReleaseAccessor(h, nullptr), DB_E_BADACCESSORHANDLE);
}
