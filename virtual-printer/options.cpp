#include "virtual-printer/options.h"

#include <charconv>

namespace vprinter {

Options parseOptions(const std::vector<std::string_view>& args) {
  Options options;
  for (std::size_t i = 0; i < args.size(); ++i) {
    std::string_view name = args[i];
    std::optional<std::string_view> inlineValue;
    if (const auto eq = name.find('='); name.starts_with("--") && eq != std::string_view::npos) {
      inlineValue = name.substr(eq + 1);
      name = name.substr(0, eq);
    }
    auto value = [&]() -> std::string_view {
      if (inlineValue) return *inlineValue;
      if (i + 1 >= args.size()) throw UsageError(std::string(name) + " needs a value");
      return args[++i];
    };
    auto flag = [&](bool& target) {
      if (inlineValue) throw UsageError(std::string(name) + " takes no value");
      target = true;
    };

    if (name == "--out") {
      options.outDir = value();
      if (options.outDir.empty()) throw UsageError("--out needs a directory");
    } else if (name == "--summary") {
      options.summary = value();
    } else if (name == "--path-file") {
      options.pathFile = value();
    } else if (name == "--forms") {
      const std::string_view text = value();
      int n = 0;
      const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), n);
      if (ec != std::errc() || end != text.data() + text.size() || n < 1) {
        throw UsageError("--forms needs a whole number of at least 1, not \"" + std::string(text) +
                         "\"");
      }
      options.forms = n;
    } else if (name == "--chatter") {
      flag(options.chatter);
    } else if (name == "--quiet") {
      flag(options.quiet);
    } else if (name == "--no-pictures") {
      flag(options.noPictures);
    } else if (name == "--help" || name == "-h") {
      flag(options.help);
    } else {
      throw UsageError("unknown option \"" + std::string(args[i]) + "\"");
    }
  }
  return options;
}

std::string usage() {
  return "usage: virtual-printer [--out DIR] [--summary FILE] [--path-file FILE] [--forms N]\n"
         "                       [--chatter] [--quiet] [--no-pictures]\n"
         "A receipt + journal printer on a pseudo-terminal. Prints the terminal's path first:\n"
         "  virtual-printer: listening on /dev/pts/N\n"
         "  --out DIR         where form pictures and the summary go (default "
         "virtual-printer-out)\n"
         "  --summary FILE    one JSON line per form (default DIR/forms.jsonl)\n"
         "  --path-file FILE  also write the terminal's path to FILE once it is ready\n"
         "  --forms N         exit after N forms (default: until SIGINT, SIGTERM, SIGHUP)\n"
         "  --chatter         send status-like bytes to the host now and then\n"
         "  --quiet           do not show each printed line\n"
         "  --no-pictures     write no form pictures, only the summary\n";
}

}  // namespace vprinter
