// Shared-memory segments that frames are grabbed into.
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

ShmBuffer::ShmBuffer(int id, std::uint8_t* memory, std::size_t bytes)
    : shmid(id), capacity(bytes), memory_(memory) {
  pixels = memory;
  alphaUndefined = true;  // 24-bit X screens leave the fourth byte undefined; copies make it 255
}

ShmBuffer::~ShmBuffer() {
  removeWhenDetached();
  shmdt(memory_);
}

void ShmBuffer::removeWhenDetached() {
  if (removed_) return;
  removed_ = true;
  shmctl(shmid, IPC_RMID, nullptr);
}

}  // namespace zorsck::x11
