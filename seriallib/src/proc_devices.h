// Finding a driver's major number in the text of /proc/devices.
#pragma once

#include <string_view>

namespace pellusk {

// The piece size of the classic reader: a line longer than this arrives, and is judged, in
// pieces of this many bytes.
inline constexpr std::size_t kDevicesPieceLength = 31;

// The major number listed for `name`, or -19 (minus ENODEV) when no piece of the text reads as
// a number followed by exactly that name. The character-device section comes first, so its
// entry wins over a block device of the same name.
int findMajor(std::string_view devicesText, std::string_view name);

}  // namespace pellusk
