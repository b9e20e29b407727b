#include "virtual-printer/session.h"

#include <poll.h>
#include <unistd.h>

#include <array>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <variant>

#include "posix/signal_fd.h"
#include "virtual-printer/chatter.h"
#include "virtual-printer/console_format.h"
#include "virtual-printer/form_picture.h"
#include "virtual-printer/json_summary.h"
#include "virtual-printer/os_error.h"
#include "virtual-printer/path_file.h"
#include "virtual-printer/printer_model.h"
#include "virtual-printer/pseudo_terminal.h"
#include "virtual-printer/summary_file.h"

namespace vprinter {
namespace {

using Clock = std::chrono::steady_clock;

const char* signalName(int signal) {
  switch (signal) {
    case SIGINT:
      return "SIGINT";
    case SIGTERM:
      return "SIGTERM";
    case SIGHUP:
      return "SIGHUP";
    default:
      return "a signal";
  }
}

std::string plural(int n, const char* word) {
  return std::to_string(n) + " " + word + (n == 1 ? "" : "s");
}

// Shows, draws and records what the model prints.
class Output {
 public:
  Output(const Options& options, std::ostream& out, std::ostream& err, std::filesystem::path dir,
         std::filesystem::path summary)
      : options_(options),
        out_(out),
        err_(err),
        dir_(std::move(dir)),
        summary_(std::move(summary)) {}

  void listening(const std::string& path) {
    out_ << "virtual-printer: listening on " << path << '\n';
    flush();
  }

  // True once the forms asked for are done; later events are dropped.
  bool handle(const std::vector<PrinterEvent>& events) {
    for (const PrinterEvent& event : events) {
      if (const auto* line = std::get_if<PrintedLine>(&event)) {
        show(*line);
      } else if (record(std::get<Form>(event))) {
        flush();
        return true;
      }
    }
    flush();
    return false;
  }

  void farewell(const std::string& reason) {
    if (outGone_) return;
    out_ << "virtual-printer: " << reason << " after " << plural(forms_, "form");
    if (!complete()) {
      out_ << " (not written: " << plural(lostPictures_, "picture") << ", "
           << plural(lostSummaryLines_, "summary line") << ")";
    }
    out_ << "; pictures in " << dir_.string() << ", summary in " << summary_.path().string()
         << '\n';
    flush();
  }

  // Every form's picture and summary line were written.
  bool complete() const { return lostPictures_ == 0 && lostSummaryLines_ == 0; }

 private:
  // A reader of our output that goes away (a pipe into `head`) costs only the terminal view:
  // the forms still go to the pictures and the summary.
  void flush() {
    if (outGone_) return;
    out_.flush();
    if (out_) return;
    outGone_ = true;
    err_ << "virtual-printer: standard output closed; forms are still decoded and recorded in "
         << dir_.string() << std::endl;
  }

  void show(const PrintedLine& line) {
    if (options_.quiet || outGone_) return;
    if (!headingShown_) {
      out_ << stationHeading(forms_ + 1) << '\n';
      headingShown_ = true;
    }
    out_ << sideBySide(line) << '\n';
  }

  // A form whose picture or summary line cannot be written is still reported, and the printer
  // carries on: a full disk or a form too odd to draw must not cost the forms after it.
  bool record(const Form& form) {
    char name[32];
    (void)std::snprintf(name, sizeof name, "form-%04d.png", form.number);
    std::filesystem::path png = options_.noPictures ? "" : dir_ / name;
    std::string pictureError;
    if (!png.empty()) {
      try {
        writeFormPicture(form, png);
      } catch (const std::exception& e) {
        pictureError = e.what();
        png.clear();
        ++lostPictures_;
      }
    }
    std::string summaryError;
    try {
      summary_.appendLine(formSummaryJson(form, png.string(), pictureError));
    } catch (const std::exception& e) {
      summaryError = e.what();
      ++lostSummaryLines_;
    }
    if (!outGone_) {
      const std::string prefix = "virtual-printer: form " + std::to_string(form.number);
      out_ << "virtual-printer: " << formReport(form);
      if (!png.empty()) out_ << prefix << " picture: " << png.string() << '\n';
      if (!pictureError.empty()) {
        out_ << prefix << " picture not written: " << pictureError << '\n';
      }
      if (!summaryError.empty()) {
        out_ << prefix << " summary line not written: " << summaryError << '\n';
      }
    }
    headingShown_ = false;
    ++forms_;
    return options_.forms && forms_ >= *options_.forms;
  }

  const Options& options_;
  std::ostream& out_;
  std::ostream& err_;
  bool outGone_ = false;
  std::filesystem::path dir_;
  SummaryFile summary_;
  bool headingShown_ = false;
  int forms_ = 0;
  int lostPictures_ = 0;
  int lostSummaryLines_ = 0;
};

void makeDirectories(const std::filesystem::path& dir) {
  std::error_code error;
  std::filesystem::create_directories(dir, error);
  if (error) throw osError("create directory " + dir.string(), error.value());
}

enum class ReadResult { Nothing, Fed, Done };

ReadResult readOnce(const PseudoTerminal& pty, PrinterModel& model, Output& output) {
  std::array<std::uint8_t, 4096> buffer;
  const ssize_t n = ::read(pty.master(), buffer.data(), buffer.size());
  if (n < 0) {
    if (errno == EAGAIN || errno == EINTR) return ReadResult::Nothing;
    throw osError("read from pseudo-terminal " + pty.slavePath());
  }
  if (n == 0) return ReadResult::Nothing;
  const auto events = model.feed(std::span(buffer.data(), static_cast<std::size_t>(n)));
  return output.handle(events) ? ReadResult::Done : ReadResult::Fed;
}

void sendChatter(const PseudoTerminal& pty, Chatter& chatter) {
  const auto bytes = chatter.next();
  // A full queue means nobody reads them; dropping them is what a real line would do.
  if (::write(pty.master(), bytes.data(), bytes.size()) < 0 && errno != EAGAIN && errno != EINTR) {
    throw osError("write status bytes to pseudo-terminal " + pty.slavePath());
  }
}

}  // namespace

bool runPrinter(const Options& options, std::ostream& out, std::ostream& err) {
  // First, so that no thread a library starts later can take the signals. SIGHUP: the terminal
  // it ran in went away.
  posix::SignalFd signals({SIGINT, SIGTERM, SIGHUP});
  // A standard output nobody reads any more then fails with EPIPE instead of killing us.
  (void)std::signal(SIGPIPE, SIG_IGN);

  const std::filesystem::path dir = std::filesystem::absolute(options.outDir);
  makeDirectories(dir);
  const std::filesystem::path summaryPath = std::filesystem::absolute(options.summaryPath());
  makeDirectories(summaryPath.parent_path());
  Output output(options, out, err, dir, summaryPath);

  PseudoTerminal pty;
  if (!options.pathFile.empty()) writeWholeFile(options.pathFile, pty.slavePath());
  output.listening(pty.slavePath());

  PrinterModel model;
  Chatter chatter;
  auto nextChatter = Clock::now() + Chatter::kInterval;
  for (;;) {
    int timeout = -1;
    if (options.chatter) {
      const auto wait =
          std::chrono::ceil<std::chrono::milliseconds>(nextChatter - Clock::now()).count();
      timeout = static_cast<int>(std::max<decltype(wait)>(wait, 0));
    }
    std::array<pollfd, 2> fds{{{pty.master(), POLLIN, 0}, {signals.fd(), POLLIN, 0}}};
    if (::poll(fds.data(), fds.size(), timeout) < 0) {
      if (errno == EINTR) continue;
      throw osError("poll");
    }

    if (fds[1].revents & POLLIN) {
      if (const int signal = signals.take(); signal != 0) {
        // Take what the host had already sent, then close an unfinished form.
        ReadResult result;
        do {
          result = readOnce(pty, model, output);
        } while (result == ReadResult::Fed);
        if (result != ReadResult::Done) output.handle(model.finish());
        output.farewell(std::string("stopped by ") + signalName(signal));
        return output.complete();
      }
    }
    if (fds[0].revents & (POLLIN | POLLERR | POLLHUP)) {
      if (readOnce(pty, model, output) == ReadResult::Done) {
        output.farewell("done");
        return output.complete();
      }
    }
    if (options.chatter && Clock::now() >= nextChatter) {
      sendChatter(pty, chatter);
      // After a stall, carry on from now instead of sending the missed bursts at once.
      nextChatter = std::max(nextChatter, Clock::now()) + Chatter::kInterval;
    }
  }
}

}  // namespace vprinter
