#include "corv/http/HTTPRequest.h"

#include "corv/core/Firewall.h"
#include "corv/core/TextUtil.h"

#include <cstdio>
#include <cstring>
#include <initializer_list>

namespace {

constexpr const char* kDefaultAgent = "Corvane HTTP/S Control";

bool HasLineBreak(const char* p, std::uint32_t n) {
  return std::memchr(p, '\r', n) != nullptr || std::memchr(p, '\n', n) != nullptr;
}

bool HasLineBreak(const DynStr& s) { return HasLineBreak(s.Text(), s.Length()); }

// Appends several byte ranges; stops at the first failure.
int AppendAll(DynStr& out, std::initializer_list<const char*> texts) {
  for (const char* t : texts) {
    if (out.Append(t) != 0) return 200;
  }
  return 0;
}

const char* FindIn(const char* from, const char* end, char c) {
  return from < end ? static_cast<const char*>(std::memchr(from, c, static_cast<std::size_t>(end - from)))
                    : nullptr;
}

// The port a scheme implies; other schemes imply none of their own.
std::uint32_t SchemePort(const char* scheme, std::uint32_t otherwise) {
  if (HTTPSameText(scheme, "http")) return 80;
  if (HTTPSameText(scheme, "https")) return 443;
  return otherwise;
}

int AppendPort(DynStr& out, std::uint32_t port) {
  char text[16];
  std::snprintf(text, sizeof text, ":%u", static_cast<unsigned>(port));
  return out.Append(text) != 0 ? 200 : 0;
}

}  // namespace

bool HTTPSameText(const char* a, const char* b) {
  for (;; ++a, ++b) {
    unsigned char x = static_cast<unsigned char>(*a), y = static_cast<unsigned char>(*b);
    if (x >= 'A' && x <= 'Z') x = static_cast<unsigned char>(x + 32);
    if (y >= 'A' && y <= 'Z') y = static_cast<unsigned char>(y + 32);
    if (x != y) return false;
    if (x == 0) return true;
  }
}

int HTTPBasicCredentials(const DynStr& user, const DynStr& password, DynStr& out) {
  out.Set(0u);
  if (user.IsEmpty() && password.IsEmpty()) return 0;
  DynStr pair;
  if (pair.Set(user.Length(), user.Text()) != 0 || pair.Append(":") != 0 ||
      pair.Append(password.Text(), password.Length()) != 0) {
    return 200;
  }
  // One unbroken line: the engine-string encoder would break it every 60 input bytes.
  const std::uint32_t encoded = (pair.Length() + 2) / 3 * 4;
  if (out.Set(6 + encoded + 1) != 0) return 200;
  std::memcpy(out.Text(), "Basic ", 6);
  const std::int32_t n = EncodeBase64(pair.Text(), out.Text() + 6);
  return out.Set(6 + static_cast<std::uint32_t>(n));
}

CHTTPRequest::CHTTPRequest() { InitRequest(); }

void CHTTPRequest::InitRequest() {
  UserAgent.SetText(kDefaultAgent);
  DefaultPort = 80;
  ProxyPort = 80;
  URLPort = 80;
  SetDefaultScheme("http");
  HTTPVersion.SetText("HTTP/1.0");
  ContentLength = 0;
}

void CHTTPRequest::SetDefaultScheme(const char* scheme) {
  std::size_t n = scheme ? std::strlen(scheme) : 0;
  if (n > kDefaultSchemeMax) n = kDefaultSchemeMax;
  if (n) std::memcpy(DefaultScheme, scheme, n);
  DefaultScheme[n] = 0;
}

int CHTTPRequest::SetURL(const char* text, bool redirect) {
  if (!text) text = "";
  DynStr work;
  if (URL.SetText(text) != 0 || work.SetText(text) != 0) return 200;
  if (!redirect) {
    if (URLScheme.SetText(DefaultScheme) != 0) return 200;
    URLPort = static_cast<std::uint16_t>(DefaultPort);
  }
  URLPath.Set(0u);
  const char* rest = work.Text();
  const char* end = rest + work.Length();

  const char* colon = FindIn(rest, end, ':');
  if (rest[0] != '/' && colon) {
    if (URLScheme.Set(static_cast<std::uint32_t>(colon - rest), rest) != 0) return 200;
    URLPort = static_cast<std::uint16_t>(SchemePort(URLScheme.Text(), URLPort));
    rest = colon + 1;
  }

  if (end - rest >= 2 && rest[0] == '/' && rest[1] == '/') {
    const char* auth = rest + 2;
    const char* path = FindIn(auth, end, '/');
    if (!path) path = FindIn(auth, end, '?');
    const char* authEnd = path ? path : end;
    if (path && URLPath.Set(static_cast<std::uint32_t>(end - path), path) != 0) return 200;

    const char* sep = FindIn(auth, authEnd, ':');
    if (sep) {
      const char* at = FindIn(sep, authEnd, '@');
      if (at) sep = FindIn(at + 1, authEnd, ':');
    }
    if (sep) {
      URLPort = static_cast<std::uint16_t>(ParseInt(sep + 1) & 0xFFFF);
      authEnd = sep;
    }
    const std::uint32_t authLen = static_cast<std::uint32_t>(authEnd - auth);
    if (!URLServer.IsEmpty() &&
        (URLServer.Length() != authLen || std::memcmp(URLServer.Text(), auth, authLen) != 0)) {
      User.Set(0u);
      Password.Set(0u);
      Authorization.Set(0u);
    }
    const char* at = FindIn(auth, authEnd, '@');
    if (!at) {
      if (URLServer.Set(authLen, auth) != 0) return 200;
    } else {
      if (URLServer.Set(static_cast<std::uint32_t>(authEnd - at - 1), at + 1) != 0) return 200;
      const char* pw = FindIn(auth, at, ':');
      if (pw) {
        if (User.Set(static_cast<std::uint32_t>(pw - auth), auth) != 0 ||
            Password.Set(static_cast<std::uint32_t>(at - pw - 1), pw + 1) != 0) {
          return 200;
        }
      } else if (User.Set(static_cast<std::uint32_t>(at - auth), auth) != 0) {
        return 200;
      }
      if (UpdateAuthorization() != 0) return 200;
    }
  } else if (rest[0] == '/') {
    if (URLPath.Set(static_cast<std::uint32_t>(end - rest), rest) != 0) return 200;
  } else {
    if (URLPath.SetText("/") != 0 || URLPath.Append(rest, static_cast<std::uint32_t>(end - rest)) != 0) {
      return 200;
    }
  }
  if (URLPath.IsEmpty() && URLPath.SetText("/") != 0) return 200;
  return 0;
}

int CHTTPRequest::SetUser(const char* text) {
  if (User.SetText(text) != 0) return 200;
  return UpdateAuthorization();
}

int CHTTPRequest::SetPassword(const char* text) {
  if (Password.SetText(text) != 0) return 200;
  return UpdateAuthorization();
}

int CHTTPRequest::SetProxyUser(const char* text) {
  if (ProxyUser.SetText(text) != 0) return 200;
  return UpdateProxyAuthorization();
}

int CHTTPRequest::SetProxyPassword(const char* text) {
  if (ProxyPassword.SetText(text) != 0) return 200;
  return UpdateProxyAuthorization();
}

int CHTTPRequest::UpdateAuthorization() { return HTTPBasicCredentials(User, Password, Authorization); }

int CHTTPRequest::UpdateProxyAuthorization() {
  return HTTPBasicCredentials(ProxyUser, ProxyPassword, ProxyAuthorization);
}

void CHTTPRequest::ResetRequest() {
  URL.Clear();
  URLServer.Clear();
  URLPath.Clear();
  URLScheme.SetText(DefaultScheme);
  URLPort = static_cast<std::uint16_t>(DefaultPort);
  for (DynStr* s : {&PostData, &ContentType, &User, &Password, &Authorization, &ProxyUser,
                    &ProxyPassword, &ProxyAuthorization, &Accept, &From, &IfModifiedSince,
                    &Referer, &Pragma, &OtherHeaders, &AttachedFile}) {
    s->Clear();
  }
  Cookies.Clear();
}

const char* CHTTPRequest::FindLineBreak(const char* verb) const {
  if (verb && HasLineBreak(verb, static_cast<std::uint32_t>(std::strlen(verb)))) return "method";
  struct Field {
    const char* name;
    const DynStr* value;
  };
  const Field fields[] = {
      {"URLScheme", &URLScheme},     {"URLServer", &URLServer},
      {"URLPath", &URLPath},         {"HTTPVersion", &HTTPVersion},
      {"Authorization", &Authorization}, {"ProxyAuthorization", &ProxyAuthorization},
      {"Accept", &Accept},           {"From", &From},
      {"UserAgent", &UserAgent},     {"IfModifiedSince", &IfModifiedSince},
      {"Referer", &Referer},         {"Pragma", &Pragma},
      {"ContentType", &ContentType},
  };
  for (const Field& f : fields) {
    if (HasLineBreak(*f.value)) return f.name;
  }
  for (std::uint32_t i = 0; i < Cookies.Count(); ++i) {
    if (HasLineBreak(Cookies.Get(i), Cookies.GetLength(i))) return "Cookies";
  }
  return nullptr;
}

int CHTTPRequest::BuildRequestHead(const char* verb, DynStr& out) {
  out.Set(0u);
  if (AppendAll(out, {verb, " "}) != 0) return 200;
  if (UsesProxy()) {
    if (AppendAll(out, {URLScheme.Text(), "://", URLServer.Text()}) != 0) return 200;
    if (URLPort != DefaultPort && AppendPort(out, URLPort) != 0) return 200;
  }
  if (AppendAll(out, {URLPath.Text(), " ", HTTPVersion.Text()}) != 0) return 200;

  const char* oh = OtherHeaders.Text();
  // OtherHeaders may carry its own Host line.
  bool otherHasHost = OtherHeaders.Length() >= 5 && oh[4] == ':';
  for (int i = 0; otherHasHost && i < 4; ++i) {
    otherHasHost = (oh[i] | 0x20) == "host"[i];
  }
  if (!otherHasHost) {
    if (AppendAll(out, {"\r\nHost: ", URLServer.Text()}) != 0) return 200;
    // A server that builds its redirects from Host needs the port whenever the scheme's own
    // is not the one used.
    if (URLPort != SchemePort(URLScheme.Text(), DefaultPort) && AppendPort(out, URLPort) != 0) return 200;
  }

  struct Header {
    const char* name;
    const DynStr* value;
  };
  const Header headers[] = {
      {"\r\nAuthorization: ", &Authorization},
      {"\r\nProxy-Authorization: ", UsesProxy() ? &ProxyAuthorization : nullptr},
      {"\r\nAccept: ", &Accept},
      {"\r\nFrom: ", &From},
      {"\r\nUser-Agent: ", &UserAgent},
      {"\r\nIfModifiedSince: ", &IfModifiedSince},
      {"\r\nReferer: ", &Referer},
      {"\r\nPragma: ", &Pragma},
  };
  for (const Header& h : headers) {
    if (h.value && !h.value->IsEmpty() && AppendAll(out, {h.name, h.value->Text()}) != 0) return 200;
  }
  if (Cookies.Count() > 0) {
    if (out.Append("\r\nCookie: ") != 0) return 200;
    for (std::uint32_t i = 0; i < Cookies.Count(); i += 2) {
      if ((i > 0 && out.Append("; ") != 0) || out.Append(Cookies.Get(i), Cookies.GetLength(i)) != 0 ||
          out.Append("=") != 0 || out.Append(Cookies.Get(i + 1), Cookies.GetLength(i + 1)) != 0) {
        return 200;
      }
    }
  }
  if (out.Append("\r\n") != 0) return 200;
  if (!OtherHeaders.IsEmpty()) {
    if (OtherHeaders.EnsureTrailingCRLF() != 0 ||
        out.Append(OtherHeaders.Text(), OtherHeaders.Length()) != 0) {
      return 200;
    }
  }
  return 0;
}
