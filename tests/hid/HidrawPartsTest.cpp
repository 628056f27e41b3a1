// The small pure parts of the hidraw adapter: sysfs id parsing, errno
// mapping, and the runner that bounds blocking calls.

#include <gtest/gtest.h>

#include <cerrno>
#include <future>

#include "platform/linux/hid/BoundedCallRunner.h"
#include "platform/linux/hid/HidrawEnumerator.h"
#include "platform/linux/hid/HidrawErrors.h"

namespace ovra {
namespace {

using namespace std::chrono_literals;

TEST(ParseUsbIdAttribute, AcceptsOnlyOneToFourHexDigitsAndTrailingBlanks) {
    struct Case {
        const char* text;
        bool ok;
        std::uint16_t id;
    };
    for (const auto& c : std::vector<Case>{{"0b05\n", true, 0x0B05}, {"01AC", true, 0x01AC}, {"1 \n", true, 0x0001},
                                           {"", false, 0}, {"\n", false, 0}, {"12345\n", false, 0},
                                           {"0x0b", false, 0}, {"0b05x\n", false, 0}, {" 0b05", false, 0}}) {
        std::uint16_t id = 0;
        EXPECT_EQ(ParseUsbIdAttribute(c.text, id), c.ok) << '"' << c.text << '"';
        if (c.ok) {
            EXPECT_EQ(id, c.id) << c.text;
        }
    }
    std::uint16_t id = 0;
    EXPECT_FALSE(ParseUsbIdAttribute(nullptr, id));
}

TEST(StatusFromErrno, TellsGoneFromMissingAndDeniedFromBroken) {
    struct Case {
        int error;
        HidrawCall call;
        HidStatus status;
    };
    for (const auto& c : std::vector<Case>{
             {EACCES, HidrawCall::Open, HidStatus::AccessDenied},
             {EPERM, HidrawCall::Open, HidStatus::AccessDenied},
             {ENOENT, HidrawCall::Open, HidStatus::NotFound},
             {ENODEV, HidrawCall::Open, HidStatus::NotFound},
             {ENODEV, HidrawCall::Write, HidStatus::Gone},
             {ESHUTDOWN, HidrawCall::Ioctl, HidStatus::Gone},
             {EIO, HidrawCall::Read, HidStatus::Gone},  // hidraw's answer to a read after removal
             {EIO, HidrawCall::Write, HidStatus::IoError},
             {ETIMEDOUT, HidrawCall::Write, HidStatus::Timeout},
             {EPIPE, HidrawCall::Write, HidStatus::IoError},  // stalled endpoint
             {EINVAL, HidrawCall::Ioctl, HidStatus::InvalidArgument},
         }) {
        EXPECT_EQ(StatusFromErrno(c.error, c.call), c.status) << "errno " << c.error;
    }
}

TEST(BoundedCallRunner, ACallPastItsDeadlineFinishesOnItsOwnAndBlocksNothingUnbounded) {
    BoundedCallRunner runner;
    std::promise<void> release;
    auto released = release.get_future().share();
    auto finished = std::make_shared<std::atomic<bool>>(false);

    // The stuck call: the caller is told TimedOut; the call still owns its state.
    EXPECT_EQ(runner.Run([released, finished] { released.wait(); *finished = true; },
                         std::chrono::steady_clock::now() + 20ms),
              BoundedCallRunner::Outcome::TimedOut);
    // While it is stuck, the next call is not started.
    bool secondRan = false;
    EXPECT_EQ(runner.Run([&] { secondRan = true; }, std::chrono::steady_clock::now() + 20ms),
              BoundedCallRunner::Outcome::Busy);
    EXPECT_FALSE(secondRan);

    release.set_value();
    EXPECT_EQ(runner.Run([&] { secondRan = true; }, std::chrono::steady_clock::now() + 5s),
              BoundedCallRunner::Outcome::Done);
    EXPECT_TRUE(secondRan);
    EXPECT_TRUE(*finished);
}

TEST(BoundedCallRunner, DestructionWaitsForTheCallInFlight) {
    auto finished = std::make_shared<std::atomic<bool>>(false);
    {
        BoundedCallRunner runner;
        runner.Run([finished] { std::this_thread::sleep_for(50ms); *finished = true; },
                   std::chrono::steady_clock::now());
    }
    EXPECT_TRUE(*finished);
}

}  // namespace
}  // namespace ovra
