// Shared-memory segments, their reference counts and the platform Frame over them.
#include "platform/x11/x11_shm_buffer.h"

#include <sys/ipc.h>
#include <sys/shm.h>

#include <cerrno>
#include <cstring>

namespace zorsck::x11 {

ShmBuffer* ShmBuffer::create(std::size_t capacity, std::string* error) {
  const int id = shmget(IPC_PRIVATE, capacity, IPC_CREAT | 0600);
  if (id < 0) {
    *error = std::string("shared memory of ") + std::to_string(capacity) +
             " bytes is not available: " + std::strerror(errno);
    return nullptr;
  }
  void* memory = shmat(id, nullptr, 0);
  if (memory == reinterpret_cast<void*>(-1)) {
    *error = std::string("cannot map shared memory: ") + std::strerror(errno);
    shmctl(id, IPC_RMID, nullptr);
    return nullptr;
  }
  return new ShmBuffer(id, static_cast<std::uint8_t*>(memory), capacity);
}

ShmBuffer::~ShmBuffer() {
  removeWhenDetached();
  shmdt(pixels);
}

void ShmBuffer::removeWhenDetached() {
  if (removed_) return;
  removed_ = true;
  shmctl(shmid, IPC_RMID, nullptr);
}

void retain(ShmBuffer* buffer) { buffer->refs.fetch_add(1, std::memory_order_relaxed); }

void release(ShmBuffer* buffer) {
  if (buffer->refs.fetch_sub(1, std::memory_order_acq_rel) == 1) delete buffer;
}

bool heldAlone(const ShmBuffer* buffer) { return buffer->refs.load(std::memory_order_acquire) == 1; }

namespace {
// The buffer behind a Frame's native handle; any thread.
ShmBuffer* bufferOf(void* native) { return static_cast<ShmBuffer*>(native); }
}  // namespace

}  // namespace zorsck::x11

namespace zorsck::platform {

using x11::bufferOf;

Frame::Frame(void* native) : native_(native) {
  if (native_ != nullptr) x11::retain(bufferOf(native_));
}

Frame::Frame(const Frame& other) : native_(other.native_) {
  if (native_ != nullptr) x11::retain(bufferOf(native_));
}

Frame& Frame::operator=(const Frame& other) {
  if (other.native_ != nullptr) x11::retain(bufferOf(other.native_));
  if (native_ != nullptr) x11::release(bufferOf(native_));
  native_ = other.native_;
  return *this;
}

Frame& Frame::operator=(Frame&& other) noexcept {
  if (this != &other) {
    if (native_ != nullptr) x11::release(bufferOf(native_));
    native_ = other.native_;
    other.native_ = nullptr;
  }
  return *this;
}

Frame::~Frame() {
  if (native_ != nullptr) x11::release(bufferOf(native_));
}

// Grabbed pixels are complete before the frame is handed out and never
// rewritten while it is held, so locking has nothing to do.
bool Frame::lockReadOnly() const { return native_ != nullptr; }
void Frame::unlockReadOnly() const {}

const std::uint8_t* Frame::baseAddress() const {
  return native_ != nullptr ? bufferOf(native_)->pixels : nullptr;
}
std::size_t Frame::bytesPerRow() const { return native_ != nullptr ? bufferOf(native_)->stride : 0; }
std::size_t Frame::width() const { return native_ != nullptr ? bufferOf(native_)->width : 0; }
std::size_t Frame::height() const { return native_ != nullptr ? bufferOf(native_)->height : 0; }
// 24-bit X screens leave the fourth byte undefined; copies make it 255.
bool Frame::alphaUndefined() const { return true; }

Frame SampleBuffer::imageBuffer() const { return static_cast<const x11::Sample*>(native_)->frame; }

MediaTime SampleBuffer::presentationTimeStamp() const {
  return static_cast<const x11::Sample*>(native_)->presentationTime;
}

}  // namespace zorsck::platform
