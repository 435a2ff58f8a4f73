// Owning handles for libcups objects, so every connection and message is freed on every path.
#pragma once

#include <cups/cups.h>

#include <memory>

namespace posix {

struct HttpClose {
  void operator()(http_t* http) const { httpClose(http); }
};
struct IppDelete {
  void operator()(ipp_t* ipp) const { ippDelete(ipp); }
};

/// A connection to a scheduler.
using UniqueHttp = std::unique_ptr<http_t, HttpClose>;
/// An IPP request or response.
using UniqueIpp = std::unique_ptr<ipp_t, IppDelete>;

/// Connects to `host` (a name, an address or a domain socket path) at `port`, blocking,
/// with libcups's encryption setting and a 30 s connect timeout. Null on failure.
inline UniqueHttp connectTo(const char* host, int port) {
  return UniqueHttp(
      httpConnect2(host, port, nullptr, AF_UNSPEC, cupsEncryption(), 1, 30000, nullptr));
}

}  // namespace posix
