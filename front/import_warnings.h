#pragma once
// What an import says about its file beside the errors of its records, and
// the detail it adds to those errors.
//
// Before the first record, the outermost import walk warns (a message box
// warning, as for a missing schema) once for each of:
// - a match key given twice: a number (or, for kinds matched by name, a
//   name) that a later record of the file gives again, within the same
//   scope, names both rows; the later record is imported as ever (the
//   object it matches is kept or overwritten by "ImpStyle");
// - a key that this ledger never reads, wherever it stands (at the top of
//   a record or nested under another key), named once per run with why.
// An unknown key is no business of these checks: the reader refuses it.
#include <string>

#include "context/record.h"
#include "front/walks.h"
#include "platform/error.h"

namespace morvent {

// What every warning about a key never read holds, between the key and
// why; a client (the tool's check) tells these notices from findings by it.
inline constexpr const char* kUnreadKeyMark = " 不会被引入：";

// Why an import never reads the key of a record, the record named by its
// element at the top of a file or by the key it is nested under; empty when
// it reads it. The keys a kind reads in one kind of ledger only are the
// kind's own to say (ImportWalk::unreadKey).
std::string UnreadKeyReason(const std::string& record, const std::string& key);

// The warnings above for the file's records (those read from the file).
// Never raises.
void WarnAboutFile(const ImportWalk& walk, const RecordCollection& records);

// Fills what the walk knows of a failure of the current record (none
// before the first and after the last): its element, row and number; the
// key whose value the failure was about (the key last read when its value
// agrees, else the first key holding that value); the parent key for a
// parent that could not be had, and the hint for a dotted number without
// a parent key.
void DescribeImportFailure(const ImportWalk& walk, const DataRecord* current, const Error& error,
                           ErrorDetail& detail);

}  // namespace morvent
