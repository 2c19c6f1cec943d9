// Programs that hold files, as a test declares them: every session lists
// `Holding` for any folder until closed, and counts what it was asked.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "platform/file_holders.h"

namespace volok::testing {

class FakeFileHolders final : public platform::FileHolders {
 public:
  std::vector<platform::FileHolder> Holding;
  std::vector<std::string> Folders;  // each session's folder
  int Closes = 0, Restarts = 0;
  bool CloseFails = false;

  platform::Status Open(const std::string& folder, std::unique_ptr<platform::HolderSession>& session) override {
    Folders.push_back(folder);
    session = std::make_unique<Session>(*this);
    return platform::Status::Ok();
  }

 private:
  class Session final : public platform::HolderSession {
   public:
    explicit Session(FakeFileHolders& owner) : FOwner(owner) {}
    platform::Status Holders(std::vector<platform::FileHolder>& holders) override {
      holders = FOwner.Holding;
      return platform::Status::Ok();
    }
    platform::Status Close() override {
      ++FOwner.Closes;
      FClosed = true;
      if (FOwner.CloseFails) return platform::Status::Failure("busy (1)");
      std::erase_if(FOwner.Holding, [](const platform::FileHolder& holder) { return holder.CanClose; });
      return platform::Status::Ok();
    }
    platform::Status Restart() override {
      if (FClosed) ++FOwner.Restarts;
      FClosed = false;
      return platform::Status::Ok();
    }

   private:
    FakeFileHolders& FOwner;
    bool FClosed = false;
  };
};

}  // namespace volok::testing
