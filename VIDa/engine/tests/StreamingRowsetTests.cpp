#include <gtest/gtest.h>

#include <oledberr.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "ComObj.h"
#include "EngineOutcome.h"
#include "OLEDbProperties.h"
#include "OLEDbRowHandles.h"
#include "OLEDbStreamingRowsetData.h"
#include "TestRowsetOwner.h"

namespace {

struct TNumberRecord : TOleDbStreamRecord {
  int Number = 0;
  bool Complete = false;
};

std::unique_ptr<TOleDbStreamRecord> NewNumberRecord() { return std::make_unique<TNumberRecord>(); }

// A source of numbers read forward; a 0 in it is something that is no row
// (as a directive line in a log).
class TNumberData : public TOleDbStreamingRowsetData {
public:
  explicit TNumberData(std::vector<int> source)
      : TOleDbStreamingRowsetData(&NewNumberRecord, {L"no way back", L"no bookmarks", L"no writing"}),
        source_(std::move(source)) {}

  const TNumberRecord& RecordOf(HROW row) {
    return static_cast<const TNumberRecord&>(HeldRecord(GetOwner()->OwnerRowHandles().FindHandle(row)->RowValue()));
  }
  void GetColumnReadBuffer(TOleDbDataMode, std::int32_t, const TOleDbColumn&, void*&, DBLENGTH&, bool&) override {}

protected:
  bool ReadNextRecord(TOleDbStreamRecord& record, bool wanted) override {
    const int number = source_[next_++];
    if (number == 0) return false;
    auto& numbered = static_cast<TNumberRecord&>(record);
    numbered.Number = number;
    numbered.Complete = wanted;
    return true;
  }
  bool AtEndOfSource() const override { return next_ == source_.size(); }

private:
  std::vector<int> source_;
  std::size_t next_ = 0;
};

class StreamingRowsetTest : public testing::Test {
protected:
  void Open(std::vector<int> source) {
    if (data) data->SetOwner(nullptr);
    owner = MakeComObject<TTestRowsetOwner>(std::uint8_t{0});
    owner->SetRowsetFlag(DBPROP_CANHOLDROWS, true);
    TOleDbStreamingRowsetData::DeclareForwardOnly(owner->Properties);
    data = MakeComObject<TNumberData>(std::move(source));
    data->SetOwner(owner.Get());
  }
  void TearDown() override {
    if (data) data->SetOwner(nullptr);
  }

  // The rows of one GetNextRows, held until Release.
  std::vector<HROW> Next(DBROWOFFSET offset, DBROWCOUNT count, HRESULT* hr = nullptr) {
    DBCOUNTITEM obtained = 0;
    HROW* rows = nullptr;
    const HRESULT result = Outcome([&] { return data->GetNextRows(0, offset, count, &obtained, &rows, true); });
    if (hr) *hr = result;
    std::vector<HROW> held(rows, rows + obtained);
    CoTaskMemFree(rows);
    return held;
  }
  // The numbers of rows, which must have been read completely.
  std::vector<int> Numbers(const std::vector<HROW>& rows) {
    std::vector<int> numbers;
    for (HROW row : rows) {
      EXPECT_TRUE(data->RecordOf(row).Complete);
      numbers.push_back(data->RecordOf(row).Number);
    }
    return numbers;
  }
  void Release(const std::vector<HROW>& rows) {
    for (HROW row : rows) owner->Handles.FindHandle(row)->Release();
  }
  std::vector<int> TakeNumbers(DBROWOFFSET offset, DBROWCOUNT count, HRESULT* hr = nullptr) {
    const std::vector<HROW> rows = Next(offset, count, hr);
    std::vector<int> numbers = Numbers(rows);
    Release(rows);
    return numbers;
  }

  TComPtr<TTestRowsetOwner> owner;
  TComPtr<TNumberData> data;
};

using V = std::vector<int>;

TEST_F(StreamingRowsetTest, CursorSkipsWhatIsNoRowAndLearnsTheCountAtTheEnd) {
  Open({0, 1, 2, 0, 3, 4, 0, 5, 6, 0});
  HRESULT hr = S_OK;
  EXPECT_EQ(TakeNumbers(0, 2), (V{1, 2}));
  EXPECT_EQ(data->GetRowCount(), static_cast<DBCOUNTITEM>(-1)) << "unknown before the end";
  EXPECT_EQ(TakeNumbers(1, 1), V{4}) << "3 is passed over";
  EXPECT_EQ(TakeNumbers(0, 5, &hr), (V{5, 6}));
  EXPECT_EQ(hr, DB_S_ENDOFROWSET);
  EXPECT_EQ(data->GetRowCount(), 6u);
  EXPECT_EQ(TakeNumbers(0, 1, &hr), V{});
  EXPECT_EQ(hr, DB_S_ENDOFROWSET) << "the end stays the end";

  Open({0, 0});
  EXPECT_EQ(TakeNumbers(0, 1, &hr), V{});
  EXPECT_EQ(hr, DB_S_ENDOFROWSET);
  EXPECT_EQ(data->GetRowCount(), 0u);
}

TEST_F(StreamingRowsetTest, HeldRowsKeepTheirRecordsAndReleasedOnesAreReused) {
  std::vector<int> source;
  for (int i = 1; i <= 1000; ++i) source.push_back(i);
  Open(source);
  const std::vector<HROW> held = Next(0, 3);
  for (int i = 0; i < 100; ++i) TakeNumbers(0, 2);
  EXPECT_EQ(Numbers(held), (V{1, 2, 3})) << "reading on never writes into a held row";
  Release(held);
  for (int i = 0; i < 300; ++i) TakeNumbers(0, 1);
  EXPECT_EQ(TakeNumbers(0, 1), V{504});
  EXPECT_LE(data->RecordsAllocated(), 6u) << "records are bounded by the rows held at once";
}

TEST_F(StreamingRowsetTest, RefusesWhatAForwardOnlySourceCannotDo) {
  Open({1, 2, 3});
  TakeNumbers(0, 2);
  HRESULT hr = S_OK;
  EXPECT_EQ(TakeNumbers(0, -1, &hr), V{});
  EXPECT_EQ(hr, DB_E_CANTFETCHBACKWARDS);
  EXPECT_EQ(TakeNumbers(-1, 1, &hr), V{});
  EXPECT_EQ(hr, DB_E_CANTSCROLLBACKWARDS);

  struct TRefusal {
    const wchar_t* Message;
    std::function<void()> Call;
  };
  void* pointer = nullptr;
  DBLENGTH length = 0;
  const TOleDbColumn column(data->GetColumns(), 0);
  const TRefusal refusals[] = {
      {L"no way back", [&] { data->MoveCursor(TOleDbMoveKind::ToStart, 0); }},
      {L"no bookmarks", [&] { data->GetBookmark(); }},
      {L"no bookmarks", [&] { data->GotoBookmark(nullptr); }},
      {L"no writing", [&] { data->GetColumnPointer(0, column, pointer, length); }},
  };
  for (const TRefusal& refusal : refusals) {
    std::wstring message;
    EXPECT_EQ(Outcome(refusal.Call, &message), E_FAIL);
    EXPECT_NE(message.find(refusal.Message), std::wstring::npos) << message;
  }
  EXPECT_EQ(TakeNumbers(0, 1), V{3}) << "a refused move did not move";
}

}  // namespace
