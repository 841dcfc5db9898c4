// Raises alarms through the program's own path (AlarmRaiser, the dispatch
// jobs with their 3 s turn polls) in the folder this program lives in,
// where the real S.exe waits; returns once every job has finished.
//
//   alarm_chain.exe <hex of alarm text> [<hex of alarm text> ...]

#include <windows.h>

#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "detector/tone_detector.h"
#include "dispatch/alarm_raiser.h"
#include "dispatch/dispatch_job_win.h"
#include "hex_argument.h"
#include "win32/executable_path_win.h"

namespace {

constexpr DWORD kPollMs = 50;
constexpr ULONGLONG kWaitPerAlarmMs = 120'000;

class SilentMonitor final : public kantiq::MonitorInterface {
 public:
  bool restartCapture() override { return true; }
  void appendResultLine(const std::string&) override {}
};

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> texts;
  for (int i = 1; i < argc; ++i) {
    std::string t;
    if (!unhex(argv[i], t)) return 2;
    texts.push_back(t);
  }
  const std::string folder = kantiq::executableFolder();
  kantiq::ThreadDispatchJobLauncher launcher(folder);
  kantiq::AlarmRaiser raiser(folder + "\\KantiqLog.txt", launcher);
  SilentMonitor monitor;
  auto detector = std::make_unique<kantiq::ToneDetector>();
  detector->monitor = &monitor;
  detector->alarmSink = &raiser;
  for (const std::string& t : texts) detector->raiseAlarm(t);

  const ULONGLONG until = ::GetTickCount64() + kWaitPerAlarmMs * texts.size();
  while (raiser.handover().completedDispatchCount.load() < static_cast<int32_t>(texts.size())) {
    if (::GetTickCount64() > until) {
      std::printf("alarm_chain: only %d of %zu jobs finished\n", raiser.handover().completedDispatchCount.load(),
                  texts.size());
      return 1;
    }
    ::Sleep(kPollMs);
  }
  return 0;
}
