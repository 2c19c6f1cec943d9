// The wizard over the headless toolkit, beside a package folder of the
// worker's fixture; relaunch hooks that only record.
#pragma once

#include <memory>

#include "../engine/worker_fixture.h"
#include "platform/ui/headless_toolkit.h"
#include "platform/ui/layout.h"
#include "wizard/installer_form.h"

namespace volok {

class WizardTest : public WorkerTest {
 protected:
  std::unique_ptr<TfmInstaller> Open(const std::vector<std::string>& parameters = {"setup.exe"}) {
    TRunHooks hooks{[this] { return FFromTemp; }, [this] { ++FRelaunches; }, [this](int) { ++FBatches; }};
    return std::make_unique<TfmInstaller>(parameters, std::move(hooks), FToolkit);
  }

  static void ServeUntilFinished(TfmInstaller& window) {
    MainThreadQueue::Instance().ServeUntil([&] { return window.Worker().Finished(); });
    window.Worker().WaitFor();
  }

  static std::vector<std::string> LogTexts(TfmInstaller& window) {
    std::vector<std::string> texts;
    // "yyyy.mm.dd hh:nn:ss " before every text.
    for (const auto& line : window.reLog->Lines()) texts.push_back(line.Text.substr(20));
    return texts;
  }

  ui::THeadlessToolkit FToolkit;
  platform::ScopedDefault<ui::TToolkit> FToolkitScope{FToolkit};
  bool FFromTemp = false;
  int FRelaunches = 0;
  int FBatches = 0;
};

}  // namespace volok
