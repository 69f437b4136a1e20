#include "OLEDbBlobStream.h"

#include <algorithm>
#include <cstring>
#include <new>

#include "OLEDbError.h"
#include "OLEDbGuard.h"

TOleDbByteStream::TOleDbByteStream(const void* data, std::size_t size)
    : bytes_(static_cast<const std::byte*>(data), static_cast<const std::byte*>(data) + size) {}

std::size_t TOleDbByteStream::Read(void* buffer, std::size_t count) noexcept {
  if (position_ >= bytes_.size()) return 0;
  const std::size_t moved = std::min(count, bytes_.size() - position_);
  std::memcpy(buffer, bytes_.data() + position_, moved);
  position_ += moved;
  return moved;
}

std::size_t TOleDbByteStream::Write(const void* buffer, std::size_t count) noexcept {
  if (count == 0) return 0;
  if (count > bytes_.max_size() || position_ > bytes_.max_size() - count) return 0;
  const std::size_t end = position_ + count;
  try {
    if (end > bytes_.size()) bytes_.resize(end);
  } catch (const std::bad_alloc&) {
    return 0;
  } catch (const std::length_error&) {
    return 0;
  }
  std::memcpy(bytes_.data() + position_, buffer, count);
  position_ = end;
  return count;
}

TOleDbBlobStream::TOleDbBlobStream(std::unique_ptr<TOleDbByteStream> stream)
    : stream_(stream ? std::move(stream) : std::make_unique<TOleDbByteStream>()) {}

// Counts are taken as the unsigned values they are: a request for 2 GB or
// more reads or writes what there is instead of nothing.
HRESULT STDMETHODCALLTYPE TOleDbBlobStream::Read(void* pv, ULONG cb, ULONG* pcbRead) {
  return OleDbGuard(*this, [&] {
    if (pcbRead) *pcbRead = 0;
    if (!pv) return STG_E_INVALIDPOINTER;
    const std::size_t moved = stream_->Read(pv, cb);
    if (pcbRead) *pcbRead = static_cast<ULONG>(moved);
    return cb > 0 && moved == 0 ? S_FALSE : S_OK;
  }, [&](TOleDbTraceArgs& t) { t("cb", cb).Out("pcbRead", pcbRead); });
}

HRESULT STDMETHODCALLTYPE TOleDbBlobStream::Write(const void* pv, ULONG cb, ULONG* pcbWritten) {
  return OleDbGuard(*this, [&] {
    if (pcbWritten) *pcbWritten = 0;
    if (!pv) return STG_E_INVALIDPOINTER;
    const std::size_t moved = stream_->Write(pv, cb);
    if (pcbWritten) *pcbWritten = static_cast<ULONG>(moved);
    return cb > 0 && moved == 0 ? STG_E_MEDIUMFULL : S_OK;
  }, [&](TOleDbTraceArgs& t) { t("cb", cb).Out("pcbWritten", pcbWritten); });
}

TComPtr<IUnknown> CreateOleDbBlobStream(std::unique_ptr<TOleDbByteStream> stream) {
  TComPtr<TOleDbBlobStream> blob = MakeComObject<TOleDbBlobStream>(std::move(stream));
  TComPtr<IUnknown> identity;
  OleDbCheck(blob.As(identity, IID_IUnknown));
  return identity;
}
