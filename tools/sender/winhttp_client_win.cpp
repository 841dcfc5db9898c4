#include "winhttp_client_win.h"

#include <memory>
#include <string>

#include "win_handles_win.h"

namespace kantiq::sender {
namespace {

constexpr size_t kMaxBodyBytes = 64 * 1024;  // enough to judge an answer
constexpr DWORD kAnswerGraceMs = 2000;       // beyond the configured time limit

std::wstring widen(std::string_view utf8) {
  if (utf8.empty()) return {};
  const int n = ::MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
  std::wstring out(static_cast<size_t>(n), L'\0');
  ::MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), out.data(), n);
  return out;
}

HttpResponse failure(const HttpRequest& request, const char* what) {
  HttpResponse r;
  r.transportError = std::string(what) + " " + request.target.host + ":" + std::to_string(request.target.port) +
                     " (Fehler " + std::to_string(::GetLastError()) + ").";
  return r;
}

HttpResponse performBlocking(const HttpRequest& request, int32_t timeoutMs) {
  UniqueInternet session(::WinHttpOpen(L"Kantiq-Sender/1.0", WINHTTP_ACCESS_TYPE_DEFAULT_PROXY,
                                       WINHTTP_NO_PROXY_NAME, WINHTTP_NO_PROXY_BYPASS, 0));
  if (!session.valid()) return failure(request, "WinHTTP nicht verfügbar für");
  ::WinHttpSetTimeouts(session.get(), timeoutMs, timeoutMs, timeoutMs, timeoutMs);

  UniqueInternet connection(
      ::WinHttpConnect(session.get(), widen(request.target.host).c_str(), request.target.port, 0));
  if (!connection.valid()) return failure(request, "Keine Verbindung zu");

  UniqueInternet call(::WinHttpOpenRequest(connection.get(), widen(request.method).c_str(),
                                           widen(request.target.pathAndQuery).c_str(), nullptr,
                                           WINHTTP_NO_REFERER, WINHTTP_DEFAULT_ACCEPT_TYPES,
                                           request.target.secure ? WINHTTP_FLAG_SECURE : 0));
  if (!call.valid()) return failure(request, "Anfrage nicht möglich an");
  ::WinHttpSetTimeouts(call.get(), timeoutMs, timeoutMs, timeoutMs, timeoutMs);

  std::wstring headers;
  for (const auto& [name, value] : request.headers) headers += widen(name) + L": " + widen(value) + L"\r\n";
  const BOOL sent = ::WinHttpSendRequest(
      call.get(), headers.empty() ? WINHTTP_NO_ADDITIONAL_HEADERS : headers.c_str(),
      headers.empty() ? 0 : static_cast<DWORD>(-1L),
      request.body.empty() ? WINHTTP_NO_REQUEST_DATA : const_cast<char*>(request.body.data()),
      static_cast<DWORD>(request.body.size()), static_cast<DWORD>(request.body.size()), 0);
  if (!sent) {
    return failure(request, ::GetLastError() == ERROR_WINHTTP_TIMEOUT ? "Zeitüberschreitung bei"
                                                                      : "Keine Verbindung zu");
  }
  if (!::WinHttpReceiveResponse(call.get(), nullptr)) {
    return failure(request, ::GetLastError() == ERROR_WINHTTP_TIMEOUT ? "Keine Antwort (Zeitüberschreitung) von"
                                                                      : "Keine Antwort von");
  }

  HttpResponse response;
  DWORD status = 0;
  DWORD size = sizeof status;
  if (!::WinHttpQueryHeaders(call.get(), WINHTTP_QUERY_STATUS_CODE | WINHTTP_QUERY_FLAG_NUMBER,
                             WINHTTP_HEADER_NAME_BY_INDEX, &status, &size, WINHTTP_NO_HEADER_INDEX))
    return failure(request, "Unlesbare Antwort von");
  response.status = static_cast<int32_t>(status);

  char buffer[4096];
  while (response.body.size() < kMaxBodyBytes) {
    DWORD got = 0;
    if (!::WinHttpReadData(call.get(), buffer, sizeof buffer, &got)) {
      // The status decides; a body cut short only weakens the pattern check.
      break;
    }
    if (got == 0) break;
    response.body.append(buffer, got);
  }
  response.completed = true;
  return response;
}

// One request on its own thread. If the answer does not come in time the
// caller walks away; the thread keeps this alive until it ends by itself.
struct Exchange {
  HttpRequest request;
  int32_t timeoutMs = 0;
  HttpResponse response;
  UniqueKernelObject done;
};

DWORD WINAPI exchangeThread(void* param) {
  auto* held = static_cast<std::shared_ptr<Exchange>*>(param);
  std::shared_ptr<Exchange> exchange = *held;
  delete held;
  exchange->response = performBlocking(exchange->request, exchange->timeoutMs);
  ::SetEvent(exchange->done.get());
  return 0;
}

}  // namespace

HttpResponse WinHttpClient::perform(const HttpRequest& request, int32_t timeoutMs) {
  // WinHTTP's own timeouts do not end a wait for a server that accepted the
  // connection and never answers (seen under Wine), so the limit is kept here.
  auto exchange = std::make_shared<Exchange>();
  exchange->request = request;
  exchange->timeoutMs = timeoutMs;
  exchange->done.reset(::CreateEventA(nullptr, TRUE, FALSE, nullptr));
  if (!exchange->done.valid()) return performBlocking(request, timeoutMs);

  auto* held = new std::shared_ptr<Exchange>(exchange);
  UniqueKernelObject thread(::CreateThread(nullptr, 0, &exchangeThread, held, 0, nullptr));
  if (!thread.valid()) {
    delete held;
    return performBlocking(request, timeoutMs);
  }
  if (::WaitForSingleObject(exchange->done.get(), static_cast<DWORD>(timeoutMs) + kAnswerGraceMs) == WAIT_OBJECT_0)
    return exchange->response;

  HttpResponse late;
  late.transportError = "Keine Antwort (Zeitüberschreitung) von " + request.target.host + ":" +
                        std::to_string(request.target.port) + ".";
  return late;
}

}  // namespace kantiq::sender
