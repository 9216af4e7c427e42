// The helper's own server: built from a port alone, on the process-wide I/O service
// and signal set, answering through the web endpoints, with the production limits.
#include "http/server.h"
#include "process/io_service.h"
#include "web/web_handlers.h"

namespace http {
namespace server {

server::server(int32_t port)
    : server(ioService, stopSignals, port, request_dispatcher{WebGetRequestHandler, WebPostRequestHandler},
             server_limits{}) {}

}  // namespace server
}  // namespace http
