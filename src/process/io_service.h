// The process-wide I/O service of the networking library and the signal set bound
// to it, both created before the entry point runs.
#pragma once
#include <boost/asio/io_context.hpp>
#include <boost/asio/signal_set.hpp>

extern boost::asio::io_context ioService;
extern boost::asio::signal_set stopSignals;  // SIGINT and SIGTERM; every HTTP server waits on it
