#pragma once
// What the benchmarks that read rowsets share: COM on the benchmark's thread,
// failed calls as exceptions and the consumer's fetch loop.
#include <windows.h>
#include <oledb.h>
#include <oledberr.h>

#include <cstdint>
#include <cstdio>
#include <span>
#include <stdexcept>

// Raises "<what> failed: 0x<hr>" for a failed call.
inline void CheckHr(HRESULT hr, const char* what) {
  if (FAILED(hr)) {
    char text[128];
    std::snprintf(text, sizeof text, "%s failed: 0x%08lX", what, static_cast<unsigned long>(hr));
    throw std::runtime_error(text);
  }
}

// COM on the calling thread while the object lives.
class TBenchApartment {
public:
  TBenchApartment() { CheckHr(CoInitialize(nullptr), "CoInitialize"); }
  ~TBenchApartment() { CoUninitialize(); }
  TBenchApartment(const TBenchApartment&) = delete;
  TBenchApartment& operator=(const TBenchApartment&) = delete;
};

// Fetches the rowset to its end, rows.size() rows per GetNextRows into rows,
// calls eachRow with every row fetched and releases each batch; returns the
// rows fetched. A template, so that a measured loop pays no indirect call.
template <class TEachRow>
std::uint64_t FetchToEnd(IRowset& rowset, std::span<HROW> rows, TEachRow&& eachRow) {
  std::uint64_t total = 0;
  for (;;) {
    DBCOUNTITEM obtained = 0;
    HROW* held = rows.data();
    const HRESULT fetched =
        rowset.GetNextRows(DB_NULL_HCHAPTER, 0, static_cast<DBROWCOUNT>(rows.size()), &obtained, &held);
    CheckHr(fetched, "GetNextRows");
    for (DBCOUNTITEM i = 0; i < obtained; ++i) eachRow(rows[i]);
    if (obtained > 0) CheckHr(rowset.ReleaseRows(obtained, rows.data(), nullptr, nullptr, nullptr), "ReleaseRows");
    total += obtained;
    if (fetched != S_OK || obtained == 0) return total;
  }
}
