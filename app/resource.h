// Resource identifiers of the application shell.
#pragma once

inline constexpr int IDR_MAINFRAME = 128;
inline constexpr int IDD_ABOUTBOX = 100;
