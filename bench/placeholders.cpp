// "{Name}" placeholders in a text of 1 MB holding 20,000 "{ShortName}" (the
// CopyText of a large template), under a table as large as the engine's,
// timed inside the process. scripts/bench runs each way several times.
//
//   bench_placeholders process   TVariables::Process
//   bench_placeholders replace   one find-and-replace pass per variable, no
//                                restart rule: the floor any way can reach
//
// Prints "seconds=" and "size=" (the two must agree for this text).
#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>

#include "model/variables.h"

namespace {

constexpr std::size_t kTextSize = 1 << 20;
constexpr int kPlaceholders = 20000;

volok::TVariables Table() {
  volok::TVariables vars;
  for (int i = 0; i < 32; ++i) vars.Add("Folder" + std::to_string(i), "C:\\Folder\\" + std::to_string(i));
  vars.Add("InstallPath", "C:\\Program Files\\Editor");
  vars.Add("Company", "ООО «Ёлка»");
  vars.Add("Name", "Редактор");
  vars.Add("ShortName", "Editor");
  return vars;
}

// Lines of prose with a placeholder every ~52 bytes and a stray brace now and
// then, so the search meets near misses too.
std::string Text() {
  const std::string filler = "Lorem ipsum dolor {sit} amet, consectetur adipiscing";
  std::string text;
  text.reserve(kTextSize);
  for (int i = 0; i < kPlaceholders; ++i) text += filler + "{ShortName}";
  while (text.size() < kTextSize) text += filler;
  return text;
}

void ReplaceAll(const volok::TVariables& vars, std::string& text) {
  for (const volok::TVariable& variable : vars.Variables()) {
    const std::string token = "{" + variable.Name + "}";
    std::string out;
    std::size_t from = 0;
    for (std::size_t at; (at = text.find(token, from)) != std::string::npos; from = at + token.size())
      out.append(text, from, at - from).append(variable.Value);
    text = out.append(text, from, std::string::npos);
  }
}

}  // namespace

int main(int argc, char** argv) {
  bool process = argc == 2 && std::strcmp(argv[1], "process") == 0;
  if (argc != 2 || (!process && std::strcmp(argv[1], "replace") != 0)) {
    std::fprintf(stderr, "usage: bench_placeholders process|replace\n");
    return 2;
  }
  volok::TVariables vars = Table();
  std::string text = Text();
  auto start = std::chrono::steady_clock::now();
  if (process)
    vars.Process(text);
  else
    ReplaceAll(vars, text);
  std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
  std::printf("seconds=%.6f\nsize=%zu\n", took.count(), text.size());
  return 0;
}
