#include "QueryOutput.h"

bool TQueryOutput::Flush() {
  if (!Pending.empty() && !WriteFailed) WriteFailed = !Sink(Pending);
  Pending.clear();
  return !WriteFailed;
}
