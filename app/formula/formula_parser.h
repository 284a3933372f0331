#pragma once

// A general mathematical expression parser: compile a formula once, evaluate it many times with
// new variable values.
//
// Grammar (lowest to highest precedence):
//   expression := or
//   or         := and { "||" and }
//   and        := compare { "&&" compare }
//   compare    := sum [ ("<" | "<=" | ">" | ">=" | "==" | "!=") sum ]
//   sum        := product { ("+" | "-") product }
//   product    := unary { ("*" | "/") unary }
//   unary      := ("-" | "+" | "!") unary | power
//   power      := primary [ "^" unary ]            (right associative: 2^3^2 = 2^9)
//   primary    := number | constant | variable | function "(" args ")" | "(" expression ")"
// So -2^2 = -4, as in written mathematics. Numbers use "." as decimal point and may carry an
// exponent ("1.5e-3"); "," separates function arguments. Names are case-sensitive (K1 differs
// from k1). Comparisons and logical operators give 1 or 0; a value is true when it is not 0.

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace vantri::formula {

struct ParseError {
  std::string message;   // empty when there is no error
  std::size_t position;  // 0-based character offset in the formula text of the fault
};

// One entry of the user-visible table of symbols.
struct SymbolHelp {
  std::string symbol;       // e.g. "sqrt(x)", "+", "pi"
  std::string description;  // e.g. "square root"
};

class FormulaParser {
 public:
  FormulaParser();

  // Declares a variable (value 0). Names start with a letter or "_" and continue with letters,
  // digits and "_"; they must not be a function or constant name. Returns false otherwise.
  // Redeclaring keeps the current value and returns true.
  bool DefineVariable(const std::string& name, double value = 0.0);
  // Sets a declared variable; returns false for an unknown name.
  bool SetVariable(const std::string& name, double value);
  bool IsVariable(const std::string& name) const;

  // Compiles the formula against the declared variables. On failure returns false, keeps no
  // program (Evaluate() then returns NaN) and error() tells what and where.
  bool Compile(std::string_view text);
  bool IsCompiled() const { return !program_.empty(); }
  const ParseError& error() const { return error_; }
  // "message at position N" with a 1-based column, for showing to the operator.
  std::string ErrorText() const;

  // Evaluates the compiled formula with the current variable values. Domain errors follow IEEE
  // rules (sqrt(-1) is NaN, 1/0 is inf).
  double Evaluate() const;

  // Variables the compiled formula reads, in order of first use.
  const std::vector<std::string>& used_variables() const { return used_variables_; }
  bool UsesVariable(const std::string& name) const;

  static const std::vector<SymbolHelp>& HelpTable();

 private:
  std::vector<std::string> variable_names_;
  std::vector<double> variable_values_;
  // Compiled expression tree, children before parents; the root is the last node.
  struct Node {
    enum class Kind { kConst, kVar, kUnary, kBinary, kCall } kind;
    double value = 0.0;  // kConst
    int code = 0;        // kVar: variable slot; kUnary, kBinary: operator; kCall: function
    std::vector<int> args;
  };
  double EvaluateNode(int node) const;
  friend class Compiler;

  std::vector<Node> program_;
  std::vector<std::string> used_variables_;
  ParseError error_{};
};

}  // namespace vantri::formula
