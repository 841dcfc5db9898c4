#include "sender/win/winhttp_client_win.h"

#include <winsock2.h>
#include <ws2tcpip.h>
#include <windows.h>
#include <winhttp.h>

#include <atomic>
#include <memory>
#include <string>

#include "win32/owners_win.h"

namespace kantiq::sender {
namespace {

// WinHTTP's session, connection and request handles. Only the sender uses
// WinHTTP, so their owner is declared here rather than beside the others.
struct InternetHandleTraits {
  using Handle = HINTERNET;
  static Handle empty() { return nullptr; }
  static bool isEmpty(Handle h) { return h == nullptr; }
  static bool release(Handle h) { return ::WinHttpCloseHandle(h) != FALSE; }
};
using UniqueInternet = UniqueResource<InternetHandleTraits>;

constexpr size_t kMaxBodyBytes = 64 * 1024;  // enough to judge an answer
constexpr DWORD kAnswerGraceMs = 2000;       // beyond the configured time limit
constexpr int kShownAddresses = 3;

std::wstring widen(std::string_view utf8, UINT codePage = CP_UTF8) {
  if (utf8.empty()) return {};
  const int n = ::MultiByteToWideChar(codePage, 0, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
  std::wstring out(static_cast<size_t>(n), L'\0');
  ::MultiByteToWideChar(codePage, 0, utf8.data(), static_cast<int>(utf8.size()), out.data(), n);
  return out;
}

std::string narrow(const wchar_t* text) {
  if (text == nullptr || *text == 0) return {};
  const int n = ::WideCharToMultiByte(1252, 0, text, -1, nullptr, 0, nullptr, nullptr);
  std::string out(static_cast<size_t>(n > 0 ? n - 1 : 0), '\0');
  if (n > 1) ::WideCharToMultiByte(1252, 0, text, -1, out.data(), n, nullptr, nullptr);
  return out;
}

std::string place(const HttpRequest& request) {
  return request.target.host + ":" + std::to_string(request.target.port);
}

HttpResponse failure(const HttpRequest& request, const char* what, DWORD error) {
  HttpResponse r;
  r.transportError = std::string(what) + " " + place(request) + ": " + describeWinHttpError(error) + ".";
  r.transportFailure = classifyWinHttpError(error);
  return r;
}

// Switches on TLS 1.2 and 1.3; a Windows that does not know 1.3 refuses the
// pair, and then gets 1.2 alone.
void enableModernTls(HINTERNET session) {
  DWORD protocols = WINHTTP_FLAG_SECURE_PROTOCOL_TLS1_2 | WINHTTP_FLAG_SECURE_PROTOCOL_TLS1_3;
  if (::WinHttpSetOption(session, WINHTTP_OPTION_SECURE_PROTOCOLS, &protocols, sizeof protocols)) return;
  protocols = WINHTTP_FLAG_SECURE_PROTOCOL_TLS1_2;
  ::WinHttpSetOption(session, WINHTTP_OPTION_SECURE_PROTOCOLS, &protocols, sizeof protocols);
}

// The user's Internet options, as browsers use them. Returns the proxy
// put on the request, if any.
std::string applySystemProxy(HINTERNET session, HINTERNET call, const HttpRequest& request) {
  WINHTTP_CURRENT_USER_IE_PROXY_CONFIG ie{};
  if (!::WinHttpGetIEProxyConfigForCurrentUser(&ie)) return {};
  const UniqueGlobalMemory autoUrl(ie.lpszAutoConfigUrl);
  const UniqueGlobalMemory fixed(ie.lpszProxy);
  const UniqueGlobalMemory bypass(ie.lpszProxyBypass);

  if (ie.fAutoDetect || ie.lpszAutoConfigUrl != nullptr) {
    WINHTTP_AUTOPROXY_OPTIONS options{};
    if (ie.lpszAutoConfigUrl != nullptr) {
      options.dwFlags = WINHTTP_AUTOPROXY_CONFIG_URL;
      options.lpszAutoConfigUrl = ie.lpszAutoConfigUrl;
    } else {
      options.dwFlags = WINHTTP_AUTOPROXY_AUTO_DETECT;
      options.dwAutoDetectFlags = WINHTTP_AUTO_DETECT_TYPE_DHCP | WINHTTP_AUTO_DETECT_TYPE_DNS_A;
    }
    options.fAutoLogonIfChallenged = TRUE;
    const std::wstring url = widen((request.target.secure ? "https://" : "http://") + place(request) +
                                   request.target.pathAndQuery);
    WINHTTP_PROXY_INFO found{};
    if (::WinHttpGetProxyForUrl(session, url.c_str(), &options, &found)) {
      const UniqueGlobalMemory proxy(found.lpszProxy);
      const UniqueGlobalMemory proxyBypass(found.lpszProxyBypass);
      if (found.lpszProxy != nullptr && ::WinHttpSetOption(call, WINHTTP_OPTION_PROXY, &found, sizeof found))
        return narrow(found.lpszProxy);
      return {};
    }
  }
  if (ie.lpszProxy != nullptr) {
    WINHTTP_PROXY_INFO info{};
    info.dwAccessType = WINHTTP_ACCESS_TYPE_NAMED_PROXY;
    info.lpszProxy = ie.lpszProxy;
    info.lpszProxyBypass = ie.lpszProxyBypass;
    if (::WinHttpSetOption(call, WINHTTP_OPTION_PROXY, &info, sizeof info)) return narrow(ie.lpszProxy);
  }
  return {};
}

// Notes that WinHTTP has handed the request over; the context is the flag.
void CALLBACK noteRequestSent(HINTERNET, DWORD_PTR context, DWORD status, void*, DWORD) {
  if (status == WINHTTP_CALLBACK_STATUS_REQUEST_SENT && context != 0)
    *reinterpret_cast<std::atomic<bool>*>(context) = true;
}

DWORD proxyAccess(const HttpSettings& settings) {
  if (settings.proxyMode == HttpSettings::Proxy::Named) return WINHTTP_ACCESS_TYPE_NAMED_PROXY;
  if (settings.proxyMode == HttpSettings::Proxy::Direct) return WINHTTP_ACCESS_TYPE_NO_PROXY;
  return WINHTTP_ACCESS_TYPE_DEFAULT_PROXY;
}

// Sets `requestSent` once the request has gone out. WinHttpSendRequest may
// itself wait for the answer (as under Wine); the callback says when the
// request went out.
void watchRequestSent(HINTERNET call, std::atomic<bool>* requestSent) {
  DWORD_PTR context = reinterpret_cast<DWORD_PTR>(requestSent);
  if (::WinHttpSetOption(call, WINHTTP_OPTION_CONTEXT_VALUE, &context, sizeof context))
    // The flag has the status value (not every header names it).
    ::WinHttpSetStatusCallback(call, &noteRequestSent, WINHTTP_CALLBACK_STATUS_REQUEST_SENT, 0);
}

// The answer's status and body; false when the status cannot be read.
bool readAnswer(HINTERNET call, HttpResponse& response) {
  DWORD status = 0;
  DWORD size = sizeof status;
  if (!::WinHttpQueryHeaders(call, WINHTTP_QUERY_STATUS_CODE | WINHTTP_QUERY_FLAG_NUMBER,
                             WINHTTP_HEADER_NAME_BY_INDEX, &status, &size, WINHTTP_NO_HEADER_INDEX))
    return false;
  response.status = static_cast<int32_t>(status);

  char buffer[4096];
  while (response.body.size() < kMaxBodyBytes) {
    DWORD got = 0;
    if (!::WinHttpReadData(call, buffer, sizeof buffer, &got)) {
      // The status decides; a body cut short only weakens the pattern check.
      break;
    }
    if (got == 0) break;
    response.body.append(buffer, got);
  }
  response.completed = true;
  return true;
}

// `requestSent` is set once the request has gone out whole: from then on the
// gateway may act on it even if its answer never arrives.
HttpResponse performBlocking(const HttpSettings& settings, const HttpRequest& request, int32_t timeoutMs,
                             std::atomic<bool>* requestSent = nullptr) {
  const std::wstring namedProxy = widen(settings.proxy);
  const DWORD access = proxyAccess(settings);
  UniqueInternet session(::WinHttpOpen(L"Kantiq-Sender/1.1", access,
                                       access == WINHTTP_ACCESS_TYPE_NAMED_PROXY ? namedProxy.c_str()
                                                                                : WINHTTP_NO_PROXY_NAME,
                                       access == WINHTTP_ACCESS_TYPE_NAMED_PROXY ? L"<local>" : WINHTTP_NO_PROXY_BYPASS,
                                       0));
  if (!session.valid()) return failure(request, "WinHTTP nicht verfügbar für", ::GetLastError());
  enableModernTls(session.get());
  ::WinHttpSetTimeouts(session.get(), timeoutMs, timeoutMs, timeoutMs, timeoutMs);

  UniqueInternet connection(
      ::WinHttpConnect(session.get(), widen(request.target.host).c_str(), request.target.port, 0));
  if (!connection.valid()) return failure(request, "Keine Verbindung zu", ::GetLastError());

  UniqueInternet call(::WinHttpOpenRequest(connection.get(), widen(request.method).c_str(),
                                           widen(request.target.pathAndQuery).c_str(), nullptr,
                                           WINHTTP_NO_REFERER, WINHTTP_DEFAULT_ACCEPT_TYPES,
                                           request.target.secure ? WINHTTP_FLAG_SECURE : 0));
  if (!call.valid()) return failure(request, "Anfrage nicht möglich an", ::GetLastError());
  ::WinHttpSetTimeouts(call.get(), timeoutMs, timeoutMs, timeoutMs, timeoutMs);
  std::string proxy;
  if (settings.proxyMode == HttpSettings::Proxy::System)
    proxy = applySystemProxy(session.get(), call.get(), request);
  else if (settings.proxyMode == HttpSettings::Proxy::Named)
    proxy = settings.proxy;

  if (requestSent != nullptr) watchRequestSent(call.get(), requestSent);
  std::wstring headers;
  for (const auto& [name, value] : request.headers) headers += widen(name) + L": " + widen(value) + L"\r\n";
  const BOOL sent = ::WinHttpSendRequest(
      call.get(), headers.empty() ? WINHTTP_NO_ADDITIONAL_HEADERS : headers.c_str(),
      headers.empty() ? 0 : static_cast<DWORD>(-1L),
      request.body.empty() ? WINHTTP_NO_REQUEST_DATA : const_cast<char*>(request.body.data()),
      static_cast<DWORD>(request.body.size()), static_cast<DWORD>(request.body.size()), 0);
  if (!sent) {
    const DWORD error = ::GetLastError();
    HttpResponse r = failure(request, error == ERROR_WINHTTP_TIMEOUT ? "Zeitüberschreitung bei" : "Keine Verbindung zu",
                             error);
    r.proxy = proxy;
    r.mayHaveArrived = requestSent != nullptr && *requestSent;
    return r;
  }
  if (requestSent != nullptr) *requestSent = true;
  if (!::WinHttpReceiveResponse(call.get(), nullptr)) {
    const DWORD error = ::GetLastError();
    HttpResponse r = failure(
        request, error == ERROR_WINHTTP_TIMEOUT ? "Keine Antwort (Zeitüberschreitung) von" : "Keine Antwort von", error);
    r.proxy = proxy;
    r.mayHaveArrived = true;
    return r;
  }

  HttpResponse response;
  response.proxy = proxy;
  if (!readAnswer(call.get(), response)) return failure(request, "Unlesbare Antwort von", ::GetLastError());
  return response;
}

// One request on its own thread. If the answer does not come in time the
// caller walks away; the thread keeps this alive until it ends by itself.
struct Exchange {
  HttpSettings settings;
  HttpRequest request;
  int32_t timeoutMs = 0;
  HttpResponse response;
  std::atomic<bool> requestSent{false};
  UniqueHandle done;
};

DWORD WINAPI exchangeThread(void* param) {
  auto* held = static_cast<std::shared_ptr<Exchange>*>(param);
  std::shared_ptr<Exchange> exchange = *held;
  delete held;
  exchange->response =
      performBlocking(exchange->settings, exchange->request, exchange->timeoutMs, &exchange->requestSent);
  ::SetEvent(exchange->done.get());
  return 0;
}

HttpResponse performWithLimit(const HttpSettings& settings, const HttpRequest& request, int32_t timeoutMs) {
  // WinHTTP's own timeouts do not end a wait for a server that accepted the
  // connection and never answers (seen under Wine), so the limit is kept here.
  auto exchange = std::make_shared<Exchange>();
  exchange->settings = settings;
  exchange->request = request;
  exchange->timeoutMs = timeoutMs;
  exchange->done.reset(::CreateEventA(nullptr, TRUE, FALSE, nullptr));
  if (!exchange->done.valid()) return performBlocking(settings, request, timeoutMs);

  auto* held = new std::shared_ptr<Exchange>(exchange);
  UniqueHandle thread(::CreateThread(nullptr, 0, &exchangeThread, held, 0, nullptr));
  if (!thread.valid()) {
    delete held;
    return performBlocking(settings, request, timeoutMs);
  }
  if (::WaitForSingleObject(exchange->done.get(), static_cast<DWORD>(timeoutMs) + kAnswerGraceMs) == WAIT_OBJECT_0)
    return exchange->response;

  HttpResponse late;
  late.transportError = "Keine Antwort (Zeitüberschreitung) von " + place(request) + ".";
  late.transportFailure = Failure::ChannelDown;
  late.mayHaveArrived = exchange->requestSent;
  return late;
}

// Winsock for the name lookup, started and stopped with the owner.
class WinsockUse {
 public:
  WinsockUse() {
    WSADATA data{};
    started_ = ::WSAStartup(MAKEWORD(2, 2), &data) == 0;
  }
  ~WinsockUse() {
    if (started_) ::WSACleanup();
  }
  WinsockUse(const WinsockUse&) = delete;
  WinsockUse& operator=(const WinsockUse&) = delete;
  bool started() const { return started_; }

 private:
  bool started_ = false;
};

struct AddressList {
  addrinfo* list = nullptr;
  ~AddressList() {
    if (list != nullptr) ::freeaddrinfo(list);
  }
};

}  // namespace

HttpResponse WinHttpClient::perform(const HttpRequest& request, int32_t timeoutMs) {
  return performWithLimit(settings_, request, timeoutMs);
}

GatewayProbe probeGateway(const HttpSettings& settings) {
  GatewayProbe probe;
  ParsedUrl target;
  if (!parseUrl(settings.url, target)) {
    probe.problem = "Die Adresse in [http] \"url\" ist ungültig.";
    return probe;
  }
  probe.host = target.host;
  probe.port = target.port;
  probe.secure = target.secure;

  const WinsockUse winsock;
  AddressList found;
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  const int lookup = winsock.started() ? ::getaddrinfo(target.host.c_str(), nullptr, &hints, &found.list) : -1;
  if (lookup == 0) {
    probe.resolved = true;
    int shown = 0;
    for (const addrinfo* a = found.list; a != nullptr && shown < kShownAddresses; a = a->ai_next, ++shown) {
      char text[NI_MAXHOST] = {};
      if (::getnameinfo(a->ai_addr, static_cast<int>(a->ai_addrlen), text, sizeof text, nullptr, 0, NI_NUMERICHOST) == 0)
        probe.addresses += (probe.addresses.empty() ? "" : ", ") + std::string(text);
    }
  } else {
    probe.addresses = "Der Name " + target.host + " lässt sich nicht auflösen (DNS, keine Internetverbindung?)";
  }

  HttpRequest head;
  head.method = "HEAD";
  head.target = target;
  // The gateway's own path with its key headers, so a refused key shows;
  // the query may hold the placeholders and is left out.
  const std::string path = target.pathAndQuery.substr(0, target.pathAndQuery.find('?'));
  head.target.pathAndQuery = path.find('{') == std::string::npos && !path.empty() ? path : "/";
  head.headers = settings.headers;
  const HttpResponse answer = performWithLimit(settings, head, settings.timeoutMs);
  probe.proxy = answer.proxy;
  if (answer.completed) {
    probe.answered = true;
    probe.status = answer.status;
  } else {
    probe.problem = answer.transportError;
  }
  // Behind a proxy only the proxy needs to know the name.
  if (!probe.resolved && probe.proxy.empty() && probe.problem.empty()) probe.problem = probe.addresses + ".";
  if (!probe.resolved && !probe.proxy.empty()) probe.addresses += "; der Proxy löst ihn auf";
  return probe;
}

}  // namespace kantiq::sender
