// PLACEHOLDER: replaced by the ODBC backend.
#include "platform/db_client.h"
namespace dbsetup {
std::unique_ptr<DbClient> make_odbc_client() { return nullptr; }
}  // namespace dbsetup
