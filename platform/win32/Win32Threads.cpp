// Critical sections and run-time threads: both exist on every 32-bit Windows.
#include <process.h>
#include <windows.h>

#include <stdexcept>

#include "platform/Threads.h"

namespace platform {

struct Lock::State {
  CRITICAL_SECTION section;
};

Lock::Lock() : state_(std::make_unique<State>()) {
  InitializeCriticalSection(&state_->section);
}

Lock::~Lock() {
  DeleteCriticalSection(&state_->section);
}

void Lock::lock() {
  EnterCriticalSection(&state_->section);
}

void Lock::unlock() {
  LeaveCriticalSection(&state_->section);
}

struct JoinableThread::State {
  HANDLE handle = nullptr;
};

namespace {

unsigned __stdcall RunBody(void* argument) {
  std::unique_ptr<std::function<void()>> body(static_cast<std::function<void()>*>(argument));
  (*body)();
  return 0;
}

}  // namespace

JoinableThread::JoinableThread() = default;

JoinableThread::JoinableThread(std::function<void()> body) : state_(std::make_unique<State>()) {
  // _beginthreadex, unlike _beginthread, leaves the handle open for the wait in join().
  auto* owned = new std::function<void()>(std::move(body));
  const uintptr_t handle = _beginthreadex(nullptr, 0, &RunBody, owned, 0, nullptr);
  if (handle == 0) {
    delete owned;
    throw std::runtime_error("cannot start a thread");
  }
  state_->handle = reinterpret_cast<HANDLE>(handle);
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
  WaitForSingleObject(state_->handle, INFINITE);
  CloseHandle(state_->handle);
  state_.reset();
}

}  // namespace platform
