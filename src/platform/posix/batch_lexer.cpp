#include "platform/posix/batch_lexer.h"

#include <cctype>

namespace volok::platform::posix {

namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

bool IsOperator(char c) { return c == '&' || c == '|' || c == '(' || c == ')' || c == '<' || c == '>'; }

// Where a closing quote may stand: before a blank, an operator, "=", or the
// line's end. Any other " belongs to the quoted text.
bool ClosesQuote(const std::string& line, std::size_t next) {
  return next >= line.size() || IsBlank(line[next]) || IsOperator(line[next]) || line[next] == '=';
}

class Lexer final {
 public:
  Lexer(const std::string& line, std::vector<Token>& tokens) : FLine(line), FTokens(tokens) {}

  bool Run(int& depth, std::string& error) {
    depth = 0;
    for (FPos = 0; FPos < FLine.size();) {
      char c = FLine[FPos];
      if (IsBlank(c)) {
        EndWord();
        ++FPos;
      } else if (c == '"') {
        Quoted();
      } else if (c == kVariableStart) {
        Variable();
      } else if (c == '^') {
        if (FPos + 1 < FLine.size()) Literal(FLine[FPos + 1]);
        FPos += 2;
      } else if (c == '>' || c == '<') {
        if (!Redirection(error)) return false;
      } else if (c == '=' && FPos + 1 < FLine.size() && FLine[FPos + 1] == '=') {
        Operator(TokenKind::Equals, 2);
      } else if (c == '&' || c == '|') {
        bool doubled = FPos + 1 < FLine.size() && FLine[FPos + 1] == c;
        Operator(c == '&' ? (doubled ? TokenKind::AndIf : TokenKind::And) : (doubled ? TokenKind::OrIf : TokenKind::Pipe),
                 doubled ? 2 : 1);
      } else if (c == '(' || c == ')') {
        depth += c == '(' ? 1 : -1;
        if (depth < 0) {
          error = "a \")\" without its \"(\"";
          return false;
        }
        Operator(c == '(' ? TokenKind::Open : TokenKind::Close, 1);
      } else {
        Literal(c);
        ++FPos;
      }
    }
    EndWord();
    return true;
  }

 private:
  Token& Word() {
    if (!FInWord) {
      FTokens.push_back({});
      FInWord = true;
    }
    return FTokens.back();
  }

  void EndWord() { FInWord = false; }

  void Literal(char c) {
    Token& word = Word();
    if (word.Pieces.empty() || word.Pieces.back().Variable) word.Pieces.push_back({});
    word.Pieces.back().Text += c;
  }

  void Variable() {
    std::size_t end = FLine.find(kVariableEnd, FPos);
    Word().Pieces.push_back({true, FLine.substr(FPos + 1, end - FPos - 1)});
    FPos = end + 1;
  }

  void Operator(TokenKind kind, std::size_t length) {
    EndWord();
    Token token;
    token.Kind = kind;
    FTokens.push_back(token);
    FPos += length;
  }

  // From an opening quote to its closing one (or the line's end, as cmd
  // takes an unclosed quote); "" inside is one ".
  void Quoted() {
    Word().Quoted = true;
    for (++FPos; FPos < FLine.size();) {
      char c = FLine[FPos];
      if (c == kVariableStart) {
        Variable();
      } else if (c == '"' && FPos + 1 < FLine.size() && FLine[FPos + 1] == '"') {
        Literal('"');
        FPos += 2;
      } else if (c == '"' && ClosesQuote(FLine, FPos + 1)) {
        ++FPos;
        return;
      } else {
        Literal(c);
        ++FPos;
      }
    }
  }

  // ">", ">>", "<", "2>", "2>&1" and the like, with the target: dropped, the
  // script's output goes nowhere anyway.
  bool Redirection(std::string& error) {
    if (FInWord && FTokens.back().Pieces.size() == 1 && !FTokens.back().Quoted &&
        FTokens.back().Pieces[0].Text.size() == 1 && std::isdigit(static_cast<unsigned char>(FTokens.back().Pieces[0].Text[0])))
      FTokens.pop_back();  // the handle number of "2>"
    EndWord();
    if (FLine[FPos] == '<') {
      error = "input redirection";
      return false;
    }
    FPos += FLine.compare(FPos, 2, ">>") == 0 ? 2 : 1;
    if (FPos + 1 < FLine.size() && FLine[FPos] == '&' && std::isdigit(static_cast<unsigned char>(FLine[FPos + 1]))) {
      FPos += 2;
      return true;
    }
    while (FPos < FLine.size() && IsBlank(FLine[FPos])) ++FPos;
    std::size_t before = FTokens.size();
    while (FPos < FLine.size() && !IsBlank(FLine[FPos]) && !IsOperator(FLine[FPos])) {
      if (FLine[FPos] == '"')
        Quoted();
      else if (FLine[FPos] == kVariableStart)
        Variable();
      else
        Literal(FLine[FPos++]);
    }
    EndWord();
    FTokens.resize(before);
    return true;
  }

  const std::string& FLine;
  std::vector<Token>& FTokens;
  std::size_t FPos = 0;
  bool FInWord = false;
};

}  // namespace

std::string Lower(std::string text) {
  for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

std::string Trimmed(const std::string& text) {
  std::size_t begin = text.find_first_not_of(" \t@");
  return begin == std::string::npos ? "" : text.substr(begin);
}

bool IsName(const std::string& name) {
  if (name.empty()) return false;
  for (char c : name)
    if (!std::isalnum(static_cast<unsigned char>(c)) && c != '_') return false;
  return true;
}

std::string SingleQuoted(const std::string& text) {
  std::string out = "'";
  for (char c : text) out += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return out + "'";
}

bool LexBatchLine(const std::string& line, std::vector<Token>& tokens, int& depth, std::string& error) {
  tokens.clear();
  return Lexer(line, tokens).Run(depth, error);
}

bool LiteralText(const Token& token, std::string& text) {
  text.clear();
  for (const WordPiece& piece : token.Pieces) {
    if (piece.Variable) return false;
    text += piece.Text;
  }
  return token.Kind == TokenKind::Word;
}

}  // namespace volok::platform::posix
