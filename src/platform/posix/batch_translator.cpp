#include "platform/posix/batch_translator.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <set>

#include "platform/posix/path_map.h"

namespace volok::platform::posix {

namespace {

class Translator final {
 public:
  Translator(const std::vector<Token>& tokens, const std::map<std::string, int>& labels)
      : FTokens(tokens), FLabels(labels) {}

  bool Run(std::string& sh, std::string& error) {
    bool ok = Sequence(false, sh) && (FPos == FTokens.size() || Fail("a \")\" too many"));
    error = FError;
    return ok;
  }

 private:
  bool Fail(const std::string& error) {
    if (FError.empty()) FError = error;
    return false;
  }

  bool At(TokenKind kind) const { return FPos < FTokens.size() && FTokens[FPos].Kind == kind; }

  bool AtWord(const char* lower) const {
    std::string text;
    return At(TokenKind::Word) && LiteralText(FTokens[FPos], text) && Lower(text) == lower;
  }

  bool Sequence(bool in_group, std::string& sh) {
    if (!Command(in_group, sh)) return false;
    return SequenceAfter(in_group, sh);
  }

  // The rest of a sequence whose first command is already in `sh`.
  bool SequenceAfter(bool in_group, std::string& sh) {
    while (FPos < FTokens.size() && !At(TokenKind::Close)) {
      TokenKind kind = FTokens[FPos++].Kind;
      if (kind == TokenKind::Pipe) return Fail("a pipe");
      if (kind != TokenKind::And && kind != TokenKind::AndIf && kind != TokenKind::OrIf) return Fail("a command expected");
      std::string next;
      if (!Command(in_group, next)) return false;
      sh += (kind == TokenKind::And ? "; " : kind == TokenKind::AndIf ? " && " : " || ") + next;
    }
    return true;
  }

  bool Command(bool in_group, std::string& sh) {
    if (FPos >= FTokens.size() || (!At(TokenKind::Word) && !At(TokenKind::Open))) {
      sh = ":";
      return true;
    }
    if (At(TokenKind::Open)) {
      ++FPos;
      std::string inner;
      if (!Sequence(true, inner)) return false;
      if (!At(TokenKind::Close)) return Fail("a \"(\" without its \")\"");
      ++FPos;
      sh = "{ " + inner + "; }";
      return true;
    }
    std::string name;
    if (!LiteralText(FTokens[FPos], name)) return Fail("a command named by a variable");
    name = Lower(Trimmed(name));
    ++FPos;
    if (name == "if") return If(in_group, sh);
    if (name == "rem" || name == "::") {
      while (FPos < FTokens.size() && !At(TokenKind::Close)) ++FPos;
      sh = ":";
      return true;
    }
    std::vector<const Token*> args;
    while (At(TokenKind::Word)) args.push_back(&FTokens[FPos++]);
    if (At(TokenKind::Equals)) return Fail("\"==\" outside \"if\"");
    return Simple(name, args, sh);
  }

  bool Condition(std::string& test) {
    if (AtWord("/i")) return Fail("\"if /i\"");
    bool negated = AtWord("not");
    if (negated) ++FPos;
    if (AtWord("exist")) {
      ++FPos;
      std::string path;
      if (!At(TokenKind::Word) || !NativeOperand(FTokens[FPos++], path)) return false;
      test = "[ -e " + SingleQuoted(path) + " ]";
    } else {
      if (!At(TokenKind::Word)) return Fail("\"if\" without a condition");
      std::string left = Expanded(FTokens[FPos++]), op;
      static const std::map<std::string, std::string> kOps = {{"equ", "-eq"}, {"neq", "-ne"}, {"lss", "-lt"},
                                                               {"leq", "-le"}, {"gtr", "-gt"}, {"geq", "-ge"}};
      std::string word;
      if (At(TokenKind::Equals)) {
        op = "=";
      } else if (At(TokenKind::Word) && LiteralText(FTokens[FPos], word) && kOps.count(Lower(word))) {
        op = kOps.at(Lower(word));
      } else {
        return Fail("an \"if\" comparison other than == equ neq lss leq gtr geq");
      }
      ++FPos;
      if (!At(TokenKind::Word)) return Fail("\"if\" without its second operand");
      test = "[ " + left + " " + op + " " + Expanded(FTokens[FPos++]) + " ]";
    }
    if (negated) test = "! " + test;
    return true;
  }

  bool If(bool in_group, std::string& sh) {
    std::string test, body;
    if (!Condition(test)) return false;
    bool group = At(TokenKind::Open);
    if (!Command(in_group, body)) return false;
    if (group && AtWord("else")) {
      ++FPos;
      std::string otherwise;
      if (!Sequence(in_group, otherwise)) return false;
      sh = "if " + test + "; then " + body + "; else " + otherwise + "; fi";
      return true;
    }
    // cmd's "if" governs the rest of the line, "&" chains included.
    if (!SequenceAfter(in_group, body)) return false;
    sh = "if " + test + "; then " + body + "; fi";
    return true;
  }

  bool Simple(const std::string& name, const std::vector<const Token*>& args, std::string& sh);
  bool Delete(const std::vector<const Token*>& args, bool folders, std::string& sh);
  bool Attrib(const std::vector<const Token*>& args, std::string& sh);
  bool Wait(const std::string& name, const std::vector<const Token*>& args, std::string& sh);
  bool Set(const std::vector<const Token*>& args, std::string& sh);

  bool NativeOperand(const Token& token, std::string& native) {
    std::string text;
    if (!LiteralText(token, text)) return Fail("a path built on a variable");
    if (text.find_first_of("*?") != std::string::npos) return Fail("a wildcard: " + text);
    if (!ToNativePath(text, native) || native.empty()) return Fail("a path with no place here: " + text);
    return true;
  }

  // A word as a double-quoted shell word, the batch's variables read when
  // the script runs.
  static std::string Expanded(const Token& token) {
    std::string out = "\"";
    for (const WordPiece& piece : token.Pieces) {
      if (piece.Variable) {
        out += "${v_" + piece.Text + "}";
        continue;
      }
      for (char c : piece.Text) {
        if (c == '\\' || c == '"' || c == '$' || c == '`') out += '\\';
        out += c;
      }
    }
    return out + "\"";
  }

  const std::vector<Token>& FTokens;
  const std::map<std::string, int>& FLabels;
  std::size_t FPos = 0;
  std::string FError;
};

std::vector<std::string> Switches(const std::vector<const Token*>& args, std::vector<const Token*>& operands) {
  std::vector<std::string> switches;
  for (const Token* arg : args) {
    std::string text;
    if (!arg->Quoted && LiteralText(*arg, text) && !text.empty() && (text[0] == '/' || text[0] == '-' || text[0] == '+'))
      switches.push_back(Lower(text));
    else
      operands.push_back(arg);
  }
  return switches;
}

bool Translator::Simple(const std::string& name, const std::vector<const Token*>& args, std::string& sh) {
  if (name == "del" || name == "erase") return Delete(args, false, sh);
  if (name == "rmdir" || name == "rd") return Delete(args, true, sh);
  if (name == "attrib") return Attrib(args, sh);
  if (name == "ping" || name == "timeout") return Wait(name, args, sh);
  if (name == "set") return Set(args, sh);
  if (name == "goto") {
    std::string label;
    if (args.size() != 1 || !LiteralText(*args[0], label)) return Fail("\"goto\" without one label");
    label = Lower(label[0] == ':' ? label.substr(1) : label);
    if (label == "eof") {
      sh = "exit 0";
      return true;
    }
    auto found = FLabels.find(label);
    if (found == FLabels.end()) return Fail("no label :" + label);
    sh = "pc=" + std::to_string(found->second) + "; continue";
    return true;
  }
  if (name == "exit") {
    sh = "exit 0";
    return true;
  }
  if (name == "cd" || name == "chdir") {
    std::vector<const Token*> operands;
    (void)Switches(args, operands);
    std::string folder;
    if (operands.size() > 1 || (operands.size() == 1 && !NativeOperand(*operands[0], folder))) return Fail("\"cd\" to one folder");
    sh = operands.empty() ? ":" : "cd -- " + SingleQuoted(folder) + " || :";
    return true;
  }
  static const std::set<std::string> kNothing = {"echo", "echo.", "chcp", "setlocal", "endlocal", "title", "cls"};
  if (kNothing.count(name)) {
    sh = ":";
    return true;
  }
  return Fail("the command \"" + name + "\"");
}

bool Translator::Delete(const std::vector<const Token*>& args, bool folders, std::string& sh) {
  std::vector<const Token*> operands;
  bool tree = false;
  for (const std::string& option : Switches(args, operands)) {
    if (folders && option == "/s")
      tree = true;
    else if (option != "/q" && option != "/f" && option.rfind("/a", 0) != 0)
      return Fail("the switch " + option);
  }
  if (operands.empty()) return Fail("a delete without a path");
  std::string command = folders ? (tree ? "rm -rf -- " : "rmdir -- ") : "rm -f -- ";
  sh = "{ :";
  for (const Token* operand : operands) {
    std::string path;
    if (!NativeOperand(*operand, path)) return false;
    sh += "; " + command + SingleQuoted(path);
  }
  sh += "; }";
  return true;
}

// Read-only is the owner's write bit here; the other bits have no effect on
// a delete.
bool Translator::Attrib(const std::vector<const Token*>& args, std::string& sh) {
  std::vector<const Token*> operands;
  std::string mode;
  for (const std::string& option : Switches(args, operands)) {
    if (option == "-r" || option == "+r")
      mode = option == "-r" ? "u+w" : "a-w";
    else if (option.size() != 2 || (option[0] != '+' && option[0] != '-') || std::string("ahs").find(option[1]) == std::string::npos)
      return Fail("the switch " + option);
  }
  sh = "{ :";
  for (const Token* operand : operands) {
    std::string path;
    if (!NativeOperand(*operand, path)) return false;
    if (!mode.empty()) sh += "; chmod " + mode + " -- " + SingleQuoted(path);
  }
  sh += "; }";
  return true;
}

// "ping -n N" takes N-1 seconds on a host that answers (the loopback one
// always does); "timeout /t N" takes N.
bool Translator::Wait(const std::string& name, const std::vector<const Token*>& args, std::string& sh) {
  const char* count_switch = name == "ping" ? "-n" : "/t";
  long count = name == "ping" ? 4 : 0;
  for (std::size_t i = 0; i < args.size(); ++i) {
    std::string text;
    if (!LiteralText(*args[i], text) || Lower(text) != count_switch || i + 1 >= args.size()) continue;
    std::string value;
    if (!LiteralText(*args[i + 1], value)) return Fail("a wait built on a variable");
    count = std::strtol(value.c_str(), nullptr, 10);
  }
  if (count < 0) return Fail("a wait for a key");
  long milliseconds = (name == "ping" ? std::max(count - 1, 0L) : count) * 1000;
  sh = "nap " + std::to_string(std::min<long>(milliseconds, kMaxWaitMs + 1));
  return true;
}

bool Translator::Set(const std::vector<const Token*>& args, std::string& sh) {
  bool arithmetic = false;
  std::vector<WordPiece> pieces;
  for (std::size_t i = 0; i < args.size(); ++i) {
    std::string text;
    if (i == 0 && LiteralText(*args[i], text) && Lower(text) == "/a") {
      arithmetic = true;
      continue;
    }
    if (!pieces.empty() && !arithmetic) pieces.push_back({false, " "});
    pieces.insert(pieces.end(), args[i]->Pieces.begin(), args[i]->Pieces.end());
  }
  if (pieces.empty() || pieces[0].Variable) return Fail("\"set\" without a name");
  std::string head = pieces[0].Text;
  std::size_t equals = head.find('=');
  if (equals == std::string::npos) return Fail("\"set\" without \"=\"");
  std::string name = Lower(head.substr(0, equals)), op;
  while (!name.empty() && (name.back() == ' ' || name.back() == '+' || name.back() == '-')) {
    if (name.back() != ' ') op = name.back();
    name.pop_back();
  }
  if (!IsName(name)) return Fail("the variable name \"" + name + "\"");
  Token value;
  value.Pieces = pieces;
  value.Pieces[0].Text = head.substr(equals + 1);
  if (!arithmetic) {
    if (!op.empty()) return Fail("\"" + op + "=\" without /a");
    sh = "v_" + name + "=" + Expanded(value);
    return true;
  }
  std::string operand;
  if (value.Pieces.size() == 1 && !value.Pieces[0].Variable) {
    operand = value.Pieces[0].Text;
    if (IsName(operand) && !std::isdigit(static_cast<unsigned char>(operand[0]))) operand = "${v_" + Lower(operand) + ":-0}";
    else if (operand.find_first_not_of("0123456789", operand[0] == '-' ? 1 : 0) != std::string::npos || operand == "-" || operand.empty())
      return Fail("the expression \"" + operand + "\"");
  } else if (value.Pieces.size() == 2 && value.Pieces[0].Text.empty() && value.Pieces[1].Variable) {
    operand = "${v_" + value.Pieces[1].Text + ":-0}";
  } else {
    return Fail("an expression other than a number or a name");
  }
  sh = "v_" + name + "=$((" + (op.empty() ? "" : "${v_" + name + ":-0} " + op + " ") + operand + "))";
  return true;
}

}  // namespace

bool TranslateStatement(const std::vector<Token>& tokens, const std::map<std::string, int>& labels, std::string& sh,
                        std::string& error) {
  return Translator(tokens, labels).Run(sh, error);
}

}  // namespace volok::platform::posix
