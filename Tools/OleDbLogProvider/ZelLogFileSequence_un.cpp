#include "ZelLogFileSequence_un.h"

#include <oledberr.h>

#include <algorithm>
#include <exception>
#include <memory>
#include <new>

#include "CodePageText.h"
#include "OLEDbError.h"
#include "ZelLogFolder_un.h"

namespace {
std::u16string AsU16(const std::wstring& text) { return std::u16string(text.begin(), text.end()); }

std::wstring ClassNameOf(const std::exception& error) {
  if (const auto* logError = dynamic_cast<const ELogError*>(&error)) return WideFromUtf8(logError->ClassName());
  return L"Exception";
}

bool EndsWithLog(std::wstring_view name) {
  return name.size() >= 4 && SameName(name.substr(name.size() - 4), L".log");
}

// Daily logs differ in their dates only, so name order is date order;
// names the file system tells apart by case alone keep a fixed order.
bool NameBefore(const std::wstring& a, const std::wstring& b) {
  const int order = CompareStringOrdinal(a.c_str(), static_cast<int>(a.size()), b.c_str(),
                                         static_cast<int>(b.size()), TRUE);
  return order == CSTR_EQUAL ? a < b : order == CSTR_LESS_THAN;
}
}  // namespace

std::vector<std::wstring> ListLogFiles(const std::wstring& folder, std::wstring_view pattern) {
  const std::wstring_view subfolder = FolderPart(pattern);
  const std::wstring_view filePattern = FilePart(pattern);
  const std::wstring listed = folder + std::wstring(subfolder);
  std::vector<std::wstring> names;
  WIN32_FIND_DATAW entry;
  HANDLE find = FindFirstFileExW((listed + L"*").c_str(), FindExInfoBasic, &entry, FindExSearchNameMatch, nullptr, 0);
  if (find == INVALID_HANDLE_VALUE) return names;
  // Want of memory while listing leaves by exception (a table must never
  // vanish for it), and the search must be closed all the same.
  const std::unique_ptr<void, decltype(&FindClose)> search(find, &FindClose);
  do {
    if (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) continue;
    const std::wstring_view name = entry.cFileName;
    if (!EndsWithLog(name) || !MatchesPattern(name, filePattern)) continue;
    const std::wstring path = listed + entry.cFileName;
    if (TLogFileReader::CheckFingerprint(AsU16(path))) names.push_back(std::wstring(subfolder) + entry.cFileName);
  } while (FindNextFileW(find, &entry));
  return names;
}

TZelLogOpenFailure OpenLogFile(TLogFileReader& reader, const std::wstring& path, std::wstring_view tableName) {
  using TOpened = TLogFileReader::TCheckedOpen;
  std::string errorText;
  auto opened = TOpened::NotLogFile;
  try {
    opened = reader.OpenChecked(AsU16(path), errorText);
  } catch (const std::bad_alloc&) {
    throw;
  } catch (const std::exception& error) {
    return {E_UNEXPECTED, L"Unexpected error while opening the log file: " + ClassNameOf(error) + L".\r\n" +
                              WideFromUtf8(error.what())};
  }
  switch (opened) {
  case TOpened::Opened:
    return {};
  case TOpened::NotDiskFile:
    return {DB_E_NOTABLE, TableRefusal(tableName, L"is not a file on a disk")};
  case TOpened::NotLogFile:
    return {E_UNEXPECTED,
            L"Could not load file, because it is either not an ZEL Text Log file or cannot be opened.\r\n\r\n"
            L"File: \"" + path + L"\"."};
  case TOpened::NotProcessed:
    break;
  }
  return {E_UNEXPECTED, WideFromCodePage(errorText)};
}

TZelLogFileSequence::TZelLogFileSequence(std::wstring folder, std::wstring_view pattern)
    : folder_(std::move(folder)), names_(ListLogFiles(folder_, pattern)) {
  if (names_.empty()) RefuseTable(pattern, L"matches no log file");
  std::sort(names_.begin(), names_.end(), &NameBefore);
}

bool TZelLogFileSequence::ReadRecord(TLogFileReader& reader, TLogRecord& record, std::string& errorText) {
  while (reader.Eof()) {
    if (next_ == names_.size()) return false;
    std::string ignored;
    reader.Close(ignored);
    // Only a file that opened, or whose failure is ready to be its row,
    // counts as read: after want of memory the next call tries it again.
    const std::size_t file = next_;
    const TZelLogOpenFailure failure = OpenLogFile(reader, folder_ + names_[file], names_[file]);
    if (failure) {
      // An empty text would make the file vanish without a row.
      errorText = CodePageFromWide(failure.Text);
      if (errorText.empty()) errorText = "Could not open a log file.";
    }
    current_ = file;
    next_ = file + 1;
    if (failure) return false;
  }
  return reader.ReadRecord(record, errorText);
}

bool TZelLogFileSequence::AtEnd(const TLogFileReader& reader) const noexcept {
  return next_ == names_.size() && reader.Eof();
}
