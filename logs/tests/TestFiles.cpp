#include "TestFiles.h"

#include <atomic>
#include <chrono>
#include <fstream>

TTempDir::TTempDir() {
  static std::atomic<int> counter{0};
  const auto stamp = std::chrono::steady_clock::now().time_since_epoch().count();
  Dir = std::filesystem::temp_directory_path() /
        ("zellog_logs_" + std::to_string(stamp) + "_" + std::to_string(counter++));
  std::filesystem::create_directories(Dir);
}

TTempDir::~TTempDir() {
  std::error_code ignored;
  std::filesystem::remove_all(Dir, ignored);
}

std::string TTempDir::PathOf(std::string_view name) const { return (Dir / std::string(name)).string(); }

std::string TTempDir::Write(std::string_view name, std::string_view bytes) const {
  std::ofstream(PathOf(name), std::ios::binary | std::ios::trunc).write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  return PathOf(name);
}

void TTempDir::Append(std::string_view name, std::string_view bytes) const {
  std::ofstream(PathOf(name), std::ios::binary | std::ios::app).write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}
