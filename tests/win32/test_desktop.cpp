#include <gtest/gtest.h>
#include <windows.h>

#include <string>

#include "win32/wine.h"

namespace {

// Under Wine each run of the window tests gets a desktop of its own, on the X server that
// with-xvfb started for it: whatever desktop an earlier program left in the same wineserver,
// and whatever X server it drew on, plays no part.
class TestDesktop : public ::testing::Environment {
 public:
  void SetUp() override {
    if (!win32::underWine()) return;
    const std::wstring name = L"Project1Tests" + std::to_wstring(::GetCurrentProcessId());
    std::wstring command = L"explorer.exe /desktop=" + name + L",1024x768";
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    ASSERT_TRUE(::CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE, DETACHED_PROCESS,
                                 nullptr, nullptr, &startup, &process));
    ::WaitForInputIdle(process.hProcess, 10000);
    ::CloseHandle(process.hThread);
    explorer_ = process.hProcess;
    const HDESK desktop = ::OpenDesktopW(name.c_str(), 0, FALSE, GENERIC_ALL);
    ASSERT_NE(desktop, nullptr);
    ASSERT_TRUE(::SetThreadDesktop(desktop));
  }

  void TearDown() override {
    if (!explorer_) return;
    ::TerminateProcess(explorer_, 0);
    ::CloseHandle(explorer_);
  }

 private:
  HANDLE explorer_ = nullptr;
};

const auto* const kDesktop = ::testing::AddGlobalTestEnvironment(new TestDesktop);

}  // namespace
