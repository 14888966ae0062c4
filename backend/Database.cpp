#include "Database.h"

#include <charconv>

namespace lumivale::backend {

std::unique_ptr<Database> OpenDatabase(const std::string& address, int connections) {
    if (address.starts_with("postgresql://") || address.starts_with("postgres://")) {
        return OpenPostgres(address, connections);
    }
    return OpenSqlite(address);
}

std::int64_t ColumnInt(const std::string& text) {
    std::int64_t value = 0;
    const auto result = std::from_chars(text.data(), text.data() + text.size(), value);
    return result.ec == std::errc() && result.ptr == text.data() + text.size() ? value : 0;
}

}  // namespace lumivale::backend
