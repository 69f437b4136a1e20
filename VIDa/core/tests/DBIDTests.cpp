#include <gtest/gtest.h>

#include <oledberr.h>

#include "OLEDbDBID.h"
#include "OLEDbError.h"

namespace {
const GUID GuidA = {0x11111111, 0x2222, 0x3333, {0x44, 0x44, 0x55, 0x55, 0x55, 0x55, 0x55, 0x55}};
const GUID GuidB = {0x11111111, 0x2222, 0x3333, {0x44, 0x44, 0x55, 0x55, 0x55, 0x55, 0x55, 0x56}};

DBID Id(DBKIND kind, const wchar_t* name = nullptr, ULONG propid = 0, const GUID& guid = GuidA) {
  DBID id{};
  id.eKind = kind;
  if (DBIDHasPointerGuid(kind))
    id.uGuid.pguid = const_cast<GUID*>(&guid);
  else
    id.uGuid.guid = guid;
  if (DBIDHasName(kind))
    id.uName.pwszName = const_cast<wchar_t*>(name);
  else
    id.uName.ulPropid = propid;
  return id;
}

HRESULT AssignCode(const DBID& id) {
  try {
    TOleDbDBID().Assign(id);
    return S_OK;
  } catch (const EOleDbException& e) {
    return e.ErrorCode;
  } catch (const EOleError& e) {
    EXPECT_EQ(e.Message(), L"Invalid DBID format");
    return e.ErrorCode();
  }
}
}  // namespace

TEST(DBIDCopy, EveryKindSurvivesAssignAndExport) {
  const wchar_t name[] = L"Subject";
  for (DBKIND kind = DBKIND_GUID_NAME; kind <= DBKIND_GUID; ++kind) {
    SCOPED_TRACE(kind);
    const DBID source = Id(kind, name, 7);
    TOleDbDBID copy;
    copy.Assign(source);
    EXPECT_EQ(copy.Kind, kind + 1);
    EXPECT_TRUE(copy.Equals(source));

    DBID exported = Id(DBKIND_PROPID, nullptr, 1);  // whatever it held is replaced
    ASSERT_TRUE(copy.ExportTo(exported));
    EXPECT_TRUE(DBIDEquals(exported, source));
    if (DBIDHasName(kind)) {
      EXPECT_NE(exported.uName.pwszName, name);  // a task-memory copy
      EXPECT_STREQ(exported.uName.pwszName, name);
    }
    if (DBIDHasPointerGuid(kind)) {
      EXPECT_NE(exported.uGuid.pguid, &GuidA);
    }
    DBIDRelease(exported);
    EXPECT_EQ(exported.uName.pwszName, nullptr);
  }
}

TEST(DBIDCopy, MalformedIdentifiersAreRefused) {
  DBID unknownKind = Id(DBKIND_GUID);
  unknownKind.eKind = 7;
  EXPECT_EQ(AssignCode(unknownKind), E_FAIL);
  DBID noGuid = Id(DBKIND_PGUID_PROPID);
  noGuid.uGuid.pguid = nullptr;
  EXPECT_EQ(AssignCode(noGuid), E_INVALIDARG);

  TOleDbDBID empty;
  DBID untouched = Id(DBKIND_PROPID, nullptr, 5);
  EXPECT_FALSE(empty.ExportTo(untouched));
  EXPECT_EQ(untouched.uName.ulPropid, 5u);
  EXPECT_FALSE(empty.Equals(DBID{}));  // a zeroed DBID is no match for "no identifier"
}

TEST(DBIDCompare, FieldsThatMatterForEachKind) {
  EXPECT_FALSE(DBIDEquals(Id(DBKIND_NAME, L"Name"), Id(DBKIND_NAME, L"name")));
  EXPECT_TRUE(DBIDEquals(Id(DBKIND_NAME, nullptr), Id(DBKIND_NAME, L"")));
  EXPECT_FALSE(DBIDEquals(Id(DBKIND_GUID_PROPID, nullptr, 3), Id(DBKIND_PGUID_PROPID, nullptr, 3)));
  EXPECT_FALSE(DBIDEquals(Id(DBKIND_GUID_NAME, L"n"), Id(DBKIND_GUID_NAME, L"n", 0, GuidB)));
  // Pointed-to GUIDs compare by value; a missing one matches nothing real.
  const GUID copyOfA = GuidA;
  EXPECT_TRUE(DBIDEquals(Id(DBKIND_PGUID_NAME, L"n", 0, copyOfA), Id(DBKIND_PGUID_NAME, L"n")));
  EXPECT_FALSE(DBIDEquals(Id(DBKIND_PGUID_NAME, L"n", 0, GuidB), Id(DBKIND_PGUID_NAME, L"n")));
  DBID noGuid = Id(DBKIND_PGUID_NAME, L"n");
  noGuid.uGuid.pguid = nullptr;
  EXPECT_FALSE(DBIDEquals(noGuid, Id(DBKIND_PGUID_NAME, L"n")));
  // GUID identifiers are told apart by their GUID.
  TOleDbDBID guidA;
  guidA.Assign(Id(DBKIND_GUID));
  EXPECT_FALSE(guidA.Equals(Id(DBKIND_GUID, nullptr, 0, GuidB)));
  EXPECT_FALSE(DBIDEquals(Id(DBKIND_GUID), Id(DBKIND_GUID, nullptr, 0, GuidB)));
}

TEST(DBIDTableCheck, NamesAndRefusals) {
  auto check = [](const DBID* table, const DBID* index, std::wstring* name = nullptr) {
    std::wstring t, i;
    try {
      CheckTableAndIndexID(table, index, t, i);
    } catch (const EOleDbException& e) {
      return e.ErrorCode;
    }
    if (name) *name = t + L"|" + i;
    return S_OK;
  };
  const DBID table = Id(DBKIND_NAME, L"mail.log"), byPropid = Id(DBKIND_GUID_PROPID, nullptr, 1);
  const DBID nameless = Id(DBKIND_NAME, nullptr);
  std::wstring names;
  EXPECT_EQ(check(&table, &byPropid, &names), S_OK);
  EXPECT_EQ(names, L"mail.log|");
  EXPECT_EQ(check(nullptr, nullptr), E_INVALIDARG);
  EXPECT_EQ(check(&nameless, nullptr), DB_E_NOTABLE);
  EXPECT_EQ(check(&table, &nameless), DB_E_NOINDEX);
}
