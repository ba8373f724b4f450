#pragma once

#include <functional>

namespace mirka {

// Work for the link manager's pump thread: chat and status sends, the user's file
// commands, keep-alives. Commands run in the order they were posted.
using PumpCommand = std::function<void()>;

}  // namespace mirka
