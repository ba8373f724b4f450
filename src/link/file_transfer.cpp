#include "link/task_manager.h"

namespace mirka {

bool TaskManager::OnFileFrame(const FrameHeader&) { return true; }

bool TaskManager::SenderPass() { return false; }

}  // namespace mirka
