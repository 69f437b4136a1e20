#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>

#include "OLEDbBlobStream.h"

namespace {
std::unique_ptr<TOleDbByteStream> BytesOf(const std::string& text) {
  return std::make_unique<TOleDbByteStream>(text.data(), text.size());
}

// What a consumer gets: the interface it asked the blob's IUnknown for.
TComPtr<ISequentialStream> ConsumerStream(const std::string& text) {
  TComPtr<IUnknown> unknown = CreateOleDbBlobStream(BytesOf(text));
  TComPtr<ISequentialStream> stream;
  EXPECT_EQ(unknown.As(stream, IID_ISequentialStream), S_OK);
  return stream;
}

std::string ContentOf(ISequentialStream* stream) {
  const auto& bytes = static_cast<TOleDbBlobStream*>(stream)->Stream();
  return std::string(reinterpret_cast<const char*>(bytes.Data()), bytes.Size());
}
}  // namespace

TEST(BlobStream, ReadsInChunksThenReportsTheEnd) {
  TComPtr<ISequentialStream> stream = ConsumerStream("0123456789");
  char buffer[8];
  ULONG read = 99;
  std::string collected;
  for (ULONG expected : {4u, 4u, 2u}) {
    EXPECT_EQ(stream->Read(buffer, 4, &read), S_OK);
    ASSERT_EQ(read, expected);
    collected.append(buffer, read);
  }
  EXPECT_EQ(collected, "0123456789");
  EXPECT_EQ(stream->Read(buffer, 4, &read), S_FALSE);
  EXPECT_EQ(read, 0u);
  EXPECT_EQ(stream->Read(buffer, 0, &read), S_OK);  // an empty request is no end
  EXPECT_EQ(read, 0u);
  EXPECT_EQ(stream->Read(buffer, 4, nullptr), S_FALSE);
}

TEST(BlobStream, HugeCountsReadWhatIsThere) {
  TComPtr<ISequentialStream> stream = ConsumerStream("abc");
  char buffer[16] = {};
  ULONG read = 0;
  EXPECT_EQ(stream->Read(buffer, 0xFFFFFFFFu, &read), S_OK);
  EXPECT_EQ(read, 3u);
  EXPECT_STREQ(buffer, "abc");
  EXPECT_EQ(stream->Read(buffer, 0x80000000u, &read), S_FALSE);
  EXPECT_EQ(read, 0u);
}

TEST(BlobStream, NullBuffersAreRefused) {
  TComPtr<ISequentialStream> stream = ConsumerStream("abc");
  ULONG count = 99;
  EXPECT_EQ(stream->Read(nullptr, 2, &count), STG_E_INVALIDPOINTER);
  EXPECT_EQ(count, 0u);
  EXPECT_EQ(stream->Read(nullptr, 2, nullptr), STG_E_INVALIDPOINTER);
  count = 99;
  EXPECT_EQ(stream->Write(nullptr, 2, &count), STG_E_INVALIDPOINTER);
  EXPECT_EQ(count, 0u);
  // Nothing moved: the value is still read from its start.
  char buffer[4];
  EXPECT_EQ(stream->Read(buffer, 3, &count), S_OK);
  EXPECT_EQ(std::string(buffer, count), "abc");
}

TEST(BlobStream, WritesAtTheCurrentPosition) {
  TComPtr<ISequentialStream> stream = ConsumerStream("abcdef");
  char buffer[4];
  ULONG count = 0;
  EXPECT_EQ(stream->Read(buffer, 2, &count), S_OK);
  EXPECT_EQ(stream->Write("XY", 2, &count), S_OK);
  EXPECT_EQ(count, 2u);
  EXPECT_EQ(ContentOf(stream.Get()), "abXYef");
  EXPECT_EQ(stream->Read(buffer, 4, &count), S_OK);
  EXPECT_EQ(std::string(buffer, count), "ef");
  EXPECT_EQ(stream->Write("gh", 2, nullptr), S_OK);  // at the end: appended
  EXPECT_EQ(stream->Write("", 0, &count), S_OK);
  EXPECT_EQ(count, 0u);
  EXPECT_EQ(ContentOf(stream.Get()), "abXYefgh");
}

TEST(BlobStream, LivesWhileReferencedAndAnswersItsInterfaces) {
  const LONG objectsBefore = ComServer().ObjectCount();
  TComPtr<IUnknown> unknown = CreateOleDbBlobStream(BytesOf("x"));
  EXPECT_EQ(ComServer().ObjectCount(), objectsBefore + 1);
  TComPtr<ISequentialStream> stream;
  ASSERT_EQ(unknown.As(stream, IID_ISequentialStream), S_OK);
  TComPtr<IUnknown> identity;
  ASSERT_EQ(stream.As(identity, IID_IUnknown), S_OK);
  EXPECT_EQ(identity.Get(), unknown.Get());
  TComPtr<IStream> seekable;
  EXPECT_EQ(unknown.As(seekable, IID_IStream), E_NOINTERFACE);
  EXPECT_FALSE(seekable);

  identity.Reset();
  unknown.Reset();
  EXPECT_EQ(ComServer().ObjectCount(), objectsBefore + 1);  // the consumer's stream keeps it
  EXPECT_EQ(stream->AddRef(), 2u);
  EXPECT_EQ(stream->Release(), 1u);
  EXPECT_EQ(stream.Detach()->Release(), 0u);
  EXPECT_EQ(ComServer().ObjectCount(), objectsBefore);
}

TEST(BlobStream, ByteStreamPositions) {
  TOleDbByteStream bytes;
  bytes.SetPosition(3);
  EXPECT_EQ(bytes.Write("z", 1), 1u);  // the gap is zero-filled
  ASSERT_EQ(bytes.Size(), 4u);
  EXPECT_EQ(std::memcmp(bytes.Data(), "\0\0\0z", 4), 0);
  char buffer[4];
  bytes.SetPosition(10);
  EXPECT_EQ(bytes.Read(buffer, 4), 0u);
  bytes.SetPosition(1);
  EXPECT_EQ(bytes.Read(buffer, 4), 3u);
  EXPECT_EQ(bytes.Position(), 4u);
}
