#include "process/io_service.h"

// One translation unit, so the service is constructed before the set bound to it.
boost::asio::io_context ioService;
boost::asio::signal_set stopSignals(ioService);
