// The texts of the shell: command prompts ("status-bar prompt\ntooltip") and fixed strings.
#pragma once

#include <QString>

namespace strings {

inline constexpr const char* kAppTitle = "Meshwick";
inline constexpr const char* kIdleMessage = "准备";

// The full string of a command: prompt, newline, tooltip. Empty for unknown commands.
QString CommandString(int id);
QString StatusPrompt(int id);
QString ToolTip(int id);

}  // namespace strings
