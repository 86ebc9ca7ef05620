// PostgreSQL engine.
#include "database/pg_connection.h"

#include <libpq-fe.h>

#include <cstdlib>
#include <cstring>

#include "database/parameters.h"

namespace database {
namespace sql {

namespace {

// Type OIDs of the built-in types read as something other than text.
enum {
  OID_BOOL = 16,
  OID_INT8 = 20,
  OID_INT2 = 21,
  OID_INT4 = 23,
  OID_OID = 26,
  OID_FLOAT4 = 700,
  OID_FLOAT8 = 701,
  OID_NUMERIC = 1700
};

// The advisory lock that write transactions take, so they run one after
// the other as SQLite's do; one lock per schema, as SQLite has one per file.
const char* const WRITE_LOCK =
    "SELECT pg_advisory_xact_lock(1681068132, hashtext(current_schema()))";

void ignore_notice(void*, const char*) {}

std::string trimmed(const char* msg) {
  std::string s = msg ? msg : "";
  while (!s.empty() && (s.back() == '\n' || s.back() == ' ')) s.pop_back();
  return s;
}

std::string result_error(PGconn* conn, PGresult* r) {
  std::string s = trimmed(r ? PQresultErrorMessage(r) : nullptr);
  if (s.empty()) s = trimmed(PQerrorMessage(conn));
  return s.empty() ? "PostgreSQL statement failed" : s;
}

json_spirit::Value field_value(PGresult* r, int row, int col) {
  if (PQgetisnull(r, row, col)) return json_spirit::Value();
  const char* v = PQgetvalue(r, row, col);
  switch (PQftype(r, col)) {
    case OID_BOOL:
      return json_spirit::Value(v[0] == 't');
    case OID_INT2:
    case OID_INT4:
    case OID_INT8:
    case OID_OID:
      return json_spirit::Value(static_cast<long long>(std::strtoll(v, nullptr, 10)));
    case OID_FLOAT4:
    case OID_FLOAT8:
      return json_spirit::Value(std::strtod(v, nullptr));
    case OID_NUMERIC:
      if (!std::strpbrk(v, ".eEN")) {
        return json_spirit::Value(static_cast<long long>(std::strtoll(v, nullptr, 10)));
      }
      return json_spirit::Value(std::strtod(v, nullptr));
    default:
      return json_spirit::Value(std::string(v, PQgetlength(r, row, col)));
  }
}

}  // namespace

Pg_Connection::Pg_Connection(const std::string& name, PGconn* conn)
    : Connection(name, DIALECT_POSTGRESQL), conn_(conn) {}

Pg_Connection::~Pg_Connection() { PQfinish(conn_); }

std::unique_ptr<Connection> Pg_Connection::open(const std::string& name,
                                                const std::string& conninfo, std::string& error) {
  PGconn* conn = PQconnectdb(conninfo.c_str());
  if (!conn) {
    error = "out of memory";
    return nullptr;
  }
  if (PQstatus(conn) != CONNECTION_OK) {
    error = "cannot connect to PostgreSQL: " + trimmed(PQerrorMessage(conn));
    PQfinish(conn);
    return nullptr;
  }
  PQsetNoticeProcessor(conn, ignore_notice, nullptr);
  std::unique_ptr<Pg_Connection> c(new (std::nothrow) Pg_Connection(name, conn));
  if (!c) {
    PQfinish(conn);
    error = "out of memory";
    return nullptr;
  }
  std::string e;
  if (!c->run_script("SET client_min_messages TO warning", e)) {
    error = "cannot set up PostgreSQL connection: " + e;
    return nullptr;
  }
  return std::unique_ptr<Connection>(c.release());
}

const Pg_Connection::Prepared* Pg_Connection::prepare(const std::string& text, std::string& error) {
  auto it = cache_.find(text);
  if (it != cache_.end()) return &it->second;
  if (cache_.size() >= STATEMENT_CACHE_SIZE) {
    // Names are never reused, so a failed DEALLOCATE only costs server memory.
    PQclear(PQexec(conn_, "DEALLOCATE ALL"));
    cache_.clear();
  }
  Positional_Text pos = to_positional(text);
  Prepared p;
  p.statement_name = "d2t_" + std::to_string(++next_statement_);
  p.names = pos.names;
  PGresult* r = PQprepare(conn_, p.statement_name.c_str(), pos.text.c_str(),
                          static_cast<int>(p.names.size()), nullptr);
  bool ok = r && PQresultStatus(r) == PGRES_COMMAND_OK;
  if (!ok) error = result_error(conn_, r);
  PQclear(r);
  if (!ok) return nullptr;
  return &cache_.emplace(text, std::move(p)).first->second;
}

void Pg_Connection::forget(const std::string& text) {
  auto it = cache_.find(text);
  if (it == cache_.end()) return;
  PQclear(PQexec(conn_, ("DEALLOCATE " + it->second.statement_name).c_str()));
  cache_.erase(it);
}

bool Pg_Connection::run(const std::string& text, const Bindings& params, bool is_insert,
                        Result_Set* out, std::int64_t& last_id, long long& changes,
                        std::string& error) {
  for (int attempt = 0; attempt < 2; ++attempt) {
    const Prepared* p = prepare(text, error);
    if (!p) return false;
    std::vector<std::string> texts(p->names.size());
    std::vector<const char*> values(p->names.size(), nullptr);
    for (std::size_t i = 0; i < p->names.size(); ++i) {
      auto b = params.find(p->names[i]);
      if (b == params.end()) {
        error = "parameter " + p->names[i] + " is not bound";
        return false;
      }
      if (b->second.is_null()) continue;
      texts[i] = b->second.to_text();
      values[i] = texts[i].c_str();
    }
    PGresult* r = PQexecPrepared(conn_, p->statement_name.c_str(), static_cast<int>(values.size()),
                                 values.data(), nullptr, nullptr, 0);
    ExecStatusType status = r ? PQresultStatus(r) : PGRES_FATAL_ERROR;
    if (status != PGRES_COMMAND_OK && status != PGRES_TUPLES_OK) {
      // The SQLSTATE lives inside the result: copy it before the result is
      // freed.
      const char* state_field = r ? PQresultErrorField(r, PG_DIAG_SQLSTATE) : nullptr;
      const std::string state = state_field ? state_field : "";
      error = result_error(conn_, r);
      PQclear(r);
      // A cached plan whose tables changed shape must be prepared again;
      // outside a transaction that is safe to retry once.
      if (attempt == 0 && state == "0A000" && !in_transaction()) {
        forget(text);
        continue;
      }
      last_state_ = state;
      return false;
    }
    const char* tuples = PQcmdTuples(r);
    changes = (tuples && *tuples) ? std::strtoll(tuples, nullptr, 10) : 0;
    last_id = -1;
    if (is_insert && PQntuples(r) > 0) {
      int col = PQfnumber(r, "id");
      if (col >= 0 && !PQgetisnull(r, 0, col))
        last_id = std::strtoll(PQgetvalue(r, 0, col), nullptr, 10);
    }
    if (out) {
      out->columns.clear();
      out->rows.clear();
      int ncols = PQnfields(r);
      int nrows = PQntuples(r);
      for (int c = 0; c < ncols; ++c) out->columns.push_back(PQfname(r, c));
      out->rows.reserve(nrows);
      for (int row = 0; row < nrows; ++row) {
        std::vector<json_spirit::Value> values_row;
        values_row.reserve(ncols);
        for (int c = 0; c < ncols; ++c) values_row.push_back(field_value(r, row, c));
        out->rows.push_back(std::move(values_row));
      }
    }
    PQclear(r);
    return true;
  }
  return false;
}

bool Pg_Connection::run_script(const std::string& script, std::string& error) {
  PGresult* r = PQexec(conn_, script.c_str());
  ExecStatusType status = r ? PQresultStatus(r) : PGRES_FATAL_ERROR;
  bool ok = status == PGRES_COMMAND_OK || status == PGRES_TUPLES_OK || status == PGRES_EMPTY_QUERY;
  if (!ok) error = result_error(conn_, r);
  PQclear(r);
  return ok;
}

std::string Pg_Connection::begin_text(bool read_only) const {
  if (read_only) return "BEGIN";
  return std::string("BEGIN; ") + WRITE_LOCK;
}

bool Pg_Connection::healthy() const {
  if (PQstatus(conn_) != CONNECTION_OK) return false;
  // Reading what is pending notices a server that closed the connection
  // while it sat idle in the pool: the first read may take the server's
  // farewell message, the second then meets the end of the stream.
  for (int i = 0; i < 2 && PQstatus(conn_) == CONNECTION_OK; ++i) {
    if (!PQconsumeInput(conn_)) break;
  }
  return PQstatus(conn_) == CONNECTION_OK;
}

}  // namespace sql
}  // namespace database
