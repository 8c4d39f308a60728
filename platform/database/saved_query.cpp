#include "platform/database/saved_query.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <map>
#include <set>

#include "platform/database/jet_bytes.h"

namespace pw::db {

namespace {

// MSysQueries attributes.
enum : int {
  kStart = 0,
  kType = 1,
  kParameter = 2,
  kFlags = 3,
  kRemote = 4,
  kTable = 5,
  kColumn = 6,
  kJoin = 7,
  kWhere = 8,
  kGroupBy = 9,
  kHaving = 10,
  kOrderBy = 11,
  kEnd = 255,
};
constexpr int kSelect = 1;
// Flags of the kFlags row.
constexpr int kAllFields = 0x01, kDistinct = 0x02, kOwnerAccess = 0x04, kDistinctRow = 0x08,
              kTop = 0x10;

struct Token {
  enum class Kind { Name, Bracketed, Text, Number, Date, Sign, End } kind = Kind::End;
  std::string text;
};

bool IsNameChar(unsigned char c) {
  return std::isalnum(c) || c == '_' || c >= 0x80;
}

// Splits an expression into tokens; false for anything not understood.
bool Tokenize(const std::string& s, std::vector<Token>& out) {
  std::size_t i = 0;
  while (i < s.size()) {
    const unsigned char c = static_cast<unsigned char>(s[i]);
    if (std::isspace(c)) {
      ++i;
    } else if (c == '[') {
      const std::size_t end = s.find(']', i);
      if (end == std::string::npos) return false;
      out.push_back({Token::Kind::Bracketed, s.substr(i + 1, end - i - 1)});
      i = end + 1;
    } else if (c == '"' || c == '\'') {
      std::string text;
      std::size_t j = i + 1;
      for (;; ++j) {
        if (j >= s.size()) return false;
        if (s[j] == static_cast<char>(c)) {
          if (j + 1 < s.size() && s[j + 1] == static_cast<char>(c)) {
            text.push_back(s[j++]);
            continue;
          }
          break;
        }
        text.push_back(s[j]);
      }
      out.push_back({Token::Kind::Text, text});
      i = j + 1;
    } else if (c == '#') {
      const std::size_t end = s.find('#', i + 1);
      if (end == std::string::npos) return false;
      out.push_back({Token::Kind::Date, s.substr(i + 1, end - i - 1)});
      i = end + 1;
    } else if (std::isdigit(c) || (c == '.' && i + 1 < s.size() && std::isdigit(s[i + 1]))) {
      std::size_t j = i;
      while (j < s.size() && (std::isdigit(static_cast<unsigned char>(s[j])) || s[j] == '.')) ++j;
      out.push_back({Token::Kind::Number, s.substr(i, j - i)});
      i = j;
    } else if (IsNameChar(c)) {
      std::size_t j = i;
      while (j < s.size() && IsNameChar(static_cast<unsigned char>(s[j]))) ++j;
      out.push_back({Token::Kind::Name, s.substr(i, j - i)});
      i = j;
    } else if (c == '<' || c == '>') {
      std::string sign(1, static_cast<char>(c));
      if (i + 1 < s.size() && (s[i + 1] == '=' || (c == '<' && s[i + 1] == '>'))) sign += s[i + 1];
      out.push_back({Token::Kind::Sign, sign});
      i += sign.size();
    } else if (c == '=' || c == '(' || c == ')' || c == '.' || c == '*' || c == '-') {
      out.push_back({Token::Kind::Sign, std::string(1, static_cast<char>(c))});
      ++i;
    } else {
      return false;  // arithmetic, concatenation, parameters' signs…
    }
  }
  out.push_back({Token::Kind::End, {}});
  return true;
}

// Days since 1899-12-30 of a civil date.
double OleDate(long long y, unsigned m, unsigned d) {
  y -= m <= 2;
  const long long era = (y >= 0 ? y : y - 399) / 400;
  const auto yoe = static_cast<unsigned>(y - era * 400);
  const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return static_cast<double>(era * 146097 + static_cast<long long>(doe) - 719468 + 25569);
}

// "#m/d/yyyy#" or "#yyyy-mm-dd#", with an optional "hh:mm:ss".
bool ParseDate(const std::string& text, double& out) {
  int a = 0, b = 0, c = 0, h = 0, mi = 0, s = 0;
  int n = std::sscanf(text.c_str(), "%d-%d-%d %d:%d:%d", &a, &b, &c, &h, &mi, &s);
  long long y;
  unsigned m, d;
  if (n >= 3 && text.find('-') != std::string::npos) {
    y = a;
    m = static_cast<unsigned>(b);
    d = static_cast<unsigned>(c);
  } else {
    n = std::sscanf(text.c_str(), "%d/%d/%d %d:%d:%d", &a, &b, &c, &h, &mi, &s);
    if (n < 3) return false;
    y = c < 30 ? 2000 + c : c < 100 ? 1900 + c : c;
    m = static_cast<unsigned>(a);
    d = static_cast<unsigned>(b);
  }
  if (m < 1 || m > 12 || d < 1 || d > 31) return false;
  out = OleDate(y, m, d) + (h * 3600 + mi * 60 + s) / 86400.0;
  return true;
}

std::string Lower(std::string s) {
  for (char& c : s)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return s;
}

}  // namespace

// A node of a WHERE: a comparison, And, Or, Not, Is [Not] Null, or an
// operand (a field or a constant).
struct Condition {
  enum class Op { Field, Constant, Compare, IsNull, Not, And, Or } op = Op::Constant;
  std::size_t field = 0;
  Cell constant;
  std::string sign;  // of a comparison
  std::shared_ptr<const Condition> a, b;
};

namespace {

class Parser {
 public:
  Parser(std::vector<Token> tokens, const std::vector<std::string>& fields,
         const std::set<std::string>& qualifiers)
      : t_(std::move(tokens)), fields_(fields), qualifiers_(qualifiers) {}

  std::shared_ptr<const Condition> Whole() {
    auto c = Or();
    return c && Peek().kind == Token::Kind::End ? c : nullptr;
  }

  // A lone field reference ("T.F", "[T].[F]", "F"): its column, or -1.
  long FieldOnly() {
    const auto c = Operand();
    if (!c || c->op != Condition::Op::Field || Peek().kind != Token::Kind::End) return -1;
    return static_cast<long>(c->field);
  }

 private:
  using Node = std::shared_ptr<const Condition>;

  const Token& Peek(std::size_t ahead = 0) const { return t_[std::min(i_ + ahead, t_.size() - 1)]; }
  bool Word(const char* w) {
    if (Peek().kind == Token::Kind::Name && Lower(Peek().text) == w) {
      ++i_;
      return true;
    }
    return false;
  }
  bool Sign(const char* s) {
    if (Peek().kind == Token::Kind::Sign && Peek().text == s) {
      ++i_;
      return true;
    }
    return false;
  }
  static Node Make(Condition::Op op, Node a = nullptr, Node b = nullptr) {
    auto c = std::make_shared<Condition>();
    c->op = op;
    c->a = std::move(a);
    c->b = std::move(b);
    return c;
  }

  Node Or() {
    Node left = And();
    while (left && Word("or")) {
      Node right = And();
      if (!right) return nullptr;
      left = Make(Condition::Op::Or, left, right);
    }
    return left;
  }
  Node And() {
    Node left = NotTerm();
    while (left && Word("and")) {
      Node right = NotTerm();
      if (!right) return nullptr;
      left = Make(Condition::Op::And, left, right);
    }
    return left;
  }
  Node NotTerm() {
    if (Word("not")) {
      Node inner = NotTerm();
      return inner ? Make(Condition::Op::Not, inner) : nullptr;
    }
    return Comparison();
  }
  Node Comparison() {
    Node left = Operand();
    if (!left) return nullptr;
    if (Word("is")) {
      const bool negated = Word("not");
      if (!Word("null")) return nullptr;
      Node n = Make(Condition::Op::IsNull, left);
      return negated ? Make(Condition::Op::Not, n) : n;
    }
    for (const char* s : {"=", "<>", "<=", ">=", "<", ">"}) {
      if (!Sign(s)) continue;
      Node right = Operand();
      if (!right) return nullptr;
      auto c = std::make_shared<Condition>();
      c->op = Condition::Op::Compare;
      c->sign = s;
      c->a = left;
      c->b = right;
      return c;
    }
    return left;
  }
  Node Operand() {
    const Token& k = Peek();
    if (Sign("(")) {
      Node inner = Or();
      return inner && Sign(")") ? inner : nullptr;
    }
    auto constant = [&](Cell cell) {
      auto c = std::make_shared<Condition>();
      c->op = Condition::Op::Constant;
      c->constant = std::move(cell);
      return c;
    };
    if (k.kind == Token::Kind::Text) {
      ++i_;
      return constant({Cell::Kind::Text, 0, k.text});
    }
    if (k.kind == Token::Kind::Number ||
        (k.kind == Token::Kind::Sign && k.text == "-" && Peek(1).kind == Token::Kind::Number)) {
      const bool negative = Sign("-");
      const double v = std::strtod(Peek().text.c_str(), nullptr);
      ++i_;
      return constant({Cell::Kind::Number, negative ? -v : v, {}});
    }
    if (k.kind == Token::Kind::Date) {
      double d = 0;
      if (!ParseDate(k.text, d)) return nullptr;
      ++i_;
      return constant({Cell::Kind::Number, d, {}});
    }
    if (k.kind == Token::Kind::Name) {
      const std::string w = Lower(k.text);
      if (w == "true" || w == "yes" || w == "on") {
        ++i_;
        return constant({Cell::Kind::Number, -1, {}});
      }
      if (w == "false" || w == "no" || w == "off") {
        ++i_;
        return constant({Cell::Kind::Number, 0, {}});
      }
      if (w == "null") {
        ++i_;
        return constant({});
      }
    }
    return Field();
  }
  Node Field() {
    auto name = [&](std::string& out) {
      const Token& k = Peek();
      if (k.kind != Token::Kind::Name && k.kind != Token::Kind::Bracketed) return false;
      // A word followed by "(" is a function: not a field.
      if (k.kind == Token::Kind::Name && Peek(1).kind == Token::Kind::Sign && Peek(1).text == "(")
        return false;
      out = k.text;
      ++i_;
      return true;
    };
    std::string first, second;
    if (!name(first)) return nullptr;
    if (Sign(".")) {
      if (!name(second) || !qualifiers_.count(Lower(first))) return nullptr;
      first = second;
    }
    for (std::size_t c = 0; c < fields_.size(); ++c)
      if (SameName(fields_[c], first)) {
        auto n = std::make_shared<Condition>();
        n->op = Condition::Op::Field;
        n->field = c;
        return n;
      }
    return nullptr;  // a parameter, or a field of no table here
  }

  std::vector<Token> t_;
  std::size_t i_ = 0;
  const std::vector<std::string>& fields_;
  const std::set<std::string>& qualifiers_;
};

// Three-valued comparison of cells: -1, 0, 1, or 2 when either is Null or
// they cannot be compared.
int Compare(const Cell& a, const Cell& b) {
  if (a.kind == Cell::Kind::Null || b.kind == Cell::Kind::Null) return 2;
  if (a.kind == Cell::Kind::Text && b.kind == Cell::Kind::Text) {
    const std::string x = Lower(a.text), y = Lower(b.text);
    return x < y ? -1 : x > y ? 1 : 0;
  }
  double x = a.number, y = b.number;
  char* end = nullptr;
  if (a.kind == Cell::Kind::Text) {
    x = std::strtod(a.text.c_str(), &end);
    if (end == a.text.c_str()) return 2;
  }
  if (b.kind == Cell::Kind::Text) {
    y = std::strtod(b.text.c_str(), &end);
    if (end == b.text.c_str()) return 2;
  }
  return x < y ? -1 : x > y ? 1 : 0;
}

enum class Truth { False, True, Unknown };

Cell ValueOf(const Condition& c, const std::vector<Cell>& row) {
  if (c.op == Condition::Op::Field) return c.field < row.size() ? row[c.field] : Cell{};
  if (c.op == Condition::Op::Constant) return c.constant;
  return {};
}

Truth Eval(const Condition& c, const std::vector<Cell>& row) {
  switch (c.op) {
    case Condition::Op::And: {
      const Truth a = Eval(*c.a, row), b = Eval(*c.b, row);
      if (a == Truth::False || b == Truth::False) return Truth::False;
      return a == Truth::True && b == Truth::True ? Truth::True : Truth::Unknown;
    }
    case Condition::Op::Or: {
      const Truth a = Eval(*c.a, row), b = Eval(*c.b, row);
      if (a == Truth::True || b == Truth::True) return Truth::True;
      return a == Truth::False && b == Truth::False ? Truth::False : Truth::Unknown;
    }
    case Condition::Op::Not: {
      const Truth a = Eval(*c.a, row);
      return a == Truth::Unknown ? a : a == Truth::True ? Truth::False : Truth::True;
    }
    case Condition::Op::IsNull:
      return ValueOf(*c.a, row).kind == Cell::Kind::Null ? Truth::True : Truth::False;
    case Condition::Op::Compare: {
      const int r = Compare(ValueOf(*c.a, row), ValueOf(*c.b, row));
      if (r == 2) return Truth::Unknown;
      const std::string& s = c.sign;
      const bool yes = s == "="    ? r == 0
                       : s == "<>" ? r != 0
                       : s == "<"  ? r < 0
                       : s == ">"  ? r > 0
                       : s == "<=" ? r <= 0
                                   : r >= 0;
      return yes ? Truth::True : Truth::False;
    }
    default: {  // a lone operand: a yes/no field or constant
      const Cell v = ValueOf(c, row);
      if (v.kind == Cell::Kind::Null) return Truth::Unknown;
      return Compare(v, {Cell::Kind::Number, 0, {}}) == 0 ? Truth::False : Truth::True;
    }
  }
}

}  // namespace

std::string PlanQuery(const std::vector<QueryRow>& rows, const TableColumns& columns,
                      SelectPlan& plan) {
  plan = SelectPlan{};
  const std::string cannot = kQueryNotEvaluated;
  int type = -1, flags = 0;
  std::string top;
  std::vector<const QueryRow*> tables, fields, where, order;
  for (const QueryRow& r : rows) {
    switch (r.attribute) {
      case kStart:
      case kEnd:
        break;
      case kType:
        type = r.flag;
        break;
      case kFlags:
        flags = r.flag;
        top = r.name1;
        break;
      case kTable:
        tables.push_back(&r);
        break;
      case kColumn:
        fields.push_back(&r);
        break;
      case kWhere:
        where.push_back(&r);
        break;
      case kOrderBy:
        order.push_back(&r);
        break;
      default:  // parameters, remote databases, joins, grouping
        return cannot;
    }
  }
  if (type != kSelect || tables.size() != 1 || !tables[0]->expression.empty()) return cannot;
  if ((flags & ~(kAllFields | kDistinct | kOwnerAccess | kDistinctRow | kTop)) != 0) return cannot;
  plan.table = tables[0]->name1;
  const std::vector<std::string>* cols = columns(plan.table);
  if (cols == nullptr) return cannot;  // a query over a query, or a linked table
  std::set<std::string> qualifiers = {Lower(plan.table)};
  if (!tables[0]->name2.empty()) qualifiers = {Lower(tables[0]->name2)};

  auto parse = [&](const std::string& text) {
    std::vector<Token> tokens;
    if (!Tokenize(text, tokens)) return Parser({{Token::Kind::Sign, "!"}}, *cols, qualifiers);
    return Parser(std::move(tokens), *cols, qualifiers);
  };
  auto all = [&] {
    for (std::size_t c = 0; c < cols->size(); ++c) plan.output.push_back({(*cols)[c], c});
  };
  if (flags & kAllFields) all();
  for (const QueryRow* f : fields) {
    const std::string e = f->expression;
    if (e == "*" || Lower(e) == Lower(plan.table) + ".*" ||
        (!tables[0]->name2.empty() && Lower(e) == Lower(tables[0]->name2) + ".*")) {
      all();
      continue;
    }
    const long c = parse(e).FieldOnly();
    if (c < 0) return cannot;
    const auto column = static_cast<std::size_t>(c);
    plan.output.push_back({f->name1.empty() ? (*cols)[column] : f->name1, column});
  }
  if (plan.output.empty()) return cannot;
  for (const QueryRow* w : where) {
    auto c = parse(w->expression).Whole();
    if (!c) return cannot;
    if (plan.where) {
      auto both = std::make_shared<Condition>();
      both->op = Condition::Op::And;
      both->a = plan.where;
      both->b = c;
      c = both;
    }
    plan.where = c;
  }
  for (const QueryRow* o : order) {
    const long c = parse(o->expression).FieldOnly();
    if (c < 0) return cannot;
    plan.order.push_back({static_cast<std::size_t>(c), Lower(o->name1) == "d"});
  }
  plan.distinct = (flags & kDistinct) != 0;
  if (flags & kTop) {
    char* end = nullptr;
    plan.top = std::strtol(top.c_str(), &end, 10);
    if (top.empty() || *end != '\0' || plan.top < 0) return cannot;
  }
  return {};
}

bool Selects(const SelectPlan& plan, const std::vector<Cell>& row) {
  return !plan.where || Eval(*plan.where, row) == Truth::True;
}

bool StreamedSelect::Take(const std::function<std::vector<Cell>()>& cells) {
  if (Done() || (plan_.where && !Selects(plan_, cells()))) return false;
  ++given_;
  return true;
}

std::vector<std::size_t> RunPlan(
    const SelectPlan& plan, const std::vector<std::vector<Cell>>& cells,
    const std::function<std::vector<std::string>(std::size_t)>& outputText) {
  std::vector<std::size_t> out;
  for (std::size_t r = 0; r < cells.size(); ++r)
    if (Selects(plan, cells[r])) out.push_back(r);
  if (!plan.order.empty()) {
    // Null first, as Access sorts; ties keep the table's order.
    std::stable_sort(out.begin(), out.end(), [&](std::size_t x, std::size_t y) {
      for (const SelectPlan::Order& o : plan.order) {
        const Cell& a = cells[x][o.column];
        const Cell& b = cells[y][o.column];
        const bool an = a.kind == Cell::Kind::Null, bn = b.kind == Cell::Kind::Null;
        int r = an && bn ? 0 : an ? -1 : bn ? 1 : Compare(a, b);
        if (r == 2) r = 0;
        if (o.descending) r = -r;
        if (r != 0) return r < 0;
      }
      return false;
    });
  }
  if (plan.distinct) {
    std::set<std::vector<std::string>> seen;
    std::vector<std::size_t> kept;
    for (std::size_t r : out) {
      std::vector<std::string> key = outputText(r);  // text compares ignoring case
      for (std::string& k : key) k = Lower(k);
      if (seen.insert(key).second) kept.push_back(r);
    }
    out.swap(kept);
  }
  if (plan.top >= 0 && out.size() > static_cast<std::size_t>(plan.top)) {
    // Records that tie with the last one by the order come too, as in Access.
    std::size_t keep = static_cast<std::size_t>(plan.top);
    auto tie = [&](std::size_t x, std::size_t y) {
      for (const SelectPlan::Order& o : plan.order)
        if (Compare(cells[x][o.column], cells[y][o.column]) != 0) return false;
      return !plan.order.empty();
    };
    while (keep > 0 && keep < out.size() && tie(out[keep - 1], out[keep])) ++keep;
    out.resize(keep);
  }
  return out;
}

}  // namespace pw::db
