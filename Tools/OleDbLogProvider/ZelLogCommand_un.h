#pragma once
// The log provider's command: its text names a log file, and executing it
// gives the same rowset as IOpenRowset on that file; or it asks for some
// columns and rows of one (ZelLogQuery_un.h).
#include "OLEDbCommand.h"

class TZelLogDbCommand : public TOleDbCommand {
public:
  static constexpr const wchar_t* ClassName = L"TZelLogDbCommand";
  struct TClass : TOleDbClass {
    const TOleDbClass* RowsetClass() const override;
  };

  void InitProperties() override;
  // The columns the text asks for, known without opening the file; a text
  // that does not read fails here as it does in Execute.
  void DescribeColumns(TOleDbExecParams& params, TOleDbColumns& columns) override;
};
