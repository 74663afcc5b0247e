#pragma once
// Host string resources the compensation methods show (texts live in the host's
// resources; only the numbers are the driver's).

inline constexpr unsigned kMsgOutOfMemory = 509;         // no memory for the method
inline constexpr unsigned kMsgCompNotLoaded = 2252;      // unknown method, grid file bad
inline constexpr unsigned kMsgCompFileNotOpened = 6068;  // table file cannot be opened
inline constexpr unsigned kMsgCompFileDamaged = 6066;    // table file short or invalid
inline constexpr unsigned kMsgNoCompensation = 6062;     // follows the two above
inline constexpr unsigned kMsgGridActive = 262;          // grid loaded, tables hold data
inline constexpr unsigned kMsgNoTableData = 261;         // no grid, no table data
