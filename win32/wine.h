#pragma once

namespace win32 {

// Whether this process runs under Wine rather than on Windows.
bool underWine();

}  // namespace win32
