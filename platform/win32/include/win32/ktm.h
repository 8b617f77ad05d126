// Transactions for registry writes (the kernel transaction calls).
//
// A transaction groups writes to the user hive: keys opened or created with
// RegOpenKeyTransactedA / RegCreateKeyTransactedA (and keys opened below
// them) stage their writes in memory, and reads through them see the staged
// values. Others, in this process or another, see nothing until
// CommitTransaction applies every staged change and saves the hive once, under
// the hive's lock, all or nothing. A commit that cannot save (or whose changes
// no longer apply because another writer deleted a key meanwhile) changes
// nothing, rolls the transaction back and returns FALSE with the error in
// GetLastError. The handle is a waitable object, signalled once the
// transaction is committed or rolled back; CloseHandle on a transaction not
// committed rolls it back.
#pragma once

#include "win32/types.h"

#ifndef ERROR_TRANSACTION_NOT_ACTIVE
#define ERROR_TRANSACTION_NOT_ACTIVE 6701L
#endif
#ifndef ERROR_TRANSACTION_ALREADY_ABORTED
#define ERROR_TRANSACTION_ALREADY_ABORTED 6704L
#endif
#ifndef ERROR_TRANSACTION_ALREADY_COMMITTED
#define ERROR_TRANSACTION_ALREADY_COMMITTED 6705L
#endif

struct _SECURITY_ATTRIBUTES;
struct GUID;

// uow must be NULL and options 0 or TRANSACTION_DO_NOT_PROMOTE; isolation
// values are ignored. timeout in milliseconds, 0 for none: a transaction not
// committed by then is rolled back. Returns INVALID_HANDLE_VALUE on failure.
#define TRANSACTION_DO_NOT_PROMOTE 0x00000001
HANDLE CreateTransaction(struct _SECURITY_ATTRIBUTES* attributes, struct GUID* uow, DWORD options,
                         DWORD isolation_level, DWORD isolation_flags, DWORD timeout, LPWSTR description);
BOOL CommitTransaction(HANDLE transaction);
BOOL RollbackTransaction(HANDLE transaction);
