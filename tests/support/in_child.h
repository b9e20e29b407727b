#pragma once

#include <functional>
#include <string>

namespace testing_support {

// Runs `work` in a child process and returns the text it gave back, or what it threw; a child
// that does not end normally says so. For what must change only the child: a private /dev,
// another user.
std::string inChild(const std::function<std::string()>& work);

// Makes this process the user nobody (uid and gid 65534, no groups), as an ordinary user runs
// programs; there is no way back, so only in a child. False when that failed.
bool becomeNobody();

}  // namespace testing_support
