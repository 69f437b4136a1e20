#pragma once
#include <filesystem>
#include <string>
#include <string_view>

// A fresh directory under the system's temp directory, removed afterwards.
class TTempDir {
public:
  TTempDir();
  ~TTempDir();
  // Writes bytes to a file in the directory; returns its path.
  std::string Write(std::string_view name, std::string_view bytes) const;
  std::string PathOf(std::string_view name) const;
  void Append(std::string_view name, std::string_view bytes) const;

private:
  std::filesystem::path Dir;
};
