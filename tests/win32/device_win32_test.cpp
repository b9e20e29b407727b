#include <gtest/gtest.h>

#include <functional>

#include "big5.h"
#include "device_win32.h"

namespace {

using serial::ErrorCode;
using serial::SerialError;

// Never a COM port name: these tests open files and Windows devices that are not ports.
SerialError errorOpening(const std::wstring& path) {
  try {
    serial::openWin32Device(path, {});
  } catch (const SerialError& e) {
    return e;
  }
  ADD_FAILURE() << "opened";
  return SerialError(ErrorCode::OpenFailed, "");
}

std::wstring tempPath(const wchar_t* name) {
  wchar_t dir[MAX_PATH + 1];
  ::GetTempPathW(MAX_PATH + 1, dir);
  return std::wstring(dir) + name;
}

bool exists(const std::wstring& path) {
  return ::GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

TEST(OpenError, FollowsWhatWindowsSaid) {
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
    EXPECT_EQ(serial::win32::openErrorCode(c.error), c.code) << c.error;
  }
}

TEST(OpenError, ReasonIsTheSystemsTextWithItsNumberOnOneLine) {
  const std::string denied = serial::win32::systemReason(ERROR_ACCESS_DENIED);
  EXPECT_GT(denied.size(), std::string(" (error 5)").size());
  EXPECT_EQ(denied.substr(denied.size() - 10), " (error 5)");
  EXPECT_EQ(denied.find_first_of("\r\n"), std::string::npos) << denied;
  EXPECT_EQ(serial::win32::systemReason(0x2FFFFFFF), "Unknown error (error 805306367)");
}

class Win32DeviceOpen : public ::testing::Test {
 protected:
  void TearDown() override {
    if (!file.empty()) ::DeleteFileW(file.c_str());
  }
  std::wstring file;
};

TEST_F(Win32DeviceOpen, PathsThatLeadToNoSerialPortFailWithTheirOwnError) {
  file = tempPath(L"project1-device-test.txt");
  const HANDLE made = ::CreateFileW(file.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                    FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(made, INVALID_HANDLE_VALUE);
  ::CloseHandle(made);

  const struct {
    std::wstring path;
    ErrorCode code;
    const char* description;
  } cases[] = {
      {L"C:\\nonexistent\\x", ErrorCode::NoSuchPort, "COM1 (C:\\nonexistent\\x): open: "},
      {file, ErrorCode::NotSerialDevice, "open: not a character device (file type 1)."},
      // A character device, but not a communications one.
      {L"\\\\.\\NUL", ErrorCode::NotSerialDevice, "COM1 (\\\\.\\NUL): GetCommState: "},
      // A device, but of no type Windows knows: nothing a port could be.
      {L"\\\\.\\MountPointManager", ErrorCode::NoSuchPort,
       "open: no known device at this name (file type 0)."},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::PrintToString(c.path));
    const SerialError e = errorOpening(c.path);
    EXPECT_EQ(e.code(), c.code);
    EXPECT_NE(e.description().find(c.description), std::string::npos) << e.description();
    // Every description ends with advice a person can act on.
    const std::string advice = serial::adviceFor(c.code);
    EXPECT_EQ(e.description().substr(e.description().size() - advice.size()), advice);
  }
  EXPECT_NE(errorOpening(L"C:\\nonexistent\\x").description().find("(error 3)."),
            std::string::npos);
}

TEST_F(Win32DeviceOpen, AHeldPathIsInUse) {
  file = tempPath(L"project1-held.txt");
  const HANDLE held = ::CreateFileW(file.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                    CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(held, INVALID_HANDLE_VALUE);
  const SerialError e = errorOpening(file);
  ::CloseHandle(held);
  EXPECT_EQ(e.code(), ErrorCode::InUse);
  EXPECT_NE(e.description().find("(error 32)"), std::string::npos) << e.description();
}

TEST_F(Win32DeviceOpen, ASecondOpenerOfTheSamePortIsTurnedAwayEvenWhereTheDriverWouldNot) {
  const std::wstring path = L"C:\\nonexistent\\port";
  DWORD error = 0;
  {
    const auto lock = serial::win32::lockPort(path, &error);
    ASSERT_TRUE(lock) << error;
    // Turned away before the device is tried: not "no such port".
    EXPECT_EQ(errorOpening(path).code(), ErrorCode::InUse);
    // One copy's lock is its alone.
    EXPECT_FALSE(serial::win32::lockPort(path, &error));
    EXPECT_EQ(error, static_cast<DWORD>(ERROR_SHARING_VIOLATION));
  }
  EXPECT_EQ(errorOpening(path).code(), ErrorCode::NoSuchPort);
  // A failed open lets go of the lock too, and nothing is left behind.
  EXPECT_FALSE(exists(tempPath(L"Project1-serial-port.lock")));
  EXPECT_TRUE(serial::win32::lockPort(path, &error));
}

// What WideCharToMultiByte does that iconv does not: best-fit characters and surrogates.
TEST(Big5OnWindows, RefusesBestFitsAndSurrogatesAndNamesTheFirstBadCharacter) {
  const struct {
    std::u16string text;
    std::size_t bad;
  } cases[] = {
      {u"\u00C0", 0},                 // would best-fit to "A"
      {u"ok\u00E9", 2},               // would best-fit to "e"
      {{u'a', char16_t{0xDC00}}, 1},  // lone low surrogate
      {u"\u00E9\U0001F600", 0},       // the first of two bad characters
      {u"\U0001F600\u00E9", 0},
      {u"\u7E3D\U0001F600", 1},
  };
  for (const auto& c : cases) {
    std::size_t bad = 99;
    EXPECT_FALSE(serial::toBig5(c.text, &bad).has_value()) << c.bad;
    EXPECT_EQ(bad, c.bad);
  }
}

}  // namespace
