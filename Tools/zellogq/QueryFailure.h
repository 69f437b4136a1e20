#pragma once
// A failed OLE DB call with what the provider said about it: the result
// code and the records of its error object.
#include <stdexcept>
#include <string>
#include <vector>

#include <windows.h>

struct TErrorRecord {
  std::string Source;
  std::string Description;
  HRESULT Code = S_OK;  // the record's own code when the error object has one
};

class EQueryFailure : public std::runtime_error {
public:
  EQueryFailure(std::string action, HRESULT code, std::vector<TErrorRecord> records)
      : std::runtime_error(action), Action(std::move(action)), Code(code), Records(std::move(records)) {}

  std::string Action;  // what zellogq was doing, e.g. "cannot open table \"x.log\""
  HRESULT Code;
  std::vector<TErrorRecord> Records;
};

// Takes the calling thread's error object, if any, apart into records;
// IErrorRecords objects (the service components' and many providers') give
// one record each.
std::vector<TErrorRecord> TakeErrorRecords();

// Throws EQueryFailure when code is a failure.
void CheckOleDb(HRESULT code, const std::string& action);

// The report people read: the action and the code by name, then each record
// as "source: description", continuation lines indented.
std::string FormatFailure(const std::string& action, HRESULT code, const std::vector<TErrorRecord>& records);
