#include "formula_parser.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdlib>
#include <initializer_list>
#include <limits>
#include <numbers>
#include <numeric>

namespace vantri::formula {
namespace {

enum UnaryOp { kNegate, kNot };
enum BinaryOp {
  kAdd,
  kSub,
  kMul,
  kDiv,
  kPow,
  kLess,
  kLessEq,
  kGreater,
  kGreaterEq,
  kEqual,
  kNotEqual,
  kAnd,
  kOr
};

using UnaryFunction = double (*)(double);
using ListFunction = double (*)(const std::vector<double>&);

struct FunctionDef {
  const char* name;
  int min_args;
  int max_args;  // -1: any number from min_args on
  const char* help;
  UnaryFunction unary;  // one argument, else null
  ListFunction list;    // any other arity
};

// Index in this table is the function code of a compiled call node; "if" is evaluated lazily.
const FunctionDef kFunctions[] = {
    {"sin", 1, 1, "sine (radians)", [](double v) { return std::sin(v); }, nullptr},
    {"cos", 1, 1, "cosine (radians)", [](double v) { return std::cos(v); }, nullptr},
    {"tan", 1, 1, "tangent (radians)", [](double v) { return std::tan(v); }, nullptr},
    {"asin", 1, 1, "arc sine (radians)", [](double v) { return std::asin(v); }, nullptr},
    {"acos", 1, 1, "arc cosine (radians)", [](double v) { return std::acos(v); }, nullptr},
    {"atan", 1, 1, "arc tangent (radians)", [](double v) { return std::atan(v); }, nullptr},
    {"atan2", 2, 2, "arc tangent of y/x in the quadrant of (x, y): atan2(y, x)", nullptr,
     [](const std::vector<double>& x) -> double { return std::atan2(x[0], x[1]); }},
    {"sinh", 1, 1, "hyperbolic sine", [](double v) { return std::sinh(v); }, nullptr},
    {"cosh", 1, 1, "hyperbolic cosine", [](double v) { return std::cosh(v); }, nullptr},
    {"tanh", 1, 1, "hyperbolic tangent", [](double v) { return std::tanh(v); }, nullptr},
    {"sqrt", 1, 1, "square root", [](double v) { return std::sqrt(v); }, nullptr},
    {"exp", 1, 1, "e raised to the power", [](double v) { return std::exp(v); }, nullptr},
    {"log", 1, 1, "natural logarithm", [](double v) { return std::log(v); }, nullptr},
    {"ln", 1, 1, "natural logarithm", [](double v) { return std::log(v); }, nullptr},
    {"log10", 1, 1, "logarithm to base 10", [](double v) { return std::log10(v); }, nullptr},
    {"log2", 1, 1, "logarithm to base 2", [](double v) { return std::log2(v); }, nullptr},
    {"abs", 1, 1, "absolute value", [](double v) { return std::fabs(v); }, nullptr},
    {"sign", 1, 1, "-1, 0 or 1 after the sign",
     [](double v) { return static_cast<double>((v > 0.0) - (v < 0.0)); }, nullptr},
    {"floor", 1, 1, "largest integer not above", [](double v) { return std::floor(v); }, nullptr},
    {"ceil", 1, 1, "smallest integer not below", [](double v) { return std::ceil(v); }, nullptr},
    {"round", 1, 1, "nearest integer, halves away from zero",
     [](double v) { return std::round(v); }, nullptr},
    {"min", 1, -1, "smallest argument", nullptr,
     [](const std::vector<double>& x) -> double { return *std::min_element(x.begin(), x.end()); }},
    {"max", 1, -1, "largest argument", nullptr,
     [](const std::vector<double>& x) -> double { return *std::max_element(x.begin(), x.end()); }},
    {"sum", 1, -1, "sum of the arguments", nullptr,
     [](const std::vector<double>& x) -> double {
       return std::accumulate(x.begin(), x.end(), 0.0);
     }},
    {"avg", 1, -1, "mean of the arguments", nullptr,
     [](const std::vector<double>& x) -> double {
       return std::accumulate(x.begin(), x.end(), 0.0) / static_cast<double>(x.size());
     }},
    {"pow", 2, 2, "pow(a, b) = a^b", nullptr,
     [](const std::vector<double>& x) -> double { return std::pow(x[0], x[1]); }},
    {"if", 3, 3, "if(c, a, b): a when c is not 0, else b", nullptr,
     [](const std::vector<double>& x) -> double { return x[0] != 0.0 ? x[1] : x[2]; }},
};
constexpr int kIfFunction = static_cast<int>(std::size(kFunctions)) - 1;

struct ConstantDef {
  const char* name;
  double value;
  const char* help;
};
const ConstantDef kConstants[] = {
    {"pi", std::numbers::pi, "3.14159265358979..."},
    {"e", std::numbers::e, "Euler's number 2.71828182845904..."},
};

int FindFunction(std::string_view name) {
  for (int i = 0; i < static_cast<int>(std::size(kFunctions)); ++i)
    if (name == kFunctions[i].name) return i;
  return -1;
}

const ConstantDef* FindConstant(std::string_view name) {
  for (const auto& c : kConstants)
    if (name == c.name) return &c;
  return nullptr;
}

bool IsNameStart(char c) { return std::isalpha(static_cast<unsigned char>(c)) || c == '_'; }
bool IsNameChar(char c) { return std::isalnum(static_cast<unsigned char>(c)) || c == '_'; }

bool IsValidName(const std::string& name) {
  if (name.empty() || !IsNameStart(name[0])) return false;
  return std::all_of(name.begin(), name.end(), IsNameChar);
}

struct Token {
  enum class Kind { kNumber, kName, kOperator, kOpen, kClose, kComma, kEnd } kind;
  std::string text;
  double number = 0.0;
  std::size_t position = 0;
};

std::string Describe(const Token& t) {
  switch (t.kind) {
    case Token::Kind::kNumber:
      return "number \"" + t.text + "\"";
    case Token::Kind::kName:
      return "name \"" + t.text + "\"";
    case Token::Kind::kEnd:
      return "end of formula";
    default:
      return "\"" + t.text + "\"";
  }
}

}  // namespace

// Recursive-descent compiler from formula text to the node list of a FormulaParser.
class Compiler {
 public:
  Compiler(FormulaParser& parser, std::string_view text) : parser_(parser), text_(text) {}

  bool Run() {
    if (!Tokenize()) return false;
    if (tokens_.size() == 1) return Fail("Empty formula", 0);
    if (ParseOr() < 0) return false;
    if (Peek().kind != Token::Kind::kEnd) {
      if (Peek().kind == Token::Kind::kClose) return Fail("Unbalanced \")\"", Peek().position);
      return Fail("Unexpected " + Describe(Peek()), Peek().position);
    }
    return true;
  }

 private:
  using Kind = FormulaParser::Node::Kind;

  bool Fail(std::string message, std::size_t position) {
    parser_.error_ = {std::move(message), position};
    return false;
  }

  bool Tokenize() {
    std::size_t i = 0;
    while (i < text_.size()) {
      const char c = text_[i];
      if (std::isspace(static_cast<unsigned char>(c))) {
        ++i;
      } else if (std::isdigit(static_cast<unsigned char>(c)) || c == '.') {
        if (!ReadNumber(i)) return false;
      } else if (IsNameStart(c)) {
        std::size_t end = i;
        while (end < text_.size() && IsNameChar(text_[end])) ++end;
        tokens_.push_back({Token::Kind::kName, std::string(text_.substr(i, end - i)), 0.0, i});
        i = end;
      } else if (!ReadSymbol(i)) {
        return Fail(std::string("Unexpected character \"") + c + "\"", i);
      }
    }
    tokens_.push_back({Token::Kind::kEnd, "", 0.0, text_.size()});
    return true;
  }

  bool ReadNumber(std::size_t& i) {
    // strtod would also accept "inf", "nan" and hex forms; scan the decimal form ourselves.
    std::size_t end = i;
    auto digits = [&] {
      while (end < text_.size() && std::isdigit(static_cast<unsigned char>(text_[end]))) ++end;
    };
    digits();
    bool has_digits = end > i;
    if (end < text_.size() && text_[end] == '.') {
      const std::size_t before = ++end;
      digits();
      has_digits = has_digits || end > before;
    }
    if (!has_digits) return Fail("Malformed number", i);
    if (end < text_.size() && (text_[end] == 'e' || text_[end] == 'E')) {
      std::size_t exp = end + 1;
      if (exp < text_.size() && (text_[exp] == '+' || text_[exp] == '-')) ++exp;
      if (exp < text_.size() && std::isdigit(static_cast<unsigned char>(text_[exp]))) {
        end = exp;
        digits();
      }
    }
    const std::string literal(text_.substr(i, end - i));
    tokens_.push_back({Token::Kind::kNumber, literal, std::strtod(literal.c_str(), nullptr), i});
    i = end;
    return true;
  }

  bool ReadSymbol(std::size_t& i) {
    static const char* const kTwoChar[] = {"<=", ">=", "==", "!=", "&&", "||"};
    for (const char* op : kTwoChar) {
      if (text_.substr(i, 2) == op) {
        tokens_.push_back({Token::Kind::kOperator, op, 0.0, i});
        i += 2;
        return true;
      }
    }
    const char c = text_[i];
    Token::Kind kind;
    if (c == '(') {
      kind = Token::Kind::kOpen;
    } else if (c == ')') {
      kind = Token::Kind::kClose;
    } else if (c == ',') {
      kind = Token::Kind::kComma;
    } else if (std::string_view("+-*/^<>!").find(c) != std::string_view::npos) {
      kind = Token::Kind::kOperator;
    } else {
      return false;
    }
    tokens_.push_back({kind, std::string(1, c), 0.0, i});
    ++i;
    return true;
  }

  const Token& Peek() const { return tokens_[next_]; }
  bool AcceptOperator(const char* op) {
    if (Peek().kind != Token::Kind::kOperator || Peek().text != op) return false;
    ++next_;
    return true;
  }

  // Evaluation recurses along the tree, so the tree's depth is bounded too (long chains such as
  // 1+1+...+1 build deep trees without nesting).
  int AddNode(FormulaParser::Node node) {
    int depth = 1;
    for (int arg : node.args) depth = std::max(depth, depth_[arg] + 1);
    if (depth > kMaxTreeDepth) {
      Fail("Formula too long", Peek().position);
      return -1;
    }
    parser_.program_.push_back(std::move(node));
    depth_.push_back(depth);
    return static_cast<int>(parser_.program_.size()) - 1;
  }
  int Binary(int op, int left, int right) {
    return AddNode({Kind::kBinary, 0.0, op, {left, right}});
  }

  using OperatorList = std::initializer_list<std::pair<const char*, BinaryOp>>;

  // The operator code when one of `ops` is next (and consumed), else -1.
  int AcceptOneOf(OperatorList ops) {
    for (const auto& [text, op] : ops)
      if (AcceptOperator(text)) return op;
    return -1;
  }

  // Each parse function returns the node index of its sub-expression or -1 after Fail().

  // operand { op operand }, left associative.
  int ParseLeftAssociative(OperatorList ops, int (Compiler::*operand)()) {
    int left = (this->*operand)();
    for (int op; left >= 0 && (op = AcceptOneOf(ops)) >= 0;) {
      const int right = (this->*operand)();
      if (right < 0) return -1;
      left = Binary(op, left, right);
    }
    return left;
  }

  int ParseOr() { return ParseLeftAssociative({{"||", kOr}}, &Compiler::ParseAnd); }
  int ParseAnd() { return ParseLeftAssociative({{"&&", kAnd}}, &Compiler::ParseCompare); }
  int ParseSum() {
    return ParseLeftAssociative({{"+", kAdd}, {"-", kSub}}, &Compiler::ParseProduct);
  }
  int ParseProduct() {
    return ParseLeftAssociative({{"*", kMul}, {"/", kDiv}}, &Compiler::ParseUnary);
  }

  // sum [ comparison sum ]: comparisons do not chain.
  int ParseCompare() {
    const int left = ParseSum();
    if (left < 0) return -1;
    const int op = AcceptOneOf({{"<=", kLessEq},
                                {">=", kGreaterEq},
                                {"<", kLess},
                                {">", kGreater},
                                {"==", kEqual},
                                {"!=", kNotEqual}});
    if (op < 0) return left;
    const int right = ParseSum();
    return right < 0 ? -1 : Binary(op, left, right);
  }

  // Parentheses, calls, signs and exponents nest through here; the depth is bounded so that a
  // hostile formula cannot exhaust the stack.
  int ParseUnary() {
    if (nesting_ >= kMaxNesting) {
      Fail("Formula nested too deeply", Peek().position);
      return -1;
    }
    ++nesting_;
    const int node = ParseUnaryAtThisDepth();
    --nesting_;
    return node;
  }

  int ParseUnaryAtThisDepth() {
    if (AcceptOperator("+")) return ParseUnary();
    for (const auto& [text, op] : {std::pair{"-", kNegate}, std::pair{"!", kNot}}) {
      if (AcceptOperator(text)) {
        const int operand = ParseUnary();
        return operand < 0 ? -1 : AddNode({Kind::kUnary, 0.0, op, {operand}});
      }
    }
    return ParsePower();
  }

  int ParsePower() {
    const int base = ParsePrimary();
    if (base < 0 || !AcceptOperator("^")) return base;
    const int exponent = ParseUnary();
    return exponent < 0 ? -1 : Binary(kPow, base, exponent);
  }

  int ParsePrimary() {
    const Token token = Peek();
    switch (token.kind) {
      case Token::Kind::kNumber:
        ++next_;
        return AddNode({Kind::kConst, token.number, 0, {}});
      case Token::Kind::kName:
        ++next_;
        return ParseName(token);
      case Token::Kind::kOpen: {
        ++next_;
        const int inner = ParseOr();
        if (inner < 0) return -1;
        if (!ExpectClose(token.position)) return -1;
        return inner;
      }
      case Token::Kind::kEnd:
        Fail("Unexpected end of formula", token.position);
        return -1;
      default:
        Fail("Unexpected " + Describe(token), token.position);
        return -1;
    }
  }

  bool ExpectClose(std::size_t open_position) {
    if (Peek().kind == Token::Kind::kClose) {
      ++next_;
      return true;
    }
    if (Peek().kind == Token::Kind::kEnd)
      return Fail("Missing \")\" for the \"(\" at position " + std::to_string(open_position + 1),
                  Peek().position);
    return Fail("Unexpected " + Describe(Peek()) + ", expected \")\"", Peek().position);
  }

  int ParseName(const Token& token) {
    const int function = FindFunction(token.text);
    if (function >= 0) return ParseCall(token, function);
    if (Peek().kind == Token::Kind::kOpen) {
      Fail("Unknown function \"" + token.text + "\"", token.position);
      return -1;
    }
    if (const ConstantDef* constant = FindConstant(token.text))
      return AddNode({Kind::kConst, constant->value, 0, {}});
    const auto& names = parser_.variable_names_;
    const auto it = std::find(names.begin(), names.end(), token.text);
    if (it == names.end()) {
      Fail("Unknown variable \"" + token.text + "\"", token.position);
      return -1;
    }
    auto& used = parser_.used_variables_;
    if (std::find(used.begin(), used.end(), token.text) == used.end()) used.push_back(token.text);
    return AddNode({Kind::kVar, 0.0, static_cast<int>(it - names.begin()), {}});
  }

  int ParseCall(const Token& token, int function) {
    const FunctionDef& def = kFunctions[function];
    if (Peek().kind != Token::Kind::kOpen) {
      Fail("Function \"" + token.text + "\" needs \"(\"", Peek().position);
      return -1;
    }
    const std::size_t open_position = Peek().position;
    ++next_;
    std::vector<int> args;
    if (Peek().kind != Token::Kind::kClose) {
      do {
        const int arg = ParseOr();
        if (arg < 0) return -1;
        args.push_back(arg);
      } while (Peek().kind == Token::Kind::kComma && (++next_, true));
    }
    if (!ExpectClose(open_position)) return -1;
    const int count = static_cast<int>(args.size());
    if (count < def.min_args || (def.max_args >= 0 && count > def.max_args)) {
      Fail(ArgumentCountMessage(def, count), token.position);
      return -1;
    }
    return AddNode({Kind::kCall, 0.0, function, std::move(args)});
  }

  static std::string ArgumentCountMessage(const FunctionDef& def, int given) {
    std::string expected = std::to_string(def.min_args);
    if (def.max_args < 0) expected = "at least " + expected;
    return "Function \"" + std::string(def.name) + "\" takes " + expected + " argument" +
           (def.min_args == 1 && def.max_args == 1 ? "" : "s") + ", " + std::to_string(given) +
           " given";
  }

  static constexpr int kMaxNesting = 200;
  static constexpr int kMaxTreeDepth = 1000;

  FormulaParser& parser_;
  std::string_view text_;
  std::vector<Token> tokens_;
  std::size_t next_ = 0;
  int nesting_ = 0;
  std::vector<int> depth_;  // tree depth of each node of the program
};

FormulaParser::FormulaParser() = default;

bool FormulaParser::DefineVariable(const std::string& name, double value) {
  if (!IsValidName(name) || FindFunction(name) >= 0 || FindConstant(name)) return false;
  const auto it = std::find(variable_names_.begin(), variable_names_.end(), name);
  if (it != variable_names_.end()) return true;
  variable_names_.push_back(name);
  variable_values_.push_back(value);
  return true;
}

bool FormulaParser::SetVariable(const std::string& name, double value) {
  const auto it = std::find(variable_names_.begin(), variable_names_.end(), name);
  if (it == variable_names_.end()) return false;
  variable_values_[it - variable_names_.begin()] = value;
  return true;
}

bool FormulaParser::IsVariable(const std::string& name) const {
  return std::find(variable_names_.begin(), variable_names_.end(), name) != variable_names_.end();
}

bool FormulaParser::Compile(std::string_view text) {
  program_.clear();
  used_variables_.clear();
  error_ = {};
  Compiler compiler(*this, text);
  if (compiler.Run()) return true;
  program_.clear();
  used_variables_.clear();
  return false;
}

std::string FormulaParser::ErrorText() const {
  if (error_.message.empty()) return {};
  return error_.message + " at position " + std::to_string(error_.position + 1);
}

bool FormulaParser::UsesVariable(const std::string& name) const {
  return std::find(used_variables_.begin(), used_variables_.end(), name) != used_variables_.end();
}

double FormulaParser::Evaluate() const {
  if (program_.empty()) return std::numeric_limits<double>::quiet_NaN();
  return EvaluateNode(static_cast<int>(program_.size()) - 1);
}

namespace {

double ApplyBinary(int op, double a, double b) {
  switch (op) {
    case kAdd:
      return a + b;
    case kSub:
      return a - b;
    case kMul:
      return a * b;
    case kDiv:
      return a / b;
    case kPow:
      return std::pow(a, b);
    case kLess:
      return a < b;
    case kLessEq:
      return a <= b;
    case kGreater:
      return a > b;
    case kGreaterEq:
      return a >= b;
    case kEqual:
      return a == b;
    case kNotEqual:
      return a != b;
    case kAnd:
      return a != 0.0 && b != 0.0;
    case kOr:
      return a != 0.0 || b != 0.0;
  }
  return std::numeric_limits<double>::quiet_NaN();
}

}  // namespace

double FormulaParser::EvaluateNode(int index) const {
  const Node& node = program_[index];
  switch (node.kind) {
    case Node::Kind::kConst:
      return node.value;
    case Node::Kind::kVar:
      return variable_values_[node.code];
    case Node::Kind::kUnary: {
      const double a = EvaluateNode(node.args[0]);
      return node.code == kNegate ? -a : static_cast<double>(a == 0.0);
    }
    case Node::Kind::kBinary:
      return ApplyBinary(node.code, EvaluateNode(node.args[0]), EvaluateNode(node.args[1]));
    case Node::Kind::kCall: {
      if (node.code == kIfFunction)
        return EvaluateNode(node.args[EvaluateNode(node.args[0]) != 0.0 ? 1 : 2]);
      const FunctionDef& function = kFunctions[node.code];
      if (function.unary != nullptr) return function.unary(EvaluateNode(node.args[0]));
      std::vector<double> values;
      values.reserve(node.args.size());
      for (int arg : node.args) values.push_back(EvaluateNode(arg));
      return function.list(values);
    }
  }
  return std::numeric_limits<double>::quiet_NaN();
}

const std::vector<SymbolHelp>& FormulaParser::HelpTable() {
  static const std::vector<SymbolHelp> table = [] {
    std::vector<SymbolHelp> rows = {
        {"+ -", "addition, subtraction"},
        {"* /", "multiplication, division"},
        {"^", "power (right associative; -2^2 = -4)"},
        {"-x", "unary minus"},
        {"( )", "grouping"},
        {"< <= > >= == !=", "comparison: 1 when true, else 0"},
        {"&& || !", "logical and, or, not"},
        {",", "argument separator"},
        {".", "decimal point"},
    };
    for (const auto& c : kConstants) rows.push_back({c.name, c.help});
    for (const auto& f : kFunctions) {
      std::string args = f.min_args == 1 && f.max_args == 1 ? "x"
                         : f.max_args < 0                   ? "x, ..."
                         : f.min_args == 2                  ? "a, b"
                                                            : "c, a, b";
      rows.push_back({std::string(f.name) + "(" + args + ")", f.help});
    }
    return rows;
  }();
  return table;
}

}  // namespace vantri::formula
