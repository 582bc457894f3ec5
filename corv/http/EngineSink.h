// How the HTTP-based engines hand their events to a component's sink, whatever the sink's
// own interface: a missing text arrives as "", and a body block arrives followed by a NUL
// for the call's duration. Each does nothing without a sink.
#pragma once
#include <cstdint>

namespace engine_sink {

inline const char* Text(const char* text) { return text ? text : ""; }

template <class Sink>
void Connected(Sink* sink, int code, const char* text) {
  if (sink) sink->Connected(code, Text(text));
}

template <class Sink>
void Disconnected(Sink* sink, int code, const char* text) {
  if (sink) sink->Disconnected(code, Text(text));
}

template <class Sink>
void Error(Sink* sink, int code, const char* text) {
  if (sink) sink->Error(code, Text(text));
}

template <class Sink>
void Header(Sink* sink, const char* field, const char* value) {
  if (sink) sink->Header(Text(field), Text(value));
}

template <class Sink>
void SetCookie(Sink* sink, const char* name, const char* value, const char* expires, const char* domain,
               const char* path, int secure) {
  if (sink) sink->SetCookie(Text(name), Text(value), Text(expires), Text(domain), Text(path), secure);
}

// Writes a NUL after a block for the length of an event call, and puts the byte back even
// when the handler throws.
class NulAfter {
 public:
  explicit NulAfter(char* at) : m_at(at), m_saved(*at) { *at = 0; }
  ~NulAfter() { *m_at = m_saved; }
  NulAfter(const NulAfter&) = delete;
  NulAfter& operator=(const NulAfter&) = delete;

 private:
  char* m_at;
  char m_saved;
};

// Calls send(text, length) with the block; a missing or empty block goes as "" of length 0.
// The receive buffer keeps a writable byte after every block it delivers.
template <class Send>
void Block(const char* text, std::uint16_t length, Send&& send) {
  if (!text || length == 0) {
    send("", std::uint16_t{0});
    return;
  }
  NulAfter nul(const_cast<char*>(text) + length);
  send(text, length);
}

}  // namespace engine_sink
