#include "http/url_crack.h"

#include <windows.h>
#include <winhttp.h>

#include "common/text.h"

namespace http {
namespace server {

// Asks for scheme, host, path and extra information (not user name or password);
// lengths of -1 with no buffers make the system point into the given text.
bool crack_url(const std::string& url, cracked_url& out) {
  const WideString wide = Utf8ToWide(url);
  URL_COMPONENTS parts;
  ZeroMemory(&parts, sizeof parts);
  parts.dwStructSize = sizeof parts;
  parts.dwSchemeLength = static_cast<DWORD>(-1);
  parts.dwHostNameLength = static_cast<DWORD>(-1);
  parts.dwUrlPathLength = static_cast<DWORD>(-1);
  parts.dwExtraInfoLength = static_cast<DWORD>(-1);
  const wchar_t* text = reinterpret_cast<const wchar_t*>(wide.c_str());
  if (!WinHttpCrackUrl(text, 0, 0, &parts)) return false;

  switch (parts.nScheme) {
    case INTERNET_SCHEME_HTTP: out.scheme = url_scheme::http; break;
    case INTERNET_SCHEME_HTTPS: out.scheme = url_scheme::https; break;
    default: out.scheme = url_scheme::other; break;
  }
  if (parts.lpszHostName) {
    out.host = WideToUtf8(WideString(reinterpret_cast<const char16_t*>(parts.lpszHostName), parts.dwHostNameLength));
  } else {
    out.host.clear();
  }
  out.port = parts.nPort;
  return true;
}

}  // namespace server
}  // namespace http
