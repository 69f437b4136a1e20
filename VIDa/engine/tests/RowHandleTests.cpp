#include <gtest/gtest.h>

#include <oledberr.h>

#include <algorithm>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "OLEDbError.h"
#include "OLEDbPendingRows.h"
#include "OLEDbRowHandles.h"

namespace {
// Records the events; keeps the handles whose rows are pending in its map.
class TRecordingListener : public TOleDbRowHandleEventsListener {
public:
  void RowHandleStateChanged(TOleDbRowHandle& handle, bool active) override {
    Log += (active ? "on:" : "off:") + std::to_string(handle.RowValue()) + " ";
  }
  void QueryKeepRowHandle(TOleDbRowHandle& handle, bool& keep) override {
    Log += "ask:" + std::to_string(handle.RowValue()) + " ";
    if (Pending) Pending->ShouldKeep(handle, keep);
  }
  std::string Log;
  TOleDbPendingRows* Pending = nullptr;
};

class RowHandleStorageTest : public ::testing::Test {
protected:
  // A row as the engine hands it out: one reference.
  HROW Fetch(std::int32_t rowValue) {
    TOleDbRowHandle& handle = Storage.Handles().CreateHandle(rowValue);
    handle.AddRef();
    return handle.HRow();
  }
  TOleDbRowHandles& Handles() { return Storage.Handles(); }

  TOleDbRowHandleStorage Storage{std::make_unique<TOleDbRowHandles>()};
};
}  // namespace

TEST_F(RowHandleStorageTest, RefCountsRiseAndFallUntilTheHandleIsGone) {
  const HROW row = Fetch(7);
  ASSERT_NE(row, DB_NULL_HROW);
  DBREFCOUNT count = 99;
  DBROWSTATUS status = 99;
  EXPECT_EQ(Storage.AddRefRows(1, &row, &count, &status), S_OK);
  EXPECT_EQ(count, 2u);
  EXPECT_EQ(status, DBROWSTATUS_S_OK);
  EXPECT_EQ(Storage.ReleaseRows(1, &row, nullptr, &count, &status), S_OK);
  EXPECT_EQ(count, 1u);
  EXPECT_EQ(Handles().FindHandle(row)->RowValue(), 7);
  EXPECT_EQ(Storage.ReleaseRows(1, &row, nullptr, &count, &status), S_OK);
  EXPECT_EQ(count, 0u);
  EXPECT_EQ(Handles().FindHandle(row), nullptr);
  EXPECT_EQ(Handles().Count(), 0u);

  // Stale: released, then used again.
  count = 99;
  EXPECT_EQ(Storage.ReleaseRows(1, &row, nullptr, &count, &status), DB_E_ERRORSOCCURRED);
  EXPECT_EQ(status, DBROWSTATUS_E_INVALID);
  EXPECT_EQ(count, 0u);
  EXPECT_EQ(Storage.AddRefRows(1, &row, nullptr, &status), DB_E_ERRORSOCCURRED);
  EXPECT_EQ(status, DBROWSTATUS_E_INVALID);
}

TEST_F(RowHandleStorageTest, UnknownHandlesAreReportedPerRow) {
  const HROW row = Fetch(1);
  TOleDbRowHandleStorage other(std::make_unique<TOleDbRowHandles>());
  const HROW foreign = other.Handles().CreateHandle(1).HRow();
  const HROW neverIssued = foreign + 1000;
  std::vector<HROW> rows = {0, row, foreign, neverIssued};
  // A 64-bit value whose low half is a live number.
  if constexpr (sizeof(HROW) > 4) rows.push_back(static_cast<HROW>(row | (std::uint64_t{1} << 32)));
  std::vector<DBREFCOUNT> counts(rows.size(), 99);
  std::vector<DBROWSTATUS> statuses(rows.size(), 99);

  EXPECT_EQ(Storage.AddRefRows(rows.size(), rows.data(), counts.data(), statuses.data()), DB_S_ERRORSOCCURRED);
  for (std::size_t i = 0; i < rows.size(); ++i) {
    EXPECT_EQ(statuses[i], i == 1 ? DBROWSTATUS_S_OK : DBROWSTATUS_E_INVALID) << i;
    EXPECT_EQ(counts[i], i == 1 ? 2u : 0u) << i;
  }
  // The foreign rowset's handle is untouched.
  EXPECT_EQ(other.Handles().FindHandle(foreign)->RefCount(), 0);

  const HROW invalidOnly[] = {0, neverIssued};
  EXPECT_EQ(Storage.ReleaseRows(2, invalidOnly, nullptr, nullptr, nullptr), DB_E_ERRORSOCCURRED);
  EXPECT_EQ(Handles().FindHandle(row)->RefCount(), 2);
}

TEST_F(RowHandleStorageTest, ChecksCountsAndArrays) {
  const HROW row = Fetch(1);
  EXPECT_EQ(Storage.AddRefRows(0, nullptr, nullptr, nullptr), S_OK);
  EXPECT_EQ(Storage.ReleaseRows(0, &row, nullptr, nullptr, nullptr), S_OK);
  EXPECT_EQ(Handles().FindHandle(row)->RefCount(), 1);
  try {
    Storage.ReleaseRows(1, nullptr, nullptr, nullptr, nullptr);
    FAIL() << "null row array accepted";
  } catch (const EOleDbException& e) {
    EXPECT_EQ(e.ErrorCode, E_INVALIDARG);
  }
  // A row listed twice is released twice; the second finds it gone.
  const HROW twice[] = {row, row};
  DBROWSTATUS statuses[2] = {99, 99};
  EXPECT_EQ(Storage.ReleaseRows(2, twice, nullptr, nullptr, statuses), DB_S_ERRORSOCCURRED);
  EXPECT_EQ(statuses[0], DBROWSTATUS_S_OK);
  EXPECT_EQ(statuses[1], DBROWSTATUS_E_INVALID);
}

TEST(RowHandleStorage, RequiresAHandleList) {
  try {
    TOleDbRowHandleStorage storage(nullptr);
    FAIL() << "storage without handles";
  } catch (const EOleError& e) {
    EXPECT_EQ(e.ErrorCode(), E_FAIL);
    EXPECT_EQ(e.Message(), L"RowHandles must be defined");
  }
}

TEST(RowHandles, RecycledHandleObjectsGetNewNumbers) {
  TOleDbRowHandles handles;
  TOleDbRowHandle& first = handles.CreateHandle(3);
  EXPECT_EQ(first.RefCount(), 0);
  const HROW oldRow = first.HRow();
  handles.DestroyHandle(first);
  handles.DestroyHandle(first);  // twice is harmless
  TOleDbRowHandle& second = handles.CreateHandle();
  EXPECT_EQ(&second, &first);  // the pooled object comes back...
  EXPECT_NE(second.HRow(), oldRow);  // ...under a new number
  EXPECT_EQ(second.RowValue(), -1);
  EXPECT_EQ(handles.FindHandle(oldRow), nullptr);
  EXPECT_EQ(handles.FindHandle(second.HRow()), &second);
  EXPECT_EQ(&second.Handles(), &handles);
}

// Handles are listed in the order of their HROWs' decimal texts, also after
// others came and went between two listings.
TEST(RowHandles, ListsHandlesInDecimalTextOrder) {
  TOleDbRowHandles handles;
  std::vector<TOleDbRowHandle*> made;
  for (int i = 0; i < 300; ++i) made.push_back(&handles.CreateHandle(i));
  for (int round = 0; round < 2; ++round) {
    for (std::size_t i = round; i < made.size(); i += 7) handles.DestroyHandle(*made[i]);
    for (int i = 0; i < 20; ++i) handles.CreateHandle(1000 + i);
    std::vector<std::string> texts;
    for (std::size_t i = 0; i < handles.Count(); ++i)
      texts.push_back(std::to_string(static_cast<std::int32_t>(handles.HandleAt(i).HRow())));
    std::vector<std::string> sorted = texts;
    std::sort(sorted.begin(), sorted.end());
    EXPECT_EQ(texts, sorted);
    EXPECT_EQ(std::set<std::string>(texts.begin(), texts.end()).size(), texts.size());
  }
  EXPECT_THROW(handles.HandleAt(handles.Count()), EHandleMapError);
}

TEST(RowHandleEvents, FirstReferenceAndFinalReleaseAreReported) {
  TOleDbRowHandles handles;
  TRecordingListener first, second;
  handles.AddListener(first);
  handles.AddListener(second);
  TOleDbRowHandle& handle = handles.CreateHandle(4);
  EXPECT_EQ(first.Log, "");  // creation alone is no event
  EXPECT_EQ(handle.AddRef(), 1);
  EXPECT_EQ(handle.AddRef(), 2);
  EXPECT_EQ(handle.Release(), 1);
  EXPECT_EQ(first.Log, "on:4 ");
  EXPECT_EQ(handle.Release(), 0);
  EXPECT_EQ(first.Log, "on:4 ask:4 off:4 ");
  EXPECT_EQ(second.Log, "on:4 ask:4 off:4 ");
  EXPECT_EQ(handles.Count(), 0u);

  handles.RemoveListener(first);
  handles.CreateHandle(5).AddRef();
  EXPECT_EQ(first.Log, "on:4 ask:4 off:4 ");
  EXPECT_EQ(second.Log, "on:4 ask:4 off:4 on:5 ");
}

TEST(RowHandleEvents, PendingRowsSurviveTheirLastRelease) {
  TOleDbRowHandles handles;
  TOleDbPendingRows pending;
  TRecordingListener keeper, later;
  keeper.Pending = &pending;
  handles.AddListener(keeper);
  handles.AddListener(later);
  TOleDbRowHandle& handle = handles.CreateHandle(8);
  const HROW row = handle.HRow();
  handle.AddRef();
  pending.SetState(8, TOleDbPendingState::Changed);
  EXPECT_EQ(handle.Release(), 0);
  ASSERT_EQ(handles.FindHandle(row), &handle);
  EXPECT_EQ(handle.RefCount(), 0);
  EXPECT_EQ(later.Log, "on:8 ");  // the first listener kept it: nobody else is asked

  // Once the change is undone the engine's extra release destroys it.
  pending.SetState(8, TOleDbPendingState::Unchanged);
  EXPECT_EQ(handle.Release(), 0);
  EXPECT_EQ(handles.FindHandle(row), nullptr);
  EXPECT_EQ(later.Log, "on:8 ask:8 off:8 ");
}

TEST(RowHandleEvents, SuspendedAndClearedListsCallNobody) {
  TOleDbRowHandles handles;
  TOleDbPendingRows pending;
  TRecordingListener listener;
  listener.Pending = &pending;
  handles.AddListener(listener);
  pending.SetState(1, TOleDbPendingState::New);

  handles.SuspendEvents();
  handles.SuspendEvents();
  handles.ResumeEvents();
  EXPECT_EQ(handles.SuspendCount(), 1);
  TOleDbRowHandle& handle = handles.CreateHandle(1);
  handle.AddRef();
  EXPECT_EQ(handle.Release(), 0);  // nobody asked to keep it
  EXPECT_EQ(handles.Count(), 0u);
  handles.ResumeEvents();
  handles.ResumeEvents();
  EXPECT_EQ(handles.SuspendCount(), 0);
  EXPECT_EQ(listener.Log, "");

  handles.CreateHandle(2).AddRef();
  handles.CreateHandle(3);
  listener.Log.clear();
  handles.Clear();
  EXPECT_EQ(handles.Count(), 0u);
  EXPECT_EQ(listener.Log, "");
  EXPECT_EQ(handles.SuspendCount(), 0);
}

TEST(PendingRows, StoresStatesByRowValue) {
  TOleDbPendingRows pending;
  EXPECT_EQ(pending.GetState(5), TOleDbPendingState::Unchanged);
  pending.SetState(9, TOleDbPendingState::New);
  pending.SetState(10, TOleDbPendingState::Changed);
  pending.SetState(-3, TOleDbPendingState::Deleted);
  pending.SetState(9, TOleDbPendingState::Invalid);  // replaces
  ASSERT_EQ(pending.Count(), 3u);
  EXPECT_EQ(pending.RowValueAt(0), -3);
  EXPECT_EQ(pending.RowValueAt(1), 10);
  EXPECT_EQ(pending.RowValueAt(2), 9);
  EXPECT_EQ(pending.StateAt(2), TOleDbPendingState::Invalid);
  EXPECT_EQ(pending.GetState(10), TOleDbPendingState::Changed);

  pending.SetState(10, TOleDbPendingState::Unchanged);  // removes
  pending.Remove(-3);
  pending.Remove(12345);
  EXPECT_EQ(pending.Count(), 1u);
  EXPECT_EQ(pending.GetState(10), TOleDbPendingState::Unchanged);
  pending.Clear();
  EXPECT_EQ(pending.Count(), 0u);
}

TEST(PendingRows, KeepsOnlyNewChangedAndDeletedRows) {
  TOleDbPendingRows pending;
  TOleDbRowHandles handles;
  TOleDbRowHandle& handle = handles.CreateHandle(1);
  const TOleDbPendingState states[] = {TOleDbPendingState::Unchanged, TOleDbPendingState::New,
                                       TOleDbPendingState::Changed, TOleDbPendingState::Deleted,
                                       TOleDbPendingState::Invalid};
  for (TOleDbPendingState state : states) {
    pending.SetState(1, state);
    bool keep = false;
    pending.ShouldKeep(handle, keep);
    const bool pendingChange = state == TOleDbPendingState::New || state == TOleDbPendingState::Changed ||
                               state == TOleDbPendingState::Deleted;
    EXPECT_EQ(keep, pendingChange) << static_cast<int>(state);
    keep = true;
    pending.ShouldKeep(handle, keep);
    EXPECT_TRUE(keep);  // never reset by a row without a change
  }
}
