// The connection text of a PostgreSQL server with a schema as the search
// path, for tests and benchmarks that each work in a schema of their own.
#ifndef TESTING_PG_URL_H
#define TESTING_PG_URL_H

#include <string>

namespace test_support {

// `conninfo` (a libpq key/value string or a postgres:// or postgresql://
// URI) with search_path=`schema` added in the form it takes.
inline std::string with_search_path(const std::string& conninfo, const std::string& schema) {
  if (conninfo.compare(0, 13, "postgresql://") == 0 ||
      conninfo.compare(0, 11, "postgres://") == 0) {
    return conninfo + (conninfo.find('?') == std::string::npos ? "?" : "&") +
           "options=-csearch_path%3D" + schema;
  }
  return conninfo + " options='-csearch_path=" + schema + "'";
}

}  // namespace test_support

#endif
