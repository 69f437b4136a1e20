#pragma once
// The log provider's command: its text names a log file, and executing it
// gives the same rowset as IOpenRowset on that file.
#include "OLEDbCommand.h"

class TZelLogDbCommand : public TOleDbCommand {
public:
  static constexpr const wchar_t* ClassName = L"TZelLogDbCommand";
  struct TClass : TOleDbClass {
    const TOleDbClass* RowsetClass() const override;
  };

  void InitProperties() override;
  // The log columns, known without opening the file.
  void DescribeColumns(TOleDbExecParams& params, TOleDbColumns& columns) override;
};
