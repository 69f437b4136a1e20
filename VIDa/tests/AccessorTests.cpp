#include <gtest/gtest.h>

#include <oledberr.h>

#include <cstring>
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
  binding.dwMemOwner = DBMEMOWNER_CLIENTOWNED;
  binding.eParamIO = DBPARAMIO_NOTPARAM;
  binding.cbMaxLen = 64;
  binding.wType = type;
  return binding;
}

class Accessor : public ::testing::Test {
protected:
  void SetUp() override {
    ASSERT_TRUE(SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)));
    MakeRowset({});
  }
  void TearDown() override {
    accessor = nullptr;
    rowset = nullptr;
    ReleaseDataConvert();
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

  HACCESSOR Create(std::vector<DBBINDING> bindings, DBACCESSORFLAGS flags = DBACCESSOR_ROWDATA) {
    HACCESSOR handle = 12345;
    EXPECT_EQ(accessor->CreateAccessor(flags, bindings.size(), bindings.data(), 0, &handle, nullptr), S_OK);
    return handle;
  }

  DBREFCOUNT AddRef(HACCESSOR handle) {
    DBREFCOUNT count = 999;
    EXPECT_EQ(accessor->AddRefAccessor(handle, &count), S_OK);
    return count;
  }
  DBREFCOUNT Release(HACCESSOR handle) {
    DBREFCOUNT count = 999;
    EXPECT_EQ(accessor->ReleaseAccessor(handle, &count), S_OK);
    return count;
  }

  // CreateAccessor's result, with the handle it left behind.
  HRESULT TryCreate(DBACCESSORFLAGS flags, const std::vector<DBBINDING>& bindings, DBBINDSTATUS* status = nullptr) {
    lastHandle = 12345;
    return accessor->CreateAccessor(flags, bindings.size(), bindings.data(), 0, &lastHandle, status);
  }

  TComPtr<TTestRowset> rowset;
  TComPtr<IAccessor> accessor;
  HACCESSOR lastHandle = 0;
};

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
}  // namespace

TEST_F(Accessor, FlagsAreCheckedBeforeBindings) {
  const std::vector<DBBINDING> one = {ValueBinding(1, DBTYPE_WSTR)};
  EXPECT_EQ(TryCreate(0, one), DB_E_BADACCESSORFLAGS);
  EXPECT_EQ(lastHandle, DB_NULL_HACCESSOR);
  EXPECT_EQ(TryCreate(DBACCESSOR_INHERITED | DBACCESSOR_PASSBYREF, one), DB_E_BADACCESSORFLAGS);
  // Inside the range but not row data: a rowset refuses it.
  EXPECT_EQ(TryCreate(DBACCESSOR_INHERITED, one), DB_E_BADACCESSORFLAGS);
  EXPECT_EQ(TryCreate(DBACCESSOR_PARAMETERDATA, one), DB_E_BADACCESSORFLAGS);
  EXPECT_EQ(TryCreate(DBACCESSOR_ROWDATA | DBACCESSOR_PASSBYREF, one), DB_E_BYREFACCESSORNOTSUPPORTED);
  EXPECT_EQ(rowset->Accessors().Count(), 0u);
  EXPECT_EQ(TryCreate(DBACCESSOR_ROWDATA | DBACCESSOR_OPTIMIZED, one), S_OK);

  MakeRowset({.ByRefAccessors = true});
  EXPECT_EQ(TryCreate(DBACCESSOR_ROWDATA | DBACCESSOR_PASSBYREF, one), S_OK);
  EXPECT_NE(lastHandle, DB_NULL_HACCESSOR);
}

TEST_F(Accessor, ConsumerPointersAreChecked) {
  HACCESSOR handle = 0;
  EXPECT_EQ(accessor->CreateAccessor(DBACCESSOR_ROWDATA, 2, nullptr, 0, &handle, nullptr), E_INVALIDARG);
  const DBBINDING binding = ValueBinding(1, DBTYPE_WSTR);
  EXPECT_EQ(accessor->CreateAccessor(DBACCESSOR_ROWDATA, 1, &binding, 0, nullptr, nullptr), E_INVALIDARG);
  EXPECT_EQ(rowset->Accessors().Count(), 0u);

  handle = Create({binding});
  DBCOUNTITEM count = 5;
  DBBINDING* bindings = nullptr;
  DBACCESSORFLAGS flags = 0;
  EXPECT_EQ(accessor->GetBindings(handle, nullptr, &count, &bindings), E_INVALIDARG);
  EXPECT_EQ(count, 0u);
  EXPECT_EQ(accessor->GetBindings(handle, &flags, nullptr, &bindings), E_INVALIDARG);
  EXPECT_EQ(accessor->GetBindings(handle, &flags, &count, nullptr), E_INVALIDARG);
  EXPECT_EQ(accessor->AddRefAccessor(handle, nullptr), S_OK);
  EXPECT_EQ(accessor->ReleaseAccessor(handle, nullptr), S_OK);
}

TEST_F(Accessor, EveryBindingGetsItsStatus) {
  DBOBJECT stream{STGM_READ, IID_ISequentialStream};
  DBOBJECT storage{STGM_READ, IID_IStream};
  DBOBJECT badFlags{STGM_WRITE | STGM_READWRITE, IID_ISequentialStream};
  std::vector<DBBINDING> bindings = {
      ValueBinding(1, DBTYPE_WSTR),                     // 0 ok
      ValueBinding(0, DBTYPE_I4),                       // 1 bookmark column on a rowset without bookmarks
      ValueBinding(2, DBTYPE_I4),                       // 2 no parts
      ValueBinding(2, DBTYPE_EMPTY),                    // 3
      ValueBinding(1, DBTYPE_WSTR | DBTYPE_BYREF | DBTYPE_ARRAY),  // 4
      ValueBinding(2, DBTYPE_I4 | DBTYPE_RESERVED),     // 5
      ValueBinding(2, DBTYPE_I4),                       // 6 provider-owned memory
      ValueBinding(4, DBTYPE_IUNKNOWN),                 // 7 ok: a stream
      ValueBinding(4, DBTYPE_IUNKNOWN),                 // 8 an interface the stream lacks
      ValueBinding(4, DBTYPE_IUNKNOWN),                 // 9 write and read-write at once
      ValueBinding(2, DBTYPE_I2),                       // 10 ok: a conversion the library makes
      ValueBinding(99, DBTYPE_I4),                      // 11 ok: ordinals are checked when data moves
  };
  bindings[2].dwPart = 0;
  bindings[6].dwMemOwner = DBMEMOWNER_PROVIDEROWNED;
  bindings[7].pObject = &stream;
  bindings[8].pObject = &storage;
  bindings[9].pObject = &badFlags;
  std::vector<DBBINDSTATUS> status(bindings.size(), 0xBAD);

  EXPECT_EQ(TryCreate(DBACCESSOR_ROWDATA, bindings, status.data()), DB_E_ERRORSOCCURRED);
  EXPECT_EQ(lastHandle, DB_NULL_HACCESSOR);
  EXPECT_EQ(rowset->Accessors().Count(), 0u);
  const std::vector<DBBINDSTATUS> expected = {
      DBBINDSTATUS_OK,          DBBINDSTATUS_BADORDINAL,  DBBINDSTATUS_BADBINDINFO,      DBBINDSTATUS_BADBINDINFO,
      DBBINDSTATUS_BADBINDINFO, DBBINDSTATUS_BADBINDINFO, DBBINDSTATUS_BADBINDINFO,      DBBINDSTATUS_OK,
      DBBINDSTATUS_NOINTERFACE, DBBINDSTATUS_BADSTORAGEFLAGS, DBBINDSTATUS_OK,           DBBINDSTATUS_OK};
  EXPECT_EQ(status, expected);

  // The same bindings without the failing ones pass; statuses are optional.
  std::vector<DBBINDING> good = {bindings[0], bindings[7], bindings[10], bindings[11]};
  EXPECT_EQ(TryCreate(DBACCESSOR_ROWDATA, good), S_OK);
}

TEST_F(Accessor, BookmarkOrdinalNeedsBookmarks) {
  MakeRowset({.Bookmarks = true});
  DBBINDSTATUS status = 0xBAD;
  EXPECT_EQ(TryCreate(DBACCESSOR_ROWDATA, {ValueBinding(0, DBTYPE_BYTES)}, &status), S_OK);
  EXPECT_EQ(status, DBBINDSTATUS_OK);
}

TEST_F(Accessor, ConversionsTheLibraryCannotMakeAreRefused) {
  TComPtr<IDataConvert> convert = GetDataConvert();
  if (!convert) GTEST_SKIP() << "no data conversion library";
  ASSERT_EQ(convert->CanConvert(DBTYPE_GUID, DBTYPE_DATE), S_FALSE);
  std::vector<DBBINDING> bindings = {
      ValueBinding(3, DBTYPE_DATE),                  // GUID column as a date
      ValueBinding(3, DBTYPE_WSTR | DBTYPE_BYREF),   // GUID column as text, by reference
      ValueBinding(4, DBTYPE_BYTES),                 // long column: read through a BLOB reader
  };
  std::vector<DBBINDSTATUS> status(3, 0xBAD);
  EXPECT_EQ(TryCreate(DBACCESSOR_ROWDATA, bindings, status.data()), DB_E_ERRORSOCCURRED);
  EXPECT_EQ(status, (std::vector<DBBINDSTATUS>{DBBINDSTATUS_UNSUPPORTEDCONVERSION, DBBINDSTATUS_OK, DBBINDSTATUS_OK}));
  // Only the value part converts anything.
  bindings[0].dwPart = DBPART_LENGTH | DBPART_STATUS;
  EXPECT_EQ(TryCreate(DBACCESSOR_ROWDATA, bindings, status.data()), S_OK);
}

TEST_F(Accessor, HandlesAreNumbersThatGoStale) {
  const HACCESSOR first = Create({ValueBinding(1, DBTYPE_WSTR)});
  const HACCESSOR second = Create({ValueBinding(2, DBTYPE_I4)});
  EXPECT_EQ(first, 1u);
  EXPECT_EQ(second, 2u);

  EXPECT_EQ(AddRef(first), 2u);
  EXPECT_EQ(Release(first), 1u);
  EXPECT_EQ(Release(first), 0u);
  // Released to nothing: every use is reported, never followed.
  DBREFCOUNT count = 77;
  EXPECT_EQ(accessor->AddRefAccessor(first, &count), DB_E_BADACCESSORHANDLE);
  EXPECT_EQ(accessor->ReleaseAccessor(first, &count), DB_E_BADACCESSORHANDLE);
  EXPECT_EQ(count, 77u);
  EXPECT_EQ(TConsumerBindings(accessor.Get(), first).Result, DB_E_BADACCESSORHANDLE);
  for (HACCESSOR never : {HACCESSOR(0), HACCESSOR(3), HACCESSOR(999), (HACCESSOR(1) << 32) | second}) {
    SCOPED_TRACE(never);
    EXPECT_EQ(accessor->AddRefAccessor(never, nullptr), DB_E_BADACCESSORHANDLE);
    TConsumerBindings got(accessor.Get(), never);
    EXPECT_EQ(got.Result, DB_E_BADACCESSORHANDLE);
    EXPECT_EQ(got.Count, 0u);
    EXPECT_EQ(got.Bindings, nullptr);
  }
  // A new accessor never takes the number of a released one.
  EXPECT_EQ(Create({ValueBinding(1, DBTYPE_WSTR)}), 3u);
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
  EXPECT_EQ(got.Flags, static_cast<DBACCESSORFLAGS>(DBACCESSOR_ROWDATA));  // the first creation's flags

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
  bindings[2].dwPart = DBPART_LENGTH;  // the object still describes what is measured
  const HACCESSOR handle = Create(bindings);
  object.dwFlags = STGM_WRITE;  // the accessor took its own copy at creation

  for (int round = 0; round < 2; ++round) {
    TConsumerBindings got(accessor.Get(), handle);
    ASSERT_EQ(got.Result, S_OK);
    ASSERT_EQ(got.Count, 3u);
    EXPECT_EQ(got.Flags, static_cast<DBACCESSORFLAGS>(DBACCESSOR_ROWDATA));
    EXPECT_EQ(got.Bindings[0].obValue, 8u);
    EXPECT_EQ(got.Bindings[0].pBindExt, nullptr);
    EXPECT_EQ(got.Bindings[0].pObject, nullptr);
    EXPECT_EQ(got.Bindings[1].pTypeInfo, reinterpret_cast<ITypeInfo*>(0x1234));
    for (int i : {1, 2}) {
      ASSERT_NE(got.Bindings[i].pObject, nullptr);
      EXPECT_NE(got.Bindings[i].pObject, &object);
      EXPECT_NE(got.Bindings[i].pObject, rowset->Accessors().FindAccessor(handle)->Binding(i).pObject);
      EXPECT_EQ(got.Bindings[i].pObject->dwFlags, static_cast<DWORD>(STGM_READ));
      EXPECT_TRUE(IsEqualGUID(got.Bindings[i].pObject->iid, IID_ISequentialStream));
    }
    got.Bindings[1].pObject->dwFlags = STGM_READWRITE;  // the consumer's copy is its own
  }
}

TEST_F(Accessor, CopiesForRowsetsStartWithoutReferences) {
  TOleDbAccessors& accessors = rowset->Accessors();
  const HACCESSOR handle = Create({ValueBinding(2, DBTYPE_I4, 4)}, DBACCESSOR_ROWDATA | DBACCESSOR_OPTIMIZED);
  TOleDbAccessor& copy = accessors.CreateCopy(*accessors.FindAccessor(handle));
  EXPECT_NE(copy.Handle(), handle);
  EXPECT_EQ(copy.RefCount(), 0);
  EXPECT_EQ(copy.Flags(), static_cast<DBACCESSORFLAGS>(DBACCESSOR_ROWDATA | DBACCESSOR_OPTIMIZED));
  ASSERT_EQ(copy.BindingCount(), 1u);
  EXPECT_EQ(copy.Binding(0).obValue, 4u);
  EXPECT_EQ(accessors.FindNullAccessor(), nullptr);

  // Releasing an accessor nobody referenced ends it instead of counting below zero.
  const HACCESSOR copied = copy.Handle();
  EXPECT_EQ(Release(copied), 0u);
  EXPECT_EQ(accessors.FindAccessor(copied), nullptr);
  EXPECT_EQ(accessors.Count(), 1u);
  accessors.Clear();
  EXPECT_EQ(accessor->ReleaseAccessor(handle, nullptr), DB_E_BADACCESSORHANDLE);
}
