#pragma once
// Long values handed to consumers as ISequentialStream objects.
#include <windows.h>
#include <objidl.h>

#include <cstddef>
#include <memory>
#include <vector>

#include "ComObj.h"
#include "ComPtr.h"

// The bytes of one value with a current position. A data class fills it; the
// engine either copies from it or hands it to a TOleDbBlobStream.
class TOleDbByteStream {
public:
  TOleDbByteStream() = default;
  // A copy of size bytes at data, positioned at the start.
  TOleDbByteStream(const void* data, std::size_t size);
  explicit TOleDbByteStream(std::vector<std::byte> bytes) noexcept : bytes_(std::move(bytes)) {}

  std::size_t Size() const noexcept { return bytes_.size(); }
  const std::byte* Data() const noexcept { return bytes_.data(); }
  std::size_t Position() const noexcept { return position_; }
  // The position may lie past the end; writing there fills the gap with
  // zeros.
  void SetPosition(std::size_t position) noexcept { position_ = position; }

  // Copies up to count bytes from the position on and advances past them;
  // returns how many were copied.
  std::size_t Read(void* buffer, std::size_t count) noexcept;
  // Writes all count bytes at the position and advances past them, or none
  // when memory runs out; returns how many were written.
  std::size_t Write(const void* buffer, std::size_t count) noexcept;

private:
  std::vector<std::byte> bytes_;
  std::size_t position_ = 0;
};

// Sequential read and write access to a byte stream that it owns and frees
// with itself.
class TOleDbBlobStream : public TComImpl<TComObject, ISequentialStream> {
public:
  // A null stream is taken as an empty one.
  explicit TOleDbBlobStream(std::unique_ptr<TOleDbByteStream> stream);

  // S_FALSE when cb > 0 and nothing is left to read.
  HRESULT STDMETHODCALLTYPE Read(void* pv, ULONG cb, ULONG* pcbRead) override;
  // STG_E_MEDIUMFULL when cb > 0 and nothing could be written.
  HRESULT STDMETHODCALLTYPE Write(const void* pv, ULONG cb, ULONG* pcbWritten) override;

  TOleDbByteStream& Stream() const noexcept { return *stream_; }

private:
  std::unique_ptr<TOleDbByteStream> stream_;
};

// A new blob stream over stream, as its IUnknown with one reference.
TComPtr<IUnknown> CreateOleDbBlobStream(std::unique_ptr<TOleDbByteStream> stream);
