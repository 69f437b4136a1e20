#pragma once
// Buffered output towards a sink (standard output, or a string in tests).
#include <functional>
#include <string>
#include <string_view>

// Takes output; false when it could not be written.
using TQuerySink = std::function<bool(std::string_view)>;

class TQueryOutput {
public:
  explicit TQueryOutput(const TQuerySink& sink) : Sink(sink) { Pending.reserve(2 * FlushThreshold); }
  TQueryOutput(const TQueryOutput&) = delete;
  TQueryOutput& operator=(const TQueryOutput&) = delete;

  std::string& Text() noexcept { return Pending; }
  // Hands the text over once enough has gathered.
  void Commit() {
    if (Pending.size() >= FlushThreshold) Flush();
  }
  bool Flush();
  bool Failed() const noexcept { return WriteFailed; }

private:
  static constexpr std::size_t FlushThreshold = 1u << 16;
  const TQuerySink& Sink;
  std::string Pending;
  bool WriteFailed = false;
};
