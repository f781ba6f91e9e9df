#include <Ovra/ServiceShells.h>

#include <gtest/gtest.h>

namespace Ovra {
namespace {

// What a host derives from a shell.
template <typename Shell>
struct Concrete : Shell {
    int Create() override { return 1; }
    void Destroy() override {}
    int Start() override { return this->StartThread(0) ? 0 : 105; }
    void Stop() override { this->StopThread(kInfinite, 1); }
    ~Concrete() override { Stop(); }
};

template <typename Shell>
void ExerciseShell() {
    Concrete<Shell> service, assigned;
    EXPECT_EQ(service.AddRef(), 1u);
    EXPECT_EQ(service.Start(), 0);  // the inherited thread body returns at once
    Concrete<Shell> copy(service);
    assigned = service;
    EXPECT_EQ(copy.AddRef() * 10 + assigned.Release(), 20u);  // the reference count is copied
    delete static_cast<Service*>(new Concrete<Shell>());  // virtual destruction through the base
}

TEST(ServiceShells, BothShellsAreUsableBases) {
    ExerciseShell<DiagService>();
    ExerciseShell<RebootService>();
}

}  // namespace
}  // namespace Ovra
