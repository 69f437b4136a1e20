#include "Diagnostics.h"
#include "OLEDbError.h"
#include "OLEDbProperties.h"
#include "OLEDbPropertyCatalogue.h"
#include "OLEDbPropertyStorage.h"

#include <oledberr.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cwchar>
#include <set>
#include <string>
#include <utility>
#include <vector>

namespace {

// --- consumer-side helpers: free everything by the published rules --------

struct TPropSetsResult {
  ULONG Count = 0;
  DBPROPSET* Sets = nullptr;
  ~TPropSetsResult() {
    for (ULONG i = 0; Sets && i < Count; ++i) {
      for (ULONG j = 0; j < Sets[i].cProperties; ++j) VariantClear(&Sets[i].rgProperties[j].vValue);
      CoTaskMemFree(Sets[i].rgProperties);
    }
    CoTaskMemFree(Sets);
  }
};

struct TPropInfoResult {
  ULONG Count = 0;
  DBPROPINFOSET* Sets = nullptr;
  OLECHAR* Descriptions = nullptr;
  ~TPropInfoResult() {
    for (ULONG i = 0; Sets && i < Count; ++i) {
      for (ULONG j = 0; j < Sets[i].cPropertyInfos; ++j) VariantClear(&Sets[i].rgPropertyInfos[j].vValues);
      CoTaskMemFree(Sets[i].rgPropertyInfos);
    }
    CoTaskMemFree(Sets);
    CoTaskMemFree(Descriptions);
  }
};

// Captures the debugger output while alive.
struct TDebugCapture {
  std::vector<std::string> Lines;
  TDebugSink Previous;
  TDebugCapture() : Previous(SetDebugSink([this](std::string_view line) { Lines.emplace_back(line); })) {}
  ~TDebugCapture() { SetDebugSink(std::move(Previous)); }
  bool Has(const std::string& line) const { return std::find(Lines.begin(), Lines.end(), line) != Lines.end(); }
};

HRESULT CodeOf(auto&& call) {
  try {
    call();
  } catch (const EOleDbException& e) {
    return e.ErrorCode;
  } catch (const EOleError& e) {
    return e.ErrorCode();
  }
  return S_OK;
}

std::wstring MessageOf(auto&& call) {
  try {
    call();
  } catch (const EOleError& e) {
    return e.Message();
  }
  return {};
}

TOleDbVariant I4(LONG value) {
  TOleDbVariant v;
  V_VT(&v.Get()) = VT_I4;
  V_I4(&v.Get()) = value;
  return v;
}

TOleDbVariant I2(SHORT value) {
  TOleDbVariant v;
  V_VT(&v.Get()) = VT_I2;
  V_I2(&v.Get()) = value;
  return v;
}

TOleDbVariant Bool(bool value) {
  TOleDbVariant v;
  V_VT(&v.Get()) = VT_BOOL;
  V_BOOL(&v.Get()) = value ? VARIANT_TRUE : VARIANT_FALSE;
  return v;
}

TOleDbVariant Text(const wchar_t* value) {
  TOleDbVariant v;
  V_VT(&v.Get()) = VT_BSTR;
  V_BSTR(&v.Get()) = SysAllocString(value);
  return v;
}

DBPROP Prop(DBPROPID id, const TOleDbVariant& value, DBPROPOPTIONS options = DBPROPOPTIONS_OPTIONAL) {
  DBPROP prop{};
  prop.dwPropertyID = id;
  prop.dwOptions = options;
  prop.dwStatus = 0xBAD;
  prop.vValue = value.Get();  // borrowed: the caller's variant stays the owner
  return prop;
}

DBPROPIDSET IDSet(REFGUID guid, std::vector<DBPROPID>& ids) {
  return DBPROPIDSET{ids.empty() ? nullptr : ids.data(), static_cast<ULONG>(ids.size()), guid};
}

// A data source's arrangement of sets, in its uninitialised state.
std::unique_ptr<TOleDbPropertyStorage> MakeDatasourceStorage() {
  auto storage = std::make_unique<TOleDbPropertyStorage>(std::make_unique<TOleDbPropertySets>());
  TOleDbPropertySets& sets = storage->PropertySets();
  TOleDbPropertySet& init = sets.FindOrCreateSet(DBPROPSET_DBINIT);
  for (DBPROPID id : DatasourceInitPropertyIDs) init.AddDefault(id, id == DBPROP_INIT_MODE);
  sets.FindOrCreateSet(DBPROPSET_DATASOURCE).AddDefaults(DatasourcePropertyIDs);
  sets.FindOrCreateSet(DBPROPSET_DATASOURCEINFO).AddDefaults(DatasourceInfoPropertyIDs);
  sets.FindOrCreateSet(DBPROPSET_ROWSET).AddDefaults(StandardRowsetPropertyIDs);
  sets.SetAllStates(TOleDbPropertySetState::Hidden);
  init.State = TOleDbPropertySetState::Normal;
  return storage;
}

std::unique_ptr<TOleDbPropertyStorage> MakeRowsetStorage() {
  auto storage = std::make_unique<TOleDbPropertyStorage>(std::make_unique<TOleDbPropertySets>());
  storage->PropertySets().FindOrCreateSet(DBPROPSET_ROWSET).AddDefaults(StandardRowsetPropertyIDs);
  return storage;
}

class TVetoHandler : public IOleDbPropertyHandler {
public:
  void CheckPropertyValue(TOleDbProperty& property, const VARIANT& value, DBPROPSTATUS& status) override {
    if (property.PropID == VetoedID) status = DBPROPSTATUS_CONFLICTING;
  }
  DBPROPID VetoedID = 0;
};

}  // namespace

// --- catalogue ------------------------------------------------------------

TEST(PropertiesCatalogue, SetsAreGroupedWithTheirRowCounts) {
  const std::vector<std::pair<const GUID*, size_t>> expected = {
      {&DBPROPSET_ROWSET, 78}, {&DBPROPSET_DBINIT, 19}, {&DBPROPSET_DATASOURCE, 1}, {&DBPROPSET_DATASOURCEINFO, 48},
      {&DBPROPSET_SESSION, 1}, {&DBPROPSET_TABLE, 1},   {&DBPROPSET_COLUMN, 7},     {&DBPROPSET_INDEX, 11}};
  auto rows = PropertyDefaults();
  ASSERT_EQ(rows.size(), 166u);
  size_t at = 0;
  for (auto [guid, count] : expected)
    for (size_t i = 0; i < count; ++i, ++at) EXPECT_TRUE(IsEqualGUID(*rows[at].PropSet, *guid)) << "row " << at;

  std::set<std::pair<std::wstring, DBPROPID>> seen;
  for (const auto& row : rows) {
    wchar_t guid[40];
    StringFromGUID2(*row.PropSet, guid, 40);
    EXPECT_TRUE(seen.emplace(guid, row.PropID).second) << "duplicate ID " << row.PropID;
    EXPECT_NE(row.Name[0], L'\0') << row.PropID;
  }
}

TEST(PropertiesCatalogue, FlagsAndOptionsFollowTheSetRules) {
  const std::vector<std::pair<const GUID*, DBPROPFLAGS>> setFlags = {
      {&DBPROPSET_ROWSET, DBPROPFLAGS_ROWSET},
      {&DBPROPSET_DBINIT, DBPROPFLAGS_DBINIT | DBPROPFLAGS_WRITE},
      {&DBPROPSET_DATASOURCE, DBPROPFLAGS_DATASOURCE | DBPROPFLAGS_WRITE},
      {&DBPROPSET_DATASOURCEINFO, DBPROPFLAGS_DATASOURCEINFO},
      {&DBPROPSET_SESSION, DBPROPFLAGS_SESSION},
      {&DBPROPSET_TABLE, DBPROPFLAGS_TABLE | DBPROPFLAGS_WRITE},
      {&DBPROPSET_COLUMN, DBPROPFLAGS_COLUMN | DBPROPFLAGS_WRITE},
      {&DBPROPSET_INDEX, DBPROPFLAGS_INDEX | DBPROPFLAGS_WRITE}};
  std::set<DBPROPID> required;
  size_t writableRowset = 0;
  for (const auto& row : PropertyDefaults()) {
    auto rule = std::find_if(setFlags.begin(), setFlags.end(),
                             [&](const auto& entry) { return IsEqualGUID(*entry.first, *row.PropSet); });
    ASSERT_NE(rule, setFlags.end());
    DBPROPFLAGS flags = row.Flags;
    if (rule->first == &DBPROPSET_ROWSET && (flags & DBPROPFLAGS_WRITE)) {
      ++writableRowset;
      flags &= ~DBPROPFLAGS_WRITE;
    }
    EXPECT_EQ(flags, rule->second | DBPROPFLAGS_READ) << row.PropID;
    if (row.Options == DBPROPOPTIONS_REQUIRED) required.insert(row.PropID);
    else EXPECT_EQ(row.Options, DBPROPOPTIONS_OPTIONAL) << row.PropID;
  }
  EXPECT_EQ(writableRowset, 36u);
  EXPECT_EQ(required, (std::set<DBPROPID>{DBPROP_IAccessor, DBPROP_IColumnsInfo, DBPROP_IConvertType, DBPROP_IRowset,
                                          DBPROP_IRowsetInfo}));
}

TEST(PropertiesCatalogue, SpotChecksOfRowsAndDefaults) {
  auto expectRow = [](REFGUID set, DBPROPID id, const wchar_t* name, VARTYPE type, bool writable) {
    const TOleDbPropertyDefault* row = FindPropertyDefault(set, id);
    ASSERT_NE(row, nullptr) << id;
    EXPECT_STREQ(row->Name, name);
    EXPECT_EQ(row->VarType, type) << id;
    EXPECT_EQ((row->Flags & DBPROPFLAGS_WRITE) != 0, writable) << id;
  };
  expectRow(DBPROPSET_ROWSET, DBPROP_BOOKMARKS, L"Use Bookmarks", VT_BOOL, true);
  expectRow(DBPROPSET_ROWSET, DBPROP_NOTIFYROWSETFETCHPOSITIONCHANGE, L"Rowset Fetch Position Change Notification",
            VT_I4, false);
  expectRow(DBPROPSET_DBINIT, DBPROP_INIT_PROMPT, L"Prompt", VT_I2, true);
  expectRow(DBPROPSET_DBINIT, DBPROP_INIT_PROVIDERSTRING, L"Extended Properties", VT_BSTR, true);
  expectRow(DBPROPSET_DATASOURCEINFO, OleDbPropOleObjects, L"OLE Object Support", VT_I4, false);
  expectRow(DBPROPSET_DATASOURCEINFO, DBPROP_ORDERBYCOLUMNSINSELECT, L"ORDER BY Columns in Select List", VT_BOOL,
            false);
  expectRow(DBPROPSET_INDEX, DBPROP_INDEX_UNIQUE, L"Unique", VT_BOOL, true);
  EXPECT_EQ(FindPropertyDefault(DBPROPSET_SESSION, DBPROP_BOOKMARKS), nullptr);

  auto defaultOf = [](REFGUID set, DBPROPID id) {
    TOleDbVariant value;
    PropertyDefaultToVariant(*FindPropertyDefault(set, id), value.Get());
    return value;
  };
  EXPECT_EQ(V_BSTR(&defaultOf(DBPROPSET_DATASOURCEINFO, DBPROP_PROVIDEROLEDBVER).Get()), std::wstring(L"2.0"));
  TOleDbVariant empty = defaultOf(DBPROPSET_DBINIT, DBPROP_INIT_DATASOURCE);
  ASSERT_EQ(empty.Type(), VT_BSTR);
  ASSERT_NE(V_BSTR(&empty.Get()), nullptr);
  EXPECT_EQ(SysStringLen(V_BSTR(&empty.Get())), 0u);
  EXPECT_EQ(V_I4(&defaultOf(DBPROPSET_ROWSET, DBPROP_NOTIFICATIONPHASES).Get()), 27);
  EXPECT_EQ(V_I4(&defaultOf(DBPROPSET_DATASOURCEINFO, DBPROP_DSOTHREADMODEL).Get()), 2);
  EXPECT_EQ(V_BOOL(&defaultOf(DBPROPSET_DATASOURCEINFO, DBPROP_DATASOURCEREADONLY).Get()), VARIANT_TRUE);
  EXPECT_EQ(V_BOOL(&defaultOf(DBPROPSET_ROWSET, DBPROP_IRowsetIdentity).Get()), VARIANT_TRUE);
  EXPECT_EQ(V_BOOL(&defaultOf(DBPROPSET_ROWSET, DBPROP_BOOKMARKS).Get()), VARIANT_FALSE);

  TOleDbPropertyDefault odd{&DBPROPSET_ROWSET, 1, L"x", 0, 0, VT_DECIMAL, {}};
  TOleDbVariant unused;
  EXPECT_EQ(MessageOf([&] { PropertyDefaultToVariant(odd, unused.Get()); }), L"Unsupported property data type");
}

TEST(PropertiesCatalogue, ObjectListsExistInTheirSets) {
  std::set<DBPROPID> unique(StandardRowsetPropertyIDs.begin(), StandardRowsetPropertyIDs.end());
  EXPECT_EQ(unique.size(), StandardRowsetPropertyIDs.size());
  for (DBPROPID id : StandardRowsetPropertyIDs) EXPECT_NE(FindPropertyDefault(DBPROPSET_ROWSET, id), nullptr) << id;
  for (DBPROPID id : DatasourceInitPropertyIDs) EXPECT_NE(FindPropertyDefault(DBPROPSET_DBINIT, id), nullptr) << id;
  for (DBPROPID id : DatasourceInfoPropertyIDs)
    EXPECT_NE(FindPropertyDefault(DBPROPSET_DATASOURCEINFO, id), nullptr) << id;
  EXPECT_NE(FindPropertyDefault(DBPROPSET_SESSION, SessionPropertyIDs[0]), nullptr);
}

// --- property model -------------------------------------------------------

TEST(PropertiesModel, AddingFromTheCatalogue) {
  TOleDbPropertySets sets;
  TOleDbPropertySet& rowset = sets.FindOrCreateSet(DBPROPSET_ROWSET);
  EXPECT_EQ(&sets.FindOrCreateSet(DBPROPSET_ROWSET), &rowset);
  EXPECT_EQ(rowset.SetType, TOleDbPropertySetType::Rowset);
  EXPECT_EQ(&sets.SetByType(TOleDbPropertySetType::Rowset), &rowset);
  EXPECT_EQ(sets.SetByType(TOleDbPropertySetType::View).SetType, TOleDbPropertySetType::View);
  EXPECT_EQ(PropertySetTypeOf(DBPROPSET_ROWSETALL), TOleDbPropertySetType::None);

  EXPECT_EQ(MessageOf([&] { rowset.AddDefault(0xff); }), L"Property default information must be defined. PropID=ff");
  EXPECT_EQ(rowset.Count(), 0u);

  TOleDbProperty& bookmarks = rowset.AddDefault(DBPROP_BOOKMARKS);
  EXPECT_EQ(bookmarks.Name, L"Use Bookmarks");
  EXPECT_TRUE(bookmarks.DefaultValue.IsEmpty());
  bookmarks.Value = Bool(true);
  EXPECT_EQ(&rowset.AddDefault(DBPROP_BOOKMARKS, true), &bookmarks);
  EXPECT_EQ(rowset.Count(), 1u);
  EXPECT_EQ(V_BOOL(&bookmarks.Value.Get()), VARIANT_FALSE);
  EXPECT_EQ(bookmarks.DefaultValue.Type(), VT_BOOL);

  TOleDbPropertySet& errors = sets.FindOrCreateSet(DBPROPSET_PROPERTIESINERROR);
  EXPECT_NE(dynamic_cast<TOleDbErrorProperty*>(&errors.AddCopy(bookmarks, DBPROPSTATUS_BADVALUE)), nullptr);
  EXPECT_EQ(errors.Items(0).ReportedStatus(), DBPROPSTATUS_BADVALUE);
  EXPECT_EQ(rowset.AddCopy(bookmarks, DBPROPSTATUS_BADVALUE).ReportedStatus(), DBPROPSTATUS_OK);

  TOleDbProperty& ensured = sets.EnsureProperty(DBPROPSET_SESSION, DBPROP_SESS_AUTOCOMMITISOLEVELS);
  ensured.Value = I4(7);
  EXPECT_EQ(&sets.EnsureProperty(DBPROPSET_SESSION, DBPROP_SESS_AUTOCOMMITISOLEVELS), &ensured);
  EXPECT_EQ(V_I4(&ensured.Value.Get()), 7);
}

TEST(PropertiesModel, ValueLookupsByIDAndName) {
  TOleDbPropertySets sets;
  TOleDbPropertySet& init = sets.FindOrCreateSet(DBPROPSET_DBINIT);
  init.AddDefaults(DatasourceInitPropertyIDs);
  init.State = TOleDbPropertySetState::ReadOnly;  // lookups ignore states and flags

  EXPECT_TRUE(sets.PutValue(DBPROPSET_DBINIT, DBPROP_INIT_DATASOURCE, Text(L"C:\\logs").Get()));
  TOleDbVariant read;
  EXPECT_TRUE(sets.GetValue(DBPROPSET_DBINIT, I2(DBPROP_INIT_DATASOURCE).Get(), read.Get()));
  EXPECT_EQ(V_BSTR(&read.Get()), std::wstring(L"C:\\logs"));
  EXPECT_TRUE(sets.GetValue(DBPROPSET_DBINIT, Text(L"data SOURCE").Get(), read.Get()));
  EXPECT_EQ(V_BSTR(&read.Get()), std::wstring(L"C:\\logs"));
  EXPECT_TRUE(sets.PutValue(DBPROPSET_DBINIT, L"connect timeout", I4(30).Get()));
  EXPECT_TRUE(sets.GetValue(DBPROPSET_DBINIT, I4(DBPROP_INIT_TIMEOUT).Get(), read.Get()));
  EXPECT_EQ(V_I4(&read.Get()), 30);

  TOleDbVariant real;
  V_VT(&real.Get()) = VT_R8;
  V_R8(&real.Get()) = DBPROP_INIT_TIMEOUT;
  EXPECT_FALSE(sets.GetValue(DBPROPSET_DBINIT, real.Get(), read.Get()));
  EXPECT_FALSE(sets.GetValue(DBPROPSET_ROWSET, DBPROP_INIT_TIMEOUT, read.Get()));

  EXPECT_EQ(MessageOf([&] { sets.GetValueByType(TOleDbPropertySetType::DBInit, 999, read.Get()); }),
            L"This property is not supported. PropID=999");
  EXPECT_EQ(MessageOf([&] { sets.PutValueByType(TOleDbPropertySetType::DBInit, Text(L"Nope").Get(), read.Get()); }),
            L"This property is not supported. PropID=Nope");
  sets.GetValueByType(TOleDbPropertySetType::DBInit, Text(L"Prompt").Get(), read.Get());
  EXPECT_EQ(read.Type(), VT_I2);
}

// --- storage: reading -----------------------------------------------------

TEST(PropertiesStorage, ConstructionNeedsASetList) {
  EXPECT_EQ(MessageOf([] { TOleDbPropertyStorage storage(nullptr); }), L"PropertySets must be defined");
}

TEST(PropertiesStorage, GetAllOnAnUninitialisedDatasource) {
  auto storage = MakeDatasourceStorage();
  TPropSetsResult out;
  ASSERT_EQ(storage->GetProperties(0, nullptr, &out.Count, &out.Sets), S_OK);
  ASSERT_EQ(out.Count, 1u);
  EXPECT_TRUE(IsEqualGUID(out.Sets[0].guidPropertySet, DBPROPSET_DBINIT));
  ASSERT_EQ(out.Sets[0].cProperties, 10u);
  for (ULONG i = 0; i < 10; ++i) {
    const DBPROP& prop = out.Sets[0].rgProperties[i];
    EXPECT_EQ(prop.dwPropertyID, DatasourceInitPropertyIDs[i]);
    EXPECT_EQ(prop.dwStatus, DBPROPSTATUS_OK);
    EXPECT_EQ(prop.colid.eKind, DBKIND_GUID_PROPID);
    EXPECT_EQ(V_VT(&prop.vValue) == VT_EMPTY, prop.dwPropertyID == DBPROP_INIT_MODE) << prop.dwPropertyID;
  }
}

TEST(PropertiesStorage, SpecificRequestsSumTheirStatuses) {
  auto storage = MakeDatasourceStorage();
  TDebugCapture debug;
  {  // a hidden set: every property unsupported
    std::vector<DBPROPID> none;
    DBPROPIDSET request = IDSet(DBPROPSET_DATASOURCEINFO, none);
    TPropSetsResult out;
    EXPECT_EQ(storage->GetProperties(1, &request, &out.Count, &out.Sets), DB_E_ERRORSOCCURRED);
    ASSERT_EQ(out.Count, 1u);
    ASSERT_EQ(out.Sets[0].cProperties, DatasourceInfoPropertyIDs.size());
    for (ULONG i = 0; i < out.Sets[0].cProperties; ++i)
      EXPECT_EQ(out.Sets[0].rgProperties[i].dwStatus, DBPROPSTATUS_NOTSUPPORTED);
  }
  {  // supported, unknown ID, unknown set with IDs and without
    std::vector<DBPROPID> init = {DBPROP_INIT_TIMEOUT, 4242}, table = {DBPROP_TBL_TEMPTABLE}, none;
    DBPROPIDSET request[] = {IDSet(DBPROPSET_DBINIT, init), IDSet(DBPROPSET_TABLE, table),
                             IDSet(DBPROPSET_INDEX, none)};
    TPropSetsResult out;
    EXPECT_EQ(storage->GetProperties(3, request, &out.Count, &out.Sets), DB_S_ERRORSOCCURRED);
    ASSERT_EQ(out.Count, 3u);
    ASSERT_EQ(out.Sets[0].cProperties, 2u);
    EXPECT_EQ(out.Sets[0].rgProperties[0].dwStatus, DBPROPSTATUS_OK);
    EXPECT_EQ(V_VT(&out.Sets[0].rgProperties[0].vValue), VT_I4);
    EXPECT_EQ(out.Sets[0].rgProperties[1].dwPropertyID, 4242u);
    EXPECT_EQ(out.Sets[0].rgProperties[1].dwStatus, DBPROPSTATUS_NOTSUPPORTED);
    ASSERT_EQ(out.Sets[1].cProperties, 1u);
    EXPECT_EQ(out.Sets[1].rgProperties[0].dwStatus, DBPROPSTATUS_NOTSUPPORTED);
    EXPECT_EQ(out.Sets[2].cProperties, 0u);
    EXPECT_EQ(out.Sets[2].rgProperties, nullptr);
  }
  EXPECT_TRUE(debug.Has("Property is not supported:4242 SetType:5"));
  EXPECT_TRUE(debug.Has("This property is not supported. PropID=4242"));
}

TEST(PropertiesStorage, AllRequestsAndTheErrorSet) {
  auto storage = MakeDatasourceStorage();
  storage->PropertySets().SetAllStates(TOleDbPropertySetState::ReadOnly);
  std::vector<DBPROPID> none, ids = {DBPROP_INIT_MODE};
  {
    DBPROPIDSET request[] = {IDSet(DBPROPSET_ROWSETALL, none), IDSet(DBPROPSET_DBINITALL, ids)};
    TPropSetsResult out;
    EXPECT_EQ(storage->GetProperties(2, request, &out.Count, &out.Sets), S_OK);
    ASSERT_EQ(out.Count, 2u);
    EXPECT_TRUE(IsEqualGUID(out.Sets[0].guidPropertySet, DBPROPSET_ROWSET));
    EXPECT_EQ(out.Sets[0].cProperties, 36u);
    EXPECT_TRUE(IsEqualGUID(out.Sets[1].guidPropertySet, DBPROPSET_DBINIT));
    EXPECT_EQ(out.Sets[1].cProperties, 10u);  // IDs of an ALL request are ignored
  }
  auto getCode = [&](std::vector<DBPROPIDSET> request) {
    TPropSetsResult out;
    HRESULT hr = CodeOf([&] {
      storage->GetProperties(static_cast<ULONG>(request.size()), request.data(), &out.Count, &out.Sets);
    });
    EXPECT_EQ(out.Count, 0u);
    EXPECT_EQ(out.Sets, nullptr);
    return hr;
  };
  EXPECT_EQ(getCode({IDSet(DBPROPSET_ROWSETALL, none), IDSet(DBPROPSET_DBINIT, none)}), E_INVALIDARG);
  EXPECT_EQ(getCode({IDSet(DBPROPSET_PROPERTIESINERROR, none), IDSet(DBPROPSET_DBINIT, none)}), E_INVALIDARG);
  EXPECT_EQ(getCode({IDSet(DBPROPSET_PROPERTIESINERROR, ids)}), E_INVALIDARG);
  EXPECT_EQ(getCode({IDSet(DBPROPSET_PROPERTIESINERROR, none)}), DB_E_ERRORSOCCURRED);
  EXPECT_EQ(getCode({IDSet(DBPROPSET_SESSIONALL, none)}), DB_E_ERRORSOCCURRED);
  EXPECT_EQ(getCode({DBPROPIDSET{nullptr, 2, DBPROPSET_DBINIT}}), E_INVALIDARG);
  EXPECT_EQ(CodeOf([&] { storage->GetProperties(1, nullptr, nullptr, nullptr); }), E_INVALIDARG);
  ULONG count = 5;
  EXPECT_EQ(CodeOf([&] { storage->GetProperties(0, nullptr, &count, nullptr); }), E_INVALIDARG);
  EXPECT_EQ(count, 0u);
}

TEST(PropertiesStorage, PropertyInfoWithItsDescriptionBuffer) {
  auto storage = MakeRowsetStorage();
  std::vector<DBPROPID> none;
  DBPROPIDSET request = IDSet(DBPROPSET_ROWSETALL, none);
  TPropInfoResult out;
  ASSERT_EQ(storage->GetPropertyInfo(1, &request, &out.Count, &out.Sets, &out.Descriptions), S_OK);
  ASSERT_EQ(out.Count, 1u);
  const DBPROPINFOSET& set = out.Sets[0];
  EXPECT_TRUE(IsEqualGUID(set.guidPropertySet, DBPROPSET_ROWSET));
  ASSERT_EQ(set.cPropertyInfos, 36u);
  // The texts lie back to back in entry order, each with its terminator.
  const OLECHAR* next = out.Descriptions;
  for (ULONG i = 0; i < set.cPropertyInfos; ++i) {
    const DBPROPINFO& info = set.rgPropertyInfos[i];
    EXPECT_EQ(info.dwPropertyID, StandardRowsetPropertyIDs[i]);
    EXPECT_EQ(info.vtType, FindPropertyDefault(DBPROPSET_ROWSET, info.dwPropertyID)->VarType);
    EXPECT_EQ(info.pwszDescription, next);
    EXPECT_STREQ(info.pwszDescription, FindPropertyDefault(DBPROPSET_ROWSET, info.dwPropertyID)->Name);
    next += wcslen(next) + 1;
  }
  EXPECT_STREQ(set.rgPropertyInfos[15].pwszDescription, L"Use Bookmarks");
  IMalloc* malloc = nullptr;
  ASSERT_EQ(CoGetMalloc(1, &malloc), S_OK);
  EXPECT_EQ(malloc->GetSize(out.Descriptions), static_cast<SIZE_T>((next - out.Descriptions) * sizeof(OLECHAR)));
  malloc->Release();
}

TEST(PropertiesStorage, SpecificPropertyInfo) {
  auto storage = MakeDatasourceStorage();
  std::vector<DBPROPID> init = {DBPROP_INIT_DATASOURCE, 4242}, info = {DBPROP_PROVIDERNAME}, none;
  {
    DBPROPIDSET request[] = {IDSet(DBPROPSET_DBINIT, init), IDSet(DBPROPSET_DATASOURCEINFO, info),
                             IDSet(DBPROPSET_TABLE, none)};
    TPropInfoResult out;
    EXPECT_EQ(storage->GetPropertyInfo(3, request, &out.Count, &out.Sets, &out.Descriptions), DB_S_ERRORSOCCURRED);
    ASSERT_EQ(out.Count, 3u);
    ASSERT_EQ(out.Sets[0].cPropertyInfos, 2u);
    EXPECT_EQ(out.Sets[0].rgPropertyInfos[0].dwFlags, DBPROPFLAGS_DBINIT | DBPROPFLAGS_READ | DBPROPFLAGS_WRITE);
    EXPECT_STREQ(out.Sets[0].rgPropertyInfos[0].pwszDescription, L"Data Source");
    EXPECT_EQ(out.Sets[0].rgPropertyInfos[0].pwszDescription, out.Descriptions);
    EXPECT_EQ(out.Sets[0].rgPropertyInfos[1].dwFlags, DBPROPFLAGS_NOTSUPPORTED);
    EXPECT_EQ(out.Sets[0].rgPropertyInfos[1].pwszDescription, nullptr);
    ASSERT_EQ(out.Sets[1].cPropertyInfos, 1u);  // hidden set
    EXPECT_EQ(out.Sets[1].rgPropertyInfos[0].dwFlags, DBPROPFLAGS_NOTSUPPORTED);
    EXPECT_EQ(out.Sets[2].cPropertyInfos, 0u);
  }
  {
    DBPROPIDSET request = IDSet(DBPROPSET_TABLE, none);
    TPropInfoResult out;
    EXPECT_EQ(storage->GetPropertyInfo(1, &request, &out.Count, &out.Sets, &out.Descriptions), DB_E_ERRORSOCCURRED);
    EXPECT_EQ(out.Count, 1u);
    EXPECT_EQ(out.Descriptions, nullptr);
  }
  {  // no place for descriptions; whole-set answer leaves hidden sets out
    TPropInfoResult out;
    EXPECT_EQ(storage->GetPropertyInfo(0, nullptr, &out.Count, &out.Sets, nullptr), S_OK);
    ASSERT_EQ(out.Count, 1u);
    EXPECT_TRUE(IsEqualGUID(out.Sets[0].guidPropertySet, DBPROPSET_DBINIT));
    EXPECT_EQ(out.Sets[0].rgPropertyInfos[0].pwszDescription, nullptr);
  }
  TPropInfoResult out;
  DBPROPIDSET broken{nullptr, 1, DBPROPSET_DBINIT};
  EXPECT_EQ(CodeOf([&] { storage->GetPropertyInfo(1, &broken, &out.Count, &out.Sets, &out.Descriptions); }),
            E_INVALIDARG);
  EXPECT_EQ(CodeOf([&] { storage->GetPropertyInfo(0, nullptr, nullptr, &out.Sets, nullptr); }), E_INVALIDARG);
}

// --- storage: writing -----------------------------------------------------

TEST(PropertiesStorage, SetValueRules) {
  auto storage = MakeDatasourceStorage();
  TOleDbPropertySets& sets = storage->PropertySets();
  auto setOne = [&](REFGUID guid, DBPROP prop, DBPROPSTATUS expected) {
    DBPROPSET request{&prop, 1, guid};
    HRESULT hr = storage->SetProperties(1, &request, false);
    EXPECT_EQ(prop.dwStatus, expected) << prop.dwPropertyID;
    return hr;
  };
  TOleDbVariant shortTimeout = I2(15), badTimeout = Text(L"15"), empty;
  EXPECT_EQ(setOne(DBPROPSET_DBINIT, Prop(DBPROP_INIT_TIMEOUT, shortTimeout), DBPROPSTATUS_OK), S_OK);
  TOleDbVariant stored;
  sets.GetValue(DBPROPSET_DBINIT, DBPROP_INIT_TIMEOUT, stored.Get());
  EXPECT_EQ(stored.Type(), VT_I4);  // kept in the property's own type
  EXPECT_EQ(V_I4(&stored.Get()), 15);
  EXPECT_EQ(setOne(DBPROPSET_DBINIT, Prop(DBPROP_INIT_TIMEOUT, badTimeout), DBPROPSTATUS_BADVALUE),
            DB_E_ERRORSOCCURRED);

  // The keep-default property reports VT_EMPTY again after a reset.
  TOleDbVariant mode = I4(DB_MODE_READ);
  setOne(DBPROPSET_DBINIT, Prop(DBPROP_INIT_MODE, mode), DBPROPSTATUS_OK);
  std::vector<DBPROPID> modeID = {DBPROP_INIT_MODE};
  DBPROPIDSET modeRequest = IDSet(DBPROPSET_DBINIT, modeID);
  {
    TPropSetsResult out;
    storage->GetProperties(1, &modeRequest, &out.Count, &out.Sets);
    EXPECT_EQ(V_I4(&out.Sets[0].rgProperties[0].vValue), DB_MODE_READ);
  }
  setOne(DBPROPSET_DBINIT, Prop(DBPROP_INIT_MODE, empty), DBPROPSTATUS_OK);
  {
    TPropSetsResult out;
    storage->GetProperties(1, &modeRequest, &out.Count, &out.Sets);
    EXPECT_EQ(V_VT(&out.Sets[0].rgProperties[0].vValue), VT_EMPTY);
  }

  // Valid values restrict what is accepted.
  TOleDbProperty& prompt = *sets.FindSet(DBPROPSET_DBINIT)->FindByID(DBPROP_INIT_PROMPT);
  SAFEARRAY* allowed = SafeArrayCreateVector(VT_I2, 0, 2);
  SHORT* values = nullptr;
  SafeArrayAccessData(allowed, reinterpret_cast<void**>(&values));
  values[0] = DBPROMPT_NOPROMPT;
  values[1] = DBPROMPT_COMPLETE;
  SafeArrayUnaccessData(allowed);
  V_VT(&prompt.ValidValues.Get()) = VT_ARRAY | VT_I2;
  V_ARRAY(&prompt.ValidValues.Get()) = allowed;
  TOleDbVariant complete = I2(DBPROMPT_COMPLETE), always = I2(DBPROMPT_PROMPT);
  EXPECT_EQ(setOne(DBPROPSET_DBINIT, Prop(DBPROP_INIT_PROMPT, complete), DBPROPSTATUS_OK), S_OK);
  EXPECT_EQ(setOne(DBPROPSET_DBINIT, Prop(DBPROP_INIT_PROMPT, always), DBPROPSTATUS_BADVALUE), DB_E_ERRORSOCCURRED);

  // Initialised arrangement: read-only sets accept only the current value.
  sets.SetAllStates(TOleDbPropertySetState::ReadOnly);
  sets.FindSet(DBPROPSET_DATASOURCE)->State = TOleDbPropertySetState::Normal;
  sets.PutValue(DBPROPSET_DBINIT, DBPROP_INIT_DATASOURCE, Text(L"C:\\logs").Get());
  TOleDbVariant same = Text(L"C:\\logs"), other = Text(L"D:\\logs"), catalog = Text(L"x");
  EXPECT_EQ(setOne(DBPROPSET_DBINIT, Prop(DBPROP_INIT_DATASOURCE, other), DBPROPSTATUS_NOTSETTABLE),
            DB_E_ERRORSOCCURRED);
  EXPECT_EQ(setOne(DBPROPSET_DBINIT, Prop(DBPROP_INIT_DATASOURCE, same), DBPROPSTATUS_OK), S_OK);
  EXPECT_EQ(setOne(DBPROPSET_DATASOURCE, Prop(DBPROP_CURRENTCATALOG, catalog), DBPROPSTATUS_OK), S_OK);
  TOleDbVariant yes = Bool(true), no = Bool(false);
  sets.FindSet(DBPROPSET_ROWSET)->State = TOleDbPropertySetState::Normal;
  EXPECT_EQ(setOne(DBPROPSET_ROWSET, Prop(DBPROP_IAccessor, yes), DBPROPSTATUS_OK), S_OK);  // no WRITE flag
  EXPECT_EQ(setOne(DBPROPSET_ROWSET, Prop(DBPROP_IAccessor, no), DBPROPSTATUS_NOTSETTABLE), DB_E_ERRORSOCCURRED);
}

TEST(PropertiesStorage, SetPropertiesSummaryAndHandler) {
  auto storage = MakeRowsetStorage();
  TOleDbPropertySets& sets = storage->PropertySets();
  TVetoHandler handler;
  handler.VetoedID = DBPROP_CANHOLDROWS;
  sets.BindHandlers(&handler);
  TDebugCapture debug;

  TOleDbVariant yes = Bool(true), no = Bool(false);
  DBPROP props[] = {Prop(DBPROP_BOOKMARKS, yes), Prop(4242, yes), Prop(DBPROP_CANHOLDROWS, no)};
  DBPROPSET request{props, 3, DBPROPSET_ROWSET};
  EXPECT_EQ(storage->SetProperties(1, &request, false), DB_S_ERRORSOCCURRED);
  EXPECT_EQ(props[0].dwStatus, DBPROPSTATUS_OK);
  EXPECT_EQ(props[1].dwStatus, DBPROPSTATUS_NOTSUPPORTED);
  EXPECT_EQ(props[2].dwStatus, DBPROPSTATUS_CONFLICTING);
  TOleDbVariant value;
  sets.GetValue(DBPROPSET_ROWSET, DBPROP_CANHOLDROWS, value.Get());
  EXPECT_EQ(V_BOOL(&value.Get()), VARIANT_TRUE);  // vetoed value not stored
  EXPECT_TRUE(debug.Has("This property is not supported. PropID=4242"));
  EXPECT_TRUE(debug.Has("Could not set property PropID:19 Property:{C8B522BE-5CF3-11CE-ADE5-00AA0044773D} "
                        "PropSet.Items[0].Name:IAccessor"));

  // A required failure fails the whole request under the switch; set values stay.
  DBPROP required[] = {Prop(DBPROP_CANSCROLLBACKWARDS, no), Prop(4242, yes, DBPROPOPTIONS_REQUIRED)};
  DBPROPSET strict{required, 2, DBPROPSET_ROWSET};
  EXPECT_EQ(storage->SetProperties(1, &strict, true), DB_E_ERRORSOCCURRED);
  sets.GetValue(DBPROPSET_ROWSET, DBPROP_CANSCROLLBACKWARDS, value.Get());
  EXPECT_EQ(V_BOOL(&value.Get()), VARIANT_FALSE);
  EXPECT_EQ(storage->SetProperties(1, &strict, false), DB_S_ERRORSOCCURRED);

  // All failed: an error when setting values, a warning for a new object
  // as long as every failed property was optional.
  DBPROP optional[] = {Prop(4242, yes), Prop(DBPROP_CANHOLDROWS, no)};
  DBPROPSET lenient{optional, 2, DBPROPSET_ROWSET};
  EXPECT_EQ(storage->SetProperties(1, &lenient, false), DB_E_ERRORSOCCURRED);
  EXPECT_EQ(storage->SetProperties(1, &lenient, true), DB_S_ERRORSOCCURRED);
  optional[1].dwOptions = DBPROPOPTIONS_REQUIRED;
  EXPECT_EQ(storage->SetProperties(1, &lenient, true), DB_E_ERRORSOCCURRED);

  DBPROPSET emptySet{nullptr, 0, DBPROPSET_ROWSET};
  EXPECT_EQ(storage->SetProperties(1, &emptySet, false), DB_E_ERRORSOCCURRED);
  EXPECT_EQ(storage->SetProperties(1, &emptySet, true), S_OK);
  EXPECT_EQ(storage->SetProperties(0, nullptr, false), S_OK);
  DBPROPSET broken{nullptr, 1, DBPROPSET_ROWSET};
  EXPECT_EQ(CodeOf([&] { storage->SetProperties(1, &broken, false); }), E_INVALIDARG);
  EXPECT_EQ(CodeOf([&] { storage->SetProperties(1, nullptr, false); }), E_INVALIDARG);
}

TEST(PropertiesStorage, ApplyingACommandsPropertiesToARowset) {
  auto command = MakeRowsetStorage();
  auto rowset = MakeRowsetStorage();
  TOleDbPropertySets& source = command->PropertySets();
  TOleDbPropertySet& commandRowset = *source.FindSet(DBPROPSET_ROWSET);
  commandRowset.AddDefault(DBPROP_MAXROWS);  // the rowset lacks it
  source.PutValue(DBPROPSET_ROWSET, DBPROP_BOOKMARKS, Bool(true).Get());
  source.PutValue(DBPROPSET_ROWSET, DBPROP_CANHOLDROWS, Bool(false).Get());
  TVetoHandler handler;
  handler.VetoedID = DBPROP_CANHOLDROWS;
  rowset->PropertySets().BindHandlers(&handler);

  EXPECT_EQ(rowset->ApplyPropertySets(source, false), DB_S_ERRORSOCCURRED);
  TOleDbVariant value;
  rowset->PropertySets().GetValue(DBPROPSET_ROWSET, DBPROP_BOOKMARKS, value.Get());
  EXPECT_EQ(V_BOOL(&value.Get()), VARIANT_TRUE);

  std::vector<DBPROPID> none;
  DBPROPIDSET request = IDSet(DBPROPSET_PROPERTIESINERROR, none);
  {
    TPropSetsResult out;
    ASSERT_EQ(command->GetProperties(1, &request, &out.Count, &out.Sets), S_OK);
    ASSERT_EQ(out.Count, 1u);
    ASSERT_EQ(out.Sets[0].cProperties, 2u);
    EXPECT_EQ(out.Sets[0].rgProperties[0].dwPropertyID, DBPROP_CANHOLDROWS);
    EXPECT_EQ(out.Sets[0].rgProperties[0].dwStatus, DBPROPSTATUS_CONFLICTING);
    EXPECT_EQ(out.Sets[0].rgProperties[1].dwPropertyID, DBPROP_MAXROWS);
    EXPECT_EQ(out.Sets[0].rgProperties[1].dwStatus, DBPROPSTATUS_NOTSUPPORTED);
  }
  // The error set is not an ordinary set of the command.
  {
    TPropSetsResult out;
    command->GetProperties(0, nullptr, &out.Count, &out.Sets);
    EXPECT_EQ(out.Count, 1u);
  }
  // A required failure under the switch; the error set is rebuilt, not appended.
  commandRowset.FindByID(DBPROP_MAXROWS)->Options = DBPROPOPTIONS_REQUIRED;
  handler.VetoedID = 0;
  EXPECT_EQ(rowset->ApplyPropertySets(source, true), DB_E_ERRORSOCCURRED);
  EXPECT_EQ(source.FindSet(DBPROPSET_PROPERTIESINERROR)->Count(), 1u);
  source.FindSet(DBPROPSET_ROWSET)->Clear();
  source.FindSet(DBPROPSET_ROWSET)->AddDefault(DBPROP_BOOKMARKS);
  EXPECT_EQ(rowset->ApplyPropertySets(source, true), S_OK);
  EXPECT_EQ(source.FindSet(DBPROPSET_PROPERTIESINERROR)->Count(), 0u);
  {
    TPropSetsResult out;
    EXPECT_EQ(command->GetProperties(1, &request, &out.Count, &out.Sets), S_OK);  // present though empty
    EXPECT_EQ(out.Count, 1u);
  }

  TOleDbPropertySets nothing;
  EXPECT_EQ(rowset->ApplyPropertySets(nothing, true), S_OK);
  EXPECT_EQ(rowset->ApplyPropertySets(nothing, true), S_OK);
  EXPECT_NE(nothing.FindSet(DBPROPSET_PROPERTIESINERROR), nullptr);
}
