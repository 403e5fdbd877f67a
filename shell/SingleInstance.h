#pragma once

namespace nms {

class InstanceLock;
class MessageBoxes;

// The first start-up step: true when this is the only running copy; otherwise the operator is
// told and the caller ends at once, leaving the running copy alone.
bool CheckSingleInstance(InstanceLock& lock, MessageBoxes& messages);

} // namespace nms
