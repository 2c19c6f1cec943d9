// The words and operators of one logical batch line, for the translation in
// batch_script.h (which describes the syntax).
#pragma once

#include <string>
#include <vector>

namespace volok::platform::posix {

// Marks a variable that the batch itself sets, left in the text by the
// percent expansion: kVariableStart name kVariableEnd.
constexpr char kVariableStart = '\x01';
constexpr char kVariableEnd = '\x02';

// A piece of a word: literal text, or a variable the batch sets (its name in
// lower case), read when the script runs.
struct WordPiece {
  bool Variable = false;
  std::string Text;
};

enum class TokenKind { Word, And, AndIf, OrIf, Pipe, Open, Close, Equals };

struct Token {
  TokenKind Kind = TokenKind::Word;
  std::vector<WordPiece> Pieces;  // a word's text
  bool Quoted = false;            // some of the word was in quotes
};

// The tokens of `line`; redirections and their targets are left out. False
// with `error` for an unknown form; `depth` tells how many parentheses stay
// open at the end (the line goes on on the next one).
[[nodiscard]] bool LexBatchLine(const std::string& line, std::vector<Token>& tokens, int& depth, std::string& error);

// The word's literal text, or false when part of it is a variable.
[[nodiscard]] bool LiteralText(const Token& token, std::string& text);

// Small text helpers of the translation.
std::string Lower(std::string text);           // ASCII letters only, as cmd's names
std::string Trimmed(const std::string& text);  // without leading blanks and "@"
bool IsName(const std::string& name);          // letters, digits, "_"
std::string SingleQuoted(const std::string& text);  // one shell word, any content

}  // namespace volok::platform::posix
