// The two custom messages the database side sends to the notify server over
// the "NotifyServerIPC" channel, and how their parameters are packed.
//
//   "DBTrans"        WParam: 0 for 'B', else the transaction id
//                    LParam: table id in byte 0, 'B' begin, 'E' end, 'R' rollback in byte 1
//                    result of 'B': the new transaction id
//   "DBNotification" WParam: the changed row's key (STOCKID)
//                    LParam: table id in byte 0, 'I' insert, 'C' update, 'D' delete in byte 1
#pragma once

#include <cstdint>

namespace vexa {

inline constexpr const char* NotifyServerInstance = "NotifyServerIPC";
inline constexpr const char* DBTransMessage = "DBTrans";
inline constexpr const char* DBNotificationMessage = "DBNotification";

// The server keeps tables 1..255 and reads only byte 0 of LParam, so a larger
// id would land on another table: such ids are never sent. Table 0 is sent;
// the server rejects it and logs it.
constexpr bool IsSendableTableID(int32_t tableID) { return tableID >= 0 && tableID <= 255; }

// Table id plus the code letter shifted left by 8.
constexpr int32_t NotifyLParam(int32_t tableID, char code) {
  return (tableID & 0xFF) + (static_cast<int32_t>(static_cast<uint8_t>(code)) << 8);
}

}  // namespace vexa
