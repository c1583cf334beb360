#include "records/ordered_window.h"

#include <algorithm>
#include <system_error>

namespace brix::records {

std::size_t OrderedWindow::workers(std::size_t items, int threads) {
  return std::clamp<std::size_t>(items, 1, static_cast<std::size_t>(std::max(threads, 1)));
}

OrderedWindow::OrderedWindow(std::size_t items, std::size_t slots, std::size_t opened, Call work,
                             int threads)
    : items_(items),
      slots_(std::max<std::size_t>(slots, 1)),
      work_(work),
      done_(slots_),
      opened_(std::min(opened, items)) {
  const std::size_t n = workers(items, threads);
  helpers_.reserve(n - 1);
  try {
    for (std::size_t w = 1; w < n; ++w)
      helpers_.emplace_back(&OrderedWindow::help, this, static_cast<int>(w));
  } catch (const std::system_error&) {
    // The system starts no more threads: those started do the work.
  } catch (...) {
    shut_down();  // a thread that could not be allocated for, while others run
    throw;
  }
}

void OrderedWindow::open(std::size_t n) {
  {
    std::lock_guard lock(mutex_);
    opened_ = std::max(opened_, std::min(n, items_));
  }
  changed_.notify_all();
}

void OrderedWindow::fail(std::exception_ptr failure) {
  {
    std::lock_guard lock(mutex_);
    if (!failure_) failure_ = std::move(failure);
    stop_ = true;
  }
  changed_.notify_all();
}

void OrderedWindow::work_on(std::unique_lock<std::mutex>& lock, std::size_t item, int worker) {
  lock.unlock();
  std::exception_ptr failure;
  try {
    work_.work(work_.context, item, worker);
  } catch (...) {
    failure = std::current_exception();
  }
  lock.lock();
  if (failure) {
    if (!failure_) failure_ = std::move(failure);
    stop_ = true;
  } else {
    done_[item % slots_] = 1;
  }
  changed_.notify_all();
}

void OrderedWindow::help(int worker) {
  {
    std::unique_lock lock(mutex_);
    for (;;) {
      changed_.wait(lock, [&] { return stop_ || next_ == items_ || claimable(); });
      if (stop_ || next_ == items_) break;
      work_on(lock, next_++, worker);
    }
  }
  leave(worker);
}

void OrderedWindow::hand_over(HandCall hand) {
  {
    std::unique_lock lock(mutex_);
    while (!stop_ && handed_ < items_) {
      const std::size_t item = handed_, slot = item % slots_;
      if (done_[slot] != 0) {
        lock.unlock();
        const bool more = hand.hand == nullptr || hand.hand(hand.context, item);
        lock.lock();
        done_[slot] = 0;
        ++handed_;
        changed_.notify_all();
        if (!more) break;
      } else if (claimable()) {
        work_on(lock, next_++, 0);
      } else {
        changed_.wait(lock);
      }
    }
  }
  shut_down();
  if (failure_) std::rethrow_exception(failure_);
}

void OrderedWindow::shut_down() noexcept {
  {
    std::lock_guard lock(mutex_);
    stop_ = true;
  }
  changed_.notify_all();
  for (std::thread& helper : helpers_) helper.join();
  helpers_.clear();
  if (!left_) {
    left_ = true;
    leave(0);
  }
}

}  // namespace brix::records
