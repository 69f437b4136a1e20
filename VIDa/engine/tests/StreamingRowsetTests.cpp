#include <gtest/gtest.h>

#include <oledberr.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <new>
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

// Set, making a record fails for want of memory.
bool noMoreRecords = false;

std::unique_ptr<TOleDbStreamRecord> NewNumberRecord() {
  if (noMoreRecords) throw std::bad_alloc();
  return std::make_unique<TNumberRecord>();
}

// A source of numbers read forward; a 0 in it is something that is no row
// (as a directive line in a log).
class TNumberData : public TOleDbStreamingRowsetData {
public:
  explicit TNumberData(std::vector<int> source)
      : TOleDbStreamingRowsetData(&NewNumberRecord, {L"no way back", L"no bookmarks", L"no writing"}),
        source_(std::move(source)) {}
  ~TNumberData() override { StopReadAhead(); }

  // Reading ahead from the afterRows-th row on; reading entry failAt of the
  // source fails once for want of memory; every pauseEvery-th entry (0:
  // none) keeps the reader a while, as a slow disk would.
  void ReadAhead(std::int32_t afterRows, std::size_t failAt = SIZE_MAX, std::size_t pauseEvery = 0) {
    AllowReadAhead(afterRows);
    failAt_ = failAt;
    pauseEvery_ = pauseEvery;
  }

  const TNumberRecord& RecordOf(HROW row) {
    return static_cast<const TNumberRecord&>(HeldRecord(GetOwner()->OwnerRowHandles().FindHandle(row)->RowValue()));
  }
  void GetColumnReadBuffer(TOleDbDataMode, std::int32_t, const TOleDbColumn&, void*&, DBLENGTH&, bool&) override {}

protected:
  bool ReadNextRecord(TOleDbStreamRecord& record, bool wanted) override {
    if (next_ == failAt_) {
      failAt_ = SIZE_MAX;
      throw std::bad_alloc();
    }
    if (pauseEvery_ != 0 && next_ % pauseEvery_ == 0) Sleep(1);
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
  std::size_t failAt_ = SIZE_MAX;
  std::size_t pauseEvery_ = 0;
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

// The numbers 1..count, with a 0 (no row) before every seventh.
std::vector<int> Numbered(int count) {
  std::vector<int> source;
  for (int i = 1; i <= count; ++i) {
    if (i % 7 == 0) source.push_back(0);
    source.push_back(i);
  }
  return source;
}

// Reading ahead on a second thread changes nothing a consumer sees: the
// rows, where a read fails, the row limit, held rows and the end, also when
// the consumer keeps waiting for a slow reader.
TEST_F(StreamingRowsetTest, ReadingAheadGivesWhatReadingInlineGives) {
  DWORD_PTR process = 0, system = 0;
  const bool severalProcessors =
      GetProcessAffinityMask(GetCurrentProcess(), &process, &system) && (process & (process - 1)) != 0;
  const struct {
    std::int64_t Limit;  // negative: none
    std::size_t FailAt;  // source entry whose first read fails for want of memory
    int FailedRow;
    std::size_t PauseEvery;
  } cases[] = {{-1, SIZE_MAX, 0, 0},   {-1, 2000, 1751, 0},   {-1, 117, 104, 0},  {1500, SIZE_MAX, 0, 0},
               {-1, SIZE_MAX, 0, 300}, {-1, 2000, 1751, 300}, {1500, SIZE_MAX, 0, 300}};
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << c.FailAt << " " << c.Limit << " " << c.PauseEvery);
    Open(Numbered(3000));
    data->ReadAhead(100, c.FailAt, c.PauseEvery);
    data->SetRowLimit(c.Limit);
    const std::vector<HROW> held = Next(0, 2);
    std::vector<int> numbers = Numbers(held);
    bool readAhead = false;
    HRESULT hr = S_OK;
    for (DBROWCOUNT batch = 1; hr != DB_S_ENDOFROWSET; batch = batch % 150 + 7) {
      const std::size_t before = numbers.size();
      const std::vector<int> taken = TakeNumbers(0, batch, &hr);
      numbers.insert(numbers.end(), taken.begin(), taken.end());
      readAhead = readAhead || data->ReadingAhead();
      // Out of memory at the row whose read failed, and on from there.
      if (hr == E_OUTOFMEMORY || hr == DB_S_ROWLIMITEXCEEDED) {
        EXPECT_EQ(numbers.back() + 1, c.FailedRow);
        EXPECT_TRUE(hr == DB_S_ROWLIMITEXCEEDED || numbers.size() == before);
      } else {
        ASSERT_TRUE(hr == S_OK || hr == DB_S_ENDOFROWSET) << std::hex << hr;
      }
    }
    const int expected = c.Limit >= 0 ? static_cast<int>(c.Limit) : 3000;
    ASSERT_EQ(numbers.size(), static_cast<std::size_t>(expected));
    for (int i = 0; i < expected; ++i) ASSERT_EQ(numbers[static_cast<std::size_t>(i)], i + 1);
    EXPECT_EQ(data->GetRowCount(), static_cast<DBCOUNTITEM>(expected));
    EXPECT_EQ(Numbers(held), (V{1, 2})) << "held rows keep their records";
    Release(held);
    // A failure in the thread's first block ends it within the fetch that started it.
    EXPECT_EQ(readAhead, severalProcessors && c.FailAt != 117);
  }
}

TEST_F(StreamingRowsetTest, ReadingAheadStopsWithTheRowsetAndFallsBackWithoutMemory) {
  for (DBROWOFFSET skip : {0, 1000}) {
    // The thread waits for room when the consumer stops fetching.
    Open(Numbered(100000));
    data->ReadAhead(10);
    EXPECT_EQ(TakeNumbers(0, 20).back(), 20);
    EXPECT_EQ(TakeNumbers(skip, 1), V{21 + static_cast<int>(skip)});
    Sleep(20);
  }
  Open(Numbered(1000));
  data->ReadAhead(10);
  EXPECT_EQ(TakeNumbers(0, 1), V{1});
  noMoreRecords = true;
  HRESULT hr = S_OK;
  for (int next = 2; hr == S_OK; ++next) {
    EXPECT_EQ(TakeNumbers(0, 1, &hr), next <= 1000 ? V{next} : V{});
    EXPECT_FALSE(data->ReadingAhead());
  }
  noMoreRecords = false;
  EXPECT_EQ(hr, DB_S_ENDOFROWSET);
}
}  // namespace
