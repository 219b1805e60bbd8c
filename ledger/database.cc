#include "ledger/database.h"

std::unique_ptr<Database> OpenDatabase(const LedgerUrl& url, bool create, const DatabaseLimits& limits,
                                       std::ostream& err) {
  return url.kind == LedgerUrl::Kind::kSqlite ? OpenSqliteDatabase(url, create, limits, err)
                                              : OpenPostgresqlDatabase(url, limits, err);
}
