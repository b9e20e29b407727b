#include "app/error_report.h"

#include "texts/texts.h"

namespace app {

namespace {

using texts::Text;

std::string heading(int number) {
  return texts::text(Text::ErrorHeading, {std::to_string(number)});
}

std::string closing(bool nothingSent) {
  return texts::text(Text::TwoSentences,
                     {texts::text(nothingSent ? Text::NothingSent : Text::MayBeIncomplete),
                      texts::text(Text::WillEnd)});
}

}  // namespace

std::string ErrorReport::text() const {
  return heading(number) + "\n\n" + description + "\n\n" + closing(nothingSent);
}

std::string ErrorReport::line() const {
  // A description of several lines (an internal error's) stays on this one.
  std::string flat;
  for (const char c : description) {
    if (c != '\n')
      flat += c;
    else if (!flat.empty() && flat.back() != ' ')
      flat += ' ';
  }
  return texts::text(
      Text::HeadingLine,
      {heading(number), texts::text(Text::TwoSentences, {flat, closing(nothingSent)})});
}

ErrorReport reportFor(const serial::SerialError& error) {
  using serial::ErrorCode;
  // A print run opens the port before its first byte: what fails there sent nothing.
  bool opening = false;
  switch (error.code()) {
    case ErrorCode::OpenFailed:
    case ErrorCode::NoSuchPort:
    case ErrorCode::PortAlreadyOpen:
    case ErrorCode::InUse:
    case ErrorCode::PermissionDenied:
    case ErrorCode::NotSerialDevice:
    case ErrorCode::SettingsRejected:
      opening = true;
      break;
    default:
      break;
  }
  return ErrorReport{error.number(), error.description(), opening};
}

std::string noWindowText(std::string_view why) { return texts::text(Text::NoWindow, {why}); }

}  // namespace app
