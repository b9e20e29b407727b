#include <fcntl.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sched.h>
#include <signal.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <regex>
#include <sstream>
#include <thread>

#include "posix/unique_fd.h"
#include "tests/support/temp_dir.h"
#include "virtual-printer/json_summary.h"
#include "virtual-printer/os_error.h"
#include "virtual-printer/path_file.h"
#include "virtual-printer/tests/model_helpers.h"
#include "virtual-printer/tests/printer_process.h"

namespace vprinter {
namespace {

using ::testing::HasSubstr;
using ::testing::MatchesRegex;
using namespace vprinter::testing;
using testing_support::TempDir;

std::vector<std::string> fileLines(const std::filesystem::path& path) {
  std::ifstream in(path);
  std::vector<std::string> lines;
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

// The host's side: the port opened and written like the real program does it.
class HostPort {
 public:
  explicit HostPort(const std::string& path)
      : fd_(::open(path.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC)) {
    if (!fd_) throw osError("open " + path);
  }
  void write(std::string_view bytes) {
    if (const int err = writeAll(fd_.get(), bytes); err != 0) {
      throw osError("write to the printer", err);
    }
  }
  termios settings() const {
    termios t{};
    if (tcgetattr(fd_.get(), &t) != 0) throw osError("tcgetattr");
    return t;
  }

 private:
  posix::UniqueFd fd_;
};

// Resident memory in KiB, the larger of now and the peak the kernel has seen; 0 once it is gone.
long residentKib(pid_t pid) {
  std::ifstream in("/proc/" + std::to_string(pid) + "/status");
  long kib = 0;
  for (std::string line; std::getline(in, line);) {
    if (line.starts_with("VmRSS:") || line.starts_with("VmHWM:")) {
      kib = std::max(kib, std::stol(line.substr(6)));
    }
  }
  return kib;
}

// Descriptors the process has open on the character device at `path`.
int descriptorsOn(pid_t pid, const std::string& path) {
  struct stat port {};
  if (::stat(path.c_str(), &port) != 0) return -1;
  int count = 0;
  const std::filesystem::path fds = "/proc/" + std::to_string(pid) + "/fd";
  for (const auto& entry : std::filesystem::directory_iterator(fds)) {
    struct stat st {};
    if (::stat(entry.path().c_str(), &st) == 0 && S_ISCHR(st.st_mode) &&
        st.st_rdev == port.st_rdev) {
      ++count;
    }
  }
  return count;
}

std::string listeningPath(PrinterProcess& printer) {
  const std::string first = printer.readLine();
  const std::string prefix = "virtual-printer: listening on ";
  EXPECT_THAT(first, MatchesRegex("virtual-printer: listening on /dev/pts/[0-9]+"));
  return first.substr(std::min(prefix.size(), first.size()));
}

TEST(PrinterProcess, PrintsTheGoldenJobSentOverThePseudoTerminal) {
  TempDir dir;
  const auto out = dir.path() / "out";
  const auto pathFile = dir.path() / "pty-path";
  PrinterProcess printer({VPRINTER_BINARY, "--forms", "1", "--quiet", "--out", out.string(),
                          "--path-file", pathFile.string()});
  const std::string path = listeningPath(printer);
  EXPECT_EQ(fileLines(pathFile), std::vector<std::string>{path});
  // The host refuses a port another program has open: the printer keeps its side of the line
  // open without a descriptor of it.
  EXPECT_EQ(descriptorsOn(printer.pid(), path), 0);

  {
    HostPort port(path);
    const termios t = port.settings();
    EXPECT_EQ(cfgetospeed(&t), B9600);
    EXPECT_EQ(t.c_cflag & (CSIZE | PARENB | CSTOPB), static_cast<tcflag_t>(CS8));
    EXPECT_EQ(t.c_oflag & OPOST, 0u) << "a line feed would go out as CR LF";
    for (const std::string& w : goldenWrites()) port.write(w);
  }

  const std::string report = printer.readRest();
  const int status = printer.wait();
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0);
  const std::string png = (out / "form-0001.png").string();
  EXPECT_THAT(report, HasSubstr("form 1: 267 bytes"));
  EXPECT_THAT(report, HasSubstr("278.1 ms at 9600 baud"));
  EXPECT_THAT(report, HasSubstr(png));
  EXPECT_TRUE(std::filesystem::is_regular_file(png));

  const std::vector<std::string> summary = fileLines(out / "forms.jsonl");
  ASSERT_EQ(summary.size(), 1u);
  const std::string lines = jsonArray(goldenLines());
  std::smatch m;
  ASSERT_TRUE(std::regex_match(summary[0], m,
                               std::regex(R"re(\{"form":1,"bytes":267,"reads":([0-9]+),)re"
                                          R"re("line_time_ms":278\.1,"receipt":(.*),)re"
                                          R"re("journal":(.*),"anomalies":\[\],"png":"(.*)"\})re")))
      << summary[0];
  const int reads = std::stoi(m[1]);
  EXPECT_GE(reads, 1);
  EXPECT_LE(static_cast<std::size_t>(reads), kReceiptBytes);
  EXPECT_EQ(m[2], lines);
  EXPECT_EQ(m[3], lines);
  EXPECT_EQ(m[4], png);
}

class StopSignal : public ::testing::TestWithParam<int> {};

TEST_P(StopSignal, ClosesTheUnfinishedFormAndExitsCleanly) {
  const int signal = GetParam();
  TempDir dir;
  const auto out = dir.path() / "out";
  PrinterProcess printer({VPRINTER_BINARY, "--out", out.string(), "--chatter"});
  HostPort port(listeningPath(printer));
  port.write("ABC\n");
  // The printed line on the terminal shows the printer has the bytes.
  EXPECT_THAT(printer.readLine(), HasSubstr("receipt (form 1)"));
  EXPECT_THAT(printer.readLine(), MatchesRegex("ABC +\\| "));

  printer.signal(signal);
  const std::string rest = printer.readRest();
  const int status = printer.wait();
  ASSERT_TRUE(WIFEXITED(status)) << "status " << status;
  EXPECT_EQ(WEXITSTATUS(status), 0);
  EXPECT_THAT(rest, HasSubstr("stopped by " + std::string(sigabbrev_np(signal)).insert(0, "SIG") +
                              " after 1 form; pictures in " + out.string()));

  const std::vector<std::string> summary = fileLines(out / "forms.jsonl");
  ASSERT_EQ(summary.size(), 1u);
  EXPECT_THAT(summary[0], HasSubstr(R"("receipt":["ABC"],"journal":[])"));
  EXPECT_THAT(summary[0],
              HasSubstr(R"("offset":4,"form_offset":4,"what":"end of stream without form feed")"));
}

INSTANTIATE_TEST_SUITE_P(PrinterProcess, StopSignal, ::testing::Values(SIGTERM, SIGINT, SIGHUP),
                         [](const auto& info) { return std::string(sigabbrev_np(info.param)); });

// A form the picture step used to refuse, then one more: both come out, and the printer lives.
TEST(PrinterProcess, OverlongLinesAndNoiseCostNoForm) {
  const std::string noise = noiseWithoutFormFeed(7);
  for (const std::string& first : {std::string(1850, 'A') + "\n", noise}) {
    TempDir dir;
    const auto out = dir.path() / "out";
    PrinterProcess printer({VPRINTER_BINARY, "--forms", "2", "--quiet", "--out", out.string()});
    {
      HostPort port(listeningPath(printer));
      port.write(first + "\f");
      port.write("B\n\f");
    }
    const std::string report = printer.readRest(std::chrono::seconds(30));
    const int status = printer.wait();
    ASSERT_TRUE(WIFEXITED(status)) << "status " << status;
    EXPECT_EQ(WEXITSTATUS(status), 0);
    EXPECT_THAT(report, HasSubstr("done after 2 forms; pictures in"));
    const std::vector<std::string> summary = fileLines(out / "forms.jsonl");
    ASSERT_EQ(summary.size(), 2u);
    EXPECT_THAT(summary[1], HasSubstr(R"("receipt":["B"])"));
    for (const char* png : {"form-0001.png", "form-0002.png"}) {
      EXPECT_TRUE(std::filesystem::is_regular_file(out / png)) << png;
    }
  }
}

// Two forms, with either the first picture or every summary line going to a full disk.
TEST(PrinterProcess, UnwritableRecordIsReportedAndThePrinterCarriesOn) {
  struct Case {
    const char* name;
    bool fullPicture;  // else the summary
    std::vector<std::string> reported;
    std::vector<std::string> pictures;
    std::size_t summaryLines;
  };
  const Case cases[] = {
      {"picture",
       true,
       {"form 1 picture not written: write OUT/form-0001.png.partial: No space left on device",
        "form 2 picture: OUT/form-0002.png", "(not written: 1 picture, 0 summary lines)"},
       {"form-0002.png"},
       2},
      {"summary",
       false,
       {"form 1 summary line not written: write summary /dev/full: No space left on device",
        "form 2 summary line not written", "(not written: 0 pictures, 2 summary lines)"},
       {"form-0001.png", "form-0002.png"},
       0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TempDir dir;
    const auto out = dir.path() / "out";
    std::vector<std::string> args{VPRINTER_BINARY, "--forms", "2",
                                  "--quiet",       "--out",   out.string()};
    if (c.fullPicture) {
      std::filesystem::create_directories(out);
      std::filesystem::create_symlink("/dev/full", out / "form-0001.png.partial");
    } else {
      args.insert(args.end(), {"--summary", "/dev/full"});
    }
    PrinterProcess printer(args);
    {
      HostPort port(listeningPath(printer));
      port.write("A\n\fB\n\f");
    }
    const std::string report = printer.readRest();
    const int status = printer.wait();
    ASSERT_TRUE(WIFEXITED(status)) << "status " << status;
    EXPECT_EQ(WEXITSTATUS(status), 1) << "a form went unrecorded";
    for (std::string text : c.reported) {
      if (const auto at = text.find("OUT"); at != std::string::npos) {
        text.replace(at, 3, out.string());
      }
      EXPECT_THAT(report, HasSubstr(text));
    }
    for (const std::string& png : c.pictures)
      EXPECT_TRUE(std::filesystem::is_regular_file(out / png));
    if (c.fullPicture) {
      const std::vector<std::string> summary = fileLines(out / "forms.jsonl");
      ASSERT_EQ(summary.size(), c.summaryLines);
      EXPECT_THAT(summary[0], HasSubstr(R"("receipt":["A"])"));
      EXPECT_THAT(summary[0], HasSubstr(R"("png":"","png_error":"write )"));
      EXPECT_THAT(summary[1], HasSubstr(R"("png":")" + (out / "form-0002.png").string()));
    }
  }
}

// A real full disk: a tmpfs with room for one summary line and no picture, in a mount namespace
// of this test's own. Needs root; skipped without.
TEST(PrinterProcess, FullDiskCostsNoFormAndLeavesNoHalfLine) {
  TempDir dir;
  if (::unshare(CLONE_NEWNS) != 0 ||
      ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
      ::mount("tmpfs", dir.path().c_str(), "tmpfs", 0, "size=16k") != 0) {
    GTEST_SKIP() << "no tmpfs of our own: " << std::strerror(errno);
  }
  struct Unmount {
    const std::filesystem::path& path;
    ~Unmount() { (void)::umount2(path.c_str(), MNT_DETACH); }
  } unmount{dir.path()};

  // 250 lines of 40 columns: a summary line of about 11 KB, a picture of far more.
  std::string form;
  for (int i = 0; i < 250; ++i) form += std::string(40, static_cast<char>('0' + i % 10)) + "\n";
  form += "\f";
  PrinterProcess printer(
      {VPRINTER_BINARY, "--forms", "3", "--quiet", "--out", dir.path().string()});
  {
    HostPort port(listeningPath(printer));
    for (int i = 0; i < 3; ++i) port.write(form);
  }
  const std::string report = printer.readRest(std::chrono::seconds(20));
  const int status = printer.wait();
  ASSERT_TRUE(WIFEXITED(status)) << "status " << status;
  EXPECT_EQ(WEXITSTATUS(status), 1);
  for (int n = 1; n <= 3; ++n) {
    EXPECT_THAT(report, HasSubstr("form " + std::to_string(n) + ": 10251 bytes"));
    EXPECT_THAT(report, HasSubstr("form " + std::to_string(n) + " picture not written: write "));
  }
  EXPECT_THAT(report, HasSubstr("form 2 summary line not written: write summary "));
  EXPECT_THAT(report, HasSubstr("form 3 summary line not written: write summary "));
  EXPECT_THAT(report, ::testing::Not(HasSubstr("half a line")));
  EXPECT_THAT(report, HasSubstr("done after 3 forms (not written: 3 pictures, 2 summary lines)"));

  std::ifstream in(dir.path() / "forms.jsonl");
  const std::string summary((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  // Checked without printing it: it is 11 KB.
  EXPECT_TRUE(summary.starts_with(R"({"form":1,"bytes":10251,)"));
  EXPECT_EQ(summary.find('\n'), summary.size() - 1) << "one whole line and nothing after it";
  EXPECT_TRUE(summary.ends_with("}\n"));
  EXPECT_NE(summary.find(R"("png":"","png_error":"write )"), std::string::npos);
  for (const auto& entry : std::filesystem::directory_iterator(dir.path())) {
    EXPECT_NE(entry.path().extension(), ".partial") << entry.path();
  }
}

// `virtual-printer | head -c 50`: the reader of its output goes away, and the printer says so
// once and goes on recording forms.
TEST(PrinterProcess, OutputReaderGoingAwayCostsNoForm) {
  TempDir dir;
  const auto out = dir.path() / "out";
  PrinterProcess printer({VPRINTER_BINARY, "--out", out.string()}, /*captureStderr=*/true);
  HostPort port(listeningPath(printer));
  printer.closeOutput();
  port.write("A\n\f");
  port.write("B\n\f");

  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (fileLines(out / "forms.jsonl").size() < 2 && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  const std::vector<std::string> summary = fileLines(out / "forms.jsonl");
  ASSERT_EQ(summary.size(), 2u);
  EXPECT_THAT(summary[0], HasSubstr(R"("receipt":["A"])"));
  EXPECT_THAT(summary[1], HasSubstr(R"("receipt":["B"])"));
  for (const char* png : {"form-0001.png", "form-0002.png"}) {
    EXPECT_TRUE(std::filesystem::is_regular_file(out / png)) << png;
  }
  ASSERT_TRUE(printer.running());

  printer.signal(SIGTERM);
  const int status = printer.wait();
  ASSERT_TRUE(WIFEXITED(status)) << "status " << status;
  EXPECT_EQ(WEXITSTATUS(status), 0);
  // Its own lines only: a sanitizer may add a report of its own at exit.
  std::vector<std::string> said;
  std::istringstream err(printer.stderrText());
  for (std::string line; std::getline(err, line);) {
    if (line.starts_with("virtual-printer")) said.push_back(line);
  }
  EXPECT_THAT(said, ::testing::ElementsAre(
                        "virtual-printer: standard output closed; forms are still decoded and "
                        "recorded in " +
                        out.string()));
}

// Noise with no form feed at full speed: it is printed as forms cut at the limit, in bounded
// memory, and the form after it prints. It used to take 50 MB a mebibyte of noise.
TEST(PrinterProcess, NoiseWithoutFormFeedIsCutInBoundedMemory) {
  TempDir dir;
  const auto out = dir.path() / "out";
  PrinterProcess printer({VPRINTER_BINARY, "--quiet", "--out", out.string()});
  HostPort port(listeningPath(printer));
  std::string noise;
  for (unsigned seed : {1u, 2u, 3u, 4u}) noise += noiseWithoutFormFeed(seed);
  ASSERT_EQ(noise.size(), 4 * kMaxFormBytes);

  std::atomic<bool> done = false;
  long peakKib = 0;
  std::thread watch([&] {
    while (!done) {
      peakKib = std::max(peakKib, residentKib(printer.pid()));
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
  });
  std::string hostError;
  std::thread host([&] {
    try {
      port.write(noise + "B\n\f");
    } catch (const std::exception& e) {
      hostError = e.what();
    }
  });
  std::string line;
  std::string printerError;
  try {
    while (!line.starts_with("virtual-printer: form 5: ")) {
      line = printer.readLine(std::chrono::seconds(30));
    }
  } catch (const std::exception& e) {
    printerError = e.what();
  }
  done = true;
  watch.join();
  peakKib = std::max(peakKib, residentKib(printer.pid()));
  // A printer that stopped reading would hold the host's write forever.
  if (!printerError.empty()) printer.signal(SIGKILL);
  host.join();
  EXPECT_EQ(hostError, "");
  ASSERT_EQ(printerError, "") << "peak resident KiB " << peakKib;

  EXPECT_THAT(line, MatchesRegex("virtual-printer: form 5: 3 bytes, [0-9]+ reads?, 3.1 ms at 9600 "
                                 "baud, 1 receipt line, 0 journal lines, 0 anomalies"));
#if !defined(__SANITIZE_ADDRESS__)  // its shadow memory and quarantine are another matter
  EXPECT_GT(peakKib, 0);
  EXPECT_LT(peakKib, 160 * 1024) << "peak resident KiB";
#endif
  ASSERT_TRUE(printer.running());
  printer.signal(SIGTERM);
  const int status = printer.wait();
  ASSERT_TRUE(WIFEXITED(status)) << "status " << status;
  EXPECT_EQ(WEXITSTATUS(status), 0);

  const std::vector<std::string> summary = fileLines(out / "forms.jsonl");
  ASSERT_EQ(summary.size(), 5u);
  for (std::size_t i = 0; i < 4; ++i) {
    EXPECT_LT(summary[i].size(), 128u * 1024u) << "form " << i + 1;
    EXPECT_THAT(summary[i], HasSubstr(R"("bytes":1048576,)"));
    EXPECT_THAT(summary[i], HasSubstr(R"("what":"form cut at 1048576 bytes without a form feed")"));
  }
  EXPECT_THAT(summary[4], HasSubstr(R"("receipt":["B"],"journal":[],"anomalies":[],)"));
}

}  // namespace
}  // namespace vprinter
