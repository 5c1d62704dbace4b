#pragma once

namespace ulen3 {

// The application's title, the caption of its boxes.
inline constexpr const char* kTitle = "ВЕСКОР";

} // namespace ulen3
