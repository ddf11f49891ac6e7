// The share of an operation done, on the program's taskbar button.
#pragma once

#include <windows.h>

#include <optional>

struct ITaskbarList3;

namespace korvik::win32 {

class TaskbarProgress {
 public:
  TaskbarProgress() = default;
  ~TaskbarProgress();
  TaskbarProgress(const TaskbarProgress&) = delete;
  TaskbarProgress& operator=(const TaskbarProgress&) = delete;

  // Shows `percent` on `window`'s taskbar button; none clears it. Where the
  // system has no taskbar to show it on, nothing shows.
  void Show(HWND window, std::optional<int> percent);

 private:
  ITaskbarList3* taskbar_ = nullptr;
  bool com_started_ = false;
  bool tried_ = false;
};

}  // namespace korvik::win32
