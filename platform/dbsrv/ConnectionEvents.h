// What a connection tells its client while a request runs. The client
// library implements it and turns each call into the callback registered for
// it; every call arrives on the thread running the request.
#pragma once

#include <cstdint>
#include <string_view>

namespace vdbsrv {

enum MessageType : uint8_t { mtInfo = 0, mtWarning = 1, mtAction = 2, mtStatus = 3 };

class ConnectionEvents {
 public:
  virtual ~ConnectionEvents() = default;
  // The request has been running for a while; called again every interval.
  virtual void RequestWaiting() = 0;
  // A "message ... to client" statement ran.
  virtual void ServerMessage(MessageType type, int32_t code, std::string_view text) = 0;
};

}  // namespace vdbsrv
