#include <gtest/gtest.h>

#include <oledberr.h>

#include <cwchar>

#include "OLEDbDBID.h"
#include "OLEDbError.h"

namespace {
const GUID GuidA = {0x11111111, 0x2222, 0x3333, {0x44, 0x44, 0x55, 0x55, 0x55, 0x55, 0x55, 0x55}};
const GUID GuidB = {0x11111111, 0x2222, 0x3333, {0x44, 0x44, 0x55, 0x55, 0x55, 0x55, 0x55, 0x56}};

DBID Id(DBKIND kind, const wchar_t* name = nullptr, ULONG propid = 0) {
  DBID id{};
  id.eKind = kind;
  if (DBIDHasPointerGuid(kind))
    id.uGuid.pguid = const_cast<GUID*>(&GuidA);
  else
    id.uGuid.guid = GuidA;
  if (DBIDHasName(kind))
    id.uName.pwszName = const_cast<wchar_t*>(name);
  else
    id.uName.ulPropid = propid;
  return id;
}

HRESULT CodeOf(void (*body)(const DBID&), const DBID& id) {
  try {
    body(id);
    return S_OK;
  } catch (const EOleDbException& e) {
    return e.ErrorCode;
  } catch (const EOleError& e) {
    return e.ErrorCode();
  }
}
}  // namespace

TEST(DBIDCopy, EveryKindSurvivesAssignAndExport) {
  const wchar_t name[] = L"Subject";
  const DBID sources[] = {Id(DBKIND_GUID_NAME, name), Id(DBKIND_GUID_PROPID, nullptr, 7), Id(DBKIND_NAME, name),
                          Id(DBKIND_PGUID_NAME, name), Id(DBKIND_PGUID_PROPID, nullptr, 9),
                          Id(DBKIND_PROPID, nullptr, 11), Id(DBKIND_GUID)};
  for (const DBID& source : sources) {
    SCOPED_TRACE(source.eKind);
    TOleDbDBID copy;
    copy.Assign(source);
    EXPECT_EQ(copy.Kind, source.eKind + 1);
    EXPECT_TRUE(copy.Equals(source));

    DBID exported{};
    ASSERT_TRUE(copy.ExportTo(exported));
    EXPECT_TRUE(DBIDEquals(exported, source));
    if (DBIDHasName(source.eKind)) {
      EXPECT_NE(exported.uName.pwszName, source.uName.pwszName);  // a deep copy
      EXPECT_STREQ(exported.uName.pwszName, name);
    }
    if (DBIDHasPointerGuid(source.eKind)) {
      EXPECT_NE(exported.uGuid.pguid, &GuidA);  // a block of its own
      EXPECT_TRUE(IsEqualGUID(*exported.uGuid.pguid, GuidA));
    }
    DBIDRelease(exported);
    EXPECT_EQ(exported.eKind, 0u);
    EXPECT_EQ(exported.uName.pwszName, nullptr);
  }
}

TEST(DBIDCopy, ExportReplacesWhatTheTargetHeld) {
  TOleDbDBID byPropid;
  byPropid.Assign(Id(DBKIND_PROPID, nullptr, 42));
  DBID target{};
  TOleDbDBID byName;
  byName.Assign(Id(DBKIND_PGUID_NAME, L"old"));
  ASSERT_TRUE(byName.ExportTo(target));
  ASSERT_TRUE(byPropid.ExportTo(target));  // frees the old name and GUID block
  EXPECT_EQ(target.eKind, static_cast<DBKIND>(DBKIND_PROPID));
  EXPECT_EQ(target.uName.ulPropid, 42u);
  EXPECT_TRUE(IsEqualGUID(target.uGuid.guid, GUID_NULL));
  DBIDRelease(target);
}

TEST(DBIDCopy, EmptyWrapperExportsNothingAndEqualsNothing) {
  TOleDbDBID empty;
  DBID untouched = Id(DBKIND_PROPID, nullptr, 5);
  EXPECT_FALSE(empty.ExportTo(untouched));
  EXPECT_EQ(untouched.uName.ulPropid, 5u);
  DBID zeroed{};  // DBKIND_GUID_NAME, GUID_NULL, no name
  EXPECT_FALSE(empty.Equals(zeroed));

  TOleDbDBID cleared;
  cleared.Assign(Id(DBKIND_GUID_NAME, L"x"));
  cleared.Clear();
  EXPECT_TRUE(cleared.IsEmpty());
  EXPECT_TRUE(cleared.Name.empty());
  EXPECT_TRUE(IsEqualGUID(cleared.Guid, GUID_NULL));
}

TEST(DBIDCopy, MalformedIdentifiersAreRefused) {
  DBID unknownKind = Id(DBKIND_GUID);
  unknownKind.eKind = 7;
  try {
    TOleDbDBID copy;
    copy.Assign(unknownKind);
    FAIL() << "no exception";
  } catch (const EOleError& e) {
    EXPECT_EQ(e.ErrorCode(), E_FAIL);
    EXPECT_EQ(e.Message(), L"Invalid DBID format");
  }
  DBID noGuid = Id(DBKIND_PGUID_PROPID, nullptr, 1);
  noGuid.uGuid.pguid = nullptr;
  EXPECT_EQ(CodeOf([](const DBID& id) { TOleDbDBID().Assign(id); }, noGuid), E_INVALIDARG);
}

TEST(DBIDCompare, FieldsThatMatterForEachKind) {
  // Names are case-sensitive; a null name is the empty name.
  EXPECT_FALSE(DBIDEquals(Id(DBKIND_NAME, L"Name"), Id(DBKIND_NAME, L"name")));
  EXPECT_TRUE(DBIDEquals(Id(DBKIND_NAME, nullptr), Id(DBKIND_NAME, L"")));
  // Kinds must agree even when the content would.
  EXPECT_FALSE(DBIDEquals(Id(DBKIND_GUID_PROPID, nullptr, 3), Id(DBKIND_PGUID_PROPID, nullptr, 3)));
  EXPECT_FALSE(DBIDEquals(Id(DBKIND_PROPID, nullptr, 3), Id(DBKIND_PROPID, nullptr, 4)));

  // Pointed-to GUIDs compare by value, not by address.
  GUID copyOfA = GuidA;
  DBID byPointer = Id(DBKIND_PGUID_NAME, L"n");
  byPointer.uGuid.pguid = &copyOfA;
  EXPECT_TRUE(DBIDEquals(byPointer, Id(DBKIND_PGUID_NAME, L"n")));
  GUID other = GuidB;
  byPointer.uGuid.pguid = &other;
  EXPECT_FALSE(DBIDEquals(byPointer, Id(DBKIND_PGUID_NAME, L"n")));
  byPointer.uGuid.pguid = nullptr;
  EXPECT_FALSE(DBIDEquals(byPointer, Id(DBKIND_PGUID_NAME, L"n")));

  // Identifiers of the GUID kind are told apart by their GUID.
  DBID guidB = Id(DBKIND_GUID);
  guidB.uGuid.guid = GuidB;
  EXPECT_FALSE(DBIDEquals(guidB, Id(DBKIND_GUID)));
  TOleDbDBID guidA;
  guidA.Assign(Id(DBKIND_GUID));
  EXPECT_FALSE(guidA.Equals(guidB));

  // The inline GUID matters for GUID_NAME.
  DBID nameB = Id(DBKIND_GUID_NAME, L"n");
  nameB.uGuid.guid = GuidB;
  TOleDbDBID nameA;
  nameA.Assign(Id(DBKIND_GUID_NAME, L"n"));
  EXPECT_FALSE(nameA.Equals(nameB));
  EXPECT_TRUE(nameA.Equals(Id(DBKIND_GUID_NAME, L"n")));
}

TEST(DBIDTableCheck, NamesAndRefusals) {
  std::wstring table = L"stale", index = L"stale";
  const DBID tableId = Id(DBKIND_NAME, L"mail.log");
  const DBID indexId = Id(DBKIND_GUID_PROPID, nullptr, 1);
  CheckTableAndIndexID(&tableId, &indexId, table, index);
  EXPECT_EQ(table, L"mail.log");
  EXPECT_EQ(index, L"");

  auto code = [](const DBID* t, const DBID* i) {
    std::wstring a, b;
    try {
      CheckTableAndIndexID(t, i, a, b);
      return S_OK;
    } catch (const EOleDbException& e) {
      return e.ErrorCode;
    }
  };
  const DBID nameless = Id(DBKIND_NAME, nullptr);
  EXPECT_EQ(code(nullptr, nullptr), E_INVALIDARG);
  EXPECT_EQ(code(&nameless, nullptr), DB_E_NOTABLE);
  EXPECT_EQ(code(&tableId, &nameless), DB_E_NOINDEX);
  EXPECT_EQ(code(nullptr, &indexId), S_OK);
}
