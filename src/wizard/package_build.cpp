// The "Создать" button's builder: one builder (with its build action table)
// for the window's life, reporting into the log view only.
#include <memory>

#include "builder/package_builder.h"
#include "wizard/installer_form.h"

namespace volok {

TPackageBuild DefaultPackageBuild() {
  auto builder = std::make_shared<TPackageBuilder>();
  return [builder](TfmInstaller& window, const std::string& file_name, const std::string& output_folder) {
    builder->OnLog = [&window](const std::string& text, int message_type) {
      window.Log(text, message_type, false, false);
    };
    builder->MakeInstall(file_name, output_folder);
    builder->OnLog = nullptr;
  };
}

}  // namespace volok
