#include <windows.h>
#include <ole2.h>
#include <oleauto.h>

#include "platform/win32/com.h"
#include "platform/win32/wide.h"

namespace volok::platform::win32 {

std::string ComErrorMessage(HRESULT result) {
  ComPtr<IErrorInfo> info;
  // GetErrorInfo answers S_FALSE when no object left a description.
  if (GetErrorInfo(0, info.Receive()) == S_OK && info) {
    Bstr description;
    if (SUCCEEDED(info->GetDescription(description.Receive())) && !description.View().empty()) {
      std::wstring text(description.View());
      while (!text.empty() && (text.back() == L'\n' || text.back() == L'\r' || text.back() == L' '))
        text.pop_back();
      if (!text.empty()) return Narrow(text);
    }
  }
  return WindowsErrorMessage(static_cast<unsigned long>(result));
}

}  // namespace volok::platform::win32
