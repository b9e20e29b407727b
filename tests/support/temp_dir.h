#pragma once

#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <stdexcept>
#include <string>
#include <system_error>

namespace testing_support {

// A fresh directory of the test's own, removed with everything in it when the test is done.
class TempDir {
 public:
  TempDir() {
    std::string pattern = ::testing::TempDir() + "project1-test.XXXXXX";
    if (!mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp " + pattern);
    path_ = pattern;
  }
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  ~TempDir() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
  }

  const std::filesystem::path& path() const { return path_; }

 private:
  std::filesystem::path path_;
};

}  // namespace testing_support
