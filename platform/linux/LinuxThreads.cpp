// Locks and waitable threads from the C++ library.
#include <mutex>
#include <stdexcept>
#include <system_error>
#include <thread>

#include "platform/Threads.h"

namespace platform {

struct Lock::State {
  std::recursive_mutex mutex;
};

Lock::Lock() : state_(std::make_unique<State>()) {}

Lock::~Lock() = default;

void Lock::lock() {
  state_->mutex.lock();
}

void Lock::unlock() {
  state_->mutex.unlock();
}

struct JoinableThread::State {
  std::thread thread;
};

JoinableThread::JoinableThread() = default;

JoinableThread::JoinableThread(std::function<void()> body) : state_(std::make_unique<State>()) {
  try {
    state_->thread = std::thread(std::move(body));
  } catch (const std::system_error&) {
    throw std::runtime_error("cannot start a thread");
  }
}

JoinableThread::~JoinableThread() {
  if (joinable()) join();
}

JoinableThread::JoinableThread(JoinableThread&& other) noexcept = default;

JoinableThread& JoinableThread::operator=(JoinableThread&& other) noexcept {
  if (joinable()) join();
  state_ = std::move(other.state_);
  return *this;
}

void JoinableThread::join() {
  if (!state_) return;
  state_->thread.join();
  state_.reset();
}

}  // namespace platform
