#include "sender_protocol_bridge.h"

#include "dispatch/sender_protocol.h"

namespace kantiq::sender {

bool requestFromCommandLine(std::string_view commandLine, std::string_view programPath, SendRequest& out) {
  const SenderRequest parsed = parseSenderCommandLine(commandLine, programPath);
  switch (parsed.kind) {
    case SenderRequest::Kind::Alarm:
      out.kind = SendRequest::Kind::Alarm;
      out.text = parsed.alarmText.substr(0, parsed.alarmText.find('\0'));  // the program's text ends there
      return true;
    case SenderRequest::Kind::Test:
      out.kind = SendRequest::Kind::Test;
      out.number = parsed.number;
      return true;
    case SenderRequest::Kind::Invalid:
      break;
  }
  return false;
}

}  // namespace kantiq::sender
