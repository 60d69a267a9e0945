// Work given up at its bound: a blocking stand-in for a share that is gone.
#include <gtest/gtest.h>

#include <windows.h>

#include <memory>

#include "grimlet/plugin/BoundedWork.h"
#include "platform/win32/KernelHandle.h"

TEST(BoundedWork, BlockedWorkIsGivenUpAndFinishesOnItsOwnShare) {
    struct Shared {
        KernelHandle release{CreateEventW(nullptr, TRUE, FALSE, nullptr)};
        KernelHandle finished{CreateEventW(nullptr, TRUE, FALSE, nullptr)};
        LONG result = 0;
    };
    auto shared = std::make_shared<Shared>();
    const auto blocking = [shared] {
        WaitForSingleObject(shared->release.Get(), INFINITE);
        InterlockedExchange(&shared->result, 7);
        SetEvent(shared->finished.Get());
    };
    EXPECT_EQ(BoundedWork::Run(blocking, 100), BoundedWork::Outcome::GivenUp);
    EXPECT_EQ(InterlockedCompareExchange(&shared->result, 0, 0), 0);  // given up while it still blocked
    SetEvent(shared->release.Get());
    ASSERT_EQ(WaitForSingleObject(shared->finished.Get(), 30000), WAIT_OBJECT_0);
    EXPECT_EQ(shared->result, 7);

    auto done = std::make_shared<int>(0);
    EXPECT_EQ(BoundedWork::Run([done] { *done = 1; }, 30000), BoundedWork::Outcome::Done);
    EXPECT_EQ(*done, 1);
}
