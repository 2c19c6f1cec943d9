// The run journal's reader: whatever a journal file holds, a torn write or
// a forged record, it reads as one of three verdicts without a crash, and
// what it accepts is only what a run of this engine writes.
#include "engine/run_journal.h"
#include "fuzz_support.h"

using volok::fuzz::Expect;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string text = volok::fuzz::Text(data, size);
  volok::TJournalState state;
  std::string why;
  const volok::TJournalText verdict = volok::ParseJournal(text, state, why);
  Expect(verdict == volok::TJournalText::Valid || why.size() > 0, "a refusal says why");
  if (verdict != volok::TJournalText::Valid) return 0;

  Expect(!state.Folder.empty() && !state.RunId.empty(), "a journal names its run and folder");
  Expect(state.Staging.empty() || state.Staging == "Backup.run-" + state.RunId, "the staging folder is the run's");
  for (const std::string& name : state.Earlier)
    Expect(name.find_first_of("\\/:") == std::string::npos && name != ".." && name != ".", "earlier entries are names");
  for (const volok::TAsideMove& move : state.Asides)
    Expect(move.Aside.empty() || move.Aside.rfind(move.Original + ".volok-" + state.RunId + ".", 0) == 0,
           "a moved-aside file lies beside its original");

  // What is accepted is written again the same, and every cut of it is torn.
  const std::string again = volok::FormatJournal(state);
  volok::TJournalState reread;
  Expect(volok::ParseJournal(again, reread, why) == volok::TJournalText::Valid, "a written journal reads");
  Expect(volok::FormatJournal(reread) == again, "the text form is stable");
  for (std::size_t cut : {std::size_t{0}, again.size() / 2, again.size() - 1})
    Expect(volok::ParseJournal(again.substr(0, cut), reread, why) == volok::TJournalText::Torn, "a cut is torn");
  return 0;
}
