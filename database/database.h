// The SQL database layer: everything a caller needs, in one include.
//
//   statement.h    Binding_Value, SQL, Insert_SQL, Select_SQL, Update_SQL,
//                  Delete_SQL, Raw_SQL
//   connection.h   Connection, Connection_var (reference counted, pooled)
//   cursor.h       Legacy_Cursor and its modes, Val_Tran translations
//   transaction.h  database::Transaction (rolled back unless committed)
//   metadata.h     Metadata, Table, Column, Foreign_Key: schema declaration
//   manager.h      Legacy_Manager: configuration, pools, schema set-up
//   fault_plan.h   Fault_Plan: countdown fault injection for tests
//
// A typical operation:
//   using namespace database::sql;
//   Update_SQL u("drive");
//   u.set("failures", 0, nullptr).where("serial_number=:serial_number");
//   u.bind(":serial_number", serial);
//   Connection_var c = Legacy_Manager::instance()->get_connection_r("media_controller");
//   if (!c) return false;
//   return c->execute(u);
#ifndef DATABASE_DATABASE_H
#define DATABASE_DATABASE_H

#include "database/connection.h"
#include "database/cursor.h"
#include "database/fault_plan.h"
#include "database/manager.h"
#include "database/metadata.h"
#include "database/statement.h"
#include "database/transaction.h"

#endif
