// Countdown fault injection for tests: the Nth matching database operation
// fails, once or from then on. Install a plan with
// Legacy_Manager::instance()->set_fault_plan(plan); it applies to every
// connection of the process until cleared.
//
//   // the second UPDATE on table slot fails, once
//   Fault_Plan p(2, Fault_Plan::ONCE);
//   p.match = "UPDATE slot";
//   Legacy_Manager::instance()->set_fault_plan(p);
//
// Raise N until no fault fires (fired() stays 0) to walk every failure
// point of an operation; after each run check the invariants.
#ifndef DATABASE_FAULT_PLAN_H
#define DATABASE_FAULT_PLAN_H

#include <string>

namespace database {
namespace sql {

struct Fault_Plan {
  enum Persistence { ONCE, FROM_THEN_ON };
  // Operations a plan counts (a bit mask).
  enum Operation {
    OP_EXECUTE = 1,  // Connection::execute
    OP_QUERY = 2,    // cursor queries
    OP_BEGIN = 4,    // transaction begin
    OP_COMMIT = 8,   // transaction commit
    OP_CONNECT = 16  // get_connection_r (a new or pooled connection)
  };

  Fault_Plan() = default;
  Fault_Plan(int nth_, Persistence p, int operations_ = OP_EXECUTE)
      : nth(nth_), persistence(p), operations(operations_) {}

  int nth = 0;  // 1 = the first matching operation; 0 = never
  Persistence persistence = ONCE;
  int operations = OP_EXECUTE;
  // When not empty, only operations whose statement text contains it
  // (case-sensitive) count; OP_BEGIN/OP_COMMIT/OP_CONNECT never match a
  // non-empty text.
  std::string match;
};

}  // namespace sql
}  // namespace database

#endif
