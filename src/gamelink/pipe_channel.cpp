#include "gamelink/pipe_channel.h"

#include "gamelink/pipe_io.h"

void PipeIoStateDeleter::operator()(PipeIoState* io) const { DestroyPipeIo(io); }

PipeChannel::PipeChannel(const std::string& pipePath, kiln::CommandHandler* handler)
    : pipePath(pipePath), handler(handler), io(CreatePipeIo(handler)) {}

PipeChannel::~PipeChannel() {
  close();
  io.reset();
}

bool PipeChannel::open() {
  if (isOpen) return true;
  lastError = PipeIoOpen(*io, pipePath);
  isOpen = lastError == kPipeOk;
  return isOpen;
}

bool PipeChannel::pump() {
  if (!isOpen) {
    lastError = kPipeNotOpen;
    return false;
  }
  if (!PipeIoHandleValid(*io)) {
    lastError = kPipeInvalidHandle;
    return false;
  }
  if (!PipeIoIsOpen(*io)) {
    lastError = kPipeOk;
    return true;
  }
  uint32_t code = PipeIoReadStep(*io);
  if (code == kPipeOk) code = PipeIoWriteStep(*io);
  lastError = code;
  return code == kPipeOk;
}

void PipeChannel::wait(AutoResetEvent& wake, uint32_t timeoutMs) {
  if (isOpen) {
    PipeIoWait(*io, wake.Native(), timeoutMs);
  } else {
    wake.Wait(timeoutMs);
  }
}

void PipeChannel::queueOutgoing(const uint8_t* bytes, size_t size) { PipeIoQueue(*io, bytes, size); }

void PipeChannel::close() {
  if (!isOpen) return;
  PipeIoClose(*io);
  isOpen = false;
}
