#include "ui/win32/taskbar_progress.h"

#include <shobjidl.h>

namespace korvik::win32 {

TaskbarProgress::~TaskbarProgress() {
  if (taskbar_ != nullptr) taskbar_->Release();
  if (com_started_) ::CoUninitialize();
}

void TaskbarProgress::Show(HWND window, std::optional<int> percent) {
  if (!tried_) {
    tried_ = true;
    com_started_ =
        SUCCEEDED(::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED));
    void* taskbar = nullptr;
    if (SUCCEEDED(::CoCreateInstance(CLSID_TaskbarList, nullptr,
                                     CLSCTX_INPROC_SERVER, IID_ITaskbarList3,
                                     &taskbar))) {
      taskbar_ = static_cast<ITaskbarList3*>(taskbar);
      if (FAILED(taskbar_->HrInit())) {
        taskbar_->Release();
        taskbar_ = nullptr;
      }
    }
  }
  if (taskbar_ == nullptr) return;
  if (!percent) {
    taskbar_->SetProgressState(window, TBPF_NOPROGRESS);
    return;
  }
  taskbar_->SetProgressState(window, TBPF_NORMAL);
  taskbar_->SetProgressValue(window, static_cast<ULONGLONG>(*percent), 100);
}

}  // namespace korvik::win32
