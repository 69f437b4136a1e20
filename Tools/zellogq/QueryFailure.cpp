#include "QueryFailure.h"

#include <oledb.h>

#include "ComPtr.h"
#include "HResultNames.h"
#include "CodePageText.h"

namespace {

std::string TakeBstr(BSTR text) {
  std::string result = text ? Utf8FromWide(std::wstring_view(text, SysStringLen(text))) : std::string();
  SysFreeString(text);
  return result;
}

TErrorRecord ReadErrorInfo(IErrorInfo& info, HRESULT code) {
  TErrorRecord record;
  BSTR text = nullptr;
  if (SUCCEEDED(info.GetSource(&text))) record.Source = TakeBstr(text);
  text = nullptr;
  if (SUCCEEDED(info.GetDescription(&text))) record.Description = TakeBstr(text);
  record.Code = code;
  return record;
}

void AppendIndented(std::string& out, std::string_view text) {
  std::size_t start = 0;
  bool first = true;
  while (start <= text.size()) {
    std::size_t end = text.find('\n', start);
    if (end == std::string_view::npos) end = text.size();
    std::string_view line = text.substr(start, end - start);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    if (!first) out.append(line.empty() ? "\n" : "\n    ");
    out.append(line);
    first = false;
    start = end + 1;
  }
}

}  // namespace

std::vector<TErrorRecord> TakeErrorRecords() {
  std::vector<TErrorRecord> result;
  TComPtr<IErrorInfo> info;
  if (GetErrorInfo(0, info.Put()) != S_OK || !info) return result;
  TComPtr<IErrorRecords> records;
  if (FAILED(info.As(records, IID_IErrorRecords))) {
    result.push_back(ReadErrorInfo(*info, S_OK));
    return result;
  }
  ULONG count = 0;
  if (FAILED(records->GetRecordCount(&count))) return result;
  for (ULONG i = 0; i < count; ++i) {
    ERRORINFO basic{};
    const HRESULT code = SUCCEEDED(records->GetBasicErrorInfo(i, &basic)) ? basic.hrError : S_OK;
    TComPtr<IErrorInfo> record;
    if (SUCCEEDED(records->GetErrorInfo(i, GetUserDefaultLCID(), record.Put())) && record)
      result.push_back(ReadErrorInfo(*record, code));
  }
  return result;
}

void CheckOleDb(HRESULT code, const std::string& action) {
  if (FAILED(code)) throw EQueryFailure(action, code, TakeErrorRecords());
}

std::string FormatFailure(const std::string& action, HRESULT code, const std::vector<TErrorRecord>& records) {
  std::string text = "zellogq: " + action + ": " + DescribeHResult(code) + "\n";
  for (const TErrorRecord& record : records) {
    text.append("  ");
    if (!record.Source.empty()) text.append(record.Source).append(": ");
    std::string_view description = record.Description;
    while (!description.empty() && (description.back() == '\n' || description.back() == '\r' || description.back() == ' '))
      description.remove_suffix(1);
    AppendIndented(text, description.empty() ? std::string_view("(no description)") : description);
    if (record.Code != S_OK && record.Code != code) text.append(" [").append(DescribeHResult(record.Code)).append("]");
    text.push_back('\n');
  }
  return text;
}
