#pragma once
// Saved queries of a database, as its MSysQueries rows describe them, and
// the plain ones evaluated here: a select from one table of its fields
// (renamed or not), with a WHERE of comparisons between fields and
// constants joined by And, Or and Not, ORDER BY fields, DISTINCT and TOP.
// Anything else (joins, expressions, grouping, parameters, unions, actions)
// is named as what cannot be evaluated.

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/translate.h"

namespace pw::db {

// One row of MSysQueries (Attribute, Flag, Name1, Name2, Expression).
struct QueryRow {
  int attribute = 0;
  int flag = 0;
  std::string name1, name2, expression;
};

// A field's value for comparing and sorting.
struct Cell {
  enum class Kind { Null, Number, Text } kind = Kind::Null;
  double number = 0;  // numbers, dates (OLE dates), yes/no (-1 or 0)
  std::string text;
};

struct Condition;

struct SelectPlan {
  std::string table;
  struct Output {
    std::string name;
    std::size_t column;  // in the table
  };
  std::vector<Output> output;
  std::shared_ptr<const Condition> where;  // null: every record
  struct Order {
    std::size_t column;
    bool descending;
  };
  std::vector<Order> order;
  bool distinct = false;
  long top = -1;  // -1: no limit
};

// The fields of a user table by its name, or null when there is no such table.
using TableColumns = std::function<const std::vector<std::string>*(const std::string&)>;

// Plans the query of `rows`; answers "" or, in the window's language, why it
// cannot be evaluated.
std::string PlanQuery(const std::vector<QueryRow>& rows, const TableColumns& columns,
                      SelectPlan& plan);

// Whether a record (its cells by column) meets the query's WHERE.
bool Selects(const SelectPlan& plan, const std::vector<Cell>& row);

// The records of a query without ORDER BY or DISTINCT, chosen as the table
// is read in its order: the same ones RunPlan gives, without holding the
// table.
class StreamedSelect {
 public:
  explicit StreamedSelect(const SelectPlan& plan) : plan_(plan) {}
  static bool Fits(const SelectPlan& plan) { return plan.order.empty() && !plan.distinct; }
  // TOP records given: no need to read on.
  bool Done() const { return plan_.top >= 0 && given_ >= plan_.top; }
  // Whether the next record of the table is given; `cells` makes its cells
  // when the WHERE needs them.
  bool Take(const std::function<std::vector<Cell>()>& cells);

 private:
  const SelectPlan& plan_;
  long given_ = 0;
};

// The records of the table (`cells`, by record and column) the query gives,
// in its order: indexes into `cells`. `outputText` gives a record's output
// values as text, for DISTINCT.
std::vector<std::size_t> RunPlan(
    const SelectPlan& plan, const std::vector<std::vector<Cell>>& cells,
    const std::function<std::vector<std::string>(std::size_t)>& outputText);

// Why queries of other kinds are not copied (the status line and the log
// say it after the query's name).
inline constexpr const char* kQueryNotEvaluated =
    PW_TR_NOOP("database", "含联接或表达式的查询无法求值");

}  // namespace pw::db
