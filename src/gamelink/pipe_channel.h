// The client end of the game's pipe. It never blocks: open succeeds or fails at
// once, and every read and write is started, then found complete by a later pump.
// Each completed read is appended to the received bytes and handed to the command
// handler, which cuts the frames off. Errors are Windows error codes on both builds.
#pragma once
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "common/sync.h"

namespace kiln {
class CommandHandler;
}

// The handle, buffers and in-flight transfers; each platform defines its own.
struct PipeIoState;
struct PipeIoStateDeleter {
  void operator()(PipeIoState* io) const;
};

// The channel's own codes, the same on every platform.
constexpr uint32_t kPipeOk = 0;
constexpr uint32_t kPipeInvalidHandle = 6;        // ERROR_INVALID_HANDLE
constexpr uint32_t kPipeInvalidData = 13;         // ERROR_INVALID_DATA: the handler refused the bytes
constexpr uint32_t kPipeBrokenPipe = 109;         // ERROR_BROKEN_PIPE: the game closed its end
constexpr uint32_t kPipeWriteSizeMismatch = 111;  // ERROR_BUFFER_OVERFLOW
constexpr uint32_t kPipeNotOpen = 1062;           // ERROR_SERVICE_NOT_ACTIVE

class PipeChannel {
 public:
  // pipePath: \\.\pipe\NAME (UTF-8). The handler is not owned.
  PipeChannel(const std::string& pipePath, kiln::CommandHandler* handler);
  ~PipeChannel();
  PipeChannel(const PipeChannel&) = delete;
  PipeChannel& operator=(const PipeChannel&) = delete;

  // Connects to the pipe; false when it is absent or busy. Never retries.
  bool open();

  // One service step: collect a completed read and hand it on, start the next read,
  // then service the write half. False when the link is broken; see errorCode().
  bool pump();

  // Waits, without pumping, until a read has completed, wake is set or timeoutMs have
  // passed: the next pump then has something to collect, or the caller something to see.
  void wait(AutoResetEvent& wake, uint32_t timeoutMs);

  // Bytes for the game, sent by the following pumps.
  void queueOutgoing(const uint8_t* bytes, size_t size);

  uint32_t errorCode() const { return lastError; }
  bool opened() const { return isOpen; }

 private:
  void close();

  bool isOpen = false;
  std::string pipePath;
  kiln::CommandHandler* handler;
  std::unique_ptr<PipeIoState, PipeIoStateDeleter> io;
  uint32_t lastError = 0;
};
