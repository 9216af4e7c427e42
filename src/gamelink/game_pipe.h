// The client end of the game's pipe, as a stream of the I/O service: the named pipe,
// opened for overlapped I/O, on Windows; on Linux a Unix-domain stream socket named
// after the pipe's last path component, in $XDG_RUNTIME_DIR (or /tmp). Errors are the
// system's own codes on each platform; the game closing its end fails the next read.
#pragma once
#include <string>

#include <boost/system/error_code.hpp>

#ifdef _WIN32
#include <boost/asio/windows/stream_handle.hpp>
using GamePipe = boost::asio::windows::stream_handle;
#else
#include <boost/asio/local/stream_protocol.hpp>
using GamePipe = boost::asio::local::stream_protocol::socket;
#endif

// Connects a closed pipe to \\.\pipe\NAME (UTF-8) without waiting; false, with the
// system's error, when the pipe is absent or busy. Never retries.
bool OpenGamePipe(GamePipe& pipe, const std::string& pipePath, boost::system::error_code& error);
