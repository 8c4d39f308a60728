// Saved queries: which ones are plain enough to evaluate, and what they give.
#include <gtest/gtest.h>

#include "platform/database/saved_query.h"

namespace pw::db {
namespace {

// A query as MSysQueries holds it: a select from Products (alias P when
// given) of the columns and with the WHERE, ORDER BY and flags given.
std::vector<QueryRow> Select(const std::vector<std::string>& columns, const std::string& where,
                             const std::vector<std::string>& order = {}, int flags = 0,
                             const std::string& top = "", const std::string& alias = "") {
  std::vector<QueryRow> rows = {{0, 0, "", "", ""},
                                {1, 1, "", "", ""},
                                {3, flags, top, "", ""},
                                {5, 0, "Products", alias, ""}};
  for (const std::string& c : columns) {
    const std::size_t as = c.find(" AS ");
    rows.push_back({6, 0, as == std::string::npos ? "" : c.substr(as + 4), "", c.substr(0, as)});
  }
  if (!where.empty()) rows.push_back({8, 0, "", "", where});
  for (const std::string& o : order)
    rows.push_back({11, 0, o.rfind(" DESC") != std::string::npos ? "D" : "", "",
                    o.substr(0, o.find(" DESC"))});
  rows.push_back({255, 0, "", "", ""});
  return rows;
}

const std::vector<std::string> kFields = {"ID", "Name", "Price", "Discontinued", "Added"};

Cell N(double v) {
  return {Cell::Kind::Number, v, {}};
}
Cell T(const std::string& s) {
  return {Cell::Kind::Text, 0, s};
}

// ID, Name, Price, Discontinued (-1 yes, 0 no), Added (OLE date).
const std::vector<std::vector<Cell>> kProducts = {
    {N(1), T("chai"), N(18), N(0), N(35431)},         // 1997-01-01
    {N(2), T("Chang"), N(19), N(-1), N(35796)},       // 1998-01-01
    {N(3), T("Aniseed Syrup"), N(10), N(0), Cell{}},  // no date
    {N(4), Cell{}, N(19), N(0), N(35431)},
    {N(5), T("Chai"), N(263.5), N(0), N(36161)},  // 1999-01-01
};

std::string Evaluate(const std::vector<QueryRow>& rows) {
  SelectPlan plan;
  const std::string why = PlanQuery(
      rows, [](const std::string& t) { return t == "Products" ? &kFields : nullptr; }, plan);
  if (!why.empty()) return "not copied";
  std::string out;
  for (const auto& o : plan.output) out += o.name + ",";
  out += ":";
  const auto text = [&](std::size_t r) {
    std::vector<std::string> v;
    for (const auto& o : plan.output) {
      const Cell& c = kProducts[r][o.column];
      v.push_back(c.kind == Cell::Kind::Text ? c.text : std::to_string(c.number));
    }
    return v;
  };
  const std::vector<std::size_t> given = RunPlan(plan, kProducts, text);
  for (std::size_t r : given) out += std::to_string(r + 1);
  if (StreamedSelect::Fits(plan)) {  // read in order, the same records
    StreamedSelect select(plan);
    std::vector<std::size_t> streamed;
    for (std::size_t r = 0; r < kProducts.size() && !select.Done(); ++r)
      if (select.Take([&] { return kProducts[r]; })) streamed.push_back(r);
    EXPECT_EQ(streamed, given) << out;
  }
  return out;
}

TEST(SavedQuery, PlainSelectsAreEvaluated) {
  const std::vector<std::pair<std::vector<QueryRow>, std::string>> cases = {
      {Select({"Products.ID", "[Products].[Name] AS Title"}, ""), "ID,Title,:12345"},
      {Select({"*"}, "", {}, 0x01),
       "ID,Name,Price,Discontinued,Added,ID,Name,Price,Discontinued,Added,:12345"},
      {Select({"P.Name"}, "(((P.Discontinued)=No))", {"P.Name"}, 0, "", "P"), "Name,:4315"},
      {Select({"ID"}, "((Price)>=19 And (Price)<100) Or Name='ANISEED SYRUP'"), "ID,:234"},
      {Select({"ID"}, "Not (Price=19)"), "ID,:135"},
      {Select({"ID"}, "Name Is Null Or Added Is Not Null And Price<>18"), "ID,:245"},
      {Select({"ID"}, "[Added]<#1/1/98#"), "ID,:14"},
      {Select({"ID"}, "Added>=#1998-01-01# And Discontinued"), "ID,:2"},
      {Select({"ID"}, "Price=-1 Or Name=\"chai\""), "ID,:15"},
      {Select({"Name"}, "", {"Name"}, 0x02), "Name,:4312"},  // DISTINCT, Null first
      {Select({"ID"}, "", {"Price DESC", "ID"}, 0x10, "2"), "ID,:52"},
      {Select({"ID"}, "", {"Price DESC"}, 0x10, "2"), "ID,:524"},       // TOP 2 and the tie
      {Select({"ID"}, "", {"Added DESC"}, 0x08 | 0x10, "1"), "ID,:5"},  // DISTINCTROW
      {Select({"ID"}, "Price>=18", {}, 0x10, "2"), "ID,:12"},           // TOP without an order
      {Select({"ID"}, "", {}, 0x10, "0"), "ID,:"},
      // Not plain: expressions, functions, parameters, subqueries, other tables.
      {Select({"Price*2"}, ""), "not copied"},
      {Select({"ID"}, "Price>(SELECT AVG([Price]) From Products)"), "not copied"},
      {Select({"ID"}, "Len(Name)>3"), "not copied"},
      {Select({"ID"}, "Price>[Minimum price?]"), "not copied"},
      {Select({"Orders.ID"}, ""), "not copied"},
      {Select({"[Name] & [ID]"}, ""), "not copied"},
      {Select({"ID"}, "Name Like 'C*'"), "not copied"},
      {Select({"ID"}, "", {}, 0x20 | 0x10, "10"), "not copied"},  // TOP 10 PERCENT
  };
  for (const auto& [rows, expected] : cases) {
    std::string text;
    for (const QueryRow& r : rows) text += r.expression + " " + r.name1 + "|";
    EXPECT_EQ(Evaluate(rows), expected) << text;
  }
  // Joins, grouping, unions and other tables' queries.
  std::vector<QueryRow> join = Select({"ID"}, "");
  join.insert(join.end() - 1, {7, 1, "Products", "Categories", "Products.ID = Categories.ID"});
  EXPECT_EQ(Evaluate(join), "not copied");
  std::vector<QueryRow> group = Select({"ID"}, "");
  group.insert(group.end() - 1, {9, 0, "", "", "ID"});
  EXPECT_EQ(Evaluate(group), "not copied");
  std::vector<QueryRow> unionQuery = Select({"ID"}, "");
  unionQuery[1].flag = 9;
  EXPECT_EQ(Evaluate(unionQuery), "not copied");
  std::vector<QueryRow> twoTables = Select({"ID"}, "");
  twoTables.insert(twoTables.begin() + 4, {5, 0, "Categories", "", ""});
  EXPECT_EQ(Evaluate(twoTables), "not copied");
  std::vector<QueryRow> other = Select({"ID"}, "");
  other[3].name1 = "Another query";
  EXPECT_EQ(Evaluate(other), "not copied");
}

}  // namespace
}  // namespace pw::db
