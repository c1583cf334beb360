// The ordered window: items handed on in order whatever the work times, the
// window never outrun, the first failure carried, every worker joined.
#include "records/ordered_window.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

namespace brix::records {
namespace {

constexpr std::size_t kNo = OrderedWindow::kAll;

TEST(OrderedWindowTest, HandsOnInOrderAndCarriesTheFirstFailure) {
  const struct {
    int threads;
    std::size_t slots, items, hand_stops, handed;
    const char* failure;  // "work N" or "hand N": item N throws, which ends the hand-over
  } cases[] = {{4, 3, 300, kNo, 300, ""},       {1, 2, 40, kNo, 40, ""},
               {3, 10, 4, kNo, 4, ""},          {3, 4, 0, kNo, 0, ""},
               {3, 5, 100, kNo, 37, "work 37"}, {2, 4, 100, kNo, 20, "hand 20"},
               {3, 4, 100, 60, 61, ""},         {1, 1, 9, kNo, 3, "work 3"}};
  for (const auto& c : cases) {
    SCOPED_TRACE("case " + std::to_string(&c - cases));
    std::vector<std::size_t> slot(c.slots, kNo);
    std::atomic<std::size_t> handed{0}, wrong{0};
    auto work = [&](std::size_t item, int worker) {  // 0 to 200 microseconds an item
      wrong += worker >= c.threads || item >= handed + c.slots;
      std::this_thread::sleep_for(std::chrono::microseconds(item * 7919 % 200));
      slot[item % c.slots] = item;
      if ("work " + std::to_string(item) == c.failure) throw std::runtime_error(c.failure);
    };
    std::string failure;
    try {
      OrderedWindow window(c.items, c.slots, c.threads, work);
      window.finish([&](std::size_t item) {
        wrong += item != handed || slot[item % c.slots] != item;
        if ("hand " + std::to_string(item) == c.failure) throw std::runtime_error(c.failure);
        return handed++ != c.hand_stops;
      });
    } catch (const std::runtime_error& e) {
      failure = e.what();
    }
    EXPECT_EQ(failure, c.failure);
    EXPECT_EQ(wrong, 0u) << "out of order or beyond the window";
    EXPECT_TRUE(failure.starts_with("work") ? handed <= c.handed : handed == c.handed);
  }
}

}  // namespace
}  // namespace brix::records
