#pragma once

namespace platform::qt {

// When the program was built, as "YYYY-MM-DD HH:MM UTC" (made at build time).
const char* buildDate();

}  // namespace platform::qt
