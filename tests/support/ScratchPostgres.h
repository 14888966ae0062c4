#pragma once
// The PostgreSQL server of this test program (scripts/scratch-postgres.sh): started on first use,
// once per program run, and stopped when the program ends (or, should it crash, by the script's
// watcher).
#include <string>

namespace lumivale::test {

// The connection address of the server's "postgres" database.
const std::string& ScratchPostgres();

}  // namespace lumivale::test
