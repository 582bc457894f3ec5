// The request half of the HTTP/1.0 engine that needs no socket: the URL and its parts, the
// credentials, the request fields, and the text of the request line and headers. CHTTP
// (corv/http/HTTP.h) adds the connection, the body and the response.
#pragma once
#include <cstdint>

#include "corv/core/DynStr.h"
#include "corv/core/DynStrSeq.h"

// Result of a request whose single-line fields hold CR or LF.
inline constexpr int HTTP_LINE_BREAK_IN_FIELD = 154;
inline constexpr const char* kHTTPLineBreakText = "A request field contains CR or LF.";

enum THTTPFollowRedirects : std::uint8_t { frNever = 0, frAlways = 1, frSameScheme = 2 };

class CHTTPRequest {
 public:
  static constexpr std::uint32_t kDefaultSchemeMax = 20;

  CHTTPRequest();
  virtual ~CHTTPRequest() = default;
  CHTTPRequest(const CHTTPRequest&) = delete;
  CHTTPRequest& operator=(const CHTTPRequest&) = delete;

  // The defaults of a fresh engine (texts are left as they are).
  void InitRequest();

  // Stores and parses a URL. A redirect keeps the current scheme, port and server unless
  // the text names them. 0 or 200.
  int SetURL(const char* text, bool redirect);
  // Store the text (null = empty), then rebuild the matching Basic credentials. 0 or 200.
  int SetUser(const char* text);
  int SetPassword(const char* text);
  int SetProxyUser(const char* text);
  int SetProxyPassword(const char* text);
  int UpdateAuthorization();
  int UpdateProxyAuthorization();
  // Empties the URL, the request fields, the credentials, the cookies and StatusLine-free
  // request state; keeps agent, version, method, proxy, redirects and limits.
  void ResetRequest();
  // At most kDefaultSchemeMax characters are kept.
  void SetDefaultScheme(const char* scheme);

  bool UsesProxy() const { return !ProxyServer.IsEmpty(); }
  // The name of the first single-line field (or the verb) that holds CR or LF, or null.
  const char* FindLineBreak(const char* verb) const;
  // The request line and headers up to, not including, the empty line that ends the head.
  // Rewrites OtherHeaders to end in exactly one CR LF. 0 or 200.
  int BuildRequestHead(const char* verb, DynStr& out);

  std::uint32_t DefaultPort;
  char DefaultScheme[kDefaultSchemeMax + 1];
  DynStr URL;
  DynStr URLScheme;
  DynStr URLServer;
  DynStr URLPath;
  std::uint16_t URLPort;
  DynStr ProxyServer;
  std::uint16_t ProxyPort;
  DynStr User, Password, Authorization;
  DynStr ProxyUser, ProxyPassword, ProxyAuthorization;
  DynStr Accept, From, UserAgent, IfModifiedSince, Referer, Pragma;
  DynStr HTTPVersion;
  DynStr HTTPMethod;
  DynStrSeq Cookies;  // entry 2i is the name, 2i + 1 the value of cookie i
  DynStr AttachedFile;
  std::uint32_t ContentLength;
  DynStr ContentType;
  DynStr PostData;
  DynStr OtherHeaders;
};

// "Basic " and the one-line base64 of user ":" password into out; out stays empty when both
// are empty. 0 or 200.
int HTTPBasicCredentials(const DynStr& user, const DynStr& password, DynStr& out);
// Case-insensitive comparison of two NUL-terminated ASCII texts.
bool HTTPSameText(const char* a, const char* b);
