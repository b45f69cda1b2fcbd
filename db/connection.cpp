// Placeholder until the connection module lands.
#include "db/connection.h"

SQLHENV envHandle = nullptr;
SQLHDBC connHandle = nullptr;
DiagRecord diagRecord{};
