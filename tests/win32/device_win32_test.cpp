#include <gtest/gtest.h>

#include <optional>
#include <utility>
#include <vector>

#include "serial/big5.h"
#include "serial/internal/device_win32.h"
#include "serial/internal/os_error.h"
#include "tests/support/failures.h"
#include "win32/wide.h"

namespace {

using serial::ErrorCode;
using serial::SerialError;
using testing_support::errorOf;

// The error opening a Windows path raises.
SerialError errorOpening(const std::wstring& path) {
  return testing_support::errorOpening(win32::toUtf8(path));
}

std::wstring tempPath(const wchar_t* name) {
  wchar_t dir[MAX_PATH + 1];
  ::GetTempPathW(MAX_PATH + 1, dir);
  return std::wstring(dir) + name;
}

bool exists(const std::wstring& path) {
  return ::GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

// Never a COM port: these tests open files and Windows devices that are not ports.
class Win32DeviceOpen : public ::testing::Test {
 protected:
  void TearDown() override {
    if (!file.empty()) ::DeleteFileW(file.c_str());
  }
  // An empty ordinary file in the temporary folder, removed after the test.
  void makeFile(const wchar_t* name) {
    file = tempPath(name);
    const HANDLE made = ::CreateFileW(file.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                      FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(made, INVALID_HANDLE_VALUE);
    ::CloseHandle(made);
  }
  std::wstring file;
};

TEST_F(Win32DeviceOpen, PathsThatLeadToNoSerialPortFailWithTheirOwnError) {
  ASSERT_NO_FATAL_FAILURE(makeFile(L"project1-device-test.txt"));

  const struct {
    std::wstring path;
    ErrorCode code;
    const char* description;
    std::string advice = {};  // the error's own when empty
  } cases[] = {
      {L"C:\\nonexistent\\x", ErrorCode::NoSuchPort,
       "COM1 (C:\\nonexistent\\x): open: ", serial::internal::openAdvice(ERROR_PATH_NOT_FOUND)},
      // A folder: "access denied", which says nothing of another program holding it.
      {L"C:\\windows", ErrorCode::InUse,
       "COM1 (C:\\windows): open: ", serial::internal::openAdvice(ERROR_ACCESS_DENIED)},
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
    const std::string advice = c.advice.empty() ? serial::internal::advice(c.code) : c.advice;
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
    const auto lock = serial::internal::lockPort(path, &error);
    ASSERT_TRUE(lock) << error;
    // Turned away before the device is tried: not "no such port".
    EXPECT_EQ(errorOpening(path).code(), ErrorCode::InUse);
    // One copy's lock is its alone.
    EXPECT_FALSE(serial::internal::lockPort(path, &error));
    EXPECT_EQ(error, static_cast<DWORD>(ERROR_SHARING_VIOLATION));
  }
  EXPECT_EQ(errorOpening(path).code(), ErrorCode::NoSuchPort);
  // A failed open lets go of the lock too, and nothing is left behind.
  EXPECT_FALSE(exists(tempPath(L"Project1-serial-port.lock")));
  EXPECT_TRUE(serial::internal::lockPort(path, &error));
}

// The temporary folder as this process sees it, changed for one test.
class TemporaryFolderSetTo {
 public:
  explicit TemporaryFolderSetTo(const std::wstring& folder) {
    for (const wchar_t* name : {L"TMP", L"TEMP"}) {
      wchar_t value[MAX_PATH + 1] = {};
      const DWORD n = ::GetEnvironmentVariableW(name, value, MAX_PATH + 1);
      saved_.emplace_back(
          name, n > 0 && n <= MAX_PATH ? std::optional<std::wstring>(value) : std::nullopt);
      ::SetEnvironmentVariableW(name, folder.c_str());
    }
  }
  ~TemporaryFolderSetTo() {
    for (const auto& [name, value] : saved_) {
      ::SetEnvironmentVariableW(name.c_str(), value ? value->c_str() : nullptr);
    }
  }
  TemporaryFolderSetTo(const TemporaryFolderSetTo&) = delete;
  TemporaryFolderSetTo& operator=(const TemporaryFolderSetTo&) = delete;

 private:
  std::vector<std::pair<std::wstring, std::optional<std::wstring>>> saved_;
};

// Whether this runs under Wine, from Wine's own settings in the registry: not the way the
// program tells.
bool wineSettingsFound() {
  HKEY key = nullptr;
  if (::RegOpenKeyExW(HKEY_CURRENT_USER, L"Software\\Wine", 0, KEY_READ, &key) != ERROR_SUCCESS) {
    return false;
  }
  ::RegCloseKey(key);
  return true;
}

TEST_F(Win32DeviceOpen, APortIsOpenedWithALockFileUnderWineAndWithoutOneOnWindows) {
  // Under Wine the lock file is all that keeps a second copy off the port: without it the
  // two would share the line. On Windows the driver does it, and no file is written. Where no
  // lock file can be made, only an opener that takes one fails for it.
  const TemporaryFolderSetTo temp(L"C:\\nonexistent\\temp\\");
  const SerialError e = errorOpening(L"C:\\nonexistent\\port");
  EXPECT_EQ(e.code(), wineSettingsFound() ? ErrorCode::OpenFailed : ErrorCode::NoSuchPort)
      << e.description();
}

TEST_F(Win32DeviceOpen, WithoutALockFileWineRefusesThePortAndWindowsNeedsNone) {
  ASSERT_NO_FATAL_FAILURE(makeFile(L"project1-not-a-folder"));
  const std::wstring port = L"C:\\nonexistent\\port";
  const struct {
    const char* name;
    std::wstring folder;
  } cases[] = {
      {"a folder that does not exist", L"C:\\nonexistent\\temp\\"},
      {"a file where the folder should be", file + L"\\"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const TemporaryFolderSetTo temp(c.folder);
    const auto error = [&](serial::internal::Exclusivity exclusivity) {
      return errorOf([&] { const serial::internal::Win32Device device(port, {}, exclusivity); });
    };
    const SerialError refused = error(serial::internal::Exclusivity::LockFile);
    EXPECT_EQ(refused.code(), ErrorCode::OpenFailed);
    const std::string& text = refused.description();
    EXPECT_NE(text.find("COM1 (C:\\nonexistent\\port): lock: no lock file "), std::string::npos)
        << text;
    EXPECT_NE(text.find("Project1-serial-port.lock: "), std::string::npos) << text;
    EXPECT_NE(text.find("(error "), std::string::npos) << text;
    EXPECT_NE(text.find("check that the temporary folder (TEMP) exists"), std::string::npos)
        << text;
    // Windows' own exclusivity needs no folder: the port itself is what is missing here.
    EXPECT_EQ(error(serial::internal::Exclusivity::Driver).code(), ErrorCode::NoSuchPort);
  }
}

TEST_F(Win32DeviceOpen, OnWindowsTheDriverAloneDecidesWhoHasThePort) {
  const std::wstring path = L"C:\\nonexistent\\port";
  DWORD error = 0;
  const auto lock = serial::internal::lockPort(path, &error);
  ASSERT_TRUE(lock) << error;
  // A lock file left by a copy under Wine means nothing to a copy that takes none.
  const SerialError e = errorOf([&] {
    const serial::internal::Win32Device device(path, {}, serial::internal::Exclusivity::Driver);
  });
  EXPECT_EQ(e.code(), ErrorCode::NoSuchPort) << e.description();
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
