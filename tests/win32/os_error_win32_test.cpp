#include "serial/internal/os_error.h"

#include <gtest/gtest.h>

#include <string>

#include "tests/support/language.h"
#include "tests/support/reachable_errors.h"

namespace {

namespace internal = serial::internal;
using serial::ErrorCode;
using serial::internal::Host;

TEST(OsError, FollowsWhatWindowsSaid) {
  const struct {
    DWORD error;
    ErrorCode code;
  } cases[] = {
      {ERROR_FILE_NOT_FOUND, ErrorCode::NoSuchPort}, {ERROR_PATH_NOT_FOUND, ErrorCode::NoSuchPort},
      {ERROR_ACCESS_DENIED, ErrorCode::InUse},  // how Windows answers for a held port
      {ERROR_SHARING_VIOLATION, ErrorCode::InUse},   {ERROR_GEN_FAILURE, ErrorCode::OpenFailed},
      {ERROR_INVALID_NAME, ErrorCode::OpenFailed},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(internal::openErrorCode(c.error), c.code) << c.error;
  }
}

TEST(OsError, AccessDeniedIsAdvisedAsAPortInUseOrOneThisUserMayNotOpen) {
  // Windows says "access denied" for a port another program holds, but so does a port the
  // user may not open, and under Wine a COM port that leads to a folder.
  const std::string windows = internal::openAdvice(ERROR_ACCESS_DENIED, {Host::Windows});
  const std::string wine = internal::openAdvice(ERROR_ACCESS_DENIED, {Host::Wine});
  for (const char* part : {"in use by another program", "close the program that holds it",
                           "this user may not open it"}) {
    EXPECT_NE(windows.find(part), std::string::npos) << part << " in: " << windows;
    EXPECT_NE(wine.find(part), std::string::npos) << part << " in: " << wine;
  }
  for (const char* part : {"Under Wine", "read and write", "not a folder", "dialout"}) {
    EXPECT_EQ(windows.find(part), std::string::npos) << part << " in: " << windows;
    EXPECT_NE(wine.find(part), std::string::npos) << part << " in: " << wine;
  }
  // A missing COM1 is often an adapter Windows numbered COM3 or higher, or one whose driver
  // is missing.
  for (const DWORD error : {ERROR_FILE_NOT_FOUND, ERROR_PATH_NOT_FOUND}) {
    const std::string missing = internal::openAdvice(error, {Host::Windows});
    EXPECT_EQ(missing, internal::advice(ErrorCode::NoSuchPort, {Host::Windows}));
    for (const char* part : {"No such port", "COM3 or higher", "Device Manager",
                             "Ports (COM & LPT)", "Advanced", "COM Port Number", "yellow mark"}) {
      EXPECT_NE(missing.find(part), std::string::npos) << part << " in: " << missing;
    }
  }
  // Other errors keep their own advice.
  for (const DWORD error : {ERROR_SHARING_VIOLATION, ERROR_GEN_FAILURE}) {
    EXPECT_EQ(internal::openAdvice(error, {Host::Windows}),
              internal::advice(internal::openErrorCode(error), {Host::Windows}))
        << error;
  }
}

// Every error a user can meet: advice that is true on the system where it is shown, and more
// than its heading. Real Windows never reads of Wine or Linux.
TEST(OsError, EveryErrorsAdviceFitsTheSystemItIsShownOn) {
  for (const Host host : {Host::Windows, Host::Wine}) {
    for (const bool pty : {false, true}) {
      for (const ErrorCode code : testing_support::kReachableErrors) {
        const std::string advice = internal::advice(code, {host, pty});
        SCOPED_TRACE(std::to_string(static_cast<int>(code)) +
                     (host == Host::Wine ? " under Wine" : " on Windows") + (pty ? " (pty)" : ""));
        EXPECT_LE(advice.size(), 260u) << advice;
        EXPECT_GE(advice.size(), 50u) << advice;
        EXPECT_EQ(advice.find("incomplete"), std::string::npos) << advice;
        for (const char* unix : {"/dev/", "errno", "project1-port", "dialout", "systemctl"}) {
          EXPECT_EQ(advice.find(unix), std::string::npos) << advice;
        }
        if (host == Host::Windows) {
          EXPECT_EQ(advice.find("Wine"), std::string::npos) << advice;
          EXPECT_EQ(advice.find("pseudo-terminal"), std::string::npos) << advice;
        }
      }
    }
  }
  EXPECT_EQ(internal::openAdvice(ERROR_ACCESS_DENIED, {Host::Windows}).find("Wine"),
            std::string::npos);
  // With no handshaking a printer cannot stop the line: 8021 points at this side.
  const std::string port = internal::advice(ErrorCode::WriteTimedOut, {Host::Windows, false});
  EXPECT_NE(port.find("Unplug the adapter"), std::string::npos) << port;
  EXPECT_EQ(port.find("paper"), std::string::npos) << port;
  const std::string pty = internal::advice(ErrorCode::WriteTimedOut, {Host::Wine, true});
  EXPECT_NE(pty.find("stopped reading"), std::string::npos) << pty;
}

// The same on a Chinese (Taiwan) Windows: Device Manager's own labels, Wine only under Wine,
// and the system's text in the box's language.
TEST(OsError, InChineseEveryErrorsAdviceFitsTheSystem) {
  PROJECT1_SKIP_UNLESS_CHINESE();
  for (const ErrorCode code : testing_support::kReachableErrors) {
    SCOPED_TRACE(std::to_string(static_cast<int>(code)));
    const std::string advice = internal::advice(code, {Host::Windows, false});
    EXPECT_NE(advice.find("序列埠"), std::string::npos) << advice;
    for (const char* other : {"Wine", "/dev/", "errno", "dialout", "虛擬終端機", "port"}) {
      EXPECT_EQ(advice.find(other), std::string::npos) << advice;
    }
  }
  const std::string missing = internal::advice(ErrorCode::NoSuchPort, {Host::Windows});
  for (const char* label : {"「裝置管理員」", "「連接埠 (COM 和 LPT)」", "「內容」",
                            "「連接埠設定」", "「進階」", "「COM 連接埠號碼」"}) {
    EXPECT_NE(missing.find(label), std::string::npos) << label << " in " << missing;
  }
  EXPECT_EQ(internal::openAdvice(ERROR_ACCESS_DENIED, {Host::Windows}).find("Wine"),
            std::string::npos);
  EXPECT_NE(internal::openAdvice(ERROR_ACCESS_DENIED, {Host::Wine}).find("在 Wine 下"),
            std::string::npos);
  const std::string denied = internal::systemReason(ERROR_ACCESS_DENIED);
  EXPECT_TRUE(denied.ends_with("（錯誤 5）")) << denied;
  EXPECT_GT(static_cast<unsigned char>(denied[0]), 0x7Fu) << "not the system's Chinese: " << denied;
}

TEST(OsError, ReasonIsTheSystemsTextWithItsNumberOnOneLine) {
  const std::string denied = internal::systemReason(ERROR_ACCESS_DENIED);
  EXPECT_GT(denied.size(), std::string(" (error 5)").size());
  EXPECT_EQ(denied.substr(denied.size() - 10), " (error 5)");
  EXPECT_EQ(denied.find_first_of("\r\n"), std::string::npos) << denied;
  EXPECT_EQ(internal::systemReason(0x2FFFFFFF), "Unknown error (error 805306367)");
}

}  // namespace
