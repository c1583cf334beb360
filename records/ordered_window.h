// Items 0 to n - 1 worked on by several threads, the calling one among them,
// and handed on in order on the calling thread.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <exception>
#include <limits>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

namespace brix::records {

// Workers claim the items in order, never more than `slots` of them beyond
// the oldest one not yet handed on: an item's result may live in slot
// item % slots, free again once the item has been handed on. The calling
// thread hands the items on in order and works on items itself while the
// next one is not done. Items may be opened bit by bit (as the calling
// thread reads them, say): only opened items are claimed.
//
// work(item, worker) is called on any worker, worker 0 being the calling
// thread; a Work with a member leave(worker) has it called by each worker
// when it stops claiming, worker 0 last. The first exception of any worker
// is kept, ends the claiming and is rethrown by finish(). The helpers are
// started by the constructor, as many as the system starts of workers() - 1,
// and joined however the window is left.
class OrderedWindow {
 public:
  static constexpr std::size_t kAll = std::numeric_limits<std::size_t>::max();

  // The most workers there are for `items` items on `threads` threads: at
  // least 1, the calling thread.
  static std::size_t workers(std::size_t items, int threads);

  // work must outlive the window.
  template <class Work>
  OrderedWindow(std::size_t items, std::size_t slots, int threads, Work& work,
                std::size_t opened = kAll)
      : OrderedWindow(items, slots, opened, Call{&work, &call_work<Work>, leave_of<Work>()},
                      threads) {}
  ~OrderedWindow() { shut_down(); }
  OrderedWindow(const OrderedWindow&) = delete;
  OrderedWindow& operator=(const OrderedWindow&) = delete;

  // Items below n may be claimed from now on.
  void open(std::size_t n);
  // Keeps the failure when it is the first, and ends the claiming.
  void fail(std::exception_ptr failure);

  // On the calling thread: hands each item on to hand(item) in order, until
  // every one has been or hand returns false; then joins the helpers and
  // rethrows the first failure. An exception of hand's leaves at once.
  template <class Hand>
  void finish(Hand&& hand) {
    auto* h = std::addressof(hand);
    hand_over(HandCall{h, [](void* c, std::size_t item) {
                         return static_cast<bool>((*static_cast<decltype(h)>(c))(item));
                       }});
  }
  // The same when the results need no handing on (written in place).
  void finish() { hand_over(HandCall{nullptr, nullptr}); }

 private:
  struct Call {
    void* context;
    void (*work)(void*, std::size_t, int);
    void (*leave)(void*, int);
  };
  struct HandCall {
    void* context;
    bool (*hand)(void*, std::size_t);
  };
  template <class Work>
  static void call_work(void* w, std::size_t item, int worker) {
    (*static_cast<Work*>(w))(item, worker);
  }
  template <class Work>
  static constexpr auto leave_of() -> void (*)(void*, int) {
    if constexpr (requires(Work & w) { w.leave(0); })
      return [](void* w, int worker) { static_cast<Work*>(w)->leave(worker); };
    else
      return nullptr;
  }

  OrderedWindow(std::size_t items, std::size_t slots, std::size_t opened, Call work, int threads);
  void hand_over(HandCall hand);
  void help(int worker);
  bool claimable() const { return next_ < opened_ && next_ - handed_ < slots_; }
  // Works on the item with the lock released; then marks it done, or failed.
  void work_on(std::unique_lock<std::mutex>& lock, std::size_t item, int worker);
  void leave(int worker) {
    if (work_.leave != nullptr) work_.leave(work_.context, worker);
  }
  void shut_down() noexcept;

  const std::size_t items_, slots_;
  const Call work_;
  std::mutex mutex_;
  std::condition_variable changed_;
  std::vector<unsigned char> done_;  // by slot
  std::size_t opened_;
  std::size_t next_ = 0;    // the next item to claim
  std::size_t handed_ = 0;  // items handed on
  bool stop_ = false;
  bool left_ = false;  // worker 0 has left
  std::exception_ptr failure_;
  std::vector<std::thread> helpers_;
};

}  // namespace brix::records
