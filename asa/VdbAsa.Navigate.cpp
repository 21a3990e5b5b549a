// TAsaSQL: scrolling over the block fetch, positioning without data, row
// locks, positioned update, insert and delete, the query plan, the table
// name, further result sets of procedures and immediate execution.
#include "asa/VdbAsa.h"

namespace vdb {

bool TAsaSQL::First() {
  if (!FActive) RaiseAsa(VDB_ERR_CURS_NOT_OPENED, 0);
  return InternalFetchFirst();
}

bool TAsaSQL::Last() { NotSupportedYet("Last"); }

bool TAsaSQL::Curr() { NotSupportedYet("Curr"); }

bool TAsaSQL::Prev() { NotSupportedYet("Prev"); }

bool TAsaSQL::InternalMoveToFirst() { NotSupportedYet("MoveToFirst"); }

bool TAsaSQL::InternalMoveToLast() { NotSupportedYet("MoveToLast"); }

bool TAsaSQL::InternalMoveTo(int32_t Row) {
  (void)Row;
  NotSupportedYet("MoveTo");
}

bool TAsaSQL::Lock() { NotSupportedYet("Lock"); }

bool TAsaSQL::Modify() { NotSupportedYet("Modify"); }

bool TAsaSQL::Append() { NotSupportedYet("Append"); }

bool TAsaSQL::Delete() { NotSupportedYet("Delete"); }

std::string TAsaSQL::Explain() { NotSupportedYet("Explain"); }

std::string TAsaSQL::GetTableName() { return TVantorSQL::GetTableName(); }

bool TAsaSQL::Resume() { NotSupportedYet("Resume"); }

bool TAsaSQL::GetResumable() { return FResumable && FLibraryVersion > 5; }

bool TAsaSQL::GetStillInProc() { return FStillInProc; }

bool TAsaSQL::ExecuteImmediate(std::string SQL) {
  (void)SQL;
  NotSupportedYet("ExecuteImmediate");
}

}  // namespace vdb
