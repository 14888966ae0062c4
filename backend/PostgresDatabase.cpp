// The store on a PostgreSQL server through libpq: a few connections, each used by one thread at a
// time, with every statement prepared once per connection.
#include <libpq-fe.h>

#include <condition_variable>
#include <map>
#include <memory>
#include <mutex>
#include <string>

#include "Database.h"

namespace lumivale::backend {

namespace {

struct Connection {
    explicit Connection(const std::string& address) : conn(PQconnectdb(address.c_str())) {
        if (PQstatus(conn) != CONNECTION_OK) {
            const std::string message = conn ? PQerrorMessage(conn) : "out of memory";
            PQfinish(conn);
            throw StoreError("cannot connect to PostgreSQL: " + message);
        }
        // Notices (e.g. "relation already exists, skipping") are not for the operator's log.
        PQsetNoticeProcessor(conn, [](void*, const char*) {}, nullptr);
    }
    ~Connection() { PQfinish(conn); }
    Connection(const Connection&) = delete;
    Connection& operator=(const Connection&) = delete;

    PGconn* conn;
    std::map<std::string, std::string> prepared;  // statement text -> name
};

using Result = std::unique_ptr<PGresult, void (*)(PGresult*)>;

// The connection of the transaction this thread runs, and whose pool it came from.
thread_local const void* tTransactionOwner = nullptr;
thread_local Connection* tTransaction = nullptr;

class PostgresDatabase : public Database {
public:
    PostgresDatabase(std::string address, int connections)
        : address_(std::move(address)), limit_(connections < 1 ? 1 : connections) {
        idle_.push_back(std::make_unique<Connection>(address_));  // a wrong address fails at once
        created_ = 1;
    }

    SqlRows Run(const char* sql, const std::vector<SqlValue>& values) override {
        if (tTransactionOwner == this) return RunOn(*tTransaction, sql, values);
        std::unique_ptr<Connection> connection = Acquire();
        try {
            SqlRows rows = RunOn(*connection, sql, values);
            Release(std::move(connection));
            return rows;
        } catch (...) {
            // A broken connection is opened anew for the next statement; this one is not repeated,
            // since it may have taken effect.
            if (PQstatus(connection->conn) != CONNECTION_OK) {
                PQreset(connection->conn);
                connection->prepared.clear();
            }
            Release(std::move(connection));
            throw;
        }
    }

    void Transaction(const std::function<void()>& work) override {
        std::unique_ptr<Connection> connection = Acquire();
        tTransactionOwner = this;
        tTransaction = connection.get();
        try {
            Check(*connection, Result(PQexec(connection->conn, "BEGIN"), PQclear));
            work();
            Check(*connection, Result(PQexec(connection->conn, "COMMIT"), PQclear));
        } catch (...) {
            tTransactionOwner = nullptr;
            tTransaction = nullptr;
            PQclear(PQexec(connection->conn, "ROLLBACK"));
            if (PQstatus(connection->conn) != CONNECTION_OK) {
                PQreset(connection->conn);
                connection->prepared.clear();
            }
            Release(std::move(connection));
            throw;
        }
        tTransactionOwner = nullptr;
        tTransaction = nullptr;
        Release(std::move(connection));
    }

    bool IsPostgres() const override { return true; }

private:
    std::unique_ptr<Connection> Acquire() {
        std::unique_lock lock(mutex_);
        released_.wait(lock, [this] { return !idle_.empty() || created_ < limit_; });
        if (!idle_.empty()) {
            auto connection = std::move(idle_.back());
            idle_.pop_back();
            return connection;
        }
        ++created_;
        lock.unlock();
        try {
            return std::make_unique<Connection>(address_);
        } catch (...) {
            lock.lock();
            --created_;
            released_.notify_one();
            throw;
        }
    }

    void Release(std::unique_ptr<Connection> connection) {
        {
            std::lock_guard lock(mutex_);
            idle_.push_back(std::move(connection));
        }
        released_.notify_one();
    }

    static SqlRows RunOn(Connection& connection, const char* sql, const std::vector<SqlValue>& values) {
        auto found = connection.prepared.find(sql);
        if (found == connection.prepared.end()) {
            const std::string name = "s" + std::to_string(connection.prepared.size());
            Check(connection, Result(PQprepare(connection.conn, name.c_str(), sql, 0, nullptr), PQclear));
            found = connection.prepared.emplace(sql, name).first;
        }
        std::vector<std::string> texts;
        texts.reserve(values.size());
        std::vector<const char*> pointers;
        for (const SqlValue& value : values) {
            texts.push_back(std::holds_alternative<std::int64_t>(value) ? std::to_string(std::get<std::int64_t>(value))
                                                                         : std::get<std::string>(value));
            pointers.push_back(texts.back().c_str());
        }
        const Result result(PQexecPrepared(connection.conn, found->second.c_str(), static_cast<int>(pointers.size()),
                                           pointers.data(), nullptr, nullptr, 0),
                            PQclear);
        Check(connection, result);
        SqlRows rows(static_cast<std::size_t>(PQntuples(result.get())));
        for (int row = 0; row < PQntuples(result.get()); ++row) {
            for (int column = 0; column < PQnfields(result.get()); ++column) {
                rows[static_cast<std::size_t>(row)].emplace_back(PQgetvalue(result.get(), row, column),
                                                                 static_cast<std::size_t>(
                                                                     PQgetlength(result.get(), row, column)));
            }
        }
        return rows;
    }

    static void Check(Connection& connection, const Result& result) {
        const ExecStatusType status = result ? PQresultStatus(result.get()) : PGRES_FATAL_ERROR;
        if (status == PGRES_COMMAND_OK || status == PGRES_TUPLES_OK) return;
        throw StoreError(std::string("PostgreSQL: ") +
                         (result ? PQresultErrorMessage(result.get()) : PQerrorMessage(connection.conn)));
    }

    std::string address_;
    int limit_;
    std::mutex mutex_;
    std::condition_variable released_;
    std::vector<std::unique_ptr<Connection>> idle_;
    int created_ = 0;
};

}  // namespace

std::unique_ptr<Database> OpenPostgres(const std::string& address, int connections) {
    return std::make_unique<PostgresDatabase>(address, connections);
}

}  // namespace lumivale::backend
